// A question box with up to six buttons, described as a record so that it can be shown on the
// message thread from anywhere (JuceUtils::Confirm with the "... to all" buttons).
#pragma once

#include "JuceUtils.h"

#include <juce_gui_basics/juce_gui_basics.h>

struct BAlertWindowInfo
{
    juce::String title;
    juce::String message;
    juce::String buttonText[6];
    int iconType = 0;   // juce::MessageBoxIconType: 0 none, 1 question, 2 warning, 3 information
    int numButtons = 0;
    // codes[k] is what the button with return value k stands for.
    JuceUtils::DialogReturnCode codes[7] = {};

    // Runs the box modally and returns the chosen button's return value: button 0 returns 1,
    // button 1 returns 2 (0 when there are only two), the last one returns 0 and answers escape.
    int show() const;

    // show() on the record at info, in the form MessageManager::callFunctionOnMessageThread takes.
    static void* showCallback(void* info);
};
