#include "BContentBase.h"

#include "BWindow.h"
#include "JuceUtils.h"

BContentBase::BContentBase() = default;

BContentBase::~BContentBase()
{
    if (auto* window = BWindow::getInstance())
        window->removeMouseListener(this);
}

void BContentBase::createComponents()
{
    background = JuceUtils::getDrawable("background.png");
    if (background) {
        const auto bounds = background->getDrawableBounds();
        preferredWidth = (int)bounds.getWidth();
        preferredHeight = (int)bounds.getHeight();
    }
    // Clicks on the window itself (outside the panel) move and minimise it like clicks on the
    // background.
    if (auto* window = BWindow::getInstance())
        window->addMouseListener(this, false);
}

bool BContentBase::init(const juce::String&)
{
    return true;
}

void BContentBase::start(bool) {}

bool BContentBase::canQuit()
{
    return true;
}

void BContentBase::close() {}

void BContentBase::enableButtons() {}

bool BContentBase::showWindowOnStart()
{
    return true;
}

void BContentBase::handleAsyncUpdate()
{
    if (enablePending) {
        enablePending = false;
        enableButtons();
    }
    if (repaintPending) {
        repaintPending = false;
        repaint();
    }
}

void BContentBase::setPreferredBounds(int w, int h)
{
    preferredWidth = w;
    preferredHeight = h;
}

juce::HyperlinkButton* BContentBase::createLinkButton(const juce::String& url)
{
    auto* button = new juce::HyperlinkButton(" ", juce::URL(url));
    button->setColour(juce::HyperlinkButton::textColourId, juce::Colours::transparentWhite);
    addAndMakeVisible(button);
    return button;
}

void BContentBase::enableButtonsAsync()
{
    enablePending = true;
    triggerAsyncUpdate();
}

void BContentBase::asyncRepaint()
{
    repaintPending = true;
    triggerAsyncUpdate();
}

void BContentBase::dragReposition(const juce::MouseEvent& e)
{
    auto* window = BWindow::getInstance();
    if (!window || dragOriginX == kNoDrag)
        return;
    // On the screen: the panel moves with the window, so its own coordinates would not do.
    const auto distance = e.getScreenPosition() - e.getMouseDownScreenPosition();
    window->setTopLeftPosition(dragOriginX + distance.x, dragOriginY + distance.y);
}

void BContentBase::mouseDown(const juce::MouseEvent& e)
{
    if (auto* window = BWindow::getInstance(); window && e.mods.isLeftButtonDown()) {
        dragOriginX = window->getX();
        dragOriginY = window->getY();
    }
    juce::Component::mouseDown(e);
}

void BContentBase::mouseDrag(const juce::MouseEvent& e)
{
    dragReposition(e);
    juce::Component::mouseDrag(e);
}

void BContentBase::mouseUp(const juce::MouseEvent& e)
{
    dragReposition(e);
    if (e.mods.isLeftButtonDown()) {
        dragOriginX = kNoDrag;
        dragOriginY = kNoDrag;
    }
    juce::Component::mouseUp(e);
}

void BContentBase::mouseDoubleClick(const juce::MouseEvent& e)
{
    auto* window = BWindow::getInstance();
    if (!window || e.eventComponent != window) {
        juce::Component::mouseDoubleClick(e);
        return;
    }
    if (e.mods.isRightButtonDown() || !e.mods.isLeftButtonDown())
        return;
    if (e.y >= window->getTitleBarHeight())
        return;
    window->setMinimised(true);
}

void BContentBase::minimisationStateChanged(bool) {}

void BContentBase::paint(juce::Graphics& g)
{
    g.setOpacity(1.0f);
    if (auto* window = BWindow::getInstance(); window && window->isTransparent())
        g.fillAll(juce::Colours::transparentWhite);
    if (background)
        background->draw(g, 1.0f);
}
