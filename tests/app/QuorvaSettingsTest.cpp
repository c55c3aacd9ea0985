#include "SettingsBytes.h"

#include "core/TextHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace {

using Global = QuorvaSettings::Global;
using Field = QuorvaSettings::ProgramField;
constexpr int Size = QUORVA_TEMPLATE_SIZE_BYTES;

// A message as the controller expects it: type-5 programs with pitch 0, every other program with
// one setting in all sixteen steps.
Bytes canonicalMessage()
{
    Bytes m(Size, 0);
    m.front() = 0xF0;
    m.back() = 0xF7;
    for (int p = 1; p <= 15; ++p) {
        const int type = QuorvaProgramTypeTable[p % QuorvaProgramTypeCount].value;
        m[blockOf(p)] = (unsigned char)p;
        m[blockOf(p) + 1] = (unsigned char)type;
        for (int s = 0; s < 16; ++s) {
            m[pitchOf(p, s)] = type == 5 ? 0 : (unsigned char)(7 * s + p);
            m[settingOf(p, s)] = (unsigned char)(type == 5 ? (s + p) % 18 : QuorvaBaseSettingTable[p - 1].value);
        }
        m[blockOf(p) + 34] = (unsigned char)(2 + p % 15);
        m[blockOf(p) + 35] = (unsigned char)(17 + 7 * p);
    }
    const unsigned char globals[] = {25, 80, 5, 9};   // medium, slow, "Whammy & Clock", channel 10
    std::copy(std::begin(globals), std::end(globals), m.begin() + 541);
    return m;
}

// resources/defaults.syx, what the program starts with when there is no last file, is made here
// from the settings code itself, so it is a valid message by construction: run the DefaultsFile
// test with QUORVA_WRITE_DEFAULTS=1 to write it again after changing the programs below.
const std::string defaultsPath = std::string(QUORVA_SOURCE_DIR) + "/resources/defaults.syx";

struct DefaultProgram
{
    int type;
    int baseSetting;   // unused by "Different Settings"
    int steps;
    int duration;      // kept even by types that have none, so every byte shows a row
    std::vector<int> rows; // rows of the step table in use; later steps repeat the first
};

enum Type { LoopPortamento = 2, Loop = 0, StepPortamento = 3, Step = 1, DifferentSettings = 5 };

// Rows of the up and down tables count half steps; the harmony tables list their intervals in order.
const DefaultProgram defaultPrograms[15] = {
    {LoopPortamento, 3, 4, 64, {0, 12, 0, 12}},          // Octave Up: octave swell
    {Loop, 3, 8, 75, {0, 4, 7, 12, 12, 7, 4, 0}},         // Octave Up: major arpeggio
    {StepPortamento, 2, 3, 64, {0, 12, 24}},             // 2 Octaves Up: climb
    {Step, 4, 4, 64, {0, 5, 7, 12}},                     // Octave Down: fifth and octave below
    {LoopPortamento, 6, 2, 87, {0, 35}},                 // Dive Bomb: slow dive
    {Step, 7, 3, 64, {0, 1, 2}},                         // Drop Tune
    {DifferentSettings, 3, 4, 64, {3, 4, 11, 17}},       // Octave Up, Octave Down, 5th/7th Up, Off
    {LoopPortamento, 16, 4, 64, {12, 24, 12, 0}},        // Octave Down/Octave Up Harmony
    {Step, 15, 2, 64, {0, 2}},                           // 5th Down/4th Down Harmony
    {Step, 14, 2, 64, {0, 2}},                           // 4th Down/3rd Down Harmony
    {Loop, 13, 4, 64, {0, 1, 2, 3}},                     // 5th Up/7th Up Harmony
    {StepPortamento, 12, 3, 64, {0, 1, 2}},              // 5th Up/6th Up Harmony
    {Step, 11, 2, 64, {0, 2}},                           // 4th Up/5th Up Harmony
    {Loop, 9, 2, 64, {0, 1}},                            // flat 3rd Up/3rd Up Harmony
    {LoopPortamento, 5, 2, 95, {0, 24}},                 // 2 Octaves Down
};

QuorvaSettings buildDefaults()
{
    QuorvaSettings settings;
    for (int p = 1; p <= 15; ++p) {
        const DefaultProgram& d = defaultPrograms[p - 1];
        settings.applyProgramValue(p, Field::Type, d.type);
        settings.applyBaseSetting(p, d.baseSetting);
        settings.applyProgramValue(p, Field::StepCount, d.steps);
        settings.applyProgramValue(p, Field::Duration, d.duration);
        const QuorvaTable table = settings.stepTable(p);
        for (std::size_t s = 0; s < QUORVA_STEP_COUNT; ++s) {
            const int row = d.rows[s < d.rows.size() ? s : 0];
            EXPECT_LT(row, table.count) << "program " << p << " step " << s;
            settings.applyStep(p, int(s), table.table[row].value);
        }
    }
    settings.applyGlobalValue(Global::LoopPortamentoRate, 25);   // medium
    settings.applyGlobalValue(Global::StepPortamentoRate, 50);   // medium
    settings.applyGlobalValue(Global::OutputType, 4);            // "Whammy Only"
    settings.applyGlobalValue(Global::MidiChannel, 0);           // channel 1
    return settings;
}

