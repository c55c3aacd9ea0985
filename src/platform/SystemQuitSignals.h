// The system's request to quit. When the user logs out or the machine shuts down, a desktop asks
// each program to quit, and the GUI toolkit turns that request into the application's
// systemRequestedQuit: the message loop ends the normal way, so the window's close still writes
// the settings. On Linux that request is a signal: SIGTERM from the session, a shutdown or `kill`,
// SIGHUP from a terminal that went away. Left alone, either ends the process on the spot.
//
// The handler only writes a byte into a pipe, the one thing it may safely do; the message loop
// watches the other end. A signal caught before the loop watches, or while a modal box runs a
// loop of its own, waits in the pipe until a loop looks, so none is lost.
#pragma once

#include <functional>

class SystemQuitSignals
{
public:
    // Catches SIGTERM and SIGHUP from now on; the program calls it before any of its static
    // initialisers runs. Each signal is caught once: the same signal again ends the process the
    // default way. A signal the starter chose to ignore (nohup) stays ignored. Calling it again
    // does nothing. False when the pipe or the handlers cannot be had: the signals then keep their
    // default action.
    static bool catchSignals();

    // While this lives, a signal caught before or after calls onQuit on the message thread
    // (signals that wait together call it once). Needs the toolkit's message manager; catches
    // the signals itself when nobody did yet.
    explicit SystemQuitSignals(std::function<void()> onQuit);
    ~SystemQuitSignals();
    SystemQuitSignals(const SystemQuitSignals&) = delete;
    SystemQuitSignals& operator=(const SystemQuitSignals&) = delete;

private:
    std::function<void()> FOnQuit;
    int FWatched = -1;   // the pipe end registered with the message loop
};
