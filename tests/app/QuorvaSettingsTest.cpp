#include "QuorvaSettings.h"

#include "core/TrException.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Global = QuorvaSettings::Global;
using Field = QuorvaSettings::ProgramField;

constexpr int Size = QUORVA_TEMPLATE_SIZE_BYTES;

std::size_t block(int program)
{
    return static_cast<std::size_t>(36 * program - 35);
}

std::size_t pitchAt(int program, int step)
{
    return block(program) + 2 + 2 * static_cast<std::size_t>(step);
}

std::size_t settingAt(int program, int step)
{
    return block(program) + 3 + 2 * static_cast<std::size_t>(step);
}

// A message as the controller expects it: type-5 programs with pitch 0, every other program with
// one setting in all sixteen steps.
Bytes canonicalMessage()
{
    Bytes m(Size, 0);
    m[0] = 0xF0;
    m[Size - 1] = 0xF7;
    for (int p = 1; p <= 15; ++p)
    {
        const std::size_t b = block(p);
        const int type = QuorvaProgramTypeTable[p % QuorvaProgramTypeCount].value;
        m[b] = static_cast<unsigned char>(p);
        m[b + 1] = static_cast<unsigned char>(type);
        const int base = QuorvaBaseSettingTable[p - 1].value;
        for (int s = 0; s < 16; ++s)
        {
            m[pitchAt(p, s)] = type == 5 ? 0 : static_cast<unsigned char>(7 * s + p);
            m[settingAt(p, s)] = static_cast<unsigned char>(type == 5 ? (s + p) % 18 : base);
        }
        m[b + 34] = static_cast<unsigned char>(2 + p % 15);
        m[b + 35] = static_cast<unsigned char>(17 + 7 * p);
    }
    m[541] = 25;
    m[542] = 80;
    m[543] = 5;
    m[544] = 9;
    return m;
}

Bytes save(const QuorvaSettings& settings)
{
    Bytes out(Size);
    settings.saveToMem(out.data(), Size);
    return out;
}

Bytes templateOf(const QuorvaSettings& settings)
{
    return Bytes(settings.getTemplateData(), settings.getTemplateData() + Size);
}

std::string loadError(QuorvaSettings& settings, const Bytes& message, int size)
{
    try
    {
        settings.loadFromMem(message.data(), size);
    }
    catch (const Tr::Exception& e)
    {
        return e.what();
    }
    return "(accepted)";
}

// Where a saved message carries a byte >= 0x80 that `input` did not carry at that place.
std::string introducedHighBytes(const Bytes& input, const Bytes& saved)
{
    std::string where;
    for (std::size_t i = 1; i < Size - 1; ++i)
        if (saved[i] >= 0x80 && input[i] < 0x80)
            where += " " + std::to_string(i);
    return where;
}

} // namespace

TEST(QuorvaSettings, RefusesWhatIsNoSettingsMessage)
{
    const Bytes good = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(good.data(), Size);
    settings.applyBaseSetting(4, 12);
    const Bytes before = templateOf(settings);
    const Bytes savedBefore = save(settings);

    Bytes longer = good;
    longer.push_back(0xF7);
    Bytes shortNoMarkers(good.begin(), good.end() - 1);
    shortNoMarkers[0] = 0;
    Bytes badEnd = good;
    badEnd[Size - 1] = 0xF8;
    Bytes badStart = good;
    badStart[0] = 0xF1;
    Bytes badSecond = good;
    badSecond[block(2)] = 3;
    Bytes badLast = good;
    badLast[block(15)] = 0;
    // Markers are checked before programs: a wrong marker in block 1 wins over one in block 2.
    Bytes markersAndBlocks = badEnd;
    markersAndBlocks[block(1)] = 9;

    const std::string prefix = "Not a valid tempolate file: ";
    EXPECT_EQ(loadError(settings, longer, Size + 1), prefix + "wrong size");
    EXPECT_EQ(loadError(settings, shortNoMarkers, Size - 1), prefix + "wrong size")
        << "the size is looked at before the markers";
    EXPECT_EQ(loadError(settings, good, 0), prefix + "wrong size");
    EXPECT_EQ(loadError(settings, badEnd, Size), prefix + "MIDI markers missing");
    EXPECT_EQ(loadError(settings, badStart, Size), prefix + "MIDI markers missing");
    EXPECT_EQ(loadError(settings, markersAndBlocks, Size), prefix + "MIDI markers missing");
    EXPECT_EQ(loadError(settings, badSecond, Size), prefix + "invalid program marker");
    EXPECT_EQ(loadError(settings, badLast, Size), prefix + "invalid program marker");

    EXPECT_EQ(templateOf(settings), before) << "a refused message changed the template";
    EXPECT_EQ(save(settings), savedBefore) << "a refused message changed what is saved";
    EXPECT_EQ(settings.getBaseSetting(4), 12);
}

