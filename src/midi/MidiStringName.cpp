#include "midi/MidiStringName.h"

#include "core/TrUtil.h"
#include "midi/MidiUtil.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace Tr {

const std::string SFFFMidiNoteOff = UString::ResourceString("Note Off #%s: %s, vel %s");
const std::string SFFFMidiNoteOn = UString::ResourceString("Note On #%s: %s, vel %s");
const std::string SFFFMidiPolyphonicAftertouch = UString::ResourceString("Aftertouch #%s: %s, %s");
const std::string SFFFMidiControlChange = UString::ResourceString("CC #%s: %s, %s");
const std::string SFFMidiProgramChange = UString::ResourceString("Program Change #%s: %s");
const std::string SFFMidiChannelPressure = UString::ResourceString("Channel Pressure #%s: %s");
const std::string SFFMidiPitchWheel = UString::ResourceString("PitchWheel #%s: %s");
const std::string SFFMidiMTCQuarterFrame = UString::ResourceString("MTC Quarter Frame: %s,%s");
const std::string SFMidiSongPositionPointer = UString::ResourceString("Song Position Pointer: %s");
const std::string SFMidiSongSelect = UString::ResourceString("Song Select: %s");
const std::string SMidiTuneRequest = UString::ResourceString("Tune Request");
const std::string SMidiTimingClock = UString::ResourceString("Timing Clock");
const std::string SMidiMTCStart = UString::ResourceString("Song Start");
const std::string SMidiMTCContinue = UString::ResourceString("Song Continue");
const std::string SMidiMTCStop = UString::ResourceString("Song Stop");
const std::string SMidiActiveSensing = UString::ResourceString("Active Sensing");
const std::string SMidiSystemReset = UString::ResourceString("System Reset");
const std::string SFFNRPN = UString::ResourceString("NRPN: MSB=%s LSB=%s");
const std::string SFFRPN = UString::ResourceString("RPN: MSB=%s LSB=%s");
const std::string SFNote = UString::ResourceString("Note %s");
const std::string SFController = UString::ResourceString("Controller %s");

namespace {
const char* const EnglishNoteNames = "C|C#|D|D#|E|F|F#|G|G#|A|A#|B";
}

const std::string SMidiNoteNumbers = UString::ResourceString(EnglishNoteNames);

// clang-format off
const char* const DefaultControllerNames[] = {
    /*   0 */ "Bank Select MSB", "Modulation", "Breath Control", "", "Foot Controller",
              "Portamento Time", "Data MSB", "Channel Volume",
    /*   8 */ "Balance", "", "Pan", "Expression", "", "", "", "",
    /*  16 */ "", "", "", "", "", "", "", "",
    /*  24 */ "", "", "", "", "", "", "", "",
    /*  32 */ "Bank Select LSB", "Modulation LSB", "Breath Control LSB", "", "Foot Controller LSB",
              "Portamento Time LSB", "Data LSB", "Channel Volume LSB",
    /*  40 */ "Balance LSB", "", "Pan LSB", "Expression LSB", "Effect 1 LSB", "Effect 2 LSB", "", "",
    /*  48 */ "General 1 LSB", "General 2 LSB", "General 3 LSB", "General 4 LSB", "", "", "", "",
    /*  56 */ "", "", "", "", "", "", "", "",
    /*  64 */ "Sustain", "Portamento", "Soft", "Sostenuto", "Legato", "Hold 2", "Sound Variation",
              "Timbre",
    /*  72 */ "Release Time", "Attack Time", "Brightness", "", "", "", "", "",
    /*  80 */ "", "", "", "", "Portamento Control", "", "", "",
    /*  88 */ "", "", "", "Reverb", "Tremolo", "Chorus", "", "Phaser",
    /*  96 */ "Data Entry +1", "Data Entry -1", "NRPN LSB", "NRPN MSB", "RPN LSB", "RPN MSB", "", "",
    /* 104 */ "", "", "", "", "", "", "", "",
    /* 112 */ "", "", "", "", "", "", "", "",
    /* 120 */ "All Sound off", "Reset Controllers", "Local Control Switch", "All Notes Off",
              "Omni Mode Off", "Omni Mode On", "Poly Mode Switch", "Poly Mode On",
};
// clang-format on
static_assert(std::size(DefaultControllerNames) == 128, "one name for every controller number");

