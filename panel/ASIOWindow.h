#pragma once

#include "BWindow.h"

/** The program's main window: black, with the ASIOPanel as its content, and the program's icon
    in its title bar and in the task bar. */
class ASIOWindow : public BWindow {
public:
  explicit ASIOWindow(const juce::String& title);
  ~ASIOWindow() override;

  std::unique_ptr<BContentBase> createContent() override;
  void parentHierarchyChanged() override;

private:
  /** Gives the native window the icon in the sizes the system draws it. */
  void setNativeIcons();

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ASIOWindow)
};
