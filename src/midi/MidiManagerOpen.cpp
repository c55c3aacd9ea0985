// Opening and closing the port of one entry, the control listeners' notifications and the road
// of errors: thrown to the caller, or told to the listeners, as the caller chooses.
#include "midi/MidiManager.h"

#include "core/TrUtil.h"
#include "midi/MidiListenerList.h"

#include <vector>

namespace Tr
{
const std::string SFIllegalMidiInDeviceID = UString::ResourceString("Internal error: illegal MIDI In device ID: %d");
const std::string SFIllegalMidiOutDeviceID = UString::ResourceString("Internal error: illegal MIDI Out device ID: %d");
const std::string SFInCouldNotBeOpened = UString::ResourceString("MIDI IN device \"%s\" could not be opened.");
const std::string SFOutCouldNotBeOpened = UString::ResourceString("MIDI OUT device \"%s\" could not be opened.");
const std::string SFOpenedInSuccess = UString::ResourceString("Opened MIDI IN: %s");
const std::string SFOpenedOutSuccess = UString::ResourceString("Opened MIDI OUT: %s");
const std::string SFClosedIn = UString::ResourceString("Closed MIDI IN: %s");
const std::string SFClosedOut = UString::ResourceString("Closed MIDI OUT: %s");

namespace
{
// The control listeners are told last to first, each listener getting every operation of a pass
// before the next one is called. A listener may unregister listeners while it is told: the pass
// walks the listeners registered when it started and skips those gone since.
template <class Call>
void LastToFirst(TList<MidiManagerDeviceControlListener*>& listeners, Call call)
{
    const std::vector<MidiManagerDeviceControlListener*> snapshot(listeners.begin(), listeners.end());
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it)
        if (IndexOfListener(listeners, *it) >= 0)
            call(**it);
}
} // namespace

void MidiManager::TellControlListeners(void (MidiManagerDeviceControlListener::*op)(int, unsigned char), int id,
                                       unsigned char isInput)
{
    LastToFirst(FControlListeners, [&](MidiManagerDeviceControlListener& l) { (l.*op)(id, isInput); });
}

void MidiManager::TellControlListeners(void (MidiManagerDeviceControlListener::*op)(int, unsigned char), int id,
                                       unsigned char isInput, const std::string& text)
{
    LastToFirst(FControlListeners, [&](MidiManagerDeviceControlListener& l) {
        l.OnMidiStringMessage(id, isInput, text);
        (l.*op)(id, isInput);
    });
}

void MidiManager::TellErrorMessage(int id, unsigned char isInput, const std::string& text)
{
    LastToFirst(FControlListeners,
                [&](MidiManagerDeviceControlListener& l) { l.OnMidiErrorMessage(id, isInput, text); });
}

void MidiManager::FireErrorEvent(int id, unsigned char isInput, const std::string& message, unsigned char throwOnError)
{
    if (throwOnError)
        throw Exception((isInput ? "MIDI IN: " : "MIDI OUT: ") + message);
    TellErrorMessage(id, isInput, message);
}

void MidiManager::OnMidiDeviceError(TMidiDeviceBase* device, const std::string& message)
{
    FireErrorEvent(device->UserIndex, device->GetDescriptor()->FIsInput, message, 0);
}

void MidiManager::Open(int id, unsigned char isInput, unsigned char throwOnError)
{
    OpenDevice(id, isInput ? 1 : 0, throwOnError);
}

void MidiManager::Close(int id, unsigned char isInput, unsigned char throwOnError, unsigned char force)
{
    CloseDevice(id, isInput ? 1 : 0, throwOnError, force);
}

void MidiManager::OpenInDevice(int id, unsigned char throwOnError)
{
    OpenDevice(id, 1, throwOnError);
}

void MidiManager::OpenOutDevice(int id, unsigned char throwOnError)
{
    OpenDevice(id, 0, throwOnError);
}

void MidiManager::CloseInDevice(int id, unsigned char throwOnError, unsigned char force)
{
    CloseDevice(id, 1, throwOnError, force);
}

