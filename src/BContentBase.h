// Base of a main window's content panel: the background picture and the preferred size taken
// from it, dragging the window by its background, deferred enable/repaint, and the operations
// through which BWindow drives the panel at start-up, on the close button and at shutdown.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class BContentBase : public juce::Component, public juce::AsyncUpdater
{
public:
    BContentBase();
    ~BContentBase() override;

    // ---- Driven by BWindow, in this order ----
    // Builds the children. The base loads "background.png" from the resources (its size becomes
    // the preferred size) and listens to the main window's own mouse events.
    virtual void createComponents();
    // After createComponents and enableButtons, before the window shows; false ends the program
    // without showing the window. May throw Tr::Exception ("Fatal Error").
    virtual bool init(const juce::String& commandLine);
    // Once, on the first timer tick after the window was set up and the message loop runs.
    virtual void start(bool);
    // The close button asks; false keeps the window.
    virtual bool canQuit();
    // Before the window and the panel are deleted.
    virtual void close();
    // Brings every widget's enabled state up to date.
    virtual void enableButtons();
    virtual bool showWindowOnStart();

    void handleAsyncUpdate() override;

    // ---- Helpers for derived panels ----
    void setPreferredBounds(int w, int h);
    // An invisible clickable area (text " ") that opens url; added as a visible child for the
    // caller to place. The caller owns and deletes it.
    juce::HyperlinkButton* createLinkButton(const juce::String& url);
    void enableButtonsAsync();   // enableButtons() soon, on the message thread
    void asyncRepaint();
    void dragReposition(const juce::MouseEvent& e);

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void minimisationStateChanged(bool isNowMinimised) override;
    void paint(juce::Graphics& g) override;

    // The content size the window takes after init (365 x 255 without a background picture).
    int preferredWidth = 365;
    int preferredHeight = 255;

protected:
    std::unique_ptr<juce::Drawable> background;

private:
    static constexpr int kNoDrag = -50000;

    bool repaintPending = false;
    bool enablePending = false;
    int dragOriginX = kNoDrag;   // the main window's position when the left button went down
    int dragOriginY = kNoDrag;
};
