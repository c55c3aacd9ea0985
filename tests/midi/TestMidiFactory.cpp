#include "TestMidiFactory.h"

#include "midi/MidiManager.h"
#include "midi/MidiUtil.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace TestMidi
{
namespace
{
using Guard = std::lock_guard<std::recursive_mutex>;

template <typename T>
void EraseValue(std::vector<T>& v, T value)
{
    v.erase(std::remove(v.begin(), v.end(), value), v.end());
}
} // namespace

// Port objects of either direction: each opens the port at its descriptor's system index at open
// time, as the real service does, and has lost it once the port's program moved elsewhere.
template <typename Base>
class ScriptedPortObject : public Base
{
public:
    ScriptedPortObject(Tr::MidiDeviceDescriptor* desc, std::shared_ptr<TestMidiSystem> system)
        : Base(desc), FSystem(std::move(system)) {}
    ~ScriptedPortObject() override { this->Close(); }
    bool HasLostPort() override
    {
        Guard g(FSystem->mutex);
        return Port() != nullptr && Port()->address != FOpenedAt;
    }

protected:
    TestMidiPort* Port() const { return static_cast<TestMidiPort*>(this->FHandle.load()); }
    void OpenImpl() override
    {
        Guard g(FSystem->mutex);
        const Tr::MidiDeviceDescriptor& desc = *this->FDesc;
        TestMidiPort* port = FSystem->PortAt(desc.FIsInput ? 1 : 0, desc.FSystemIndex);
        if (port == nullptr)
            throw Tr::EMidiError(std::string("Cannot open MIDI ") + (desc.FIsInput ? "input" : "output") + " device \""
                                 + desc.GetName() + "\":");
        if (port->openFailure == OpenFailure::Throw)
            throw Tr::EMidiError(port->failMessage);
        if (port->openFailure == OpenFailure::StayClosed)
            return;
        ++port->openCount;
        ++port->openObjects;
        FOpenedAt = port->address;
        this->FHandle = port;
    }
    bool CloseImpl(void* handle) override
    {
        Guard g(FSystem->mutex);
        --static_cast<TestMidiPort*>(handle)->openObjects;
        ++static_cast<TestMidiPort*>(handle)->closeCount;
        return true;
    }

    std::shared_ptr<TestMidiSystem> FSystem;
    int FOpenedAt = 0;   // the port's address when opened
};

class TestMidiInput : public ScriptedPortObject<Tr::TMidiInputBase>
{
public:
    using ScriptedPortObject::ScriptedPortObject;
    void Start() override
    {
        Guard g(FSystem->mutex);
        if (Port() == nullptr || FStarted)
            return;
        if (Port()->startFailure)
            throw Tr::EMidiError("scripted start failure");
        Port()->startedInputs.push_back(this);
        FStarted = true;
    }
    void Stop() override
    {
        Guard g(FSystem->mutex);
        if (Port() != nullptr)
            EraseValue(Port()->startedInputs, this);
        FStarted = false;
    }
    bool IsStarted() override
    {
        Guard g(FSystem->mutex);
        return IsOpen() && FStarted;
    }

protected:
    bool CloseImpl(void* handle) override
    {
        Guard g(FSystem->mutex);
        EraseValue(static_cast<TestMidiPort*>(handle)->startedInputs, static_cast<TestMidiInput*>(this));
        FStarted = false;
        return ScriptedPortObject::CloseImpl(handle);
    }

private:
    bool FStarted = false;
};

class TestMidiOutput : public ScriptedPortObject<Tr::TMidiOutputBase>
{
public:
    using ScriptedPortObject::ScriptedPortObject;
    using Tr::TMidiOutputBase::SendShort;
    unsigned char SendShort(unsigned char status, unsigned char data1, unsigned char data2) override
    {
        const int n = Tr::ShortMidiMessageLength(status);
        const unsigned char bytes[3] = {status, data1, data2};
        return n >= 1 && Record(SendKind::Short, bytes, n) ? 1 : 0;
    }
    int SendLongWait(void* data, int len, Tr::TMidiOutWaitCallback* /*callback*/) override
    {
        return data != nullptr && len >= 1 && Record(SendKind::Long, static_cast<const unsigned char*>(data), len) ? len : 0;
    }

private:
    bool Record(SendKind kind, const unsigned char* data, int len)
    {
        Guard g(FSystem->mutex);
        TestMidiPort* port = Port();
        // A port that vanished or moved while open refuses, as a send to a gone device fails.
        if (port == nullptr || !port->present || port->address != FOpenedAt || port->sendFailure == SendFailure::Refuse)
            return false;
        if (port->sendFailure == SendFailure::Throw)
            throw Tr::EMidiError("scripted send failure");
        FSystem->sent.push_back(SentMessage{port->id, kind, std::vector<unsigned char>(data, data + len)});
        return true;
    }
};

TestMidiPort* TestMidiSystem::PortAt(unsigned char isInput, int systemIndex)
{
    const std::vector<int>& list = order[isInput ? 1 : 0];
    if (systemIndex < 0 || systemIndex >= static_cast<int>(list.size()))
        return nullptr;
    return ports[static_cast<size_t>(list[static_cast<size_t>(systemIndex)])].get();
}

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
    const int id = static_cast<int>(FSystem->ports.size());
    TestMidiPort& port = *FSystem->ports.emplace_back(std::make_unique<TestMidiPort>());
    port.id = id;
    port.isInput = isInput ? 1 : 0;
    std::tie(port.name, port.serial, port.interfaceName, port.publicName) = std::tie(name, serial, interfaceName, publicName);
    FSystem->order[port.isInput].push_back(id);
    return id;
}

