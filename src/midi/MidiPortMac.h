// The MIDI library's back end on our MIDI service (platform/CoreMidi.h): the factory that lists
// the service's sources and destinations with readable names, and the input and output port
// objects. It registers itself with the MIDI manager before main runs (MidiPortMac_MMInit).
#pragma once

#include "midi/MidiBase.h"
#include "midi/MidiDevice.h"
#include "midi/MidiManagerListeners.h"
#include "platform/CoreMidi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace Tr
{
// "Cannot open MIDI input device \"%s\":" and "Cannot open MIDI output device \"%s\":",
// translatable through "Language.ini".
extern const std::string SFCannotOpenIn;
extern const std::string SFCannotOpen;

// The process's port client "Vusk's MIDI subsystem", made on first need and kept for the
// process's life; 0 while no MIDI service can be reached (the next call tries again).
MIDIClientRef GetGlobalMidiClientRef();

// Readable text of a MIDI service result code (not translated).
std::string midiGetErrorText(long code);

class MidiMacFactory : public MidiDeviceFactory
{
public:
    // The factory, made on the first call; asking after its destruction is fatal.
    static MidiMacFactory* instance();
    static bool IsInstanceAllocated();
    ~MidiMacFactory() override;

    void recreateCache(unsigned char isInput, TList<MidiDeviceDescriptor*>& list) override;
    int GetNumDevs(unsigned char isInput) override;
    unsigned int GetType() override;   // PortTypeMIDI
    std::string GetTypeName(unsigned char isInput) override;
    TMidiDeviceBase* CreateDevice(MidiDeviceDescriptor* desc) override;

    // "" when the object has no such property.
    static std::string GetMidiStringProperty(MIDIObjectRef object, SysStringRef property);
    static int GetMidiIntegerProperty(MIDIObjectRef object, SysStringRef property, int def);
    // " (manufacturer)", or "" for an empty manufacturer.
    static std::string GetNameManufacturerSuffix(const std::string& manufacturer);

    // The name a port is shown under: the model goes in front ("model : name") and the maker
    // behind ("name (maker)"), each only when the name does not already mention it (ignoring case).
    static std::string DisplayName(const std::string& name, const std::string& model, const std::string& manufacturer);
    // A unique ID as 8 upper-case hex digits; "" for 0 and -1, which mean "none".
    static std::string UniqueIdText(int id);

protected:
    // The descriptor of the endpoint that a listing gave as source (isInput) or destination i, or
    // null when there is none.
    MidiDeviceDescriptor* DescribeEndpoint(unsigned char isInput, int i, MIDIEndpointRef endpoint);

private:
    MidiMacFactory();

    static MidiMacFactory* inst;
    static bool hadAlreadyBeenDestroyed;
};

class TMidiInputMac : public TMidiInputBase
{
public:
    explicit TMidiInputMac(MidiDeviceDescriptor* desc);
    ~TMidiInputMac() override;

    // Connects an open input to its source; does nothing when closed or started already.
    void Start() override;
    void Stop() override;
    bool IsStarted() override;
    bool HasLostPort() override;

protected:
    void OpenImpl() override;
    bool CloseImpl(void* handle) override;

private:
    static void _midiReadProc(const MIDIPacketList* list, void* readProcRefCon, void* srcConnRefCon);
    void ReleasePort(MIDIEndpointRef source);

    std::atomic<MIDIPortRef> FPort{0};   // non-zero exactly while started
    std::vector<unsigned char> FReadBuffer;   // receive thread only
};

class TMidiOutputMac : public TMidiOutputBase
{
public:
    explicit TMidiOutputMac(MidiDeviceDescriptor* desc);
    ~TMidiOutputMac() override;

    // Sent at once, unpaced; throws EMidiError when the service refuses. SysEx bytes (up to their
    // 0xF7) go like SendLong instead.
    unsigned char SendShort(unsigned char status, unsigned char data1, unsigned char data2) override;
    // Paced like SendLong.
    unsigned char SendShort(unsigned int packed) override;
    // Hands the message to the service stamped no earlier than the end of the previous paced
    // message on the wire, and returns at once; 1 when the service took it.
    unsigned char SendLong(void* data, int len) override;
    // Sends a System Exclusive message and waits until it is out or the callback ends the wait;
    // len when it went out (or goes on after the callback let go), 0 when it could not be sent.
    int SendLongWait(void* data, int len, TMidiOutWaitCallback* callback) override;
    bool HasLostPort() override;

protected:
    void OpenImpl() override;
    bool CloseImpl(void* handle) override;

    // Takes the wire time of len bytes from the pacing clock: returns the message's time stamp
    // (the later of now and the end of the previous message) and moves the end on. Safe against
    // sends from other threads (thru sends come from a receive thread).
    uint64_t ReserveSendTime(uint64_t now, int len);
    // Gives back the time reserved at stamp for a message that was refused, unless a later message
    // has reserved after it: otherwise every refused SEND would hold the next one back by its wire
    // time.
    void ReleaseSendTime(uint64_t stamp, int len);

    std::atomic<MIDIPortRef> FPort{0};          // non-zero while open
    std::atomic<uint64_t> FNextSendTime{0};     // host time
    const uint64_t FTicksPerByte;               // one byte on a MIDI cable: 320 us
};

// Registers the factory with the manager once the manager has initialised.
class MidiPortMac_MMInit : public MidiManagerInitializer
{
public:
    void OnMidiManagerInited() override;
};
} // namespace Tr