namespace {

// Field index of a '|'-separated list into out; false when the list has fewer fields.
bool ListField(const std::string& list, int index, std::string& out)
{
    std::string::size_type start = 0;
    for (int i = 0; i < index; ++i) {
        start = list.find('|', start);
        if (start == std::string::npos)
            return false;
        ++start;
    }
    const std::string::size_type end = list.find('|', start);
    out = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

} // namespace

std::string GetMidiNoteName(int note)
{
    if (note < 0 || note > 127)
        return std::string();
    std::string name;
    // A translation that lost some of the twelve names still gives a usable name.
    if (!ListField(SMidiNoteNumbers, note % 12, name))
        ListField(EnglishNoteNames, note % 12, name);
    return name + UString::FromInt(note / 12 - 1);
}

std::string GetMidiControllerName(int controller, unsigned char numberIfUnnamed)
{
    if (controller < 0 || controller > 127)
        return std::string();
    const char* name = DefaultControllerNames[controller];
    if (*name == '\0' && numberIfUnnamed)
        return UString::FormatS1(SFController, UString::FromInt(controller));
    return name;
}

namespace GetMidiStringNameImplNS {

// Parse state of one call of GetMidiStringNameImpl; the message read last is at pos + consumed.
struct _context1_t {
    const std::string* text;
    int* pos;
    int* consumed;
    int remaining; // characters from pos to the end of text
    int status;
    int data1;
    int data2;
    std::string channelText;
    std::string data1Text;
    std::string data2Text;
};

// The values of a run of controller messages that selects a parameter number.
struct _context2_t {
    _context1_t* ctx;
    std::string nrpnMsb; // controller 99
    std::string nrpnLsb; // 98
    std::string rpnMsb;  // 101
    std::string rpnLsb;  // 100
    std::string dataMsb; // 6
    std::string dataLsb; // 38
};

void readByte(const _context1_t& ctx, int p, int& value, std::string& text)
{
    value = HexToIntPos(*ctx.text, p, 2);
    text = value >= 0 ? UString::FromInt(value) : ctx.text->substr(static_cast<std::size_t>(p - 1), 2);
}

void readVars(_context1_t& ctx)
{
    ctx.status = ctx.data1 = ctx.data2 = -1;
    ctx.channelText.clear();
    ctx.data1Text.clear();
    ctx.data2Text.clear();
    const int off = *ctx.consumed;
    const int p = *ctx.pos + off;
    if (ctx.remaining >= off + 2) {
        ctx.status = HexToIntPos(*ctx.text, p, 2);
        if (ctx.status >= 0)
            ctx.channelText = UString::FromInt((ctx.status & 0x0F) + 1);
    }
    if (ctx.remaining >= off + 4)
        readByte(ctx, p + 2, ctx.data1, ctx.data1Text);
    if (ctx.remaining >= off + 6)
        readByte(ctx, p + 4, ctx.data2, ctx.data2Text);
}

bool cl(int n, _context1_t& ctx)
{
    if (ctx.remaining < n)
        return false;
    *ctx.consumed = n;
    return true;
}

std::string GetNoteName(const _context1_t& ctx)
{
    if (ctx.data1 < 0)
        return UString::FormatS1(SFNote, ctx.data1Text);
    return GetMidiNoteName(ctx.data1);
}

std::string GetController(const _context1_t& ctx)
{
    if (ctx.data1 < 0)
        return UString::FormatS1(SFController, ctx.data1Text);
    return GetMidiControllerName(ctx.data1, 1);
}

std::string* slotOf(_context2_t& ctx2, int controller)
{
    switch (controller) {
    case 99: return &ctx2.nrpnMsb;
    case 98: return &ctx2.nrpnLsb;
    case 101: return &ctx2.rpnMsb;
    case 100: return &ctx2.rpnLsb;
    case 6: return &ctx2.dataMsb;
    case 38: return &ctx2.dataLsb;
    default: return nullptr;
    }
}

bool select(_context2_t& ctx2)
{
    std::string* slot = slotOf(ctx2, ctx2.ctx->data1);
    if (slot == nullptr || !slot->empty())
        return false;
    *slot = ctx2.ctx->data2Text;
    return true;
}

bool isParameterNumber(int controller)
{
    return controller >= 98 && controller <= 101;
}

bool isDataEntry(int controller)
{
    return controller == 6 || controller == 38;
}

// A complete controller message on the same status as the run's first message.
bool continuesRun(const _context1_t& ctx, int first)
{
    return ctx.status == first && !ctx.data2Text.empty();
}

std::string GetControllerMessage(_context1_t& ctx)
{
    if (isParameterNumber(ctx.data1) && ctx.remaining >= 12) {
        _context2_t ctx2{&ctx, {}, {}, {}, {}, {}, {}};
        const int first = ctx.status;
        select(ctx2);
        readVars(ctx);
        if (continuesRun(ctx, first) && select(ctx2)
            && ((!ctx2.nrpnMsb.empty() && !ctx2.nrpnLsb.empty()) || (!ctx2.rpnMsb.empty() && !ctx2.rpnLsb.empty()))) {
            *ctx.consumed = 12;
            readVars(ctx);
            // Only data entry may join a selected parameter number: a message that selects another
            // parameter starts a line of its own instead of vanishing into this one.
            if (continuesRun(ctx, first) && isDataEntry(ctx.data1) && select(ctx2)) {
                *ctx.consumed = 18;
                readVars(ctx);
                if (continuesRun(ctx, first) && isDataEntry(ctx.data1) && select(ctx2))
                    *ctx.consumed = 24;
            }
            std::string line = !ctx2.nrpnMsb.empty() ? UString::FormatS2(SFFNRPN, ctx2.nrpnMsb, ctx2.nrpnLsb)
                                                     : UString::FormatS2(SFFRPN, ctx2.rpnMsb, ctx2.rpnLsb);
            if (!ctx2.dataLsb.empty() || !ctx2.dataMsb.empty())
                line += ", data:";
            if (!ctx2.dataLsb.empty())
                line += " LSB: " + ctx2.dataLsb;
            if (!ctx2.dataMsb.empty())
                line += " MSB: " + ctx2.dataMsb;
            return line;
        }
        *ctx.consumed = 0;
        readVars(ctx);
        *ctx.consumed = 6;
    }
    return UString::FormatS3(SFFFMidiControlChange, ctx.channelText, GetController(ctx), ctx.data2Text);
}

std::string GetPitch(const _context1_t& ctx)
{
    if (ctx.data1 < 0 || ctx.data2 < 0)
        return ctx.data1Text + "," + ctx.data2Text;
    const double v = static_cast<double>((ctx.data1 | (ctx.data2 << 7)) - 8192);
    if (v > 0)
        return "+" + FtoStr(v / 8191 * 100, 3, 1) + "%";
    return FtoStr(v / 8192 * 100, 3, 1) + "%";
}

std::string GetSongPos(const _context1_t& ctx)
{
    if (ctx.data1 < 0 || ctx.data2 < 0)
        return ctx.data1Text + "," + ctx.data2Text;
    return UString::FromInt(ctx.data1 | (ctx.data2 << 7));
}

// One digit of the quarter-frame data byte: the high one is the piece number, the low one its
// value. A character that is no hexadecimal digit is shown as it stands.
std::string QuarterFrameDigit(const _context1_t& ctx, int index)
{
    const char c = (*ctx.text)[static_cast<std::size_t>(*ctx.pos - 1 + 2 + index)];
    const int digit = HexToInt(c);
    return digit >= 0 ? UString::FromInt(digit) : std::string(1, c);
}

std::string SystemMessage(_context1_t& ctx)
{
    // Messages whose length cannot be told from the status (System Exclusive) and undefined
    // statuses are left to the hexadecimal rest.
    switch (ctx.status) {
    case 0xF1:
    case 0xF2:
    case 0xF3:
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF: break;
    default: return std::string();
    }
    if (!cl(2 * ShortMidiMessageLength(ctx.status), ctx))
        return std::string();
    switch (ctx.status) {
    case 0xF1: return UString::FormatS2(SFFMidiMTCQuarterFrame, QuarterFrameDigit(ctx, 0), QuarterFrameDigit(ctx, 1));
    case 0xF2: return UString::FormatS1(SFMidiSongPositionPointer, GetSongPos(ctx));
    case 0xF3: return UString::FormatS1(SFMidiSongSelect, ctx.data1Text);
    case 0xF6: return SMidiTuneRequest;
    case 0xF8: return SMidiTimingClock;
    case 0xFA: return SMidiMTCStart;
    case 0xFB: return SMidiMTCContinue;
    case 0xFC: return SMidiMTCStop;
    case 0xFE: return SMidiActiveSensing;
    default: return SMidiSystemReset;
    }
}

std::string ChannelMessage(_context1_t& ctx)
{
    if (!cl(2 * ShortMidiMessageLength(ctx.status), ctx))
        return std::string();
    switch (ctx.status & 0xF0) {
    case 0x80: return UString::FormatS3(SFFFMidiNoteOff, ctx.channelText, GetNoteName(ctx), ctx.data2Text);
    case 0x90: return UString::FormatS3(SFFFMidiNoteOn, ctx.channelText, GetNoteName(ctx), ctx.data2Text);
    case 0xA0:
        return UString::FormatS3(SFFFMidiPolyphonicAftertouch, ctx.channelText, GetNoteName(ctx), ctx.data2Text);
    case 0xB0: return GetControllerMessage(ctx);
    case 0xC0: return UString::FormatS2(SFFMidiProgramChange, ctx.channelText, ctx.data1Text);
    case 0xD0: return UString::FormatS2(SFFMidiChannelPressure, ctx.channelText, ctx.data1Text);
    default: return UString::FormatS2(SFFMidiPitchWheel, ctx.channelText, GetPitch(ctx));
    }
}

} // namespace GetMidiStringNameImplNS

std::string GetMidiStringNameImpl(const std::string& text, int pos, int& consumed)
{
    using namespace GetMidiStringNameImplNS;
    consumed = 0;
    if (pos < 1)
        return std::string();
    // No message is longer than 24 characters, so a bounded count is all that is needed and
    // cannot overflow on huge texts.
    const std::size_t left = static_cast<std::size_t>(pos) <= text.size() ? text.size() - static_cast<std::size_t>(pos - 1) : 0;
    _context1_t ctx{&text, &pos, &consumed, static_cast<int>(std::min<std::size_t>(left, 1024)), -1, -1, -1, {}, {}, {}};
    readVars(ctx);
    if (ctx.status < 0x80)
        return std::string();
    if (ctx.status >= 0xF0)
        return SystemMessage(ctx);
    return ChannelMessage(ctx);
}

std::string GetMidiStringName(const std::string& hexText, unsigned char returnInputIfEmpty)
{
    std::string s;
    s.reserve(hexText.size());
    std::copy_if(hexText.begin(), hexText.end(), std::back_inserter(s), [](char c) { return c != ' '; });

    std::string result;
    int pos = 1;
    bool rest = true;
    // Past INT_MAX characters positions no longer fit an int: that far, the text is only shown raw.
    while (pos < INT_MAX - 32) {
        int consumed = 0;
        const std::string part = GetMidiStringNameImpl(s, pos, consumed);
        if (part.empty() || consumed == 0)
            break;
        if (!result.empty())
            result += " - ";
        result += part;
        pos += consumed;
        if (static_cast<std::size_t>(pos) >= s.size()) {
            rest = false; // a single character left at the end is no byte: it is dropped
            break;
        }
    }
    if (rest) {
        if (!result.empty())
            result += " - ";
        for (std::size_t i = static_cast<std::size_t>(pos - 1); i < s.size(); ++i) {
            result += s[i];
            if (i % 2 == 1)
                result += ' ';
        }
    }
    if (result.empty() && returnInputIfEmpty)
        return hexText;
    return result;
}

} // namespace Tr
