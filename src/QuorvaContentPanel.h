// The main window's one content panel: the editor of the fifteen programs and four global values,
// the MIDI output chooser, and the file OPEN / file SAVE / SEND buttons. The bytes themselves live
// in a QuorvaSettings; the panel only shows them, writes the user's picks through it, and runs the
// file, ini and send roads around it.
//
// QuorvaContentPanel.cpp holds the widgets, the change handler and the display operations;
// QuorvaContentPanelFiles.cpp the life cycle, the settings ini, the .syx files and sending.
#pragma once

#include "BContentBase.h"
#include "ComboBoxMidi.h"
#include "QuorvaSettings.h"
#include "core/TrList.h"
#include "core/TrTimer.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <string>

class QuorvaContentPanel : public BContentBase,
                           public juce::Button::Listener,
                           public juce::ComboBox::Listener,
                           public juce::FileDragAndDropTarget,
                           public ComboBoxMidiListener,
                           public Tr::TTimerListener
{
public:
    QuorvaContentPanel();
    ~QuorvaContentPanel() override;

    // ---- Driven by the window frame ----
    void filesDropped(const juce::StringArray& files, int x, int y) override;
    void createComponents() override;
    bool init(const juce::String& commandLine) override;
    void start(bool flag) override;
    bool canQuit() override;
    void close() override;
    void enableButtons() override;

    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void buttonClicked(juce::Button* b) override;
    void comboBoxChanged(juce::ComboBox* c) override;
    void OnComboBoxMidiChange(ComboBoxMidi* sender) override;
    void OnTimer() override;

    // ---- Settings ini ----
    // A file that is there but cannot be read gives the defaults and is remembered, so that
    // saveSettings never overwrites it; a missing file is no failure.
    void loadSettings();
    // Throws Tr::Exception, leaving the file as it was, when the file is there but could not be
    // read (now or at the start) or cannot be written.
    void saveSettings();

    // ---- Files ----
    // OPEN: asks about unsaved changes, then for the file.
    void load();
    // Reads one .syx file into the editor; throws Tr::Exception and leaves the editor as it was
    // when the file cannot be read or is no settings message.
    void load(const juce::String& path);
    // SAVE: asks for the file (".syx" is appended when missing, after the same overwrite question
    // about that file when it exists). True once the file is written; false when the user cancelled
    // or declined the overwrite, or the write failed (the error box was shown).
    bool save();
    // Writes the 546 bytes to path, replacing the file only once they are all on disk; throws
    // Tr::Exception("file write error: " and the cause) and leaves any old file as it was on failure.
    void save(const juce::String& path);
    // Loads a file of the resources folder; it never becomes the current file.
    void loadFromResource(const juce::String& name);
    // False when the user cancels the question about unsaved changes, or chose to save and the
    // edits were not saved (save dialog cancelled, overwrite declined, write failed). canQuit asks
    // the same, then writes the settings ini (a box says when it cannot).
    bool saveQuestion();

    // ---- SEND ----
    void send();

    // What the panel holds, for the window frame and for tests.
    const QuorvaSettings& getSettings() const { return settings; }
    bool hasChanges() const { return changed; }
    bool isSending() const { return sending; }
    const juce::String& getCurrentFile() const { return currentFile; }
    const std::string& getIniFileName() const { return iniFileName; }
    const std::string& getDocumentsDir() const { return documentsDir; }

    // The window title for a current file ("" for none) and the unsaved-changes flag.
    static juce::String makeTitle(const juce::String& currentFile, bool changed);

protected:
    // Where "defaults.syx" is looked for; tests point it elsewhere to start without it.
    virtual juce::File resourcesFolder() const;

private:
    // ---- Combo boxes (a value is item id - 1; -1 when nothing is selected) ----
    static bool setComboBoxValue(juce::ComboBox* combo, int value, bool dontSendChange = true);
    static int getComboBoxValue(const juce::ComboBox* combo);
    static void fillComboBox(juce::ComboBox* combo, const QuorvaTableEntry* table, int count, bool keepPrevious,
                             bool selectFirst, int value, bool dontSendChange);
    static void enableComboBox(juce::ComboBox* combo, bool enabled);
    static void applyComboBoxDesign(juce::ComboBox* combo);

    // ---- Making the children (each is owned through createdComponents) ----
    template <typename T>
    T* adopt(T* component);
    juce::ComboBox* createComboBox(int x, int y, int w, int h, const QuorvaTableEntry* table, int count,
                                   const juce::String& tooltip, const juce::String& id);
    juce::Label* createLabel(int x, int y, int w, int h, const juce::String& text, bool small,
                             const juce::Justification& justification);
    juce::TextButton* createButton(const juce::String& text, int x, int y, int w, int h,
                                   const juce::String& tooltip, const juce::String& id);

    // ---- Bringing the widgets in line with the settings (no change notices) ----
    // The selected program (1..15), or -1 when none is.
    int selectedProgram() const;
    void displayProgramComponents();
    void displayBaseSetting(int program);
    void displayTempo();
    void displayGlobalValues();
    void displaySteps();
    // After a successful load: globals, a selected program, the program's widgets, the flag.
    void refreshAfterLoad();

    // ---- Unsaved changes and title ----
    void change(bool enable);
    void unchange(bool enable);
    void updateTitle();
    // Asks whether to save unsaved changes (and saves on yes); false when the user cancelled or
    // the edits were not saved.
    bool askToSaveChanges();
    // The folder a file question starts in when no file is current.
    std::string initialDialogPath(bool createFolder);

    juce::HyperlinkButton* linkButton = nullptr;
    juce::TextButton* openButton = nullptr;
    juce::TextButton* saveButton = nullptr;
    juce::TextButton* sendButton = nullptr;
    juce::ComboBox* programCombo = nullptr;
    juce::ComboBox* programTypeCombo = nullptr;
    juce::ComboBox* stepCountCombo = nullptr;
    juce::ComboBox* baseSettingCombo = nullptr;
    juce::ComboBox* durationCombo = nullptr;
    juce::ComboBox* stepCombos[QUORVA_STEP_COUNT] = {};
    juce::ComboBox* midiChannelCombo = nullptr;
    juce::ComboBox* outputTypeCombo = nullptr;
    juce::ComboBox* loopPortamentoCombo = nullptr;
    juce::ComboBox* stepPortamentoCombo = nullptr;
    // Every child made here, in creation order; the destructor deletes them before the MIDI
    // library goes, so no chooser outlives the manager it listens to.
    Tr::TList<juce::Component*> createdComponents;
    ComboBoxMidi* midiOutCombo = nullptr;

    bool changed = false;
    // What the step combo boxes were last filled for: 1 per-step settings, 2 pitches (0 none).
    int stepsMode = 0;
    int stepsBaseSetting = -1;

    QuorvaSettings settings;

    std::string iniFileName;
    bool iniUnreadable = false;   // the ini was there at the start but could not be read
    std::string documentsDir;
    juce::String currentFile;
    bool sending = false;
    std::unique_ptr<Tr::TTimer> sendTimer;
};

// The content panel of the main window; the caller owns it.
std::unique_ptr<BContentBase> CreateContentPanel();
