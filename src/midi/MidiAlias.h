#pragma once

#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "midi/MidiDeviceListListener.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace Tr {

class TIniFile;
class TMidiAliasPortLookup;

enum TAliasType : std::int32_t {
    aliasNone = 0, // also marks a removed alias
    aliasMidiIn = 1,
    aliasMidiOut = 2,
    aliasSerialPort = 3 // counts as an input and as an output alias
};

// Display names of the alias types, translatable through "Language.ini".
extern const std::string SAliasNone;
extern const std::string SAliasMidiIn;
extern const std::string SAliasMidiOut;
extern const std::string SAliasSerial;

extern const std::string SECTION_ALIAS;  // "MIDI.alias"
extern const std::string MidiAliasMagic; // "MIDA"
extern const std::string IDENT_NAME;     // "Name", also the key of the port sections
extern const std::string IDENT_DEVICE;   // "Device"

bool IsLegalMidiAliasName(const std::string& name);
std::string GetAliasTypeDisplayString(TAliasType type);

// A named, typed placeholder for a MIDI port, assigned to a port by the port's display name.
// The alias manager owns every alias and never deletes one while it lives, so the pointers that
// port entries, routes and choosers hold stay valid.
class TMidiAlias
{
public:
    TMidiAlias(const std::string& name, const std::string& device, TAliasType type);
    TMidiAlias(const std::string& name, TIniFile& ini, int index);
    virtual ~TMidiAlias() = default;

    TMidiAlias(const TMidiAlias&) = delete;
    TMidiAlias& operator=(const TMidiAlias&) = delete;

    bool IsValid() const;
    bool IsInputAlias() const;
    bool IsOutputAlias() const;
    bool IsDeviceAlias() const;
    bool SameAs(const std::string& name, TAliasType type) const;

    void loadFromIniFile(TIniFile& ini, int index);
    void saveToIniFile(TIniFile& ini, int index);

    // The MIDI input thread reads the type and the binding of the aliases in thru lists while the
    // message thread may change them, hence atomics.
    std::atomic<TAliasType> FType;
    std::string FName;
    std::string FDevice; // display name of the assigned port, "" when unassigned
    int FProjectUse;     // bit 0: in use
    std::atomic<int> FUserID; // index of the bound port entry, -1 when unbound; written by the MIDI manager
};

class TMidiAliasChangeListener
{
public:
    virtual void OnMidiAliasListChanged() = 0;

protected:
    ~TMidiAliasChangeListener() = default;
};

// Non-owning list of aliases: a port entry's bound aliases, an input's thru list.
class TMidiAliasList : public TList<TMidiAlias*>
{
public:
    // Ignores null and aliases already in the list.
    void Add(TMidiAlias* alias) override;
    // Appends every alias of other that this list does not hold yet; null does nothing.
    void Add(TMidiAliasList* other);
    void AssignFrom(TMidiAliasList* other);

    TMidiAlias* GetAlias(int index);
    TMidiAlias* GetAliasByName(const std::string& name);
    TMidiAlias* GetAliasByNameAndType(const std::string& name, TAliasType type);
    bool Exists(const std::string& name, TAliasType type);
    int GetCountOfType(TAliasType type);
    bool ContainsAliasUserID(int id);

    // Text form "MIDA", four hex digits of the count, then each name length-prefixed.
    std::string ExportToString(TAliasType type);
    // Reads that text form from position start, finding or creating each alias in the alias
    // manager; returns the characters read (0 without the "MIDA" mark, 8 for a count below 1 or no
    // room for a name). A damaged text throws "illegal ini format" and changes neither this list
    // nor the alias manager.
    int ImportFromString(const std::string& s, int start, TAliasType type);
    std::string getCommaSeparatedString();
};

// The process-wide owner of every alias; tells its listeners of every change, or once at the end
// of an update bracket, and keeps the aliases in the ini section "MIDI.alias".
class TMidiAliasManager : public TMidiDeviceListListener, public AutoDelete
{
public:
    static TMidiAliasManager* instance();
    static bool IsInstanceAllocated();

    // Connects the alias manager to the MIDI manager's port lists (null disconnects). Without a
    // connection there are no ports: no device aliases are made and none is saved.
    static void SetPortLookup(TMidiAliasPortLookup* lookup);

    ~TMidiAliasManager() override;

    void AddAliasChangeListener(TMidiAliasChangeListener* listener);
    void RemoveAliasChangeListener(TMidiAliasChangeListener* listener);
    void BeginUpdate();
    void EndUpdate();
    void FireAliasChangeEvent();

    int GetCount();
    TMidiAlias* GetAlias(int index);
    int GetCountOfType(TAliasType type);
    int GetCountOfValid();
    int IndexOf(const std::string& name, TAliasType type);
    int IndexOfByRef(TMidiAlias* alias);
    bool Exists(const std::string& name, TAliasType type);
    void FillAliasListByType(TAliasType type, TMidiAliasList& list);
    void FillAliasListByDevice(const std::string& device, TAliasType type, TMidiAliasList& list);
    bool isMaintainingDeviceAliases();
    void DumpAliases();

    int AddAliasImpl(const std::string& name, const std::string& device, TAliasType type);
    int AddAlias(const std::string& name, const std::string& device, TAliasType type);
    void ModifyAlias(const std::string& name, TAliasType type, const std::string& newName,
                     const std::string& newDevice);
    TMidiAlias* GetAliasByName(const std::string& name, TAliasType type, bool create);
    void RemoveAlias(int index);
    void RemoveAll();
    void ClearProjectUse();

    void setMaintainDeviceAliases(bool on);
    void addDeviceAliases();
    void OnMidiDeviceListChanged() override;

    void loadFromIniFile(TIniFile& ini);
    void saveToIniFile(TIniFile& ini);

    // 0 makes loadFromIniFile and saveToIniFile do nothing.
    unsigned char FPersistent = 1;

private:
    TMidiAliasManager();
    TMidiAliasManager(const TMidiAliasManager&) = delete;
    TMidiAliasManager& operator=(const TMidiAliasManager&) = delete;

    // ModifyAlias of the alias at index; true when it changed (and was notified).
    bool ModifyAliasAt(int index, const std::string& newName, const std::string& newDevice);

    TList<TMidiAlias*> FAlias; // owned
    TList<TMidiAliasChangeListener*> FListeners;
    int FUpdateCount = 0;
    unsigned char FChangePending = 0;
    unsigned char FMaintainDeviceAliases = 0;

    static TMidiAliasManager* inst;
    static bool hadAlreadyBeenDestroyed;
    static TMidiAliasPortLookup* portLookup;
};

} // namespace Tr
