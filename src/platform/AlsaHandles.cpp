#include "platform/AlsaHandles.h"

#include <cerrno>
#include <new>
#include <system_error>

#include <sys/eventfd.h>
#include <unistd.h>

namespace Alsa {

namespace {
const char* const kSequencerDevice = "/dev/snd/seq";
}

SeqHandle OpenSequencer(const std::string& name)
{
    // libasound prints its own complaint when the device node is missing; on a machine without a
    // sequencer that is the normal case, so look first and stay quiet.
    if (access(kSequencerDevice, F_OK) != 0)
        return nullptr;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
        return nullptr;
    SeqHandle handle(seq);
    snd_seq_set_client_name(seq, name.c_str());
    return handle;
}

MidiCoder NewMidiCoder(size_t bufferSize)
{
    snd_midi_event_t* coder = nullptr;
    if (snd_midi_event_new(bufferSize, &coder) < 0)
        throw std::bad_alloc();
    MidiCoder handle(coder);
    // Every decoded message carries its own status byte: the receiver gets whole messages.
    snd_midi_event_no_status(coder, 1);
    return handle;
}

EventFd::EventFd()
    : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (FFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventFd::~EventFd()
{
    close(FFd);
}

void EventFd::Signal()
{
    const uint64_t one = 1;
    // A full counter still leaves the descriptor readable, which is all a wake-up needs.
    [[maybe_unused]] ssize_t written = write(FFd, &one, sizeof one);
}

void EventFd::Clear()
{
    uint64_t count = 0;
    // Fails (EAGAIN) only when nothing was signalled, which is the state wanted.
    [[maybe_unused]] ssize_t taken = read(FFd, &count, sizeof count);
}

} // namespace Alsa