TEST(QuorvaSettings, LoadThenSaveReproducesACanonicalMessage)
{
    const Bytes message = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    EXPECT_EQ(save(settings), message);

    // The editor's copy keeps setting 3 in non-type-5 programs and pitch 0 in type-5 ones.
    for (int p = 1; p <= 15; ++p)
    {
        const bool perStep = message[block(p) + 1] == 5;
        EXPECT_EQ(settings.hasStepSettings(p), perStep) << "program " << p;
        EXPECT_EQ(settings.getBaseSetting(p), perStep ? 3 : message[settingAt(p, 0)]) << "program " << p;
        for (int s = 0; s < 16; ++s)
        {
            if (perStep)
            {
                EXPECT_EQ(settings.getTemplateData()[pitchAt(p, s)], 0);
                EXPECT_EQ(settings.getStep(p, s), message[settingAt(p, s)]);
            }
            else
            {
                EXPECT_EQ(settings.getTemplateData()[settingAt(p, s)], 3);
                EXPECT_EQ(settings.getStep(p, s), message[pitchAt(p, s)]);
            }
        }
    }
}

TEST(QuorvaSettings, LoadAndSaveNormalise)
{
    Bytes message = canonicalMessage();
    const int loop = 2;  // a "Loop Portamento" program
    const int multi = 3; // a "Different Settings" program
    message[block(loop) + 1] = 2;
    message[block(multi) + 1] = 5;
    for (int s = 0; s < 16; ++s)
    {
        message[settingAt(loop, s)] = s == 0 ? 4 : 9;
        message[pitchAt(multi, s)] = static_cast<unsigned char>(10 + s);
        message[settingAt(multi, s)] = static_cast<unsigned char>(s);
    }

    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    EXPECT_EQ(settings.getBaseSetting(loop), 4) << "the base setting is step 1's";
    EXPECT_EQ(settings.getBaseSetting(multi), 3);

    const Bytes out = save(settings);
    for (int s = 0; s < 16; ++s)
    {
        EXPECT_EQ(out[settingAt(loop, s)], 4) << "step " << s;
        EXPECT_EQ(out[pitchAt(loop, s)], message[pitchAt(loop, s)]) << "step " << s;
        EXPECT_EQ(out[pitchAt(multi, s)], 0) << "step " << s;
        EXPECT_EQ(out[settingAt(multi, s)], s) << "step " << s;
    }

    // Markers are rewritten whatever the template holds, so even an empty editor saves a message
    // that loads.
    const QuorvaSettings empty;
    const Bytes blank = save(empty);
    EXPECT_EQ(blank[0], 0xF0);
    EXPECT_EQ(blank[Size - 1], 0xF7);
    for (int p = 1; p <= 15; ++p)
        EXPECT_EQ(blank[block(p)], p);
    QuorvaSettings reloaded;
    EXPECT_NO_THROW(reloaded.loadFromMem(blank.data(), Size));
}

