#include "midi/MidiStringName.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

namespace
{
std::string Describe(const std::string& hex)
{
    return Tr::GetMidiStringName(hex, 0);
}
} // namespace

TEST(MidiStringName, OneOfEachKindAndParameterNumberRuns)
{
    EXPECT_EQ(Describe("90 3C 40"), "Note On #1: C4, vel 64");
    EXPECT_EQ(Describe("8F 45 00"), "Note Off #16: A4, vel 0");
    EXPECT_EQ(Describe("A1 3C 7F"), "Aftertouch #2: C4, 127");
    EXPECT_EQ(Describe("B0 07 64"), "CC #1: Channel Volume, 100");
    EXPECT_EQ(Describe("B0 03 01"), "CC #1: Controller 3, 1") << "an unnamed controller shows its number";
    EXPECT_EQ(Describe("C5 0A"), "Program Change #6: 10");
    EXPECT_EQ(Describe("DF 40"), "Channel Pressure #16: 64");
    EXPECT_EQ(Describe("E0 00 40"), "PitchWheel #1: 0.0%");
    EXPECT_EQ(Describe("E0 7F 7F"), "PitchWheel #1: +100.0%");
    EXPECT_EQ(Describe("E0 00 00"), "PitchWheel #1: -100.0%");
    EXPECT_EQ(Describe("9a 3c 40"), "Note On #11: C4, vel 64") << "lower-case digits are hexadecimal too";
    EXPECT_EQ(Describe(" 90 3C 40"), "Note On #1: C4, vel 64") << "spaces anywhere are ignored";
    EXPECT_EQ(Describe("903C40F8"), "Note On #1: C4, vel 64 - Timing Clock");

    EXPECT_EQ(Describe("F1 35 F8"), "MTC Quarter Frame: 3,5 - Timing Clock") << "a quarter frame is two bytes";
    EXPECT_EQ(Describe("F2 00 08"), "Song Position Pointer: 1024");
    EXPECT_EQ(Describe("F3 07"), "Song Select: 7");
    EXPECT_EQ(Describe("F6 F8 FA FB FC FE FF"),
              "Tune Request - Timing Clock - Song Start - Song Continue - Song Stop - Active Sensing - System Reset");
    EXPECT_EQ(Describe("F0 43 10 F7"), "F0 43 10 F7 ") << "System Exclusive is shown raw";
    for (const char* undefined : {"F4", "F5", "F7", "F9", "FD"})
        EXPECT_EQ(Describe(undefined), std::string(undefined) + " ") << undefined;

    // A parameter-number selection and its data entry make one description.
    int consumed = -1;
    EXPECT_EQ(Tr::GetMidiStringNameImpl("B06300B06201B0067FB02600", 1, consumed),
              "NRPN: MSB=0 LSB=1, data: LSB: 0 MSB: 127");
    EXPECT_EQ(consumed, 24);
    EXPECT_EQ(Describe("B0 65 00 B0 64 00"), "RPN: MSB=0 LSB=0");
    EXPECT_EQ(Describe("B0 62 02 B0 63 01"), "NRPN: MSB=1 LSB=2") << "LSB may come first";
    EXPECT_EQ(Describe("B0 65 00 B0 64 00 B0 26 05 F8"), "RPN: MSB=0 LSB=0, data: LSB: 5 - Timing Clock");

    // Runs that do not select a whole parameter number stay single controller messages.
    EXPECT_EQ(Describe("B0 63 00 B0 07 64"), "CC #1: NRPN MSB, 0 - CC #1: Channel Volume, 100");
    EXPECT_EQ(Describe("B0 63 00 B0 64 00"), "CC #1: NRPN MSB, 0 - CC #1: RPN LSB, 0");
    EXPECT_EQ(Describe("B0 63 00 B1 62 01"), "CC #1: NRPN MSB, 0 - CC #2: NRPN LSB, 1") << "other channel";
    EXPECT_EQ(Describe("B0 63 00 90 3C 40"), "CC #1: NRPN MSB, 0 - Note On #1: C4, vel 64");

    // Cut short.
    EXPECT_EQ(Describe("B0 63 00 B0 62"), "CC #1: NRPN MSB, 0 - B0 62 ");
    EXPECT_EQ(Describe("B0 63 00 B0 62 01 B0 06"), "NRPN: MSB=0 LSB=1 - B0 06 ");
    EXPECT_EQ(Describe("B0 63 00 B0 62 01 B0 06 01 B0 26"), "NRPN: MSB=0 LSB=1, data: MSB: 1 - B0 26 ");

    // A value given twice, or a new parameter selection, ends the run rather than vanishing in it.
    EXPECT_EQ(Describe("B0 65 00 B0 64 00 B0 06 02 B0 06 03"), "RPN: MSB=0 LSB=0, data: MSB: 2 - CC #1: Data MSB, 3");
    EXPECT_EQ(Describe("B0 65 00 B0 64 00 B0 63 01 B0 62 02"), "RPN: MSB=0 LSB=0 - NRPN: MSB=1 LSB=2");
}

