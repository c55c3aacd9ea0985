// The main window frame, driven through a panel that logs every call the frame makes, and the
// application's own main window.
#include "PanelHarness.h"
#include "QuorvaApplication.h"
#include "core/TrException.h"
#include "midi/FreshProcess.h"
#include "platform/SystemQuitSignals.h"

#include <csignal>

#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace {

using Calls = std::vector<std::string>;

// Passes every call of the frame to the test: init and canQuit return what the test returns.
struct ScriptedPanel : BContentBase
{
    using Hook = std::function<bool(const std::string& call)>;
    explicit ScriptedPanel(Hook hook) : on(std::move(hook)) { on("construct"); }
    ~ScriptedPanel() override { on("delete"); }
    void createComponents() override
    {
        on("createComponents");
        BContentBase::createComponents();
    }
    bool init(const juce::String& commandLine) override
    {
        setPreferredBounds(420, 310);
        return on("init:" + commandLine.toStdString());
    }
    void start(bool) override { on("start"); }
    bool canQuit() override { return on("canQuit"); }
    void close() override { on("close"); }
    void enableButtons() override { on("enableButtons"); }
    bool showWindowOnStart() override { return on("showWindowOnStart"); }
    Hook on;
};

class Frame : public WindowTest
{
protected:
    // The panel logs into `calls` and answers through `script`.
    TestWindow::MakePanel scripted()
    {
        return [this] {
            return std::make_unique<ScriptedPanel>([this](const std::string& call) {
                calls.push_back(call);
                if (call == "start") {
                    ++starts;
                    visibleAtStart = window->isShowing();
                }
                return script(call);
            });
        };
    }
    ScriptedPanel::Hook script = [](const std::string&) { return true; };
    Calls calls;
    bool visibleAtStart = false;
};

// Set in a child process that runs a test once more as a program that was moved elsewhere.
const char* const kMovedProgram = "QUORVA_TEST_AS_MOVED_PROGRAM";

// Runs this test once more in a child process that takes itself for `program` (the toolkit knows
// the program's path only from how it was started); returns what WaitForExit does after a minute at
// most, and leaves the child's output in `log`.
int runThisTestAs(const std::string& program, const std::string& log)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string argv0 = program, filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    char* argv[] = {argv0.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&io, 1, 2);
    setenv(kMovedProgram, "1", 1);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, "/proc/self/exe", &io, nullptr, argv, environ) == 0;
    unsetenv(kMovedProgram);
    posix_spawn_file_actions_destroy(&io);
    const int status = started ? WaitForExit(pid, 60000) : -1;
    if (started)
        StopChild(pid);
    return status;
}

} // namespace

TEST_F(Frame, SetsUpThePanelThenStartsItOnceAfterTheWindowShows)
{
    // The start shows a box that stays up for many 20 ms ticks; they must not start it again (a
    // second start shows none, so that the test fails instead of hanging).
    script = [this](const std::string& call) {
        if (call == "start" && starts == 1)
            JuceUtils::ErrorDlg("the last file is gone");
        return true;
    };
    ModalAnswers answers({"OK"}, 300);
    window = std::make_unique<TestWindow>(scripted());
    EXPECT_EQ(BWindow::getInstance(), window.get());
    EXPECT_FALSE(window->isVisible()) << "not shown before init";

    window->init("-psn_0_1234", false, false);
    EXPECT_EQ(calls, (Calls{"construct", "createComponents", "enableButtons", "init:", "showWindowOnStart"}))
        << "the process serial number argument alone reaches the panel as an empty command line";
    EXPECT_TRUE(window->isVisible() && !window->isResizable());
    EXPECT_EQ(window->getContentComponent(), window->getContentPanel());
    EXPECT_EQ(window->getContentComponent()->getLocalBounds().getBottomRight(), juce::Point<int>(420, 310))
        << "the content takes the panel's preferred size";
    EXPECT_TRUE(window->getCloseButton() && window->getMinimiseButton() && !window->getMaximiseButton());

    ASSERT_TRUE(waitForStart(3000));
    pumpMessages(200);
    EXPECT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(visibleAtStart);
    EXPECT_EQ(calls.back(), "enableButtons") << "the start is followed by a refresh of the buttons";
    EXPECT_FALSE(quitRequested());

    calls.clear();
    window.reset();
    EXPECT_EQ(calls, (Calls{"close", "delete"})) << "close runs once, before the panel is deleted";
    EXPECT_EQ(BWindow::getInstance(), nullptr);
}

// A panel that cannot be made or set up ends the program before its start: an exception from its
// constructor or its init is a fatal error told to the user, an init that refuses ends it silently.
TEST_F(Frame, APanelThatCannotBeSetUpEndsTheProgram)
{
    const std::tuple<std::string, std::string, Calls> cases[] = {   // failing call, its exception ("": refuses), calls at the end
        {"construct", "no panel", {}},
        {"init:", "Cannot read the settings", {"close", "delete"}},   // a panel that was made is still closed
        {"init:", "", {"close", "delete"}},
    };
    for (const auto& [failing, error, atEnd] : cases) {
        SCOPED_TRACE(failing + " " + error);
        window.reset();
        gui.reset();   // a message loop of its own, never told to quit
        gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        script = [&failing = failing, &error = error](const std::string& call) {
            if (call == failing && !error.empty())
                throw Tr::Exception(error);
            return call != failing;
        };
        ModalAnswers answers(error.empty() ? Calls{} : Calls{"OK"});
        openWindow(scripted());
        pumpMessages(200);
        EXPECT_EQ(answers.seen(), error.empty() ? Calls{} : Calls{"Fatal Error: The following error occured:\n" + error + "\nThis program will close now."});
        EXPECT_TRUE(quitRequested() && !window->isVisible());
        EXPECT_EQ(starts, 0);
        EXPECT_EQ(window->getContentPanel() == nullptr, atEnd.empty());
        calls.clear();
        window.reset();
        EXPECT_EQ(calls, atEnd);
    }
}

