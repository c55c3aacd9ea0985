// The main window frame and the content panel base, driven through a panel that does what its
// script says and logs every call the frame makes.
#include "PanelHarness.h"
#include "core/TrException.h"

#include <algorithm>

namespace {

using Calls = std::vector<std::string>;

class ScriptedPanel : public BContentBase
{
public:
    struct Script
    {
        bool throwInConstructor = false;
        std::string throwInInit;    // a Tr::Exception text, or "" for none
        bool initResult = true, canQuit = true;
        std::function<void()> onStart;
    };
    struct Log
    {
        Calls calls;                // "createComponents", "init:<command line>", "start", ...
        bool visibleAtStart = false, destroyed = false;
        int count(const std::string& call) const { return (int)std::count(calls.begin(), calls.end(), call); }
    };

    ScriptedPanel(const Script& script, Log& log, int& starts) : FScript(script), FLog(log), FStarts(starts)
    {
        if (script.throwInConstructor)
            throw Tr::Exception("the panel could not be made");
    }
    ~ScriptedPanel() override { FLog.destroyed = true; }
    void createComponents() override
    {
        note("createComponents");
        BContentBase::createComponents();
    }
    bool init(const juce::String& commandLine) override
    {
        note("init:" + commandLine.toStdString());
        if (!FScript.throwInInit.empty())
            throw Tr::Exception(FScript.throwInInit);
        setPreferredBounds(420, 310);
        return FScript.initResult;
    }
    void start(bool) override
    {
        note("start");
        FLog.visibleAtStart = getTopLevelComponent()->isShowing();
        ++FStarts;
        if (FScript.onStart)
            FScript.onStart();
    }
    bool canQuit() override { return note("canQuit", FScript.canQuit); }
    void close() override { note("close"); }
    void enableButtons() override { note("enableButtons"); }
    bool showWindowOnStart() override { return note("showWindowOnStart"); }

private:
    bool note(const std::string& call, bool result = true)
    {
        FLog.calls.push_back(call);
        return result;
    }

    const Script& FScript;
    Log& FLog;
    int& FStarts;
};

class Frame : public WindowTest
{
protected:
    TestWindow::MakePanel scripted()
    {
        return [this] { return std::make_unique<ScriptedPanel>(script, log, starts); };
    }
    // Sets the window up expecting the one "Fatal Error" box and the quit.
    void expectFatalError(const std::string& error)
    {
        ModalAnswers answers({"OK"});
        openWindow(scripted());
        EXPECT_EQ(answers.seen(), Calls{"Fatal Error: The following error occured:\n" + error + "\nThis program will close now."});
        EXPECT_TRUE(quitRequested());
        EXPECT_FALSE(window->isVisible());
        pumpMessages(200);
        EXPECT_EQ(log.count("start"), 0);
    }

    ScriptedPanel::Script script;
    ScriptedPanel::Log log;
};

} // namespace

TEST_F(Frame, SetsUpThePanelThenStartsItOnceAfterTheWindowShows)
{
    // The start shows a box that stays up for many 20 ms ticks; they must not start it again.
    script.onStart = [] { JuceUtils::ErrorDlg("the last file is gone"); };
    ModalAnswers answers({"OK"}, 300);
    window = std::make_unique<TestWindow>("Test window", scripted());
    EXPECT_EQ(BWindow::getInstance(), window.get());
    EXPECT_FALSE(window->isVisible()) << "not shown before init";

    window->init("-psn_0_1234", false, false);
    EXPECT_EQ(log.calls, (Calls{"createComponents", "enableButtons", "init:", "showWindowOnStart"}))
        << "the process serial number argument alone reaches the panel as an empty command line";
    EXPECT_TRUE(window->isVisible() && !window->isResizable());
    EXPECT_EQ(window->getContentComponent(), window->getContentPanel());
    EXPECT_EQ(window->getContentComponent()->getLocalBounds().getBottomRight(), juce::Point<int>(420, 310))
        << "the content takes the panel's preferred size";
    EXPECT_TRUE(window->getCloseButton() && window->getMinimiseButton() && !window->getMaximiseButton());

    ASSERT_TRUE(waitForStart(3000));
    pumpMessages(200);
    EXPECT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(log.count("start"), 1);
    EXPECT_TRUE(log.visibleAtStart);
    EXPECT_EQ(log.calls.back(), "enableButtons") << "the start is followed by a refresh of the buttons";
    EXPECT_FALSE(quitRequested());

    log.calls.clear();
    window.reset();
    EXPECT_EQ(log.calls, Calls{"close"}) << "close runs once, before the panel is deleted";
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(BWindow::getInstance(), nullptr);
}

