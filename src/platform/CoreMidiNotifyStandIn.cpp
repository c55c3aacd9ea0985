// TEMPORARY STAND-IN: see CoreMidiNotifyStandIn.h. Delete with it when the MIDI service lands.
#include "CoreMidiNotifyStandIn.h"

OSStatus MIDIClientCreate(const char* /*name*/, MIDINotifyProc /*notifyProc*/, void* /*notifyRefCon*/,
                          MIDIClientRef* outClient)
{
    if (outClient)
        *outClient = 0;
    return kMIDIErrServerStart;
}

OSStatus MIDIClientDispose(MIDIClientRef /*client*/)
{
    return kMIDIErrServerStart;
}
