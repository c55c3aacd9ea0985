// STAND-IN until the port chooser's owner lands it: the interface the editor panel uses, with a
// plain implementation of the chooser's behaviour.
#pragma once

#include "Runnable.h"
#include "core/TrList.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManagerListeners.h"

#include <juce_gui_basics/juce_gui_basics.h>

class ComboBoxMidi;

class ComboBoxMidiListener
{
public:
    virtual void OnComboBoxMidiChange(ComboBoxMidi* sender) = 0;

protected:
    ~ComboBoxMidiListener() = default;
};

class ComboBoxMidi : public juce::ComboBox,
                     public juce::ComboBox::Listener,
                     public Tr::TMidiDeviceListListener,
                     public Tr::MidiManagerDeviceControlListener,
                     public Tr::TMidiAliasChangeListener,
                     public Runnable
{
public:
    ComboBoxMidi(const juce::String& aliasName, bool isInput);
    ~ComboBoxMidi() override;

    void refresh();
    void OnMidiDeviceListChanged() override;
    void OnMidiAliasListChanged() override;
    void OnAfterOpenMidiDevice(int id, unsigned char isInput) override;
    void OnAfterCloseMidiDevice(int id, unsigned char isInput) override;
    void run(void* data, int code) override;
    void comboBoxChanged(juce::ComboBox*) override;

    void addMidiListener(ComboBoxMidiListener* l);
    void removeMidiListener(ComboBoxMidiListener* l);
    void checkForChange();

private:
    void refreshImpl();
    void selectCurrentDev();

    unsigned char isInput;
    juce::String aliasName;
    bool refreshPending = false;
    bool refreshing = false;
    Tr::TList<ComboBoxMidiListener*> listeners;
    int lastSelectedId = -10;
};
