#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "Runnable.h"
#include "core/TrIniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

juce::String cut(const char* commandLine)
{
    return JuceUtils::cutProcessSerialNumberFromCommandLine(commandLine);
}

Tr::TIniFile iniWithPosition(int left, int top)
{
    Tr::TIniFile ini("/nonexistent/settings.vzrs");
    ini.WriteInteger("Current", "MainLeft", left);
    ini.WriteInteger("Current", "MainTop", top);
    return ini;
}

class RecordingRunnable : public Runnable
{
public:
    struct Run
    {
        void* data;
        int code;
        bool onMessageThread;
    };

    void run(void* data, int code) override
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FRuns.push_back({data, code, juce::MessageManager::getInstance()->isThisTheMessageThread()});
    }
    std::vector<Run> runs()
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        return FRuns;
    }

private:
    std::mutex FMutex;
    std::vector<Run> FRuns;
};

} // namespace

TEST(JuceUtils, CutsTheProcessSerialNumberArgument)
{
    EXPECT_EQ(cut("-psn_0_1234567"), "") << "the argument alone, as on a start from the desktop";
    EXPECT_EQ(cut("a.syx -psn_0_1234567"), "a.syx");
    EXPECT_EQ(cut("-psn_0_1234567 a.syx"), " a.syx") << "the blank before the rest stays";
    EXPECT_EQ(cut("a.syx -psn_0_12 b.syx"), "a.syx b.syx");
    EXPECT_EQ(cut("a.syx b.syx"), "a.syx b.syx");
    EXPECT_EQ(cut(""), "");
    EXPECT_EQ(cut("songs/pens.syx -psn_0_1"), "songs/pens.syx") << "letters of the marker elsewhere do not count";
    EXPECT_EQ(cut("my-psn.syx"), "my-psn.syx") << "the marker counts only where an argument begins";
}

TEST(JuceUtils, ButtonNamesAndTextConversion)
{
    EXPECT_EQ(JU_getButtonNameForCode(JuceUtils::cancelAll), "cancel all");
    EXPECT_EQ(JU_getButtonNameForCode((JuceUtils::DialogReturnCode)6), "") << "no name for an unknown code";
    EXPECT_EQ(StringFrom(JuceStringFrom("Gerät Ö")), "Gerät Ö") << "texts cross the boundary as UTF-8";
}

TEST(JuceUtils, ResourcesLieInOneFolderBesideTheExecutablesFolder)
{
    juce::ScopedJuceInitialiser_GUI gui;
    const juce::File folder = JuceUtils::getResourcesFolder();
    EXPECT_EQ(folder, juce::File(QUORVA_BINARY_DIR "/share/quorva-midi2"))
        << "the build tree's resources folder serves the program in build/src and the tests in build/tests";
    EXPECT_TRUE(folder.getChildFile("background.png").existsAsFile()) << "the build copies the resources there";

    const auto picture = JuceUtils::getDrawable("background.png");
    ASSERT_NE(picture, nullptr);
    const auto bounds = picture->getDrawableBounds();
    // The editor panel's widgets reach x 485 and y 604; the bottom-line notice ends 7 pixels
    // before the panel's right edge.
    EXPECT_GE(bounds.getWidth(), 492.0f);
    EXPECT_GE(bounds.getHeight(), 605.0f);
    EXPECT_EQ(JuceUtils::getDrawable("no such picture.png"), nullptr);
}

