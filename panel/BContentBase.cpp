#include "BContentBase.h"

#include "BWindow.h"
#include "ResourcePictures.h"

BContentBase::BContentBase() = default;

BContentBase::~BContentBase()
{
  // The window outlives its content only for a moment, but events must not reach a
  // content that is gone.
  if (listenedWindow != nullptr)
    listenedWindow->removeMouseListener(this);
  background.reset();
}

void BContentBase::initialise()
{
  background = loadDrawableByFileName("background.png");
  if (background != nullptr) {
    const juce::Rectangle<float> bounds = background->getDrawableBounds();
    preferredWidth = static_cast<int>(bounds.getWidth());
    preferredHeight = static_cast<int>(bounds.getHeight());
  }

  if (BWindow* window = BWindow::getMainWindow(); window != nullptr && listenedWindow == nullptr) {
    window->addMouseListener(this, false);
    listenedWindow = window;
  }
}

bool BContentBase::parseCommandLine(const juce::String&)
{
  return true;
}

void BContentBase::anotherInstanceStarted(const juce::String&)
{
}

void BContentBase::start(bool)
{
  started = true;
}

bool BContentBase::canClose()
{
  return true;
}

void BContentBase::stop()
{
}

void BContentBase::refresh()
{
}

bool BContentBase::shouldShowWindow()
{
  BWindow* window = BWindow::getMainWindow();
  // JUCE's setMinimised remembers the last position before it minimises the native peer,
  // and does nothing without one.
  if (startMinimised && window != nullptr && !window->isMinimised())
    window->setMinimised(true);
  return true;
}

void BContentBase::setPreferredSize(int width, int height)
{
  preferredWidth = width;
  preferredHeight = height;
}

void BContentBase::paint(juce::Graphics& g)
{
  g.setOpacity(1.0f);
  if (background != nullptr)
    background->draw(g, 1.0f, juce::AffineTransform());
}

void BContentBase::handleAsyncUpdate()
{
  if (refreshPending) {
    refreshPending = false;
    refresh();
  }
  if (repaintPending) {
    repaintPending = false;
    repaint();
  }
}

void BContentBase::minimisationStateChanged(bool)
{
}

void BContentBase::mouseDown(const juce::MouseEvent& e)
{
  BWindow* window = BWindow::getMainWindow();
  if (window != nullptr && e.mods.isLeftButtonDown()) {
    dragStartX = window->getX();
    dragStartY = window->getY();
  }
}

void BContentBase::mouseDrag(const juce::MouseEvent& e)
{
  dragWindow(e);
}

void BContentBase::dragWindow(const juce::MouseEvent& e)
{
  BWindow* window = BWindow::getMainWindow();
  if (window == nullptr || dragStartX == kNoDragOrigin)
    return;
  window->setBounds(dragStartX + e.getDistanceFromDragStartX(),
                    dragStartY + e.getDistanceFromDragStartY(), window->getWidth(),
                    window->getHeight());
}

void BContentBase::mouseUp(const juce::MouseEvent& e)
{
  dragWindow(e);
  // For a release JUCE reports the buttons as they were before it.
  if (e.mods.isLeftButtonDown()) {
    dragStartX = kNoDragOrigin;
    dragStartY = kNoDragOrigin;
  }
}

void BContentBase::mouseDoubleClick(const juce::MouseEvent& e)
{
  BWindow* window = BWindow::getMainWindow();
  if (window == nullptr || e.eventComponent != window)
    return;
  if (e.mods.isRightButtonDown() || !e.mods.isLeftButtonDown())
    return;
  if (e.y < window->getTitleBarHeight())
    window->setMinimised(true);
}
