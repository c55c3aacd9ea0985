// The settings ini with many aliases and saved output ports, through the program's own roads: the
// read, the MIDI library's load, the first refresh that ends the suspension, and the save at quit
// (read again, keys written, file written). Prints the times, and fails when the file written back
// differs from the one read: nothing in it changed, so not one byte may.
//   bench_settings_ini_bench [count]          count aliases and as many "MIDI.out" entries (20000)
//   bench_settings_ini_bench --make <file> [count]   only writes such a settings file
#include "TestMidiFactory.h"

#include "core/TrAutoDelete.h"
#include "core/TrIniFile.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{
constexpr int kDefaultCount = 20000;
constexpr int kPresentPorts = 10;

double MillisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// In the form the program writes: sections in byte order, one empty line after each. Alias 0 is the
// output chooser's, which the program makes itself when it starts; the others are assigned to the
// saved ports. A section of some other part of the program holds repeated keys and a comment.
std::string SettingsText(int count)
{
    std::ostringstream text;
    text << "[MIDI.alias]\nName0=MIDI Output Device\nDevice0=2:Port 0\n";
    for (int k = 1; k <= count; ++k)
        text << "Name" << k << "=Alias " << k << "\nDevice" << k << "=2:Port " << k % (count / 2 + 1) << "\n";
    text << "\n[MIDI.out]\n";
    for (int k = 0; k < count; ++k)
        text << "Name" << k << "=Port " << k << "\nOptions" << k << "=FF4944494D\n";
    text << "\n[Other part]\nkey=first\n; a note\nkey=second\nlast=  value \n\n";
    return text.str();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 3 && std::string(argv[1]) == "--make")
        return WriteFile(argv[2], SettingsText(argc >= 4 ? std::atoi(argv[3]) : kDefaultCount)) ? 0 : 1;
    const int count = argc >= 2 ? std::atoi(argv[1]) : kDefaultCount;
    if (count < 2)
    {
        std::fprintf(stderr, "usage: %s [count >= 2] | --make <file> [count]\n", argv[0]);
        return 1;
    }

    char dir[] = "/tmp/settings-bench-XXXXXX";
    if (!mkdtemp(dir))
    {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string file = std::string(dir) + "/settings.ini";
    const std::string original = SettingsText(count);
    if (!WriteFile(file, original))
        return 1;

    juce::ScopedJuceInitialiser_GUI juceInit;
    TestMidi::ForgetRegisteredBackEnds();
    Tr::MidiManager* manager = Tr::MidiManager::instance();
    manager->StopDetectingMIDIDeviceChanges();
    auto* factory = new TestMidi::TestMidiFactory();
    for (int i = 0; i < kPresentPorts; ++i)
        factory->AddPort(0, "Port " + std::to_string(i));
    manager->AddFactory(factory, 0);
    Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
    aliases->GetAliasByName("MIDI Output Device", Tr::aliasMidiOut, true);

    auto start = std::chrono::steady_clock::now();
    Tr::TIniFile ini(file);
    ini.ReadFromFile();
    const double readMs = MillisSince(start);

    start = std::chrono::steady_clock::now();
    manager->loadFromIniFile(ini);
    aliases->loadFromIniFile(ini);
    const double loadMs = MillisSince(start);

    start = std::chrono::steady_clock::now();
    manager->SetSuspended(0);
    const double refreshMs = MillisSince(start);

    start = std::chrono::steady_clock::now();
    Tr::TIniFile again(file);
    again.ReadFromFileNoException();
    manager->saveToIniFile(again);
    aliases->saveToIniFile(again);
    const double keysMs = MillisSince(start);
    start = std::chrono::steady_clock::now();
    again.WriteToFile();
    const double writeMs = MillisSince(start);

    const bool same = ReadFile(file) == original;
    std::printf("%d aliases and %d saved output ports (%zu KiB):\n", count + 1, count, original.size() / 1024);
    std::printf("  ini read                       %10.1f ms\n", readMs);
    std::printf("  load into the MIDI library     %10.1f ms\n", loadMs);
    std::printf("  first refresh (%d ports)       %10.1f ms\n", kPresentPorts, refreshMs);
    std::printf("  save: read, write the keys     %10.1f ms\n", keysMs);
    std::printf("  save: write the file           %10.1f ms\n", writeMs);
    std::printf("  written back unchanged         %10s\n", same ? "yes" : "NO");

    Tr::VuskSystem::shutdown();
    unlink(file.c_str());
    rmdir(dir);
    return same ? 0 : 1;
}
