// What the programs run in the test VM (tests/vm/run-in-vm.sh) share. The VM has "Midi Through"
// and the card of snd-virmidi (raw devices /dev/snd/midiC0D0..3, sequencer ports "VirMIDI 0-0"..3).
#pragma once

#include "platform/HostClock.h"

#include <alsa/asoundlib.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <cerrno>
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
    if (!VmDevices::InVm())                                                                                 \
    GTEST_SKIP() << "needs the sequencer of the test VM: tests/vm/run-in-vm.sh"

namespace VmDevices
{
inline bool InVm()
{
    return std::getenv("QUORVA_VM") != nullptr;
}

constexpr const char* RawDevice = "/dev/snd/midiC0D0";
constexpr const char* VirmidiPort = "VirMIDI 0-0";
constexpr const char* ThroughPort = "Midi Through Port-0";

inline double Millis(uint64_t hostTicks)
{
    return static_cast<double>(hostTicks) / static_cast<double>(AudioConvertNanosToHostTime(1000000));
}

inline double MillisSince(uint64_t hostTime)
{
    return Millis(AudioGetCurrentHostTime() - hostTime);
}

// Another program's sequencer client with one writable port of the same name (or none), and what
// reaches it. It reads only in Heard and Received: in between its input fills as that of a program
// that stopped reading would.
class OtherProgram
{
public:
    explicit OtherProgram(const char* name, bool withPort = true)
    {
        if (snd_seq_open(&FSeq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
            return;
        snd_seq_set_client_name(FSeq, name);
        if (withPort)
            AddPort(name);
    }
    ~OtherProgram()
    {
        if (FSeq != nullptr)
            snd_seq_close(FSeq);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    int Client() const { return FSeq != nullptr ? snd_seq_client_id(FSeq) : -1; }

    // Another writable port; its number, or negative.
    int AddPort(const char* name)
    {
        return snd_seq_create_simple_port(FSeq, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }

    // The address of the port named port of the client named client, as any program finds it;
    // client -1 when there is none.
    snd_seq_addr_t Find(const std::string& client, const std::string& port) const
    {
        snd_seq_addr_t found{};
        found.client = static_cast<unsigned char>(-1);
        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_client_info_alloca(&clientInfo);
        snd_seq_port_info_alloca(&portInfo);
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(FSeq, clientInfo) >= 0)
        {
            if (client != snd_seq_client_info_get_name(clientInfo))
                continue;
            snd_seq_port_info_set_client(portInfo, snd_seq_client_info_get_client(clientInfo));
            snd_seq_port_info_set_port(portInfo, -1);
            while (snd_seq_query_next_port(FSeq, portInfo) >= 0)
                if (port == snd_seq_port_info_get_name(portInfo))
                    found = *snd_seq_port_info_get_addr(portInfo);
        }
        return found;
    }

    // Writes notes straight to the address until the receiver refuses one because its input is
    // full, at most most of them; whether one was refused.
    bool Flood(snd_seq_addr_t to, int most)
    {
        snd_seq_event_t note;
        snd_seq_ev_clear(&note);
        note.type = SND_SEQ_EVENT_NOTEON;
        note.data.note.note = 60;
        note.data.note.velocity = 1;
        snd_seq_ev_set_dest(&note, to.client, to.port);
        snd_seq_ev_set_direct(&note);
        for (int i = 0; i < most; ++i)
            if (snd_seq_event_output_direct(FSeq, &note) < 0)
                return true;
        return false;
    }

    // SysEx bytes plus other MIDI events heard until `enough` or the time is up.
    size_t Heard(size_t enough, int timeoutMs) { return Read(enough, timeoutMs, nullptr); }

    // The bytes that reached it until `enough` of them came or the time is up: SysEx bytes and
    // notes (as note-on messages); other events are left out.
    std::vector<uint8_t> Received(size_t enough, int timeoutMs)
    {
        std::vector<uint8_t> bytes;
        Read(enough, timeoutMs, &bytes);
        return bytes;
    }

    // Whether a read found that its input had overflowed, which lost everything waiting there.
    bool Overflowed() const { return FOverflowed; }

private:
    // Counts SysEx bytes and events, or with bytes the bytes it keeps there.
    size_t Read(size_t enough, int timeoutMs, std::vector<uint8_t>* bytes)
    {
        size_t heard = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (heard < enough && std::chrono::steady_clock::now() < end)
        {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(FSeq, &event);
            FOverflowed = FOverflowed || result == -ENOSPC;
            if (result < 0 || event == nullptr)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (event->type == SND_SEQ_EVENT_SYSEX)
            {
                const auto* data = static_cast<const uint8_t*>(event->data.ext.ptr);
                heard += event->data.ext.len;
                if (bytes != nullptr)
                    bytes->insert(bytes->end(), data, data + event->data.ext.len);
            }
            else if (bytes != nullptr && event->type == SND_SEQ_EVENT_NOTEON)
            {
                const snd_seq_ev_note_t& note = event->data.note;
                bytes->insert(bytes->end(), {static_cast<uint8_t>(0x90 | note.channel), note.note, note.velocity});
                heard += 3;
            }
            else if (bytes == nullptr && event->type >= SND_SEQ_EVENT_NOTE && event->type <= SND_SEQ_EVENT_SENSING)
                ++heard;
        }
        return heard;
    }

    snd_seq_t* FSeq = nullptr;
    bool FOverflowed = false;
};

// Waits until done or the time is up; with pump the JUCE message loop runs meanwhile.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs, bool pump = false)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end)
    {
        if (pump)
            juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

inline void Pump(int ms)
{
    WaitFor([] { return false; }, ms, true);
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
    for (size_t i = 1; i + 1 < total; ++i)
        bytes[i] = static_cast<uint8_t>((seed + i * 7) & 0x7F);
    bytes.front() = 0xF0;
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

    // Reads until count bytes came or timeoutMs passed; arrival gets the host time of the last byte.
    std::vector<uint8_t> Read(size_t count, int timeoutMs, uint64_t* arrival = nullptr)
    {
        std::vector<uint8_t> bytes(count);
        size_t done = Transfer(POLLIN, bytes.data(), count, timeoutMs, arrival);
        bytes.resize(done);
        return bytes;
    }

    bool Write(std::vector<uint8_t> bytes)
    {
        return Transfer(POLLOUT, bytes.data(), bytes.size(), 10000) == bytes.size();
    }

private:
    size_t Transfer(short direction, uint8_t* bytes, size_t count, int timeoutMs, uint64_t* arrival = nullptr)
    {
        size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < count && std::chrono::steady_clock::now() < end)
        {
            pollfd fd{FFd, direction, 0};
            if (poll(&fd, 1, 20) <= 0)
                continue;
            const ssize_t n = direction == POLLIN ? read(FFd, bytes + done, count - done)
                                                  : write(FFd, bytes + done, count - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            if (n > 0 && arrival != nullptr)
                *arrival = AudioGetCurrentHostTime();
        }
        return done;
    }

    int FFd;
};
} // namespace VmDevices
