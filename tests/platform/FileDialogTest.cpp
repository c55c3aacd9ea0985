#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <dlfcn.h>
#include <functional>

namespace {

// JUCE reads window-manager properties through atoms it only looks up, never creates; on a bare
// X server without a window manager (Xvfb in the test scripts) they do not exist and the first
// window ends the process with BadAtom. This creates them, and keeps its connection open while
// it lives, since the server forgets its atoms when its last client leaves.
class WindowManagerAtoms
{
public:
    WindowManagerAtoms()
    {
        FX11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!FX11)
            return;
        auto open = (void* (*)(const char*))dlsym(FX11, "XOpenDisplay");
        auto intern = (unsigned long (*)(void*, const char*, int))dlsym(FX11, "XInternAtom");
        FClose = (int (*)(void*))dlsym(FX11, "XCloseDisplay");
        if (!open || !intern || !FClose || !(FDisplay = open(nullptr)))
            return;
        for (const char* name : {"WM_STATE", "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW",
                                 "WM_CHANGE_STATE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                                 "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_PING"})
            intern(FDisplay, name, 0);
    }
    ~WindowManagerAtoms()
    {
        if (FDisplay)
            FClose(FDisplay);
        if (FX11)
            dlclose(FX11);
    }
    WindowManagerAtoms(const WindowManagerAtoms&) = delete;
    WindowManagerAtoms& operator=(const WindowManagerAtoms&) = delete;

private:
    void* FX11 = nullptr;
    void* FDisplay = nullptr;
    int (*FClose)(void*) = nullptr;
};

// Waits on the message thread for the modal file box and lets `answer` act on it the way a
// user would.
class ModalAnswer : private juce::Timer
{
public:
    explicit ModalAnswer(std::function<void(juce::FileChooserDialogBox&, juce::FileBrowserComponent&)> answer)
        : FAnswer(std::move(answer))
    {
        startTimer(20);
    }
    ~ModalAnswer() override { stopTimer(); }

    bool answered() const { return FAnswered; }

private:
    void timerCallback() override
    {
        auto* box = dynamic_cast<juce::FileChooserDialogBox*>(juce::Component::getCurrentlyModalComponent());
        if (!box)
            return;
        auto* browser = findBrowser(*box);
        if (!browser)
            return;
        stopTimer();
        FAnswered = true;
        FAnswer(*box, *browser);
    }

    static juce::FileBrowserComponent* findBrowser(juce::Component& c)
    {
        if (auto* b = dynamic_cast<juce::FileBrowserComponent*>(&c))
            return b;
        for (auto* child : c.getChildren())
            if (auto* b = findBrowser(*child))
                return b;
        return nullptr;
    }

    std::function<void(juce::FileChooserDialogBox&, juce::FileBrowserComponent&)> FAnswer;
    bool FAnswered = false;
};

} // namespace

TEST(FileDialog, ReturnsTheChosenPathOrNothing)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test scripts run under xvfb-run)";
    WindowManagerAtoms atoms;
    juce::ScopedJuceInitialiser_GUI gui;
    TempFolder dir;
    TempFolder::writeFile(dir / "old.syx", "x");

    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_TRUE(browser.isSaveMode());
            EXPECT_EQ(box.getName(), "Save settings");
            browser.setFileName("new.syx");
            box.exitModalState(1);
        });
        const std::string chosen = Tr::askUserForFileDialog("Save settings", "Choose a file", "*.syx",
                                                            "Settings files", dir.path(), true);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, dir / "new.syx");
    }
    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_FALSE(browser.isSaveMode());
            box.exitModalState(0);
        });
        const std::string chosen = Tr::askUserForFileDialog("Open settings", "Choose a file", "*.syx",
                                                            "Settings files", dir / "old.syx", false);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, "") << "a cancelled box gives the empty text";
    }
    {
        ModalAnswer answer([](juce::FileChooserDialogBox& box, juce::FileBrowserComponent& browser) {
            EXPECT_EQ(browser.getRoot().getFullPathName(), "/tmp");
            box.exitModalState(1);
        });
        const std::string chosen = Tr::askUserForFileDialog("Open", "", "", "", "/tmp/old-file-that-is-not-there.syx", false);
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(chosen, "/tmp/old-file-that-is-not-there.syx") << "a confirmed box gives the name in its file box";
    }
}
