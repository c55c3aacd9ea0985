// Starts a GUI program and measures it from outside, the way a user sees it:
//   bench_window_startup <window name> <program> [arguments...]
// prints "<ms until a window of that name is viewable> <peak resident KiB>" and exits 0, or
// explains on stderr and exits 1. The program is given 500 ms after its window shows (so that
// what it does right after showing counts towards its memory), then ended with SIGTERM.
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

    bool complete() const
    {
        return open && intern && queryTree && attributes && getName && free && sync && setErrorHandler;
    }
};

// Windows may vanish between listing and asking about them.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

bool windowShown(const X11& x, Display* display, const std::string& wanted)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!x.queryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return false;
    bool found = false;
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
            found = text.find(wanted) != std::string::npos;
            x.free(name.value);
        }
    }
    if (children)
        x.free(children);
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: %s <window name> <program> [arguments...]\n", argv[0]);
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
    while (!exited)
    {
        if (windowShown(x, display, wanted))
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
    if (!exited)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(child, SIGTERM);
        wait4(child, &status, 0, &usage);
    }
    if (shownMs < 0)
    {
        std::fprintf(stderr, "no window named \"%s\" appeared\n", wanted.c_str());
        return 1;
    }
    std::printf("%.1f %ld\n", shownMs, usage.ru_maxrss);
    return 0;
}
