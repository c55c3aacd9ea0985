#include "QuorvaContentPanel.h"

#include "BWindow.h"
#include "QuorvaEnableRules.h"
#include "core/TrFiles.h"
#include "core/TrUtil.h"

#include <algorithm>

namespace {

using Global = QuorvaSettings::Global;
using Field = QuorvaSettings::ProgramField;

constexpr int EnabledGrey = 153;
constexpr int DisabledGrey = 191;

juce::Colour grey(int level)
{
    return juce::Colour(static_cast<juce::uint8>(level), static_cast<juce::uint8>(level),
                        static_cast<juce::uint8>(level));
}

const juce::String outputAliasName("MIDI Output Device");
const juce::String aboutText("Quorva MIDI 2 - Programming Utility - v1.0");
// The link opens the program's licence, which ships in the resources folder.
const juce::String linkCaption("License (GPL 3)");
const juce::String noticeText("for Linux");

} // namespace

std::unique_ptr<BContentBase> CreateContentPanel()
{
    return std::make_unique<QuorvaContentPanel>();
}

// ---------------------------------------------------------------------------------------------
// Combo boxes

bool QuorvaContentPanel::setComboBoxValue(juce::ComboBox* combo, int value, bool dontSendChange)
{
    if (!combo)
        return false;
    const auto notification = dontSendChange ? juce::dontSendNotification : juce::sendNotification;
    combo->setSelectedId(value + 1, notification);
    if (combo->getSelectedId() == value + 1)
        return true;
    combo->setSelectedId(0, notification);
    return false;
}

int QuorvaContentPanel::getComboBoxValue(const juce::ComboBox* combo)
{
    return combo ? combo->getSelectedId() - 1 : -1;
}

void QuorvaContentPanel::fillComboBox(juce::ComboBox* combo, const QuorvaTableEntry* table, int count,
                                      bool keepPrevious, bool selectFirst, int value, bool dontSendChange)
{
    if (!combo)
        return;
    const auto notification = dontSendChange ? juce::dontSendNotification : juce::sendNotification;
    const int previousId = combo->getSelectedId();
    combo->clear(notification);
    if (count > 0 && table)
        for (int row = 0; row < count; ++row)
            combo->addItem(juce::String(table[row].name), table[row].value + 1);
    if (combo->getNumItems() == 0)
        return;

    auto selectOrNothing = [combo, notification](int id) {
        combo->setSelectedId(id, notification);
        if (combo->getSelectedId() != id)
            combo->setSelectedId(0, notification);
    };
    selectOrNothing(value + 1);
    if (combo->getSelectedId() == 0 && keepPrevious)
        selectOrNothing(previousId);
    if (combo->getSelectedId() == 0 && selectFirst)
        combo->setSelectedItemIndex(0, notification);
}

void QuorvaContentPanel::enableComboBox(juce::ComboBox* combo, bool enabled)
{
    if (!combo)
        return;
    combo->setColour(juce::ComboBox::backgroundColourId, grey(enabled ? EnabledGrey : DisabledGrey));
    combo->setEnabled(enabled);
}

void QuorvaContentPanel::applyComboBoxDesign(juce::ComboBox* combo)
{
    if (!combo)
        return;
    combo->setColour(juce::ComboBox::outlineColourId, juce::Colours::transparentBlack);
    combo->setColour(juce::ComboBox::textColourId, juce::Colours::black);
    combo->setColour(juce::ComboBox::backgroundColourId, grey(EnabledGrey));
    combo->setColour(juce::ComboBox::buttonColourId, grey(DisabledGrey));
    combo->setColour(juce::ComboBox::arrowColourId, grey(EnabledGrey));
}

// ---------------------------------------------------------------------------------------------
// Making the children

template <typename T>
T* QuorvaContentPanel::adopt(T* component)
{
    createdComponents.Add(component);
    return component;
}

juce::ComboBox* QuorvaContentPanel::createComboBox(int x, int y, int w, int h, const QuorvaTableEntry* table,
                                                   int count, const juce::String& tooltip, const juce::String& id)
{
    auto* combo = adopt(new juce::ComboBox(juce::String()));
    // The component id lets tests and accessibility tools find a widget; the name stays empty.
    combo->setComponentID(id);
    combo->setTooltip(tooltip);
    combo->setBounds(x, y, w, h);
    addAndMakeVisible(combo);
    combo->addListener(this);
    applyComboBoxDesign(combo);
    fillComboBox(combo, table, count, false, false, -1, false);
    return combo;
}

