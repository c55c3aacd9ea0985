#include "midi/MidiPortMac.h"

#include "core/TrAssert.h"
#include "core/TrUtil.h"
#include "midi/MidiLockHold.h"
#include "midi/MidiManager.h"
#include "midi/MidiUtil.h"
#include "platform/HostClock.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace Tr
{
const std::string SFCannotOpenIn = UString::ResourceString("Cannot open MIDI input device \"%s\":");
const std::string SFCannotOpen = UString::ResourceString("Cannot open MIDI output device \"%s\":");

MidiMacFactory* MidiMacFactory::inst = nullptr;
bool MidiMacFactory::hadAlreadyBeenDestroyed = false;

namespace
{
const char* const PortClientName = "Vusk's MIDI subsystem";
const char* const InputPortName = "Input port";
const char* const OutputPortName = "Output port";
// One byte on a MIDI cable: 3125 bytes per second.
constexpr uint64_t NanosPerWireByte = 320000;
// The most one packet carries (its length is 16 bits).
constexpr size_t MaxPacketLength = 65535;

std::mutex globalClientMutex;
MIDIClientRef globalClient = 0;

// Port objects keep their endpoint in the base's handle, which is non-null exactly while open;
// endpoint references are never 0.
void* HandleOf(MIDIEndpointRef endpoint)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(endpoint));
}

MIDIEndpointRef EndpointOf(void* handle)
{
    return static_cast<MIDIEndpointRef>(reinterpret_cast<uintptr_t>(handle));
}

std::vector<MIDIEndpointRef> AllEndpoints(unsigned char isInput)
{
    return isInput ? MIDIGetAllSources() : MIDIGetAllDestinations();
}

int UniqueIdOf(MIDIObjectRef object)
{
    return MidiMacFactory::GetMidiIntegerProperty(object, kMIDIPropertyUniqueID, 0);
}

// The unique IDs of the endpoint's entity and device, made by the service from the names of the
// port and its program; 0 where there is none.
std::pair<int, int> EntityAndDeviceIds(MIDIEndpointRef endpoint)
{
    MIDIEntityRef entity = 0;
    MIDIDeviceRef device = 0;
    if (MIDIEndpointGetEntity(endpoint, &entity) != 0 || entity == 0)
        return {0, 0};
    const int entityId = UniqueIdOf(entity);
    if (MIDIEntityGetDevice(entity, &device) != 0 || device == 0)
        return {entityId, 0};
    return {entityId, UniqueIdOf(device)};
}

std::string DisplayNameOf(MIDIEndpointRef endpoint)
{
    return MidiMacFactory::DisplayName(MidiMacFactory::GetMidiStringProperty(endpoint, kMIDIPropertyName),
                                       MidiMacFactory::GetMidiStringProperty(endpoint, kMIDIPropertyModel),
                                       MidiMacFactory::GetMidiStringProperty(endpoint, kMIDIPropertyManufacturer));
}

// Whether the endpoint is the port desc was listed for: the same names of port and program, which
// the unique IDs stand for; without IDs, the same display name.
bool IsPortOf(MIDIEndpointRef endpoint, const MidiDeviceDescriptor& desc)
{
    if (endpoint == 0)
        return false;
    if (desc.FSerial.empty() && desc.FInterfaceName.empty())
        return DisplayNameOf(endpoint) == desc.FName;
    const std::pair<int, int> ids = EntityAndDeviceIds(endpoint);
    return CompareText(MidiMacFactory::UniqueIdText(ids.first), desc.FSerial) == 0
           && CompareText(MidiMacFactory::UniqueIdText(ids.second), desc.FInterfaceName) == 0;
}

// The endpoint a port object opens. The stored system index is only where the port was at the last
// listing: in the seconds before the next one, a port that came or went before it moves it, and the
// index names another port. So the port is looked for by its names when the index no longer holds
// it. Throws the "cannot open" text when the port is not there now.
MIDIEndpointRef EndpointToOpen(unsigned char isInput, const MidiDeviceDescriptor& desc)
{
    const std::vector<MIDIEndpointRef> endpoints = AllEndpoints(isInput);
    const size_t stored = desc.FSystemIndex >= 0 ? static_cast<size_t>(desc.FSystemIndex) : endpoints.size();
    if (stored < endpoints.size() && IsPortOf(endpoints[stored], desc))
        return endpoints[stored];
    for (size_t i = 0; i < endpoints.size(); ++i)
        if (i != stored && IsPortOf(endpoints[i], desc))
            return endpoints[i];
    throw EMidiError(UString::FormatS1(isInput ? SFCannotOpenIn : SFCannotOpen, desc.GetName()));
}

