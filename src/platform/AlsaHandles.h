#pragma once
// Owning handles for the C resources of the ALSA layer: a sequencer connection, a MIDI byte/event
// coder and the eventfd that wakes a receive thread.

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

namespace Alsa {

struct SeqCloser
{
    void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using SeqHandle = std::unique_ptr<snd_seq_t, SeqCloser>;

// Opens a duplex sequencer connection named name, or returns null. A machine without a sequencer
// is an ordinary case here (nothing is printed); libasound reports other failures itself.
SeqHandle OpenSequencer(const std::string& name);

struct MidiCoderFree
{
    void operator()(snd_midi_event_t* coder) const { snd_midi_event_free(coder); }
};
using MidiCoder = std::unique_ptr<snd_midi_event_t, MidiCoderFree>;

// A coder between MIDI bytes and sequencer events; SysEx is cut into events of at most
// bufferSize bytes. Throws std::bad_alloc when libasound has no memory for it.
MidiCoder NewMidiCoder(size_t bufferSize);

class EventFd
{
public:
    EventFd();     // throws std::system_error when the kernel refuses
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    int fd() const { return FFd; }
    void Signal();
    // Takes the signals back, so that the descriptor is no longer readable.
    void Clear();

private:
    int FFd;
};

} // namespace Alsa
