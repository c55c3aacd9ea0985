// A first panel for the frame: the background picture alone, until the editor takes its place.
#include "QuorvaContentPanel.h"

namespace {

class PlainContentPanel : public BContentBase
{
};

} // namespace

std::unique_ptr<BContentBase> CreateContentPanel()
{
    return std::make_unique<PlainContentPanel>();
}
