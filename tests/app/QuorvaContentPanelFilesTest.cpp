// The panel's files: SAVE, OPEN and drops with the unsaved-changes question, every error box, the
// start with or without a last file and the defaults, and the settings ini.
#include "PanelHarness.h"

#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const juce::String saveQuestion = "You have made changes to the settings.\nDo you want to save them?";

// The defaults with a recognisable change, as a file another session saved.
Bytes otherSettings(int stepCount)
{
    Bytes m = PanelHarness::defaults();
    m[static_cast<std::size_t>(blockOf(1) + 34)] = static_cast<unsigned char>(stepCount);
    return m;
}

std::string iniCurrent(const std::string& file, const std::string& documents = "")
{
    std::string text = "[Current]\nFile=" + file + "\n";
    if (!documents.empty())
        text += "DocumentsDir=" + documents + "\n";
    return text;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(QuorvaContentPanelFiles, SaveWritesThe546BytesAndTheTitleFollows)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    h.pick("stepCountCombo", "7 Steps");
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 *");
    EXPECT_FALSE(Tr::DirExists(h.documentsDir()));

    {
        FileDialogAnswers files({h.files() / "mine"});
        h.click("saveButton");
        ASSERT_EQ(files.questions().size(), 1u);
        EXPECT_EQ(files.questions()[0].title, "Save a Quorva MIDI 2 File");
        EXPECT_TRUE(files.questions()[0].saveMode);
        EXPECT_EQ(files.questions()[0].folder, juce::String(h.documentsDir()))
            << "with no current file the question opens in the documents folder";
        EXPECT_TRUE(Tr::DirExists(h.documentsDir())) << "the first save makes the documents folder";
    }
    const std::string mine = h.files() / "mine.syx";
    EXPECT_EQ(PanelHarness::readBytes(mine), h.message()) << "exactly the 546 bytes, \".syx\" appended";
    EXPECT_EQ(h.panel().getCurrentFile(), juce::String(mine));
    EXPECT_FALSE(h.panel().hasChanges());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - mine.syx");

    h.pick("stepCountCombo", "9 Steps");
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - mine.syx *");
    {
        FileDialogAnswers files({""});
        h.click("saveButton");
        ASSERT_EQ(files.questions().size(), 1u);
        EXPECT_EQ(files.questions()[0].folder, juce::String(h.files().path())) << "opens at the current file";
    }
    EXPECT_TRUE(h.panel().hasChanges()) << "a cancelled save changes nothing";
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - mine.syx *");
    EXPECT_EQ(h.files().entryCount(), 1);

    {
        FileDialogAnswers files({h.files() / "other.SYX"});
        h.click("saveButton");
    }
    EXPECT_EQ(PanelHarness::readBytes(h.files() / "other.SYX.syx"), h.message())
        << "the extension is matched with its case";
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - other.SYX.syx");
    EXPECT_EQ(h.files().entryCount(), 2) << "no temporary file is left behind";
}

TEST(QuorvaContentPanelFiles, AFailedSaveShowsTheErrorAndKeepsTheOldFile)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const std::string path = h.files() / "old.syx";
    {
        FileDialogAnswers files({path});
        h.click("saveButton");
    }
    const Bytes old = PanelHarness::readBytes(path);
    ASSERT_EQ(old.size(), 546u);

    h.pick("stepCountCombo", "12 Steps");
    {
        ScopedFileSizeLimit fullDisk(100);
        FileDialogAnswers files({path});
        ModalBoxAnswers answers({"OK"});
        h.click("saveButton");
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message, juce::String("Error saving file '" + path + "':\nfile write error"));
    }
    EXPECT_EQ(PanelHarness::readBytes(path), old) << "the old file is intact";
    EXPECT_EQ(h.files().entryCount(), 1) << "no temporary file is left behind";
    EXPECT_TRUE(h.panel().hasChanges());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - old.syx *");
}

