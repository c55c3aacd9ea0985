// The window system as the GUI toolkit expects to find it. A desktop always has a display and a
// window manager; on Linux the program may be started with neither (a console, a bare X server
// such as Xvfb). This opens the display the toolkit will use, so that its absence can be reported
// plainly, and creates the window-manager atoms that the toolkit only looks up: on a server with
// no window manager they are missing and the first window would end the process with BadAtom.
// The connection stays open while the object lives, because the server forgets its atoms when
// its last client leaves.
#pragma once

#include <functional>
#include <string>

class DisplayConnection
{
public:
    DisplayConnection();
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

    // Takes over the X library's handler for a lost connection: the toolkit puts its own in place
    // when it opens its display, so call this after. From then on a lost display (an X server that
    // ends, as it often does at logout before any signal comes) is said on stderr, lastWords runs
    // on the thread that noticed, and the process ends with status 1 without going back to the
    // toolkit. lastWords must not touch the display; an empty one ends at once. False when the X
    // library cannot be had.
    static bool onLoss(std::function<void()> lastWords);

    bool isOpen() const { return FDisplay != nullptr; }
    // The display asked for: $DISPLAY, or ":0.0" when unset, as the toolkit does.
    const std::string& name() const { return FName; }

private:
    std::string FName;
    void* FX11 = nullptr;       // the X library, loaded at run time like the toolkit does
    void* FDisplay = nullptr;
    int (*FClose)(void*) = nullptr;
};
