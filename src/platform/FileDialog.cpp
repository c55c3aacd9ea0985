// The open/save file question, on the GUI toolkit's own file browser.
#include "core/TrFiles.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace Tr {

std::string askUserForFileDialog(const std::string& title, const std::string& instructions,
                                 const std::string& patterns, const std::string& patternDescription,
                                 const std::string& initialPath, bool save)
{
    std::unique_ptr<juce::WildcardFileFilter> filter;
    if (!patterns.empty())
        filter = std::make_unique<juce::WildcardFileFilter>(juce::String(patterns), juce::String("*"),
                                                            juce::String(patternDescription));

    const juce::String start(initialPath);
    const juce::File initial = start.isEmpty() || juce::File::isAbsolutePath(start)
                                   ? juce::File(start)
                                   : juce::File::getCurrentWorkingDirectory().getChildFile(start);

    const int flags = (save ? juce::FileBrowserComponent::saveMode : juce::FileBrowserComponent::openMode)
                      | juce::FileBrowserComponent::canSelectFiles;
    // The toolkit's default look draws the box's title, its instructions and the file name's label
    // in white, which vanishes on the box's white background.
    juce::LookAndFeel_V4 look;
    look.setColour(juce::FileChooserDialogBox::titleTextColourId, juce::Colours::black);
    look.setColour(juce::Label::textColourId, juce::Colours::black);
    juce::FileBrowserComponent browser(flags, initial, filter.get(), nullptr);
    juce::FileChooserDialogBox box(juce::String(title), juce::String(instructions), browser, save,
                                   juce::Colours::white);
    box.setLookAndFeel(&look);
    if (!box.show(0, 0))
        return std::string();
    return browser.getSelectedFile(0).getFullPathName().toStdString();
}

} // namespace Tr