// The application's main window, with a logout during the start: the signal waits until a message
// loop runs, here the loop of a box of the start, which it ends; the settings are still written
// at shutdown.
TEST_F(Frame, TheApplicationsWindowWritesTheSettingsAfterAQuitSignalBeforeTheMessageLoopRuns)
{
    ScopedHome home;
    ASSERT_TRUE(SystemQuitSignals::catchSignals()) << "as main does";
    std::raise(SIGTERM);
    QuorvaApplication app;
    app.initialise("");
    ASSERT_TRUE(app.getMainWindow() && app.getMainWindow()->getContentPanel());
    EXPECT_EQ(BWindow::getInstance(), app.getMainWindow());
    EXPECT_FALSE(quitRequested()) << "nothing has looked at the signal yet";
    {
        ModalAnswers answers({"OK"}, 20000);
        JuceUtils::ErrorDlg("a box of the start");
        EXPECT_EQ(answers.pending(), 1u) << "the quit ended the box before anyone answered it";
    }
    EXPECT_TRUE(quitRequested());
    app.shutdown();
    EXPECT_EQ(BWindow::getInstance(), nullptr) << "the main window is deleted at shutdown";
    const std::string ini = TempFolder::readFile(home.folder() / ".Quorva Tindral/test_app.vzrs");
    EXPECT_NE(ini.find("MainLeft="), std::string::npos) << ini;
}

TEST_F(Frame, DraggingTheBackgroundMovesTheWindowButDraggingAWidgetDoesNot)
{
    openWindow(scripted());
    window->setTopLeftPosition(100, 120);
    juce::TextButton widget;
    widget.setBounds(200, 200, 100, 40);
    window->getContentPanel()->addAndMakeVisible(widget);
    ASSERT_TRUE(waitForStart(2000));
    window->toFront(false);
    pumpMessages(200);   // lets the window system settle the window's place before the drag
    ASSERT_EQ(window->getPosition(), juce::Point<int>(100, 120));

    // Moves of the pointer from a point on the screen, with the left button down or up, through
    // the window's peer as the window system sends them, so they reach the component beneath.
    juce::int64 time = juce::Time::currentTimeMillis();
    auto mouse = [&](juce::Point<int> from, std::vector<std::pair<juce::Point<int>, bool>> moves) {
        for (const auto& [by, leftDown] : moves) {
            const juce::ModifierKeys mods(leftDown ? juce::ModifierKeys::leftButtonModifier : 0);
            juce::ModifierKeys::currentModifiers = mods;
            window->getPeer()->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse,
                                                (from + by - window->getScreenPosition()).toFloat(), mods,
                                                juce::MouseInputSource::defaultPressure,
                                                juce::MouseInputSource::defaultOrientation, time += 50);
        }
        return window->getPosition();
    };
    const auto background = window->getContentPanel()->localPointToGlobal(juce::Point<int>(50, 50));
    EXPECT_EQ(mouse(background, {{{}, false}, {{}, true}, {{30, 20}, true}}), juce::Point<int>(130, 140));
    EXPECT_EQ(mouse(background, {{{-40, 65}, true}, {{-40, 65}, false}}), juce::Point<int>(60, 185))
        << "the window follows the pointer";
    EXPECT_EQ(mouse(background, {{{}, false}}), juce::Point<int>(60, 185)) << "no button down, no move";
    const auto onWidget = widget.localPointToGlobal(juce::Point<int>(10, 10));
    EXPECT_EQ(mouse(onWidget, {{{}, false}, {{}, true}, {{50, 50}, true}, {{50, 50}, false}}), juce::Point<int>(60, 185))
        << "widgets are no drag handles";
    window->getContentPanel()->removeChildComponent(&widget);
}

// An ini named like the program beside it wins over the one in the settings folder: it places the
// window and is the one written at the end.
TEST_F(Frame, TheIniBesideTheProgramIsPreferredToTheSettingsFolder)
{
    if (std::getenv(kMovedProgram)) {
        QuorvaApplication app;
        app.initialise("");
        EXPECT_EQ(app.getMainWindow()->getPosition(), juce::Point<int>(210, 120));
        app.shutdown();
        return;
    }
    ScopedHome home;
    const std::string inSettings = home.folder() / ".Quorva Tindral/test_app.vzrs";
    Tr::ForceDirectories(Tr::ExtractFileDir(inSettings));
    TempFolder::writeFile(inSettings, "[Current]\nMainLeft=30\nMainTop=40\n");
    TempFolder folder;
    TempFolder::writeFile(folder / "test_app.vzrs", "[Current]\nMainLeft=210\nMainTop=120\n");
    const int status = runThisTestAs(folder / "test_app", folder / "child.log");
    const std::string output = TempFolder::readFile(folder / "child.log");
    EXPECT_TRUE(status == 0 && output.find("[  PASSED  ] 1 test.") != std::string::npos) << output;
    EXPECT_EQ(TempFolder::readFile(inSettings), "[Current]\nMainLeft=30\nMainTop=40\n") << "left alone";
    EXPECT_NE(TempFolder::readFile(folder / "test_app.vzrs").find("File="), std::string::npos) << "written at the end";
}
