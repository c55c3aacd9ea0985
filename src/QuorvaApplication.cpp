#include "QuorvaApplication.h"

#include "QuorvaWindow.h"

QuorvaApplication::QuorvaApplication() = default;

QuorvaApplication::~QuorvaApplication() = default;

void QuorvaApplication::initialise(const juce::String& commandLine)
{
    mainWindow = std::make_unique<QuorvaWindow>("Quorva MIDI 2");
    mainWindow->setBackgroundColour(juce::Colour(240, 240, 240));
    mainWindow->init(commandLine, false, false);
}

void QuorvaApplication::shutdown()
{
    mainWindow.reset();
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
