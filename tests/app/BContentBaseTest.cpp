#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "ScriptedPanel.h"

#include <gtest/gtest.h>

namespace {

// Feeds mouse events through the window's peer, as the window system does, so that they reach
// whichever component lies under the pointer.
class Mouse
{
public:
    explicit Mouse(juce::Component& window) : FWindow(window) {}

    // Moves the pointer to a point on the screen, with the left button down or up.
    void at(juce::Point<int> screen, bool leftDown)
    {
        auto* peer = FWindow.getPeer();
        ASSERT_NE(peer, nullptr);
        const auto local = (screen - FWindow.getScreenPosition()).toFloat();
        const auto mods = leftDown ? juce::ModifierKeys::leftButtonModifier : 0;
        juce::ModifierKeys::currentModifiers = juce::ModifierKeys(mods);
        peer->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, local, juce::ModifierKeys(mods),
                               juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                               FTime += 50);
    }

private:
    juce::Component& FWindow;
    juce::int64 FTime = juce::Time::currentTimeMillis();
};

} // namespace

TEST(BContentBase, TakesItsSizeFromTheBackgroundPicture)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    ScriptedPanel panel(PanelScript{}, log);
    EXPECT_EQ(panel.preferredWidth, 365) << "without a picture";
    EXPECT_EQ(panel.preferredHeight, 255);

    panel.createComponents();
    const auto picture = JuceUtils::getDrawable("background.png");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(panel.preferredWidth, (int)picture->getDrawableBounds().getWidth());
    EXPECT_EQ(panel.preferredHeight, (int)picture->getDrawableBounds().getHeight());
}

TEST(BContentBase, DeferredEnableRunsOnceOnTheMessageThread)
{
    juce::ScopedJuceInitialiser_GUI gui;
    PanelLog log;
    ScriptedPanel panel(PanelScript{}, log);
    panel.enableButtonsAsync();
    panel.enableButtonsAsync();
    panel.asyncRepaint();
    EXPECT_EQ(log.count("enableButtons"), 0);
    pumpMessages(200);
    EXPECT_EQ(log.count("enableButtons"), 1) << "requests before the update are merged";
}

using BContentBaseInWindow = ScriptedWindowTest;

TEST_F(BContentBaseInWindow, DraggingTheBackgroundMovesTheWindowButDraggingAWidgetDoesNot)
{
    openWindow();
    window->setTopLeftPosition(100, 120);
    auto* panel = window->getContentPanel();
    juce::TextButton widget("widget");
    widget.setBounds(200, 200, 100, 40);
    panel->addAndMakeVisible(widget);
    waitForStart();
    window->toFront(false);
    pumpMessages(200);   // lets the window system settle the window's place before the drag
    ASSERT_EQ(window->getPosition(), juce::Point<int>(100, 120));

    Mouse mouse(*window);
    const auto start = panel->localPointToGlobal(juce::Point<int>(50, 50));
    mouse.at(start, false);
    mouse.at(start, true);
    mouse.at(start + juce::Point<int>(30, 20), true);
    EXPECT_EQ(window->getPosition(), juce::Point<int>(130, 140));
    mouse.at(start + juce::Point<int>(-40, 65), true);
    EXPECT_EQ(window->getPosition(), juce::Point<int>(60, 185)) << "the window follows the pointer";
    mouse.at(start + juce::Point<int>(-40, 65), false);
    EXPECT_EQ(window->getPosition(), juce::Point<int>(60, 185));

    // A later move with no button down moves nothing.
    mouse.at(start + juce::Point<int>(0, 0), false);
    EXPECT_EQ(window->getPosition(), juce::Point<int>(60, 185));

    const auto onWidget = widget.localPointToGlobal(juce::Point<int>(10, 10));
    mouse.at(onWidget, false);
    mouse.at(onWidget, true);
    mouse.at(onWidget + juce::Point<int>(50, 50), true);
    mouse.at(onWidget + juce::Point<int>(50, 50), false);
    EXPECT_EQ(window->getPosition(), juce::Point<int>(60, 185)) << "widgets are no drag handles";
    panel->removeChildComponent(&widget);
}
