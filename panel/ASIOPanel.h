#pragma once

#include "BContentBase.h"

/** The main window's content. For now the background picture with its thin border; the
    settings pane and the device connection come with the panel itself. */
class ASIOPanel : public BContentBase {
public:
  ASIOPanel();
  ~ASIOPanel() override;

  void paint(juce::Graphics& g) override;

private:
  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ASIOPanel)
};
