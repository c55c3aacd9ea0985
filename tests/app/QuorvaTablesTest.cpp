#include "QuorvaTables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

struct NamedTable
{
    const char* name;
    const QuorvaTableEntry* table;
    int32_t count;
    int32_t expected;
};

#define QUORVA_TABLE(stem, rows) NamedTable {#stem, stem##Table, stem##Count, rows}

const NamedTable allTables[] = {
    QUORVA_TABLE(QuorvaProgram, 15),
    QUORVA_TABLE(QuorvaProgramType, 5),
    QUORVA_TABLE(QuorvaStepCount, 15),
    QUORVA_TABLE(QuorvaBaseSetting, 15),
    QUORVA_TABLE(QuorvaSteps2OctavesUp, 25),
    QUORVA_TABLE(QuorvaStepsOctaveUp, 13),
    QUORVA_TABLE(QuorvaStepsOctaveDown, 13),
    QUORVA_TABLE(QuorvaSteps2OctavesDown, 25),
    QUORVA_TABLE(QuorvaStepsDiveBomb, 36),
    QUORVA_TABLE(QuorvaStepsDropTune, 3),
    QUORVA_TABLE(QuorvaStepsOctaveHarmony, 25),
    QUORVA_TABLE(QuorvaSteps54Harmony, 3),
    QUORVA_TABLE(QuorvaSteps43Harmony, 3),
    QUORVA_TABLE(QuorvaSteps57Harmony, 4),
    QUORVA_TABLE(QuorvaSteps56Harmony, 3),
    QUORVA_TABLE(QuorvaSteps45Harmony, 3),
    QUORVA_TABLE(QuorvaSteps34Harmony, 2),
    QUORVA_TABLE(QuorvaSteps33Harmony, 2),
    QUORVA_TABLE(QuorvaSteps23Harmony, 3),
    QUORVA_TABLE(QuorvaStepsDifferentSetting, 18),
    QUORVA_TABLE(QuorvaTempo, 111),
    QUORVA_TABLE(QuorvaPortamentoRateLoop, 3),
    QUORVA_TABLE(QuorvaPortamentoRateStep, 3),
    QUORVA_TABLE(QuorvaOutputType, 3),
    QUORVA_TABLE(QuorvaMIDIChannel, 15),
};

void expectRow(const QuorvaTableEntry* table, int row, const char* text, int value)
{
    EXPECT_STREQ(table[row].name, text) << "row " << row;
    EXPECT_EQ(table[row].value, value) << "row " << row << " (" << text << ")";
}

} // namespace

TEST(QuorvaTables, RowCountsAndDataBytes)
{
    for (const NamedTable& t : allTables)
    {
        EXPECT_EQ(t.count, t.expected) << t.name;
        std::set<std::string> texts;
        std::set<int> values;
        for (int row = 0; row < t.count; ++row)
        {
            EXPECT_TRUE(t.table[row].value >= 0 && t.table[row].value < 0x80)
                << t.name << " row " << row << " is no SysEx data byte";
            texts.insert(t.table[row].name);
            values.insert(t.table[row].value);
        }
        EXPECT_EQ(texts.size(), size_t(t.count)) << t.name << " repeats a text";
        EXPECT_EQ(values.size(), size_t(t.count)) << t.name << " repeats a value";
    }
}

TEST(QuorvaTables, SimpleTables)
{
    for (int n = 1; n <= 15; ++n)
    {
        expectRow(QuorvaProgramTable, n - 1, ("Program " + std::to_string(n)).c_str(), n);
        expectRow(QuorvaMIDIChannelTable, n - 1, std::to_string(n).c_str(), n - 1);
        expectRow(QuorvaStepCountTable, n - 1, (std::to_string(n + 1) + " Steps").c_str(), n + 1);
    }
    expectRow(QuorvaProgramTypeTable, 0, "Loop Portamento", 2);
    expectRow(QuorvaProgramTypeTable, 1, "Loop, No Portamento", 0);
    expectRow(QuorvaProgramTypeTable, 2, "Step Portamento", 3);
    expectRow(QuorvaProgramTypeTable, 3, "Step, No Portamento", 1);
    expectRow(QuorvaProgramTypeTable, 4, "Different Settings", 5);

    expectRow(QuorvaBaseSettingTable, 0, "2 Octaves Up", 2);
    expectRow(QuorvaBaseSettingTable, 5, "Drop Tune", 7);
    expectRow(QuorvaBaseSettingTable, 6, "Octave Down/Octave Up Harmony", 16);
    expectRow(QuorvaBaseSettingTable, 13, "flat 3rd Up/3rd Up Harmony", 9);
    expectRow(QuorvaBaseSettingTable, 14, "2nd Up/3rd Up Harmony", 8);

    expectRow(QuorvaPortamentoRateLoopTable, 0, "fast Loop Portamento", 17);
    expectRow(QuorvaPortamentoRateLoopTable, 1, "medium Loop Portamento", 25);
    expectRow(QuorvaPortamentoRateLoopTable, 2, "slow Loop Portamento", 45);
    expectRow(QuorvaPortamentoRateStepTable, 0, "fast Step Portamento", 25);
    expectRow(QuorvaPortamentoRateStepTable, 1, "medium Step Portamento", 50);
    expectRow(QuorvaPortamentoRateStepTable, 2, "slow Step Portamento", 80);
    expectRow(QuorvaOutputTypeTable, 0, "Whammy Only", 4);
    expectRow(QuorvaOutputTypeTable, 1, "Whammy & Clock", 5);
    expectRow(QuorvaOutputTypeTable, 2, "Clock Only", 6);
}

