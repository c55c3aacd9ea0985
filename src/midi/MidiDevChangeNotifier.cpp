#include "midi/MidiDevChangeNotifier.h"

#include "midi/MidiManager.h"
#include "platform/SysString.h"

namespace Tr
{
MIDIDevChangeNotifier::MIDIDevChangeNotifier() = default;

MIDIDevChangeNotifier::~MIDIDevChangeNotifier()
{
    if (FClient != 0)
    {
        MIDIClientDispose(FClient);
        FClient = 0;
    }
    FTimer.reset();
}

bool MIDIDevChangeNotifier::registerNotification()
{
    if (FRegistered)
        return true;
    const SysString name(ClientName);
    FRegistered = MIDIClientCreate(name.get(), Callback, this, &FClient) == 0 ? 1 : 0;
    if (FRegistered)
        return true;
    // The library keeps working without notifications; nobody needs to be told.
    FClient = 0;
    FPolling = 1;
    aSyncRefresh();
    return false;
}

void MIDIDevChangeNotifier::aSyncRefresh()
{
    if (!FTimer)
        FTimer.reset(CreateTimer(this, TimerName));
    FTimer->SetInterval(FPolling ? PollMs : DebounceMs);
    FTimer->SetEnabled(1);
}

void MIDIDevChangeNotifier::OnTimer()
{
    if (!FPolling)
        FTimer->SetEnabled(0);
    const unsigned char forced = FPolling ? 0 : 1;
    MidiManager::instance()->RefreshDevList(forced, forced);
}

void Callback(const MIDINotification* message, void* refCon)
{
    if (message == nullptr || refCon == nullptr)
        return;
    // Lost notices (kMIDIMsgSetupChanged) take the same road: whatever they told of is listed.
    if (message->messageID == kMIDIMsgObjectAdded || message->messageID == kMIDIMsgObjectRemoved
        || message->messageID == kMIDIMsgSetupChanged)
        static_cast<MIDIDevChangeNotifier*>(refCon)->aSyncRefresh();
}
} // namespace Tr
