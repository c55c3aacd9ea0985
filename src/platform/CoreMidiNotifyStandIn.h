// TEMPORARY STAND-IN for the notification part of our MIDI service (CoreMidi.h over ALSA), until
// that layer lands. The declarations are the service's own; the bodies in CoreMidiNotifyStandIn.cpp
// report that no client can be made, so device-change detection falls back to polling. When
// CoreMidi.h arrives: include it instead of this header and delete both stand-in files.
#pragma once

#include <cstdint>

typedef int32_t OSStatus;
typedef uint32_t MIDIObjectRef;
typedef MIDIObjectRef MIDIClientRef;

enum : OSStatus
{
    kMIDIErrServerStart = -10839   // no MIDI service to talk to
};

enum MIDINotificationMessageID : int32_t
{
    kMIDIMsgObjectAdded = 2,
    kMIDIMsgObjectRemoved = 3,
    kMIDIMsgPropertyChanged = 4
};

struct MIDINotification
{
    MIDINotificationMessageID messageID;
    uint32_t messageSize;   // sizeof(MIDINotification)
};

typedef void (*MIDINotifyProc)(const MIDINotification* message, void* refCon);

OSStatus MIDIClientCreate(const char* name, MIDINotifyProc notifyProc, void* notifyRefCon, MIDIClientRef* outClient);
OSStatus MIDIClientDispose(MIDIClientRef client);