Bytes loaded(const Bytes& message)
{
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    return savedBy(settings);
}

// What SEND is told about a message with bytes no SysEx body may hold; empty when it may be sent.
std::string sendRefusal(const Bytes& message)
{
    const std::string refusal = ErrorText([&] { QuorvaSettings::checkSendable(message.data(), Size); });
    return refusal == "(no exception)" ? "" : refusal;
}

} // namespace

TEST(QuorvaSettings, RefusesWhatIsNoSettingsMessageAndChangesNothing)
{
    const Bytes good = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(good.data(), Size);
    settings.applyBaseSetting(4, 12);
    const Bytes before(settings.getTemplateData(), settings.getTemplateData() + Size), savedBefore = savedBy(settings);

    auto with = [&](std::size_t at, unsigned char value, std::size_t at2 = 0, unsigned char value2 = 0) {
        Bytes m = good;
        m[at] = value;
        m[at2] = at2 ? value2 : m[at2];
        return m;
    };
    Bytes longer = good;
    longer.push_back(0xF7);
    const std::pair<Bytes, const char*> cases[] = {
        {longer, "wrong size"},
        {Bytes(good.begin() + 1, good.end() - 1), "wrong size"},   // the size is looked at before the markers
        {Bytes(), "wrong size"},
        {with(Size - 1, 0xF8), "MIDI markers missing"},
        {with(0, 0xF1), "MIDI markers missing"},
        {with(Size - 1, 0xF8, blockOf(1), 9), "MIDI markers missing"},   // the markers before the blocks
        {with(blockOf(2), 3), "invalid program marker"},
        {with(blockOf(15), 0), "invalid program marker"},
    };
    for (const auto& [message, reason] : cases)
        EXPECT_EQ(ErrorText([&] { settings.loadFromMem(message.data(), (int)message.size()); }),
                  std::string("Not a valid tempolate file: ") + reason);
    EXPECT_EQ(Bytes(settings.getTemplateData(), settings.getTemplateData() + Size), before) << "a refused message changed the editor";
    EXPECT_EQ(savedBy(settings), savedBefore) << "a refused message changed what is saved";
    EXPECT_EQ(settings.getBaseSetting(4), 12);
}

TEST(QuorvaSettings, LoadThenSaveReproducesACanonicalMessageNormalisesTheRestAndKeepsBytesThatAreNoRow)
{
    Bytes message = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    EXPECT_EQ(savedBy(settings), message);
    // A step shows the byte its program type uses; a type-5 program has the default base setting.
    for (int p = 1; p <= 15; ++p) {
        const bool perStep = message[blockOf(p) + 1] == 5;
        EXPECT_EQ(settings.hasStepSettings(p), perStep) << "program " << p;
        EXPECT_EQ(settings.getBaseSetting(p), perStep ? 3 : message[settingOf(p, 0)]) << "program " << p;
        EXPECT_EQ(settings.getStep(p, 15), message[perStep ? settingOf(p, 15) : pitchOf(p, 15)]) << "program " << p;
    }

    // A one-setting program whose steps differ, and a type-5 program with pitches, come out normalised.
    message[blockOf(2) + 1] = 2;   // "Loop Portamento"
    message[blockOf(3) + 1] = 5;   // "Different Settings"
    for (int s = 0; s < 16; ++s) {
        message[settingOf(2, s)] = s == 0 ? 4 : 9;
        message[pitchOf(3, s)] = (unsigned char)(10 + s);
        message[settingOf(3, s)] = (unsigned char)s;
    }
    const Bytes out = loaded(message);
    for (int s = 0; s < 16; ++s) {
        EXPECT_EQ(out[settingOf(2, s)], 4) << "step 1's setting is the base setting, repeated; step " << s;
        EXPECT_EQ(out[pitchOf(2, s)], message[pitchOf(2, s)]) << "step " << s;
        EXPECT_EQ(out[pitchOf(3, s)], 0) << "a type-5 program sends pitch 0; step " << s;
        EXPECT_EQ(out[settingOf(3, s)], s) << "step " << s;
    }
    // Markers are written whatever the editor holds, so even an empty one saves a message that loads.
    const Bytes blank = savedBy(QuorvaSettings());
    EXPECT_EQ(blank.front() * 1000 + blank.back(), 0xF0 * 1000 + 0xF7);
    for (int p = 1; p <= 15; ++p)
        EXPECT_EQ(blank[blockOf(p)], p);
    EXPECT_NO_THROW(loaded(blank));

    // Bytes that are no row are not shown and kept: a combo box that shows no item gives -1, and the
    // byte it stands for must keep what the file carried instead of turning into 0xFF in the body.
    message[543] = 7;               // no output type
    message[blockOf(4) + 1] = 4;    // no program type
    message[blockOf(4) + 35] = 3;   // below the shortest duration
    settings.loadFromMem(message.data(), Size);
    EXPECT_TRUE(settings.isShown(Global::MidiChannel) && settings.isShown(4, Field::StepCount));
    EXPECT_FALSE(settings.isShown(Global::OutputType) || settings.isShown(4, Field::Type) || settings.isShown(4, Field::Duration));
    const Bytes asItStands = savedBy(settings);
    EXPECT_EQ(asItStands[543], 7);
    for (int value : {QuorvaSettings::NoValue, -200, 0x80, 0xFF, 1000}) {
        settings.applyGlobalValue(Global::OutputType, value);
        settings.applyGlobalValue(Global::MidiChannel, value);
        settings.applyStep(1, 3, value);
        settings.applyProgramValue(1, Field::StepCount, value);
        settings.applyBaseSetting(1, value);
    }
    EXPECT_EQ(changedBytes(asItStands, savedBy(settings)), Offsets());

    // A file whose step 1 carried a high setting byte gets it back there, and nowhere else.
    message[settingOf(1, 0)] = 0x90;
    const Bytes high = loaded(message);
    EXPECT_EQ(high[settingOf(1, 0)], 0x90);
    EXPECT_EQ(introducedHighBytes(message, high), "");

    // A base setting that is no row pairs with the first row's steps, as its combo box shows.
    settings.applyBaseSetting(1, 0);
    EXPECT_EQ(settings.stepTable(1).table, QuorvaSteps2OctavesUpTable);
    settings.applyProgramValue(1, Field::Type, 5);
    EXPECT_EQ(settings.stepTable(1).table, QuorvaStepsDifferentSettingTable);
}

