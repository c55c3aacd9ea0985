// Base of the application's dialogs: builds its content from the derived class, sizes itself
// and centres on a parent component, and runs modally or not.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class ABaseDialog : public juce::DialogWindow
{
public:
    ABaseDialog(const juce::String& title, juce::Component* parent, bool modal);

    void setParent(juce::Component* newParent) { parent = newParent; }
    // Sets the content from createDialogContent, sizes and places the dialog, then tells the
    // derived class through dialogInitialised(false).
    void init();
    void reposition();

    // Places the dialog again first when asked; runs the modal loop when the dialog is modal.
    virtual void showTheDialog(bool repositionFirst);

    void closeButtonPressed() override;

protected:
    // The dialog's content; the dialog owns it.
    virtual juce::Component* createDialogContent() = 0;
    virtual void dialogInitialised(bool) = 0;
    virtual int getDialogWidth() = 0;
    virtual int getDialogHeight() = 0;

    bool modal;
    juce::Component* parent;   // the component to centre on; not owned
};
