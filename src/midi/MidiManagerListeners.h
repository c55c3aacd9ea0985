// The interfaces through which the MIDI manager tells the application of changes, through which
// back ends hook into the manager's life, and the optional hooks of its send and receive paths.
#pragma once

#include "midi/MidiDeviceListListener.h"

#include <string>

namespace Tr
{
class TMidiAliasList;

// Told around opening and closing, and of errors that the caller chose not to have thrown. The
// manager calls these listeners last to first. Every operation defaults to nothing.
class MidiManagerDeviceControlListener
{
public:
    virtual void OnBeforeOpenMidiDevice(int /*id*/, unsigned char /*isInput*/) {}
    virtual void OnAfterOpenMidiDevice(int /*id*/, unsigned char /*isInput*/) {}
    virtual void OnBeforeCloseMidiDevice(int /*id*/, unsigned char /*isInput*/) {}
    virtual void OnAfterCloseMidiDevice(int /*id*/, unsigned char /*isInput*/) {}
    virtual void OnMidiStringMessage(int /*id*/, unsigned char /*isInput*/, const std::string& /*text*/) {}
    virtual void OnMidiErrorMessage(int /*id*/, unsigned char /*isInput*/, const std::string& /*text*/) {}

protected:
    ~MidiManagerDeviceControlListener() = default;
};

// A back end's hook into the manager's life. Registered before the manager exists (from static
// initialisation); the manager owns the registered objects and deletes them when it goes, hence
// the virtual destructor.
class MidiManagerInitializer
{
public:
    virtual ~MidiManagerInitializer() = default;
    virtual void OnMidiManagerCreated() {}   // end of the manager's constructor
    virtual void OnMidiManagerInited() {}    // end of Init(): the place to register factories
    virtual void OnMidiManagerToBeDeleted() {}
};

// May replace the data pointer and length of a message before it is sent to output deviceIndex;
// clearing *continueSend ends the send.
class MidiOutDeviceFilter
{
public:
    virtual void OnMidiOutFilter(int deviceIndex, const unsigned char** data, int* len, unsigned char* continueSend) = 0;

protected:
    ~MidiOutDeviceFilter() = default;
};

// May replace time, data and length of a message received on input deviceIndex; clearing
// *continueDispatch drops it. Called on the input's receive thread.
class MidiInDeviceFilter
{
public:
    virtual void OnMidiInFilter(int deviceIndex, unsigned long long* time, unsigned char** data, int* len,
                                unsigned char* continueDispatch) = 0;

protected:
    ~MidiInDeviceFilter() = default;
};

// Sees each incoming message after the input filters; setting *handled keeps it from the input's
// thru list. Without a handler incoming data goes nowhere. Called on the receive thread.
class MidiMessageHandler
{
public:
    virtual void OnMidiMessage(int deviceIndex, unsigned long long time, unsigned char* data, int len,
                               unsigned char* handled) = 0;

protected:
    ~MidiMessageHandler() = default;
};

// Told after an incoming message was passed on to a thru list. Called on the receive thread.
class MidiThruNotifier
{
public:
    virtual void OnMidiThru(TMidiAliasList* thruList) = 0;

protected:
    ~MidiThruNotifier() = default;
};
} // namespace Tr
