#include "BContentBase.h"
#include "BWindow.h"
#include "GuiTestSupport.h"
#include "QuorvaApplication.h"

#include <gtest/gtest.h>

// Starts the application's main window as the toolkit would, and leaves a picture of it in the
// build folder (screenshot-main-window.png) for a look at the layout.
TEST(QuorvaApplication, OpensTheMainWindowAndDeletesItAtShutdown)
{
    QUORVA_REQUIRE_DISPLAY(display);
    ScopedHome home;
    juce::ScopedJuceInitialiser_GUI gui;
    QuorvaApplication app;
    EXPECT_EQ(app.getApplicationName(), "Quorva MIDI 2");
    EXPECT_EQ(app.getApplicationVersion(), "1.0");
    EXPECT_FALSE(app.moreThanOneInstanceAllowed());

    app.initialise("-psn_0_4711");
    BWindow* window = app.getMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(window->getContentPanel(), nullptr);
    EXPECT_EQ(BWindow::getInstance(), window);
    EXPECT_EQ(window->getName(), juce::String("Quorva MIDI 2 - v1.0")) << "the editor's title: no file yet";
    EXPECT_EQ(window->getBackgroundColour(), juce::Colour(240, 240, 240));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->getContentComponent()->getLocalBounds().getBottomRight(),
              juce::Point<int>(window->getContentPanel()->preferredWidth, window->getContentPanel()->preferredHeight));

    pumpMessages(800);
    saveScreenshot(*window, "screenshot-main-window.png");
    EXPECT_GT(juce::File(QUORVA_BINARY_DIR "/screenshot-main-window.png").getSize(), 0);

    app.shutdown();
    EXPECT_EQ(app.getMainWindow(), nullptr);
    EXPECT_EQ(BWindow::getInstance(), nullptr);
}
