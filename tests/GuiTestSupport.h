// Support for tests that open real windows (the test scripts run them under xvfb-run): the display,
// the message pump, a HOME of the test's own, pictures of a window, and the answers a user gives
// to modal boxes and file questions.
#pragma once

#include "core/TempFolder.h"
#include "platform/DisplayConnection.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Skips the test when DISPLAY is not set: for a test whose windows open in another process, where
// a skip would not reach the test.
#define QUORVA_SKIP_WITHOUT_DISPLAY()                                                            \
    if (!std::getenv("DISPLAY"))                                                                 \
        GTEST_SKIP() << "needs an X display (the test scripts run the tests under xvfb-run)"

// Opens the display (creating the window-manager atoms a bare X server lacks) into `target`, a
// std::unique_ptr<DisplayConnection>. Skips the test when DISPLAY is not set; fails it when the
// display named there cannot be opened.
#define QUORVA_OPEN_DISPLAY(target)                                                              \
    QUORVA_SKIP_WITHOUT_DISPLAY();                                                               \
    target = openTestDisplay();                                                                  \
    if (!target)                                                                                 \
    FAIL() << "cannot open the X display " << std::getenv("DISPLAY")

#define QUORVA_REQUIRE_DISPLAY(var)                                                              \
    std::unique_ptr<DisplayConnection> var;                                                      \
    QUORVA_OPEN_DISPLAY(var)

// A bare X server resets itself when its last client leaves, and refuses connections while it
// does; the previous test program may just have left. The toolkit installs its forgiving X error
// handler only inside an application object, which a test program has none of; Xlib's own handler
// ends the process on the first error, which a box closing while the toolkit still asks about it
// gives: such errors are ignored, as the program does.
inline std::unique_ptr<DisplayConnection> openTestDisplay()
{
    using Handler = int (*)(void*, void*);
    if (void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE))
        if (auto set = (Handler(*)(Handler))dlsym(x11, "XSetErrorHandler"))
            set([](void*, void*) { return 0; });
    for (int attempt = 0; attempt < 50; ++attempt, juce::Thread::sleep(100))
        if (auto display = std::make_unique<DisplayConnection>(); display->isOpen())
            return display;
    return nullptr;
}

// Runs the message loop for about ms milliseconds (at least once, however late this thread gets
// to run), or until done() holds.
inline void pumpMessages(int ms, const std::function<bool()>& done = nullptr)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)ms;
    do {
        if (done && done())
            return;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    } while (juce::Time::getMillisecondCounter() < end);
}

// Texts a test expects or scripts: the parts of a file, the boxes shown, the answers to them.
using Texts = std::vector<std::string>;

// Each part is somewhere in text (a settings ini, a program's output).
inline void expectContains(const std::string& text, const Texts& parts)
{
    for (const std::string& part : parts)
        EXPECT_NE(text.find(part), std::string::npos) << "no '" << part << "' in:\n" << text;
}

inline bool quitRequested() { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }

// Leaves a picture of the component in the build folder, for a look at the layout.
inline void saveScreenshot(juce::Component& c, const std::string& name)
{
    pumpMessages(200);
    const juce::File file(juce::String(QUORVA_BINARY_DIR) + "/" + name);
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(out.openedOk()) << name;
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(c.createComponentSnapshot(c.getLocalBounds()), out)) << name;
}

// HOME points at a fresh folder for as long as this lives, so the settings ini and the documents
// folder are the test's own.
class ScopedHome
{
public:
    ScopedHome() : FOld(std::getenv("HOME") ? std::getenv("HOME") : "") { setenv("HOME", FHome.path().c_str(), 1); }
    ~ScopedHome() { FOld.empty() ? unsetenv("HOME") : setenv("HOME", FOld.c_str(), 1); }
    const TempFolder& folder() const { return FHome; }

private:
    TempFolder FHome;
    std::string FOld;
};

