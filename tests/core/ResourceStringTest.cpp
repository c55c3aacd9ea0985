#include "TempFolder.h"

#include "core/TrUtil.h"

#include <gtest/gtest.h>

// "Language.ini" is read once per process, on the first call, from the working directory. This
// is the only test in this program that asks for translated texts, so its first call is the
// process's first (ctest runs every test in a process of its own; a run of the whole program in
// one process works as long as no other test calls ResourceString).
TEST(ResourceString, ReadsLanguageIniOnceFromTheWorkingDirectory)
{
    TempFolder dir;
    TempFolder::writeFile(dir / "Language.ini", "[strings]\n"
                                                "MIDI IN=MIDI-Eingang\n"
                                                "Cannot open %s=%s kann nicht ge\xC3\xB6" "ffnet werden\n"
                                                "Port %s=%1024s\n"
                                                "Port %s: %s=%s: %.1025s\n"
                                                "Error %d=%-+0999999999d\n"
                                                "[other]\n"
                                                "MIDI OUT=MIDI-Ausgang\n");
    {
        ScopedCwd cwd(dir.path());
        ASSERT_TRUE(cwd.entered());
        EXPECT_EQ(Tr::UString::ResourceString("MIDI IN"), "MIDI-Eingang");
    }
    EXPECT_EQ(Tr::UString::ResourceString("Cannot open %s"), "%s kann nicht ge\xC3\xB6" "ffnet werden");
    EXPECT_EQ(Tr::UString::ResourceString("MIDI OUT"), "MIDI OUT") << "other sections are not used";
    // Padding to a huge width takes seconds per message: such a translation is not used.
    EXPECT_EQ(Tr::UString::ResourceString("Port %s"), "%1024s");
    EXPECT_EQ(Tr::UString::ResourceString("Port %s: %s"), "Port %s: %s");
    EXPECT_EQ(Tr::UString::ResourceString("Error %d"), "Error %d");
    EXPECT_EQ(Tr::UString::ResourceString("midi in"), "midi in") << "keys are compared exactly";

    // A changed file does not reach a running process.
    TempFolder::writeFile(dir / "Language.ini", "[strings]\nMIDI IN=changed\nNot translated=now\n");
    {
        ScopedCwd cwd(dir.path());
        EXPECT_EQ(Tr::UString::ResourceString("MIDI IN"), "MIDI-Eingang");
        EXPECT_EQ(Tr::UString::ResourceString("Not translated"), "Not translated");
    }
}
