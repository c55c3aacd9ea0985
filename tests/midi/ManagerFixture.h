// A fresh MIDI manager with one scripted back end, in a process of its own, for the manager's tests.
#pragma once

#include "FreshProcess.h"
#include "TestMidiFactory.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiManager.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ManagerTesting
{
using Lines = std::vector<std::string>;

// Writes one line per notification into a log that several listeners may share, so the order
// across listeners shows: "<who> <event> <in|out> <id>[ <text>]". The hooks run after the line.
class LogListener : public Tr::MidiManagerDeviceControlListener, public Tr::TMidiDeviceListListener
{
public:
    LogListener(Lines& log, std::string who) : FLog(log), FWho(std::move(who)) {}

    void OnBeforeOpenMidiDevice(int id, unsigned char in) override { Add("beforeOpen", id, in); }
    void OnAfterOpenMidiDevice(int id, unsigned char in) override
    {
        Add("afterOpen", id, in);
        if (onAfterOpen)
            onAfterOpen();
    }
    void OnBeforeCloseMidiDevice(int id, unsigned char in) override { Add("beforeClose", id, in); }
    void OnAfterCloseMidiDevice(int id, unsigned char in) override { Add("afterClose", id, in); }
    void OnMidiStringMessage(int id, unsigned char in, const std::string& text) override { Add("string", id, in, text); }
    void OnMidiErrorMessage(int id, unsigned char in, const std::string& text) override { Add("error", id, in, text); }
    void OnMidiDeviceListChanged() override
    {
        ++listChanges;
        FLog.push_back(FWho + " list");
        if (onList)
            onList();
    }

    int listChanges = 0;
    std::function<void()> onList, onAfterOpen;

private:
    void Add(const char* what, int id, unsigned char in, const std::string& text = "")
    {
        FLog.push_back(FWho + " " + what + (in ? " in " : " out ") + std::to_string(id) + (text.empty() ? "" : " " + text));
    }

    Lines& FLog;
    std::string FWho;
};

class ManagerTest : public ::testing::Test
{
protected:
    // Runs body in a fresh process (see FreshProcess.h) once the manager is made (suspended, lists
    // not yet built) and the scripted factory registered, as the back end's initializer does at
    // start-up. The factory's cache runs on a manual clock. beforeManager runs just before the
    // manager is made.
    void Fresh(const std::function<void()>& body, const std::function<void()>& beforeManager = [] {})
    {
        RunInFreshProcess([&] {
            juce::ScopedJuceInitialiser_GUI juceInit;
            TestMidi::ForgetRegisteredBackEnds();   // the real one registered itself before main
            beforeManager();
            manager = Tr::MidiManager::instance();
            factory = new TestMidi::TestMidiFactory();
            factory->UseManualClock();
            manager->AddFactory(factory, 0);
            manager->AddDeviceControlListener(&listener);
            manager->AddDevListChangeListener(&listener);
            body();
            Tr::VuskSystem::shutdown();   // while the message loop still exists
        });
    }
    // Adds scripted ports, each of a direction (1: input) and a name, in order; their ids.
    template <std::size_t N>
    std::array<int, N> AddPorts(const std::pair<unsigned char, const char*> (&ports)[N])
    {
        std::array<int, N> ids {};
        for (std::size_t i = 0; i < N; ++i)
            ids[i] = factory->AddPort(ports[i].first, ports[i].second);
        return ids;
    }
    // Moves the factory's clock past its cache period, so that the next listing reads the ports.
    void Later() { factory->AdvanceClock(2000); }
    bool Rescan(bool forced)
    {
        Later();
        return manager->RefreshDevList(forced ? 1 : 0, 0);
    }
    // The whole state of one entry in one word each: "present|absent open|closed[ pending]".
    std::string State(int id, unsigned char isInput)
    {
        Tr::MidiManagerDev* e = manager->GetDevDescriptor(id, isInput);
        return std::string(e->Exists() ? "present" : "absent") + (e->IsOpen() ? " open" : " closed")
               + (e->IsPending() ? " pending" : "");
    }

    Tr::MidiManager* manager = nullptr;
    TestMidi::TestMidiFactory* factory = nullptr;   // owned by the shutdown registry
    Lines log;
    LogListener listener{log, "L"};
};
} // namespace ManagerTesting
