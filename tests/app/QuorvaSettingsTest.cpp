#include "SettingsBytes.h"

#include "core/TrException.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    m[0] = 0xF0;
    m[Size - 1] = 0xF7;
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

Bytes loaded(const Bytes& message)
{
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    return savedBy(settings);
}

} // namespace

TEST(QuorvaSettings, RefusesWhatIsNoSettingsMessageAndChangesNothing)
{
    const Bytes good = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(good.data(), Size);
    settings.applyBaseSetting(4, 12);
    const Bytes before(settings.getTemplateData(), settings.getTemplateData() + Size);
    const Bytes savedBefore = savedBy(settings);

    auto with = [&](std::size_t at, unsigned char value) {
        Bytes m = good;
        m[at] = value;
        return m;
    };
    Bytes longer = good;
    longer.push_back(0xF7);
    Bytes shortNoMarkers(good.begin() + 1, good.end() - 1);   // the size is looked at first
    Bytes markersAndBlocks = with(Size - 1, 0xF8);            // markers are looked at before blocks
    markersAndBlocks[blockOf(1)] = 9;
    const std::pair<Bytes, const char*> cases[] = {
        {longer, "wrong size"},
        {shortNoMarkers, "wrong size"},
        {Bytes(), "wrong size"},
        {with(Size - 1, 0xF8), "MIDI markers missing"},
        {with(0, 0xF1), "MIDI markers missing"},
        {markersAndBlocks, "MIDI markers missing"},
        {with(blockOf(2), 3), "invalid program marker"},
        {with(blockOf(15), 0), "invalid program marker"},
    };
    for (const auto& [message, reason] : cases) {
        try {
            settings.loadFromMem(message.data(), (int)message.size());
            ADD_FAILURE() << "accepted, expected " << reason;
        } catch (const Tr::Exception& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Not a valid tempolate file: ") + reason);
        }
    }
    EXPECT_EQ(Bytes(settings.getTemplateData(), settings.getTemplateData() + Size), before)
        << "a refused message changed the template";
    EXPECT_EQ(savedBy(settings), savedBefore) << "a refused message changed what is saved";
    EXPECT_EQ(settings.getBaseSetting(4), 12);
}

TEST(QuorvaSettings, LoadThenSaveReproducesACanonicalMessage)
{
    const Bytes message = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    EXPECT_EQ(savedBy(settings), message);

    // The editor's copy keeps setting 3 in non-type-5 programs and pitch 0 in type-5 ones; what a
    // step shows is the byte the program type uses.
    for (int p = 1; p <= 15; ++p) {
        const bool perStep = message[blockOf(p) + 1] == 5;
        EXPECT_EQ(settings.hasStepSettings(p), perStep) << "program " << p;
        EXPECT_EQ(settings.getBaseSetting(p), perStep ? 3 : message[settingOf(p, 0)]) << "program " << p;
        for (int s = 0; s < 16; ++s) {
            const std::size_t unused = perStep ? pitchOf(p, s) : settingOf(p, s);
            EXPECT_EQ(settings.getTemplateData()[unused], perStep ? 0 : 3) << "program " << p << " step " << s;
            EXPECT_EQ(settings.getStep(p, s), message[perStep ? settingOf(p, s) : pitchOf(p, s)])
                << "program " << p << " step " << s;
        }
    }
}

