#include "GuiTestSupport.h"
#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace {

using Answer = std::function<void(juce::FileChooserDialogBox&, juce::FileBrowserComponent&)>;

// Asks the file question while a timer on the message thread waits for the modal box and lets
// `answer` act on it the way a user would.
std::string Ask(const Answer& answer, const std::string& title, const std::string& initialPath, bool save)
{
    struct Answerer : juce::Timer
    {
        Answer act;
        bool answered = false;
        void timerCallback() override
        {
            auto* box = dynamic_cast<juce::FileChooserDialogBox*>(juce::Component::getCurrentlyModalComponent());
            if (auto* browser = box ? findFileBrowser(*box) : nullptr)
            {
                stopTimer();
                answered = true;
                act(*box, *browser);
            }
        }
    } answerer;
    answerer.act = answer;
    answerer.startTimer(20);
    const std::string chosen = Tr::askUserForFileDialog(title, "Choose a file", "*.syx", "Settings files",
                                                        initialPath, save);
    EXPECT_TRUE(answerer.answered) << "no file box came up";
    return chosen;
}

} // namespace

TEST(FileDialog, ReturnsTheChosenPathOrNothing)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    TempFolder dir;
    TempFolder::writeFile(dir / "old.syx", "x");

    const auto saveAsNew = [](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
        EXPECT_TRUE(browser.isSaveMode());
        EXPECT_EQ(box.getName(), "Save settings");
        // Title, instructions and the file name's label stand out from the box's white background.
        EXPECT_EQ(box.getBackgroundColour(), juce::Colours::white);
        juce::Array<juce::Colour> texts{box.getLookAndFeel().findColour(juce::FileChooserDialogBox::titleTextColourId)};
        for (auto* child : browser.getChildren())
            if (auto* label = dynamic_cast<juce::Label*>(child))
                texts.add(label->findColour(juce::Label::textColourId));
        EXPECT_EQ(texts.size(), 2) << "the title and the one label";
        for (const juce::Colour& text : texts)
            EXPECT_LT(text.getPerceivedBrightness(), 0.3f) << text.toDisplayString(true);
        browser.setFileName("new.syx");
        box.exitModalState(1);
    };
    EXPECT_EQ(Ask(saveAsNew, "Save settings", dir.path(), true), dir / "new.syx");

    const auto cancel = [](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
        EXPECT_FALSE(browser.isSaveMode());
        box.exitModalState(0);
    };
    EXPECT_EQ(Ask(cancel, "Open settings", dir / "old.syx", false), "") << "a cancelled box gives the empty text";

    const auto confirm = [](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
        EXPECT_EQ(browser.getRoot().getFullPathName(), "/tmp") << "opens in the missing file's folder";
        box.exitModalState(1);
    };
    EXPECT_EQ(Ask(confirm, "Open", "/tmp/old-file-that-is-not-there.syx", false),
              "/tmp/old-file-that-is-not-there.syx")
        << "a confirmed box gives the name in its file box";
}