TEST(QuorvaTables, DifferentSettings)
{
    expectRow(QuorvaStepsDifferentSettingTable, 0, "Shallow Detune", 0);
    expectRow(QuorvaStepsDifferentSettingTable, 1, "Deep Detune", 1);
    expectRow(QuorvaStepsDifferentSettingTable, 3, "Octave Up", 3);
    expectRow(QuorvaStepsDifferentSettingTable, 8, "Octave Down/Octave Up Harmony", 16);
    expectRow(QuorvaStepsDifferentSettingTable, 16, "2nd Up/3rd Up Harmony", 8);
    expectRow(QuorvaStepsDifferentSettingTable, 17, "Effect Off", 17);
}

TEST(QuorvaTables, TempoRowsAreDurationsInOrder)
{
    expectRow(QuorvaTempoTable, 0, "0.24", 17);
    expectRow(QuorvaTempoTable, 10, "0.35", 27);
    expectRow(QuorvaTempoTable, 47, "1.32", 64);
    expectRow(QuorvaTempoTable, 103, "10.08", 120);
    expectRow(QuorvaTempoTable, 110, "12.99", 127);
    double previous = 0.0;
    for (int row = 0; row < QuorvaTempoCount; ++row)
    {
        const std::string text = QuorvaTempoTable[row].name;
        EXPECT_EQ(QuorvaTempoTable[row].value, 17 + row) << text;
        ASSERT_GE(text.size(), 4u);
        EXPECT_EQ(text[text.size() - 3], '.') << text << " lacks two decimals";
        const double seconds = std::strtod(text.c_str(), nullptr);
        EXPECT_GT(seconds, previous) << text;
        // Each row is about 3.7 % longer than the one before; rounding to 0.01 s widens that early on.
        if (row > 0)
        {
            EXPECT_NEAR(seconds / previous, 1.037, 0.03) << text;
        }
        previous = seconds;
    }
}

TEST(QuorvaTables, StepTablesRiseFromZeroTo127)
{
    ASSERT_EQ(QuorvaBaseSettingStepCount, QuorvaBaseSettingCount);
    for (int i = 0; i < QuorvaBaseSettingStepCount; ++i)
    {
        const QuorvaTable& t = QuorvaBaseSettingStepTable[i];
        const std::string base = QuorvaBaseSettingTable[i].name;
        ASSERT_NE(t.table, nullptr) << base;
        ASSERT_GE(t.count, 2) << base;
        EXPECT_EQ(t.table[0].value, 0) << base;
        EXPECT_EQ(t.table[t.count - 1].value, 127) << base;
        for (int row = 1; row < t.count; ++row)
            EXPECT_LT(t.table[row - 1].value, t.table[row].value) << base << " row " << row;
    }
    const QuorvaTableEntry* paired[] = {
        QuorvaSteps2OctavesUpTable,    QuorvaStepsOctaveUpTable,  QuorvaStepsOctaveDownTable,
        QuorvaSteps2OctavesDownTable,  QuorvaStepsDiveBombTable,  QuorvaStepsDropTuneTable,
        QuorvaStepsOctaveHarmonyTable, QuorvaSteps54HarmonyTable, QuorvaSteps43HarmonyTable,
        QuorvaSteps57HarmonyTable,     QuorvaSteps56HarmonyTable, QuorvaSteps45HarmonyTable,
        QuorvaSteps34HarmonyTable,     QuorvaSteps33HarmonyTable, QuorvaSteps23HarmonyTable,
    };
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(QuorvaBaseSettingStepTable[i].table, paired[i]) << "base setting row " << i;
    EXPECT_EQ(QuorvaBaseSettingStepTable[4].count, 36) << "Dive Bomb";
}