TEST(QuorvaSettings, LoadAndSaveNormaliseAndRewriteTheMarkers)
{
    Bytes message = canonicalMessage();
    const int loop = 2, multi = 3;   // a "Loop Portamento" and a "Different Settings" program
    message[blockOf(loop) + 1] = 2;
    message[blockOf(multi) + 1] = 5;
    for (int s = 0; s < 16; ++s) {
        message[settingOf(loop, s)] = s == 0 ? 4 : 9;
        message[pitchOf(multi, s)] = (unsigned char)(10 + s);
        message[settingOf(multi, s)] = (unsigned char)s;
    }
    const Bytes out = loaded(message);
    for (int s = 0; s < 16; ++s) {
        EXPECT_EQ(out[settingOf(loop, s)], 4) << "step 1's setting is the base setting, repeated; step " << s;
        EXPECT_EQ(out[pitchOf(loop, s)], message[pitchOf(loop, s)]) << "step " << s;
        EXPECT_EQ(out[pitchOf(multi, s)], 0) << "a type-5 program sends pitch 0; step " << s;
        EXPECT_EQ(out[settingOf(multi, s)], s) << "step " << s;
    }

    // Markers are written whatever the template holds, so even an empty editor saves a message
    // that loads.
    const Bytes blank = savedBy(QuorvaSettings());
    EXPECT_EQ(blank[0], 0xF0);
    EXPECT_EQ(blank[Size - 1], 0xF7);
    for (int p = 1; p <= 15; ++p)
        EXPECT_EQ(blank[blockOf(p)], p);
    EXPECT_NO_THROW(loaded(blank));
}

TEST(QuorvaSettings, EachApplyWritesItsByteAndProgramsOutside1To15NothingAtAll)
{
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(2), 37);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(15), 505);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(0), -1);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(16), -1);

    const Bytes message = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    for (int program : {0, 16, -1}) {
        EXPECT_EQ(settings.getProgramValue(program, Field::Type), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.getBaseSetting(program), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.getStep(program, 0), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.stepTable(program).count, 0);
        settings.applyProgramValue(program, Field::Type, 1);
        settings.applyStep(program, 0, 1);
        settings.applyBaseSetting(program, 5);
        settings.resetSteps(program);
    }
    EXPECT_EQ(savedBy(settings), message);

    settings.applyProgramValue(7, Field::Type, 0);
    settings.applyProgramValue(7, Field::StepCount, 5);
    settings.applyProgramValue(7, Field::Duration, 64);
    settings.applyStep(7, 15, 127);
    const int globals[] = {45, 25, 6, 14};
    for (int g = 0; g < 4; ++g)
        settings.applyGlobalValue(Global(541 + g), globals[g]);
    settings.resetSteps(8);
    settings.applyBaseSetting(8, 16);
    Bytes expected = message;
    expected[blockOf(7) + 1] = 0;
    expected[blockOf(7) + 34] = 5;
    expected[blockOf(7) + 35] = 64;
    expected[pitchOf(7, 15)] = 127;
    for (int g = 0; g < 4; ++g)
        expected[541 + std::size_t(g)] = (unsigned char)globals[g];
    for (int s = 0; s < 16; ++s) {
        expected[pitchOf(8, s)] = 0;
        expected[settingOf(8, s)] = 16;
    }
    EXPECT_EQ(changedBytes(expected, savedBy(settings)), std::set<std::size_t>()) << "offsets written wrongly";

    // A "Different Settings" program edits the setting bytes; switching back shows the pitches.
    settings.applyProgramValue(8, Field::Type, 5);
    EXPECT_EQ(settings.stepTable(8).table, QuorvaStepsDifferentSettingTable);
    EXPECT_EQ(settings.getStep(8, 0), 3) << "a program loaded as another type shows Octave Up";
    settings.applyStep(8, 0, 17);
    EXPECT_EQ(settings.getTemplateData()[settingOf(8, 0)], 17);
    EXPECT_EQ(settings.getTemplateData()[pitchOf(8, 0)], 0);
    settings.applyProgramValue(8, Field::Type, 3);
    EXPECT_EQ(settings.getBaseSetting(8), 16);
    EXPECT_EQ(settings.stepTable(8).table, QuorvaStepsOctaveHarmonyTable);
    settings.applyBaseSetting(8, 0);
    EXPECT_EQ(settings.stepTable(8).table, QuorvaSteps2OctavesUpTable)
        << "a base setting that is no row pairs with the first row's steps, as its combo box does";
}