TEST(QuorvaContentPanelFiles, OpenAsksAboutUnsavedChangesFirst)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const std::string a = h.writeFile("a.syx", otherSettings(5));
    const std::string b = h.writeFile("b.syx", otherSettings(6));

    h.pick("stepCountCombo", "16 Steps");
    const Bytes edited = h.message();
    {
        ModalBoxAnswers answers({"Cancel"});
        h.click("openButton");
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Confirm");
        EXPECT_EQ(answers.boxes()[0].message, saveQuestion);
    }
    EXPECT_EQ(h.message(), edited) << "Cancel stops the open before the file question";
    EXPECT_TRUE(h.panel().hasChanges());

    {
        ModalBoxAnswers answers({"No"});
        FileDialogAnswers files({a});
        h.click("openButton");
        ASSERT_EQ(files.questions().size(), 1u);
        EXPECT_EQ(files.questions()[0].title, "Open a Quorva MIDI 2 File");
        EXPECT_FALSE(files.questions()[0].saveMode);
    }
    EXPECT_FALSE(Tr::DirExists(h.documentsDir())) << "OPEN never makes the documents folder";
    EXPECT_EQ(h.message(), otherSettings(5));
    EXPECT_EQ(h.combo("stepCountCombo").getText(), "5 Steps");
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - a.syx");
    EXPECT_FALSE(h.panel().hasChanges());

    // Yes: the save question comes first; a cancelled save still goes on to the open.
    h.pick("stepCountCombo", "3 Steps");
    {
        ModalBoxAnswers answers({"Yes"});
        FileDialogAnswers files({"", b});
        h.click("openButton");
        ASSERT_EQ(files.questions().size(), 2u);
        EXPECT_TRUE(files.questions()[0].saveMode);
        EXPECT_FALSE(files.questions()[1].saveMode);
    }
    EXPECT_EQ(PanelHarness::readBytes(a), otherSettings(5)) << "the save was cancelled";
    EXPECT_EQ(h.message(), otherSettings(6));
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - b.syx");

    h.pick("stepCountCombo", "4 Steps");
    const Bytes toSave = h.message();
    {
        ModalBoxAnswers answers({"Yes"});
        FileDialogAnswers files({b, a});
        h.click("openButton");
    }
    EXPECT_EQ(PanelHarness::readBytes(b), toSave) << "Yes saved the changes over b.syx";
    EXPECT_EQ(h.message(), otherSettings(5));
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - a.syx");
}

TEST(QuorvaContentPanelFiles, OpenAndDropShowEveryLoadError)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const std::string a = h.writeFile("a.syx", otherSettings(5));
    h.panel().filesDropped(juce::StringArray(juce::String(a)), 1, 1);
    ASSERT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - a.syx");

    Bytes shortFile = otherSettings(5);
    shortFile.pop_back();
    Bytes badEnd = otherSettings(5);
    badEnd[545] = 0xF8;
    Bytes badMarker = otherSettings(5);
    badMarker[static_cast<std::size_t>(blockOf(2))] = 3;
    const std::string huge = h.files() / "huge.syx";
    {
        std::ofstream out(huge, std::ios::binary);
        out.seekp(2200LL * 1024 * 1024);
        out.put('\0');
    }
    struct Case
    {
        std::string path;
        std::string reason;
        bool byOpen;
    };
    const Case cases[] = {
        {h.writeFile("short.syx", shortFile), "Not a valid tempolate file: wrong size", true},
        {h.writeFile("end.syx", badEnd), "Not a valid tempolate file: MIDI markers missing", false},
        {h.writeFile("marker.syx", badMarker), "Not a valid tempolate file: invalid program marker", false},
        {huge, "error loading: file too large (2GB limit): " + huge, false},
    };
    for (const Case& c : cases)
    {
        ModalBoxAnswers answers({"OK"});
        if (c.byOpen)
        {
            FileDialogAnswers files({c.path});
            h.click("openButton");
        }
        else
        {
            h.panel().filesDropped(juce::StringArray(juce::String(c.path)), 1, 1);
        }
        ASSERT_EQ(answers.boxes().size(), 1u) << c.path;
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message, juce::String("Error loading file '" + c.path + "':\n" + c.reason));
        EXPECT_EQ(h.message(), otherSettings(5)) << "the editor is unchanged after " << c.path;
        EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - a.syx") << "the current file is unchanged";
    }

    {
        ModalBoxAnswers answers({"OK"});
        h.panel().filesDropped(juce::StringArray(juce::String(h.files().path())), 1, 1);
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message, "Error: cannot load a folder.");
    }

    // Three files: only the first counts, whatever its name.
    const std::string first = h.writeFile("first.bin", otherSettings(9));
    const std::string second = h.writeFile("second.syx", otherSettings(10));
    const juce::StringArray three {juce::String(first), juce::String(second), juce::String(a)};
    h.panel().filesDropped(three, 1, 1);
    EXPECT_EQ(h.message(), otherSettings(9));
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - first.bin");

    // A drop asks about unsaved changes like OPEN.
    h.pick("stepCountCombo", "2 Steps");
    {
        ModalBoxAnswers answers({"Cancel"});
        h.panel().filesDropped(juce::StringArray(juce::String(second)), 1, 1);
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].message, saveQuestion);
    }
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - first.bin *");
    {
        ModalBoxAnswers answers({"No"});
        h.panel().filesDropped(juce::StringArray(juce::String(second)), 1, 1);
    }
    EXPECT_EQ(h.message(), otherSettings(10));
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - second.syx");
    EXPECT_TRUE(h.panel().isInterestedInFileDrag(three));
}

