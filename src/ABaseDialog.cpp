#include "ABaseDialog.h"

#include "JuceUtils.h"

ABaseDialog::ABaseDialog(const juce::String& title, juce::Component* centreOn, bool isModal)
    : juce::DialogWindow(title, juce::Colours::lightgrey, true, true), modal(isModal), parent(centreOn)
{
}

void ABaseDialog::init()
{
    setContentOwned(createDialogContent(), false);
    reposition();
    dialogInitialised(false);
}

void ABaseDialog::reposition()
{
    setContentComponentSize(getDialogWidth(), getDialogHeight());
    if (parent && parent->getWidth() >= 1 && parent->getHeight() >= 1)
        JuceUtils::center(this, parent);
    else
        centreWithSize(getWidth(), getHeight());
}

void ABaseDialog::showTheDialog(bool repositionFirst)
{
    if (repositionFirst)
        reposition();
    if (modal && !isCurrentlyModal()) {
        runModalLoop();
        toFront(false);
    } else {
        setVisible(true);
        toFront(false);
    }
}

void ABaseDialog::closeButtonPressed()
{
    setVisible(false);
    exitModalState(0);
}
