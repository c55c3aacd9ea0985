#include "QuorvaApplication.h"

#include "QuorvaWindow.h"
#include "platform/SystemQuitSignals.h"

QuorvaApplication::QuorvaApplication() = default;

QuorvaApplication::~QuorvaApplication() = default;

void QuorvaApplication::initialise(const juce::String& commandLine)
{
    // Watched before the window is made, so that a signal during the start-up's boxes ends them
    // too. The system's road skips canQuit, as a logout does not wait for questions.
    quitSignals = std::make_unique<SystemQuitSignals>([this] { systemRequestedQuit(); });
    mainWindow = std::make_unique<QuorvaWindow>("Quorva MIDI 2");
    mainWindow->setBackgroundColour(juce::Colour(240, 240, 240));
    mainWindow->init(commandLine, false, false);
}

void QuorvaApplication::shutdown()
{
    mainWindow.reset();
    quitSignals.reset();
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
