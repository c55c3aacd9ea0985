// The panel's files: SAVE, OPEN and drops with the unsaved-changes question, every error box, the
// start with or without a last file and the defaults, and the settings ini.
#include "PanelHarness.h"
#include "core/FifoRescue.h"
#include "core/TrIniFile.h"
#include "midi/FreshProcess.h"

#include <filesystem>
#include <fstream>

namespace {

using Texts = std::vector<std::string>;

const std::string saveQuestion = "Confirm: You have made changes to the settings.\nDo you want to save them?";
const std::string titled = "Quorva MIDI 2 - v1.0", saveAt = "Save a Quorva MIDI 2 File (save) at ",
                  openAt = "Open a Quorva MIDI 2 File (open) at ";

std::string overwriteQuestion(const std::string& path)
{
    return "File already exists: There's already a file called: " + path + "\n\nAre you sure you want to overwrite it?";
}

class EditorFiles : public PanelTest
{
protected:
    // Every answer to the unsaved-changes question that leaves the edits unsaved: Cancel, and after
    // Yes a cancelled save dialog, a declined overwrite of `existing` (typed without its ".syx") and
    // a failed write. Each stops `ask` (OPEN, a drop, the close button) and keeps edits and file.
    void expectEditsKept(const std::function<void()>& ask, const std::string& saveDir, const std::string& existing)
    {
        const Bytes edited = message(), old = readBytes(existing);
        const std::string shown = title(), saveDialog = saveAt + saveDir;
        const std::tuple<Texts, Texts, rlim_t> cases[] = {   // answers, boxes seen, file size limit
            {{"Cancel"}, {saveQuestion}, RLIM_INFINITY},
            {{"Yes", ""}, {saveQuestion, saveDialog}, RLIM_INFINITY},
            {{"Yes", existing.substr(0, existing.size() - 4), "Cancel"}, {saveQuestion, saveDialog, overwriteQuestion(existing)}, RLIM_INFINITY},
            {{"Yes", existing, "OK"}, {saveQuestion, saveDialog, "Error: Error saving file '" + existing + "':\nfile write error: File too large"}, 100},
        };
        for (const auto& [answers, seen, sizeLimit] : cases) {
            ScopedFileSizeLimit limit(sizeLimit);
            ModalAnswers modal(answers);
            ask();
            EXPECT_EQ(modal.seen(), seen);
            EXPECT_EQ(message(), edited) << "after " << seen.back();
            EXPECT_EQ(title(), shown);
            EXPECT_FALSE(quitRequested());
        }
        EXPECT_EQ(readBytes(existing), old);
    }
};

// The defaults with a recognisable change, as a file another session saved.
Bytes otherSettings(int stepCount)
{
    Bytes m = defaultSettings();
    m[blockOf(1) + 34] = (unsigned char)stepCount;
    return m;
}

std::string iniCurrent(const std::string& file, const std::string& documents = "")
{
    return "[Current]\nFile=" + file + "\n" + (documents.empty() ? "" : "DocumentsDir=" + documents + "\n");
}

// Each start of the program is a process of its own that finds the settings ini the one before it
// wrote at its quit.
class EditorRestarts : public PanelTest
{
protected:
    void SetUp() override {}
    void TearDown() override {}
    // One run of the program around body: its start before, its quit after.
    void run(const std::function<void()>& body)
    {
        RunInFreshProcess([&] {
            PanelTest::SetUp();
            if (!HasFatalFailure() && !IsSkipped())
                body();
            PanelTest::TearDown();
        });
    }
};

} // namespace

