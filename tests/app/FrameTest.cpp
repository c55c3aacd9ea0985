#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "ScriptedPanel.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

bool quitRequested()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}

} // namespace

TEST(Frame, SetsUpThePanelThenStartsItOnceAfterTheWindowShows)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    {
        ScriptedWindow window(PanelScript{}, log);
        EXPECT_EQ(BWindow::getInstance(), &window);
        EXPECT_FALSE(window.isVisible()) << "on the desktop but not shown before init";

        window.init("-psn_0_1234", false, false);
        EXPECT_EQ(log.calls, (Calls{"createComponents", "enableButtons", "init:", "showWindowOnStart"}))
            << "the process serial number argument alone reaches the panel as an empty command line";
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isResizable());
        EXPECT_EQ(window.getContentComponent(), window.getContentPanel());
        EXPECT_EQ(window.getContentComponent()->getWidth(), 420) << "the content takes the panel's preferred size";
        EXPECT_EQ(window.getContentComponent()->getHeight(), 310);
        EXPECT_NE(window.getCloseButton(), nullptr);
        EXPECT_NE(window.getMinimiseButton(), nullptr);
        EXPECT_EQ(window.getMaximiseButton(), nullptr);

        pumpMessages(2000, [&] { return log.count("start") > 0; });
        pumpMessages(200);
        EXPECT_EQ(log.count("start"), 1);
        EXPECT_TRUE(log.visibleAtStart);
        EXPECT_EQ(log.calls.back(), "enableButtons") << "the start is followed by a refresh of the buttons";
        EXPECT_FALSE(quitRequested());
        log.calls.clear();
    }
    EXPECT_EQ(log.calls, (Calls{"close"})) << "close runs once, before the panel is deleted";
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(BWindow::getInstance(), nullptr);
}

TEST(Frame, TicksDuringAModalBoxOfTheStartDoNotStartThePanelAgain)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    PanelScript script;
    script.onStart = [] { JuceUtils::ErrorDlg("the last file is gone"); };
    ModalBoxAnswers answers({"OK"}, 300);   // the box stays up for many 20 ms ticks
    ScriptedWindow window(script, log);
    window.init("", false, false);

    pumpMessages(3000, [&] { return answers.boxes().size() == 1; });
    pumpMessages(200);
    EXPECT_EQ(answers.boxes().size(), 1u);
    EXPECT_EQ(log.count("start"), 1);
}

TEST(Frame, AnExceptionFromThePanelsInitIsAFatalError)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    PanelScript script;
    script.throwInInit = "Cannot read the settings";
    ModalBoxAnswers answers({"OK"});
    {
        ScriptedWindow window(script, log);
        window.init("", false, false);

        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Fatal Error");
        EXPECT_EQ(answers.boxes()[0].message,
                  "The following error occured:\nCannot read the settings\nThis program will close now.");
        EXPECT_TRUE(quitRequested());
        EXPECT_FALSE(window.isVisible());
        pumpMessages(200);
        EXPECT_EQ(log.count("start"), 0);
        log.calls.clear();
    }
    EXPECT_EQ(log.calls, (Calls{"close"})) << "a panel that was made is still closed";
}

TEST(Frame, AnExceptionFromThePanelsConstructorIsAFatalError)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    PanelScript script;
    script.throwInConstructor = true;
    ModalBoxAnswers answers({"OK"});
    ScriptedWindow window(script, log);
    window.init("", false, false);

    ASSERT_EQ(answers.boxes().size(), 1u);
    EXPECT_EQ(answers.boxes()[0].message,
              "The following error occured:\nthe panel could not be made\nThis program will close now.");
    EXPECT_TRUE(quitRequested());
    EXPECT_EQ(window.getContentPanel(), nullptr);
    EXPECT_TRUE(log.calls.empty());
}

TEST(Frame, APanelRefusingInitEndsTheProgramSilently)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    PanelScript script;
    script.initResult = false;
    ModalBoxAnswers noBoxes;
    ScriptedWindow window(script, log);
    window.init("", false, false);

    EXPECT_TRUE(quitRequested());
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(noBoxes.boxes().empty());
    pumpMessages(200);
    EXPECT_EQ(log.count("start"), 0);
}

TEST(Frame, TheCloseButtonQuitsOnlyWhenThePanelAgrees)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    PanelScript script;
    script.canQuit = false;
    ScriptedWindow window(script, log);
    window.init("", false, false);
    pumpMessages(2000, [&] { return log.count("start") > 0; });

    window.getCloseButton()->triggerClick();
    pumpMessages(2000, [&] { return log.count("canQuit") > 0; });
    EXPECT_EQ(log.count("canQuit"), 1);
    EXPECT_FALSE(quitRequested()) << "the panel refused: the program goes on";
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(log.count("close"), 0);
}

TEST(Frame, TheCloseButtonQuitsWhenThePanelAgrees)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    ScriptedWindow window(PanelScript{}, log);
    window.init("", false, false);
    pumpMessages(2000, [&] { return log.count("start") > 0; });

    window.getCloseButton()->triggerClick();
    pumpMessages(2000, [&] { return quitRequested(); });
    EXPECT_EQ(log.count("canQuit"), 1);
    EXPECT_TRUE(quitRequested());
}
