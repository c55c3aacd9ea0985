#include "platform/AlsaClient.h"

#include <juce_events/juce_events.h>

namespace Alsa {

bool Client::SubscribeAnnouncements()
{
    // A private port: only we connect it, to the System client's announcement port.
    const int port = snd_seq_create_simple_port(FSeq.get(), "Announcements", SND_SEQ_PORT_CAP_WRITE,
                                                SND_SEQ_PORT_TYPE_APPLICATION);
    return port >= 0
           && snd_seq_connect_from(FSeq.get(), port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) >= 0;
}

bool Client::IsAnnouncement(const snd_seq_event_t& event)
{
    return event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE;
}

void Client::Announce(const snd_seq_event_t& event)
{
    if (FNotifyProc == nullptr)
        return;
    MIDINotificationMessageID id;
    switch (event.type)
    {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_PORT_START:
        id = kMIDIMsgObjectAdded;
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
    case SND_SEQ_EVENT_PORT_EXIT:
        id = kMIDIMsgObjectRemoved;
        break;
    case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_CHANGE:
        id = kMIDIMsgPropertyChanged;
        break;
    default:
        return;     // subscriptions coming and going change no port list
    }
    // Our own clients and ports coming and going are no news to us.
    if (IsOwnAlsaClient(event.data.addr.client, event.type == SND_SEQ_EVENT_CLIENT_EXIT, FRef))
        return;
    Deliver(FRef, id);
}

void Client::Deliver(MIDIClientRef ref, MIDINotificationMessageID id)
{
    // Listeners expect the thread that made the client, which is the message thread. The client is
    // looked up there, so nothing reaches a routine whose client was disposed of in the meantime.
    juce::MessageManager::callAsync([ref, id] {
        const std::shared_ptr<Client> client = Find(ref);
        if (!client)
            return;
        const MIDINotification notification { id, sizeof(MIDINotification) };
        client->FNotifyProc(&notification, client->FNotifyRefCon);
    });
}

} // namespace Alsa
