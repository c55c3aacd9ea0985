#pragma once

// Readable names of MIDI messages: MIDI bytes written as hexadecimal text, such as "90 3C 40",
// become "Note On #1: C4, vel 64", message after message.

#include <string>

namespace Tr {

// Message texts, looked up in "Language.ini" during static initialisation (English text as key and
// default). "%s" is filled in order by Tr::UString::FormatS1..FormatS3.
extern const std::string SFFFMidiNoteOff;              // channel, note, velocity
extern const std::string SFFFMidiNoteOn;               // channel, note, velocity
extern const std::string SFFFMidiPolyphonicAftertouch; // channel, note, pressure
extern const std::string SFFFMidiControlChange;        // channel, controller, value
extern const std::string SFFMidiProgramChange;         // channel, program
extern const std::string SFFMidiChannelPressure;       // channel, pressure
extern const std::string SFFMidiPitchWheel;            // channel, pitch text
extern const std::string SFFMidiMTCQuarterFrame;       // piece number, piece value
extern const std::string SFMidiSongPositionPointer;
extern const std::string SFMidiSongSelect;
extern const std::string SMidiTuneRequest;
extern const std::string SMidiTimingClock;
extern const std::string SMidiMTCStart;
extern const std::string SMidiMTCContinue;
extern const std::string SMidiMTCStop;
extern const std::string SMidiActiveSensing;
extern const std::string SMidiSystemReset;
extern const std::string SFFNRPN;                      // parameter MSB, parameter LSB
extern const std::string SFFRPN;                       // parameter MSB, parameter LSB
extern const std::string SFNote;                       // a note value that is not hexadecimal
extern const std::string SFController;                 // an unnamed or non-hexadecimal controller
// The twelve note names of an octave, separated by '|'.
extern const std::string SMidiNoteNumbers;

// Controller names by controller number; unnamed controllers are empty strings.
extern const char* const DefaultControllerNames[128];

// The description of every message in hexText (spaces are ignored). What cannot be described is
// appended as hexadecimal pairs. When nothing at all results and returnInputIfEmpty is set, hexText
// is returned unchanged.
std::string GetMidiStringName(const std::string& hexText, unsigned char returnInputIfEmpty);

// The description of the one message at the 1-based pos of text (which holds no spaces); consumed
// is set to the number of characters it used, 0 (with an empty result) when there is none.
std::string GetMidiStringNameImpl(const std::string& text, int pos, int& consumed);

// Note name with octave (60 is "C4"); empty outside 0-127.
std::string GetMidiNoteName(int note);

// The controller's name; an unnamed one gives "Controller <n>" when numberIfUnnamed is set, else
// empty. Empty outside 0-127.
std::string GetMidiControllerName(int controller, unsigned char numberIfUnnamed);

} // namespace Tr
