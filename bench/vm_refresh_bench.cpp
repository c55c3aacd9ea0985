// The port-list refresh on a real sequencer: how long the MIDI manager takes to list 200 and 1000
// ports of other programs through the real back end, and how the time grows with the count. Runs
// inside the test VM: bench/vm_bench.sh vm_refresh_bench.
#include "../tests/vm/VmDevices.h"
#include "core/TrAutoDelete.h"
#include "midi/MidiManager.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace VmDevices;

namespace
{
const int PortsPerProgram = 200;   // a sequencer client holds at most 254
const int Repeats = 5;

// Programs with n ports between them, each port readable and writable, so each is an input and an
// output of the manager. The names repeat from one run to the next, so the entries are reused.
class Programs
{
public:
    explicit Programs(int n)
    {
        for (int made = 0; made < n;)
        {
            snd_seq_t* seq = nullptr;
            if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
                throw Tr::Exception("no sequencer client for the ports");
            FClients.push_back(seq);
            snd_seq_set_client_name(seq, ("Bench " + std::to_string(FClients.size())).c_str());
            for (int p = 0; p < PortsPerProgram && made < n; ++p, ++made)
                if (snd_seq_create_simple_port(seq, ("Port " + std::to_string(made)).c_str(),
                                               SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                                   | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION)
                    < 0)
                    throw Tr::Exception("the sequencer refused port " + std::to_string(made));
        }
    }
    ~Programs()
    {
        for (snd_seq_t* seq : FClients)
            snd_seq_close(seq);
    }
    Programs(const Programs&) = delete;
    Programs& operator=(const Programs&) = delete;

private:
    std::vector<snd_seq_t*> FClients;
};

// Milliseconds of one refresh that reads the ports anew (as after the device-change notifier).
double TimedRefresh(Tr::MidiManager& manager)
{
    manager.ClearFactoryCaches();
    const uint64_t before = AudioGetCurrentHostTime();
    manager.RefreshDevList(1, 0);
    return Millis(AudioGetCurrentHostTime() - before);
}

int PresentCount(Tr::MidiManager& manager, unsigned char isInput)
{
    int n = 0;
    for (int i = 0; i < manager.GetDevCount(isInput); ++i)
        n += manager.GetDevDescriptor(i, isInput)->Exists() ? 1 : 0;
    return n;
}

struct Run
{
    double first = 0;    // the refresh that finds the ports new
    double median = 0;   // later refreshes of the same ports
};

Run Measure(Tr::MidiManager& manager, int n)
{
    const int before = PresentCount(manager, 0);
    Run run;
    {
        Programs programs(n);
        run.first = TimedRefresh(manager);
        if (PresentCount(manager, 0) != before + n || PresentCount(manager, 1) != before + n)
            throw Tr::Exception("the refresh did not find all " + std::to_string(n) + " ports");
        std::vector<double> times;
        for (int i = 0; i < Repeats; ++i)
            times.push_back(TimedRefresh(manager));
        std::sort(times.begin(), times.end());
        run.median = times[times.size() / 2];
    }
    TimedRefresh(manager);   // the ports are gone again
    return run;
}

void Print(int n, const Run& run)
{
    std::printf("vm_refresh_bench: %4d ports in and out: first refresh %.1f ms, later refreshes median %.1f ms\n", n,
                run.first, run.median);
}
} // namespace

int main()
{
    if (!InVm())
    {
        std::printf("vm_refresh_bench: needs the test VM's sequencer; run bench/vm_bench.sh vm_refresh_bench\n");
        return 0;
    }
    int status = 0;
    {
        juce::ScopedJuceInitialiser_GUI juceInit;
        try
        {
            Tr::MidiManager* manager = Tr::MidiManager::instance();
            manager->SetSuspended(0);
            Measure(*manager, 200);   // warms the entries and the back end's tables up
            const Run small = Measure(*manager, 200);
            const Run large = Measure(*manager, 1000);
            Print(200, small);
            Print(1000, large);
            std::printf("vm_refresh_bench: 1000 against 200 ports: first refresh %.2fx, later refreshes %.2fx "
                        "(5x is linear)\n",
                        large.first / small.first, large.median / small.median);
        }
        catch (const Tr::Exception& e)
        {
            std::printf("vm_refresh_bench: %s\n", e.what());
            status = 1;
        }
        Tr::VuskSystem::shutdown();
    }
    return status;
}
