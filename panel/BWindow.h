#pragma once

#include "BContentBase.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** A document window that owns one BContentBase and drives it: initialise, read the command
    line, show, start 20 ms later, ask before closing, stop. It takes the content's preferred
    size, has minimise and close buttons and cannot be resized. */
class BWindow : public juce::DocumentWindow, private juce::Timer {
public:
  explicit BWindow(const juce::String& title);
  ~BWindow() override;

  /** Builds the content, sizes and shows the window and starts the start timer. A
      Tr::Exception from the content ends in the "Fatal Error" box and the program quits. */
  virtual void initialise(const juce::String& commandLine, bool customFrame, bool roundedRegion);
  /** A new content, which the window then owns. */
  virtual std::unique_ptr<BContentBase> createContent() = 0;

  void minimisationStateChanged(bool isNowMinimised) override;
  void paint(juce::Graphics& g) override;
  void closeButtonPressed() override;

  BContentBase* getContent() const noexcept { return content; }

  /** The program's one main window: the last one made, until it is destroyed. */
  static BWindow* getMainWindow() noexcept { return mainWindow; }

private:
  void timerCallback() override;

  static BWindow* mainWindow;

  BContentBase* content = nullptr; // owned through setContentOwned
  bool customFrame = false;
  bool roundedRegion = false;
  bool startPending = false;

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(BWindow)
};
