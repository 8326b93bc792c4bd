#pragma once

#include "BContentBase.h"

#include <cstdint>

class OptionsDialogMixerPane;

/** The main window's content: the background picture with a thin half-transparent border,
    the settings pane with a margin of 5 on every side, and the device index read from the
    command line ("-device N" or "/device N"; 0 without it). The window's start and stop
    become the pane's connect and disconnect. */
class ASIOPanel : public BContentBase, public juce::ComboBox::Listener {
public:
  ASIOPanel();
  ~ASIOPanel() override;

  void paint(juce::Graphics& g) override;

  void initialise() override;
  bool parseCommandLine(const juce::String& commandLine) override;
  void anotherInstanceStarted(const juce::String& commandLine) override;
  void start(bool startNow) override;
  void stop() override;

  void comboBoxChanged(juce::ComboBox* box) override;

  OptionsDialogMixerPane* getPane() const noexcept { return pane; }
  std::int32_t getDeviceIndex() const noexcept { return deviceIndex; }

private:
  void readCommandLine(const juce::String& commandLine);

  OptionsDialogMixerPane* pane = nullptr;
  std::int32_t deviceIndex = 0;

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ASIOPanel)
};
