// A scripted MIDI back end for tests: a device factory whose "system" ports the test sets up, and the port
// objects it makes. It stands in for the real MIDI service wherever the MIDI library or the application is
// tested without one. Ports are named by the id AddPort returns, valid for the factory's life. Like the
// real service, a port object opens the port at its descriptor's system index *at open time*, so a stale
// descriptor opens whatever port now stands there, or fails when none does. The cache rule runs on a clock
// of the factory's own after UseManualClock(), else on the real one. The factory registers with the
// shutdown registry like every factory (deleting it earlier is fine); port objects keep the scripted system
// alive, so they may outlive it. Scripting is for one thread; Inject may come from any thread (it stands
// for the receive thread) and is serialised against Start, Stop and Close of the inputs.
#pragma once

#include "midi/MidiBase.h"
#include "midi/MidiDevice.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace TestMidi
{
class TestMidiInput;

// Drops the back ends that registered with the MIDI manager before main (the real one), so that a
// manager made afterwards knows only the factories a test adds. Call before the manager exists.
void ForgetRegisteredBackEnds();

// Throw: OpenImpl throws Tr::EMidiError with the scripted message; StayClosed: it returns without
// opening and without an exception.
enum class OpenFailure { None, Throw, StayClosed };
// Refuse: sends return 0; Throw: they throw Tr::EMidiError. Neither records anything.
enum class SendFailure { None, Refuse, Throw };
// Short: through SendShort; Long: through SendLong or SendLongWait.
enum class SendKind { Short, Long };

struct SentMessage
{
    int portId = -1;
    SendKind kind = SendKind::Short;
    std::vector<unsigned char> bytes;
};

// One scripted system port.
struct TestMidiPort
{
    int id = -1;
    unsigned char isInput = 0;
    std::string name, serial, interfaceName, publicName;
    bool present = true;
    OpenFailure openFailure = OpenFailure::None;
    std::string failMessage = "scripted failure";
    SendFailure sendFailure = SendFailure::None;
    bool startFailure = false;
    int openCount = 0;    // successful opens
    int closeCount = 0;   // closes of an open port object
    int openObjects = 0;  // port objects that have it open now
    int address = 0;      // where its program runs; port objects opened before a move have lost it
    std::vector<TestMidiInput*> startedInputs;
};

// The scripted system, shared by the factory and every port object it made.
struct TestMidiSystem
{
    std::recursive_mutex mutex;   // guards everything below
    std::vector<std::unique_ptr<TestMidiPort>> ports;   // index = port id
    std::vector<int> order[2];    // present ports in system order: [0] outputs, [1] inputs
    std::vector<SentMessage> sent;

    TestMidiPort* PortAt(unsigned char isInput, int systemIndex);
};

class TestMidiFactory : public Tr::MidiDeviceFactory
{
public:
    explicit TestMidiFactory(unsigned int type = Tr::PortTypeMIDI);

    int AddPort(unsigned char isInput, const std::string& name, const std::string& serial = "",
                const std::string& interfaceName = "", const std::string& publicName = "");
    void RemovePort(int id);                   // open port objects stay open
    void RestorePort(int id);                  // at the end of its list
    void MovePort(int id, int systemIndex);    // among the present ports of its direction
    // Its program restarts at another address and the port stays listed as it was: port objects
    // that had it open reach nothing any more.
    void RestartPort(int id) { With(id, [](TestMidiPort& p) { ++p.address, p.startedInputs.clear(); }); }
    void RenamePort(int id, const std::string& name) { With(id, [&](TestMidiPort& p) { p.name = name; }); }
    void SetOpenFailure(int id, OpenFailure mode, const std::string& message = "scripted failure")
    {
        With(id, [&](TestMidiPort& p) { p.openFailure = mode, p.failMessage = message; });
    }
    void SetSendFailure(int id, SendFailure mode) { With(id, [=](TestMidiPort& p) { p.sendFailure = mode; }); }
    void SetStartFailure(int id, bool fail) { With(id, [=](TestMidiPort& p) { p.startFailure = fail; }); }

    void UseManualClock(int startMs = 100000) { FManualClock = true; FClock = startMs; }
    void AdvanceClock(int ms) { FClock += ms; }
    int RecreateCount() const { return FRecreateCount; }   // recreateCache calls, both directions

    bool IsOpen(int id) const { return With(id, [](TestMidiPort& p) { return p.openObjects > 0; }); }   // by any port object
    bool IsStarted(int id) const { return With(id, [](TestMidiPort& p) { return !p.startedInputs.empty(); }); }
    int OpenCount(int id) const { return With(id, [](TestMidiPort& p) { return p.openCount; }); }
    int CloseCount(int id) const { return With(id, [](TestMidiPort& p) { return p.closeCount; }); }
    std::vector<SentMessage> SentLog() const   // every port, in sending order
    {
        std::lock_guard<std::recursive_mutex> g(FSystem->mutex);
        return FSystem->sent;
    }
    std::vector<std::vector<unsigned char>> SentTo(int id) const;  // one port
    void ClearSent()
    {
        std::lock_guard<std::recursive_mutex> g(FSystem->mutex);
        FSystem->sent.clear();
    }

    // Hands the bytes to SplitAndDispatchMidiMessage of every started input of the port. Returns
    // the messages delivered in all, or -1 when no input of that port is started.
    int Inject(int id, std::vector<unsigned char> bytes, unsigned long long time = 0);

    void recreateCache(unsigned char isInput, Tr::TList<Tr::MidiDeviceDescriptor*>& list) override;
    int GetNumDevs(unsigned char isInput) override
    {
        std::lock_guard<std::recursive_mutex> g(FSystem->mutex);
        return static_cast<int>(FSystem->order[isInput ? 1 : 0].size());
    }
    unsigned int GetType() override { return FType; }
    std::string GetTypeName(unsigned char isInput) override { return isInput ? "Test MIDI Input" : "Test MIDI Output"; }
    Tr::TMidiDeviceBase* CreateDevice(Tr::MidiDeviceDescriptor* desc) override;

protected:
    int CurrentMilliTime() override { return FManualClock ? FClock : MidiDeviceFactory::CurrentMilliTime(); }

private:
    TestMidiPort& Port(int id) const;
    // Runs f on the port under the system's lock.
    template <typename F>
    auto With(int id, F f) const -> decltype(f(std::declval<TestMidiPort&>()))
    {
        std::lock_guard<std::recursive_mutex> g(FSystem->mutex);
        return f(Port(id));
    }

    std::shared_ptr<TestMidiSystem> FSystem;
    unsigned int FType;
    bool FManualClock = false;
    int FClock = 0;
    int FRecreateCount = 0;
};

} // namespace TestMidi