TEST(MidiStringName, BadInput)
{
    EXPECT_EQ(Tr::GetMidiNoteName(0), "C-1");
    EXPECT_EQ(Tr::GetMidiNoteName(61), "C#4");
    EXPECT_EQ(Tr::GetMidiNoteName(127), "G9");
    EXPECT_EQ(Tr::GetMidiControllerName(3, 0), "");
    for (int outside : {-1, 128, 255, 1000000})
    {
        EXPECT_EQ(Tr::GetMidiNoteName(outside), "") << outside;
        EXPECT_EQ(Tr::GetMidiControllerName(outside, 1), "") << outside;
    }
    EXPECT_EQ(Describe("90 80 40"), "Note On #1: , vel 64") << "data bytes of 0x80 or more name nothing";
    EXPECT_EQ(Describe("B0 FF 00"), "CC #1: , 0");

    EXPECT_EQ(Describe("90 XY 40"), "Note On #1: Note XY, vel 64");
    EXPECT_EQ(Describe("E0 XY 40"), "PitchWheel #1: XY,64");
    EXPECT_EQ(Describe("F1 7X"), "MTC Quarter Frame: 7,X");
    EXPECT_EQ(Describe("90 3C %s"), "Note On #1: C4, vel %s") << "input never acts as a format";
    EXPECT_EQ(Describe("90 3C"), "90 3C ") << "too short for a note";
    EXPECT_EQ(Describe("903C4"), "90 3C 4");
    EXPECT_EQ(Describe("903C40F"), "Note On #1: C4, vel 64") << "a lone digit after a message is no byte";
    EXPECT_EQ(Describe("90 3C 40 3E 40"), "Note On #1: C4, vel 64 - 3E 40 ") << "running status is not resolved";
    EXPECT_EQ(Describe(std::string("\xff\x00\x90", 3)), std::string("\xff\x00 \x90", 4));
    EXPECT_EQ(Tr::GetMidiStringName("   ", 1), "   ") << "nothing described: the input itself";
    EXPECT_EQ(Tr::GetMidiStringName("   ", 0), "");

    int consumed = -1;
    EXPECT_EQ(Tr::GetMidiStringNameImpl("F8", 0, consumed), "");
    EXPECT_EQ(Tr::GetMidiStringNameImpl("F8", 100, consumed), "");
    EXPECT_EQ(consumed, 0);

    std::string clocks;
    for (int i = 0; i < 100000; ++i)
        clocks += "F8 ";
    EXPECT_EQ(Describe(clocks).size(), 100000 * std::string("Timing Clock - ").size() - 3);
}

// Random texts, mostly hexadecimal with messages that look real, meant to be run under the
// sanitizers too: every result must come from in-bounds reads, and every message step must stay
// inside the text.
TEST(MidiStringName, RandomInputStaysInBounds)
{
    std::mt19937 rng(20240611);
    const std::string alphabet = "0123456789ABCDEFabcdef  XZ%\x80\xff";
    const char* const statuses[] = {"80", "90", "A0", "B0", "C0", "D0", "E0", "F0", "F1", "F2", "F3", "F8", "FF"};
    const char* const controllers[] = {"06", "26", "62", "63", "64", "65", "07", "80"};
    for (int round = 0; round < 4000; ++round)
    {
        std::string text;
        for (int i = std::uniform_int_distribution<int>(0, 12)(rng); i > 0; --i)
        {
            const unsigned pick = rng() % 5;
            if (pick == 0)
                text += statuses[rng() % std::size(statuses)];
            else if (pick == 1)
                text += controllers[rng() % std::size(controllers)];
            else if (pick == 2)
                text += std::string("B0") + controllers[rng() % std::size(controllers)] + alphabet[rng() % 16] + alphabet[rng() % 16];
            else
                text += alphabet[rng() % alphabet.size()];
        }
        ASSERT_EQ(Tr::GetMidiStringName(text, 1).empty(), text.empty()) << text;

        std::string s;
        for (char c : text)
            if (c != ' ')
                s += c;
        for (int pos = 1; pos <= static_cast<int>(s.size());)
        {
            int consumed = -1;
            const std::string part = Tr::GetMidiStringNameImpl(s, pos, consumed);
            ASSERT_EQ(part.empty(), consumed == 0) << s << " at " << pos;
            if (consumed == 0)
                break;
            ASSERT_EQ(consumed % 2, 0) << s << " at " << pos;
            ASSERT_LE(pos - 1 + consumed, static_cast<int>(s.size())) << s << " at " << pos;
            pos += consumed;
        }
    }
}
