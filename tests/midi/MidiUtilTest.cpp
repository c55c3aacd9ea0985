#include "midi/MidiUtil.h"

#include "core/TrStringList.h"
#include "core/TrUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace Tr;

// The open-port lists are process-wide; these tests use names no other test opens and leave the
// lists as they found them.
TEST(MidiUtil, OpenPortListsVirtualDriversLoopsAndLooseNames)
{
    const std::string name = "UtilTest Synth";
    AddOpenMidiDevice(0, name);
    AddOpenMidiDevice(0, "UTILTEST SYNTH");
    midiShareMidiListLockEnter();   // recursive: the calls below take it again
    const TStringList& outs = *getMidiDevList(0, 0);
    int lines = 0;
    for (int i = 0; i < outs.Count(); ++i)
        lines += CompareText(outs[i].FText, name) == 0 ? 1 : 0;
    EXPECT_EQ(lines, 1) << "a name is listed once whatever its case";
    RemoveOpenMidiDevice(0, "utiltest synth");
    midiShareMidiListLockLeave();
    EXPECT_FALSE(IsMidiDeviceOpen(0, name)) << "closing either spelling removes the line";

    AddOpenMidiDevice(1, name);
    EXPECT_TRUE(IsMidiDeviceOpen(1, "utiltest SYNTH"));
    EXPECT_FALSE(IsMidiDeviceOpen(0, name)) << "the directions are separate lists";
    EXPECT_FALSE(IsMidiDeviceOpen(2, name));
    RemoveOpenMidiDevice(1, name);
    RemoveOpenMidiDevice(1, name);   // nothing left to remove
    EXPECT_FALSE(IsMidiDeviceOpen(1, name));

    // A virtual driver's output whose input is open would loop.
    AddOpenMidiDevice(1, "LB1");
    AddOpenMidiDevice(0, "Real Synth");
    EXPECT_TRUE(WouldBecomeVirtualMidiLoop(0, "LB1")) << "an output of the driver whose input is open";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(0, "lb1")) << "lb1 is no driver name";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(1, "LB1")) << "no output named LB1 is open";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(1, "Real Synth")) << "not a virtual driver";
    RemoveOpenMidiDevice(0, "Real Synth");
    RemoveOpenMidiDevice(1, "LB1");
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(0, "LB1"));

    EXPECT_TRUE(IsMidiDeviceVirtualDriver("LoopBE Internal MIDI"));
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("MIDI Yoke NT: 1"));
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("LB4"));
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("MIDI Yoke NT 1")) << "the colon belongs to the prefix";
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("loopbe internal midi")) << "the test is case-sensitive";
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("LB")) << "shorter than every prefix";

    EXPECT_TRUE(EqualMidiDeviceName("My Port 2", "myport2"));
    EXPECT_TRUE(EqualMidiDeviceName(" Synth", "Synth"));
    EXPECT_FALSE(EqualMidiDeviceName("Synth 1", "Synth 2"));
    EXPECT_FALSE(EqualMidiDeviceName("Synth\t", "Synth")) << "only blanks are dropped";
}

// Needs a process whose lists were never touched and that may free the group for good.
TEST(MidiUtilDeathTest, FreshProcessCreatesListsLazilyAndFreeingEndsTheGroup)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RemoveOpenMidiDevice(0, "X");
            const bool lazy = openMidiListLock.load() != nullptr && OpenOutDevices == nullptr && OpenInDevices == nullptr;
            AddOpenMidiDevice(1, "LB1");
            FreeMidiDevListBuffer();
            AddOpenMidiDevice(0, "Y");
            const bool inert = !IsMidiDeviceOpen(0, "Y") && !IsMidiDeviceOpen(1, "LB1") && OpenOutDevices == nullptr
                               && openMidiListLock.load() == nullptr && !WouldBecomeVirtualMidiLoop(0, "LB1");
            std::exit(lazy && inert ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MidiUtil, MessageLengthsAndFourteenBitValues)
{
    const std::pair<int, int> cases[] = {{0x90, 3}, {0xC5, 2}, {0xE0, 3}, {0xF1, 2}, {0xF2, 3}, {0xF3, 2},
                                         {0xF0, 1}, {0xF6, 1}, {0xF7, 1}, {0xF8, 1}, {0xFE, 1}, {0x40, 0}};
    for (const auto& [status, length] : cases)
        EXPECT_EQ(ShortMidiMessageLength(status), length) << "status " << std::hex << status;
    // Only the low byte's nibbles index the tables, so no argument reads outside them.
    EXPECT_EQ(ShortMidiMessageLength(-1), 1);
    EXPECT_EQ(ShortMidiMessageLength(0x190), 3);
    EXPECT_EQ(ShortMidiMessageLength(-2147483647 - 1), 0);

    EXPECT_EQ(toInt(0, 64), 0);
    EXPECT_EQ(toInt(0, 0), -8192);
    EXPECT_EQ(toInt(127, 127), 8191);
    EXPECT_EQ(toLSB(0), 0);
    EXPECT_EQ(toMSB(0), 64);
    EXPECT_EQ(UtoLSB(16383), 127);
    EXPECT_EQ(UtoMSB(16383), 127);
    for (int v = -8192; v <= 8191; ++v)
        ASSERT_EQ(toInt(toLSB(v), toMSB(v)), v);
    for (int v = 0; v <= 16383; ++v)
        ASSERT_EQ(UtoInt(UtoLSB(v), UtoMSB(v)), v);
    // Outside the range the results wrap; they must not overflow.
    EXPECT_EQ(toMSB(2147483647), static_cast<unsigned char>((2147483647LL + 8192) / 128));
}
