// A scripted MIDI back end for tests: a device factory whose "system" ports are set up by the test,
// and the port objects it makes. It stands in for the real MIDI service wherever the MIDI library
// or the application is tested without one (the MIDI manager's tests, GUI tests of the port chooser).
//
//   TestMidi::TestMidiFactory factory;                  // type code 'MIDI' unless told otherwise
//   int synth = factory.AddPort(0, "Synth");            // an output appears
//   int keys = factory.AddPort(1, "Keys", "0000000A", "00000001");   // an input with unit identifiers
//   factory.SetOpenFailure(synth, TestMidi::OpenFailure::Throw, "no such device");
//   factory.RemovePort(keys);                           // the input vanishes ...
//   factory.RestorePort(keys);                          // ... and comes back (same identity, at the end)
//   factory.Inject(keys, {0x90, 0x3C, 0x40});           // bytes arrive at every started input of Keys
//   factory.SentTo(synth);                              // what was sent to Synth, message by message
//
// Ports are named by the int id AddPort returns; ids stay valid for the factory's life. Like the real
// service, a port object opens the port found at its descriptor's system index *at open time*, so a
// stale descriptor opens whatever port now stands at that index, or fails when none does.
//
// The factory's cache rule runs on a clock of its own once UseManualClock() was called; otherwise on
// the real one. The factory registers with the shutdown registry like every factory; deleting it
// earlier is fine. Port objects keep the scripted system alive, so they may outlive the factory.
//
// Scripting calls are meant for one thread; Inject may be called from any thread (it stands for the
// service's receive thread) and is serialised against Start, Stop and Close of the inputs.
#pragma once

#include "midi/MidiBase.h"
#include "midi/MidiDevice.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace TestMidi
{
class TestMidiInput;

enum class OpenFailure
{
    None,         // opens
    Throw,        // OpenImpl throws Tr::EMidiError with the scripted message
    StayClosed,   // OpenImpl returns without opening and without an exception
};

enum class SendFailure
{
    None,     // every send is accepted and recorded
    Refuse,   // sends return 0 and record nothing
    Throw,    // sends throw Tr::EMidiError and record nothing
};

enum class SendKind
{
    Short,   // through SendShort
    Long,    // through SendLong / SendLongWait
};

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

    // ---- Scripting the system's ports ----
    // Appends a present port to the system list of its direction; returns its id.
    int AddPort(unsigned char isInput, const std::string& name, const std::string& serial = "",
                const std::string& interfaceName = "", const std::string& publicName = "");
    void RemovePort(int id);                   // the port vanishes; open port objects stay open
    void RestorePort(int id);                  // a vanished port comes back, at the end of its list
    void MovePort(int id, int systemIndex);    // reorders the present ports of its direction
    void RenamePort(int id, const std::string& name);
    void SetOpenFailure(int id, OpenFailure mode, const std::string& message = "scripted failure");
    void SetSendFailure(int id, SendFailure mode);
    void SetStartFailure(int id, bool fail);

    // ---- Cache clock ----
    void UseManualClock(int startMs = 100000);
    void AdvanceClock(int ms);
    int RecreateCount() const { return FRecreateCount; }   // recreateCache calls, both directions

    // ---- Observing ----
    int FindPort(unsigned char isInput, const std::string& name) const;   // by scripted name; -1 if none
    bool IsPresent(int id) const;
    bool IsOpen(int id) const;     // some port object has it open
    bool IsStarted(int id) const;  // some input object receives from it
    int OpenCount(int id) const;
    int CloseCount(int id) const;
    std::vector<SentMessage> SentLog() const;                      // every port, in sending order
    std::vector<std::vector<unsigned char>> SentTo(int id) const;  // one port
    void ClearSent();

    // ---- Incoming data ----
    // Hands the bytes to SplitAndDispatchMidiMessage of every started input of the port. Returns
    // the messages delivered in all, or -1 when no input of that port is started.
    int Inject(int id, const std::vector<unsigned char>& bytes, unsigned long long time = 0);
    int Inject(int id, unsigned char* data, int len, unsigned long long time = 0);

    // ---- MidiDeviceFactory ----
    void recreateCache(unsigned char isInput, Tr::TList<Tr::MidiDeviceDescriptor*>& list) override;
    int GetNumDevs(unsigned char isInput) override;
    unsigned int GetType() override { return FType; }
    std::string GetTypeName(unsigned char isInput) override;
    Tr::TMidiDeviceBase* CreateDevice(Tr::MidiDeviceDescriptor* desc) override;

protected:
    int CurrentMilliTime() override;

private:
    TestMidiPort& Port(int id) const;

    std::shared_ptr<TestMidiSystem> FSystem;
    unsigned int FType;
    bool FManualClock = false;
    int FClock = 0;
    int FRecreateCount = 0;
};

// Port objects. Both open the port at their descriptor's system index.
class TestMidiInput : public Tr::TMidiInputBase
{
public:
    TestMidiInput(Tr::MidiDeviceDescriptor* desc, std::shared_ptr<TestMidiSystem> system);
    ~TestMidiInput() override;

    void Start() override;
    void Stop() override;
    bool IsStarted() override;

protected:
    void OpenImpl() override;
    bool CloseImpl(void* handle) override;

private:
    std::shared_ptr<TestMidiSystem> FSystem;
    bool FStarted = false;
};

class TestMidiOutput : public Tr::TMidiOutputBase
{
public:
    TestMidiOutput(Tr::MidiDeviceDescriptor* desc, std::shared_ptr<TestMidiSystem> system);
    ~TestMidiOutput() override;

    using Tr::TMidiOutputBase::SendShort;
    unsigned char SendShort(unsigned char status, unsigned char data1, unsigned char data2) override;
    int SendLongWait(void* data, int len, Tr::TMidiOutWaitCallback* callback) override;

protected:
    void OpenImpl() override;
    bool CloseImpl(void* handle) override;

private:
    bool Record(SendKind kind, const unsigned char* data, int len);

    std::shared_ptr<TestMidiSystem> FSystem;
};

// Records every message an input delivers (thread-safe), for tests of incoming data.
class RecordingDataListener : public Tr::TMidiDeviceDataListener
{
public:
    struct Message
    {
        Tr::TMidiInputBase* sender = nullptr;
        unsigned long long time = 0;
        std::vector<unsigned char> bytes;
    };

    void OnMidiDeviceMessage(Tr::TMidiInputBase* sender, unsigned long long time, unsigned char* data, int len) override;
    std::vector<Message> Messages() const;
    std::vector<std::vector<unsigned char>> Pieces() const;   // just the bytes of each message
    void Clear();

private:
    mutable std::mutex FMutex;
    std::vector<Message> FMessages;
};
} // namespace TestMidi