juce::Label* QuorvaContentPanel::createLabel(int x, int y, int w, int h, const juce::String& text, bool small,
                                             const juce::Justification& justification)
{
    auto* label = adopt(new juce::Label("l", text));
    label->setFont(juce::Font(juce::Font::getDefaultMonospacedFontName(), small ? 10.0f : 13.0f,
                              juce::Font::plain));
    label->setJustificationType(justification);
    label->setEditable(false, false, false);
    label->setColour(juce::Label::textColourId, juce::Colours::black);
    label->setColour(juce::Label::backgroundColourId, juce::Colours::transparentBlack);
    // Dragging on a label drags the window, as dragging on the background does.
    label->addMouseListener(this, false);
    label->setBounds(x, y, w, h);
    addAndMakeVisible(label);
    return label;
}

juce::TextButton* QuorvaContentPanel::createButton(const juce::String& text, int x, int y, int w, int h,
                                                   const juce::String& tooltip, const juce::String& id)
{
    auto* button = adopt(new juce::TextButton(juce::String(), tooltip));
    button->setComponentID(id);
    button->setButtonText(text);
    button->setBounds(x, y, w, h);
    button->setColour(juce::TextButton::buttonColourId, grey(DisabledGrey));
    button->setColour(juce::TextButton::buttonOnColourId, grey(EnabledGrey));
    button->setColour(juce::TextButton::textColourOffId, juce::Colours::black);
    addAndMakeVisible(button);
    button->addListener(this);
    return button;
}

void QuorvaContentPanel::createComponents()
{
    BContentBase::createComponents();
    if (BWindow* window = BWindow::getInstance())
        window->setUsingNativeTitleBar(true);

    midiOutCombo = adopt(new ComboBoxMidi(outputAliasName, false));
    midiOutCombo->setComponentID("midiOutCombo");
    midiOutCombo->setBounds(131, 18, 215, 19);
    midiOutCombo->setTooltip("select the MIDI port to which your device is connected");
    midiOutCombo->addMidiListener(this);
    applyComboBoxDesign(midiOutCombo);
    addAndMakeVisible(midiOutCombo);

    openButton = createButton("file OPEN", 34, 15, 81, 25, "load setting from file", "openButton");
    saveButton = createButton("file SAVE", 34, 50, 81, 25, "save setting to file", "saveButton");
    sendButton = createButton("SEND", 131, 50, 215, 25, "send the settings to the device", "sendButton");

    const auto centredRight = juce::Justification(juce::Justification::centredRight);
    const auto centredLeft = juce::Justification(juce::Justification::centredLeft);

    programCombo = createComboBox(24, 109, 114, 15, QuorvaProgramTable, QuorvaProgramCount, {}, "programCombo");
    programTypeCombo = createComboBox(24, 131, 184, 15, QuorvaProgramTypeTable, QuorvaProgramTypeCount, {},
                                      "programTypeCombo");
    stepCountCombo = createComboBox(277, 131, 99, 15, QuorvaStepCountTable, QuorvaStepCountCount, {},
                                    "stepCountCombo");

    createLabel(24, 163, 99, 15, "Base Setting:", false, centredRight);
    baseSettingCombo = createComboBox(128, 163, 254, 15, QuorvaBaseSettingTable, QuorvaBaseSettingCount, {},
                                      "baseSettingCombo");
    baseSettingCombo->setTextWhenNothingSelected("[not applicable]");

    createLabel(24, 184, 99, 15, "Duration (sec):", false, centredRight);
    durationCombo = createComboBox(128, 184, 60, 15, QuorvaTempoTable, QuorvaTempoCount, {}, "durationCombo");
    durationCombo->setTextWhenNothingSelected("[n/a]");

    for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
    {
        const int y = 212 + 19 * s;
        createLabel(39, y, 61, 15, juce::String(Tr::UString::FormatS1("Step %d:", s + 1)), false, centredLeft);
        stepCombos[s] = createComboBox(105, y, 354, 15, nullptr, 0, {}, "stepCombo" + juce::String(s + 1));
    }

    createLabel(24, 535, 188, 15, "Whammy MIDI Base Channel:", false, centredLeft);
    midiChannelCombo = createComboBox(217, 535, 46, 15, QuorvaMIDIChannelTable, QuorvaMIDIChannelCount, {},
                                      "midiChannelCombo");
    createLabel(24, 555, 90, 15, "Output Type:", false, centredLeft);
    outputTypeCombo = createComboBox(119, 555, 144, 15, QuorvaOutputTypeTable, QuorvaOutputTypeCount, {},
                                     "outputTypeCombo");
    loopPortamentoCombo = createComboBox(283, 535, 202, 15, QuorvaPortamentoRateLoopTable,
                                         QuorvaPortamentoRateLoopCount, {}, "loopPortamentoCombo");
    stepPortamentoCombo = createComboBox(283, 555, 202, 15, QuorvaPortamentoRateStepTable,
                                         QuorvaPortamentoRateStepCount, {}, "stepPortamentoCombo");

    createLabel(7, 580, 250, 24, aboutText, true, centredLeft);
    createLabel(267, 580, 130, 24, linkCaption, true, centredLeft);
    const int width = preferredWidth != 0 ? preferredWidth : 500;
    createLabel(280, 580, width - 287, 24, noticeText, true, centredRight);
    linkButton = adopt(createLinkButton(juce::URL(resourcesFolder().getChildFile("LICENSE")).toString(false)));
    linkButton->setBounds(267, 580, 130, 24);
}

