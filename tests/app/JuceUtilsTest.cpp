#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "Runnable.h"
#include "core/FifoRescue.h"
#include "core/TempFolder.h"
#include "core/TrIniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

TEST(JuceUtils, CutsTheProcessSerialNumberArgument)
{
    const std::pair<const char*, const char*> cases[] = {
        {"-psn_0_1234567", ""},                           // alone, as on a start from the desktop
        {"a.syx -psn_0_1234567", "a.syx"},
        {"-psn_0_1234567 a.syx", " a.syx"},               // the blank before the rest stays
        {"a.syx -psn_0_12 b.syx", "a.syx b.syx"},
        {"a.syx b.syx", "a.syx b.syx"},
        {"", ""},
        {"songs/pens.syx -psn_0_1", "songs/pens.syx"},    // the marker's letters elsewhere do not count
        {"my-psn.syx", "my-psn.syx"},                     // the marker counts only where an argument begins
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(JuceUtils::cutProcessSerialNumberFromCommandLine(line), juce::String(expected)) << "'" << line << "'";
    EXPECT_EQ(StringFrom(JuceStringFrom("Gerät Ö")), "Gerät Ö") << "texts cross the boundary as UTF-8";
}

TEST(JuceUtils, AResourceThatIsNoFileIsNeitherWaitedForNorRead)
{
    // The checkout's resources folder, three levels above the working folder, holds a pipe.
    TempFolder dir;
    std::filesystem::create_directories(dir / "a/b/c");
    std::filesystem::create_directories(dir / "resources");
    ASSERT_EQ(mkfifo((dir / "resources/piped.png").c_str(), 0600), 0);
    std::unique_ptr<juce::Drawable> picture;
    bool waited = false;
    {
        ScopedCwd cwd(dir / "a/b/c");
        ASSERT_TRUE(cwd.entered());
        FifoRescue rescue(dir / "resources/piped.png");
        picture = JuceUtils::getDrawable("piped.png");
        waited = rescue.steppedIn();
    }
    EXPECT_FALSE(waited) << "the pipe held the read";
    EXPECT_EQ(picture, nullptr);
}

TEST(JuceUtils, WindowPositionIsReadKeepingAThirdOnTheMonitorAndSaved)
{
    QUORVA_REQUIRE_DISPLAY(display);
    juce::ScopedJuceInitialiser_GUI gui;
    ASSERT_NE(juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr);
    const juce::Rectangle<int> a = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    const int w = 301, h = 200;   // a third is 100 wide and 66 high
    juce::Component window;
    auto place = [&](std::optional<juce::Point<int>> read, int width, int height) {
        Tr::TIniFile ini("/nonexistent/settings.vzrs");
        if (read) {
            ini.WriteInteger("Current", "MainLeft", read->x);
            ini.WriteInteger("Current", "MainTop", read->y);
        }
        JuceUtils::loadWindowPosFromIni(&window, ini, width, height);
        return window.getBounds();
    };
    EXPECT_EQ(place({}, w, h), juce::Rectangle<int>(a.getX() + a.getWidth() / 2 - w / 2, a.getY() + a.getHeight() / 2 - h / 2, w, h))
        << "no position: centred on the work area";
    const std::tuple<juce::Point<int>, juce::Point<int>, const char*> cases[] = {   // read, placed, why
        {{a.getX() + 40, a.getY() + 50}, {a.getX() + 40, a.getY() + 50}, "on the area"},
        {{a.getX() - 100, a.getY() - 66}, {a.getX() - 100, a.getY() - 66}, "exactly a third on the area"},
        {{a.getX() - 101, a.getY() - 67}, a.getPosition(), "less than a third: to the left and top edges"},
        {{a.getRight() - 100, a.getBottom() - 66}, {a.getRight() - 100, a.getBottom() - 66}, "a third, right and bottom"},
        {{a.getRight() - 99, a.getBottom() - 65}, {a.getRight() - w, a.getBottom() - h}, "to the right and bottom edges"},
        {{-5000, 90000}, {a.getX(), a.getBottom() - h}, "far off"},
    };
    for (const auto& [read, placed, why] : cases)
        EXPECT_EQ(place(read, w, h).getPosition(), placed) << why;
    window.setSize(120, 80);
    EXPECT_EQ(place({}, -1, -1), juce::Rectangle<int>(a.getX() + a.getWidth() / 2 - 60, a.getY() + a.getHeight() / 2 - 40, 120, 80))
        << "a negative size means the window's current one";

    // Saved: the top-level component's position, without the size.
    juce::Component child;
    window.addChildComponent(child);
    window.setBounds(33, 44, 500, 612);
    Tr::TIniFile ini("/nonexistent/settings.vzrs");
    JuceUtils::saveWindowPosToIni(&child, ini);
    EXPECT_EQ(ini.ReadString("Current", "MainLeft", "?") + " " + ini.ReadString("Current", "MainTop", "?"), "33 44");
    EXPECT_FALSE(ini.ValueExists("Current", "MainWidth") || ini.ValueExists("Current", "MainHeight"));
}

TEST(JuceUtils, InvokeLaterRunsOnTheMessageThreadOncePerCall)
{
    struct Recorder : Runnable
    {
        void run(void* data, int code) override
        {
            const std::lock_guard<std::mutex> lock(mutex);   // for runs off the message thread, if invokeLater is wrong
            runs.push_back({data, code, juce::MessageManager::getInstance()->isThisTheMessageThread()});
        }
        std::mutex mutex;
        std::vector<std::tuple<void*, int, bool>> runs;   // data, code, on the message thread
    } recorder;
    juce::ScopedJuceInitialiser_GUI gui;
    int marker = 0;

    JuceUtils::invokeLater(&recorder);
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            JuceUtils::invokeLater(&recorder, &marker, 10 + i);
    }).join();
    EXPECT_TRUE(recorder.runs.empty()) << "nothing runs before the message loop does";

    pumpMessages(3000, [&] { return recorder.runs.size() >= 4; });
    pumpMessages(100);
    EXPECT_EQ(recorder.runs, (std::vector<std::tuple<void*, int, bool>>{
                                 {nullptr, 0, true}, {&marker, 10, true}, {&marker, 11, true}, {&marker, 12, true}}))
        << "each call runs once, in order, on the message thread";
}
