// The panel's files: SAVE, OPEN and drops with the unsaved-changes question, every error box, the
// start with or without a last file and the defaults, and the settings ini.
#include "PanelHarness.h"
#include "core/FifoRescue.h"
#include "core/TrIniFile.h"
#include "midi/FreshProcess.h"

#include <filesystem>
#include <fstream>

namespace {

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
        const auto entries = [&] { return std::distance(std::filesystem::directory_iterator(Tr::ExtractFileDir(existing)), {}); };
        const auto entriesBefore = entries();
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
        EXPECT_EQ(entries(), entriesBefore) << "no temporary file is left behind";
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
    void SetUp() override { QUORVA_SKIP_WITHOUT_DISPLAY(); }
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

// A failed write keeps the old file: the unsaved-changes tests below answer every way a save can fail.
TEST_F(EditorFiles, SaveWritesThe546BytesWhereverTheNameLeadsAndTheTitleFollows)
{
    start();
    pick("stepCountCombo", "7 Steps");
    EXPECT_EQ(title(), titled + " *");
    EXPECT_FALSE(Tr::DirExists(documentsDir()));
    const std::string mine = files / "mine.SYX.syx";
    EXPECT_EQ(answering({files / "mine.SYX"}, [&] { click("saveButton"); }), Texts{saveAt + documentsDir()})
        << "with no current file the question opens in the documents folder, made by the first save";
    EXPECT_EQ(readBytes(mine), message()) << "exactly the 546 bytes, \".syx\" appended (matched with its case)";
    EXPECT_EQ(title(), titled + " - mine.SYX.syx");

    const Bytes old = message();
    pick("stepCountCombo", "9 Steps");
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *");
    const std::string pipe = files / "pipe.syx";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    {
        FifoRescue rescue(pipe);
        EXPECT_EQ(answering({pipe, "OK"}, [&] { click("saveButton"); }),
                  (Texts{saveAt + files.path(), "Error: Error saving file '" + pipe + "':\nnot a regular file (named pipe): " + pipe}));
        EXPECT_FALSE(rescue.steppedIn()) << "the save waited for a reader of the pipe";
    }
    EXPECT_TRUE(FifoRescue::isFifo(pipe)) << "the pipe is neither written nor replaced";
    EXPECT_EQ(readBytes(mine), old);
    EXPECT_EQ(title(), titled + " - mine.SYX.syx *");

    // Through a link to a file not made yet, and under the longest name a folder takes.
    const std::string link = files / "link.syx", longest = files / std::string(251, 'q') + ".syx";
    std::filesystem::create_symlink("moved.syx", link);
    answering({link}, [&] { click("saveButton"); });
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays";
    EXPECT_EQ(readBytes(files / "moved.syx"), message()) << "the link's file is written";
    EXPECT_EQ(title(), titled + " - link.syx");
    pick("stepCountCombo", "5 Steps");
    answering({longest}, [&] { click("saveButton"); });
    EXPECT_EQ(readBytes(longest), message());
    EXPECT_EQ(title(), titled + " - " + Tr::ExtractFileName(longest));
    EXPECT_EQ(files.entryCount(), 5) << "no temporary file is left behind";
}

TEST_F(EditorFiles, OpenAndTheCloseButtonAskAboutUnsavedChangesFirst)
{
    start();
    const std::string a = writeFile("a.syx", otherSettings(5)), b = writeFile("b.syx", otherSettings(6));
    pick("stepCountCombo", "16 Steps");
    EXPECT_EQ(answering({"No", a}, [&] { click("openButton"); }), (Texts{saveQuestion, openAt + home.folder().path()}))
        << "the documents folder does not exist yet: its parent";
    EXPECT_FALSE(Tr::DirExists(documentsDir())) << "OPEN never makes the documents folder";
    EXPECT_EQ(message(), otherSettings(5));
    EXPECT_EQ(title(), titled + " - a.syx");

    // Yes opens only once the edits are saved.
    pick("stepCountCombo", "3 Steps");
    const Bytes toSave = message();
    expectEditsKept([&] { click("openButton"); }, files.path(), b);
    EXPECT_EQ(answering({"Yes", files / "b", "Overwrite", a}, [&] { click("openButton"); }),
              (Texts{saveQuestion, saveAt + files.path(), overwriteQuestion(b), openAt + files.path()}));
    EXPECT_EQ(readBytes(b), toSave) << "Yes saved the changes over b.syx";
    EXPECT_EQ(message(), otherSettings(5));
    EXPECT_EQ(title(), titled + " - a.syx");

    // The close button asks the same question, and reports what cannot be saved.
    answering({}, [&] { EXPECT_TRUE(panel().canQuit()) << "nothing changed: no question"; });
    EXPECT_NE(TempFolder::readFile(iniPath()).find("[Current]"), std::string::npos) << "a missing settings file is made";
    pick("stepCountCombo", "8 Steps");
    expectEditsKept([&] { window->closeButtonPressed(); }, files.path(), writeFile("kept.syx", otherSettings(4)));
    EXPECT_TRUE(window->isVisible());

    // A file where the settings folder belongs: the settings cannot be written, which the box says
    // while the window still stands.
    std::filesystem::remove_all(Tr::ExtractFileDir(iniPath()));
    TempFolder::writeFile(Tr::ExtractFileDir(iniPath()), "not a folder");
    EXPECT_EQ(answering({"No", "OK"}, [&] { window->closeButtonPressed(); }),
              (Texts{saveQuestion, "Error: The settings could not be saved:\nCannot write to file: " + iniPath() + ": Not a directory"}));
    EXPECT_TRUE(quitRequested());
}

TEST_F(EditorFiles, OpenAndDropShowEveryLoadErrorAndDropsAskLikeOpen)
{
    start();
    const std::string a = writeFile("a.syx", otherSettings(5));
    drop(a);
    ASSERT_EQ(title(), titled + " - a.syx");

    // Each reason a message is refused for is the settings' own (tested there): one stands for all.
    Bytes shortFile = otherSettings(5);
    shortFile.pop_back();
    const std::string huge = files / "huge.syx", sparse = files / "sparse.syx", pipe = files / "pipe.syx",
                      invalid = "Not a valid tempolate file: ", notRegular = "error loading: not a regular file (named pipe): ";
    std::ofstream(huge, std::ios::binary).seekp(2200LL * 1024 * 1024).put('\0');
    std::ofstream(sparse, std::ios::binary).seekp(1LL << 30).put('\0');
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    const std::tuple<std::string, std::string, bool> cases[] = {   // file, reason, by OPEN (else dropped)
        {writeFile("short.syx", shortFile), invalid + "wrong size", true},
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
    EXPECT_EQ(answering({"OK"}, [&] { drop(files.path()); }), Texts{"Error: Error: cannot load a folder."});

    // Of three files only the first counts, whatever its name.
    const std::string second = writeFile("second.syx", otherSettings(10));
    const juce::StringArray three{juce::String(writeFile("first.bin", otherSettings(9))), juce::String(second), juce::String(a)};
    EXPECT_TRUE(panel().isInterestedInFileDrag(three));
    panel().filesDropped(three, 1, 1);
    EXPECT_EQ(message(), otherSettings(9));
    EXPECT_EQ(title(), titled + " - first.bin");

    pick("stepCountCombo", "2 Steps");
    expectEditsKept([&] { drop(second); }, files.path(), second);
    answering({"No"}, [&] { drop(second); });
    EXPECT_EQ(message(), otherSettings(10));
    EXPECT_EQ(title(), titled + " - second.syx");
}

// The settings ini across starts of the program: what it brings back, and what of it is kept
// whatever happens to it.
TEST_F(EditorRestarts, TheSettingsFileBringsBackTheLastFileAndKeepsWhatElseItHolds)
{
    // A file name with line breaks is kept whole and rewrites no settings.
    const std::string path = writeFile("z\n[MIDI.out]\nName0=Synth C\nOptions0=FF4944494D.syx", otherSettings(12));
    const std::string shown = titled + " - z?[MIDI.out]?Name0=Synth C?Options0=FF4944494D.syx";
    run([&] {
        start();
        drop(path);
        EXPECT_EQ(title(), shown) << "the title bar shows the name on one line";
    });
    run([&] {
        start();
        EXPECT_EQ(panel().getCurrentFile(), juce::String(path)) << "the last file is read back whole";
        EXPECT_EQ(message(), otherSettings(12)) << "and opened again";
        EXPECT_EQ(title(), shown);
        EXPECT_FALSE(midi->IsOpen(synth[2])) << "no port is opened by a line of a file name";
    });
    Tr::TIniFile ini(iniPath());
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("Current", "File", ""), path);
    EXPECT_EQ(ini.ReadString("Current", "DocumentsDir", ""), documentsDir());
    EXPECT_FALSE(ini.ValueExists("MIDI.out", "Name0") || ini.ValueExists("MIDI.out", "DocumentsDir"))
        << TempFolder::readFile(iniPath());

    // The last file and the documents folder come back, and what else the ini holds is kept, also
    // behind a byte-order mark.
    const std::string last = writeFile("last.syx", otherSettings(11)), documents = files / "My Quorva", mark = "\xEF\xBB\xBF";
    writeIni(mark + iniCurrent(last, documents) + "[Other]\nKept=yes\n");
    run([&] {
        start();
        EXPECT_EQ(message(), otherSettings(11)) << "the mark hides the first section's header";
        EXPECT_EQ(title(), titled + " - last.syx");
        EXPECT_EQ(panel().getDocumentsDir(), documents);
        pick("midiOutCombo", "Synth A");
    });
    std::string text = TempFolder::readFile(iniPath());
    EXPECT_EQ(text.substr(0, 3 + 10), mark + "[Current]\n") << "the mark is kept:\n" << text;
    expectContains(text, {"File=" + last + "\n", "DocumentsDir=" + documents + "\n", "MainLeft=", "[Other]\nKept=yes\n",
                         "[MIDI.alias]", "Synth A"});

    // An ini that cannot be read, for a zero byte or for its size (too big, whoever runs the test:
    // root reads a file without read permission), is never overwritten; readable again by the
    // quit, it still holds the user's settings, not this session's defaults.
    const std::string zero = "[Current]\nFile=" + last + "\n" + std::string(1, '\0') + "\n[Other]\nKept=yes\n",
                      unread = "The settings file '" + iniPath() + "' could not be read, so it is left as it was.";
    writeIni(zero);
    run([&] {
        start();
        EXPECT_EQ(answering({"OK"}, [&] { EXPECT_TRUE(panel().canQuit()); }), Texts{"Error: The settings could not be saved:\n" + unread});
    });
    EXPECT_EQ(TempFolder::readFile(iniPath()), zero) << "what stands after the zero byte is kept";
    const auto size = 2200LL * 1024 * 1024;
    std::fstream(iniPath(), std::ios::binary | std::ios::in | std::ios::out).seekp(size - 1).put('\0');
    run([&] {
        start();   // fails on any box: the defaults, as for a missing file
        EXPECT_EQ(title(), titled);
        EXPECT_EQ(answering({"OK"}, [&] { EXPECT_TRUE(panel().canQuit()); }), Texts{"Error: The settings could not be saved:\n" + unread});
        EXPECT_EQ((long long)std::filesystem::file_size(iniPath()), size);
        std::string head(zero.size(), '\0');
        std::ifstream(iniPath(), std::ios::binary).read(&head[0], (std::streamsize)head.size());
        EXPECT_EQ(head, zero);
        writeIni("[Current]\nFile=/home/me/mine.syx\n");
        testing::internal::CaptureStderr();
        window.reset();
        EXPECT_NE(testing::internal::GetCapturedStderr().find(unread), std::string::npos) << "said on stderr";
    });
    EXPECT_EQ(TempFolder::readFile(iniPath()), "[Current]\nFile=/home/me/mine.syx\n");

    // A pipe in its place is neither waited for nor replaced.

    std::filesystem::remove(iniPath());
    ASSERT_EQ(mkfifo(iniPath().c_str(), 0666), 0);
    run([&] {
        FifoRescue rescue(iniPath());
        start();
        EXPECT_EQ(message(), defaultSettings());
        window.reset();   // quitting writes the settings
        EXPECT_FALSE(rescue.steppedIn()) << "the ini was waited for";
    });
    EXPECT_TRUE(FifoRescue::isFifo(iniPath()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Tr::ExtractFileDir(iniPath())), {}), 1) << "nothing was written beside it";

