#include "QuorvaWindow.h"

#include "BContentBase.h"
#include "QuorvaContentPanel.h"

std::unique_ptr<BContentBase> QuorvaWindow::createContentPanel()
{
    return CreateContentPanel();
}
