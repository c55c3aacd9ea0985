// What programs running in the test VM (tests/vm/run-in-vm.sh) share: waiting, the kernel modules,
// and the raw MIDI device of the virtual card as another program would use it. The VM has
// "Midi Through" and the card of snd-virmidi (raw devices /dev/snd/midiC0D0..3, sequencer ports
// "VirMIDI 0-0".."VirMIDI 0-3").
#pragma once

#include "platform/HostClock.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#define REQUIRE_VM()                                                                                        \
    if (std::getenv("QUORVA_VM") == nullptr)                                                                \
    GTEST_SKIP() << "needs the sequencer of the test VM: tests/vm/run-in-vm.sh"

namespace VmDevices
{
constexpr const char* RawDevice = "/dev/snd/midiC0D0";
constexpr const char* VirmidiPort = "VirMIDI 0-0";
constexpr const char* ThroughPort = "Midi Through Port-0";

inline bool InVm()
{
    return std::getenv("QUORVA_VM") != nullptr;
}

inline double Millis(uint64_t hostTicks)
{
    return static_cast<double>(hostTicks) / static_cast<double>(AudioConvertNanosToHostTime(1000000));
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs the JUCE message loop until done or the time is up; done is asked between messages.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    return done();
}

// "load" or "unload" a kernel module of the VM.
inline bool Module(const std::string& action, const std::string& name)
{
    return std::system(("vm-module " + action + " " + name).c_str()) == 0;
}

// Loads snd-virmidi unless its raw device is there; false when it does not come up.
inline bool EnsureVirmidi()
{
    if (access(RawDevice, F_OK) != 0)
        Module("load", "snd-virmidi");
    return WaitFor([] { return access(RawDevice, F_OK) == 0; }, 3000);
}

inline std::vector<uint8_t> Sysex(size_t total, uint8_t seed)
{
    std::vector<uint8_t> bytes(total);
    bytes.front() = 0xF0;
    for (size_t i = 1; i + 1 < total; ++i)
        bytes[i] = static_cast<uint8_t>((seed + i * 7) & 0x7F);
    bytes.back() = 0xF7;
    return bytes;
}

// A raw MIDI device of the virtual card, as another program would use it.
class RawMidi
{
public:
    RawMidi(const char* path, int mode) : FFd(open(path, mode | O_NONBLOCK | O_CLOEXEC))
    {
        // The card hands sequencer data to a reader only once it has started reading.
        uint8_t byte;
        if (FFd >= 0 && (mode & O_ACCMODE) == O_RDONLY)
            [[maybe_unused]] ssize_t n = read(FFd, &byte, 1);
    }
    ~RawMidi()
    {
        if (FFd >= 0)
            close(FFd);
    }
    RawMidi(const RawMidi&) = delete;
    RawMidi& operator=(const RawMidi&) = delete;

    bool IsOpen() const { return FFd >= 0; }

    // Reads until count bytes came or timeoutMs passed, never more than count; arrival gets the
    // host time of the last byte.
    std::vector<uint8_t> Read(size_t count, int timeoutMs, uint64_t* arrival = nullptr)
    {
        std::vector<uint8_t> bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count && std::chrono::steady_clock::now() < end)
        {
            pollfd fd{FFd, POLLIN, 0};
            if (poll(&fd, 1, 20) <= 0)
                continue;
            uint8_t buffer[1024];
            const ssize_t n = read(FFd, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n > 0)
            {
                if (arrival != nullptr)
                    *arrival = AudioGetCurrentHostTime();
                bytes.insert(bytes.end(), buffer, buffer + n);
            }
        }
        return bytes;
    }

    bool Write(const std::vector<uint8_t>& bytes)
    {
        size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (done < bytes.size() && std::chrono::steady_clock::now() < end)
        {
            pollfd fd{FFd, POLLOUT, 0};
            if (poll(&fd, 1, 20) <= 0)
                continue;
            const ssize_t n = write(FFd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
        }
        return done == bytes.size();
    }

private:
    int FFd;
};
} // namespace VmDevices
