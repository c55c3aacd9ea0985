// Free helpers of the MIDI library: the process-wide lists of open port names, recognition of
// virtual (loop-back) drivers, MIDI message lengths, 14-bit value conversions and a loose
// comparison of port names.
#pragma once

#include <atomic>
#include <string>

namespace Tr
{
class TLock;
class TStringList;

// ---- Open-port bookkeeping -------------------------------------------------------------------
// Display names of the open ports, one line each (tag 0), compared ignoring case. The port base
// classes keep them up to date; a list exists only from its first addition on. All of it is
// guarded by openMidiListLock, which is created by the first function that needs it.
extern TStringList* OpenInDevices;
extern TStringList* OpenOutDevices;
extern std::atomic<TLock*> openMidiListLock;
// Set once FreeMidiDevListBuffer has run; from then on the whole group does nothing and every
// query answers false.
extern std::atomic<bool> midiShareObjectsFreed;

// isInput 1 gives OpenInDevices, 0 OpenOutDevices (created first when create is set), any other
// value null. The caller holds the lock.
TStringList* getMidiDevList(unsigned char isInput, unsigned char create);
void AddOpenMidiDevice(unsigned char isInput, const std::string& name);
void RemoveOpenMidiDevice(unsigned char isInput, const std::string& name);
bool IsMidiDeviceOpen(unsigned char isInput, const std::string& name);
// For callers that look at the lists across several calls; the lock is recursive.
void midiShareMidiListLockEnter();
void midiShareMidiListLockLeave();
// Frees both lists and the lock. Runs by itself at process exit; must not race any other user of
// this group.
void FreeMidiDevListBuffer();

// ---- Virtual drivers -------------------------------------------------------------------------
// Name prefixes of loop-back drivers, null-terminated.
extern const char* const VirtualMidiDevices[];
bool IsMidiDeviceVirtualDriver(const std::string& name);
// Whether opening name in direction isInput would close a loop through a virtual driver that is
// already open the other way.
bool WouldBecomeVirtualMidiLoop(unsigned char isInput, const std::string& name);

// ---- Message length --------------------------------------------------------------------------
extern const int NormalEvents[16];
extern const int SpecialEvents[16];
// Length of a MIDI message, status byte included, from its status byte: 0 for a data byte, 1 for
// 0xF0 (the real length of a System Exclusive message is found by scanning).
int ShortMidiMessageLength(int status);
// Whether a message that starts with this byte is SysEx bytes, which go out as they are at any
// length: a whole System Exclusive message (0xF0), or a piece that goes on from an earlier one as
// incoming data and thru lists hand it on (a data byte or the closing 0xF7 first).
bool StartsSysexBytes(int first);
// Length of the message packed into three bytes, from its status; SysEx bytes end at their 0xF7,
// and without one they are 0, since their length cannot be told from the padding.
int PackedMidiMessageLength(const unsigned char bytes[3]);

// ---- 14-bit values (two 7-bit halves, as in pitch bend) --------------------------------------
int toInt(unsigned char lsb, unsigned char msb);   // signed, centre 0
unsigned char toLSB(int v);
unsigned char toMSB(int v);
int UtoInt(unsigned char lsb, unsigned char msb);  // unsigned, 0 to 16383
unsigned char UtoLSB(int v);
unsigned char UtoMSB(int v);

// ---- Names -----------------------------------------------------------------------------------
// Equal after lowercasing both and removing every blank.
bool EqualMidiDeviceName(const std::string& a, const std::string& b);

// Message texts, translatable through Language.ini.
extern const std::string SF_WouldBecomeVirtualLoop;
extern const std::string SUnspecifiedError;
} // namespace Tr
