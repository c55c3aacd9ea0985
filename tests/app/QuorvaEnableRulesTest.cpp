#include "QuorvaEnableRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Rules = QuorvaEnableRules;

// What an editor showing program 1 of the given type and step count, with a port chosen, shows.
Rules::Shown editing(int type, int steps, int outputType = 4)
{
    Rules::Shown s;
    s.portItemIndex = 1;
    s.outputType = outputType;
    s.programItemIndex = 0;
    s.programType = type;
    s.stepCount = steps;
    return s;
}

int enabledSteps(const Rules::Enabled& e)
{
    int n = 0;
    for (bool on : e.steps)
        n += on ? 1 : 0;
    return n;
}

} // namespace

TEST(QuorvaEnableRules, ProgramTypesDecideBaseSettingAndDuration)
{
    struct Case
    {
        int type;
        const char* name;
        bool baseSetting;
        bool duration;
    };
    const Case cases[] = {
        {2, "Loop Portamento", true, true},      {0, "Loop, No Portamento", true, true},
        {3, "Step Portamento", true, false},     {1, "Step, No Portamento", true, false},
        {5, "Different Settings", false, false}, {-1, "no type shown", true, true},
    };
    for (const Case& c : cases)
    {
        const Rules::Enabled e = Rules::compute(editing(c.type, 16));
        EXPECT_TRUE(e.program && e.programType && e.stepCount && e.globals) << c.name;
        EXPECT_EQ(e.baseSetting, c.baseSetting) << c.name;
        EXPECT_EQ(e.duration, c.duration) << c.name;
        EXPECT_EQ(enabledSteps(e), 16) << c.name;
        EXPECT_EQ(Rules::hasDuration(c.type), c.duration) << c.name;
        EXPECT_EQ(Rules::hasBaseSetting(c.type), c.baseSetting) << c.name;
    }
}

TEST(QuorvaEnableRules, StepCountEnablesTheFirstSteps)
{
    for (int count = 2; count <= 16; ++count)
    {
        const Rules::Enabled e = Rules::compute(editing(2, count));
        for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
            EXPECT_EQ(e.steps[s], s < count) << "step " << s + 1 << " with " << count << " steps";
    }
    EXPECT_EQ(enabledSteps(Rules::compute(editing(2, -1))), 0) << "no step count shown";
}

TEST(QuorvaEnableRules, ClockOnlySwitchesOffAllProgramEditing)
{
    for (int type : {0, 1, 2, 3, 5})
    {
        const Rules::Enabled e = Rules::compute(editing(type, 16, Rules::ClockOnly));
        EXPECT_FALSE(e.program || e.programType || e.stepCount || e.baseSetting || e.duration || e.globals)
            << "type " << type;
        EXPECT_EQ(enabledSteps(e), 0) << "type " << type;
        EXPECT_TRUE(e.send) << "sending does not depend on the output type";
    }
    for (int other : {4, 5, -1, Rules::NoCombo})
    {
        const Rules::Enabled e = Rules::compute(editing(2, 16, other));
        EXPECT_TRUE(e.program && e.programType && e.baseSetting && e.duration && e.globals)
            << "output type " << other;
    }
}

TEST(QuorvaEnableRules, NoProgramLeavesOnlyTheSelectorAndGlobals)
{
    Rules::Shown s = editing(2, 16);
    s.programItemIndex = -1;
    const Rules::Enabled e = Rules::compute(s);
    EXPECT_TRUE(e.program);
    EXPECT_TRUE(e.globals);
    EXPECT_FALSE(e.programType || e.stepCount || e.baseSetting || e.duration);
    EXPECT_EQ(enabledSteps(e), 0);
}

TEST(QuorvaEnableRules, SendNeedsAPortAndNoSendUnderWay)
{
    Rules::Shown s = editing(2, 16);
    for (int item : {-1, 0})
    {
        s.portItemIndex = item;
        EXPECT_FALSE(Rules::compute(s).send) << "port item " << item << " is no port";
    }
    s.portItemIndex = 3;
    EXPECT_TRUE(Rules::compute(s).send);
    s.sending = true;
    EXPECT_FALSE(Rules::compute(s).send) << "while waiting for the device";
}