// Whether an open port object's endpoint has gone, also when a port of the same names is listed
// again at another address.
bool IsGone(MIDIEndpointRef endpoint)
{
    SysString name;
    return endpoint != 0 && MIDIObjectGetStringProperty(endpoint, kMIDIPropertyName, name.receive()) != 0;
}

// Builds a packet list of one packet on the stack and sends it. kMIDIErrParameter when the bytes
// do not fit into one packet.
OSStatus SendOnePacket(MIDIPortRef port, MIDIEndpointRef destination, MIDITimeStamp stamp, const uint8_t* data,
                       size_t len)
{
    alignas(8) uint8_t buffer[MIDIPacketListSizeFor(MaxPacketLength) + 2];
    const size_t listSize = std::min(sizeof buffer, len + 16);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    if (MIDIPacketListAdd(list, listSize, MIDIPacketListInit(list), stamp, len, data) == nullptr)
        return kMIDIErrParameter;
    return MIDISend(port, destination, list);
}

// The request of one SysEx send and a copy of its bytes, in one heap block. The waiting sender and
// the service's completion routine both hold it, and each lets go exactly once; whoever lets go
// second frees it. So neither has to guess whether the other is done with it: the service may
// still be calling the completion routine after it has set the request's complete flag.
class SysexRequestBlock
{
public:
    // Null when there is no memory for it.
    static SysexRequestBlock* Create(MIDIEndpointRef destination, const void* data, uint32_t len)
    {
        void* raw = ::operator new(sizeof(SysexRequestBlock) + len, std::nothrow);
        if (raw == nullptr)
            return nullptr;
        auto* block = new (raw) SysexRequestBlock();
        std::memcpy(block->Bytes(), data, len);
        block->request.destination = destination;
        block->request.data = block->Bytes();
        block->request.bytesToSend = len;
        block->request.complete.store(false);
        block->request.completionProc = &SysexRequestBlock::Completion;
        block->request.completionRefCon = block;
        return block;
    }

    // For a request the service never took.
    static void Free(SysexRequestBlock* block)
    {
        block->~SysexRequestBlock();
        ::operator delete(block);
    }

    void LetGo()
    {
        if (FHolders.fetch_sub(1, std::memory_order_acq_rel) == 1)
            Free(this);
    }

    MIDISysexSendRequest request{};

private:
    SysexRequestBlock() = default;
    ~SysexRequestBlock() = default;

    uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this + 1); }

    static void Completion(MIDISysexSendRequest* request)
    {
        static_cast<SysexRequestBlock*>(request->completionRefCon)->LetGo();
    }

    std::atomic<int> FHolders{2};
};

// Registers the back end with the manager before main, so the manager knows it from the start.
const bool registeredWithManager = [] {
    MidiManager::AddInitializer(new MidiPortMac_MMInit());
    return true;
}();
} // namespace

MIDIClientRef GetGlobalMidiClientRef()
{
    std::lock_guard<std::mutex> lock(globalClientMutex);
    // Without a MIDI service the client stays 0; the port creation that follows reports that.
    if (globalClient == 0)
        MIDIClientCreate(SysString(PortClientName).get(), nullptr, nullptr, &globalClient);
    return globalClient;
}

std::string midiGetErrorText(long code)
{
    switch (code)
    {
    case -10830:
        return "An invalid MIDIClientRef was passed.";
    case -10831:
        return "An invalid MIDIPortRef was passed.";
    case -10832:
        return "A source endpoint was passed to a function expecting a destination, or vice versa.";
    case -10833:
        return "Attempt to close a non-existant connection.";
    case -10834:
        return "An invalid MIDIEndpointRef was passed.";
    case -10835:
        return "Attempt to query a property not set on the object.";
    case -10836:
        return "Attempt to set a property with a value not of the correct type.";
    case -10837:
        return "Internal error; there is no current MIDI setup object.";
    case -10838:
        return "Communication with MIDIServer failed.";
    case -10839:
        return "Unable to start MIDIServer.";
    case -10840:
        return "Unable to read the saved state.";
    case -10841:
        return "A driver is calling a non-I/O function in the server from a thread other than the server's main "
               "thread.";
    case -10842:
        return "The requested object does not exist.";
    case -10843:
        return "Attempt to set a non-unique kMIDIPropertyUniqueID on an object.";
    default:
        return UString::FormatS1("MIDI ERROR %d", static_cast<int>(code));
    }
}

