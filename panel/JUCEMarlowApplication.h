#pragma once

#include "BWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** Fenwick's application object: one instance only, one main window. */
class JUCEMarlowApplication : public juce::JUCEApplication {
public:
  JUCEMarlowApplication();
  ~JUCEMarlowApplication() override;

  void initialise(const juce::String& commandLine) override;
  void shutdown() override;
  const juce::String getApplicationName() override;
  const juce::String getApplicationVersion() override;
  bool moreThanOneInstanceAllowed() override;
  void anotherInstanceStarted(const juce::String& commandLine) override;

private:
  std::unique_ptr<BWindow> window;
  /** Shows the tooltips of every component of the program; JUCE wants one per application. */
  std::unique_ptr<juce::TooltipWindow> tooltipWindow;

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(JUCEMarlowApplication)
};
