// resources/defaults.syx is what the program starts with when there is no last file. It is made
// here, from the settings code itself, so it is a valid message by construction: run this test
// with QUORVA_WRITE_DEFAULTS=1 to write it again after changing the programs below.
#include "SettingsBytes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Global = QuorvaSettings::Global;
using Field = QuorvaSettings::ProgramField;

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

} // namespace

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
