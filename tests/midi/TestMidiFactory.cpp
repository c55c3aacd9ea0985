#include "TestMidiFactory.h"

#include "midi/MidiUtil.h"

#include <algorithm>
#include <stdexcept>

namespace TestMidi
{
namespace
{
using Guard = std::lock_guard<std::recursive_mutex>;

void EraseValue(std::vector<int>& v, int value)
{
    v.erase(std::remove(v.begin(), v.end(), value), v.end());
}

// Opening resolves the descriptor's system index now, as the real service does.
TestMidiPort* OpenScriptedPort(TestMidiSystem& system, const Tr::MidiDeviceDescriptor& desc, const char* what)
{
    TestMidiPort* port = system.PortAt(desc.FIsInput ? 1 : 0, desc.FSystemIndex);
    if (port == nullptr)
        throw Tr::EMidiError(std::string("Cannot open MIDI ") + what + " device \"" + desc.GetName() + "\":");
    switch (port->openFailure)
    {
    case OpenFailure::Throw:
        throw Tr::EMidiError(port->failMessage);
    case OpenFailure::StayClosed:
        return nullptr;
    case OpenFailure::None:
        break;
    }
    ++port->openCount;
    ++port->openObjects;
    return port;
}

void CloseScriptedPort(TestMidiPort* port)
{
    --port->openObjects;
    ++port->closeCount;
}
} // namespace

TestMidiPort* TestMidiSystem::PortAt(unsigned char isInput, int systemIndex)
{
    const std::vector<int>& list = order[isInput ? 1 : 0];
    if (systemIndex < 0 || systemIndex >= static_cast<int>(list.size()))
        return nullptr;
    return ports[static_cast<size_t>(list[static_cast<size_t>(systemIndex)])].get();
}

// ---- TestMidiFactory -------------------------------------------------------------------------

TestMidiFactory::TestMidiFactory(unsigned int type) : FSystem(std::make_shared<TestMidiSystem>()), FType(type) {}

TestMidiPort& TestMidiFactory::Port(int id) const
{
    if (id < 0 || id >= static_cast<int>(FSystem->ports.size()))
        throw std::out_of_range("TestMidiFactory: no port with id " + std::to_string(id));
    return *FSystem->ports[static_cast<size_t>(id)];
}

int TestMidiFactory::AddPort(unsigned char isInput, const std::string& name, const std::string& serial,
                             const std::string& interfaceName, const std::string& publicName)
{
    Guard g(FSystem->mutex);
    auto port = std::make_unique<TestMidiPort>();
    port->id = static_cast<int>(FSystem->ports.size());
    port->isInput = isInput ? 1 : 0;
    port->name = name;
    port->serial = serial;
    port->interfaceName = interfaceName;
    port->publicName = publicName;
    FSystem->order[port->isInput].push_back(port->id);
    FSystem->ports.push_back(std::move(port));
    return FSystem->ports.back()->id;
}

void TestMidiFactory::RemovePort(int id)
{
    Guard g(FSystem->mutex);
    TestMidiPort& port = Port(id);
    port.present = false;
    EraseValue(FSystem->order[port.isInput], id);
}

void TestMidiFactory::RestorePort(int id)
{
    Guard g(FSystem->mutex);
    TestMidiPort& port = Port(id);
    if (port.present)
        return;
    port.present = true;
    FSystem->order[port.isInput].push_back(id);
}

void TestMidiFactory::MovePort(int id, int systemIndex)
{
    Guard g(FSystem->mutex);
    TestMidiPort& port = Port(id);
    if (!port.present)
        return;
    std::vector<int>& list = FSystem->order[port.isInput];
    EraseValue(list, id);
    const int at = std::clamp(systemIndex, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + at, id);
}

void TestMidiFactory::RenamePort(int id, const std::string& name)
{
    Guard g(FSystem->mutex);
    Port(id).name = name;
}

void TestMidiFactory::SetOpenFailure(int id, OpenFailure mode, const std::string& message)
{
    Guard g(FSystem->mutex);
    Port(id).openFailure = mode;
    Port(id).failMessage = message;
}

void TestMidiFactory::SetSendFailure(int id, SendFailure mode)
{
    Guard g(FSystem->mutex);
    Port(id).sendFailure = mode;
}

void TestMidiFactory::SetStartFailure(int id, bool fail)
{
    Guard g(FSystem->mutex);
    Port(id).startFailure = fail;
}

void TestMidiFactory::UseManualClock(int startMs)
{
    FManualClock = true;
    FClock = startMs;
}

void TestMidiFactory::AdvanceClock(int ms)
{
    FClock += ms;
}

int TestMidiFactory::CurrentMilliTime()
{
    return FManualClock ? FClock : MidiDeviceFactory::CurrentMilliTime();
}

int TestMidiFactory::FindPort(unsigned char isInput, const std::string& name) const
{
    Guard g(FSystem->mutex);
    for (const auto& port : FSystem->ports)
        if (port->isInput == (isInput ? 1 : 0) && port->name == name)
            return port->id;
    return -1;
}

bool TestMidiFactory::IsPresent(int id) const
{
    Guard g(FSystem->mutex);
    return Port(id).present;
}

bool TestMidiFactory::IsOpen(int id) const
{
    Guard g(FSystem->mutex);
    return Port(id).openObjects > 0;
}

bool TestMidiFactory::IsStarted(int id) const
{
    Guard g(FSystem->mutex);
    return !Port(id).startedInputs.empty();
}

int TestMidiFactory::OpenCount(int id) const
{
    Guard g(FSystem->mutex);
    return Port(id).openCount;
}

int TestMidiFactory::CloseCount(int id) const
{
    Guard g(FSystem->mutex);
    return Port(id).closeCount;
}

std::vector<SentMessage> TestMidiFactory::SentLog() const
{
    Guard g(FSystem->mutex);
    return FSystem->sent;
}

std::vector<std::vector<unsigned char>> TestMidiFactory::SentTo(int id) const
{
    Guard g(FSystem->mutex);
    std::vector<std::vector<unsigned char>> out;
    for (const SentMessage& m : FSystem->sent)
        if (m.portId == id)
            out.push_back(m.bytes);
    return out;
}

void TestMidiFactory::ClearSent()
{
    Guard g(FSystem->mutex);
    FSystem->sent.clear();
}

int TestMidiFactory::Inject(int id, const std::vector<unsigned char>& bytes, unsigned long long time)
{
    std::vector<unsigned char> copy(bytes);
    return Inject(id, copy.data(), static_cast<int>(copy.size()), time);
}

int TestMidiFactory::Inject(int id, unsigned char* data, int len, unsigned long long time)
{
    Guard g(FSystem->mutex);
    const std::vector<TestMidiInput*> inputs = Port(id).startedInputs;
    if (inputs.empty())
        return -1;
    int delivered = 0;
    for (TestMidiInput* input : inputs)
        delivered += std::max(input->SplitAndDispatchMidiMessage(time, data, len), 0);
    return delivered;
}

void TestMidiFactory::recreateCache(unsigned char isInput, Tr::TList<Tr::MidiDeviceDescriptor*>& list)
{
    Guard g(FSystem->mutex);
    ++FRecreateCount;
    for (int i = 0; i < list.Count(); ++i)
        delete list[i];
    list.Clear();
    const std::vector<int>& order = FSystem->order[isInput ? 1 : 0];
    for (size_t i = 0; i < order.size(); ++i)
    {
        const TestMidiPort& port = *FSystem->ports[static_cast<size_t>(order[i])];
        list.Add(new Tr::MidiDeviceDescriptor(this, port.isInput, static_cast<int>(i), port.name, port.serial,
                                              port.interfaceName, port.publicName));
    }
}

int TestMidiFactory::GetNumDevs(unsigned char isInput)
{
    Guard g(FSystem->mutex);
    return static_cast<int>(FSystem->order[isInput ? 1 : 0].size());
}

std::string TestMidiFactory::GetTypeName(unsigned char isInput)
{
    return isInput ? "Test MIDI Input" : "Test MIDI Output";
}

Tr::TMidiDeviceBase* TestMidiFactory::CreateDevice(Tr::MidiDeviceDescriptor* desc)
{
    if (desc == nullptr)
        return nullptr;
    Tr::MidiDeviceDescriptor* copy = desc->Clone();
    if (copy->FIsInput)
        return new TestMidiInput(copy, FSystem);
    return new TestMidiOutput(copy, FSystem);
}

// ---- TestMidiInput ---------------------------------------------------------------------------

TestMidiInput::TestMidiInput(Tr::MidiDeviceDescriptor* desc, std::shared_ptr<TestMidiSystem> system)
    : TMidiInputBase(desc), FSystem(std::move(system))
{
}

TestMidiInput::~TestMidiInput()
{
    Close();
}

void TestMidiInput::OpenImpl()
{
    Guard g(FSystem->mutex);
    if (TestMidiPort* port = OpenScriptedPort(*FSystem, *FDesc, "input"))
        FHandle = port;
}

bool TestMidiInput::CloseImpl(void* handle)
{
    Guard g(FSystem->mutex);
    auto* port = static_cast<TestMidiPort*>(handle);
    auto& started = port->startedInputs;
    started.erase(std::remove(started.begin(), started.end(), this), started.end());
    FStarted = false;
    CloseScriptedPort(port);
    return true;
}

void TestMidiInput::Start()
{
    Guard g(FSystem->mutex);
    auto* port = static_cast<TestMidiPort*>(FHandle.load());
    if (port == nullptr || FStarted)
        return;
    if (port->startFailure)
        throw Tr::EMidiError("scripted start failure");
    port->startedInputs.push_back(this);
    FStarted = true;
}

void TestMidiInput::Stop()
{
    Guard g(FSystem->mutex);
    auto* port = static_cast<TestMidiPort*>(FHandle.load());
    if (port == nullptr || !FStarted)
        return;
    auto& started = port->startedInputs;
    started.erase(std::remove(started.begin(), started.end(), this), started.end());
    FStarted = false;
}

bool TestMidiInput::IsStarted()
{
    Guard g(FSystem->mutex);
    return IsOpen() && FStarted;
}

// ---- TestMidiOutput --------------------------------------------------------------------------

TestMidiOutput::TestMidiOutput(Tr::MidiDeviceDescriptor* desc, std::shared_ptr<TestMidiSystem> system)
    : TMidiOutputBase(desc), FSystem(std::move(system))
{
}

TestMidiOutput::~TestMidiOutput()
{
    Close();
}

void TestMidiOutput::OpenImpl()
{
    Guard g(FSystem->mutex);
    if (TestMidiPort* port = OpenScriptedPort(*FSystem, *FDesc, "output"))
        FHandle = port;
}

bool TestMidiOutput::CloseImpl(void* handle)
{
    Guard g(FSystem->mutex);
    CloseScriptedPort(static_cast<TestMidiPort*>(handle));
    return true;
}

bool TestMidiOutput::Record(SendKind kind, const unsigned char* data, int len)
{
    Guard g(FSystem->mutex);
    auto* port = static_cast<TestMidiPort*>(FHandle.load());
    // A port that vanished while open refuses, as a send to a gone device fails.
    if (port == nullptr || !port->present || port->sendFailure == SendFailure::Refuse)
        return false;
    if (port->sendFailure == SendFailure::Throw)
        throw Tr::EMidiError("scripted send failure");
    FSystem->sent.push_back(SentMessage{port->id, kind, std::vector<unsigned char>(data, data + len)});
    return true;
}

unsigned char TestMidiOutput::SendShort(unsigned char status, unsigned char data1, unsigned char data2)
{
    const int n = Tr::ShortMidiMessageLength(status);
    if (n < 1)
        return 0;
    const unsigned char bytes[3] = {status, data1, data2};
    return Record(SendKind::Short, bytes, n) ? 1 : 0;
}

int TestMidiOutput::SendLongWait(void* data, int len, Tr::TMidiOutWaitCallback* /*callback*/)
{
    if (data == nullptr || len < 1)
        return 0;
    return Record(SendKind::Long, static_cast<const unsigned char*>(data), len) ? len : 0;
}

// ---- RecordingDataListener -------------------------------------------------------------------

void RecordingDataListener::OnMidiDeviceMessage(Tr::TMidiInputBase* sender, unsigned long long time,
                                                unsigned char* data, int len)
{
    std::lock_guard<std::mutex> g(FMutex);
    FMessages.push_back(Message{sender, time, std::vector<unsigned char>(data, data + len)});
}

std::vector<RecordingDataListener::Message> RecordingDataListener::Messages() const
{
    std::lock_guard<std::mutex> g(FMutex);
    return FMessages;
}

std::vector<std::vector<unsigned char>> RecordingDataListener::Pieces() const
{
    std::lock_guard<std::mutex> g(FMutex);
    std::vector<std::vector<unsigned char>> out;
    for (const Message& m : FMessages)
        out.push_back(m.bytes);
    return out;
}

void RecordingDataListener::Clear()
{
    std::lock_guard<std::mutex> g(FMutex);
    FMessages.clear();
}
} // namespace TestMidi