QuorvaContentPanel::~QuorvaContentPanel()
{
    // The port chooser unregisters from the MIDI library in its destructor, so the children go
    // before the library's singletons do.
    for (juce::Component* c : createdComponents)
        delete c;
    createdComponents.Clear();
    Tr::VuskSystem::shutdown();
}

// ---------------------------------------------------------------------------------------------
// Display operations

int QuorvaContentPanel::selectedProgram() const
{
    const int program = getComboBoxValue(programCombo);
    return QuorvaSettings::getProgramTemplateIndex(program) >= 0 ? program : -1;
}

void QuorvaContentPanel::displayProgramComponents()
{
    const int p = selectedProgram();
    if (p < 0)
    {
        enableButtons();
        return;
    }
    setComboBoxValue(programTypeCombo, settings.getProgramValue(p, Field::Type));
    displayBaseSetting(p);
    setComboBoxValue(stepCountCombo, settings.getProgramValue(p, Field::StepCount));
    displayTempo();
    displaySteps();
}

void QuorvaContentPanel::displayBaseSetting(int program)
{
    const int p = program < 1 ? selectedProgram() : program;
    if (!baseSettingCombo || p < 0)
        return;
    if (getComboBoxValue(programTypeCombo) == QuorvaSettings::DifferentSettingsType)
        baseSettingCombo->setSelectedItemIndex(-1, juce::dontSendNotification);
    else
        setComboBoxValue(baseSettingCombo, settings.getBaseSetting(p));
}

void QuorvaContentPanel::displayTempo()
{
    const int p = selectedProgram();
    if (!durationCombo || p < 0)
        return;
    if (QuorvaEnableRules::hasDuration(settings.getProgramValue(p, Field::Type)))
        setComboBoxValue(durationCombo, settings.getProgramValue(p, Field::Duration));
    else
        durationCombo->setSelectedItemIndex(-1, juce::dontSendNotification);
}

void QuorvaContentPanel::displayGlobalValues()
{
    setComboBoxValue(loopPortamentoCombo, settings.getGlobalValue(Global::LoopPortamentoRate));
    setComboBoxValue(stepPortamentoCombo, settings.getGlobalValue(Global::StepPortamentoRate));
    setComboBoxValue(outputTypeCombo, settings.getGlobalValue(Global::OutputType));
    setComboBoxValue(midiChannelCombo, settings.getGlobalValue(Global::MidiChannel));
}

void QuorvaContentPanel::displaySteps()
{
    const int p = selectedProgram();
    if (p < 0)
        return;
    const int mode = getComboBoxValue(programTypeCombo) == QuorvaSettings::DifferentSettingsType ? 1 : 2;
    const int base = settings.getBaseSetting(p);

    if (mode == stepsMode && base == stepsBaseSetting)
    {
        for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
            setComboBoxValue(stepCombos[s], settings.getStep(p, s));
        return;
    }

    stepsMode = mode;
    stepsBaseSetting = base;
    QuorvaTable table {nullptr, 0};
    if (mode == 1)
    {
        table = {QuorvaStepsDifferentSettingTable, QuorvaStepsDifferentSettingCount};
    }
    else if (baseSettingCombo)
    {
        if (baseSettingCombo->getSelectedId() == 0 && baseSettingCombo->getNumItems() > 0)
            baseSettingCombo->setSelectedItemIndex(0, juce::dontSendNotification);
        const int row = baseSettingCombo->getSelectedItemIndex();
        if (row >= 0 && row < QuorvaBaseSettingStepCount)
            table = QuorvaBaseSettingStepTable[row];
    }
    // A byte that is no row keeps the step's previous item, or shows the first row; the byte
    // itself stays until the user picks one.
    for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
        fillComboBox(stepCombos[s], table.table, table.count, true, true, settings.getStep(p, s), true);
}

void QuorvaContentPanel::refreshAfterLoad()
{
    displayGlobalValues();
    if (programCombo && programCombo->getSelectedId() == 0 && programCombo->getNumItems() > 0)
        programCombo->setSelectedItemIndex(0, juce::dontSendNotification);
    displayProgramComponents();
    enableButtons();
    unchange(true);
}

