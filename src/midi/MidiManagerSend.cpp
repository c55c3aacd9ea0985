// Sending to output ports, dispatching incoming data, and the alias and thru bindings both rely on.
// The send and dispatch paths allocate nothing and take no lock: they run for every message, the
// dispatch on an input's receive thread.
#include "midi/MidiManager.h"

#include "core/TrAssert.h"
#include "core/TrException.h"
#include "midi/MidiUtil.h"

namespace Tr
{
bool MidiManager::SendToPort(TMidiDeviceBase* dev, const unsigned char* data, int len)
{
    auto* out = static_cast<TMidiOutputBase*>(dev);
    if (len >= 1 && len <= 3 && !StartsSysexBytes(data[0]))
    {
        // The port takes the length from the status, so any other would go out cut or padded.
        if (len != ShortMidiMessageLength(data[0]))
            return false;
        unsigned int packed = data[0];
        if (len >= 2)
            packed |= static_cast<unsigned int>(data[1]) << 8;
        if (len == 3)
            packed |= static_cast<unsigned int>(data[2]) << 16;
        return out->SendShort(packed) != 0;
    }
    // SysEx bytes, whole or a piece that goes on from an earlier one, go out as they are at any
    // length. The port only reads the message.
    return out->SendLong(const_cast<unsigned char*>(data), len) != 0;
}

// Runs the output filters, last to first; false when one of them ended the send.
bool MidiManager::RunOutFilters(int id, const unsigned char*& data, int& len)
{
    const int n = FOutFilters.Count();
    if (n == 0)
        return true;
    unsigned char continueSend = 1;
    for (int f = n - 1; f >= 0; --f)
    {
        FOutFilters[f]->OnMidiOutFilter(id, &data, &len, &continueSend);
        if (!continueSend)
            return false;
    }
    return true;
}

// Sends to output id when it is present and open; sent becomes true when the port accepted. False
// when an output filter ended the send, which counts as sent; a filter's changes of data and len
// hold for the later ports too.
bool MidiManager::SendToOpenOutput(int id, const unsigned char*& data, int& len, bool& sent)
{
    MMDevOut* e = FOutDevs[id];
    if (!e->FExists || !e->IsOpen())
        return true;
    if (!RunOutFilters(id, data, len))
        return false;
    if (SendToPort(e->FDev.get(), data, len))
        sent = true;
    return true;
}

bool MidiManager::SendMessageAllDevs(const unsigned char* data, int len)
{
    if (FSuspended)
        return false;
    const int count = FOutDevs.Count();
    if (count == 0)
        return false;
    bool sent = false;
    for (int i = count - 1; i >= 0; --i)
        if (!SendToOpenOutput(i, data, len, sent))
            return true;
    return sent;
}

bool MidiManager::SendMessage(int id, const unsigned char* data, int len)
{
    TR_ASSERT(id >= 0 && id < FOutDevs.GetCount());
    if (FSuspended)
        return false;
    MMDevOut* e = FOutDevs[id];
    if (!e->FDev)
        return false;
    if (!RunOutFilters(id, data, len))
        return true;
    return SendToPort(e->FDev.get(), data, len);
}

bool MidiManager::SendMessageToAliasList(TMidiAliasList& list, const unsigned char* data, int len)
{
    if (FSuspended || list.Count() == 0)
        return false;
    bool sent = false;
    for (int a = list.Count() - 1; a >= 0; --a)
    {
        TMidiAlias* alias = list[a];
        const int id = alias->FUserID;
        if (id < 0 || id >= FOutDevs.Count() || alias->FType != aliasMidiOut)
            continue;
        if (!SendToOpenOutput(id, data, len, sent))
            return true;
    }
    return sent;
}

void MidiManager::OnMidiDeviceMessage(TMidiInputBase* sender, unsigned long long time, unsigned char* data, int len)
{
    const int n = FInFilters.Count();
    if (n > 0)
    {
        unsigned char continueDispatch = 1;
        for (int f = 0; f < n; ++f)
        {
            FInFilters[f]->OnMidiInFilter(sender->UserIndex, &time, &data, &len, &continueDispatch);
            if (!continueDispatch)
                return;
        }
    }
    MidiMessageHandler* handler = FMessageHandler;
    if (FSuspended || handler == nullptr)
        return;
    unsigned char handled = 0;
    handler->OnMidiMessage(sender->UserIndex, time, data, len, &handled);
    if (handled)
        return;
    TR_ASSERT(sender->UserObject != NULL);
    // Nothing guards the thru list against a refresh rebuilding it on the message thread; without
    // a message handler, as in this program, the receive thread never gets here.
    TMidiAliasList& thru = static_cast<MMDevIn*>(sender->UserObject)->FThruList;
    MidiThruNotifier* notifier = FThruNotifier;
    if (SendMessageToAliasList(thru, data, len) && notifier)
        notifier->OnMidiThru(&thru);
}

// ---- Alias and thru bindings -----------------------------------------------------------------

void MidiManager::OnMidiAliasListChanged()
{
    TMidiAliasManager* aliases = TMidiAliasManager::instance();
    const int n = aliases->GetCount();
    for (int i = 0; i < n; ++i)
    {
        TMidiAlias* a = aliases->GetAlias(i);
        if (a->FType == aliasMidiIn || a->FType == aliasMidiOut)
            a->FUserID = -1;
    }
    for (int i = FInDevs.Count() - 1; i >= 0; --i)
        FInDevs[i]->RebuildAliasList();
    for (int i = FOutDevs.Count() - 1; i >= 0; --i)
        FOutDevs[i]->RebuildAliasList();
    OnMidiRouteListChanged();
}

void MidiManager::OnMidiRouteListChanged()
{
    for (int i = FInDevs.Count() - 1; i >= 0; --i)
        FInDevs[i]->RebuildThruList();
}

// ---- Input switches and small queries --------------------------------------------------------

MMDevIn* MidiManager::InputEntry(int id)
{
    // The caller must pass a valid index.
    if (id < 0 || id >= FInDevs.Count())
        AssertionFailed(__FILE__, __LINE__, "false");
    return FInDevs[id];
}

void MidiManager::EnableInActiveSensing(int id, unsigned char on)
{
    InputEntry(id)->SetActiveSensing(on);
}

void MidiManager::EnableInTimeCode(int id, unsigned char on)
{
    InputEntry(id)->SetTimingClock(on);
}

bool MidiManager::IsInActiveSensingEnabled(int id)
{
    return InputEntry(id)->FActiveSensing != 0;
}

bool MidiManager::IsInTimeCodeEnabled(int id)
{
    return InputEntry(id)->FTimingClock != 0;
}

TMidiDeviceBase* MidiManager::GetMidiOutputByIndex(int id)
{
    if (id < 0 || id >= FOutDevs.Count())
        throw Exception("Illegal MIDI OUT ID!");
    return FOutDevs[id]->FDev.get();
}

TMidiDeviceBase* MidiManager::GetMidiInputByIndex(int id)
{
    if (id < 0 || id >= FInDevs.Count())
        throw Exception("Illegal MIDI IN ID!");
    return FInDevs[id]->FDev.get();
}

int MidiManager::GetNumberOfOpenedDevices()
{
    int n = 0;
    for (unsigned char isInput = 0; isInput <= 1; ++isInput)
    {
        ValidateLists();
        for (int i = EntryCount(isInput) - 1; i >= 0; --i)
        {
            MidiManagerDev* e = Entry(i, isInput);
            if (e->FExists && e->IsOpen())
                ++n;
        }
    }
    return n;
}
} // namespace Tr
