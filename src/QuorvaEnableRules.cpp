#include "QuorvaEnableRules.h"

bool QuorvaEnableRules::hasDuration(int programType)
{
    return programType != 5 && programType != 3 && programType != 1;
}

bool QuorvaEnableRules::hasBaseSetting(int programType)
{
    return programType != 5;
}

QuorvaEnableRules::Enabled QuorvaEnableRules::compute(const Shown& shown)
{
    Enabled e;
    const bool editing = shown.outputType != ClockOnly;
    const bool hasProgram = editing && shown.programItemIndex >= 0;

    e.send = !shown.sending && shown.portItemIndex >= 1;
    e.program = editing;
    e.programType = hasProgram;
    e.stepCount = hasProgram;
    e.baseSetting = hasProgram && hasBaseSetting(shown.programType);
    e.duration = hasProgram && hasDuration(shown.programType);
    for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
        e.steps[s] = hasProgram && s < shown.stepCount;
    e.globals = editing;
    return e;
}
