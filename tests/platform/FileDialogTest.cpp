#include "GuiTestSupport.h"
#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace {

// Waits on the message thread for the modal file box and lets `answer` act on it the way a
// user would.
class ModalAnswer : private juce::Timer
{
public:
    explicit ModalAnswer(std::function<void(juce::FileChooserDialogBox&, juce::FileBrowserComponent&)> answer)
        : FAnswer(std::move(answer))
    {
        startTimer(20);
    }
    ~ModalAnswer() override { stopTimer(); }

    bool answered() const { return FAnswered; }

private:
    void timerCallback() override
    {
        auto* box = dynamic_cast<juce::FileChooserDialogBox*>(juce::Component::getCurrentlyModalComponent());
        if (!box)
            return;
        auto* browser = findBrowser(*box);
        if (!browser)
            return;
        stopTimer();
        FAnswered = true;
        FAnswer(*box, *browser);
    }

    static juce::FileBrowserComponent* findBrowser(juce::Component& c)
    {
        if (auto* b = dynamic_cast<juce::FileBrowserComponent*>(&c))
            return b;
        for (auto* child : c.getChildren())
            if (auto* b = findBrowser(*child))
                return b;
        return nullptr;
    }

    std::function<void(juce::FileChooserDialogBox&, juce::FileBrowserComponent&)> FAnswer;
    bool FAnswered = false;
};

} // namespace

TEST(FileDialog, ReturnsTheChosenPathOrNothing)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    TempFolder dir;
    TempFolder::writeFile(dir / "old.syx", "x");

    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_TRUE(browser.isSaveMode());
            EXPECT_EQ(box.getName(), "Save settings");
            browser.setFileName("new.syx");
            box.exitModalState(1);
        });
        const std::string chosen = Tr::askUserForFileDialog("Save settings", "Choose a file", "*.syx",
                                                            "Settings files", dir.path(), true);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, dir / "new.syx");
    }
    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_FALSE(browser.isSaveMode());
            box.exitModalState(0);
        });
        const std::string chosen = Tr::askUserForFileDialog("Open settings", "Choose a file", "*.syx",
                                                            "Settings files", dir / "old.syx", false);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, "") << "a cancelled box gives the empty text";
    }
    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_EQ(browser.getRoot().getFullPathName(), "/tmp");
            box.exitModalState(1);
        });
        const std::string chosen = Tr::askUserForFileDialog("Open", "", "", "", "/tmp/old-file-that-is-not-there.syx", false);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, "/tmp/old-file-that-is-not-there.syx") << "a confirmed box gives the name in its file box";
    }
}
