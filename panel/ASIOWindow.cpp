#include "ASIOWindow.h"

#include "ASIOPanel.h"

ASIOWindow::ASIOWindow(const juce::String& title) : BWindow(title)
{
  setBackgroundColour(juce::Colours::black);
}

ASIOWindow::~ASIOWindow() = default;

std::unique_ptr<BContentBase> ASIOWindow::createContent()
{
  return std::make_unique<ASIOPanel>();
}
