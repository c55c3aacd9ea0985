#pragma once

namespace Tr {

// Told by the MIDI manager, first to last, after its port lists changed. Kept in a header of its
// own because the alias manager listens too, and the MIDI manager's header needs the alias header.
class TMidiDeviceListListener
{
public:
    virtual void OnMidiDeviceListChanged() = 0;

protected:
    // Listener lists never own their listeners, so nobody deletes through this interface.
    ~TMidiDeviceListListener() = default;
};

} // namespace Tr
