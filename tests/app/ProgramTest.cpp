// Starts the program itself.
#include "GuiTestSupport.h"
#include "core/TempFolder.h"
#include "core/WaitUntil.h"
#include "midi/FreshProcess.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <vector>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* const kProgram = QUORVA_BINARY_DIR "/src/QuorvaMidi2";
const char* const kIniName = ".Quorva Tindral/QuorvaMidi2.vzrs";

// A descriptor closed when the test leaves, whichever way.
struct ScopedFd
{
    int fd;
    ~ScopedFd() { if (fd >= 0) close(fd); }
};

// The process holding the program's single-instance lock, which the toolkit keeps in /var/tmp or
// /tmp, or 0; looks without taking it.
pid_t lockHolder()
{
    const std::string lock = std::string(access("/var/tmp", W_OK) == 0 ? "/var/tmp" : "/tmp") + "/juceAppLock_Quorva MIDI 2";
    const int fd = open(lock.c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    const bool asked = fd >= 0 && fcntl(fd, F_GETLK, &fl) == 0;
    if (fd >= 0)
        close(fd);
    return asked && fl.l_type != F_UNLCK ? fl.l_pid : 0;
}

// The X library's functions the tests use, loaded at run time as the toolkit does.
#define QUORVA_X_FUNCTIONS(F)                                                                              \
    F(XOpenDisplay) F(XCloseDisplay) F(XQueryTree) F(XInternAtom) F(XGetWindowProperty)                    \
    F(XGetWindowAttributes) F(XFree) F(XSetErrorHandler) F(XMoveWindow) F(XCreateSimpleWindow) F(XSendEvent) \
    F(XCheckTypedWindowEvent) F(XFlush) F(XKeysymToKeycode)

struct XLib
{
#define QUORVA_X_MEMBER(f) decltype(&::f) f = nullptr;
    QUORVA_X_FUNCTIONS(QUORVA_X_MEMBER)
#undef QUORVA_X_MEMBER
    bool loaded = false;

    XLib()
    {
        void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        loaded = x11 != nullptr;
#define QUORVA_X_LOAD(f) loaded = loaded && (f = (decltype(f))dlsym(x11, #f)) != nullptr;
        QUORVA_X_FUNCTIONS(QUORVA_X_LOAD)
#undef QUORVA_X_LOAD
    }
};

const XLib& xlib()
{
    static const XLib lib;
    return lib;
}

// A connection to a display (name null: $DISPLAY), closed when it goes; null when there is none.
// A window that goes while it is looked at (other tests use the display too) is an X error, which
// would end this process, so errors are ignored.
std::unique_ptr<Display, int (*)(Display*)> connectTo(const char* name)
{
    Display* display = xlib().loaded ? xlib().XOpenDisplay(name) : nullptr;
    if (display)
        xlib().XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    return {display, xlib().XCloseDisplay};
}

// The process's window that shows, or 0; with a title, only a window of that title. The toolkit
// marks its windows with the process id; with no window manager they are the root window's
// children.
Window windowOf(Display* display, pid_t pid, const std::string& title = "")
{
    const XLib& x = xlib();
    Window found = 0, root, parent, *children = nullptr;
    unsigned count = 0;
    if (!display || !x.XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    const Atom pidAtom = x.XInternAtom(display, "_NET_WM_PID", False);
    // The property's bytes, "" when it is not there.
    const auto property = [&](Window window, Atom name, long length) {
        Atom type;
        int format;
        unsigned long items, rest;
        unsigned char* value = nullptr;
        std::string bytes;
        if (x.XGetWindowProperty(display, window, name, 0, length, False, AnyPropertyType, &type, &format, &items,
                                 &rest, &value) == Success && value)
            bytes.assign((const char*)value, format == 32 ? items * sizeof(long) : items * (unsigned long)(format / 8));
        if (value)
            x.XFree(value);
        return bytes;
    };
    for (unsigned i = 0; i < count && !found; ++i) {
        const std::string owner = property(children[i], pidAtom, 1);
        XWindowAttributes attributes;
        if (owner.size() == sizeof(long) && *(const unsigned long*)owner.data() == (unsigned long)pid
            && (title.empty() || property(children[i], XA_WM_NAME, 256) == title)
            && x.XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            found = children[i];
    }
    if (children)
        x.XFree(children);
    return found;
}

// Presses the key in the window as a user at the keyboard would; the key is not let go, so that
// nothing reaches the program after the press has closed the window.
void pressKey(Display* display, Window window, KeySym key)
{
    const XLib& x = xlib();
    XEvent press {};
    press.xkey.type = KeyPress;
    press.xkey.display = display;
    press.xkey.window = window;
    press.xkey.root = DefaultRootWindow(display);
    press.xkey.time = CurrentTime;
    press.xkey.same_screen = True;
    press.xkey.keycode = x.XKeysymToKeycode(display, key);
    x.XSendEvent(display, window, False, KeyPressMask, &press);
    x.XFlush(display);
}

// Moves the process's window as a window manager would, and waits until the program has taken
// the move in. The toolkit hears of it in an event; a selection request sent to the window after
// the move is answered ("no such selection") once every event queued before it was handled. Up to
// its first paint the toolkit may put the window back where it had it, so the move is made again
// until the window stays.
bool moveWindowOf(pid_t pid, const char* display, int left, int top)
{
    const auto connection = connectTo(display);
    Display* d = connection.get();
    const Window window = windowOf(d, pid);
    if (!window)
        return false;
    const XLib& x = xlib();
    const Window requestor = x.XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XEvent request {};
    request.xselectionrequest.type = SelectionRequest;
    request.xselectionrequest.owner = window;
    request.xselectionrequest.requestor = requestor;
    request.xselectionrequest.selection = x.XInternAtom(d, "QUORVA_TEST_MOVED", False);
    request.xselectionrequest.target = XA_STRING;
    request.xselectionrequest.property = None;
    for (Time attempt = 1; attempt <= 20; ++attempt) {
        x.XMoveWindow(d, window, left, top);
        // The answer names the attempt it belongs to.
        request.xselectionrequest.time = attempt;
        bool answered = false;
        for (int waited = 0; !answered; waited += 10, usleep(10000)) {
            // Sent again now and then: the toolkit may have read the request off the connection
            // in passing, and then only looks at it when something more arrives.
            if (waited % 200 == 0) {
                x.XSendEvent(d, window, False, NoEventMask, &request);
                x.XFlush(d);
            }
            XEvent answer;
            while (!answered && x.XCheckTypedWindowEvent(d, requestor, SelectionNotify, &answer))
                answered = answer.xselection.time == attempt;
            if (!answered && waited >= 30000)
                return false;
        }
        XWindowAttributes attributes;
        if (x.XGetWindowAttributes(d, window, &attributes) && attributes.x == left && attributes.y == top)
            return true;
    }
    return false;
}

// Which program the test starts, and with what around it.
struct Launch
{
    std::string program = kProgram;       // looked for in PATH when it is a bare name
    std::vector<std::string> arguments;
    std::string display;                  // "" keeps the test's own
    std::string folder;                   // the working folder; "" keeps the test's
    std::string errors = "/dev/null";     // where its stderr goes
};

// Starts the program with its HOME there ("": the test's) and its standard output discarded.
pid_t startProgram(const std::string& home, const Launch& launch = {})
{
    std::vector<char*> argv {const_cast<char*>(launch.program.c_str())};
    for (const std::string& argument : launch.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!home.empty())
            setenv("HOME", home.c_str(), 1);
        if (!launch.display.empty())
            setenv("DISPLAY", launch.display.c_str(), 1);
        // The program decides for itself what these signals do; the test runner may ignore them.
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        const int null = open("/dev/null", O_WRONLY);
        const int errors = open(launch.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (null < 0 || errors < 0 || (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0))
            _exit(126);
        dup2(null, 1);
        dup2(errors, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// An X server of the test's own, which it may end: Xvfb on a display number it picks itself.
class PrivateDisplay
{
public:
    PrivateDisplay()
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        Launch xvfb;
        xvfb.program = "Xvfb";
        xvfb.arguments = {"-displayfd", std::to_string(ends[1]), "-nolisten", "tcp", "-screen", "0", "1024x768x24"};
        FPid = startProgram("", xvfb);
        close(ends[1]);
        // Xvfb writes its display number once it takes connections.
        pollfd readable {ends[0], POLLIN, 0};
        std::string number;
        char c;
        while (FPid > 0 && poll(&readable, 1, 20000) == 1 && read(ends[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(ends[0]);
        if (!number.empty())
            FName = ":" + number;
    }
    ~PrivateDisplay() { end(); }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // "" when the server did not start.
    const std::string& name() const { return FName; }

    // Kills the server, as a session's end takes it down.
    void end()
    {
        if (FPid > 0)
            StopChild(FPid);
        FPid = -1;
    }

private:
    pid_t FPid = -1;
    std::string FName;
};

// Waits until nobody holds the single-instance lock; false at end. A holder seen meanwhile is
// left in lastHolder.
bool lockFreeBefore(Clock::time_point end, pid_t& lastHolder)
{
    while (Clock::now() < end) {
        const pid_t holder = lockHolder();
        if (holder == 0)
            return true;
        lastHolder = holder;
        usleep(20000);
    }
    return false;
}

// How starting the program as the one running instance went.
struct Start
{
    pid_t pid = 0;      // the program, holding the single-instance lock
    bool busy = false;  // a process the test did not start kept the lock all the while: skip
    std::string why;    // why there is no pid
};

// Starts the program as the one running instance: the tests of other builds on the machine start
// it too, and a second instance ends at once. Waits up to ms for the single-instance lock.
Start startOnlyInstance(const std::string& home, const Launch& launch = {}, int ms = 20000)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    pid_t other = 0;
    while (lockFreeBefore(end, other)) {
        const pid_t pid = startProgram(home, launch);
        if (pid < 0)
            return {0, false, "cannot start a process"};
        int status = -1;
        pid_t holder = 0;
        while ((holder = lockHolder()) != pid && (status = WaitForExit(pid, 0)) == -1 && Clock::now() < end)
            usleep(20000);
        if (holder == pid)
            return {pid, false, ""};
        if (status == -1) {
            StopChild(pid);
            break;
        }
        // Status 0 is a second instance: another copy took the lock since the look. Any other
        // end is a program that cannot start.
        if (status != 0)
            return {0, false, "the program ended at its start with " + std::string(status > 128 ? "signal " : "status ")
                                  + std::to_string(status > 128 ? status - 128 : status)};
        if (holder != 0)
            other = holder;
    }
    if (other != 0)
        return {0, true, "another copy of the program (process " + std::to_string(other) + ") kept the lock"};
    return {0, false, "the program never took its single-instance lock"};
}

} // namespace

// Without a display the program says so and ends, also when "Language.ini" is a pipe: the
// translations are read while the globals are built, before main, and must not wait for a writer.
TEST(Program, WithoutADisplayItSaysSoAndEndsEvenWithAPipeAsLanguageIni)
{
    TempFolder dir;
    ASSERT_EQ(mkfifo((dir / "Language.ini").c_str(), 0666), 0);
    const Launch launch{kProgram, {}, ":54321", dir.path(), dir / "output.txt"};   // display, folder, errors
    const pid_t pid = startProgram(dir.path(), launch);
    ASSERT_GT(pid, 0);
    const int status = WaitForExit(pid, 30000);
    StopChild(pid);
    EXPECT_EQ(status, 1) << "-1: still running, waiting for a writer of Language.ini; above 128: ended by a signal";
    expectContains(TempFolder::readFile(launch.errors), {"no display", ":54321"});
}

// A closed terminal sends SIGHUP (logout, shutdown and `kill` send SIGTERM, below while the
// translations are read): the program quits the normal way and writes its settings. A second
// instance meanwhile ends at once.
TEST(Program, ASystemQuitSignalStillWritesTheSettingsAndASecondInstanceEndsAtOnce)
{
    QUORVA_SKIP_WITHOUT_DISPLAY();
    TempFolder home, otherHome;
    const Start start = startOnlyInstance(home.path());
    if (start.busy)
        GTEST_SKIP() << start.why;
    ASSERT_GT(start.pid, 0) << start.why;
    if (!WaitUntil([&] { return windowOf(connectTo(nullptr).get(), start.pid) != 0; }, 30s, 20ms)) {
        StopChild(start.pid);
        FAIL() << "the window never showed";
    }
    const pid_t second = startProgram(otherHome.path());
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitForExit(second, 30000), 0) << "the second instance ends by itself, without an error";
    StopChild(second);
    EXPECT_EQ(WaitForExit(start.pid, 0), -1) << "the first instance goes on";
    kill(start.pid, SIGHUP);
    const int status = WaitForExit(start.pid, 30000);
    StopChild(start.pid);
    EXPECT_EQ(status, 0) << "the program ends by itself, without an error";
    expectContains(TempFolder::readFile(home / kIniName), {"[Current]\n", "\nMainLeft=", "\nMainTop="});
}

// The translations are read before main, and a big "Language.ini" takes its time: a logout or
// `kill` meanwhile waits for the message loop, which then quits and writes the settings.
TEST(Program, ASystemQuitSignalWhileTheTranslationsAreReadStillWritesTheSettings)
{
    QUORVA_SKIP_WITHOUT_DISPLAY();
    TempFolder dir;
    const std::string language = dir / "Language.ini";
    {
        // 64 MB of lines outside any section: all read and split, none used.
        std::string block;
        for (int i = 0; i < 16384; ++i)
            block += std::string(63, 'x') + "\n";
        std::ofstream out(language, std::ios::binary);
        for (int i = 0; i < 64; ++i)
            out << block;
        ASSERT_TRUE(out.flush().good()) << "cannot write " << language;
    }
    const ScopedFd watch {inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
    ASSERT_GE(watch.fd, 0);
    ASSERT_GE(inotify_add_watch(watch.fd, language.c_str(), IN_OPEN), 0);
    Launch launch;
    launch.folder = dir.path();

    const auto end = Clock::now() + std::chrono::seconds(20);
    pid_t other = 0;
    while (lockFreeBefore(end, other)) {
        char events[4096];
        while (read(watch.fd, events, sizeof events) > 0) {
        }
        TempFolder home;
        const pid_t pid = startProgram(home.path(), launch);
        ASSERT_GT(pid, 0);
        // The moment the file is opened the program is inside a static initialiser, before main.
        pollfd opened {watch.fd, POLLIN, 0};
        int status = -1;
        for (int waited = 0; poll(&opened, 1, 20) == 0 && (status = WaitForExit(pid, 0)) == -1 && waited < 30000; waited += 20) {
        }
        if (opened.revents & POLLIN)
            kill(pid, SIGTERM);
        bool heldLock = false;
        for (int waited = 0; status == -1 && waited < 30000; waited += 5) {
            const pid_t holder = lockHolder();
            heldLock = heldLock || holder == pid;
            if (holder != 0 && holder != pid)
                other = holder;
            if ((status = WaitForExit(pid, 0)) == -1)
                usleep(5000);
        }
        StopChild(pid);
        ASSERT_TRUE(opened.revents & POLLIN) << "the program never opened Language.ini";
        const std::string ini = TempFolder::readFile(home / kIniName);
        // A second instance ends at once with status 0 and writes nothing: another copy of the
        // program took the lock meanwhile.
        if (status == 0 && ini.empty() && !heldLock)
            continue;
        EXPECT_EQ(status, 0) << "143: the signal ended the program before it could write its settings";
        expectContains(ini, {"[Current]\n", "\nMainLeft=", "\nMainTop="});
        return;
    }
    if (other != 0)
        GTEST_SKIP() << "another copy of the program (process " << other << ") kept the lock";
    FAIL() << "the program never took its single-instance lock";
}

// At logout the X server often ends before any signal reaches the program: the settings of the
// session are written all the same, and the rest of the file is kept.
TEST(Program, ALostDisplayStillWritesTheSettings)
{
    PrivateDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    TempFolder home;
    ASSERT_EQ(mkdir((home / ".Quorva Tindral").c_str(), 0755), 0);
    TempFolder::writeFile(home / kIniName, "[Current]\nMainLeft=40\nMainTop=30\n\n[Elsewhere]\nKept=yes\n");
    const Launch launch{kProgram, {}, display.name(), "", home / "errors.txt"};   // display, folder, errors
    const Start start = startOnlyInstance(home.path(), launch);
    if (start.busy)
        GTEST_SKIP() << start.why;
    ASSERT_GT(start.pid, 0) << start.why;

    const bool shown = WaitUntil([&] { return windowOf(connectTo(launch.display.c_str()).get(), start.pid) != 0; }, 30s, 20ms);
    const bool moved = shown && moveWindowOf(start.pid, launch.display.c_str(), 137, 91);
    display.end();
    const int status = WaitForExit(start.pid, 5000);
    StopChild(start.pid);

    ASSERT_TRUE(moved) << (shown ? "the program did not answer after the move" : "the window never showed");
    EXPECT_EQ(status, 1) << "-1: still running 5 s after the display went";
    expectContains(TempFolder::readFile(launch.errors), {"Quorva MIDI 2: lost the connection to the display\n"});
    expectContains(TempFolder::readFile(home / kIniName), {"[Current]\n", "\nMainLeft=137\n", "\nMainTop=91\n", "[Elsewhere]\nKept=yes\n"});
}

// A start that cannot load the built-in defaults ("defaults.syx" damaged or missing, and no last
// file; settings that cannot be read change nothing in that) shows the reason in a box, and the
// program ends as soon as the box is answered by key, although nothing else happens on its
// display: no pointer moving over the window that stays.
TEST(Program, AStartWithoutValidDefaultsEndsOnceItsBoxIsAnswered)
{
    PrivateDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    // The resources are read beside the executable, so the program runs from a copy of the
    // installed layout with resources of the test's own.
    TempFolder install;
    std::filesystem::create_directories(install / "share/quorva-midi2");
    std::filesystem::create_directories(install / "bin");
    const std::string program = install / "bin/QuorvaMidi2";
    std::error_code failed;
    std::filesystem::create_hard_link(kProgram, program, failed);
    if (failed)
        std::filesystem::copy_file(kProgram, program, failed);
    ASSERT_FALSE(failed) << "cannot put the program into " << install.path() << ": " << failed.message();
    const std::string defaults = install / "share/quorva-midi2/defaults.syx";
    const std::string shipped = TempFolder::readFile(QUORVA_BINARY_DIR "/share/quorva-midi2/defaults.syx");
    ASSERT_EQ(shipped.size(), 546u);
    const Launch launch{program, {}, display.name(), "", install / "errors.txt"};   // display, folder, errors

    struct Case
    {
        const char* name;
        int defaultsBytes;          // -1: no file
        bool settingsUnreadable;    // a folder where the settings ini goes
    };
    for (const Case& what : {Case{"545 bytes of defaults.syx", 545, false}, Case{"no defaults.syx", -1, false},
                             Case{"no defaults.syx, settings that cannot be read", -1, true}}) {
        if (what.defaultsBytes >= 0)
            TempFolder::writeFile(defaults, shipped.substr(0, (std::size_t)what.defaultsBytes));
        else
            unlink(defaults.c_str());
        for (int attempt = 1; attempt <= 4; ++attempt) {
            SCOPED_TRACE(std::string(what.name) + ", start " + std::to_string(attempt));
            TempFolder home;
            if (what.settingsUnreadable)
                std::filesystem::create_directories(home / kIniName);
            const Start start = startOnlyInstance(home.path(), launch);
            if (start.busy)
                GTEST_SKIP() << start.why;
            ASSERT_GT(start.pid, 0) << start.why;

            const auto connection = connectTo(launch.display.c_str());
            Window box = 0;
            WaitUntil([&] { return (box = windowOf(connection.get(), start.pid, "Error")) != 0; }, 30s, 20ms);
            // Pressed again only when the box still stands long after: a key that came too early.
            bool answered = false;
            for (int press = 0; box && !answered && press < 3; ++press) {
                pressKey(connection.get(), box, XK_Return);
                answered = WaitUntil([&] { return windowOf(connection.get(), start.pid, "Error") == 0; }, 10s, 20ms);
            }
            const int status = WaitForExit(start.pid, 10000);
            StopChild(start.pid);

            ASSERT_NE(box, 0u) << "no error box showed";
            ASSERT_TRUE(answered) << "the box did not take the key";
            EXPECT_EQ(status, 1) << "-1: still running 10 s after its box was answered";
        }
    }
}