TEST(QuorvaSettings, Accessors)
{
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(1), 1);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(2), 37);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(15), 505);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(0), -1);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(16), -1);
    EXPECT_EQ(QuorvaSettings::getProgramTemplateIndex(-1), -1);

    const Bytes message = canonicalMessage();
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);
    const Bytes before = templateOf(settings);

    // Programs outside 1..15 read as no value and write nothing.
    for (int program : {0, 16, -1})
    {
        EXPECT_EQ(settings.getProgramValue(program, Field::Type), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.getBaseSetting(program), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.getStep(program, 0), QuorvaSettings::NoValue);
        EXPECT_EQ(settings.stepTable(program).count, 0);
        settings.applyProgramValue(program, Field::Type, 1);
        settings.applyStep(program, 0, 1);
        settings.applyBaseSetting(program, 5);
        settings.resetSteps(program);
    }
    EXPECT_EQ(templateOf(settings), before);

    settings.applyProgramValue(7, Field::Type, 0);
    settings.applyProgramValue(7, Field::StepCount, 5);
    settings.applyProgramValue(7, Field::Duration, 64);
    settings.applyGlobalValue(Global::LoopPortamentoRate, 45);
    settings.applyGlobalValue(Global::StepPortamentoRate, 25);
    settings.applyGlobalValue(Global::OutputType, 6);
    settings.applyGlobalValue(Global::MidiChannel, 14);
    settings.applyStep(7, 15, 127);
    settings.resetSteps(8);
    settings.applyBaseSetting(8, 16);
    const Bytes out = save(settings);
    EXPECT_EQ(out[block(7) + 1], 0);
    EXPECT_EQ(out[block(7) + 34], 5);
    EXPECT_EQ(out[block(7) + 35], 64);
    EXPECT_EQ(out[pitchAt(7, 15)], 127);
    EXPECT_EQ(Bytes(out.begin() + 541, out.begin() + 545), (Bytes {45, 25, 6, 14}));
    for (int s = 0; s < 16; ++s)
    {
        EXPECT_EQ(out[pitchAt(8, s)], 0) << "step " << s;
        EXPECT_EQ(out[settingAt(8, s)], 16) << "step " << s;
    }
    EXPECT_EQ(settings.getGlobalValue(Global::OutputType), 6);
    EXPECT_EQ(settings.getProgramValue(7, Field::StepCount), 5);

    // A "Different Settings" program edits the setting bytes; switching back shows the pitches.
    settings.applyProgramValue(8, Field::Type, 5);
    EXPECT_TRUE(settings.hasStepSettings(8));
    EXPECT_EQ(settings.stepTable(8).table, QuorvaStepsDifferentSettingTable);
    EXPECT_EQ(settings.getStep(8, 0), 3) << "a program loaded as another type shows Octave Up";
    settings.applyStep(8, 0, 17);
    EXPECT_EQ(settings.getTemplateData()[settingAt(8, 0)], 17);
    EXPECT_EQ(settings.getTemplateData()[pitchAt(8, 0)], 0);
    settings.applyProgramValue(8, Field::Type, 3);
    EXPECT_EQ(settings.getBaseSetting(8), 16);
    EXPECT_EQ(settings.stepTable(8).table, QuorvaStepsOctaveHarmonyTable);

    // A base setting that is no row pairs with the first row's step table, as its combo box does.
    settings.applyBaseSetting(8, 0);
    EXPECT_EQ(settings.stepTable(8).table, QuorvaSteps2OctavesUpTable);
}

TEST(QuorvaSettings, ValuesShownOrNot)
{
    Bytes message = canonicalMessage();
    message[543] = 7;             // no output type
    message[block(4) + 1] = 4;    // no program type
    message[block(4) + 35] = 3;   // below the shortest duration
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);

    EXPECT_TRUE(settings.isShown(Global::LoopPortamentoRate));
    EXPECT_TRUE(settings.isShown(Global::MidiChannel));
    EXPECT_FALSE(settings.isShown(Global::OutputType));
    EXPECT_FALSE(settings.isShown(4, Field::Type));
    EXPECT_FALSE(settings.isShown(4, Field::Duration));
    EXPECT_TRUE(settings.isShown(4, Field::StepCount));
    EXPECT_FALSE(settings.isShown(0, Field::StepCount));
    EXPECT_EQ(QuorvaSettings::tableOf(Global::OutputType).table, QuorvaOutputTypeTable);
    EXPECT_EQ(QuorvaSettings::tableOf(Field::Duration).count, 111);
}

