#include "BWindow.h"

#include "BContentBase.h"
#include "JuceUtils.h"
#include "core/TrException.h"
#include "MessageLoopWake.h"

namespace {

BWindow* g_bwindow_instance = nullptr;

enum TitleBarButtons
{
    kMinimise = juce::DocumentWindow::minimiseButton,
    kClose = juce::DocumentWindow::closeButton,
};

} // namespace

BWindow::BWindow(const juce::String& title)
    : juce::DocumentWindow(title, juce::Colours::black, kMinimise | kClose, true)
{
    g_bwindow_instance = this;
}

BWindow::~BWindow()
{
    stopTimer();
    if (contentPanel) {
        contentPanel->close();
        // The panel goes while the window is still whole, so its destructor may still reach it.
        clearContentComponent();
        contentPanel = nullptr;
    }
    // Nobody may reach a deleted window through getInstance().
    if (g_bwindow_instance == this)
        g_bwindow_instance = nullptr;
}

BWindow* BWindow::getInstance()
{
    return g_bwindow_instance;
}

void BWindow::init(const juce::String& commandLine, bool isTransparent, bool)
{
    juce::String error;
    {
        const juce::MessageManagerLock lock;
        try {
            setUp(commandLine, isTransparent);
            return;
        } catch (const Tr::Exception& e) {
            error = juce::String::fromUTF8(e.what());
        }
    }
    // The lock is released first: the box runs a modal loop of its own.
    juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::WarningIcon, "Fatal Error",
                                      "The following error occured:\n" + error + "\nThis program will close now.");
    MessageLoopWake::quit(1);
}

void BWindow::setUp(const juce::String& commandLine, bool isTransparent)
{
    const juce::String panelCommandLine = JuceUtils::cutProcessSerialNumberFromCommandLine(commandLine);
    transparent = isTransparent;

    std::unique_ptr<BContentBase> panel = createContentPanel();
    contentPanel = panel.get();
    setContentOwned(panel.release(), false);

    contentPanel->createComponents();
    contentPanel->enableButtons();

    setTitleBarButtonsRequired(kMinimise | kClose, false);
    setResizable(false, false);
    setContentComponentSize(300, 300);

    if (!contentPanel->init(panelCommandLine)) {
        MessageLoopWake::quit();
        return;
    }
    setContentComponentSize(contentPanel->preferredWidth, contentPanel->preferredHeight);

    if (transparent) {
        setDropShadowEnabled(false);
        setBackgroundColour(juce::Colours::transparentWhite);
    }
    if (contentPanel->showWindowOnStart())
        setVisible(true);

    startPending = true;
    startTimer(20);
}

void BWindow::timerCallback()
{
    if (!startPending)
        return;
    // Cleared before the start runs, so that a tick arriving while the start shows a modal box
    // does not start the panel again.
    startPending = false;
    if (contentPanel) {
        contentPanel->start(true);
        contentPanel->enableButtons();
    }
    stopTimer();
}

void BWindow::closeButtonPressed()
{
    // canQuit's boxes run their loops inside this click's callback, which a plain quit would
    // leave waiting for the next event.
    if (!contentPanel || contentPanel->canQuit())
        MessageLoopWake::quit();
}

void BWindow::minimisationStateChanged(bool isNowMinimised)
{
    if (contentPanel)
        contentPanel->minimisationStateChanged(isNowMinimised);
}

void BWindow::paint(juce::Graphics& g)
{
    if (transparent) {
        g.setColour(juce::Colours::black);
        g.fillRoundedRectangle(0.0f, 0.0f, (float)getWidth(), (float)getHeight(), 10.0f);
    } else {
        juce::DocumentWindow::paint(g);
    }
}
