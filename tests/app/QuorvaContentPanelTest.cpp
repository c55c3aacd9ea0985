// The editor panel as the user sees and drives it: layout, the bytes each pick writes, the step
// lists, the enable rules and "Clock Only".
#include "PanelHarness.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const juce::Colour enabledGrey(153, 153, 153);
const juce::Colour disabledGrey(191, 191, 191);

// Indices where two messages differ.
std::set<int> changedBytes(const Bytes& before, const Bytes& after)
{
    std::set<int> changed;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (before[i] != after[i])
            changed.insert(static_cast<int>(i));
    return changed;
}

std::string highBytesInBody(const Bytes& m)
{
    std::string where;
    for (std::size_t i = 1; i + 1 < m.size(); ++i)
        if (m[i] >= 0x80)
            where += " " + std::to_string(i);
    return where;
}

int valueOf(const QuorvaTableEntry* table, int count, const char* text)
{
    for (int i = 0; i < count; ++i)
        if (juce::String(table[i].name) == text)
            return table[i].value;
    ADD_FAILURE() << "no row " << text;
    return -1;
}

juce::Label* findLabel(juce::Component& panel, const juce::String& text)
{
    for (auto* child : panel.getChildren())
        if (auto* label = dynamic_cast<juce::Label*>(child))
            if (label->getText() == text)
                return label;
    return nullptr;
}

const char* const editorCombos[] = {"programCombo", "programTypeCombo", "stepCountCombo", "baseSettingCombo",
                                    "durationCombo", "midiChannelCombo", "loopPortamentoCombo",
                                    "stepPortamentoCombo"};

} // namespace

TEST(QuorvaContentPanel, StartsWithTheDefaultsInTheSpecifiedLayout)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();

    EXPECT_EQ(h.message(), PanelHarness::defaults()) << "the defaults are what SAVE and SEND would give";
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0");
    EXPECT_TRUE(h.panel().getCurrentFile().isEmpty()) << "the defaults are no current file";
    EXPECT_FALSE(h.panel().hasChanges());
    EXPECT_EQ(h.panel().getIniFileName(), h.iniPath());
    EXPECT_EQ(h.panel().getDocumentsDir(), h.documentsDir());

    EXPECT_EQ(h.combo("programCombo").getText(), "Program 1");
    EXPECT_EQ(h.combo("programTypeCombo").getText(), "Loop Portamento");
    EXPECT_EQ(h.combo("stepCountCombo").getText(), "4 Steps");
    EXPECT_EQ(h.combo("baseSettingCombo").getText(), "Octave Up");
    EXPECT_EQ(h.combo("durationCombo").getText(), "1.32");
    EXPECT_EQ(h.step(0).getText(), "Unison");
    EXPECT_EQ(h.step(1).getText(), "Octave || +12 half steps");
    EXPECT_EQ(h.combo("loopPortamentoCombo").getText(), "medium Loop Portamento");
    EXPECT_EQ(h.combo("stepPortamentoCombo").getText(), "medium Step Portamento");
    EXPECT_EQ(h.combo("outputTypeCombo").getText(), "Whammy Only");
    EXPECT_EQ(h.combo("midiChannelCombo").getText(), "1");
    // The machine's own ports (where it has a sequencer) may be listed beside the test's.
    const juce::StringArray ports = h.items("midiOutCombo");
    EXPECT_EQ(ports[0], "(none)");
    EXPECT_TRUE(ports.contains("Synth A") && ports.contains("Synth B")) << ports.joinIntoString(", ").toStdString();
    EXPECT_EQ(h.combo("midiOutCombo").getText(), "(none)");
    EXPECT_FALSE(h.button("sendButton").isEnabled()) << "no port is chosen";

    struct Place
    {
        const char* id;
        juce::Rectangle<int> bounds;
    };
    const Place places[] = {
        {"midiOutCombo", {131, 18, 215, 19}},       {"openButton", {34, 15, 81, 25}},
        {"saveButton", {34, 50, 81, 25}},           {"sendButton", {131, 50, 215, 25}},
        {"programCombo", {24, 109, 114, 15}},       {"programTypeCombo", {24, 131, 184, 15}},
        {"stepCountCombo", {277, 131, 99, 15}},     {"baseSettingCombo", {128, 163, 254, 15}},
        {"durationCombo", {128, 184, 60, 15}},      {"stepCombo1", {105, 212, 354, 15}},
        {"stepCombo16", {105, 497, 354, 15}},       {"midiChannelCombo", {217, 535, 46, 15}},
        {"outputTypeCombo", {119, 555, 144, 15}},   {"loopPortamentoCombo", {283, 535, 202, 15}},
        {"stepPortamentoCombo", {283, 555, 202, 15}},
    };
    for (const Place& p : places)
    {
        juce::Component* c = h.panel().findChildWithID(p.id);
        ASSERT_NE(c, nullptr) << p.id;
        EXPECT_EQ(c->getBounds(), p.bounds) << p.id;
        EXPECT_TRUE(c->isVisible()) << p.id;
    }
    EXPECT_EQ(h.button("openButton").getButtonText(), "file OPEN");
    EXPECT_EQ(h.button("openButton").getTooltip(), "load setting from file");
    EXPECT_EQ(h.button("saveButton").getButtonText(), "file SAVE");
    EXPECT_EQ(h.button("saveButton").getTooltip(), "save setting to file");
    EXPECT_EQ(h.button("sendButton").getButtonText(), "SEND");
    EXPECT_EQ(h.button("sendButton").getTooltip(), "send the settings to the device");
    EXPECT_EQ(h.combo("midiOutCombo").getTooltip(), "select the MIDI port to which your device is connected");
    EXPECT_EQ(h.button("sendButton").findColour(juce::TextButton::buttonColourId), disabledGrey);
    EXPECT_EQ(h.button("sendButton").findColour(juce::TextButton::textColourOffId), juce::Colours::black);

    struct Caption
    {
        const char* text;
        juce::Rectangle<int> bounds;
        int justification;
    };
    const Caption captions[] = {
        {"Base Setting:", {24, 163, 99, 15}, juce::Justification::centredRight},
        {"Duration (sec):", {24, 184, 99, 15}, juce::Justification::centredRight},
        {"Step 1:", {39, 212, 61, 15}, juce::Justification::centredLeft},
        {"Step 16:", {39, 497, 61, 15}, juce::Justification::centredLeft},
        {"Whammy MIDI Base Channel:", {24, 535, 188, 15}, juce::Justification::centredLeft},
        {"Output Type:", {24, 555, 90, 15}, juce::Justification::centredLeft},
        {"Quorva MIDI 2 - Programming Utility - v1.0", {7, 580, 250, 24}, juce::Justification::centredLeft},
    };
    for (const Caption& c : captions)
    {
        juce::Label* label = findLabel(h.panel(), c.text);
        ASSERT_NE(label, nullptr) << c.text;
        EXPECT_EQ(label->getBounds(), c.bounds) << c.text;
        EXPECT_EQ(label->getJustificationType().getFlags(), c.justification) << c.text;
        EXPECT_EQ(label->findColour(juce::Label::textColourId), juce::Colours::black) << c.text;
    }
    EXPECT_EQ(findLabel(h.panel(), "Base Setting:")->getFont().getHeight(), 13.0f);
    EXPECT_EQ(findLabel(h.panel(), "Quorva MIDI 2 - Programming Utility - v1.0")->getFont().getHeight(), 10.0f);

    h.screenshot("screenshot-panel-start.png");
}

