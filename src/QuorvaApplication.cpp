#include "QuorvaApplication.h"

#include "BContentBase.h"
#include "QuorvaWindow.h"
#include "platform/DisplayConnection.h"
#include "MessageLoopWake.h"
#include "platform/SystemQuitSignals.h"

QuorvaApplication::QuorvaApplication() = default;

QuorvaApplication::~QuorvaApplication() = default;

void QuorvaApplication::initialise(const juce::String& commandLine)
{
    // The window's quits, from its start on, wake the message loop through it.
    loopWake = std::make_unique<MessageLoopWake>();
    // Watched before the window is made, so that a signal during the start-up's boxes ends them
    // too. The system's road skips canQuit, as a logout does not wait for questions.
    quitSignals = std::make_unique<SystemQuitSignals>([this] { systemRequestedQuit(); });
    mainWindow = std::make_unique<QuorvaWindow>("Quorva MIDI 2");
    mainWindow->setBackgroundColour(juce::Colour(240, 240, 240));
    mainWindow->init(commandLine, false, false);
    // The toolkit has its display by now, and with it a handler for a lost one that ends the
    // process without the window's close; a session that ends often takes the X server down
    // before any signal comes.
    DisplayConnection::onLoss([this] {
        // The panel belongs to the message thread; from any other the write would race it.
        if (!mainWindow || !juce::MessageManager::existsAndIsCurrentThread())
            return;
        if (BContentBase* panel = mainWindow->getContentPanel())
            panel->close();
    });
}

void QuorvaApplication::shutdown()
{
    // From here on the window's own close writes the settings.
    DisplayConnection::onLoss(nullptr);
    mainWindow.reset();
    quitSignals.reset();
    loopWake.reset();
}

const juce::String QuorvaApplication::getApplicationName()
{
    return "Quorva MIDI 2";
}

const juce::String QuorvaApplication::getApplicationVersion()
{
    return "1.0";
}

bool QuorvaApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void QuorvaApplication::anotherInstanceStarted(const juce::String&) {}