// ---- MidiMacFactory --------------------------------------------------------------------------

MidiMacFactory::MidiMacFactory()
{
    inst = this;
}

MidiMacFactory* MidiMacFactory::instance()
{
    if (inst != nullptr)
        return inst;
    if (hadAlreadyBeenDestroyed)
        TR_FAIL();
    // The shutdown registry owns the factory from here on.
    return new MidiMacFactory();
}

bool MidiMacFactory::IsInstanceAllocated()
{
    return inst != nullptr;
}

MidiMacFactory::~MidiMacFactory()
{
    hadAlreadyBeenDestroyed = true;
    inst = nullptr;
    if (MidiManager::IsInstanceAllocated())
        MidiManager::instance()->RemoveFactory(this, 0);
}

void MidiMacFactory::recreateCache(unsigned char isInput, TList<MidiDeviceDescriptor*>& list)
{
    // One listing for all ports: asking for them by index would list the sequencer once per port.
    const std::vector<MIDIEndpointRef> endpoints = AllEndpoints(isInput);
    for (MidiDeviceDescriptor* d : list)
        delete d;
    list.Clear();
    for (size_t i = 0; i < endpoints.size(); ++i)
        if (MidiDeviceDescriptor* d = DescribeEndpoint(isInput, static_cast<int>(i), endpoints[i]))
            list.Add(d);
}

int MidiMacFactory::GetNumDevs(unsigned char isInput)
{
    return static_cast<int>(isInput ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations());
}

unsigned int MidiMacFactory::GetType()
{
    return PortTypeMIDI;
}

std::string MidiMacFactory::GetTypeName(unsigned char isInput)
{
    return isInput ? "MIDI Input" : "MIDI Output";
}

TMidiDeviceBase* MidiMacFactory::CreateDevice(MidiDeviceDescriptor* desc)
{
    if (desc == nullptr)
        return nullptr;
    MidiDeviceDescriptor* clone = desc->Clone();
    if (clone->FIsInput)
        return new TMidiInputMac(clone);
    return new TMidiOutputMac(clone);
}

std::string MidiMacFactory::GetMidiStringProperty(MIDIObjectRef object, SysStringRef property)
{
    SysString value;
    MIDIObjectGetStringProperty(object, property, value.receive());
    return value.str();
}

int MidiMacFactory::GetMidiIntegerProperty(MIDIObjectRef object, SysStringRef property, int def)
{
    int32_t value = 0;
    return MIDIObjectGetIntegerProperty(object, property, &value) == 0 ? value : def;
}

std::string MidiMacFactory::GetNameManufacturerSuffix(const std::string& manufacturer)
{
    return manufacturer.empty() ? std::string() : " (" + manufacturer + ")";
}

std::string MidiMacFactory::DisplayName(const std::string& name, const std::string& model,
                                        const std::string& manufacturer)
{
    std::string display = name;
    if (!model.empty() && StrPos(model, display, true) == 0)
        display = model + " : " + display;
    if (!manufacturer.empty() && StrPos(manufacturer, display, true) == 0)
        display += GetNameManufacturerSuffix(manufacturer);
    return display;
}

std::string MidiMacFactory::UniqueIdText(int id)
{
    return id == 0 || id == -1 ? std::string() : IntToHexLen(id, 8, 8);
}

MidiDeviceDescriptor* MidiMacFactory::DescribeEndpoint(unsigned char isInput, int i, MIDIEndpointRef endpoint)
{
    if (endpoint == 0)
        return nullptr;
    const std::pair<int, int> ids = EntityAndDeviceIds(endpoint);
    return new MidiDeviceDescriptor(this, isInput, i, DisplayNameOf(endpoint), UniqueIdText(ids.first),
                                    UniqueIdText(ids.second), "");
}

