// STAND-IN until the port chooser's owner lands it.
#include "ComboBoxMidi.h"

#include "JuceUtils.h"
#include "core/TrException.h"
#include "core/TrUtil.h"
#include "midi/MidiManager.h"
#include "midi/MidiManagerDev.h"

ComboBoxMidi::ComboBoxMidi(const juce::String& alias, bool input)
    : juce::ComboBox(juce::String("ComboBox MIDI ") + (input ? "IN" : "OUT")), isInput(input ? 1 : 0), aliasName(alias)
{
    addListener(this);
    setEditableText(false);
    setJustificationType(juce::Justification::left);
    setTextWhenNothingSelected("(none)");
    setTextWhenNoChoicesAvailable("(no devices available)");
    Tr::MidiManager::instance()->AddDevListChangeListener(this);
    Tr::MidiManager::instance()->AddDeviceControlListener(this);
    Tr::TMidiAliasManager::instance()->AddAliasChangeListener(this);
}

ComboBoxMidi::~ComboBoxMidi()
{
    removeListener(this);
    if (Tr::MidiManager::IsInstanceAllocated())
    {
        Tr::MidiManager::instance()->RemoveDevListChangeListener(this);
        Tr::MidiManager::instance()->RemoveDeviceControlListener(this);
    }
    if (Tr::TMidiAliasManager::IsInstanceAllocated())
        Tr::TMidiAliasManager::instance()->RemoveAliasChangeListener(this);
}

void ComboBoxMidi::refresh()
{
    if (juce::MessageManager::getInstance()->currentThreadHasLockedMessageManager())
    {
        if (!refreshing)
            refreshImpl();
        return;
    }
    if (!refreshPending)
    {
        refreshPending = true;
        JuceUtils::invokeLater(this);
    }
}

void ComboBoxMidi::OnMidiDeviceListChanged() { refresh(); }
void ComboBoxMidi::OnMidiAliasListChanged() { selectCurrentDev(); }

void ComboBoxMidi::OnAfterOpenMidiDevice(int, unsigned char input)
{
    if ((input != 0) == (isInput != 0))
        selectCurrentDev();
}

void ComboBoxMidi::OnAfterCloseMidiDevice(int, unsigned char input)
{
    if ((input != 0) == (isInput != 0))
        selectCurrentDev();
}

void ComboBoxMidi::run(void*, int) { refreshImpl(); }

void ComboBoxMidi::refreshImpl()
{
    refreshPending = false;
    refreshing = true;
    Tr::MidiManager* m = Tr::MidiManager::instance();
    const int n = m->GetDevCount(isInput);
    clear(juce::dontSendNotification);
    addItem("(none)", -1);
    for (int i = 0; i < n; ++i)
    {
        Tr::MidiManagerDev* entry = nullptr;
        if (m->GetDevDescriptor(i, isInput, entry) && entry && entry->Exists())
            addItem(juce::String::fromUTF8(entry->GetName().c_str()), i + 1);
    }
    selectCurrentDev();
    refreshing = false;
}

void ComboBoxMidi::selectCurrentDev()
{
    if (getNumItems() == 0)
    {
        refresh();
        return;
    }
    Tr::MidiManager* m = Tr::MidiManager::instance();
    const auto type = isInput ? Tr::aliasMidiIn : Tr::aliasMidiOut;
    Tr::TMidiAlias* alias = Tr::TMidiAliasManager::instance()->GetAliasByName(aliasName.toStdString(), type, true);
    const int index = alias ? m->GetDevIndex(alias->FDevice, isInput) : -1;
    Tr::MidiManagerDev* entry = nullptr;
    const int id = index >= 0 && m->GetDevDescriptor(index, isInput, entry) && entry && entry->IsOpen() ? index + 1 : -1;
    setSelectedId(id, juce::dontSendNotification);
    checkForChange();
}

void ComboBoxMidi::checkForChange()
{
    const int id = getSelectedId();
    if (id == lastSelectedId)
        return;
    lastSelectedId = id;
    for (ComboBoxMidiListener* l : listeners)
        l->OnComboBoxMidiChange(this);
}

void ComboBoxMidi::addMidiListener(ComboBoxMidiListener* l)
{
    for (ComboBoxMidiListener* present : listeners)
        if (present == l)
            return;
    listeners.Add(l);
}

void ComboBoxMidi::removeMidiListener(ComboBoxMidiListener* l)
{
    for (int i = 0; i < listeners.Count(); ++i)
        if (listeners[i] == l)
        {
            listeners.Remove(i);
            return;
        }
}

void ComboBoxMidi::comboBoxChanged(juce::ComboBox*)
{
    Tr::MidiManager* m = Tr::MidiManager::instance();
    Tr::MidiManagerDev* chosen = m->GetDevDescriptor(getSelectedId() - 1, isInput);
    const std::string deviceName = chosen ? chosen->GetName() : std::string();
    const int chosenIndex = chosen ? chosen->GetIndex() : -1;
    const auto type = isInput ? Tr::aliasMidiIn : Tr::aliasMidiOut;
    Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
    aliases->BeginUpdate();
    try
    {
        aliases->ModifyAlias(aliasName.toStdString(), type, aliasName.toStdString(), deviceName);
        const int count = m->GetDevCount(isInput);
        for (int i = 0; i < count; ++i)
        {
            if (i != chosenIndex)
            {
                m->Close(i, isInput, 0, 1);
                continue;
            }
            try
            {
                m->Open(i, isInput, 1);
                if (chosen->IsPending())
                    throw Tr::Exception("Device is not plugged in. It will be used after plugging it in.");
            }
            catch (const Tr::Exception& e)
            {
                JuceUtils::ErrorDlg(juce::String::fromUTF8(
                    Tr::UString::FormatS2("Error opening MIDI device '%s':\n%s", deviceName, e.what()).c_str()));
            }
        }
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg("Error opening MIDI device: " + juce::String::fromUTF8(e.what()));
    }
    aliases->EndUpdate();
}
