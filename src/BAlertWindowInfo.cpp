#include "BAlertWindowInfo.h"

namespace {

juce::KeyPress firstLetterKey(const juce::String& text)
{
    if (text.isEmpty())
        return {};
    return juce::KeyPress((int)juce::CharacterFunctions::toLowerCase(text[0]));
}

} // namespace

int BAlertWindowInfo::show() const
{
    juce::AlertWindow box(title, message, (juce::MessageBoxIconType)iconType);
    const juce::KeyPress escape(juce::KeyPress::escapeKey);
    const juce::KeyPress enter(juce::KeyPress::returnKey);

    if (numButtons <= 1) {
        box.addButton(buttonText[0], 0, escape, enter);
    } else {
        const juce::KeyPress keyA = firstLetterKey(buttonText[0]);
        juce::KeyPress keyB = firstLetterKey(buttonText[1]);
        if (keyB == keyA)
            keyB = {};
        if (numButtons == 2) {
            box.addButton(buttonText[0], 1, enter, keyA);
            box.addButton(buttonText[1], 0, escape, keyB);
        } else {
            const int count = juce::jmin(numButtons, 6);
            box.addButton(buttonText[0], 1, keyA);
            box.addButton(buttonText[1], 2, keyB);
            for (int k = 2; k <= count - 2; ++k)
                box.addButton(buttonText[k], k + 1);
            box.addButton(buttonText[count - 1], 0, escape);
        }
    }
    return box.runModalLoop();
}

void* BAlertWindowInfo::showCallback(void* info)
{
    return (void*)(juce::pointer_sized_int)static_cast<const BAlertWindowInfo*>(info)->show();
}