void MidiManager::CloseOutDevice(int id, unsigned char throwOnError, unsigned char force)
{
    CloseDevice(id, 0, throwOnError, force);
}

void MidiManager::OpenDevice(int id, unsigned char isInput, unsigned char throwOnError)
{
    if (id < 0 || id >= EntryCount(isInput))
    {
        FireErrorEvent(-1, isInput, UString::FormatS1(isInput ? SFIllegalMidiInDeviceID : SFIllegalMidiOutDeviceID, id),
                       throwOnError);
        return;
    }
    MidiManagerDev* e = Entry(id, isInput);
    if (FSuspended || !e->FExists)
    {
        // The refresh opens it once the manager runs and the port is there.
        e->FPending = 1;
        return;
    }
    try
    {
        if (!e->FDev)
            e->CreateDevice();
        if (!e->FDev)
        {
            e->FPending = 1;
            return;
        }
        e->FLastError.clear();
        TellControlListeners(&MidiManagerDeviceControlListener::OnBeforeOpenMidiDevice, id, isInput);
        e->FDev->Open();
        if (e->FDev->IsClosed())
        {
            const std::string text = UString::FormatS1(isInput ? SFInCouldNotBeOpened : SFOutCouldNotBeOpened, e->GetName());
            // Closing a port that did not open still takes its name out of the open-port list. Only
            // a thrown error is kept in the entry; a told one has reached the listeners.
            e->FDev->Close();
            FireErrorEvent(id, isInput, text, throwOnError);
            return;
        }
        if (isInput)
            static_cast<TMidiInputBase*>(e->FDev.get())->Start();
        e->FPending = 0;
        const std::string text = UString::FormatS1(isInput ? SFOpenedInSuccess : SFOpenedOutSuccess, e->GetName());
        TellControlListeners(&MidiManagerDeviceControlListener::OnAfterOpenMidiDevice, id, isInput, text);
    }
    catch (const Exception& ex)
    {
        e->FLastError = ex.what();
        if (e->FDev)
            e->FDev->Close();
        if (throwOnError)
            throw;
        FireErrorEvent(id, isInput, ex.what(), 0);
    }
}

void MidiManager::CloseDevice(int id, unsigned char isInput, unsigned char throwOnError, unsigned char force)
{
    if (id < 0 || id >= EntryCount(isInput))
    {
        FireErrorEvent(-1, isInput, UString::FormatS1(isInput ? SFIllegalMidiInDeviceID : SFIllegalMidiOutDeviceID, id),
                       throwOnError);
        return;
    }
    MidiManagerDev* e = Entry(id, isInput);
    try
    {
        if ((!FSuspended || force) && e->IsOpen())
        {
            TellControlListeners(&MidiManagerDeviceControlListener::OnBeforeCloseMidiDevice, id, isInput);
            if (isInput)
                static_cast<TMidiInputBase*>(e->FDev.get())->Stop();
            e->FDev->Close();
            const std::string text = UString::FormatS1(isInput ? SFClosedIn : SFClosedOut, e->GetName());
            TellControlListeners(&MidiManagerDeviceControlListener::OnAfterCloseMidiDevice, id, isInput, text);
        }
        // Closing also withdraws an open that was only waiting.
        e->FPending = 0;
    }
    catch (const Exception& ex)
    {
        if (throwOnError)
            throw;
        FireErrorEvent(id, isInput, ex.what(), 0);
    }
}

void MidiManager::CloseAll(unsigned char isInput, unsigned char force)
{
    // Works on the one manager, whatever object it is called on.
    if (inst == nullptr)
        return;
    const unsigned char direction = isInput ? 1 : 0;
    const int count = inst->EntryCount(direction);
    for (int i = count - 1; i >= 0; --i)
        inst->CloseDevice(i, direction, 0, force);
}

void MidiManager::CloseAll(unsigned char force)
{
    if (inst == nullptr)
        return;
    inst->CloseAll(0, force);
    inst->CloseAll(1, force);
}
} // namespace Tr