// A combo box that shows no item gives -1; the byte it stands for must keep what the file carried
// instead of turning into 0xFF inside the SysEx body.
TEST(QuorvaSettings, BytesThatAreNoRowAreNotShownAndKept)
{
    Bytes message = canonicalMessage();
    message[543] = 7;                  // no output type
    message[blockOf(4) + 1] = 4;       // no program type
    message[blockOf(4) + 35] = 3;      // below the shortest duration
    message[pitchOf(1, 3)] = 126;
    message[blockOf(1) + 1] = 2;
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    EXPECT_TRUE(settings.isShown(Global::MidiChannel));
    EXPECT_FALSE(settings.isShown(Global::OutputType));
    EXPECT_FALSE(settings.isShown(4, Field::Type));
    EXPECT_FALSE(settings.isShown(4, Field::Duration));
    EXPECT_TRUE(settings.isShown(4, Field::StepCount));
    EXPECT_FALSE(settings.isShown(0, Field::StepCount));
    const Bytes loadedAsItStands = savedBy(settings);

    for (int value : {QuorvaSettings::NoValue, -200, 0x80, 0xFF, 1000}) {
        settings.applyGlobalValue(Global::OutputType, value);
        settings.applyGlobalValue(Global::MidiChannel, value);
        settings.applyStep(1, 3, value);
        settings.applyProgramValue(1, Field::StepCount, value);
        settings.applyBaseSetting(1, value);
    }
    EXPECT_EQ(changedBytes(loadedAsItStands, savedBy(settings)), std::set<std::size_t>());
    EXPECT_EQ(loadedAsItStands[543], 7);
    EXPECT_EQ(introducedHighBytes(message, savedBy(settings)), "");

    // A file whose step 1 carried a high setting byte gets it back there, and nowhere else.
    message[settingOf(1, 0)] = 0x90;
    const Bytes high = loaded(message);
    EXPECT_EQ(high[settingOf(1, 0)], 0x90);
    EXPECT_EQ(introducedHighBytes(message, high), "");
}

TEST(QuorvaSettings, ContractViolationsStopTheProgram)
{
    QuorvaSettings settings;
    unsigned char small[Size - 1];
    EXPECT_DEATH(settings.saveToMem(small, Size - 1), "size == QUORVA_TEMPLATE_SIZE_BYTES");
    EXPECT_DEATH(settings.applyStep(1, QUORVA_STEP_COUNT, 0), "step >= 0 && step < QUORVA_STEP_COUNT");
    EXPECT_DEATH(settings.applyStep(1, -1, 0), "step >= 0 && step < QUORVA_STEP_COUNT");
}

// Random messages, most with valid frame and markers: whatever is accepted saves to a message that
// loads again, saves the same once more, and carries no high byte the input did not have, even
// after edits with values a combo box showing no item (or a careless caller) would pass.
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
            input[0] = 0xF0;
            input[Size - 1] = 0xF7;
            for (int p = 1; p <= 15; ++p) {
                input[blockOf(p)] = (unsigned char)p;
                if (below(10) < 3)
                    input[blockOf(p) + 1] = 5;
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
        ASSERT_EQ(loaded(saved), saved) << "round " << round << ": second save differs";

        for (int edit = 0; edit < 8; ++edit) {
            const int p = 1 + below(15), value = below(263) - 2;
            switch (below(5)) {
            case 0: settings.applyGlobalValue(Global(541 + edit % 4), value); break;
            case 1: settings.applyProgramValue(p, edit % 2 ? Field::Type : Field::StepCount, value); break;
            case 2: settings.applyStep(p, below(16), value); break;
            case 3: settings.applyBaseSetting(p, value); break;
            default: settings.resetSteps(p); break;
            }
        }
        const Bytes edited = savedBy(settings);
        ASSERT_EQ(introducedHighBytes(input, edited), "") << "round " << round << " after edits";
        ASSERT_NO_THROW(loaded(edited)) << "round " << round;
    }
    EXPECT_GT(accepted, 3000);
}
