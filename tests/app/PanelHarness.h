// Fixtures for widgets in real windows. WindowTest holds the display, the toolkit and a main window
// around the panel the test makes. ScriptedMidiTest adds the MIDI library on the scripted back end;
// its singletons exist once per process, so ctest runs every TEST in a process of its own.
// PanelTest starts the editor panel the way the program does: the window's init (panel, widgets,
// settings ini), the window shown, then the panel's start, with HOME at a fresh folder.
#pragma once

#include "BWindow.h"
#include "GuiTestSupport.h"
#include "JuceUtils.h"
#include "QuorvaContentPanel.h"
#include "SettingsBytes.h"
#include "core/TrAutoDelete.h"
#include "core/TrFiles.h"
#include "midi/MidiManager.h"
#include "midi/TestMidiFactory.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

// What the program starts with when there is no last file.
inline Bytes defaultSettings()
{
    return readBytes(JuceUtils::getResourcesFolder().getChildFile("defaults.syx").getFullPathName().toStdString());
}

struct TestWindow : BWindow
{
    using MakePanel = std::function<std::unique_ptr<BContentBase>()>;
    explicit TestWindow(MakePanel make) : BWindow("Quorva MIDI 2"), makePanel(std::move(make)) {}
    std::unique_ptr<BContentBase> createContentPanel() override { return makePanel(); }
    MakePanel makePanel;
};

class WindowTest : public ::testing::Test
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
    // Makes the window and sets it up; the panel's start follows on the message loop.
    void openWindow(TestWindow::MakePanel make, const juce::String& commandLine = "")
    {
        window = std::make_unique<TestWindow>(std::move(make));
        window->init(commandLine, false, false);
    }
    bool waitForStart(int ms)
    {
        pumpMessages(ms, [this] { return starts > 0; });
        return starts > 0;
    }

    std::unique_ptr<DisplayConnection> display;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui;
    std::unique_ptr<BWindow> window;
    int starts = 0;   // the panel's start calls, counted by the test's panel
};

// The editor panel as the program makes it, looking for "defaults.syx" where the test says.
struct EditorPanel : QuorvaContentPanel
{
    EditorPanel(juce::File folder, int& startCount) : resources(std::move(folder)), starts(startCount) {}
    void start(bool flag) override
    {
        QuorvaContentPanel::start(flag);
        ++starts;
    }
    juce::File resourcesFolder() const override { return resources == juce::File() ? QuorvaContentPanel::resourcesFolder() : resources; }
    juce::File resources;
    int& starts;
};

// The MIDI library on the scripted back end alone, with outputs "Synth A", "Synth B", "Synth C"
// and input "Keys", on a cache clock of the test's own; shut down at the end.
class ScriptedMidiTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        static bool used = false;
        ASSERT_FALSE(std::exchange(used, true)) << "a second MIDI manager in one process: run one test per process (ctest does)";
        TestMidi::ForgetRegisteredBackEnds();   // the machine's own ports would join the scripted ones
        manager = Tr::MidiManager::instance();
        midi = new TestMidi::TestMidiFactory();
        midi->UseManualClock();
        for (const char* name : {"Synth A", "Synth B", "Synth C"})
            synth.push_back(midi->AddPort(0, name));
        midi->AddPort(1, "Keys");
        manager->AddFactory(midi, 1);
    }
    void TearDown() override
    {
        window.reset();
        if (manager)
            Tr::VuskSystem::shutdown();
        WindowTest::TearDown();
    }
    // Lets the manager see what the scripted system now holds.
    void rescan()
    {
        midi->AdvanceClock(2000);
        manager->RefreshDevList(1, 0);
    }

    Tr::MidiManager* manager = nullptr;          // null once the test shut the library down
    TestMidi::TestMidiFactory* midi = nullptr;   // owned by the shutdown registry
    std::vector<int> synth;                      // port ids of Synth A, B, C
};

class PanelTest : public ScriptedMidiTest
{
protected:
    // Sets the window up and waits for the panel's start; `boxes` answers what the start shows.
    std::vector<std::string> start(std::vector<std::string> boxes = {}, const juce::File& resources = {})
    {
        ModalAnswers answers(boxes);
        openWindow([this, resources] { return std::make_unique<EditorPanel>(resources, starts); });
        EXPECT_TRUE(waitForStart(20000)) << "the panel was not started";
        EXPECT_EQ(answers.pending(), 0u) << "boxes expected at the start were not shown";
        return answers.seen();
    }

    QuorvaContentPanel& panel()
    {
        if (auto* p = dynamic_cast<QuorvaContentPanel*>(window ? window->getContentPanel() : nullptr))
            return *p;
        throw std::runtime_error("no editor panel");
    }
    template <typename Widget>
    Widget& widget(const juce::String& id)
    {
        if (auto* w = dynamic_cast<Widget*>(panel().findChildWithID(id)))
            return *w;
        throw std::runtime_error("no widget " + id.toStdString());
    }
    juce::ComboBox& combo(const juce::String& id) { return widget<juce::ComboBox>(id); }
    juce::TextButton& button(const juce::String& id) { return widget<juce::TextButton>(id); }
    juce::ComboBox& step(int s) { return combo("stepCombo" + juce::String(s + 1)); }
    // Picks the item with that text as from the opened list: the change handler runs at once.
    void pick(const juce::String& comboId, const juce::String& itemText)
    {
        juce::ComboBox& box = combo(comboId);
        int index = 0;
        while (index < box.getNumItems() && box.getItemText(index) != itemText)
            ++index;
        ASSERT_LT(index, box.getNumItems()) << comboId << " has no item \"" << itemText << "\"";
        box.setSelectedItemIndex(index, juce::sendNotificationSync);
    }
    // Clicks the button and returns once the panel has handled the click (modal boxes included):
    // onClick runs after the button's listeners, so after the panel's handler.
    void click(const juce::String& buttonId)
    {
        juce::TextButton& b = button(buttonId);
        ASSERT_TRUE(b.isEnabled()) << buttonId << " is disabled";
        bool handled = false;
        b.onClick = [&handled] { handled = true; };
        b.triggerClick();
        pumpMessages(60000, [&handled] { return handled; });
        b.onClick = nullptr;
        ASSERT_TRUE(handled) << "the click on " << buttonId << " was not handled";
    }
    void drop(const std::string& path) { panel().filesDropped(juce::StringArray(juce::String(path)), 1, 1); }

    Bytes message() { return savedBy(panel().getSettings()); }   // what SAVE writes and SEND sends now
    std::string title() { return window->getName().toStdString(); }

    // No ini lies beside the test program, so the panel uses the one in the settings folder.
    std::string iniPath() const { return home.folder() / ".Quorva Tindral/test_app.vzrs"; }
    void writeIni(const std::string& text)
    {
        Tr::ForceDirectories(Tr::ExtractFileDir(iniPath()));
        TempFolder::writeFile(iniPath(), text);
    }
    std::string documentsDir() const { return home.folder() / "Documents/Quorva MIDI 2"; }
    std::string writeFile(const std::string& name, const Bytes& bytes) const
    {
        TempFolder::writeFile(files / name, std::string(bytes.begin(), bytes.end()));
        return files / name;
    }

    ScopedHome home;
    TempFolder files;   // the test's own .syx files
};