inline juce::FileBrowserComponent* findFileBrowser(juce::Component& c)
{
    if (auto* b = dynamic_cast<juce::FileBrowserComponent*>(&c))
        return b;
    for (auto* child : c.getChildren())
        if (auto* b = findFileBrowser(*child))
            return b;
    return nullptr;
}

// Answers modal boxes as a user would, from a timer on the message thread (timers run inside a
// box's modal loop), each with the next scripted answer: an alert box by pressing the button with
// that text, a file question (Tr::askUserForFileDialog) by typing that full path into it and
// confirming, or cancelling for "". Each box is recorded, an alert box as "<title>: <message>", a
// file question as "<title> (save|open) at <folder>". A box beyond the script, or without the
// scripted button, fails the test and is closed as cancelled, so that a test never hangs on it.
class ModalAnswers : private juce::Timer
{
public:
    // holdMs: how long each box stays up before it is answered.
    explicit ModalAnswers(std::vector<std::string> answers = {}, int holdMs = 0)
        : FAnswers(std::move(answers)), FHoldMs(holdMs)
    {
        startTimer(15);
    }
    ~ModalAnswers() override { stopTimer(); }
    const std::vector<std::string>& seen() const { return FSeen; }
    std::size_t pending() const { return FAnswers.size() - FNext; }   // scripted answers not used yet
    std::function<void(juce::Component& box)> inspect;                 // looks at each box before its answer

private:
    void timerCallback() override
    {
        juce::Component* box = juce::Component::getCurrentlyModalComponent();
        if (!box || box == FLast.getComponent())
            return;
        if (box != FWaiting.getComponent()) {
            FWaiting = box;
            FSeenAt = juce::Time::getMillisecondCounter();
        }
        if ((int)(juce::Time::getMillisecondCounter() - FSeenAt) < FHoldMs)
            return;
        FLast = box;
        if (inspect)
            inspect(*box);
        const bool scripted = FNext < FAnswers.size();
        const juce::String answer(scripted ? FAnswers[FNext] : "");
        juce::FileBrowserComponent* browser = findFileBrowser(*box);
        if (auto* alert = dynamic_cast<juce::AlertWindow*>(box)) {
            // The box keeps its message only in its accessible description, "<title>. <message>".
            const juce::String message = alert->getDescription().fromFirstOccurrenceOf(box->getName() + ". ", false, false);
            FSeen.push_back((box->getName() + ": " + message).toStdString());
            juce::StringArray buttons;
            for (auto* child : box->getChildren())
                if (auto* button = dynamic_cast<juce::Button*>(child))
                    buttons.add(button->getButtonText());
            if (scripted && buttons.contains(answer)) {
                ++FNext;
                return alert->triggerButtonClick(answer);
            }
        } else if (browser) {
            const juce::String mode = browser->isSaveMode() ? " (save) at " : " (open) at ";
            FSeen.push_back((box->getName() + mode + browser->getRoot().getFullPathName()).toStdString());
            if (scripted) {
                ++FNext;
                browser->setFileName(answer);
                return box->exitModalState(answer.isEmpty() ? 0 : 1);
            }
        } else {
            FSeen.push_back(box->getName().toStdString());
        }
        ADD_FAILURE() << "unexpected box \"" << FSeen.back() << "\" (next answer \"" << answer << "\")";
        box->exitModalState(0);
    }

    std::vector<std::string> FAnswers;
    std::size_t FNext = 0;
    int FHoldMs;
    juce::uint32 FSeenAt = 0;
    juce::Component::SafePointer<juce::Component> FWaiting, FLast;
    std::vector<std::string> FSeen;
};

// Runs `action` with the modal boxes it shows answered from `answers` as ModalAnswers does, and
// returns the boxes seen.
inline std::vector<std::string> answering(std::vector<std::string> answers, const std::function<void()>& action)
{
    ModalAnswers boxes(std::move(answers));
    action();
    return boxes.seen();
}
