#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "ScriptedPanel.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;
using Frame = ScriptedWindowTest;

bool quitRequested()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}

} // namespace

TEST_F(Frame, SetsUpThePanelThenStartsItOnceAfterTheWindowShows)
{
    window = std::make_unique<ScriptedWindow>(script, log);
    EXPECT_EQ(BWindow::getInstance(), window.get());
    EXPECT_FALSE(window->isVisible()) << "on the desktop but not shown before init";

    window->init("-psn_0_1234", false, false);
    EXPECT_EQ(log.calls, (Calls{"createComponents", "enableButtons", "init:", "showWindowOnStart"}))
        << "the process serial number argument alone reaches the panel as an empty command line";
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isResizable());
    EXPECT_EQ(window->getContentComponent(), window->getContentPanel());
    EXPECT_EQ(window->getContentComponent()->getWidth(), 420) << "the content takes the panel's preferred size";
    EXPECT_EQ(window->getContentComponent()->getHeight(), 310);
    EXPECT_NE(window->getCloseButton(), nullptr);
    EXPECT_NE(window->getMinimiseButton(), nullptr);
    EXPECT_EQ(window->getMaximiseButton(), nullptr);

    waitForStart();
    pumpMessages(200);
    EXPECT_EQ(log.count("start"), 1);
    EXPECT_TRUE(log.visibleAtStart);
    EXPECT_EQ(log.calls.back(), "enableButtons") << "the start is followed by a refresh of the buttons";
    EXPECT_FALSE(quitRequested());

    log.calls.clear();
    window.reset();
    EXPECT_EQ(log.calls, (Calls{"close"})) << "close runs once, before the panel is deleted";
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(BWindow::getInstance(), nullptr);
}

TEST_F(Frame, TicksDuringAModalBoxOfTheStartDoNotStartThePanelAgain)
{
    script.onStart = [] { JuceUtils::ErrorDlg("the last file is gone"); };
    ModalBoxAnswers answers({"OK"}, 300);   // the box stays up for many 20 ms ticks
    openWindow();

    pumpMessages(3000, [&] { return answers.boxes().size() == 1; });
    pumpMessages(200);
    EXPECT_EQ(answers.boxes().size(), 1u);
    EXPECT_EQ(log.count("start"), 1);
}

TEST_F(Frame, AnExceptionFromThePanelsInitIsAFatalError)
{
    script.throwInInit = "Cannot read the settings";
    ModalBoxAnswers answers({"OK"});
    openWindow();

    ASSERT_EQ(answers.boxes().size(), 1u);
    EXPECT_EQ(answers.boxes()[0].title, "Fatal Error");
    EXPECT_EQ(answers.boxes()[0].message,
              "The following error occured:\nCannot read the settings\nThis program will close now.");
    EXPECT_TRUE(quitRequested());
    EXPECT_FALSE(window->isVisible());
    pumpMessages(200);
    EXPECT_EQ(log.count("start"), 0);

    log.calls.clear();
    window.reset();
    EXPECT_EQ(log.calls, (Calls{"close"})) << "a panel that was made is still closed";
}

TEST_F(Frame, AnExceptionFromThePanelsConstructorIsAFatalError)
{
    script.throwInConstructor = true;
    ModalBoxAnswers answers({"OK"});
    openWindow();

    ASSERT_EQ(answers.boxes().size(), 1u);
    EXPECT_EQ(answers.boxes()[0].message,
              "The following error occured:\nthe panel could not be made\nThis program will close now.");
    EXPECT_TRUE(quitRequested());
    EXPECT_EQ(window->getContentPanel(), nullptr);
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(Frame, APanelRefusingInitEndsTheProgramSilently)
{
    script.initResult = false;
    ModalBoxAnswers noBoxes;
    openWindow();

    EXPECT_TRUE(quitRequested());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(noBoxes.boxes().empty());
    pumpMessages(200);
    EXPECT_EQ(log.count("start"), 0);
}

TEST_F(Frame, TheCloseButtonQuitsOnlyWhenThePanelAgrees)
{
    script.canQuit = false;
    openWindow();
    waitForStart();

    // Straight to the window: the toolkit disables the button of a window without focus, and
    // other test programs may hold the focus on the shared display.
    window->closeButtonPressed();
    EXPECT_EQ(log.count("canQuit"), 1);
    EXPECT_FALSE(quitRequested()) << "the panel refused: the program goes on";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(log.count("close"), 0);
}

TEST_F(Frame, TheCloseButtonQuitsWhenThePanelAgrees)
{
    openWindow();
    waitForStart();

    window->closeButtonPressed();
    EXPECT_EQ(log.count("canQuit"), 1);
    EXPECT_TRUE(quitRequested());
}