TEST_F(EditorFiles, SaveWritesThe546BytesTheTitleFollowsAndAFailureKeepsTheOldFile)
{
    start();
    pick("stepCountCombo", "7 Steps");
    EXPECT_EQ(title(), titled + " *");
    EXPECT_FALSE(Tr::DirExists(documentsDir()));
    const std::string mine = files / "mine.SYX.syx";
    {
        ModalAnswers answers({files / "mine.SYX"});
        click("saveButton");
        EXPECT_EQ(answers.seen(), Texts{saveAt + documentsDir()})
            << "with no current file the question opens in the documents folder, made by the first save";
    }
    EXPECT_EQ(readBytes(mine), message()) << "exactly the 546 bytes, \".syx\" appended (matched with its case)";
    EXPECT_EQ(panel().getCurrentFile(), juce::String(mine));
    EXPECT_EQ(title(), titled + " - mine.SYX.syx");

    const Bytes old = message();
    pick("stepCountCombo", "9 Steps");
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *");
    {
        ModalAnswers answers({""});
        click("saveButton");
        EXPECT_EQ(answers.seen(), Texts{saveAt + files.path()}) << "at the current file";
    }
    {
        ModalAnswers answers({files / "mine.SYX", "Cancel"});
        click("saveButton");
        EXPECT_EQ(answers.seen(), (Texts{saveAt + files.path(), overwriteQuestion(mine)})) << "about the file to be written";
    }
    EXPECT_EQ(readBytes(mine), old);
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *") << "a cancelled save or overwrite changes nothing";

    {
        ScopedFileSizeLimit fullDisk(100);
        ModalAnswers answers({mine, "OK"});
        click("saveButton");
        EXPECT_EQ(answers.seen(), (Texts{saveAt + files.path(), "Error: Error saving file '" + mine + "':\nfile write error: File too large"}));
    }
    EXPECT_EQ(readBytes(mine), old) << "the old file is intact";
    EXPECT_EQ(files.entryCount(), 1) << "no temporary file is left behind";
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *");

    const std::string pipe = files / "pipe.syx";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    {
        FifoRescue rescue(pipe);
        ModalAnswers answers({pipe, "OK"});
        click("saveButton");
        EXPECT_EQ(answers.seen(), (Texts{saveAt + files.path(), "Error: Error saving file '" + pipe +
                                                                    "':\nnot a regular file (named pipe): " + pipe}));
        EXPECT_FALSE(rescue.steppedIn()) << "the save waited for a reader of the pipe";
    }
    EXPECT_TRUE(FifoRescue::isFifo(pipe)) << "the pipe is neither written nor replaced";
    EXPECT_EQ(files.entryCount(), 2);
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *");
}

