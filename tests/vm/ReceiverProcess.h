// Another program that receives MIDI in a process of its own, for the tests of sends to a program
// that has stopped reading (SIGSTOP). The test program starts itself again (/proc/self/exe) with
// QUORVA_VM_RECEIVER=<name>: that process opens a sequencer client named <name> with one writable
// port of the same name, reports its client number on stdout and reads events until it is stopped
// or killed. Include this header in one source file of a test program only.
#pragma once

#include "platform/AlsaPeerPool.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace VmDevices
{
namespace ReceiverDetail
{
[[noreturn]] inline void Run(const char* name)
{
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
        _exit(2);
    snd_seq_set_client_name(seq, name);
    if (snd_seq_create_simple_port(seq, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION)
        < 0)
        _exit(3);
    dprintf(1, "%d\n", snd_seq_client_id(seq));
    for (;;)
    {
        snd_seq_event_t* event = nullptr;
        snd_seq_event_input(seq, &event);
    }
}

// Runs before main in the started copy, which never gets to the tests.
inline const bool receiverMode = [] {
    if (const char* name = std::getenv("QUORVA_VM_RECEIVER"))
        Run(name);
    return false;
}();
} // namespace ReceiverDetail

class ReceiverProcess
{
public:
    explicit ReceiverProcess(const std::string& name)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string setting = "QUORVA_VM_RECEIVER=" + name;
        char* const argv[] = {const_cast<char*>("receiver"), nullptr};
        char* const envp[] = {const_cast<char*>(setting.c_str()), nullptr};
        if (posix_spawn(&FPid, "/proc/self/exe", &actions, nullptr, argv, envp) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char text[32] = {};
        size_t got = 0;
        pollfd fd{out[0], POLLIN, 0};
        while (FPid > 0 && got + 1 < sizeof text && poll(&fd, 1, 10000) > 0)
        {
            const ssize_t n = read(out[0], text + got, sizeof text - 1 - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
            if (text[got - 1] == '\n')
                break;
        }
        close(out[0]);
        if (got > 0)
            FClient = std::atoi(text);
    }
    ~ReceiverProcess() { Kill(); }
    ReceiverProcess(const ReceiverProcess&) = delete;
    ReceiverProcess& operator=(const ReceiverProcess&) = delete;

    // Its sequencer client number, -1 when it did not start.
    int Client() const { return FClient; }

    // Stops it (SIGSTOP) and waits until it is stopped: it reads nothing from then on.
    bool Stop()
    {
        int status = 0;
        return FPid > 0 && kill(FPid, SIGSTOP) == 0 && waitpid(FPid, &status, WUNTRACED) == FPid
               && WIFSTOPPED(status);
    }

    // Ends it and waits until it has gone, its client with it.
    void Kill()
    {
        if (FPid <= 0)
            return;
        kill(FPid, SIGKILL);
        while (waitpid(FPid, nullptr, 0) < 0 && errno == EINTR)
        {
        }
        FPid = -1;
    }

    // The free cells of its input and the cells of the whole input; false when it has none.
    bool InputRoom(int& free, int& pool) const
    {
        snd_seq_t* seq = nullptr;
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
            return false;
        pollfd fd{};
        const bool known = snd_seq_poll_descriptors(seq, &fd, 1, POLLOUT) == 1
                           && Alsa::PeerInputPool(fd.fd, FClient, pool, free);
        snd_seq_close(seq);
        return known;
    }

private:
    pid_t FPid = -1;
    int FClient = -1;
};
} // namespace VmDevices
