// The editor panel in a real main window, started the way the program starts it: the window's
// init (panel constructor, widgets, settings ini), the window shown, then the panel's start. The
// MIDI library runs on the scripted test back end, and HOME points at a fresh folder, so the
// settings ini and the documents folder are the test's own.
//
//   TEST(Panel, Something)
//   {
//       QUORVA_REQUIRE_DISPLAY(display);
//       PanelHarness h;                      // or h(setup) for a prepared ini or resources folder
//       h.start();                           // boxes the start shows: h.start({"OK"})
//       h.pick("programTypeCombo", "Different Settings");
//       ModalBoxAnswers answers({"Yes"});
//       h.click("sendButton");
//   }
//
// The MIDI library's singletons exist once per process, so each TEST may start one harness;
// ctest runs every TEST in a process of its own.
#pragma once

#include "BWindow.h"
#include "GuiTestSupport.h"
#include "QuorvaContentPanel.h"
#include "core/TempFolder.h"
#include "midi/TestMidiFactory.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Offsets in the settings message.
inline int blockOf(int program)
{
    return 36 * program - 35;
}
inline int pitchOf(int program, int step)
{
    return blockOf(program) + 2 + 2 * step;
}
inline int settingOf(int program, int step)
{
    return blockOf(program) + 3 + 2 * step;
}

// Answers the modal file question (Tr::askUserForFileDialog) as a user would: each scripted
// answer is a full path to type into the file box and confirm, or "" to cancel. Every question
// is recorded; one beyond the script fails the test and is cancelled.
class FileDialogAnswers : private juce::Timer
{
public:
    struct Question
    {
        juce::String title;
        bool saveMode = false;
        juce::String folder;   // where the question opened
    };

    explicit FileDialogAnswers(std::vector<std::string> answers = {});
    ~FileDialogAnswers() override;
    FileDialogAnswers(const FileDialogAnswers&) = delete;
    FileDialogAnswers& operator=(const FileDialogAnswers&) = delete;

    const std::vector<Question>& questions() const { return FQuestions; }

private:
    void timerCallback() override;

    std::vector<std::string> FAnswers;
    std::size_t FNext = 0;
    std::vector<Question> FQuestions;
    juce::Component::SafePointer<juce::Component> FLast;
};

struct PanelSetup
{
    std::string iniText;            // the settings ini's content before the start; "" for none
    bool ownResources = false;      // look for "defaults.syx" in resources() instead of the build's
    std::vector<std::string> outputs {"Synth A", "Synth B"};   // the machine's MIDI outputs
};

class PanelHarness
{
public:
    explicit PanelHarness(const PanelSetup& setup = PanelSetup());
    ~PanelHarness();
    PanelHarness(const PanelHarness&) = delete;
    PanelHarness& operator=(const PanelHarness&) = delete;

    // Sets the window up and waits for the panel's start; `boxes` answers what the start shows,
    // and the boxes seen are returned.
    std::vector<ModalBoxAnswers::Box> start(juce::StringArray boxes = {});
    bool started() const;
    // The program asked the toolkit to quit.
    static bool quitRequested();

    QuorvaContentPanel& panel();
    BWindow& window();
    TestMidi::TestMidiFactory& midi() { return *FMidi; }
    int outputId(int n) const { return FOutputs.at(static_cast<std::size_t>(n)); }

    juce::ComboBox& combo(const juce::String& id);
    juce::TextButton& button(const juce::String& id);
    juce::ComboBox& step(int s) { return combo("stepCombo" + juce::String(s + 1)); }
    // Picks the item with that text, as the user does (the change handler runs).
    void pick(const juce::String& comboId, const juce::String& itemText);
    void pickStep(int s, const juce::String& itemText) { pick("stepCombo" + juce::String(s + 1), itemText); }
    // Clicks the button and returns once its click has been handled (modal boxes included).
    void click(const juce::String& buttonId);
    juce::StringArray items(const juce::String& comboId);

    Bytes message();   // what SAVE writes and SEND sends now
    juce::String title() { return window().getName(); }

    // Deletes the window as the program does at quit (close, then the panel's destructor).
    void quit();

    // The settings ini as written at quit.
    std::string iniPath() const;
    std::string documentsDir() const { return FHome / "Documents/Quorva MIDI 2"; }
    const TempFolder& home() const { return FHome; }
    // The folder standing in for the resources folder when PanelSetup::ownResources is set.
    const TempFolder& resources() const { return FResources; }
    // A file in a folder of its own for the test.
    const TempFolder& files() const { return FFiles; }

    // Writes `bytes` to a file in files(); returns its path.
    std::string writeFile(const std::string& name, const Bytes& bytes) const;
    static Bytes defaults();
    static Bytes readBytes(const std::string& path);

    // Saves a picture of the window's content to <build>/name.
    void screenshot(const std::string& name);

private:
    TempFolder FHome;
    TempFolder FResources;
    TempFolder FFiles;
    std::string FOldHome;
    PanelSetup FSetup;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> FGui;
    TestMidi::TestMidiFactory* FMidi = nullptr;   // owned by the shutdown registry
    std::vector<int> FOutputs;
    std::unique_ptr<BWindow> FWindow;
    std::unique_ptr<bool> FStartedFlag;
};
