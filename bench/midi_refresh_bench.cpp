// Times the MIDI manager's port-list refresh with 10, 100 and 1000 scripted ports per direction:
// the first scan that makes the entries, a forced full rescan that matches them again, and an
// unforced refresh whose unchanged counts skip the listing. Prints the times.
#include "TestMidiFactory.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace
{
double MillisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

template <typename F>
double Time(F f, int repeats)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i)
        f();
    return MillisSince(start) / repeats;
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juceInit;
    // The manager lives once per process, so the sizes grow one list: entries are never removed.
    Tr::MidiManager* manager = Tr::MidiManager::instance();
    manager->StopDetectingMIDIDeviceChanges();
    auto* factory = new TestMidi::TestMidiFactory();
    manager->AddFactory(factory, 0);
    manager->SetSuspended(0);

    std::printf("%-8s %14s %14s %14s\n", "ports", "first scan ms", "full ms", "unforced ms");
    int made = 0;
    for (int size : {10, 100, 1000})
    {
        for (; made < size; ++made)
        {
            factory->AddPort(0, "Output " + std::to_string(made));
            factory->AddPort(1, "Input " + std::to_string(made));
        }
        const double first = Time(
            [&] {
                manager->ClearFactoryCaches();
                manager->RefreshDevList(1, 0);
            },
            1);
        const int repeats = size >= 1000 ? 5 : 50;
        const double full = Time(
            [&] {
                manager->ClearFactoryCaches();
                manager->RefreshDevList(1, 0);
            },
            repeats);
        const double unforced = Time([&] { manager->RefreshDevList(0, 0); }, repeats * 10);
        if (manager->GetDevCount(0) != size || manager->GetDevCount(1) != size)
        {
            std::fprintf(stderr, "unexpected entry count %d/%d for %d ports\n", manager->GetDevCount(0),
                         manager->GetDevCount(1), size);
            return 1;
        }
        std::printf("%-8d %14.3f %14.3f %14.4f\n", size, first, full, unforced);
    }
    Tr::VuskSystem::shutdown();
    return 0;
}