TEST_F(EditorFiles, SaveWritesThroughALinkToNothingAndTakesTheLongestNames)
{
    start();
    pick("stepCountCombo", "6 Steps");
    const std::string link = files / "link.syx", target = files / "moved.syx";
    std::filesystem::create_symlink("moved.syx", link);
    {
        ModalAnswers answers({link});
        click("saveButton");
        EXPECT_EQ(answers.pending(), 0u);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays";
    EXPECT_EQ(readBytes(target), message()) << "the link's file is written";
    EXPECT_EQ(title(), titled + " - link.syx");

    const std::string longest = files / std::string(251, 'q') + ".syx";
    pick("stepCountCombo", "5 Steps");
    {
        ModalAnswers answers({longest});
        click("saveButton");
        EXPECT_EQ(answers.pending(), 0u) << "no error box";
    }
    EXPECT_EQ(readBytes(longest), message());
    EXPECT_EQ(title(), titled + " - " + Tr::ExtractFileName(longest));
    EXPECT_EQ(files.entryCount(), 3) << "no temporary file is left behind";
}

TEST_F(EditorFiles, OpenAsksAboutUnsavedChangesFirst)
{
    start();
    const std::string a = writeFile("a.syx", otherSettings(5)), b = writeFile("b.syx", otherSettings(6));
    pick("stepCountCombo", "16 Steps");
    {
        ModalAnswers answers({"No", a});
        click("openButton");
        EXPECT_EQ(answers.seen(), (Texts{saveQuestion, openAt + home.folder().path()}))
            << "the documents folder does not exist yet: its parent";
    }
    EXPECT_FALSE(Tr::DirExists(documentsDir())) << "OPEN never makes the documents folder";
    EXPECT_EQ(message(), otherSettings(5));
    EXPECT_EQ(combo("stepCountCombo").getText(), "5 Steps");
    EXPECT_EQ(title(), titled + " - a.syx");

    // Yes opens only once the edits are saved.
    pick("stepCountCombo", "3 Steps");
    const Bytes toSave = message();
    expectEditsKept([&] { click("openButton"); }, files.path(), b);
    {
        ModalAnswers answers({"Yes", files / "b", "Overwrite", a});
        click("openButton");
        EXPECT_EQ(answers.seen(), (Texts{saveQuestion, saveAt + files.path(), overwriteQuestion(b), openAt + files.path()}));
    }
    EXPECT_EQ(readBytes(b), toSave) << "Yes saved the changes over b.syx";
    EXPECT_EQ(message(), otherSettings(5));
    EXPECT_EQ(title(), titled + " - a.syx");
}

TEST_F(EditorFiles, OpenAndDropShowEveryLoadErrorAndDropsAskLikeOpen)
{
    start();
    const std::string a = writeFile("a.syx", otherSettings(5));
    drop(a);
    ASSERT_EQ(title(), titled + " - a.syx");

    Bytes shortFile = otherSettings(5), badEnd = otherSettings(5), badMarker = otherSettings(5);
    shortFile.pop_back();
    badEnd[545] = 0xF8;
    badMarker[blockOf(2)] = 3;
    const std::string huge = files / "huge.syx", sparse = files / "sparse.syx", pipe = files / "pipe.syx",
                      invalid = "Not a valid tempolate file: ", notRegular = "error loading: not a regular file (named pipe): ";
    std::ofstream(huge, std::ios::binary).seekp(2200LL * 1024 * 1024).put('\0');
    std::ofstream(sparse, std::ios::binary).seekp(1LL << 30).put('\0');
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    const std::tuple<std::string, std::string, bool> cases[] = {   // file, reason, by OPEN (else dropped)
        {writeFile("short.syx", shortFile), invalid + "wrong size", true},
        {writeFile("end.syx", badEnd), invalid + "MIDI markers missing", false},
        {writeFile("marker.syx", badMarker), invalid + "invalid program marker", false},
        {huge, "error loading: file too large (2GB limit): " + huge, false},
        {sparse, invalid + "wrong size", false},
        {pipe, notRegular + pipe, true},
        {pipe, notRegular + pipe, false},
    };
    {
#if !defined(__SANITIZE_ADDRESS__) // the address sanitizer cannot run under an address-space limit
        // Reading the 1 GB file whole would fail here: it is refused by its size alone.
        ScopedAddressSpaceLimit limit(512UL << 20);
        ASSERT_TRUE(limit.set());
#endif
        for (const auto& [path, reason, byOpen] : cases) {
            const std::string error = "Error: Error loading file '" + path + "':\n" + reason;
            FifoRescue rescue(pipe);
            ModalAnswers answers(byOpen ? Texts{path, "OK"} : Texts{"OK"});
            byOpen ? click("openButton") : drop(path);
            EXPECT_EQ(answers.seen(), byOpen ? (Texts{openAt + files.path(), error}) : Texts{error});
            EXPECT_FALSE(rescue.steppedIn()) << "the load of " << path << " waited for a writer";
            EXPECT_EQ(message(), otherSettings(5)) << "the editor is unchanged after " << path;
            EXPECT_EQ(title(), titled + " - a.syx") << "the current file is unchanged";
        }
    }
    {
        ModalAnswers answers({"OK"});
        drop(files.path());
        EXPECT_EQ(answers.seen(), Texts{"Error: Error: cannot load a folder."});
    }

    // Of three files only the first counts, whatever its name.
    const std::string second = writeFile("second.syx", otherSettings(10));
    const juce::StringArray three{juce::String(writeFile("first.bin", otherSettings(9))), juce::String(second), juce::String(a)};
    EXPECT_TRUE(panel().isInterestedInFileDrag(three));
    panel().filesDropped(three, 1, 1);
    EXPECT_EQ(message(), otherSettings(9));
    EXPECT_EQ(title(), titled + " - first.bin");

    pick("stepCountCombo", "2 Steps");
    expectEditsKept([&] { drop(second); }, files.path(), second);
    {
        ModalAnswers answers({"No"});
        drop(second);
    }
    EXPECT_EQ(message(), otherSettings(10));
    EXPECT_EQ(title(), titled + " - second.syx");
}

TEST_F(EditorFiles, StartLoadsTheLastFileAndQuitWritesTheIni)
{
    const std::string last = writeFile("last.syx", otherSettings(11)), documents = files / "My Quorva";
    writeIni(iniCurrent(last, documents) + "[Other]\nKept=yes\n");
    start();
    EXPECT_EQ(message(), otherSettings(11));
    EXPECT_EQ(panel().getCurrentFile(), juce::String(last));
    EXPECT_EQ(title(), titled + " - last.syx");
    EXPECT_EQ(panel().getDocumentsDir(), documents);

    pick("midiOutCombo", "Synth A");
    window.reset();
    const std::string ini = TempFolder::readFile(iniPath());
    for (const std::string& part : {"File=" + last + "\n", "DocumentsDir=" + documents + "\n", std::string("MainLeft="),
                                    std::string("[Other]\nKept=yes"), std::string("[MIDI.alias]"), std::string("Synth A")})
        EXPECT_NE(ini.find(part), std::string::npos) << "no '" << part << "' in:\n" << ini;
}

TEST_F(EditorFiles, StartWithAMissingLastFileUsesTheDefaults)
{
    writeIni(iniCurrent(files / "gone.syx"));
    start();
    EXPECT_EQ(message(), defaultSettings());
    EXPECT_EQ(title(), titled) << "no current file";
    window.reset();
    EXPECT_NE(TempFolder::readFile(iniPath()).find("File=\n"), std::string::npos) << "the missing file is forgotten";
}

TEST_F(EditorFiles, StartWithAnInvalidLastFileForgetsItWithoutABox)
{
    TempFolder::writeFile(files / "bad.syx", "not settings");
    writeIni(iniCurrent(files / "bad.syx"));
    start();   // fails on any box
    EXPECT_EQ(message(), defaultSettings());
    EXPECT_TRUE(panel().getCurrentFile().isEmpty());
    EXPECT_FALSE(quitRequested());
}

TEST_F(EditorFiles, StartWithAPipeAsTheLastFileForgetsItWithoutWaiting)
{
    const std::string pipe = files / "pipe.syx";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    writeIni(iniCurrent(pipe));
    {
        FifoRescue rescue(pipe);
        start();   // fails on any box
        EXPECT_FALSE(rescue.steppedIn()) << "the start waited for a writer of the pipe";
    }
    EXPECT_EQ(message(), defaultSettings());
    EXPECT_TRUE(panel().getCurrentFile().isEmpty());
}

TEST_F(EditorFiles, AnIniThatIsAPipeIsNeitherWaitedForNorReplaced)
{
    ASSERT_TRUE(Tr::ForceDirectories(Tr::ExtractFileDir(iniPath())));
    ASSERT_EQ(mkfifo(iniPath().c_str(), 0666), 0);
    {
        FifoRescue rescue(iniPath());
        start();
        EXPECT_EQ(message(), defaultSettings());
        window.reset();   // quitting writes the settings
        EXPECT_FALSE(rescue.steppedIn()) << "the ini was waited for";
    }
    EXPECT_TRUE(FifoRescue::isFifo(iniPath()));
    const std::filesystem::directory_iterator entries(Tr::ExtractFileDir(iniPath()));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << "nothing was written beside it";
}

TEST_F(EditorFiles, StartWithoutDefaultsShowsTheErrorAndQuits)
{
    EXPECT_EQ(start({"OK"}, juce::File(files.path())), Texts{"Error: Error loading resource: defaults.syx"});
    EXPECT_TRUE(quitRequested());
}

TEST_F(EditorFiles, StartWithInvalidDefaultsShowsTheReasonAndQuits)
{
    Bytes bad = defaultSettings();
    bad[0] = 0x90;
    writeFile("defaults.syx", bad);
    EXPECT_EQ(start({"OK"}, juce::File(files.path())), Texts{"Error: Not a valid tempolate file: MIDI markers missing"});
    EXPECT_TRUE(quitRequested());
}

TEST_F(EditorFiles, TheCloseButtonAsksAboutUnsavedChangesAndReportsWhatCannotBeSaved)
{
    start();
    {
        ModalAnswers noBoxes;
        EXPECT_TRUE(panel().canQuit()) << "nothing changed: no question";
    }
    EXPECT_NE(TempFolder::readFile(iniPath()).find("[Current]"), std::string::npos) << "a missing settings file is made";
    pick("stepCountCombo", "8 Steps");
    expectEditsKept([&] { window->closeButtonPressed(); }, documentsDir(), writeFile("kept.syx", otherSettings(4)));
    EXPECT_TRUE(window->isVisible());

    // A file where the settings folder belongs: the settings cannot be written, which the box says
    // while the window still stands.
    std::filesystem::remove_all(Tr::ExtractFileDir(iniPath()));
    TempFolder::writeFile(Tr::ExtractFileDir(iniPath()), "not a folder");
    {
        ModalAnswers answers({"No", "OK"});
        window->closeButtonPressed();
        EXPECT_EQ(answers.seen(), (Texts{saveQuestion, "Error: The settings could not be saved:\nCannot write to file: " + iniPath() + ": Not a directory"}));
    }
    EXPECT_TRUE(quitRequested());
}

TEST_F(EditorRestarts, AFileNameWithLineBreaksIsKeptWholeAndRewritesNoSettings)
{
    const std::string path = writeFile("z\n[MIDI.out]\nName0=Synth C\nOptions0=FF4944494D.syx", otherSettings(12));
    const std::string shown = titled + " - z?[MIDI.out]?Name0=Synth C?Options0=FF4944494D.syx";
    run([&] {
        start();
        drop(path);
        EXPECT_EQ(title(), shown) << "the title bar shows the name on one line";
        EXPECT_EQ(combo("midiOutCombo").getText(), "(none)");
    });
    run([&] {
        start();
        EXPECT_EQ(panel().getCurrentFile(), juce::String(path)) << "the last file is read back whole";
        EXPECT_EQ(message(), otherSettings(12)) << "and opened again";
        EXPECT_EQ(title(), shown);
        EXPECT_EQ(combo("midiOutCombo").getText(), "(none)");
        EXPECT_FALSE(midi->IsOpen(synth[2])) << "no port is opened by a line of a file name";
        EXPECT_FALSE(button("sendButton").isEnabled());
    });
    Tr::TIniFile ini(iniPath());
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("Current", "File", ""), path);
    EXPECT_EQ(ini.ReadString("Current", "DocumentsDir", ""), documentsDir());
    EXPECT_FALSE(ini.ValueExists("MIDI.out", "Name0") || ini.ValueExists("MIDI.out", "DocumentsDir"))
        << TempFolder::readFile(iniPath());
}

