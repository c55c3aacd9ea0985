// The application object: one instance at a time, creates the main window at start and deletes
// it at the end.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class BWindow;
class MessageLoopWake;
class SystemQuitSignals;

class QuorvaApplication : public juce::JUCEApplication
{
public:
    QuorvaApplication();
    ~QuorvaApplication() override;

    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    // A second start of the program ends at once; the running one is not told.
    void anotherInstanceStarted(const juce::String&) override;

    BWindow* getMainWindow() const { return mainWindow.get(); }

private:
    std::unique_ptr<MessageLoopWake> loopWake;
    std::unique_ptr<BWindow> mainWindow;
    std::unique_ptr<SystemQuitSignals> quitSignals;
};