TEST_F(Frame, AnExceptionFromThePanelsInitIsAFatalError)
{
    script.throwInInit = "Cannot read the settings";
    expectFatalError("Cannot read the settings");
    log.calls.clear();
    window.reset();
    EXPECT_EQ(log.calls, Calls{"close"}) << "a panel that was made is still closed";
}

TEST_F(Frame, AnExceptionFromThePanelsConstructorIsAFatalError)
{
    script.throwInConstructor = true;
    expectFatalError("the panel could not be made");
    EXPECT_EQ(window->getContentPanel(), nullptr);
}

TEST_F(Frame, APanelRefusingInitEndsTheProgramSilently)
{
    script.initResult = false;
    ModalAnswers noBoxes;
    openWindow(scripted());
    pumpMessages(200);
    EXPECT_TRUE(quitRequested() && !window->isVisible());
    EXPECT_EQ(log.count("start"), 0);
}

TEST_F(Frame, TheCloseButtonQuitsOnlyWhenThePanelAgrees)
{
    script.canQuit = false;
    openWindow(scripted());
    ASSERT_TRUE(waitForStart(2000));
    // Straight to the window: the toolkit disables the button of a window without focus, and
    // other test programs may hold the focus on the shared display.
    window->closeButtonPressed();
    EXPECT_EQ(log.count("canQuit"), 1);
    EXPECT_FALSE(quitRequested()) << "the panel refused: the program goes on";
    EXPECT_TRUE(window->isVisible());
    script.canQuit = true;
    window->closeButtonPressed();
    EXPECT_TRUE(quitRequested());
    EXPECT_EQ(log.count("close"), 0) << "the window is closed at shutdown, not here";
}

TEST_F(Frame, PanelSizeComesFromTheBackgroundAndDeferredEnablesMerge)
{
    EXPECT_EQ(JuceUtils::getResourcesFolder(), juce::File(QUORVA_BINARY_DIR "/share/quorva-midi2"))
        << "the build tree's resources folder serves the program in build/src and the tests in build/tests";
    EXPECT_EQ(JuceUtils::getDrawable("no such picture.png"), nullptr);
    const auto picture = JuceUtils::getDrawable("background.png");
    ASSERT_NE(picture, nullptr) << "the build copies the resources there";
    const auto size = picture->getDrawableBounds().getBottomRight() - picture->getDrawableBounds().getTopLeft();
    EXPECT_TRUE(size.x >= 492 && size.y >= 605) << "the editor's widgets reach x 485 and y 604";
    ScriptedPanel panel(script, log, starts);
    EXPECT_EQ(juce::Point<int>(panel.preferredWidth, panel.preferredHeight), juce::Point<int>(365, 255));
    panel.createComponents();
    EXPECT_EQ(juce::Point<int>(panel.preferredWidth, panel.preferredHeight), size.toInt()) << "the picture's size";

    panel.enableButtonsAsync();
    panel.enableButtonsAsync();
    panel.asyncRepaint();
    EXPECT_EQ(log.count("enableButtons"), 0) << "deferred to the message loop";
    pumpMessages(200);
    EXPECT_EQ(log.count("enableButtons"), 1) << "requests before the update are merged";
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

    // Left button down/up at points on the screen, through the window's peer as the window system
    // sends them, so that they reach whichever component lies under the pointer.
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
    EXPECT_EQ(mouse(widget.localPointToGlobal(juce::Point<int>(10, 10)), {{{}, false}, {{}, true}, {{50, 50}, true}, {{50, 50}, false}}),
              juce::Point<int>(60, 185)) << "widgets are no drag handles";
    window->getContentPanel()->removeChildComponent(&widget);
}
