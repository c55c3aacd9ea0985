// The main window's content panel.
#pragma once

#include "BContentBase.h"

#include <memory>

// A new content panel for the main window, which owns it.
std::unique_ptr<BContentBase> CreateContentPanel();
