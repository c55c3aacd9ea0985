// Which of the editor's widgets the user may change, decided from what the widgets show. Kept
// apart from the widgets so that the controller's rules can be checked without a window.
#pragma once

#include "QuorvaTables.h"

class QuorvaEnableRules
{
public:
    QuorvaEnableRules() = delete;

    // The output type that switches off all program editing ("Clock Only").
    static constexpr int ClockOnly = 6;
    // Stands for the output type when its combo box does not exist (counts as not clock only).
    static constexpr int NoCombo = -2;

    // What the widgets show; combo box values are item id - 1, so -1 means nothing selected.
    struct Shown
    {
        bool sending = false;       // a send is waiting for the device
        int portItemIndex = -1;     // the port chooser's item index; 0 is its "(none)"
        int outputType = -1;
        int programItemIndex = -1;
        int programType = -1;
        int stepCount = -1;
    };

    struct Enabled
    {
        bool send = false;
        bool program = false;
        bool programType = false;
        bool stepCount = false;
        bool baseSetting = false;
        bool duration = false;
        bool steps[QUORVA_STEP_COUNT] = {};
        bool globals = false;       // MIDI channel and both portamento rates
        // The output type itself is always enabled, so "Clock Only" can be left again.
    };

    static Enabled compute(const Shown& shown);

    // Types "Step Portamento" (3), "Step, No Portamento" (1) and "Different Settings" (5) play
    // their steps without a program duration.
    static bool hasDuration(int programType);
    // Only "Different Settings" (5) has no base setting: each step picks its own.
    static bool hasBaseSetting(int programType);
};
