#pragma once

#include <string>
#include <unordered_set>

namespace Tr {

class TMidiDeviceListListener;

// The few questions the alias manager asks the MIDI manager's port lists, for its device aliases
// and for deciding which device aliases are worth saving. The MIDI manager owns the port lists and
// creates the alias manager, so the dependency runs through this interface: the MIDI manager's side
// installs an implementation with TMidiAliasManager::SetPortLookup, and the alias manager never
// includes the MIDI manager.
class TMidiAliasPortLookup
{
public:
    // Number of port entries of that direction, absent ports included (refreshing a list that was
    // never built first).
    virtual int GetPortCount(unsigned char isInput) = 0;
    // Display name of the entry at index; false when there is no such entry.
    virtual bool GetPortName(int index, unsigned char isInput, std::string& name) = 0;
    // names becomes the set of the display names, upper-cased by Tr::UpperCase, whose entry is open
    // or waiting to open; where entries share a name, the last one decides, as in the name lookups.
    virtual void GetPortsOpenOrPending(unsigned char isInput, std::unordered_set<std::string>& names) = 0;
    virtual void AddDevListChangeListener(TMidiDeviceListListener* listener) = 0;
    // Called from the alias manager's destructor, possibly after the MIDI manager is gone: must then
    // do nothing, and must never bring a MIDI manager into being.
    virtual void RemoveDevListChangeListener(TMidiDeviceListListener* listener) = 0;

protected:
    ~TMidiAliasPortLookup() = default;
};

} // namespace Tr