TEST(QuorvaContentPanelFiles, StartLoadsTheLastFileAndQuitWritesTheIni)
{
    QUORVA_REQUIRE_DISPLAY(display);
    TempFolder elsewhere;
    const std::string last = elsewhere / "last.syx";
    const Bytes bytes = otherSettings(11);
    TempFolder::writeFile(last, std::string(bytes.begin(), bytes.end()));
    const std::string documents = elsewhere / "My Quorva";

    PanelSetup setup;
    setup.iniText = iniCurrent(last, documents) + "[Other]\nKept=yes\n";
    PanelHarness h(setup);
    h.start();
    EXPECT_EQ(h.message(), bytes);
    EXPECT_EQ(h.panel().getCurrentFile(), juce::String(last));
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 - last.syx");
    EXPECT_EQ(h.panel().getDocumentsDir(), documents);

    h.pick("midiOutCombo", "Synth A");
    h.quit();
    const std::string ini = TempFolder::readFile(h.iniPath());
    EXPECT_TRUE(contains(ini, "File=" + last + "\n")) << ini;
    EXPECT_TRUE(contains(ini, "DocumentsDir=" + documents + "\n")) << ini;
    EXPECT_TRUE(contains(ini, "MainLeft=")) << ini;
    EXPECT_TRUE(contains(ini, "[Other]\nKept=yes")) << "other sections survive: " << ini;
    EXPECT_TRUE(contains(ini, "[MIDI.alias]")) << ini;
    EXPECT_TRUE(contains(ini, "Synth A")) << "the chosen port is kept by the MIDI library: " << ini;
}

TEST(QuorvaContentPanelFiles, StartWithAMissingLastFileUsesTheDefaults)
{
    QUORVA_REQUIRE_DISPLAY(display);
    TempFolder elsewhere;
    PanelSetup setup;
    setup.iniText = iniCurrent(elsewhere / "gone.syx");
    PanelHarness h(setup);
    h.start();
    EXPECT_EQ(h.message(), PanelHarness::defaults());
    EXPECT_TRUE(h.panel().getCurrentFile().isEmpty());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0");
    h.quit();
    EXPECT_TRUE(contains(TempFolder::readFile(h.iniPath()), "File=\n")) << "the missing file is forgotten";
}

TEST(QuorvaContentPanelFiles, StartWithAnInvalidLastFileForgetsIt)
{
    QUORVA_REQUIRE_DISPLAY(display);
    TempFolder elsewhere;
    const std::string bad = elsewhere / "bad.syx";
    TempFolder::writeFile(bad, "not settings");
    PanelSetup setup;
    setup.iniText = iniCurrent(bad);
    PanelHarness h(setup);
    h.start();   // no box
    EXPECT_EQ(h.message(), PanelHarness::defaults());
    EXPECT_TRUE(h.panel().getCurrentFile().isEmpty());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0");
    EXPECT_FALSE(PanelHarness::quitRequested());
}

namespace {

// Starts with a resources folder of its own, holding `defaults` as "defaults.syx" unless null:
// the start shows `error` and the program quits.
void expectStartErrorThenQuit(const Bytes* defaults, const juce::String& error)
{
    PanelSetup setup;
    setup.ownResources = true;
    PanelHarness h(setup);
    if (defaults)
        TempFolder::writeFile(h.resources() / "defaults.syx", std::string(defaults->begin(), defaults->end()));
    const auto boxes = h.start({"OK"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].message, error);
    EXPECT_TRUE(PanelHarness::quitRequested());
}

} // namespace

TEST(QuorvaContentPanelFiles, StartWithoutDefaultsShowsTheErrorAndQuits)
{
    QUORVA_REQUIRE_DISPLAY(display);
    expectStartErrorThenQuit(nullptr, "Error loading resource: defaults.syx");
}

TEST(QuorvaContentPanelFiles, StartWithInvalidDefaultsShowsTheReasonAndQuits)
{
    QUORVA_REQUIRE_DISPLAY(display);
    Bytes bad = PanelHarness::defaults();
    bad[0] = 0x90;
    expectStartErrorThenQuit(&bad, "Not a valid tempolate file: MIDI markers missing");
}

TEST(QuorvaContentPanelFiles, TheCloseButtonAsksAboutUnsavedChanges)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    h.window().closeButtonPressed();
    EXPECT_TRUE(PanelHarness::quitRequested()) << "nothing changed: no question";
}

TEST(QuorvaContentPanelFiles, TheCloseButtonStaysOnCancel)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    h.pick("stepCountCombo", "8 Steps");
    {
        ModalBoxAnswers answers({"Cancel"});
        h.window().closeButtonPressed();
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].message, saveQuestion);
    }
    EXPECT_FALSE(PanelHarness::quitRequested());
    {
        // Yes, then a cancelled save dialog: the program still quits.
        ModalBoxAnswers answers({"Yes"});
        FileDialogAnswers files({""});
        h.window().closeButtonPressed();
        EXPECT_EQ(files.questions().size(), 1u);
    }
    EXPECT_TRUE(PanelHarness::quitRequested());
}
