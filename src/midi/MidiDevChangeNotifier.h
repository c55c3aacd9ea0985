// Turns the MIDI service's "port added" and "port removed" notifications, and its "notices were
// lost" one, into one port-list refresh, 2000 ms after the last notification of a burst. Without a
// notification client it polls every 10000 ms instead. Owned by the MIDI manager; everything here
// runs on the message thread.
#pragma once

#include "core/TrTimer.h"
#include "platform/CoreMidi.h"

#include <memory>

namespace Tr
{
class MIDIDevChangeNotifier : public TTimerListener
{
public:
    static constexpr int DebounceMs = 2000;
    static constexpr int PollMs = 10000;
    static constexpr const char* ClientName = "VUSK'S MIDI LISTENER";
    static constexpr const char* TimerName = "MIDIDevChangeNotifier";

    MIDIDevChangeNotifier();
    virtual ~MIDIDevChangeNotifier();
    MIDIDevChangeNotifier(const MIDIDevChangeNotifier&) = delete;
    MIDIDevChangeNotifier& operator=(const MIDIDevChangeNotifier&) = delete;

    // Creates the notification client; when that fails, starts polling and returns false.
    bool registerNotification();
    // (Re)starts the timer: the debounce wait, or the poll period while polling.
    void aSyncRefresh();
    // A refresh after notifications is forced, so the listeners hear of it even when the same
    // ports came back; a poll refresh tells them only of a change.
    void OnTimer() override;

    bool IsRegistered() const { return FRegistered != 0; }
    bool IsPolling() const { return FPolling != 0; }

private:
    MIDIClientRef FClient = 0;
    unsigned char FPolling = 0;
    unsigned char FRegistered = 0;
    std::unique_ptr<TTimer> FTimer;
};

// The notification client's procedure; refCon is the notifier.
void Callback(const MIDINotification* message, void* refCon);
} // namespace Tr
