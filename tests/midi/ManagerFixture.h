// A fresh MIDI manager with one scripted back end, for the manager's tests.
//
// The manager is a process-wide singleton that, by design, cannot be made again once it has been
// destroyed (asking for it is then a fatal assertion). Every test here makes its own manager and
// shuts it down at its end, so each test needs a process of its own: run this binary through ctest
// (which starts every test case in its own process), or run one case at a time with
// --gtest_filter. The fixture fails at once, with that advice, when a manager was already
// destroyed in this process.
#pragma once

#include "TestMidiFactory.h"

#include "midi/MidiManager.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <string>
#include <vector>

namespace ManagerTesting
{
// Writes one line per notification into a log that several listeners may share, so the order
// across listeners shows: "<who> <event> <in|out> <id>[ <text>]".
class LogListener : public Tr::MidiManagerDeviceControlListener, public Tr::TMidiDeviceListListener
{
public:
    LogListener(std::vector<std::string>& log, std::string who) : FLog(log), FWho(std::move(who)) {}

    void OnBeforeOpenMidiDevice(int id, unsigned char isInput) override { Add("beforeOpen", id, isInput); }
    void OnAfterOpenMidiDevice(int id, unsigned char isInput) override { Add("afterOpen", id, isInput); }
    void OnBeforeCloseMidiDevice(int id, unsigned char isInput) override { Add("beforeClose", id, isInput); }
    void OnAfterCloseMidiDevice(int id, unsigned char isInput) override { Add("afterClose", id, isInput); }
    void OnMidiStringMessage(int id, unsigned char isInput, const std::string& text) override
    {
        Add("string", id, isInput, text);
    }
    void OnMidiErrorMessage(int id, unsigned char isInput, const std::string& text) override
    {
        Add("error", id, isInput, text);
    }
    void OnMidiDeviceListChanged() override
    {
        ++listChanges;
        FLog.push_back(FWho + " list");
    }

    int listChanges = 0;

private:
    void Add(const char* what, int id, unsigned char isInput, const std::string& text = "")
    {
        std::string line = FWho + " " + what + (isInput ? " in " : " out ") + std::to_string(id);
        if (!text.empty())
            line += " " + text;
        FLog.push_back(line);
    }

    std::vector<std::string>& FLog;
    std::string FWho;
};

class ManagerTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the manager (suspended, lists not yet built) and registers the scripted factory, as
    // the back end's initializer does at start-up. The factory's cache runs on a manual clock.
    Tr::MidiManager* Start();
    // Moves the factory's clock past its cache period, so that the next listing reads the ports.
    void Later() { factory->AdvanceClock(2000); }
    // A refresh after the scripted ports changed.
    bool Rescan(bool forced);

    juce::ScopedJuceInitialiser_GUI juceInit;
    Tr::MidiManager* manager = nullptr;
    TestMidi::TestMidiFactory* factory = nullptr;   // owned by the shutdown registry
    std::vector<std::string> log;
    LogListener listener{log, "L"};
};
} // namespace ManagerTesting
