#include "BContentBase.h"
#include "BWindow.h"
#include "GuiTestSupport.h"
#include "QuorvaApplication.h"
#include "core/TempFolder.h"

#include <gtest/gtest.h>

// Starts the application's main window as the toolkit would, and leaves a picture of it in the
// build folder (screenshot-main-window.png) for a look at the layout.
TEST(QuorvaApplication, OpensTheMainWindowAndDeletesItAtShutdown)
{
    QUORVA_REQUIRE_DISPLAY(display);
    // The editor keeps its settings under HOME.
    TempFolder home;
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    juce::ScopedJuceInitialiser_GUI gui;
    QuorvaApplication app;
    EXPECT_EQ(app.getApplicationName(), "Quorva MIDI 2");
    EXPECT_EQ(app.getApplicationVersion(), "1.0");
    EXPECT_FALSE(app.moreThanOneInstanceAllowed());

    app.initialise("-psn_0_4711");
    BWindow* window = app.getMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(BWindow::getInstance(), window);
    EXPECT_EQ(window->getName(), juce::String("Quorva MIDI 2 - v1.0")) << "the editor's title: no file yet";
    EXPECT_EQ(window->getBackgroundColour(), juce::Colour(240, 240, 240));
    EXPECT_TRUE(window->isVisible());
    ASSERT_NE(window->getContentPanel(), nullptr);
    EXPECT_EQ(window->getContentComponent()->getWidth(), window->getContentPanel()->preferredWidth);
    EXPECT_EQ(window->getContentComponent()->getHeight(), window->getContentPanel()->preferredHeight);

    pumpMessages(1000);
    const juce::Image shot = window->createComponentSnapshot(window->getLocalBounds(), true, 1.0f);
    const juce::File file(QUORVA_BINARY_DIR "/screenshot-main-window.png");
    file.deleteFile();
    {
        juce::FileOutputStream out(file);
        ASSERT_TRUE(out.openedOk());
        ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(shot, out));
    }
    EXPECT_GT(file.getSize(), 0);

    app.shutdown();
    EXPECT_EQ(app.getMainWindow(), nullptr);
    EXPECT_EQ(BWindow::getInstance(), nullptr);
    setenv("HOME", oldHome.c_str(), 1);
}
