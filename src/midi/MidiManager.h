// The MIDI library's hub: the input and output port lists, the registered back ends, opening and
// closing by index, sending, incoming dispatch, device-change detection and the listeners through
// which the application hears of all this. One class, implemented by topic:
//   MidiManager.cpp         life, listeners, factories, the alias manager's view of the port lists
//   MidiManagerRefresh.cpp  port-list refresh and queries
//   MidiManagerOpen.cpp     opening and closing, errors
//   MidiManagerSend.cpp     sending, incoming dispatch, alias and thru bindings
//   MidiManagerIni.cpp      the "MIDI.in" and "MIDI.out" ini sections
#pragma once

#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "core/TrLock.h"
#include "midi/MidiAlias.h"
#include "midi/MidiAliasPortLookup.h"
#include "midi/MidiBase.h"
#include "midi/MidiManagerDev.h"
#include "midi/MidiManagerListeners.h"
#include "midi/MidiRouter.h"

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tr
{
class MIDIDevChangeNotifier;
class TIniFile;

// Ini names of the port sections.
extern const std::string SECTION_MIDI_IN;    // "MIDI.in"
extern const std::string SECTION_MIDI_OUT;   // "MIDI.out"
extern const std::string IDENT_OPTIONS;      // "Options"; IDENT_NAME ("Name") is the alias library's

// Message texts, translatable through "Language.ini".
extern const std::string SFIllegalMidiInDeviceID;    // "Internal error: illegal MIDI In device ID: %d"
extern const std::string SFIllegalMidiOutDeviceID;   // "Internal error: illegal MIDI Out device ID: %d"
extern const std::string SFInCouldNotBeOpened;       // "MIDI IN device \"%s\" could not be opened."
extern const std::string SFOutCouldNotBeOpened;      // "MIDI OUT device \"%s\" could not be opened."
extern const std::string SFOpenedInSuccess;          // "Opened MIDI IN: %s"
extern const std::string SFOpenedOutSuccess;         // "Opened MIDI OUT: %s"
extern const std::string SFClosedIn;                 // "Closed MIDI IN: %s"
extern const std::string SFClosedOut;                // "Closed MIDI OUT: %s"

// The registered initializers, in registration order; null until the first AddInitializer.
extern TList<MidiManagerInitializer*>* MidiManagerInitializers;

// Ports are addressed by (index, isInput): isInput 1 (any non-zero value) for the input list, 0 for
// the output list. Everything runs on the message thread except OnMidiDeviceMessage and the thru
// sends it makes, which run on an input's receive thread.
class MidiManager : public TMidiDeviceDataListener,
                    public TMidiDeviceErrorListener,
                    public TMidiAliasChangeListener,
                    public TMidiRouteChangeListener,
                    public AutoDelete
{
public:
    // ---- Singleton and life (MidiManager.cpp) ----
    // Created and initialised on the first call; asking again after its destruction is fatal.
    static MidiManager* instance();
    static bool IsInstanceAllocated();
    static void AddInitializer(MidiManagerInitializer* init);   // the manager takes ownership
    ~MidiManager() override;
    void Init();
    void debugPrintDeviceList() {}

    // ---- Listeners ----
    void AddDevListChangeListener(TMidiDeviceListListener* l);
    void RemoveDevListChangeListener(TMidiDeviceListListener* l);
    void AddDeviceControlListener(MidiManagerDeviceControlListener* l);
    void RemoveDeviceControlListener(MidiManagerDeviceControlListener* l);
    void FireDevListChangeEvent();
    // Hooks of the send and receive paths; nothing in the application sets them.
    void AddOutFilter(MidiOutDeviceFilter* f);
    void RemoveOutFilter(MidiOutDeviceFilter* f);
    void AddInFilter(MidiInDeviceFilter* f);
    void RemoveInFilter(MidiInDeviceFilter* f);
    void SetMessageHandler(MidiMessageHandler* h) { FMessageHandler = h; }
    void SetThruNotifier(MidiThruNotifier* n) { FThruNotifier = n; }

    // ---- Factories ----
    // Ignores null, a registered factory and any factory beyond the tenth.
    void AddFactory(MidiDeviceFactory* f, unsigned char refreshNow);
    void RemoveFactory(MidiDeviceFactory* f, unsigned char notify);
    MidiDeviceFactory* GetFactory(unsigned int type);
    int GetFactoryIndex(unsigned int type);
    void ClearFactoryCaches();

    // ---- Device-change detection ----
    bool isDetectingMIDIDeviceChanges();
    void StopDetectingMIDIDeviceChanges();
    void OnNewDeviceTimerExpire(void* ignored);

    // ---- Refresh and queries (MidiManagerRefresh.cpp) ----
    // Rescans every factory; true when the lists changed or the refresh was forced. A call made
    // while a refresh runs only asks the running one to scan again and returns false.
    bool RefreshDevList(unsigned char forceNotify, unsigned char unused = 0);
    void SetSuspended(unsigned char suspended);
    bool IsSuspended() const { return FSuspended != 0; }
    int GetDevCount(unsigned char isInput);
    int GetExistingDevCount(unsigned char isInput);
    int GetDevIndex(const std::string& name, unsigned char isInput);
    int GetDevIndexByDescriptor(unsigned char isInput, MidiDeviceDescriptor* d);
    int GetDevIndexByInterfaceName(const std::string& name, unsigned char isInput);
    // The entry (not a descriptor), or null for an index outside the list.
    MidiManagerDev* GetDevDescriptor(int id, unsigned char isInput);
    bool GetDevDescriptor(int id, unsigned char isInput, MidiManagerDev*& entry);
    MidiManagerDev* GetDevDescriptor(const std::string& name, unsigned char isInput);
    int GetInDevIndexByName(const std::string& name);
    int GetOutDevIndexByName(const std::string& name);

    // ---- Opening and closing (MidiManagerOpen.cpp) ----
    // An open while suspended or while the port is absent only marks the entry pending. Failures
    // are thrown as Tr::Exception ("MIDI IN: "/"MIDI OUT: " + text) when throwOnError is set, else
    // told to every control listener's OnMidiErrorMessage.
    void Open(int id, unsigned char isInput, unsigned char throwOnError);
    void Close(int id, unsigned char isInput, unsigned char throwOnError, unsigned char force);
    void OpenInDevice(int id, unsigned char throwOnError);
    void OpenOutDevice(int id, unsigned char throwOnError);
    void CloseInDevice(int id, unsigned char throwOnError, unsigned char force);
    void CloseOutDevice(int id, unsigned char throwOnError, unsigned char force);
    // Close every entry of one list, last to first, errors told to the listeners.
    void CloseAll(unsigned char isInput, unsigned char force);
    static void CloseAll(unsigned char force);   // outputs, then inputs; nothing without a manager
    void FireErrorEvent(int id, unsigned char isInput, const std::string& message, unsigned char throwOnError);
    void OnMidiDeviceError(TMidiDeviceBase* device, const std::string& message) override;

    // ---- Sending and incoming data (MidiManagerSend.cpp) ----
    // To every present, open output, last entry first; false while suspended, with no open output
    // or when every port refused; true as soon as one port accepted. 1-3 bytes go as one short
    // message, every other length as one long message.
    bool SendMessageAllDevs(const unsigned char* data, int len);
    bool SendMessage(int id, const unsigned char* data, int len);
    bool SendMessageToAliasList(TMidiAliasList& list, const unsigned char* data, int len);
    void OnMidiDeviceMessage(TMidiInputBase* sender, unsigned long long time, unsigned char* data, int len) override;
    void OnMidiAliasListChanged() override;
    void OnMidiRouteListChanged() override;
    void EnableInActiveSensing(int id, unsigned char on);
    void EnableInTimeCode(int id, unsigned char on);
    bool IsInActiveSensingEnabled(int id);
    bool IsInTimeCodeEnabled(int id);
    TMidiDeviceBase* GetMidiOutputByIndex(int id);
    TMidiDeviceBase* GetMidiInputByIndex(int id);
    int GetNumberOfOpenedDevices();

    // ---- Persistence (MidiManagerIni.cpp) ----
    void saveToIniFile(TIniFile& ini);
    void loadFromIniFile(TIniFile& ini);
    // The entry of that display name and type code, or a new placeholder when create is set and
    // the name is not empty; -1 otherwise.
    int GetInDevIndexByName(const std::string& name, unsigned int type, unsigned char create);
    int GetOutDevIndexByName(const std::string& name, unsigned int type, unsigned char create);
    int GetDevIndex(const std::string& name, unsigned char isInput, unsigned int type, unsigned char create);

    // 0 makes the ini load and save do nothing.
    unsigned char FPersistent = 1;

private:
    MidiManager();
    MidiManager(const MidiManager&) = delete;
    MidiManager& operator=(const MidiManager&) = delete;

    static constexpr int MaxFactories = 10;

    // The alias manager's view of the port lists.
    class AliasPortLookup : public TMidiAliasPortLookup
    {
    public:
        explicit AliasPortLookup(MidiManager& manager) : FManager(manager) {}
        int GetPortCount(unsigned char isInput) override;
        bool GetPortName(int index, unsigned char isInput, std::string& name) override;
        void GetPortsOpenOrPending(unsigned char isInput, std::unordered_set<std::string>& names) override;
        void AddDevListChangeListener(TMidiDeviceListListener* listener) override;
        void RemoveDevListChangeListener(TMidiDeviceListListener* listener) override;

    private:
        MidiManager& FManager;
    };

    // One list's entries by display name (ignoring case) and by port name, for the scans and the
    // load, which look up every reported port or saved name: a search through all entries for each
    // would make them quadratic. The lookups give what IndexByName, IndexByNameAndType (without
    // create) and IndexByDescriptor give. Entries appended meanwhile are taken in at the next
    // lookup; an entry whose descriptor or port object changed must be passed to Update, and after
    // code that may have changed any entry, Forget rebuilds the index when it is next used.
    class EntryIndex
    {
    public:
        EntryIndex(MidiManager& manager, unsigned char isInput) : FManager(manager), FIsInput(isInput) {}
        int ByName(const std::string& name);
        int ByNameAndType(const std::string& name, unsigned int type);
        int ByDescriptor(MidiDeviceDescriptor* d);
        void Update(int index);
        void Forget();

    private:
        // Entry indexes by key, checked at each lookup: an entry stays listed under names it no
        // longer has.
        using Candidates = std::unordered_map<std::string, std::vector<int>>;

        void CatchUp();
        void Add(int index);
        static void Put(Candidates& candidates, const std::string& key, int index);
        // The highest index listed under key whose entry passes test; -1 if none.
        template <typename Test>
        int Last(const Candidates& candidates, const std::string& key, Test test);

        MidiManager& FManager;
        unsigned char FIsInput;
        int FKnown = 0;
        Candidates FByName;       // upper-case display names
        Candidates FByPortName;   // descriptor names, exact
    };

    // Both lists through one door, for code that works on either direction.
    int EntryCount(unsigned char isInput) const { return isInput ? FInDevs.Count() : FOutDevs.Count(); }
    MidiManagerDev* Entry(int id, unsigned char isInput);
    MidiManagerDev* AppendEntry(MidiDeviceDescriptor* d, unsigned char isInput);
    void ValidateLists();
    int IndexByName(const std::string& name, unsigned char isInput);
    int IndexByDescriptor(unsigned char isInput, MidiDeviceDescriptor* d);
    int IndexByNameAndType(const std::string& name, unsigned char isInput, unsigned int type, unsigned char create);
    static bool HasNameAndType(MidiManagerDev* e, const std::string& name, unsigned int type);
    int AppendPlaceholder(const std::string& name, unsigned char isInput, unsigned int type);

    bool RefreshDevListPerFactory(MidiDeviceFactory* f, int factoryIndex, unsigned char isInput, unsigned char fullScan);
    void RefreshEntries(unsigned char isInput, bool& changed);
    // Whether an open port of that back end and direction has lost its system port.
    bool HasLostOpenPort(unsigned int type, unsigned char isInput);

    void OpenDevice(int id, unsigned char isInput, unsigned char throwOnError);
    void CloseDevice(int id, unsigned char isInput, unsigned char throwOnError, unsigned char force);
    void TellControlListeners(void (MidiManagerDeviceControlListener::*op)(int, unsigned char), int id,
                              unsigned char isInput);
    void TellControlListeners(void (MidiManagerDeviceControlListener::*op)(int, unsigned char), int id,
                              unsigned char isInput, const std::string& text);
    void TellErrorMessage(int id, unsigned char isInput, const std::string& text);

    bool SendToPort(TMidiDeviceBase* dev, const unsigned char* data, int len);
    bool RunOutFilters(int id, const unsigned char*& data, int& len);
    bool SendToOpenOutput(int id, const unsigned char*& data, int& len, bool& sent);
    MMDevIn* InputEntry(int id);

    void SaveList(TIniFile& ini, unsigned char isInput);
    void LoadList(TIniFile& ini, unsigned char isInput);

    unsigned char FInited = 0;
    TLock FLock;   // serialises the refresh; taken nowhere else
    MIDIDevChangeNotifier* FNotifier = nullptr;   // owned
    std::atomic<unsigned char> FRefreshing{0};
    std::atomic<unsigned char> FRefreshAgain{0};
    TList<MidiDeviceFactory*> FFactories;   // not owning; position = factory index
    TList<MMDevIn*> FInDevs;                // owned; entry i has index i
    int FLastInCount[MaxFactories] = {};
    TList<MMDevOut*> FOutDevs;              // owned; entry i has index i
    int FLastOutCount[MaxFactories] = {};
    std::atomic<unsigned char> FSuspended{1};   // read on receive threads
    std::atomic<MidiMessageHandler*> FMessageHandler{nullptr};
    std::atomic<MidiThruNotifier*> FThruNotifier{nullptr};
    TList<MidiManagerDeviceControlListener*> FControlListeners;
    TList<TMidiDeviceListListener*> FDevListListeners;
    TList<MidiInDeviceFilter*> FInFilters;
    TList<MidiOutDeviceFilter*> FOutFilters;
    unsigned char FDevListValid = 0;
    AliasPortLookup FPortLookup{*this};

    static MidiManager* inst;
    static bool hadAlreadyBeenDestroyed;
};
} // namespace Tr
