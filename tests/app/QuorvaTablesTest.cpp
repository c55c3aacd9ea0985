#include "QuorvaTables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
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

// Each base setting's steps run from 0 to 127 in rising order, the table of the same row. Alike
// tables (several hold three rows 0, 63, 127) tell apart only by their texts, so each setting's
// first, middle and last step are written out here: a table paired with the wrong setting shows.
TEST(QuorvaTables, EachBaseSettingPairsWithARisingStepTable)
{
    struct Expected
    {
        const char* name;
        int value, rows;
        const char *first, *middle;   // middle: row rows / 2, with its value
        int middleValue;
        const char* last;
    };
    const Expected expected[] = {
        {"2 Octaves Up", 2, 25, "Unison", "Octave || +12 half steps", 43, "2 Octaves || +24 half steps"},
        {"Octave Up", 3, 13, "Unison", "Flat 5th || +6 half steps", 53, "Octave || +12 half steps"},
        {"Octave Down", 4, 13, "Unison", "Flat 5th, Octave Down || -6 half steps", 75, "Octave Down || -12 half steps"},
        {"2 Octaves Down", 5, 25, "Unison", "Octave Down || -12 half steps", 85, "2 Octaves Down || -24 half steps"},
        {"Dive Bomb", 6, 36, "Unison", "Flat 5th, 2 Octaves Down || -18 half steps", 95, "3 Octaves Down || -36 half steps"},
        {"Drop Tune", 7, 3, "Unison", "Maj.7th, Octave Down || -1 half step", 63, "Flat 7th, Octave Down || -2 half steps"},
        {"Octave Down/Octave Up Harmony", 16, 25, "Octave Down || -12 half steps", "Unison", 43, "Octave || +12 half steps"},
        {"5th Down/4th Down Harmony", 15, 3, "4th, Octave Down (5th Down) || -7 half steps",
         "Flat 5th, Octave Down || -6 half steps", 63, "5th, Octave Down (4th Down) || -5 half steps"},
        {"4th Down/3rd Down Harmony", 14, 3, "5th, Octave Down (4th Down) || -5 half steps",
         "Flat 6th, Octave Down (3rd Down) || -4 half steps", 63, "6th, Octave Down (flat 3rd Down) || -3 half steps"},
        {"5th Up/7th Up Harmony", 13, 4, "5th || +7 half steps", "6th || +9 half steps", 87, "Flat 7th || +10 half steps"},
        {"5th Up/6th Up Harmony", 12, 3, "5th || +7 half steps", "Flat 6th || +8 half steps", 63, "6th || +9 half steps"},
        {"4th Up/5th Up Harmony", 11, 3, "4th || +5 half steps", "Flat 5th || +6 half steps", 63, "5th || +7 half steps"},
        {"3rd Up/4th Up Harmony", 10, 2, "3rd || +4 half steps", "4th || +5 half steps", 127, "4th || +5 half steps"},
        {"flat 3rd Up/3rd Up Harmony", 9, 2, "Flat 3rd || +3 half steps", "3rd || +4 half steps", 127, "3rd || +4 half steps"},
        {"2nd Up/3rd Up Harmony", 8, 3, "2nd || +2 half steps", "Flat 3rd || +3 half steps", 63, "3rd || +4 half steps"},
    };
    const auto describe = [](const Expected& e) {
        return std::string(e.name) + " = " + std::to_string(e.value) + ", " + std::to_string(e.rows) + " steps: "
               + e.first + " ... " + e.middle + " = " + std::to_string(e.middleValue) + " ... " + e.last;
    };
    ASSERT_EQ(QuorvaBaseSettingStepCount, QuorvaBaseSettingCount);
    ASSERT_EQ(QuorvaBaseSettingCount, int(std::size(expected)));
    for (int i = 0; i < QuorvaBaseSettingCount; ++i) {
        const QuorvaTable& t = QuorvaBaseSettingStepTable[i];
        ASSERT_GT(t.count, 0) << QuorvaBaseSettingTable[i].name;
        const Expected shown{QuorvaBaseSettingTable[i].name, QuorvaBaseSettingTable[i].value, t.count, t.table[0].name,
                             t.table[t.count / 2].name, t.table[t.count / 2].value, t.table[t.count - 1].name};
        EXPECT_EQ(describe(shown), describe(expected[i])) << "base setting row " << i;
        EXPECT_EQ(t.table[0].value * 1000 + t.table[t.count - 1].value, 127) << QuorvaBaseSettingTable[i].name << ": 0 to 127";
        for (int row = 1; row < t.count; ++row)
            EXPECT_LT(t.table[row - 1].value, t.table[row].value) << QuorvaBaseSettingTable[i].name << " row " << row;
    }
    EXPECT_EQ((QuorvaTable{nullptr, 0}).findRow(0), -1);
}
