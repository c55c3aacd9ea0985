#include "QuorvaTables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#define QUORVA_TABLE(stem, rows) std::make_tuple(#stem, stem##Table, stem##Count, rows)

TEST(QuorvaTables, RowCountsAndDistinctDataBytes)
{
    const std::tuple<const char*, const QuorvaTableEntry*, int32_t, int> tables[] = {
        QUORVA_TABLE(QuorvaProgram, 15),            QUORVA_TABLE(QuorvaProgramType, 5),
        QUORVA_TABLE(QuorvaStepCount, 15),          QUORVA_TABLE(QuorvaBaseSetting, 15),
        QUORVA_TABLE(QuorvaSteps2OctavesUp, 25),    QUORVA_TABLE(QuorvaStepsOctaveUp, 13),
        QUORVA_TABLE(QuorvaStepsOctaveDown, 13),    QUORVA_TABLE(QuorvaSteps2OctavesDown, 25),
        QUORVA_TABLE(QuorvaStepsDiveBomb, 36),      QUORVA_TABLE(QuorvaStepsDropTune, 3),
        QUORVA_TABLE(QuorvaStepsOctaveHarmony, 25), QUORVA_TABLE(QuorvaSteps54Harmony, 3),
        QUORVA_TABLE(QuorvaSteps43Harmony, 3),      QUORVA_TABLE(QuorvaSteps57Harmony, 4),
        QUORVA_TABLE(QuorvaSteps56Harmony, 3),      QUORVA_TABLE(QuorvaSteps45Harmony, 3),
        QUORVA_TABLE(QuorvaSteps34Harmony, 2),      QUORVA_TABLE(QuorvaSteps33Harmony, 2),
        QUORVA_TABLE(QuorvaSteps23Harmony, 3),      QUORVA_TABLE(QuorvaStepsDifferentSetting, 18),
        QUORVA_TABLE(QuorvaTempo, 111),             QUORVA_TABLE(QuorvaPortamentoRateLoop, 3),
        QUORVA_TABLE(QuorvaPortamentoRateStep, 3),  QUORVA_TABLE(QuorvaOutputType, 3),
        QUORVA_TABLE(QuorvaMIDIChannel, 15),
    };
    for (const auto& [name, table, count, expected] : tables) {
        EXPECT_EQ(count, expected) << name;
        std::set<std::string> texts;
        std::set<int> values;
        for (int row = 0; row < count; ++row) {
            EXPECT_TRUE(table[row].value >= 0 && table[row].value < 0x80) << name << " row " << row << " is no data byte";
            texts.insert(table[row].name);
            values.insert(table[row].value);
        }
        EXPECT_EQ(int(texts.size()) * 1000 + int(values.size()), count * 1001) << name << " repeats a text or a value";
    }
}

TEST(QuorvaTables, SampleRowsAndTempoOrder)
{
    const std::tuple<const QuorvaTableEntry*, int, const char*, int> samples[] = {   // table, row, text, value
        {QuorvaProgramTable, 14, "Program 15", 15},              {QuorvaMIDIChannelTable, 0, "1", 0},
        {QuorvaStepCountTable, 14, "16 Steps", 16},              {QuorvaProgramTypeTable, 1, "Loop, No Portamento", 0},
        {QuorvaProgramTypeTable, 4, "Different Settings", 5},    {QuorvaBaseSettingTable, 6, "Octave Down/Octave Up Harmony", 16},
        {QuorvaBaseSettingTable, 14, "2nd Up/3rd Up Harmony", 8}, {QuorvaPortamentoRateLoopTable, 2, "slow Loop Portamento", 45},
        {QuorvaPortamentoRateStepTable, 1, "medium Step Portamento", 50}, {QuorvaOutputTypeTable, 2, "Clock Only", 6},
        {QuorvaStepsDifferentSettingTable, 17, "Effect Off", 17}, {QuorvaStepsOctaveUpTable, 0, "Unison", 0},
        {QuorvaStepsOctaveUpTable, 7, "5th || +7 half steps", 64},
        {QuorvaStepsOctaveDownTable, 1, "Maj.7th, Octave Down || -1 half step", 15},
        {QuorvaSteps2OctavesUpTable, 13, "Octave + Flat 2nd || +13 half steps", 48},
        {QuorvaStepsDiveBombTable, 35, "3 Octaves Down || -36 half steps", 127},
        {QuorvaStepsOctaveHarmonyTable, 12, "Unison", 43},       {QuorvaSteps57HarmonyTable, 1, "Flat 6th || +8 half steps", 42},
        {QuorvaSteps43HarmonyTable, 2, "6th, Octave Down (flat 3rd Down) || -3 half steps", 127},
        {QuorvaTempoTable, 0, "0.24", 17},                       {QuorvaTempoTable, 110, "12.99", 127},
    };
    for (const auto& [table, row, text, value] : samples)
        EXPECT_EQ(std::string(table[row].name) + " = " + std::to_string(table[row].value), std::string(text) + " = " + std::to_string(value));

    // Durations in seconds with two decimals, each about 3.7 % longer than the one before
    // (rounding to 0.01 s widens that early on).
    double previous = 0.0;
    for (int row = 0; row < QuorvaTempoCount; ++row) {
        const std::string text = QuorvaTempoTable[row].name;
        const double seconds = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(QuorvaTempoTable[row].value, 17 + row) << text;
        EXPECT_EQ(text.size() >= 4 ? text[text.size() - 3] : ' ', '.') << text;
        EXPECT_NEAR(row ? seconds / previous : 1.037, 1.037, 0.03) << text;
        previous = seconds;
    }
}

TEST(QuorvaTables, EachBaseSettingPairsWithARisingStepTable)
{
    const QuorvaTableEntry* paired[] = {
        QuorvaSteps2OctavesUpTable,    QuorvaStepsOctaveUpTable,  QuorvaStepsOctaveDownTable, QuorvaSteps2OctavesDownTable,
        QuorvaStepsDiveBombTable,      QuorvaStepsDropTuneTable,  QuorvaStepsOctaveHarmonyTable, QuorvaSteps54HarmonyTable,
        QuorvaSteps43HarmonyTable,     QuorvaSteps57HarmonyTable, QuorvaSteps56HarmonyTable,  QuorvaSteps45HarmonyTable,
        QuorvaSteps34HarmonyTable,     QuorvaSteps33HarmonyTable, QuorvaSteps23HarmonyTable,
    };
    ASSERT_EQ(QuorvaBaseSettingStepCount, 15);
    for (int i = 0; i < 15; ++i) {
        const QuorvaTable& t = QuorvaBaseSettingStepTable[i];
        ASSERT_EQ(t.table, paired[i]) << QuorvaBaseSettingTable[i].name;
        EXPECT_EQ(t.table[0].value * 1000 + t.table[t.count - 1].value, 127) << QuorvaBaseSettingTable[i].name << ": 0 to 127";
        for (int row = 1; row < t.count; ++row)
            EXPECT_LT(t.table[row - 1].value, t.table[row].value) << QuorvaBaseSettingTable[i].name << " row " << row;
    }
    EXPECT_EQ(QuorvaBaseSettingStepTable[4].count, 36) << "Dive Bomb";
    const QuorvaTable types{QuorvaProgramTypeTable, QuorvaProgramTypeCount};
    EXPECT_EQ(types.findRow(5), 4);
    EXPECT_EQ(types.findRow(4), -1) << "4 is no program type";
    EXPECT_EQ((QuorvaTable{nullptr, 0}).findRow(0), -1);
}
