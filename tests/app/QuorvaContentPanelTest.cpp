// The editor panel as the user sees and drives it: layout, the bytes each pick writes, the step
// lists, the enable rules and "Clock Only", and SEND.
#include "PanelHarness.h"

namespace {

using Editor = PanelTest;

const std::string sendQuestion =
    "Confirm: Sending the data will write (and overwrite) all 15 programs.\nDo you want to send all programs now?";
const std::string sendError = "Error: An error occurred when sending the Quorva MIDI 2 File.\n";
const juce::Colour enabledGrey(153, 153, 153), disabledGrey(191, 191, 191);
const char* const programCombos[] = {"programCombo", "programTypeCombo", "stepCountCombo", "baseSettingCombo",
                                     "durationCombo", "midiChannelCombo", "loopPortamentoCombo", "stepPortamentoCombo"};

juce::Label* findLabel(juce::Component& panel, const juce::String& text)
{
    for (auto* child : panel.getChildren())
        if (auto* label = dynamic_cast<juce::Label*>(child); label && label->getText() == text)
            return label;
    return nullptr;
}

} // namespace

TEST_F(Editor, StartsWithTheDefaultsInTheLayout)
{
    start();
    EXPECT_EQ(message(), defaultSettings()) << "the defaults are what SAVE and SEND would give";
    EXPECT_EQ(title(), "Quorva MIDI 2 - v1.0") << "no current file, no changes";
    EXPECT_FALSE(button("sendButton").isEnabled()) << "no port is chosen";
    const auto picture = JuceUtils::getDrawable("background.png");
    ASSERT_NE(picture, nullptr) << "the build copies the resources to " << JuceUtils::getResourcesFolder().getFullPathName();
    EXPECT_EQ(panel().getLocalBounds().toFloat(), picture->getDrawableBounds()) << "the background's size";

    // Widgets by id and captions by text: where they lie and what they show.
    const std::tuple<const char*, juce::Rectangle<int>, const char*> places[] = {
        {"midiOutCombo", {131, 18, 215, 19}, "(none)"},           {"openButton", {34, 15, 81, 25}, "file OPEN"},
        {"saveButton", {34, 50, 81, 25}, "file SAVE"},            {"sendButton", {131, 50, 215, 25}, "SEND"},
        {"programCombo", {24, 109, 114, 15}, "Program 1"},        {"programTypeCombo", {24, 131, 184, 15}, "Loop Portamento"},
        {"stepCountCombo", {277, 131, 99, 15}, "4 Steps"},        {"baseSettingCombo", {128, 163, 254, 15}, "Octave Up"},
        {"durationCombo", {128, 184, 60, 15}, "1.32"},            {"stepCombo1", {105, 212, 354, 15}, "Unison"},
        {"stepCombo2", {105, 231, 354, 15}, "Octave || +12 half steps"}, {"stepCombo16", {105, 497, 354, 15}, "Unison"},
        {"midiChannelCombo", {217, 535, 46, 15}, "1"},            {"outputTypeCombo", {119, 555, 144, 15}, "Whammy Only"},
        {"loopPortamentoCombo", {283, 535, 202, 15}, "medium Loop Portamento"},
        {"stepPortamentoCombo", {283, 555, 202, 15}, "medium Step Portamento"},
        {nullptr, {24, 163, 99, 15}, "Base Setting:"},            {nullptr, {24, 184, 99, 15}, "Duration (sec):"},
        {nullptr, {39, 212, 61, 15}, "Step 1:"},                  {nullptr, {39, 497, 61, 15}, "Step 16:"},
        {nullptr, {24, 535, 188, 15}, "Whammy MIDI Base Channel:"}, {nullptr, {24, 555, 90, 15}, "Output Type:"},
        {nullptr, {7, 580, 250, 24}, "Quorva MIDI 2 - Programming Utility - v1.0"},
    };
    for (const auto& [id, bounds, shows] : places) {
        juce::Component* c = id ? panel().findChildWithID(id) : findLabel(panel(), shows);
        ASSERT_NE(c, nullptr) << shows;
        EXPECT_TRUE(c->isVisible() && c->getBounds() == bounds) << shows << " lies at " << c->getBounds().toString();
        const auto* box = dynamic_cast<juce::ComboBox*>(c);
        const auto* b = dynamic_cast<juce::Button*>(c);
        EXPECT_EQ(box ? box->getText() : b ? b->getButtonText() : juce::String(shows), shows) << shows;
    }
    juce::Label* caption = findLabel(panel(), "Base Setting:");
    EXPECT_EQ(caption->getJustificationType().getFlags(), juce::Justification::centredRight);
    EXPECT_EQ(caption->getFont().getHeight(), 13.0f);
    EXPECT_EQ(caption->findColour(juce::Label::textColourId), juce::Colours::black);
    EXPECT_EQ(button("sendButton").getTooltip(), "send the settings to the device");
    EXPECT_EQ(combo("midiOutCombo").getTooltip(), "select the MIDI port to which your device is connected");
    EXPECT_EQ(button("sendButton").findColour(juce::TextButton::buttonColourId), disabledGrey);
    saveScreenshot(panel(), "screenshot-panel-start.png");
}

