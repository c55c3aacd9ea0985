#include "midi/MidiUtil.h"

#include "core/TrLock.h"
#include "core/TrStringList.h"
#include "core/TrUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace Tr;

// The open-port lists are process-wide; these tests use names no other test opens and leave the
// lists as they found them.
TEST(MidiUtil, OpenPortListsHoldEachNameOnceIgnoringCase)
{
    const std::string name = "UtilTest Synth";
    EXPECT_FALSE(IsMidiDeviceOpen(0, name));

    AddOpenMidiDevice(0, name);
    AddOpenMidiDevice(0, name);
    AddOpenMidiDevice(0, "UTILTEST SYNTH");
    midiShareMidiListLockEnter();
    TStringList* outs = getMidiDevList(0, 0);
    ASSERT_NE(outs, nullptr);
    int lines = 0;
    for (int i = 0; i < outs->Count(); ++i)
        if (CompareText((*outs)[i].FText, name) == 0)
        {
            ++lines;
            EXPECT_EQ((*outs)[i].FTag, 0);
            EXPECT_EQ((*outs)[i].FText, name) << "the first spelling stays";
        }
    midiShareMidiListLockLeave();
    EXPECT_EQ(lines, 1) << "a name is listed once whatever its case";

    EXPECT_TRUE(IsMidiDeviceOpen(0, "utiltest synth"));
    EXPECT_FALSE(IsMidiDeviceOpen(1, name)) << "the directions are separate lists";
    EXPECT_FALSE(IsMidiDeviceOpen(2, name));
    EXPECT_EQ(getMidiDevList(2, 1), nullptr);

    RemoveOpenMidiDevice(0, "UTILTEST synth");
    EXPECT_FALSE(IsMidiDeviceOpen(0, name)) << "closing either spelling removes the line";
    RemoveOpenMidiDevice(0, name);   // nothing left to remove
    RemoveOpenMidiDevice(1, "UtilTest never added");
    EXPECT_FALSE(IsMidiDeviceOpen(0, name));

    // The lock is recursive: a caller holding it may still use the group.
    midiShareMidiListLockEnter();
    midiShareMidiListLockEnter();
    AddOpenMidiDevice(1, name);
    EXPECT_TRUE(IsMidiDeviceOpen(1, name));
    RemoveOpenMidiDevice(1, name);
    midiShareMidiListLockLeave();
    midiShareMidiListLockLeave();
}

// These need a process whose lists were never touched and that may free the group for good, so
// each runs in a fresh child process.
TEST(MidiUtilDeathTest, FreshProcessCreatesListsLazilyAndFreeingEndsTheGroup)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RemoveOpenMidiDevice(0, "X");
            const bool lockButNoList = openMidiListLock.load() != nullptr && OpenOutDevices == nullptr
                                       && OpenInDevices == nullptr;
            AddOpenMidiDevice(1, "LB1");
            const bool added = OpenInDevices != nullptr && IsMidiDeviceOpen(1, "lb1");
            FreeMidiDevListBuffer();
            const bool freed = midiShareObjectsFreed && OpenInDevices == nullptr && openMidiListLock.load() == nullptr;
            AddOpenMidiDevice(0, "Y");
            midiShareMidiListLockEnter();
            midiShareMidiListLockLeave();
            const bool inert = !IsMidiDeviceOpen(0, "Y") && !IsMidiDeviceOpen(1, "LB1") && OpenOutDevices == nullptr
                               && openMidiListLock.load() == nullptr && !WouldBecomeVirtualMidiLoop(0, "LB1");
            std::exit(lockButNoList && added && freed && inert ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MidiUtil, VirtualDriversAndFeedbackLoops)
{
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("LoopBE Internal MIDI"));
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("MIDI Yoke NT: 1"));
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("Maple Midi Out: Port 2"));
    EXPECT_TRUE(IsMidiDeviceVirtualDriver("LB4"));
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("MIDI Yoke NT 1")) << "the colon belongs to the prefix";
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("loopbe internal midi")) << "the test is case-sensitive";
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("LB")) << "shorter than every prefix";
    EXPECT_FALSE(IsMidiDeviceVirtualDriver(""));
    EXPECT_FALSE(IsMidiDeviceVirtualDriver("My LB1"));

    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(0, "LB1"));
    AddOpenMidiDevice(1, "LB1");
    EXPECT_TRUE(WouldBecomeVirtualMidiLoop(0, "LB1")) << "an output of the driver whose input is open";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(0, "lb1")) << "lb1 is no driver name";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(1, "LB1")) << "no output named LB1 is open";
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(2, "LB1"));
    AddOpenMidiDevice(0, "Real Synth");
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(1, "Real Synth")) << "not a virtual driver";
    RemoveOpenMidiDevice(0, "Real Synth");
    RemoveOpenMidiDevice(1, "LB1");
    EXPECT_FALSE(WouldBecomeVirtualMidiLoop(0, "LB1"));

    EXPECT_EQ(SF_WouldBecomeVirtualLoop, "Opening \"%s\" would create a virtual feedback loop !");
    EXPECT_EQ(SUnspecifiedError, "Unspecified error");
}