TEST(QuorvaContentPanel, EachPickChangesExactlyItsBytes)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    Bytes before = h.message();

    h.pick("programCombo", "Program 2");
    EXPECT_EQ(h.message(), before) << "selecting a program changes nothing";
    EXPECT_FALSE(h.panel().hasChanges());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0");

    struct Pick
    {
        const char* combo;
        const char* item;
        int offset;
        int value;
    };
    const int b = blockOf(2);
    const Pick picks[] = {
        {"programTypeCombo", "Step Portamento", b + 1, 3},
        {"stepCountCombo", "16 Steps", b + 34, 16},
        {"programTypeCombo", "Loop, No Portamento", b + 1, 0},
        {"durationCombo", "2.04", b + 35, valueOf(QuorvaTempoTable, QuorvaTempoCount, "2.04")},
        {"stepCombo6", "4th || +5 half steps", pitchOf(2, 5), 43},
        {"loopPortamentoCombo", "slow Loop Portamento", 541, 45},
        {"stepPortamentoCombo", "fast Step Portamento", 542, 25},
        {"outputTypeCombo", "Whammy & Clock", 543, 5},
        {"midiChannelCombo", "15", 544, 14},
    };
    for (const Pick& p : picks)
    {
        before = h.message();
        h.pick(p.combo, p.item);
        const Bytes after = h.message();
        EXPECT_EQ(changedBytes(before, after), std::set<int>({p.offset})) << p.combo << " = " << p.item;
        EXPECT_EQ(after[static_cast<std::size_t>(p.offset)], p.value) << p.combo << " = " << p.item;
    }
    EXPECT_TRUE(h.panel().hasChanges());
    EXPECT_EQ(h.title(), "Quorva MIDI 2 - v1.0 *");

    // A new base setting: all pitches back to 0, the setting repeated in every step.
    before = h.message();
    h.pick("baseSettingCombo", "Dive Bomb");
    Bytes after = h.message();
    for (int i : changedBytes(before, after))
        EXPECT_TRUE((i - b - 2) >= 0 && (i - b - 2) < 32) << "byte " << i << " is outside program 2's steps";
    for (int s = 0; s < 16; ++s)
    {
        EXPECT_EQ(after[static_cast<std::size_t>(pitchOf(2, s))], 0) << "pitch of step " << s + 1;
        EXPECT_EQ(after[static_cast<std::size_t>(settingOf(2, s))], 6) << "setting of step " << s + 1;
        EXPECT_EQ(h.step(s).getText(), "Unison") << "step " << s + 1;
    }
    EXPECT_EQ(h.step(0).getNumItems(), QuorvaStepsDiveBombCount);

    // A "Different Settings" program: a step pick writes the step's setting byte.
    h.pick("programCombo", "Program 7");
    EXPECT_EQ(h.items("stepCombo1").size(), 18);
    EXPECT_EQ(h.step(2).getText(), "5th Up/7th Up Harmony");
    before = h.message();
    h.pickStep(0, "Effect Off");
    after = h.message();
    EXPECT_EQ(changedBytes(before, after), std::set<int>({settingOf(7, 0)}));
    EXPECT_EQ(after[static_cast<std::size_t>(settingOf(7, 0))], 17);

    EXPECT_EQ(highBytesInBody(h.message()), "");
}

