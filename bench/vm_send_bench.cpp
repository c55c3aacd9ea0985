// Paced sending on a real sequencer: the spacing of back-to-back 546-byte messages at the virtual
// card's raw device, against the 174.72 ms they take on a MIDI cable, and how long the send calls
// take. Runs inside the test VM: bench/vm_bench.sh vm_send_bench.
#include "../tests/vm/VmDevices.h"
#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "midi/MidiPortMac.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace VmDevices;

namespace
{
const double WireMs = 174.72;
const int Pairs = 10;
const int Burst = 10;

struct Figures
{
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double Median()
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0 : values[values.size() / 2];
    }
    double Min() { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }
    double Max() { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

std::unique_ptr<Tr::TMidiOutputMac> OpenCardOutput()
{
    Tr::MidiMacFactory* factory = Tr::MidiMacFactory::instance();
    Tr::TList<Tr::MidiDeviceDescriptor*> ports;
    factory->GetDeviceList(0, ports);
    std::unique_ptr<Tr::TMidiOutputMac> output;
    for (Tr::MidiDeviceDescriptor* d : ports)
    {
        if (!output && d->GetName() == VirmidiPort)
            output.reset(static_cast<Tr::TMidiOutputMac*>(factory->CreateDevice(d)));
        delete d;
    }
    if (output)
        output->Open();
    return output;
}

// Host time a SendLong call takes, in microseconds.
double TimedSend(Tr::TMidiOutputMac& output, std::vector<uint8_t>& message, bool& sent)
{
    const uint64_t before = AudioGetCurrentHostTime();
    sent = output.SendLong(message.data(), static_cast<int>(message.size())) != 0 && sent;
    return Millis(AudioGetCurrentHostTime() - before) * 1000.0;
}
} // namespace

int main()
{
    if (!InVm() || !EnsureVirmidi())
    {
        std::printf("vm_send_bench: needs the test VM's sequencer and virtual card; run bench/vm_bench.sh vm_send_bench\n");
        return 0;
    }
    int status = 0;
    try
    {
        std::unique_ptr<Tr::TMidiOutputMac> output = OpenCardOutput();
        RawMidi raw(RawDevice, O_RDONLY);
        if (!output || !output->IsOpen() || !raw.IsOpen())
            throw Tr::Exception("VirMIDI 0-0 cannot be opened");
        std::vector<uint8_t> message = Sysex(546, 1);

        Figures spacing;
        Figures calls;
        bool sent = true;
        for (int i = 0; i < Pairs; ++i)
        {
            // Let the pacing clock run idle, so the first message of the pair goes at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            calls.Add(TimedSend(*output, message, sent));
            calls.Add(TimedSend(*output, message, sent));
            uint64_t first = 0;
            uint64_t second = 0;
            sent = raw.Read(546, 3000, &first).size() == 546 && raw.Read(546, 3000, &second).size() == 546 && sent;
            spacing.Add(Millis(second - first));
        }

        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        uint64_t burstStart = 0;
        uint64_t burstEnd = 0;
        for (int i = 0; i < Burst; ++i)
            calls.Add(TimedSend(*output, message, sent));
        for (int i = 0; i < Burst; ++i)
            sent = raw.Read(546, 3000, i == 0 ? &burstStart : &burstEnd).size() == 546 && sent;
        const double burstSpacing = Millis(burstEnd - burstStart) / (Burst - 1);

        Figures waits;
        for (int i = 0; i < 3; ++i)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            const uint64_t before = AudioGetCurrentHostTime();
            sent = output->SendLongWait(message.data(), 546, nullptr) == 546 && sent;
            waits.Add(Millis(AudioGetCurrentHostTime() - before));
            sent = raw.Read(546, 3000).size() == 546 && sent;
        }

        std::printf("vm_send_bench: back-to-back 546-byte SendLong pairs (%d): spacing median %.2f ms "
                    "(min %.2f, max %.2f), ratio to %.2f ms: %.3f\n",
                    Pairs, spacing.Median(), spacing.Min(), spacing.Max(), WireMs, spacing.Median() / WireMs);
        std::printf("vm_send_bench: burst of %d: mean spacing %.2f ms, ratio %.3f\n", Burst, burstSpacing,
                    burstSpacing / WireMs);
        std::printf("vm_send_bench: SendLong call (%zu calls): median %.1f us, max %.1f us\n", calls.values.size(),
                    calls.Median(), calls.Max());
        std::printf("vm_send_bench: SendLongWait of 546 bytes: median %.1f ms\n", waits.Median());
        if (!sent)
        {
            std::printf("vm_send_bench: some messages were not sent or did not arrive\n");
            status = 1;
        }
        output.reset();
    }
    catch (const Tr::Exception& e)
    {
        std::printf("vm_send_bench: %s\n", e.what());
        status = 1;
    }
    Tr::VuskSystem::shutdown();
    return status;
}
