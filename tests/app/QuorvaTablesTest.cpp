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

TEST(QuorvaTables, DurationsRiseInEvenSteps)
{
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

// Each base setting's steps run from 0 to 127 in rising order, the table of the same row.
TEST(QuorvaTables, EachBaseSettingPairsWithARisingStepTable)
{
    ASSERT_EQ(QuorvaBaseSettingStepCount, QuorvaBaseSettingCount);
    for (int i = 0; i < QuorvaBaseSettingCount; ++i) {
        const QuorvaTable& t = QuorvaBaseSettingStepTable[i];
        EXPECT_EQ(t.table[0].value * 1000 + t.table[t.count - 1].value, 127) << QuorvaBaseSettingTable[i].name << ": 0 to 127";
        for (int row = 1; row < t.count; ++row)
            EXPECT_LT(t.table[row - 1].value, t.table[row].value) << QuorvaBaseSettingTable[i].name << " row " << row;
    }
    EXPECT_EQ((QuorvaTable{nullptr, 0}).findRow(0), -1);
}