// ---- TMidiInputMac ---------------------------------------------------------------------------

TMidiInputMac::TMidiInputMac(MidiDeviceDescriptor* desc) : TMidiInputBase(desc) {}

TMidiInputMac::~TMidiInputMac()
{
    Close();
}

void TMidiInputMac::OpenImpl()
{
    FHandle = HandleOf(EndpointToOpen(1, *FDesc));
}

bool TMidiInputMac::CloseImpl(void* handle)
{
    ReleasePort(EndpointOf(handle));
    return true;
}

void TMidiInputMac::Start()
{
    MidiLockHold hold(FLock);
    const MIDIEndpointRef source = EndpointOf(FHandle.load());
    if (source == 0 || FPort.load() != 0)
        return;
    MIDIPortRef port = 0;
    OSStatus status = MIDIInputPortCreate(GetGlobalMidiClientRef(), SysString(InputPortName).get(), &_midiReadProc,
                                          nullptr, &port);
    if (status == 0)
    {
        FPort = port;
        status = MIDIPortConnectSource(port, source, this);
    }
    if (status != 0)
    {
        ReleasePort(0);
        throw EMidiError(midiGetErrorText(status));
    }
}

void TMidiInputMac::Stop()
{
    MidiLockHold hold(FLock);
    if (IsStarted())
        ReleasePort(EndpointOf(FHandle.load()));
}

bool TMidiInputMac::IsStarted()
{
    return IsOpen() && FPort.load() != 0;
}

bool TMidiInputMac::HasLostPort()
{
    return IsGone(EndpointOf(FHandle.load()));
}

void TMidiInputMac::ReleasePort(MIDIEndpointRef source)
{
    const MIDIPortRef port = FPort.exchange(0);
    if (port == 0)
        return;
    if (source != 0)
        MIDIPortDisconnectSource(port, source);
    // Returns only when no read routine of the port runs any more.
    MIDIPortDispose(port);
}

void TMidiInputMac::_midiReadProc(const MIDIPacketList* list, void* /*readProcRefCon*/, void* srcConnRefCon)
{
    auto* self = static_cast<TMidiInputMac*>(srcConnRefCon);
    if (list == nullptr || self == nullptr)
        return;
    // The service's buffer is read-only, and listeners get writable bytes: they receive a copy.
    // Only this thread touches the buffer.
    std::vector<unsigned char>& bytes = self->FReadBuffer;
    const MIDIPacket* packet = &list->packet[0];
    const uint32_t count = list->numPackets;
    for (uint32_t i = 0; i < count; ++i)
    {
        const MIDITimeStamp stamp = packet->timeStamp;
        const uint16_t length = packet->length;
        bytes.assign(packet->data, packet->data + length);
        self->SplitAndDispatchMidiMessage(stamp, bytes.data(), length);
        packet = MIDIPacketNext(packet);
    }
}

// ---- TMidiOutputMac --------------------------------------------------------------------------

TMidiOutputMac::TMidiOutputMac(MidiDeviceDescriptor* desc)
    : TMidiOutputBase(desc), FTicksPerByte(AudioConvertNanosToHostTime(NanosPerWireByte))
{
}

TMidiOutputMac::~TMidiOutputMac()
{
    Close();
}

void TMidiOutputMac::OpenImpl()
{
    const MIDIEndpointRef destination = EndpointToOpen(0, *FDesc);
    MIDIPortRef port = 0;
    const OSStatus status = MIDIOutputPortCreate(GetGlobalMidiClientRef(), SysString(OutputPortName).get(), &port);
    if (status != 0)
        throw EMidiError(UString::FormatS2(SFCannotOpen + ": %s", FDesc->GetName(), midiGetErrorText(status)));
    FPort = port;
    FHandle = HandleOf(destination);
}

bool TMidiOutputMac::HasLostPort()
{
    return IsGone(EndpointOf(FHandle.load()));
}

bool TMidiOutputMac::CloseImpl(void* /*handle*/)
{
    const MIDIPortRef port = FPort.exchange(0);
    if (port != 0)
        MIDIPortDispose(port);
    return true;
}