void TestMidiFactory::RemovePort(int id)
{
    With(id, [this](TestMidiPort& p) {
        p.present = false;
        EraseValue(FSystem->order[p.isInput], p.id);
    });
}

void TestMidiFactory::RestorePort(int id)
{
    With(id, [this](TestMidiPort& p) {
        if (!p.present)
            FSystem->order[p.isInput].push_back(p.id);
        p.present = true;
    });
}

void TestMidiFactory::MovePort(int id, int systemIndex)
{
    With(id, [this, systemIndex](TestMidiPort& p) {
        if (!p.present)
            return;
        std::vector<int>& list = FSystem->order[p.isInput];
        EraseValue(list, p.id);
        list.insert(list.begin() + std::clamp(systemIndex, 0, static_cast<int>(list.size())), p.id);
    });
}

std::vector<std::vector<unsigned char>> TestMidiFactory::SentTo(int id) const
{
    std::vector<std::vector<unsigned char>> out;
    for (const SentMessage& m : SentLog())
        if (m.portId == id)
            out.push_back(m.bytes);
    return out;
}

int TestMidiFactory::Inject(int id, std::vector<unsigned char> bytes, unsigned long long time)
{
    Guard g(FSystem->mutex);
    const std::vector<TestMidiInput*> inputs = Port(id).startedInputs;
    int delivered = 0;
    for (TestMidiInput* input : inputs)
        delivered += std::max(input->SplitAndDispatchMidiMessage(time, bytes.data(), static_cast<int>(bytes.size())), 0);
    return inputs.empty() ? -1 : delivered;
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

Tr::TMidiDeviceBase* TestMidiFactory::CreateDevice(Tr::MidiDeviceDescriptor* desc)
{
    if (desc == nullptr)
        return nullptr;
    Tr::MidiDeviceDescriptor* copy = desc->Clone();
    if (copy->FIsInput)
        return new TestMidiInput(copy, FSystem);
    return new TestMidiOutput(copy, FSystem);
}

void ForgetRegisteredBackEnds()
{
    if (Tr::MidiManagerInitializers == nullptr)
        return;
    for (Tr::MidiManagerInitializer* init : *Tr::MidiManagerInitializers)
        delete init;
    delete Tr::MidiManagerInitializers;
    Tr::MidiManagerInitializers = nullptr;
}
} // namespace TestMidi