TEST(JuceUtils, WindowPositionKeepsAThirdOnTheMonitor)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    const auto* monitor = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
    ASSERT_NE(monitor, nullptr);
    const juce::Rectangle<int> area = monitor->userArea;
    const int w = 301, h = 200;   // a third of the width is 100
    juce::Component window;

    auto place = [&](Tr::TIniFile ini) {
        JuceUtils::loadWindowPosFromIni(&window, ini, w, h);
        return window.getBounds();
    };

    Tr::TIniFile empty("/nonexistent/settings.vzrs");
    EXPECT_EQ(place(empty), juce::Rectangle<int>(area.getX() + area.getWidth() / 2 - w / 2,
                                                 area.getY() + area.getHeight() / 2 - h / 2, w, h))
        << "no position: centred on the work area";

    EXPECT_EQ(place(iniWithPosition(area.getX() + 40, area.getY() + 50)).getPosition(),
              juce::Point<int>(area.getX() + 40, area.getY() + 50));
    EXPECT_EQ(place(iniWithPosition(area.getX() - 100, area.getY() - 66)).getPosition(),
              juce::Point<int>(area.getX() - 100, area.getY() - 66))
        << "exactly a third on the area is kept as read";
    EXPECT_EQ(place(iniWithPosition(area.getX() - 101, area.getY() - 67)).getPosition(),
              juce::Point<int>(area.getX(), area.getY()))
        << "less than a third on the area: to the left and top edges";
    EXPECT_EQ(place(iniWithPosition(area.getRight() - 100, area.getBottom() - 66)).getPosition(),
              juce::Point<int>(area.getRight() - 100, area.getBottom() - 66));
    EXPECT_EQ(place(iniWithPosition(area.getRight() - 99, area.getBottom() - 65)).getPosition(),
              juce::Point<int>(area.getRight() - w, area.getBottom() - h))
        << "less than a third on the area: to the right and bottom edges";
    EXPECT_EQ(place(iniWithPosition(-5000, 90000)).getPosition(), juce::Point<int>(area.getX(), area.getBottom() - h));

    // A negative size means the window's current one.
    window.setSize(120, 80);
    Tr::TIniFile centred("/nonexistent/settings.vzrs");
    JuceUtils::loadWindowPosFromIni(&window, centred, -1, -1);
    EXPECT_EQ(window.getBounds(), juce::Rectangle<int>(area.getX() + area.getWidth() / 2 - 60,
                                                       area.getY() + area.getHeight() / 2 - 40, 120, 80));
}

TEST(JuceUtils, WindowPositionIsSavedWithOrWithoutTheSize)
{
    juce::ScopedJuceInitialiser_GUI gui;
    juce::Component window;
    juce::Component child;
    window.addChildComponent(child);
    window.setBounds(33, 44, 500, 612);

    Tr::TIniFile ini("/nonexistent/settings.vzrs");
    JuceUtils::saveWindowPosToIni(&child, ini);
    EXPECT_EQ(ini.ReadString("Current", "MainLeft", "?"), "33") << "the top-level component's position";
    EXPECT_EQ(ini.ReadString("Current", "MainTop", "?"), "44");
    EXPECT_FALSE(ini.ValueExists("Current", "MainWidth"));
    EXPECT_FALSE(ini.ValueExists("Current", "MainHeight"));

    JuceUtils::saveWindowPosSizeToIni(&child, ini, true);
    EXPECT_EQ(ini.ReadInteger("Current", "MainWidth", 0), 500);
    EXPECT_EQ(ini.ReadInteger("Current", "MainHeight", 0), 612);
}

TEST(JuceUtils, CentringTruncatesHalvesTowardZero)
{
    juce::ScopedJuceInitialiser_GUI gui;
    juce::Component c, other;
    c.setSize(10, 6);
    other.setBounds(100, 200, 51, 41);
    JuceUtils::center(&c, &other, 20, -1);
    EXPECT_EQ(c.getBounds(), juce::Rectangle<int>(115, 217, 20, 6)) << "a negative height keeps the current one";
    JuceUtils::centerHorizontally(&c, 9, 0, -31);   // -31 / 2 is -15
    EXPECT_EQ(c.getBounds(), juce::Rectangle<int>(-25, 9, 20, 6));
}

