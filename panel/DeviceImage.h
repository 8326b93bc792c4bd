#pragma once

#include "TrString.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

/** The picture of the mixer at the top of the settings pane: the device present or absent,
    at full or half opacity. A change of state repaints later, once per burst of changes. */
class DeviceImage : public juce::Component, public juce::AsyncUpdater {
public:
  /** Throws Tr::Exception when either picture is not among the program's resources. */
  DeviceImage(const juce::String& existsFileName, const juce::String& notExistsFileName);
  ~DeviceImage() override;

  /** True when either flag changed; only then is a repaint asked for. */
  bool setState(std::int32_t present, std::int32_t active);

  void paint(juce::Graphics& g) override;
  void handleAsyncUpdate() override;

  std::int32_t isPresent() const noexcept { return present; }
  std::int32_t isActive() const noexcept { return active; }

  [[noreturn]] static void throwImageLoadError(const Tr::TString& fileName);

private:
  void sizeToPicture();

  juce::Drawable* existsPicture = nullptr;
  juce::Drawable* notExistsPicture = nullptr;
  std::int32_t present = 0;
  std::int32_t active = 0;
  std::int32_t ownsPictures = 0;

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DeviceImage)
};

/** "ERROR: unable to load device image '" followed by the file name. */
Tr::TString makeImageLoadErrorText(const Tr::TString& fileName);