TEST(QuorvaTables, IntervalTexts)
{
    expectRow(QuorvaStepsOctaveUpTable, 0, "Unison", 0);
    expectRow(QuorvaStepsOctaveUpTable, 1, "Flat 2nd || +1 half step", 8);
    expectRow(QuorvaStepsOctaveUpTable, 7, "5th || +7 half steps", 64);
    expectRow(QuorvaStepsOctaveUpTable, 11, "Maj.7th || +11 half steps", 114);
    expectRow(QuorvaStepsOctaveUpTable, 12, "Octave || +12 half steps", 127);

    expectRow(QuorvaSteps2OctavesUpTable, 13, "Octave + Flat 2nd || +13 half steps", 48);
    expectRow(QuorvaSteps2OctavesUpTable, 19, "Octave + 5th || +19 half steps", 85);
    expectRow(QuorvaSteps2OctavesUpTable, 24, "2 Octaves || +24 half steps", 127);

    expectRow(QuorvaStepsOctaveDownTable, 1, "Maj.7th, Octave Down || -1 half step", 15);
    expectRow(QuorvaStepsOctaveDownTable, 5, "5th, Octave Down || -5 half steps", 64);
    expectRow(QuorvaStepsOctaveDownTable, 11, "Flat 2nd, Octave Down || -11 half steps", 120);
    expectRow(QuorvaStepsOctaveDownTable, 12, "Octave Down || -12 half steps", 127);

    expectRow(QuorvaSteps2OctavesDownTable, 13, "Maj.7th, 2 Octaves Down || -13 half steps", 90);
    expectRow(QuorvaSteps2OctavesDownTable, 24, "2 Octaves Down || -24 half steps", 127);

    expectRow(QuorvaStepsDiveBombTable, 25, "Maj.7th, 3 Octaves Down || -25 half steps", 111);
    expectRow(QuorvaStepsDiveBombTable, 34, "2nd, 3 Octaves Down || -34 half steps", 126);
    expectRow(QuorvaStepsDiveBombTable, 35, "3 Octaves Down || -36 half steps", 127);

    expectRow(QuorvaStepsDropTuneTable, 2, "Flat 7th, Octave Down || -2 half steps", 127);

    expectRow(QuorvaStepsOctaveHarmonyTable, 0, "Octave Down || -12 half steps", 0);
    expectRow(QuorvaStepsOctaveHarmonyTable, 12, "Unison", 43);
    expectRow(QuorvaStepsOctaveHarmonyTable, 24, "Octave || +12 half steps", 127);

    expectRow(QuorvaSteps57HarmonyTable, 0, "5th || +7 half steps", 0);
    expectRow(QuorvaSteps57HarmonyTable, 1, "Flat 6th || +8 half steps", 42);
    expectRow(QuorvaSteps57HarmonyTable, 3, "Flat 7th || +10 half steps", 127);
    expectRow(QuorvaSteps45HarmonyTable, 1, "Flat 5th || +6 half steps", 63);
    expectRow(QuorvaSteps34HarmonyTable, 1, "4th || +5 half steps", 127);
    expectRow(QuorvaSteps33HarmonyTable, 0, "Flat 3rd || +3 half steps", 0);
    expectRow(QuorvaSteps23HarmonyTable, 0, "2nd || +2 half steps", 0);

    expectRow(QuorvaSteps54HarmonyTable, 0, "4th, Octave Down (5th Down) || -7 half steps", 0);
    expectRow(QuorvaSteps54HarmonyTable, 1, "Flat 5th, Octave Down || -6 half steps", 63);
    expectRow(QuorvaSteps43HarmonyTable, 2, "6th, Octave Down (flat 3rd Down) || -3 half steps", 127);
}

TEST(QuorvaTables, FindRow)
{
    const QuorvaTable types {QuorvaProgramTypeTable, QuorvaProgramTypeCount};
    EXPECT_EQ(types.findRow(2), 0);
    EXPECT_EQ(types.findRow(5), 4);
    EXPECT_EQ(types.findRow(4), -1) << "4 is no program type";
    EXPECT_EQ(types.findRow(-1), -1);
    EXPECT_EQ((QuorvaTable {nullptr, 0}).findRow(0), -1);
}
