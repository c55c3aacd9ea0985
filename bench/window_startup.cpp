// Starts a GUI program and measures it from outside, the way a user sees it:
//   bench_window_startup [--close] <window name> <program> [arguments...]
// prints "<ms until a window of that name is viewable> <peak resident KiB>" and exits 0, or
// explains on stderr and exits 1. The program is given 500 ms after its window shows (so that
// what it does right after showing counts towards its memory), then ended with SIGTERM. With
// --close its window is closed instead, as by its close button, and the time until the program
// has ended (saving its settings on the way) follows as a third figure.
//
// Runs under a bare X server (xvfb-run): it first creates the window-manager atoms that JUCE only
// looks up, and holds its connection open, so that no program measured pays for that.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The few X calls needed, loaded at run time as the toolkit itself does.
struct X11
{
    void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    template <typename F>
    F get(const char* name) const { return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr; }

    decltype(&XOpenDisplay) open = get<decltype(&XOpenDisplay)>("XOpenDisplay");
    decltype(&XInternAtom) intern = get<decltype(&XInternAtom)>("XInternAtom");
    decltype(&XQueryTree) queryTree = get<decltype(&XQueryTree)>("XQueryTree");
    decltype(&XGetWindowAttributes) attributes = get<decltype(&XGetWindowAttributes)>("XGetWindowAttributes");
    decltype(&XGetWMName) getName = get<decltype(&XGetWMName)>("XGetWMName");
    decltype(&XFree) free = get<decltype(&XFree)>("XFree");
    decltype(&XSync) sync = get<decltype(&XSync)>("XSync");
    decltype(&XSetErrorHandler) setErrorHandler = get<decltype(&XSetErrorHandler)>("XSetErrorHandler");
    decltype(&XSendEvent) sendEvent = get<decltype(&XSendEvent)>("XSendEvent");

    bool complete() const
    {
        return open && intern && queryTree && attributes && getName && free && sync && setErrorHandler && sendEvent;
    }
};

// Windows may vanish between listing and asking about them.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

// The viewable top-level window whose title holds wanted, or 0.
Window windowShown(const X11& x, Display* display, const std::string& wanted)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!x.queryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
    {
        XWindowAttributes a;
        if (!x.attributes(display, children[i], &a) || a.map_state != IsViewable)
            continue;
        // Read as raw bytes: JUCE stores the title as UTF-8, which XFetchName refuses.
        XTextProperty name {};
        if (x.getName(display, children[i], &name) && name.value)
        {
            const std::string text(reinterpret_cast<const char*>(name.value), name.nitems);
            if (text.find(wanted) != std::string::npos)
                found = children[i];
            x.free(name.value);
        }
    }
    if (children)
        x.free(children);
    return found;
}

// What the window manager sends when the user clicks a window's close button.
void askToClose(const X11& x, Display* display, Window window)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = x.intern(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(x.intern(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    x.sendEvent(display, window, False, NoEventMask, &event);
    x.sync(display, False);
}

// Waits for the child to end, at most 60 s; false when it did not.
bool waitForExit(pid_t child, int& status, rusage& usage)
{
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(60))
    {
        if (wait4(child, &status, WNOHANG, &usage) == child)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool close = argc > 1 && std::string(argv[1]) == "--close";
    if (close)
    {
        --argc;
        ++argv;
    }
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: %s [--close] <window name> <program> [arguments...]\n", argv[0]);
        return 1;
    }
    const std::string wanted = argv[1];
    X11 x;
    Display* display = x.complete() ? x.open(nullptr) : nullptr;
    if (!display)
    {
        std::fprintf(stderr, "no X display (run under xvfb-run)\n");
        return 1;
    }
    x.setErrorHandler(ignoreXErrors);
    for (const char* atom : {"WM_STATE", "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE",
                             "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_WINDOW_TYPE",
                             "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_PING"})
        x.intern(display, atom, False);
    x.sync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
    {
        std::perror("fork");
        return 1;
    }
    if (child == 0)
    {
        execv(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }

    double shownMs = -1;
    int status = 0;
    bool exited = false;
    Window window = 0;
    while (!exited)
    {
        window = windowShown(x, display, wanted);
        if (window)
        {
            shownMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            break;
        }
        exited = waitpid(child, &status, WNOHANG) == child;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(30))
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }

    rusage usage {};
    double quitMs = -1;
    if (!exited)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (close && shownMs >= 0)
        {
            const auto quitStart = std::chrono::steady_clock::now();
            askToClose(x, display, window);
            if (waitForExit(child, status, usage))
            {
                quitMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - quitStart).count();
                exited = true;
            }
        }
        if (!exited)
        {
            kill(child, SIGTERM);
            wait4(child, &status, 0, &usage);
        }
    }
    if (shownMs < 0)
    {
        std::fprintf(stderr, "no window named \"%s\" appeared\n", wanted.c_str());
        return 1;
    }
    if (close && quitMs < 0)
    {
        std::fprintf(stderr, "the program did not end within 60 s of closing its window\n");
        return 1;
    }
    if (close)
        std::printf("%.1f %ld %.1f\n", shownMs, usage.ru_maxrss, quitMs);
    else
        std::printf("%.1f %ld\n", shownMs, usage.ru_maxrss);
    return 0;
}