TEST_F(Editor, EachPickChangesExactlyItsBytesAndTheEnableRulesFollow)
{
    start();
    Bytes before = message();
    pick("programCombo", "Program 2");
    EXPECT_EQ(message(), before) << "selecting a program changes nothing";
    EXPECT_EQ(title(), "Quorva MIDI 2 - v1.0");
    const std::size_t b = blockOf(2);
    const std::tuple<const char*, const char*, std::size_t, int> picks[] = {   // combo, item, offset, value
        {"programTypeCombo", "Step Portamento", b + 1, 3},          {"stepCountCombo", "16 Steps", b + 34, 16},
        {"programTypeCombo", "Loop, No Portamento", b + 1, 0},      {"durationCombo", "2.04", b + 35, 76},
        {"stepCombo6", "4th || +5 half steps", pitchOf(2, 5), 43},  {"loopPortamentoCombo", "slow Loop Portamento", 541, 45},
        {"stepPortamentoCombo", "fast Step Portamento", 542, 25},   {"outputTypeCombo", "Whammy & Clock", 543, 5},
        {"midiChannelCombo", "15", 544, 14},
    };
    for (const auto& [id, item, offset, value] : picks) {
        before = message();
        pick(id, item);
        EXPECT_EQ(changedBytes(before, message()), Offsets{offset}) << id << " = " << item;
        EXPECT_EQ(message()[offset], value) << id << " = " << item;
    }

    // A new base setting: all pitches back to 0, the setting repeated in every step.
    before = message();
    pick("baseSettingCombo", "Dive Bomb");
    for (std::size_t i : changedBytes(before, message()))
        EXPECT_TRUE(i >= pitchOf(2, 0) && i <= settingOf(2, 15)) << "byte " << i << " is outside program 2's steps";
    for (int s = 0; s < 16; ++s) {
        EXPECT_EQ(message()[pitchOf(2, s)] * 1000 + message()[settingOf(2, s)], 6) << "pitch 0, setting 6 in step " << s + 1;
        EXPECT_EQ(step(s).getText(), "Unison") << "step " << s + 1;
    }
    EXPECT_EQ(step(0).getNumItems(), QuorvaStepsDiveBombCount);

    // A "Different Settings" program: a step pick writes the step's setting byte.
    pick("programCombo", "Program 7");
    EXPECT_EQ(step(2).getText(), "5th Up/7th Up Harmony");
    before = message();
    pick("stepCombo1", "Effect Off");
    EXPECT_EQ(changedBytes(before, message()), Offsets{settingOf(7, 0)});
    EXPECT_EQ(message()[settingOf(7, 0)], 17);

    // Program 1 turned "Different Settings" and back: the step lists swap both ways.
    pick("programCombo", "Program 1");
    before = message();
    pick("programTypeCombo", "Different Settings");
    auto shows = [this](const char* id) {
        return combo(id).getSelectedId() == 0 ? combo(id).getTextWhenNothingSelected() : "item " + combo(id).getText();
    };
    EXPECT_EQ(shows("baseSettingCombo"), "[not applicable]");
    EXPECT_EQ(shows("durationCombo"), "[n/a]");
    for (int s = 0; s < 16; ++s) {
        EXPECT_EQ(step(s).getNumItems(), QuorvaStepsDifferentSettingCount) << "the settings list, the one of that length; step " << s + 1;
        EXPECT_EQ(step(s).getText(), "Octave Up") << "the setting bytes of a loaded other type hold 3";
        EXPECT_EQ(message()[pitchOf(1, s)], 0) << "a type-5 program sends pitch 0";
    }
    EXPECT_EQ(message()[blockOf(1) + 35], before[blockOf(1) + 35]) << "the duration byte is kept";
    pick("stepCombo2", "Drop Tune");
    EXPECT_EQ(message()[settingOf(1, 1)], 7);
    saveScreenshot(panel(), "screenshot-panel-type5.png");

    pick("programTypeCombo", "Loop Portamento");
    EXPECT_EQ(shows("baseSettingCombo"), "item Octave Up") << "the base setting was kept";
    EXPECT_EQ(shows("durationCombo"), "item 1.32");
    EXPECT_EQ(step(1).getText(), "Octave || +12 half steps") << "the pitch bytes and their list come back";
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(message()[pitchOf(1, s)], before[pitchOf(1, s)]) << "pitch of step " << s + 1;

    // What each type, a step count and "Clock Only" enable.
    const std::tuple<const char*, bool, bool> types[] = {// type, base setting, duration
        {"Loop Portamento", true, true}, {"Loop, No Portamento", true, true}, {"Step Portamento", true, false},
        {"Step, No Portamento", true, false}, {"Different Settings", false, false}};
    for (const auto& [type, baseSetting, duration] : types) {
        pick("programTypeCombo", type);
        EXPECT_EQ(combo("baseSettingCombo").isEnabled(), baseSetting) << type;
        EXPECT_EQ(combo("durationCombo").isEnabled(), duration) << type;
        EXPECT_EQ(combo("durationCombo").findColour(juce::ComboBox::backgroundColourId), duration ? enabledGrey : disabledGrey) << type;
        EXPECT_EQ(combo("durationCombo").getSelectedId() != 0, duration) << type << ": a type without duration shows none";
    }
    pick("programTypeCombo", "Loop Portamento");
    before = message();
    pick("stepCountCombo", "5 Steps");
    EXPECT_EQ(changedBytes(before, message()), Offsets{blockOf(1) + 34}) << "a step count changes no step byte";
    auto enabled = [this] {   // the editor's combo boxes, then the steps
        std::string on;
        for (const char* id : programCombos)
            on += combo(id).isEnabled() ? "1" : "0";
        for (int s = 0; s < 16; ++s)
            on += (s ? "" : " ") + std::string(step(s).isEnabled() ? "1" : "0");
        return on;
    };
    EXPECT_EQ(enabled(), "11111111 1111100000000000");
    pick("outputTypeCombo", "Clock Only");
    EXPECT_EQ(enabled(), "00000000 0000000000000000") << "Clock Only";
    for (const char* id : programCombos)
        EXPECT_EQ(combo(id).findColour(juce::ComboBox::backgroundColourId), disabledGrey) << id;
    EXPECT_TRUE(combo("outputTypeCombo").isEnabled() && combo("midiOutCombo").isEnabled());
    EXPECT_TRUE(button("openButton").isEnabled() && button("saveButton").isEnabled());
    saveScreenshot(panel(), "screenshot-panel-clock-only.png");
    pick("outputTypeCombo", "Whammy Only");
    EXPECT_EQ(enabled(), "11111111 1111100000000000") << "after leaving Clock Only";
}