TEST_F(EditorRestarts, ASettingsFileWithAMarkAZeroByteOrADanglingLinkKeepsItsData)
{
    const std::string last = writeFile("last.syx", otherSettings(11)), mark = "\xEF\xBB\xBF";
    writeIni(mark + iniCurrent(last) + "[Other]\nKept=yes\n");
    run([&] {
        start();
        EXPECT_EQ(panel().getCurrentFile(), juce::String(last)) << "the mark hides the first section's header";
    });
    std::string ini = TempFolder::readFile(iniPath());
    EXPECT_EQ(ini.substr(0, 3 + 10), mark + "[Current]\n") << "the mark is kept:\n" << ini;
    for (const std::string& part : {"File=" + last + "\n", std::string("[Other]\nKept=yes\n")})
        EXPECT_NE(ini.find(part), std::string::npos) << "no '" << part << "' in:\n" << ini;

    const std::string zero = "[Current]\nFile=" + last + "\n" + std::string(1, '\0') + "\n[Other]\nKept=yes\n";
    writeIni(zero);
    run([&] {
        start();
        ModalAnswers answers({"OK"});
        EXPECT_TRUE(panel().canQuit());
        EXPECT_EQ(answers.seen(), Texts{"Error: The settings could not be saved:\nThe settings file '" + iniPath() +
                                        "' could not be read, so it is left as it was."});
    });
    EXPECT_EQ(TempFolder::readFile(iniPath()), zero) << "what stands after the zero byte is kept";

    // The settings kept elsewhere, linked to from the settings folder, and not made yet.
    const std::string kept = files / "kept settings.vzrs";
    std::filesystem::remove(iniPath());
    std::filesystem::create_symlink(kept, iniPath());
    run([&] {
        start();
        ModalAnswers noBoxes;
        EXPECT_TRUE(panel().canQuit());
        EXPECT_EQ(noBoxes.seen(), Texts{});
    });
    EXPECT_TRUE(std::filesystem::is_symlink(iniPath())) << "the link stays";
    ini = TempFolder::readFile(kept);
    EXPECT_EQ(ini.substr(0, 10), "[Current]\n") << "the settings are written to the link's file:\n" << ini;
    EXPECT_NE(ini.find("\nFile=\n"), std::string::npos) << ini;
}

