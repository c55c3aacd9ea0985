// The program entry: checks for a display, then hands over to the GUI toolkit, which keeps to
// one running instance, calls QuorvaApplication::initialise and runs the message loop.
#include "QuorvaApplication.h"
#include "platform/DisplayConnection.h"
#include "platform/SystemQuitSignals.h"

#include <cstdio>

namespace {

juce::JUCEApplicationBase* createApplication()
{
    return new QuorvaApplication();
}

// Before every other static initialiser of the program: they read "Language.ini", which can take
// its time, and a logout or `kill` meanwhile must wait for the message loop like any later one
// instead of ending the process before the settings are written.
__attribute__((constructor(101))) void catchQuitSignalsFirst()
{
    SystemQuitSignals::catchSignals();
}

} // namespace

int main(int argc, char* argv[])
{
    // Without a display the toolkit would crash on the first window; say so plainly instead.
    // The connection lives as long as the program (see DisplayConnection).
    const DisplayConnection display;
    if (!display.isOpen()) {
        std::fprintf(stderr, "Quorva MIDI 2: no display: cannot open the X display \"%s\" (is DISPLAY set?)\n",
                     display.name().c_str());
        return 1;
    }
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));
}
