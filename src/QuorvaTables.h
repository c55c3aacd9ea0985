// The option tables of the controller: every value the editor can choose, with the text it shows.
// A combo box shows a row with item id = value + 1, so item id 0 stays free for "nothing selected".
#pragma once

#include <cstdint>

// Size of the settings message (one SysEx message holding all fifteen programs and the globals).
constexpr int QUORVA_TEMPLATE_SIZE_BYTES = 546;
// Steps per program.
constexpr int QUORVA_STEP_COUNT = 16;

struct QuorvaTableEntry
{
    const char* name; // the text shown in the combo box
    int32_t value;    // the byte stored in the settings message
};

// A table with its row count, as kept in QuorvaBaseSettingStepTable.
struct QuorvaTable
{
    const QuorvaTableEntry* table;
    int32_t count;

    // Row index of `value`, or -1 when no row stores it (a combo box would show no item).
    int findRow(int value) const;
};

extern const QuorvaTableEntry QuorvaProgramTable[];
extern const int32_t QuorvaProgramCount;

extern const QuorvaTableEntry QuorvaProgramTypeTable[];
extern const int32_t QuorvaProgramTypeCount;

extern const QuorvaTableEntry QuorvaStepCountTable[];
extern const int32_t QuorvaStepCountCount;

extern const QuorvaTableEntry QuorvaBaseSettingTable[];
extern const int32_t QuorvaBaseSettingCount;

// Row i pairs with row i of QuorvaBaseSettingTable: look it up by row index, never by value.
extern const QuorvaTable QuorvaBaseSettingStepTable[];
extern const int32_t QuorvaBaseSettingStepCount;

extern const QuorvaTableEntry QuorvaSteps2OctavesUpTable[];
extern const int32_t QuorvaSteps2OctavesUpCount;
extern const QuorvaTableEntry QuorvaStepsOctaveUpTable[];
extern const int32_t QuorvaStepsOctaveUpCount;
extern const QuorvaTableEntry QuorvaStepsOctaveDownTable[];
extern const int32_t QuorvaStepsOctaveDownCount;
extern const QuorvaTableEntry QuorvaSteps2OctavesDownTable[];
extern const int32_t QuorvaSteps2OctavesDownCount;
extern const QuorvaTableEntry QuorvaStepsDiveBombTable[];
extern const int32_t QuorvaStepsDiveBombCount;
extern const QuorvaTableEntry QuorvaStepsDropTuneTable[];
extern const int32_t QuorvaStepsDropTuneCount;
extern const QuorvaTableEntry QuorvaStepsOctaveHarmonyTable[];
extern const int32_t QuorvaStepsOctaveHarmonyCount;
extern const QuorvaTableEntry QuorvaSteps54HarmonyTable[];
extern const int32_t QuorvaSteps54HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps43HarmonyTable[];
extern const int32_t QuorvaSteps43HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps57HarmonyTable[];
extern const int32_t QuorvaSteps57HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps56HarmonyTable[];
extern const int32_t QuorvaSteps56HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps45HarmonyTable[];
extern const int32_t QuorvaSteps45HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps34HarmonyTable[];
extern const int32_t QuorvaSteps34HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps33HarmonyTable[];
extern const int32_t QuorvaSteps33HarmonyCount;
extern const QuorvaTableEntry QuorvaSteps23HarmonyTable[];
extern const int32_t QuorvaSteps23HarmonyCount;

// The per-step settings of a "Different Settings" program.
extern const QuorvaTableEntry QuorvaStepsDifferentSettingTable[];
extern const int32_t QuorvaStepsDifferentSettingCount;

// Program duration in seconds.
extern const QuorvaTableEntry QuorvaTempoTable[];
extern const int32_t QuorvaTempoCount;

extern const QuorvaTableEntry QuorvaPortamentoRateLoopTable[];
extern const int32_t QuorvaPortamentoRateLoopCount;
extern const QuorvaTableEntry QuorvaPortamentoRateStepTable[];
extern const int32_t QuorvaPortamentoRateStepCount;

extern const QuorvaTableEntry QuorvaOutputTypeTable[];
extern const int32_t QuorvaOutputTypeCount;

extern const QuorvaTableEntry QuorvaMIDIChannelTable[];
extern const int32_t QuorvaMIDIChannelCount;
