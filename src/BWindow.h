// The main window frame: creates its content panel, drives it through start-up (set up under the
// message lock, shown, then started by a 20 ms one-shot timer once the message loop runs), the
// close button and shutdown, and turns a failure during set-up into a "Fatal Error" box and quit.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class BContentBase;

class BWindow : public juce::DocumentWindow, private juce::Timer
{
public:
    explicit BWindow(const juce::String& title);
    ~BWindow() override;

    // The window constructed last, or null once it is deleted.
    static BWindow* getInstance();

    // Builds the content and arms the start; the third argument has no effect.
    virtual void init(const juce::String& commandLine, bool transparent, bool);

    void minimisationStateChanged(bool isNowMinimised) override;
    void paint(juce::Graphics& g) override;
    void closeButtonPressed() override;

    BContentBase* getContentPanel() const { return contentPanel; }
    bool isTransparent() const { return transparent; }

protected:
    // A new content panel; the window takes it over as its content component.
    virtual std::unique_ptr<BContentBase> createContentPanel() = 0;

private:
    void timerCallback() override;
    void setUp(const juce::String& commandLine, bool transparent);

    BContentBase* contentPanel = nullptr;   // owned as the window's content component
    bool transparent = false;
    bool startPending = false;   // from a successful init until the first tick
};