// A combo box that shows no item gives -1; the byte it stands for must keep what the file carried
// instead of turning into 0xFF inside the SysEx body.
TEST(QuorvaSettings, NoItemKeepsTheLoadedByte)
{
    Bytes message = canonicalMessage();
    message[543] = 7;
    message[pitchAt(1, 3)] = 126;
    message[block(1) + 1] = 2;
    QuorvaSettings settings;
    settings.loadFromMem(message.data(), Size);

    for (int value : {QuorvaSettings::NoValue, -200, 0x80, 0xFF, 1000})
    {
        settings.applyGlobalValue(Global::OutputType, value);
        settings.applyGlobalValue(Global::MidiChannel, value);
        settings.applyStep(1, 3, value);
        settings.applyProgramValue(1, Field::StepCount, value);
        settings.applyBaseSetting(1, value);
    }
    const Bytes out = save(settings);
    EXPECT_EQ(out[543], 7);
    EXPECT_EQ(out[544], message[544]);
    EXPECT_EQ(out[pitchAt(1, 3)], 126);
    EXPECT_EQ(out[block(1) + 34], message[block(1) + 34]);
    EXPECT_EQ(out[settingAt(1, 0)], message[settingAt(1, 0)]);
    EXPECT_EQ(introducedHighBytes(message, out), "");

    // A file whose step 1 carried a high setting byte gets it back there, and nowhere else.
    message[settingAt(1, 0)] = 0x90;
    settings.loadFromMem(message.data(), Size);
    const Bytes high = save(settings);
    EXPECT_EQ(high[settingAt(1, 0)], 0x90);
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

// Random messages, most of them with valid frame and markers: whatever is accepted saves to a message
// that loads again, saves the same once more, and carries no high byte the input did not have,
// even after edits with values a combo box showing no item (or a careless caller) would pass.
TEST(QuorvaSettings, RandomMessagesRoundTrip)
{
    std::mt19937 random(0x51A7E5u);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> program(1, 15);
    std::uniform_int_distribution<int> step(0, 15);
    std::uniform_int_distribution<int> value(-2, 260);
    int accepted = 0;

    for (int round = 0; round < 4000; ++round)
    {
        Bytes input(Size);
        for (unsigned char& b : input)
            b = static_cast<unsigned char>(anyByte(random));
        // Half of the inputs keep to data bytes, as real files do.
        if (percent(random) < 50)
            for (unsigned char& b : input)
                b &= 0x7F;
        if (percent(random) < 90)
        {
            input[0] = 0xF0;
            input[Size - 1] = 0xF7;
            for (int p = 1; p <= 15; ++p)
                input[block(p)] = static_cast<unsigned char>(p);
            for (int p = 1; p <= 15; ++p)
                if (percent(random) < 30)
                    input[block(p) + 1] = 5;
        }

        QuorvaSettings settings;
        const Bytes emptySave = save(settings);
        try
        {
            settings.loadFromMem(input.data(), Size);
        }
        catch (const Tr::Exception&)
        {
            ASSERT_EQ(save(settings), emptySave) << "round " << round << ": refused but changed";
            continue;
        }
        ++accepted;

        const Bytes saved = save(settings);
        ASSERT_EQ(introducedHighBytes(input, saved), "") << "round " << round;
        QuorvaSettings again;
        ASSERT_NO_THROW(again.loadFromMem(saved.data(), Size)) << "round " << round;
        ASSERT_EQ(save(again), saved) << "round " << round << ": second save differs";

        for (int edit = 0; edit < 8; ++edit)
        {
            const int p = program(random);
            switch (percent(random) % 5)
            {
            case 0: settings.applyGlobalValue(static_cast<Global>(541 + edit % 4), value(random)); break;
            case 1: settings.applyProgramValue(p, static_cast<Field>(edit % 2 ? 1 : 34), value(random)); break;
            case 2: settings.applyStep(p, step(random), value(random)); break;
            case 3: settings.applyBaseSetting(p, value(random)); break;
            default: settings.resetSteps(p); break;
            }
        }
        const Bytes edited = save(settings);
        ASSERT_EQ(introducedHighBytes(input, edited), "") << "round " << round << " after edits";
        ASSERT_NO_THROW(again.loadFromMem(edited.data(), Size)) << "round " << round;
    }
    EXPECT_GT(accepted, 3000);
}