TEST(QuorvaContentPanel, DifferentSettingsSwapsTheStepListsBothWays)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const Bytes before = h.message();

    h.pick("programTypeCombo", "Different Settings");
    EXPECT_EQ(h.combo("baseSettingCombo").getSelectedId(), 0);
    EXPECT_EQ(h.combo("baseSettingCombo").getTextWhenNothingSelected(), "[not applicable]");
    EXPECT_EQ(h.combo("durationCombo").getSelectedId(), 0);
    EXPECT_EQ(h.combo("durationCombo").getTextWhenNothingSelected(), "[n/a]");
    juce::StringArray settingNames;
    for (int i = 0; i < QuorvaStepsDifferentSettingCount; ++i)
        settingNames.add(QuorvaStepsDifferentSettingTable[i].name);
    for (int s = 0; s < 16; ++s)
    {
        EXPECT_EQ(h.items("stepCombo" + juce::String(s + 1)), settingNames) << "step " << s + 1;
        EXPECT_EQ(h.step(s).getText(), "Octave Up") << "the setting bytes of a loaded other type hold 3";
    }
    EXPECT_FALSE(h.combo("baseSettingCombo").isEnabled());
    EXPECT_FALSE(h.combo("durationCombo").isEnabled());
    const Bytes asType5 = h.message();
    EXPECT_EQ(asType5[static_cast<std::size_t>(blockOf(1) + 1)], 5);
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(asType5[static_cast<std::size_t>(pitchOf(1, s))], 0) << "a type-5 program sends pitch 0";
    EXPECT_EQ(asType5[static_cast<std::size_t>(blockOf(1) + 35)], before[static_cast<std::size_t>(blockOf(1) + 35)])
        << "the duration byte is kept";
    h.pickStep(1, "Drop Tune");
    EXPECT_EQ(h.message()[static_cast<std::size_t>(settingOf(1, 1))], 7);
    h.screenshot("screenshot-panel-type5.png");

    h.pick("programTypeCombo", "Loop Portamento");
    EXPECT_EQ(h.combo("baseSettingCombo").getText(), "Octave Up") << "the base setting was kept";
    EXPECT_EQ(h.combo("durationCombo").getText(), "1.32");
    EXPECT_EQ(h.step(1).getText(), "Octave || +12 half steps") << "the pitch bytes come back";
    EXPECT_EQ(h.step(0).getNumItems(), QuorvaStepsOctaveUpCount);
    const Bytes back = h.message();
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(back[static_cast<std::size_t>(pitchOf(1, s))], before[static_cast<std::size_t>(pitchOf(1, s))])
            << "pitch of step " << s + 1;
}