unsigned char TMidiOutputMac::SendShort(unsigned char status, unsigned char data1, unsigned char data2)
{
    uint8_t bytes[3] = {status, data1, data2};
    // SysEx bytes keep their place behind the SysEx still waiting for the wire.
    if (StartsSysexBytes(status))
        return SendLong(bytes, PackedMidiMessageLength(bytes));
    const MIDIEndpointRef destination = EndpointOf(FHandle.load());
    const MIDIPortRef port = FPort.load();
    const int len = ShortMidiMessageLength(status);
    if (destination == 0 || port == 0 || len < 1)
        return 0;
    const OSStatus result =
        SendOnePacket(port, destination, AudioGetCurrentHostTime(), bytes, static_cast<size_t>(len));
    if (result != 0)
        throw EMidiError(midiGetErrorText(result));
    return 1;
}

unsigned char TMidiOutputMac::SendShort(unsigned int packed)
{
    uint8_t bytes[3] = {static_cast<uint8_t>(packed & 0xFF), static_cast<uint8_t>((packed >> 8) & 0xFF),
                        static_cast<uint8_t>((packed >> 16) & 0xFF)};
    return SendLong(bytes, PackedMidiMessageLength(bytes));
}

uint64_t TMidiOutputMac::ReserveSendTime(uint64_t now, int len)
{
    const uint64_t wireTime = static_cast<uint64_t>(len) * FTicksPerByte;
    uint64_t next = FNextSendTime.load();
    uint64_t stamp = 0;
    do
        stamp = std::max(now, next);
    while (!FNextSendTime.compare_exchange_weak(next, stamp + wireTime));
    return stamp;
}

void TMidiOutputMac::ReleaseSendTime(uint64_t stamp, int len)
{
    uint64_t reservedEnd = stamp + static_cast<uint64_t>(len) * FTicksPerByte;
    FNextSendTime.compare_exchange_strong(reservedEnd, stamp);
}

unsigned char TMidiOutputMac::SendLong(void* data, int len)
{
    const MIDIEndpointRef destination = EndpointOf(FHandle.load());
    const MIDIPortRef port = FPort.load();
    if (len < 1 || data == nullptr || destination == 0 || port == 0)
        return 0;
    // One packet carries it all, or nothing is sent (and no wire time is taken).
    if (static_cast<size_t>(len) > MaxPacketLength)
        return 0;
    const uint64_t stamp = ReserveSendTime(AudioGetCurrentHostTime(), len);
    if (SendOnePacket(port, destination, stamp, static_cast<const uint8_t*>(data), static_cast<size_t>(len)) == 0)
        return 1;
    ReleaseSendTime(stamp, len);
    return 0;
}

int TMidiOutputMac::SendLongWait(void* data, int len, TMidiOutWaitCallback* callback)
{
    const MIDIEndpointRef destination = EndpointOf(FHandle.load());
    if (len < 1 || data == nullptr || destination == 0)
        return 0;
    SysexRequestBlock* block = SysexRequestBlock::Create(destination, data, static_cast<uint32_t>(len));
    if (block == nullptr)
        return 0;
    if (MIDISendSysex(&block->request) != 0)
    {
        SysexRequestBlock::Free(block);
        return 0;
    }
    unsigned char continueWait = 1;
    while (!block->request.complete.load(std::memory_order_acquire))
    {
        if (callback != nullptr)
            callback->OnMidiOutWait(this, &continueWait);
        std::this_thread::sleep_for(std::chrono::microseconds(1));
        if (continueWait == 0)
        {
            if (block->request.complete.load(std::memory_order_acquire))
                break;
            // The transfer goes on without us; the completion routine frees the block.
            block->LetGo();
            return len;
        }
    }
    // A transfer that broke off left bytes unsent: that is no success.
    const bool allSent = block->request.bytesToSend == 0;
    block->LetGo();
    return allSent ? len : 0;
}

// ---- MidiPortMac_MMInit ----------------------------------------------------------------------

void MidiPortMac_MMInit::OnMidiManagerInited()
{
    MidiManager::instance()->AddFactory(MidiMacFactory::instance(), 0);
}
} // namespace Tr

// Referenced by the link options of the MIDI library (src/CMakeLists.txt), so that every program
// built on the library contains the back end and its registration above, though none calls it.
extern "C" void TrMidiPortMacLinked() {}
