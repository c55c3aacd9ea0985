// The drop-down list from which the user picks the MIDI port of one direction. It lists the ports
// the MIDI manager sees now, after "(none)" (item id -1); a port's item id is its entry index + 1,
// so vanished ports leave gaps. Bound to a port alias, a choice points the alias at the port, opens
// it and closes every other port of that direction; the shown item follows the alias and the
// ports' open state. ComboBoxMidiListeners hear when the shown item changes.
#pragma once

#include "ComboBoxMidiListener.h"
#include "Runnable.h"
#include "core/TrList.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

class ComboBoxMidi : public juce::ComboBox,
                     public juce::ComboBox::Listener,
                     public Tr::TMidiDeviceListListener,
                     public Tr::MidiManagerDeviceControlListener,
                     public Tr::TMidiAliasChangeListener,
                     public Runnable
{
public:
    // Bound to the alias of that name; the MIDI manager and the alias manager must exist.
    ComboBoxMidi(const juce::String& aliasName, bool isInput);
    // Not bound to an alias: shows ports, opens and closes nothing. The text is not used.
    ComboBoxMidi(bool isInput, juce::String);
    ~ComboBoxMidi() override;

    // Rebuilds the list now on the message thread; from another thread, posts one rebuild to the
    // message thread unless one is already posted.
    void refresh();
    void refreshImpl();
    // Shows the item of the port the alias names while that port is open, else "(none)".
    void selectCurrentDev();
    // Tells the listeners when the selected item differs from the one they heard of last.
    void checkForChange();
    // The manager's entry of the selected port; null for "(none)" or no selection.
    Tr::MidiManagerDev* getSelectedDevice();

    void addMidiListener(ComboBoxMidiListener* l);
    void removeMidiListener(ComboBoxMidiListener* l);

    void OnMidiDeviceListChanged() override;
    void OnMidiAliasListChanged() override;
    void OnAfterOpenMidiDevice(int id, unsigned char isInput) override;
    void OnAfterCloseMidiDevice(int id, unsigned char isInput) override;
    void run(void* data, int code) override;
    // The user's choice.
    void comboBoxChanged(juce::ComboBox*) override;

private:
    void init();
    Tr::TAliasType aliasType() const { return isInput ? Tr::aliasMidiIn : Tr::aliasMidiOut; }

    unsigned char isInput;
    bool aliasBound;
    juce::String aliasName;
    std::atomic<bool> refreshPending{false};
    bool refreshing = false;   // a rebuild runs further up this thread's stack
    Tr::TList<ComboBoxMidiListener*> listeners;
    int lastSelectedId = -10;   // no item has it, so the first selection is always reported
    // Made here on the message thread, copied by rebuilds posted from other threads, so that a
    // rebuild arriving after the chooser was deleted finds it gone.
    juce::Component::SafePointer<ComboBoxMidi> self;
};
