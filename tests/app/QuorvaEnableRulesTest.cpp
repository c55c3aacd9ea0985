#include "QuorvaEnableRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Rules = QuorvaEnableRules;

// What an editor showing program 1 with a port chosen shows.
Rules::Enabled editing(int type, int steps, int outputType = 4, int programItem = 0, int portItem = 1)
{
    Rules::Shown s;
    s.portItemIndex = portItem;
    s.outputType = outputType;
    s.programItemIndex = programItem;
    s.programType = type;
    s.stepCount = steps;
    return Rules::compute(s);
}

// The enabled widgets as letters: Program, Type, Count, Base setting, Duration, Globals, the number of steps.
std::string summary(const Rules::Enabled& e)
{
    int steps = 0;
    for (bool on : e.steps)
        steps += on;
    return std::string(e.program ? "P" : "") + (e.programType ? "T" : "") + (e.stepCount ? "C" : "") +
           (e.baseSetting ? "B" : "") + (e.duration ? "D" : "") + (e.globals ? "G" : "") + std::to_string(steps);
}

} // namespace

TEST(QuorvaEnableRules, ProgramTypeStepCountAndClockOnly)
{
    const std::pair<int, const char*> types[] = {
        {2, "PTCBDG16"},   // Loop Portamento
        {0, "PTCBDG16"},   // Loop, No Portamento
        {3, "PTCBG16"},    // Step Portamento: no duration
        {1, "PTCBG16"},    // Step, No Portamento
        {5, "PTCG16"},     // Different Settings: no base setting either
        {-1, "PTCBDG16"},  // no type shown
    };
    for (const auto& [type, expected] : types) {
        EXPECT_EQ(summary(editing(type, 16)), expected) << "type " << type;
        EXPECT_EQ(summary(editing(type, 16, Rules::ClockOnly)), "0") << "Clock Only, type " << type;
        EXPECT_TRUE(editing(type, 16, Rules::ClockOnly).send) << "sending does not depend on the output type";
    }
    for (int other : {5, -1, Rules::NoCombo})
        EXPECT_EQ(summary(editing(2, 16, other)), "PTCBDG16") << "output type " << other;

    for (int count : {2, 7, 16}) {
        const Rules::Enabled e = editing(2, count);
        for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
            EXPECT_EQ(e.steps[s], s < count) << "step " << s + 1 << " with " << count << " steps";
    }
    EXPECT_EQ(summary(editing(2, -1)), "PTCBDG0") << "no step count shown";
    EXPECT_EQ(summary(editing(2, 16, 4, -1)), "PG0") << "no program: only the selector and the globals";
}

TEST(QuorvaEnableRules, SendNeedsAPortAndNoSendUnderWay)
{
    EXPECT_FALSE(editing(2, 16, 4, 0, -1).send) << "nothing chosen";
    EXPECT_FALSE(editing(2, 16, 4, 0, 0).send) << "\"(none)\"";
    EXPECT_TRUE(editing(2, 16, 4, 0, 3).send);
    Rules::Shown s;
    s.portItemIndex = 3;
    s.sending = true;
    EXPECT_FALSE(Rules::compute(s).send) << "while waiting for the device";
}
