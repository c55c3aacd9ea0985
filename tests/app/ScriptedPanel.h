// A content panel and a window for frame tests: the panel does what its script says and logs
// every call the frame makes, with whether the window was showing at the time; and a fixture that
// opens such a window.
#pragma once

#include "BContentBase.h"
#include "BWindow.h"
#include "GuiTestSupport.h"
#include "core/TrException.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct PanelScript
{
    bool throwInConstructor = false;
    std::string throwInInit;          // a Tr::Exception text, or "" for none
    bool initResult = true;
    bool canQuit = true;
    int preferredWidth = 420;         // set by init
    int preferredHeight = 310;
    std::function<void()> onStart;    // runs inside start()
};

struct PanelLog
{
    std::vector<std::string> calls;   // "createComponents", "init:<command line>", "start", ...
    bool visibleAtStart = false;
    bool destroyed = false;

    int count(const std::string& call) const
    {
        int n = 0;
        for (const auto& c : calls)
            n += c == call;
        return n;
    }
};

class ScriptedPanel : public BContentBase
{
public:
    ScriptedPanel(const PanelScript& script, PanelLog& log) : FScript(script), FLog(log)
    {
        if (FScript.throwInConstructor)
            throw Tr::Exception("the panel could not be made");
    }
    ~ScriptedPanel() override { FLog.destroyed = true; }

    void createComponents() override
    {
        FLog.calls.push_back("createComponents");
        BContentBase::createComponents();
    }
    bool init(const juce::String& commandLine) override
    {
        FLog.calls.push_back("init:" + commandLine.toStdString());
        if (!FScript.throwInInit.empty())
            throw Tr::Exception(FScript.throwInInit);
        preferredWidth = FScript.preferredWidth;
        preferredHeight = FScript.preferredHeight;
        return FScript.initResult;
    }
    void start(bool) override
    {
        FLog.calls.push_back("start");
        FLog.visibleAtStart = getTopLevelComponent()->isShowing();
        if (FScript.onStart)
            FScript.onStart();
    }
    bool canQuit() override
    {
        FLog.calls.push_back("canQuit");
        return FScript.canQuit;
    }
    void close() override { FLog.calls.push_back(FLog.destroyed ? "close after delete" : "close"); }
    void enableButtons() override { FLog.calls.push_back("enableButtons"); }
    bool showWindowOnStart() override
    {
        FLog.calls.push_back("showWindowOnStart");
        return true;
    }

private:
    PanelScript FScript;
    PanelLog& FLog;
};

class ScriptedWindow : public BWindow
{
public:
    ScriptedWindow(const PanelScript& script, PanelLog& log) : BWindow("Test window"), FScript(script), FLog(log) {}

protected:
    std::unique_ptr<BContentBase> createContentPanel() override
    {
        return std::make_unique<ScriptedPanel>(FScript, FLog);
    }

private:
    PanelScript FScript;
    PanelLog& FLog;
};

// A display, the toolkit, and a scripted window made on request; the window goes first at the end.
class ScriptedWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QUORVA_OPEN_DISPLAY(display);
        gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }
    void TearDown() override
    {
        window.reset();
        gui.reset();
    }

    // Makes the window with the current script and sets it up with that command line.
    ScriptedWindow& openWindow(const juce::String& commandLine = "")
    {
        window = std::make_unique<ScriptedWindow>(script, log);
        window->init(commandLine, false, false);
        return *window;
    }
    void waitForStart()
    {
        pumpMessages(2000, [this] { return log.count("start") > 0; });
    }

    std::unique_ptr<DisplayConnection> display;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui;
    PanelScript script;
    PanelLog log;
    std::unique_ptr<ScriptedWindow> window;
};