TEST(JuceUtils, InvokeLaterRunsOnTheMessageThreadOncePerCall)
{
    juce::ScopedJuceInitialiser_GUI gui;
    RecordingRunnable runnable;
    int marker = 0;

    JuceUtils::invokeLater(&runnable);
    JuceUtils::invokeLater(&runnable);
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            JuceUtils::invokeLater(&runnable, &marker, 10 + i);
    });
    worker.join();
    EXPECT_TRUE(runnable.runs().empty()) << "nothing runs before the message loop does";

    pumpMessages(3000, [&] { return runnable.runs().size() >= 5; });
    pumpMessages(100);
    const auto runs = runnable.runs();
    ASSERT_EQ(runs.size(), 5u) << "calls are never merged";
    EXPECT_EQ(runs[0].data, nullptr);
    EXPECT_EQ(runs[0].code, 0);
    std::vector<int> codes;
    for (const auto& r : runs) {
        EXPECT_TRUE(r.onMessageThread);
        if (r.data == &marker)
            codes.push_back(r.code);
    }
    EXPECT_EQ(codes, (std::vector<int>{10, 11, 12}));
}

TEST(JuceUtils, MessageBoxes)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    {
        ModalBoxAnswers answers({"Yes", "No", "Cancel"});
        unsigned char cancelled = 7;
        EXPECT_TRUE(JuceUtils::Confirm("Save the changes?", &cancelled));
        EXPECT_EQ(cancelled, 0);
        cancelled = 7;
        EXPECT_FALSE(JuceUtils::Confirm("Save the changes?", &cancelled));
        EXPECT_EQ(cancelled, 0);
        EXPECT_FALSE(JuceUtils::Confirm("Save the changes?", &cancelled));
        EXPECT_EQ(cancelled, 1);
        ASSERT_EQ(answers.boxes().size(), 3u);
        EXPECT_EQ(answers.boxes()[0].title, "Confirm");
        EXPECT_EQ(answers.boxes()[0].message, "Save the changes?");
        EXPECT_EQ(answers.boxes()[0].buttons, juce::StringArray({"Yes", "No", "Cancel"}));
    }
    {
        ModalBoxAnswers answers({"OK", "OK"});
        JuceUtils::ErrorDlg("It failed.");
        JuceUtils::FYI("Done.");
        ASSERT_EQ(answers.boxes().size(), 2u);
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message, "It failed.");
        EXPECT_EQ(answers.boxes()[1].title, "Information");
        EXPECT_EQ(answers.boxes()[1].message, "Done.");
    }
}

TEST(JuceUtils, QuestionWithToAllButtonsFromAnotherThread)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    ModalBoxAnswers answers({"yes to all", "cancel all", "no", "cancel"});
    std::vector<JuceUtils::DialogReturnCode> results;
    std::atomic<bool> done{false};
    // The question is asked from a worker; the box runs on the message thread, which this
    // thread keeps pumping.
    std::thread worker([&] {
        results.push_back(JuceUtils::Confirm("Overwrite a.syx?", 1, 0, 1));
        results.push_back(JuceUtils::Confirm("Overwrite b.syx?", 1, 0, 1));
        results.push_back(JuceUtils::Confirm("Overwrite c.syx?", 1, 0, 1));
        results.push_back(JuceUtils::Confirm("Overwrite d.syx?", 0, 0, 0));
        done = true;
    });
    pumpMessages(20000, [&] { return done.load(); });
    worker.join();

    EXPECT_EQ(results, (std::vector<JuceUtils::DialogReturnCode>{JuceUtils::yesToAll, JuceUtils::cancelAll,
                                                                 JuceUtils::no, JuceUtils::cancel}));
    ASSERT_EQ(answers.boxes().size(), 4u);
    EXPECT_EQ(answers.boxes()[0].title, "Confirm");
    EXPECT_EQ(answers.boxes()[0].message, "Overwrite a.syx?");
    EXPECT_EQ(answers.boxes()[0].buttons, juce::StringArray({"yes", "no", "yes to all", "cancel all", "cancel"}));
    EXPECT_EQ(answers.boxes()[3].buttons, juce::StringArray({"yes", "no", "cancel"}));
}