    // The settings kept elsewhere, linked to from the settings folder, and not made yet.
    const std::string kept = files / "kept settings.vzrs";
    std::filesystem::remove(iniPath());
    std::filesystem::create_symlink(kept, iniPath());
    run([&] {
        start();
        answering({}, [&] { EXPECT_TRUE(panel().canQuit()) << "no box"; });
    });
    EXPECT_TRUE(std::filesystem::is_symlink(iniPath())) << "the link stays";
    text = TempFolder::readFile(kept);
    EXPECT_EQ(text.substr(0, 10), "[Current]\n") << "the settings are written to the link's file:\n" << text;
    EXPECT_NE(text.find("\nFile=\n"), std::string::npos) << text;
}

TEST_F(EditorRestarts, AMissingInvalidOrPipedLastFileIsForgottenWithoutABoxOrAWait)
{
    const std::string pipe = files / "pipe.syx";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    TempFolder::writeFile(files / "bad.syx", "not settings");
    for (const std::string& last : {files / "gone.syx", files / "bad.syx", pipe}) {
        SCOPED_TRACE(last);
        writeIni(iniCurrent(last));
        run([&] {
            FifoRescue rescue(pipe);
            start();   // fails on any box
            EXPECT_FALSE(rescue.steppedIn()) << "the start waited for a writer of the pipe";
            EXPECT_EQ(message(), defaultSettings());
            EXPECT_EQ(title(), titled) << "no current file";
            EXPECT_FALSE(quitRequested());
        });
        EXPECT_NE(TempFolder::readFile(iniPath()).find("File=\n"), std::string::npos) << "the last file is forgotten";
    }
}

TEST_F(EditorRestarts, StartWithoutValidDefaultsShowsTheReasonAndQuits)
{
    for (const std::string reason : {"Error loading resource: defaults.syx", "Not a valid tempolate file: MIDI markers missing"}) {
        run([&] {
            EXPECT_EQ(start({"OK"}, juce::File(files.path())), Texts{"Error: " + reason});
            EXPECT_TRUE(quitRequested());
        });
        Bytes bad = defaultSettings();
        bad[0] = 0x90;
        writeFile("defaults.syx", bad);
    }
}