TEST_F(Editor, SendSendsTheMessageOnceToTheChosenPortThenWaitsAndRefusesBytesMidiCannotCarry)
{
    start();
    juce::TextButton& send = button("sendButton");
    pick("midiOutCombo", "Synth B");
    EXPECT_TRUE(midi->IsOpen(synth[1]) && !midi->IsOpen(synth[0]) && send.isEnabled());
    pick("stepCountCombo", "6 Steps");
    EXPECT_EQ(answering({"No"}, [&] { click("sendButton"); }), Texts{sendQuestion});
    EXPECT_TRUE(midi->SentLog().empty()) << "a declined send sends nothing";
    answering({"Yes"}, [&] { click("sendButton"); });
    EXPECT_EQ(midi->SentLog().size(), 1u) << "once, to the chosen port only";
    EXPECT_EQ(midi->SentTo(synth[1]), std::vector<Bytes>{message()}) << "exactly the 546 bytes of the editor";
    EXPECT_EQ(send.getButtonText(), "(waiting for device)");
    EXPECT_FALSE(send.isEnabled());
    const auto sentAt = juce::Time::getMillisecondCounter();
    pumpMessages(10000, [&send] { return send.isEnabled(); });
    EXPECT_TRUE(send.isEnabled()) << "the wait ends after 5 s";
    EXPECT_GE(juce::Time::getMillisecondCounter() - sentAt, 4900u) << "the wait ended early";
    EXPECT_EQ(send.getButtonText(), "SEND");

    // A refused send says so and leaves SEND idle.
    for (auto failure : {TestMidi::SendFailure::Refuse, TestMidi::SendFailure::Throw}) {
        midi->SetSendFailure(synth[1], failure);
        EXPECT_EQ(answering({"Yes", "OK"}, [&] { click("sendButton"); }),
                  (Texts{sendQuestion, sendError + "Please verify the MIDI port."}));
        EXPECT_TRUE(send.isEnabled() && !panel().isSending());
        EXPECT_EQ(send.getButtonText(), "SEND");
    }
    EXPECT_EQ(midi->SentLog().size(), 1u);
    pick("midiOutCombo", "(none)");
    EXPECT_FALSE(send.isEnabled()) << "no port, no SEND";
    pick("midiOutCombo", "Synth B");
    midi->SetSendFailure(synth[1], TestMidi::SendFailure::None);

    // A damaged or hand-made file can carry bytes that are no row of their list, and bytes no SysEx
    // body may hold. It loads as it stands, but SEND refuses it before the question, says where, and
    // puts nothing on the wire: an inner 0xF7 would end the message there and the rest reach the
    // device as other messages.
    Bytes odd = defaultSettings();
    odd[541] = 99;                  // no loop portamento rate
    odd[543] = 0x90;                // no output type, and no data byte
    odd[544] = 20;                  // channel 21 does not exist
    odd[blockOf(1) + 1] = 4;        // no program type
    odd[blockOf(1) + 34] = 1;       // no step count
    odd[blockOf(1) + 35] = 9;       // no duration
    odd[pitchOf(1, 0)] = 5;         // no row of the "Octave Up" steps
    odd[pitchOf(3, 1)] = 0xF7;
    answering({"No"}, [&] { drop(writeFile("odd.syx", odd)); });   // the edits above are not saved
    ASSERT_EQ(message(), odd) << "loaded as it stands";
    for (const char* id : {"loopPortamentoCombo", "outputTypeCombo", "midiChannelCombo", "programTypeCombo", "stepCountCombo",
                           "durationCombo", "stepCombo1"})
        EXPECT_EQ(combo(id).getSelectedId(), 0) << id << " shows no item";
    EXPECT_EQ(answering({"OK"}, [&] { click("sendButton"); }),
              Texts{sendError + "The value 0xF7 of program 3, step 2 (byte 78 of 546) is above 0x7F, the highest value MIDI "
                                "can carry. So is 1 more value.\nNothing was sent."});
    EXPECT_EQ(midi->SentLog().size(), 1u) << "the port received something";
    EXPECT_TRUE(send.isEnabled() && !panel().isSending());
    EXPECT_EQ(send.getButtonText(), "SEND");

    // Every global pick rewrites all four global bytes: those showing no item keep their byte.
    // Values picked in the places MIDI cannot carry make the message sendable again.
    pick("outputTypeCombo", "Whammy & Clock");
    pick("stepPortamentoCombo", "slow Step Portamento");
    pick("stepCombo2", "5th || +7 half steps");
    pick("programCombo", "Program 3");
    pick("stepCombo2", "Octave || +12 half steps");
    Bytes expected = odd;
    expected[543] = 5;
    expected[542] = 80;
    expected[pitchOf(1, 1)] = 64;
    expected[pitchOf(3, 1)] = message()[pitchOf(3, 1)];
    EXPECT_EQ(changedBytes(expected, message()), Offsets());
    EXPECT_EQ(answering({"Yes"}, [&] { click("sendButton"); }), Texts{sendQuestion});
    EXPECT_EQ(midi->SentTo(synth[1]).back(), message());
}