TEST(MidiUtil, ShortMessageLengthFromStatus)
{
    const std::pair<int, int> cases[] = {{0x90, 3}, {0x80, 3}, {0xA0, 3}, {0xBF, 3}, {0xC5, 2}, {0xD0, 2},
                                         {0xE0, 3}, {0xF1, 2}, {0xF2, 3}, {0xF3, 2}, {0xF0, 1}, {0xF6, 1},
                                         {0xF7, 1}, {0xF8, 1}, {0xFE, 1}, {0xFF, 1}, {0x40, 0}, {0x00, 0}};
    for (const auto& [status, length] : cases)
        EXPECT_EQ(ShortMidiMessageLength(status), length) << "status " << std::hex << status;
    for (int status = 0; status < 0x80; ++status)
        EXPECT_EQ(ShortMidiMessageLength(status), 0) << "data byte " << status;
    // Only the low byte's nibbles index the tables, so no argument reads outside them.
    EXPECT_EQ(ShortMidiMessageLength(-1), 1);
    EXPECT_EQ(ShortMidiMessageLength(0x190), 3);
    EXPECT_EQ(ShortMidiMessageLength(-2147483647 - 1), 0);
}

TEST(MidiUtil, FourteenBitValues)
{
    EXPECT_EQ(toInt(0, 64), 0);
    EXPECT_EQ(toInt(0, 0), -8192);
    EXPECT_EQ(toInt(127, 127), 8191);
    EXPECT_EQ(toLSB(0), 0);
    EXPECT_EQ(toMSB(0), 64);
    EXPECT_EQ(UtoLSB(16383), 127);
    EXPECT_EQ(UtoMSB(16383), 127);
    EXPECT_EQ(UtoInt(127, 127), 16383);
    for (int v = -8192; v <= 8191; ++v)
    {
        ASSERT_LT(toLSB(v), 128);
        ASSERT_LT(toMSB(v), 128);
        ASSERT_EQ(toInt(toLSB(v), toMSB(v)), v);
    }
    for (int v = 0; v <= 16383; ++v)
        ASSERT_EQ(UtoInt(UtoLSB(v), UtoMSB(v)), v);
    // Outside the range the results wrap; they must not overflow.
    EXPECT_EQ(toMSB(2147483647), static_cast<unsigned char>((2147483647LL + 8192) / 128));
    EXPECT_EQ(UtoLSB(-1), static_cast<unsigned char>(-1));
}

TEST(MidiUtil, LooseNameComparison)
{
    EXPECT_TRUE(EqualMidiDeviceName("My Port 2", "myport2"));
    EXPECT_TRUE(EqualMidiDeviceName(" Synth", "Synth"));
    EXPECT_TRUE(EqualMidiDeviceName("", "   "));
    EXPECT_FALSE(EqualMidiDeviceName("Synth 1", "Synth 2"));
    EXPECT_FALSE(EqualMidiDeviceName("Synth\t", "Synth")) << "only blanks are dropped";
}
