// Support for tests that open real windows (run under xvfb-run by the test scripts).
//
//   TEST(Thing, Works)
//   {
//       QUORVA_REQUIRE_DISPLAY(display);         // skips the test when there is no X display
//       juce::ScopedJuceInitialiser_GUI gui;
//       ModalBoxAnswers answers({"No", "OK"});   // presses "No" in the first box, "OK" in the next
//       ...code that shows modal boxes...
//       ASSERT_EQ(answers.boxes().size(), 2u);
//       EXPECT_EQ(answers.boxes()[0].title, "Confirm");
//   }
#pragma once

#include "platform/DisplayConnection.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <vector>

// Opens the display (creating the window-manager atoms a bare X server lacks, see
// DisplayConnection) into `target`, a std::unique_ptr<DisplayConnection>. Skips the test when
// DISPLAY is not set; fails it when the display named there cannot be opened.
#define QUORVA_OPEN_DISPLAY(target)                                                              \
    if (!std::getenv("DISPLAY"))                                                                 \
        GTEST_SKIP() << "needs an X display (the test scripts run the tests under xvfb-run)";    \
    target = openTestDisplay();                                                                  \
    if (!target)                                                                                 \
    FAIL() << "cannot open the X display " << std::getenv("DISPLAY")

// The same into a new local named `var`.
#define QUORVA_REQUIRE_DISPLAY(var)                                                              \
    std::unique_ptr<DisplayConnection> var;                                                      \
    QUORVA_OPEN_DISPLAY(var)

// A bare X server resets itself when its last client leaves, and refuses connections while it
// does; the previous test program may just have left.
// The toolkit installs its forgiving X error handler only inside an application object, which a
// test program has none of; Xlib's own handler ends the process on the first error, and a window
// that closes while the toolkit still asks about it (a dismissed box) gives one. Ignore them as
// the program does.
inline void ignoreXErrorsAsTheProgramDoes()
{
    if (void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        using Handler = int (*)(void*, void*);
        if (auto set = (Handler(*)(Handler))dlsym(x11, "XSetErrorHandler"))
            set([](void*, void*) { return 0; });
    }
}

inline std::unique_ptr<DisplayConnection> openTestDisplay()
{
    ignoreXErrorsAsTheProgramDoes();
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto display = std::make_unique<DisplayConnection>();
        if (display->isOpen())
            return display;
        juce::Thread::sleep(100);
    }
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

// Answers modal alert boxes the way a user would, from a timer on the message thread (timers run
// inside a box's modal loop). Each box is recorded and answered by pressing the button with the
// next scripted text. A box beyond the script, or without the scripted button, fails the test and
// is closed with return value 0 (the cancel/escape button), so that a test never hangs on it.
class ModalBoxAnswers : private juce::Timer
{
public:
    struct Box
    {
        juce::String title;
        juce::String message;
        juce::StringArray buttons;   // in the order they were added
        juce::String pressed;        // "" when closed as unexpected
    };

    // holdMs: how long each box stays up before it is answered.
    explicit ModalBoxAnswers(juce::StringArray answers = {}, int holdMs = 0)
        : FAnswers(std::move(answers)), FHoldMs(holdMs)
    {
        startTimer(15);
    }
    ~ModalBoxAnswers() override { stopTimer(); }
    ModalBoxAnswers(const ModalBoxAnswers&) = delete;
    ModalBoxAnswers& operator=(const ModalBoxAnswers&) = delete;

    const std::vector<Box>& boxes() const { return FBoxes; }
    // Scripted answers not used yet.
    int pending() const { return FAnswers.size() - FNext; }

private:
    void timerCallback() override
    {
        auto* box = dynamic_cast<juce::AlertWindow*>(juce::Component::getCurrentlyModalComponent());
        if (!box || box == FLastBox.getComponent())
            return;
        const auto now = juce::Time::getMillisecondCounter();
        if (box != FWaiting.getComponent()) {
            FWaiting = box;
            FSeenAt = now;
        }
        if ((int)(now - FSeenAt) < FHoldMs)
            return;
        FLastBox = box;

        Box seen;
        seen.title = box->getName();
        // The box keeps its message only in its accessible description, "<title>. <message>".
        seen.message = box->getDescription().fromFirstOccurrenceOf(seen.title + ". ", false, false);
        for (auto* child : box->getChildren())
            if (auto* button = dynamic_cast<juce::Button*>(child))
                seen.buttons.add(button->getButtonText());

        if (FNext < FAnswers.size() && seen.buttons.contains(FAnswers[FNext])) {
            seen.pressed = FAnswers[FNext++];
            FBoxes.push_back(seen);
            box->triggerButtonClick(seen.pressed);
        } else {
            ADD_FAILURE() << "unexpected box \"" << seen.title << "\": " << seen.message
                          << (FNext < FAnswers.size() ? " (no button \"" + FAnswers[FNext] + "\")" : juce::String());
            FBoxes.push_back(seen);
            box->exitModalState(0);
        }
    }

    juce::StringArray FAnswers;
    int FHoldMs;
    int FNext = 0;
    juce::Component::SafePointer<juce::Component> FWaiting;   // the box being held
    juce::uint32 FSeenAt = 0;
    std::vector<Box> FBoxes;
    juce::Component::SafePointer<juce::Component> FLastBox;   // the box being answered
};