// ---------------------------------------------------------------------------------------------
// The user's picks

void QuorvaContentPanel::comboBoxChanged(juce::ComboBox* c)
{
    const int p = selectedProgram();
    const int v = getComboBoxValue(c);

    if (c == nullptr)
        return;
    if (c == programCombo)
    {
        displayProgramComponents();
        enableButtons();
        return;
    }

    if (c == programTypeCombo)
    {
        settings.applyProgramValue(p, Field::Type, v);
        if (p >= 0)
        {
            displayTempo();
            displayBaseSetting(p);
        }
        displaySteps();
    }
    else if (c == baseSettingCombo)
    {
        if (p >= 0)
        {
            settings.resetSteps(p);
            settings.applyBaseSetting(p, v);
        }
        displaySteps();
    }
    else if (c == stepCountCombo)
    {
        settings.applyProgramValue(p, Field::StepCount, v);
    }
    else if (c == durationCombo)
    {
        settings.applyProgramValue(p, Field::Duration, v);
    }
    else
    {
        bool isStep = false;
        for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
            if (c == stepCombos[s])
            {
                settings.applyStep(p, s, v);
                isStep = true;
            }
        if (!isStep)
        {
            // A global combo box showing no item gives -1, which the settings refuse: the byte the
            // file carried stays.
            settings.applyGlobalValue(Global::LoopPortamentoRate, getComboBoxValue(loopPortamentoCombo));
            settings.applyGlobalValue(Global::StepPortamentoRate, getComboBoxValue(stepPortamentoCombo));
            settings.applyGlobalValue(Global::OutputType, getComboBoxValue(outputTypeCombo));
            settings.applyGlobalValue(Global::MidiChannel, getComboBoxValue(midiChannelCombo));
        }
    }
    change(false);
    enableButtons();
}

void QuorvaContentPanel::buttonClicked(juce::Button* b)
{
    if (b == saveButton)
        save();
    else if (b == openButton)
        load();
    else if (b == sendButton)
        send();
}

void QuorvaContentPanel::OnComboBoxMidiChange(ComboBoxMidi*)
{
    enableButtons();
}

// ---------------------------------------------------------------------------------------------
// Enabled states, changed flag and title

void QuorvaContentPanel::enableButtons()
{
    QuorvaEnableRules::Shown shown;
    shown.sending = sending;
    shown.portItemIndex = midiOutCombo ? midiOutCombo->getSelectedItemIndex() : -1;
    shown.outputType = outputTypeCombo ? getComboBoxValue(outputTypeCombo) : QuorvaEnableRules::NoCombo;
    shown.programItemIndex = programCombo ? programCombo->getSelectedItemIndex() : -1;
    shown.programType = getComboBoxValue(programTypeCombo);
    shown.stepCount = getComboBoxValue(stepCountCombo);
    const QuorvaEnableRules::Enabled enabled = QuorvaEnableRules::compute(shown);

    if (sendButton)
        sendButton->setEnabled(enabled.send);
    enableComboBox(programCombo, enabled.program);
    enableComboBox(programTypeCombo, enabled.programType);
    enableComboBox(stepCountCombo, enabled.stepCount);
    enableComboBox(baseSettingCombo, enabled.baseSetting);
    enableComboBox(durationCombo, enabled.duration);
    for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
        enableComboBox(stepCombos[s], enabled.steps[s]);
    enableComboBox(midiChannelCombo, enabled.globals);
    enableComboBox(loopPortamentoCombo, enabled.globals);
    enableComboBox(stepPortamentoCombo, enabled.globals);
    enableComboBox(outputTypeCombo, true);
}

void QuorvaContentPanel::change(bool enable)
{
    if (changed)
        return;
    changed = true;
    if (enable)
        enableButtons();
    updateTitle();
}

void QuorvaContentPanel::unchange(bool enable)
{
    if (!changed)
        return;
    changed = false;
    if (enable)
        enableButtons();
    updateTitle();
}

juce::String QuorvaContentPanel::makeTitle(const juce::String& currentFile, bool changed)
{
    juce::String title = juce::String("Quorva MIDI 2") + " - v" + "1.0";
    if (currentFile.isNotEmpty()) {
        // A file name may hold line breaks and other control characters, and the title bar is one
        // line: they show as "?", as directory listings show them.
        std::string name = Tr::ExtractFileName(currentFile.toStdString());
        std::replace_if(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }, '?');
        title += " - " + juce::String(name);
    }
    if (changed)
        title += " *";
    return title;
}

void QuorvaContentPanel::updateTitle()
{
    if (BWindow* window = BWindow::getInstance())
        window->setName(makeTitle(currentFile, changed));
}
