#pragma once

#include "BWindow.h"

/** The program's main window: black, with the ASIOPanel as its content. */
class ASIOWindow : public BWindow {
public:
  explicit ASIOWindow(const juce::String& title);
  ~ASIOWindow() override;

  std::unique_ptr<BContentBase> createContent() override;

private:
  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ASIOWindow)
};