TEST(QuorvaSettings, AMessageWithBytesMidiCannotCarryIsNotSendableAndSaysWhere)
{
    const Bytes good = canonicalMessage();
    ASSERT_EQ(good[blockOf(1) + 1] * 100 + good[blockOf(4) + 1], 0 * 100 + 5) << "program 1 has one setting, program 4 one per step";
    EXPECT_EQ(sendRefusal(good), "");
    Bytes highest = good;
    for (std::size_t i = 1; i + 1 < highest.size(); ++i)
        highest[i] = 0x7F;
    EXPECT_EQ(sendRefusal(highest), "") << "0x7F is still a data byte";

    const std::pair<std::size_t, std::string> places[] = {
        {pitchOf(1, 4), "program 1, step 5"},
        {settingOf(1, 0), "program 1, base setting"},
        {settingOf(1, 9), "program 1, base setting"},
        {settingOf(4, 15), "program 4, step 16"},
        {pitchOf(4, 0), "program 4, step 1 pitch"},
        {blockOf(6), "program 6, program number"},
        {blockOf(15) + 1, "program 15, program type"},
        {blockOf(2) + 34, "program 2, step count"},
        {blockOf(15) + 35, "program 15, duration"},
        {541, "the loop portamento rate"},
        {542, "the step portamento rate"},
        {543, "the output type"},
        {544, "the MIDI base channel"},
    };
    for (const auto& [at, place] : places) {
        Bytes m = good;
        m[at] = 0x80;
        EXPECT_NE(sendRefusal(m).find(" of " + place + " (byte " + std::to_string(at + 1) + " of 546) "), std::string::npos)
            << "byte " << at << ": " << sendRefusal(m);
    }

    // An end marker inside is the worst case: it would end the message there.
    Bytes inner = good;
    inner[pitchOf(3, 4)] = 0xF7;
    EXPECT_EQ(sendRefusal(inner), "The value 0xF7 of program 3, step 5 (byte 84 of 546) is above 0x7F, the highest value MIDI can carry.");
    inner[543] = 0xFF;
    inner[blockOf(1) + 35] = 0x90;
    EXPECT_NE(sendRefusal(inner).find("of program 1, duration (byte 37 of 546) is above 0x7F, the highest value MIDI can carry. "
                                      "So are 2 more values."),
              std::string::npos) << "the first is named, the rest counted: " << sendRefusal(inner);
}

