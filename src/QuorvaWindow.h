// The utility's main window: the frame with the program editor panel as its content.
#pragma once

#include "BWindow.h"

class QuorvaWindow : public BWindow
{
public:
    using BWindow::BWindow;

protected:
    std::unique_ptr<BContentBase> createContentPanel() override;
};
