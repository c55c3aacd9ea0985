// The rules on their own, for what the editor's widgets cannot show (no type or no program shown,
// no output type combo box); the editor's tests drive every program type and "Clock Only".
#include "QuorvaEnableRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The enabled widgets as letters (Program, Type, Count, Base setting, Duration, Globals, Send),
// then the number of steps.
std::string enabled(int type, int steps, int outputType = 4, int programItem = 0, bool sending = false)
{
    QuorvaEnableRules::Shown s;
    s.portItemIndex = 1;
    s.sending = sending;
    s.outputType = outputType;
    s.programItemIndex = programItem;
    s.programType = type;
    s.stepCount = steps;
    const QuorvaEnableRules::Enabled e = QuorvaEnableRules::compute(s);
    int on = 0;
    for (bool step : e.steps)
        on += step;
    return std::string(e.program ? "P" : "") + (e.programType ? "T" : "") + (e.stepCount ? "C" : "") + (e.baseSetting ? "B" : "") +
           (e.duration ? "D" : "") + (e.globals ? "G" : "") + (e.send ? "S" : "") + std::to_string(on);
}

} // namespace

TEST(QuorvaEnableRules, WhatTheWidgetsCannotShow)
{
    EXPECT_EQ(enabled(3, 7), "PTCBGS7") << "a step type has no duration; the first steps";
    EXPECT_EQ(enabled(5, 16), "PTCGS16") << "Different Settings has no base setting either";
    EXPECT_EQ(enabled(-1, 16), "PTCBDGS16") << "no type shown";
    EXPECT_EQ(enabled(2, -1), "PTCBDGS0") << "no step count shown";
    EXPECT_EQ(enabled(2, 16, 4, -1), "PGS0") << "no program: only the selector and the globals";
    EXPECT_EQ(enabled(2, 16, QuorvaEnableRules::NoCombo), "PTCBDGS16") << "no output type combo box";
    EXPECT_EQ(enabled(2, 16, QuorvaEnableRules::ClockOnly), "S0") << "Clock Only";
    EXPECT_EQ(enabled(2, 16, 4, 0, true), "PTCBDG16") << "no send while waiting for the device";
}