TEST(QuorvaContentPanel, EnableRulesForEveryTypeStepCountAndClockOnly)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();

    struct Type
    {
        const char* name;
        bool baseSetting;
        bool duration;
    };
    const Type types[] = {{"Loop Portamento", true, true},
                          {"Loop, No Portamento", true, true},
                          {"Step Portamento", true, false},
                          {"Step, No Portamento", true, false},
                          {"Different Settings", false, false}};
    for (const Type& t : types)
    {
        h.pick("programTypeCombo", t.name);
        EXPECT_EQ(h.combo("baseSettingCombo").isEnabled(), t.baseSetting) << t.name;
        EXPECT_EQ(h.combo("durationCombo").isEnabled(), t.duration) << t.name;
        EXPECT_EQ(h.combo("durationCombo").findColour(juce::ComboBox::backgroundColourId),
                  t.duration ? enabledGrey : disabledGrey)
            << t.name;
        EXPECT_EQ(h.combo("durationCombo").getSelectedId() != 0, t.duration)
            << t.name << ": a type without duration shows none";
        EXPECT_TRUE(h.combo("programTypeCombo").isEnabled() && h.combo("stepCountCombo").isEnabled()) << t.name;
    }

    h.pick("programTypeCombo", "Loop Portamento");
    const Bytes before = h.message();
    h.pick("stepCountCombo", "5 Steps");
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(h.step(s).isEnabled(), s < 5) << "step " << s + 1 << " with 5 steps";
    EXPECT_EQ(changedBytes(before, h.message()), std::set<int>({blockOf(1) + 34}))
        << "a step count changes no step byte";

    h.pick("outputTypeCombo", "Clock Only");
    for (const char* id : editorCombos)
    {
        EXPECT_FALSE(h.combo(id).isEnabled()) << id << " with Clock Only";
        EXPECT_EQ(h.combo(id).findColour(juce::ComboBox::backgroundColourId), disabledGrey) << id;
    }
    for (int s = 0; s < 16; ++s)
        EXPECT_FALSE(h.step(s).isEnabled()) << "step " << s + 1 << " with Clock Only";
    EXPECT_TRUE(h.combo("outputTypeCombo").isEnabled());
    EXPECT_TRUE(h.combo("midiOutCombo").isEnabled());
    EXPECT_TRUE(h.button("openButton").isEnabled() && h.button("saveButton").isEnabled());
    EXPECT_EQ(h.message()[543], 6);
    h.screenshot("screenshot-panel-clock-only.png");

    h.pick("outputTypeCombo", "Whammy Only");
    for (const char* id : editorCombos)
        EXPECT_TRUE(h.combo(id).isEnabled()) << id << " after leaving Clock Only";
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(h.step(s).isEnabled(), s < 5) << "step " << s + 1 << " after leaving Clock Only";
}

TEST(QuorvaContentPanel, BytesThatAreNoRowAreKeptAndNo0xFFIsWritten)
{
    QUORVA_REQUIRE_DISPLAY(display);
    Bytes odd = PanelHarness::defaults();
    odd[541] = 99;   // no loop portamento rate
    odd[544] = 20;   // channel 21 does not exist
    const int b = blockOf(1);
    odd[static_cast<std::size_t>(b + 1)] = 4;    // no program type
    odd[static_cast<std::size_t>(b + 34)] = 1;   // no step count
    odd[static_cast<std::size_t>(b + 35)] = 9;   // no duration
    odd[static_cast<std::size_t>(pitchOf(1, 0))] = 5;   // no row of the "Octave Up" steps

    PanelHarness h;
    h.start();
    h.panel().filesDropped(juce::StringArray(juce::String(h.writeFile("odd.syx", odd))), 10, 10);
    ASSERT_EQ(h.message(), odd) << "loaded as it stands";
    for (const char* id : {"loopPortamentoCombo", "midiChannelCombo", "programTypeCombo", "stepCountCombo",
                           "durationCombo"})
        EXPECT_EQ(h.combo(id).getSelectedId(), 0) << id << " shows no item";
    EXPECT_EQ(h.step(0).getSelectedId(), 0) << "a step byte that is no row of the list shows no item";
    EXPECT_EQ(h.step(1).getText(), "Octave || +12 half steps");

    // Every global pick rewrites all four global bytes: those showing no item keep their byte.
    h.pick("outputTypeCombo", "Whammy & Clock");
    h.pick("stepPortamentoCombo", "slow Step Portamento");
    h.pickStep(1, "5th || +7 half steps");
    Bytes expected = odd;
    expected[543] = 5;
    expected[542] = 80;
    expected[static_cast<std::size_t>(pitchOf(1, 1))] = 64;
    EXPECT_EQ(changedBytes(odd, h.message()), changedBytes(odd, expected));
    EXPECT_EQ(h.message(), expected);
    EXPECT_EQ(highBytesInBody(h.message()), "");

    // What is saved is the same: a save dialog answered with a new name.
    const std::string saved = h.files() / "kept.syx";
    FileDialogAnswers files({saved});
    h.click("saveButton");
    EXPECT_EQ(PanelHarness::readBytes(saved), expected);
}