TEST_F(EditorFiles, ASettingsFileThatCannotBeReadIsNeverOverwritten)
{
    // Too big to read, whoever runs the test (root reads a file without read permission).
    const std::string head = "[Other]\nKept=yes\n";
    const auto size = 2200LL * 1024 * 1024;
    writeIni(head);
    std::fstream(iniPath(), std::ios::binary | std::ios::in | std::ios::out).seekp(size - 1).put('\0');
    start();   // fails on any box: the defaults, as for a missing file
    EXPECT_TRUE(panel().getCurrentFile().isEmpty());

    const std::string reason = "The settings file '" + iniPath() + "' could not be read, so it is left as it was.";
    {
        ModalAnswers answers({"OK"});
        EXPECT_TRUE(panel().canQuit());
        EXPECT_EQ(answers.seen(), Texts{"Error: The settings could not be saved:\n" + reason});
    }
    EXPECT_EQ((long long)std::filesystem::file_size(iniPath()), size);
    std::string kept(head.size(), '\0');
    std::ifstream(iniPath(), std::ios::binary).read(&kept[0], (std::streamsize)kept.size());
    EXPECT_EQ(kept, head);

    // Readable by the time of the quit, it still holds the user's settings, not this session's
    // defaults.
    writeIni("[Current]\nFile=/home/me/mine.syx\n");
    testing::internal::CaptureStderr();
    window.reset();
    EXPECT_NE(testing::internal::GetCapturedStderr().find(reason), std::string::npos) << "said on stderr";
    EXPECT_EQ(TempFolder::readFile(iniPath()), "[Current]\nFile=/home/me/mine.syx\n");
}