TEST(QuorvaSettings, ContractViolationsStopTheProgram)
{
    QuorvaSettings settings;
    unsigned char small[Size - 1];
    EXPECT_DEATH(settings.saveToMem(small, Size - 1), "size == QUORVA_TEMPLATE_SIZE_BYTES");
    EXPECT_DEATH(settings.applyStep(1, QUORVA_STEP_COUNT, 0), "step >= 0 && step < QUORVA_STEP_COUNT");
    EXPECT_DEATH(settings.applyStep(1, -1, 0), "step >= 0 && step < QUORVA_STEP_COUNT");
    EXPECT_DEATH(QuorvaSettings::checkSendable(small, Size - 1), "size == QUORVA_TEMPLATE_SIZE_BYTES");
}

// Random messages, most with valid frame and markers: whatever is accepted saves to a message that
// loads again and saves the same once more, with no high byte the input did not have, also after
// edits with values a combo box showing no item would pass. Programs outside 1..15 (no program
// selected) read as no value and change nothing.
TEST(QuorvaSettings, RandomMessagesRoundTrip)
{
    std::mt19937 random(0x51A7E5u);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    int accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        Bytes input(Size);
        const int mask = below(2) ? 0xFF : 0x7F;   // half of them keep to data bytes, as real files do
        for (unsigned char& b : input)
            b = (unsigned char)(below(256) & mask);
        if (below(10) < 9) {
            input.front() = 0xF0;
            input.back() = 0xF7;
            for (int p = 1; p <= 15; ++p) {
                input[blockOf(p)] = (unsigned char)p;
                input[blockOf(p) + 1] = below(10) < 3 ? 5 : input[blockOf(p) + 1];
            }
        }
        QuorvaSettings settings;
        try {
            settings.loadFromMem(input.data(), Size);
        } catch (const Tr::Exception&) {
            ASSERT_EQ(savedBy(settings), savedBy(QuorvaSettings())) << "round " << round << ": refused but changed";
            continue;
        }
        ++accepted;
        const Bytes saved = savedBy(settings);
        ASSERT_EQ(introducedHighBytes(input, saved), "") << "round " << round;
        ASSERT_EQ(sendRefusal(saved).empty(), introducedHighBytes({}, saved).empty())
            << "round " << round << ": a loaded message is sendable exactly when it carries no high byte";
        ASSERT_EQ(loaded(saved), saved) << "round " << round << ": second save differs";

        for (int edit = 0; edit < 8; ++edit) {
            const int p = below(19) - 2, value = below(263) - 2, kind = below(5);
            const Bytes before = savedBy(settings);
            switch (kind) {
            case 0: settings.applyGlobalValue(Global(541 + edit % 4), value); break;
            case 1: settings.applyProgramValue(p, edit % 2 ? Field::Type : Field::StepCount, value); break;
            case 2: settings.applyStep(p, below(16), value); break;
            case 3: settings.applyBaseSetting(p, value); break;
            default: settings.resetSteps(p); break;
            }
            if (p < 1 || p > 15) {
                ASSERT_EQ(std::make_pair(settings.getStep(p, 0), settings.getBaseSetting(p)), std::make_pair(-1, -1)) << p;
                ASSERT_TRUE(kind == 0 || changedBytes(before, savedBy(settings)).empty()) << "program " << p;
            }
        }
        const Bytes edited = savedBy(settings);
        ASSERT_EQ(introducedHighBytes(input, edited), "") << "round " << round << " after edits";
        ASSERT_NO_THROW(loaded(edited)) << "round " << round;
    }
    EXPECT_GT(accepted, 3000);
}

TEST(DefaultsFile, IsTheGeneratedMessageAndEveryByteShowsARow)
{
    const Bytes generated = savedBy(buildDefaults());
    if (const char* write = std::getenv("QUORVA_WRITE_DEFAULTS"); write && std::string(write) == "1")
        TempFolder::writeFile(defaultsPath, std::string(generated.begin(), generated.end()));
    const Bytes file = readBytes(defaultsPath);
    EXPECT_EQ(file, generated) << defaultsPath << " is missing or stale: run with QUORVA_WRITE_DEFAULTS=1";

    QuorvaSettings settings;
    ASSERT_NO_THROW(settings.loadFromMem(file.data(), int(file.size())));
    EXPECT_EQ(introducedHighBytes({}, file), "");
    for (int g = 541; g <= 544; ++g)
        EXPECT_TRUE(settings.isShown(Global(g))) << "global byte " << g;
    const QuorvaTable bases{QuorvaBaseSettingTable, QuorvaBaseSettingCount};
    for (int p = 1; p <= 15; ++p) {
        for (Field f : {Field::Type, Field::StepCount, Field::Duration})
            EXPECT_TRUE(settings.isShown(p, f)) << "program " << p << " field " << int(f);
        EXPECT_TRUE(settings.hasStepSettings(p) || bases.findRow(settings.getBaseSetting(p)) >= 0) << "program " << p;
        for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
            EXPECT_GE(settings.stepTable(p).findRow(settings.getStep(p, s)), 0) << "program " << p << " step " << s;
    }
}
