#include "GuiTestSupport.h"
#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

TEST(FileDialog, ReturnsTheChosenPathOrNothing)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    TempFolder dir;
    TempFolder::writeFile(dir / "old.syx", "x");
    std::string chosen, offered;
    // Answers the file question as a user would; the boxes seen come back.
    auto ask = [&](std::vector<std::string> answers, const std::string& title, const std::string& initialPath, bool save) {
        ModalAnswers boxes(std::move(answers));
        boxes.inspect = [&offered](juce::Component& box) {
            juce::FileBrowserComponent* browser = findFileBrowser(box);
            ASSERT_NE(browser, nullptr) << "no file box came up";
            offered = browser->getSelectedFile(0).getFullPathName().toStdString();
            // Title, instructions and the file name's label stand out from the box's white background.
            EXPECT_EQ(dynamic_cast<juce::FileChooserDialogBox&>(box).getBackgroundColour(), juce::Colours::white);
            juce::Array<juce::Colour> texts{box.getLookAndFeel().findColour(juce::FileChooserDialogBox::titleTextColourId)};
            for (auto* child : browser->getChildren())
                if (auto* label = dynamic_cast<juce::Label*>(child))
                    texts.add(label->findColour(juce::Label::textColourId));
            EXPECT_EQ(texts.size(), 2) << "the title and the one label";
            for (const juce::Colour& text : texts)
                EXPECT_LT(text.getPerceivedBrightness(), 0.3f) << text.toDisplayString(true);
        };
        chosen = Tr::askUserForFileDialog(title, "Choose a file", "*.syx", "Settings files", initialPath, save);
        return boxes.seen();
    };
    EXPECT_EQ(ask({"new.syx"}, "Save settings", dir.path(), true), Texts{"Save settings (save) at " + dir.path()});
    EXPECT_EQ(chosen, dir / "new.syx");
    EXPECT_EQ(ask({""}, "Open settings", dir / "old.syx", false), Texts{"Open settings (open) at " + dir.path()});
    EXPECT_EQ(chosen, "") << "a cancelled box gives the empty text";
    const std::string missing = "/tmp/old-file-that-is-not-there.syx";
    EXPECT_EQ(ask({missing}, "Open", missing, false), Texts{"Open (open) at /tmp"}) << "opens in the missing file's folder";
    EXPECT_EQ(offered, missing) << "with its name in the file box";
    EXPECT_EQ(chosen, missing);
}
