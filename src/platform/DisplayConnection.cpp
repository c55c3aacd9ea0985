#include "DisplayConnection.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace {

std::function<void()> g_lastWords;

int onConnectionLost(void*)
{
    // A second loss while the last words run means they reached for the display after all.
    static std::atomic<bool> entered{false};
    if (!entered.exchange(true)) {
        std::fputs("Quorva MIDI 2: lost the connection to the display\n", stderr);
        if (g_lastWords)
            g_lastWords();
    }
    // The X library allows no return from here, and the exit handlers would run the toolkit's
    // clean-up, which talks to the display that is gone.
    _exit(1);
}

} // namespace

bool DisplayConnection::onLoss(std::function<void()> lastWords)
{
    using Handler = int (*)(void*);
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    auto setHandler = x11 ? (Handler(*)(Handler))dlsym(x11, "XSetIOErrorHandler") : nullptr;
    if (!setHandler)
        return false;
    g_lastWords = std::move(lastWords);
    setHandler(onConnectionLost);
    return true;
}

DisplayConnection::DisplayConnection()
{
    const char* env = std::getenv("DISPLAY");
    FName = env && *env ? env : ":0.0";

    // Never unloaded: the toolkit loads the same library and leaves caches in its static memory,
    // which an unload at exit would turn into leaks in the sanitizer runs.
    FX11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!FX11)
        return;
    auto open = (void* (*)(const char*))dlsym(FX11, "XOpenDisplay");
    auto intern = (unsigned long (*)(void*, const char*, int))dlsym(FX11, "XInternAtom");
    FClose = (int (*)(void*))dlsym(FX11, "XCloseDisplay");
    if (!open || !intern || !FClose)
        return;
    FDisplay = open(FName.c_str());
    if (!FDisplay)
        return;
    // Only atoms a window manager would create; the toolkit reads the others' absence as
    // "feature not offered" (the work area, for one) and must keep doing so.
    for (const char* atom : {"WM_STATE", "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW",
                             "WM_CHANGE_STATE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                             "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_PING"})
        intern(FDisplay, atom, 0);
}

DisplayConnection::~DisplayConnection()
{
    if (FDisplay)
        FClose(FDisplay);
    if (FX11)
        dlclose(FX11);
}
