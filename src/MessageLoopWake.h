// The toolkit's quit, seen by its message loop at once. On Linux the loop of the GUI toolkit
// (JUCE 7) looks whether a quit has arrived only after a round in which it ran some callback, and
// it keeps the list of a round's callbacks in one place for all rounds. A modal box shown from
// inside a callback (a timer's, a click's) runs rounds of its own, which refill that list, and
// the last of them, after the box was answered, finds nothing to do: the outer round then counts
// as empty and sleeps in poll, although it went on to take from the queue the quit posted after
// the box. The quit then waits for the next X event, usually the pointer moving over the window.
//
// So the quit also makes a descriptor that the loop watches readable and leaves it so: every
// round after it runs a callback, and the loop ends as soon as the quit has arrived.
#pragma once

class MessageLoopWake
{
public:
    // While this lives, quit() wakes the message loop. Needs the toolkit's message manager.
    MessageLoopWake();
    ~MessageLoopWake();
    MessageLoopWake(const MessageLoopWake&) = delete;
    MessageLoopWake& operator=(const MessageLoopWake&) = delete;

    // Asks the toolkit to quit, as juce::JUCEApplicationBase::quit() does, and wakes the loop;
    // without a living MessageLoopWake only the first. A start that failed ends with a status
    // other than 0. Message thread only.
    static void quit(int status = 0);

private:
    int FWake = -1;   // an eventfd
};
