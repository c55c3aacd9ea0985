// Told when the port shown by a ComboBoxMidi changes.
#pragma once

class ComboBoxMidi;

class ComboBoxMidiListener
{
public:
    virtual void OnComboBoxMidiChange(ComboBoxMidi* sender) = 0;

protected:
    // Listener lists never own their listeners.
    ~ComboBoxMidiListener() = default;
};
