#pragma once

#include "Marlow1394oxClient.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

class DeviceImage;
class DevChangeNotifier;

/** The settings pane, the whole working surface of the control panel: the device picture, a
    two-line status text, the latency meter's button, a separator and three captioned combo
    boxes (sampling rate, FireWire latency, ASIO buffering). It owns the connection to the
    device: the driver client, the last status read and the device-change watcher.

    The layout is fixed when the pane is made, from the picture's height. */
class OptionsDialogMixerPane : public juce::Component,
                               public juce::ComboBox::Listener,
                               public juce::Button::Listener,
                               public juce::Timer {
public:
  static constexpr int kPaneWidth = 250;
  static constexpr int kStatusPollIntervalMs = 700;

  /** Throws Tr::Exception when a device picture cannot be loaded. */
  OptionsDialogMixerPane();
  ~OptionsDialogMixerPane() override;

  void paint(juce::Graphics& g) override;
  void comboBoxChanged(juce::ComboBox* box) override;
  void buttonClicked(juce::Button* button) override;
  void timerCallback() override;

  int getPaneWidth() const noexcept { return kPaneWidth; }
  int getPaneHeight() const noexcept { return paneHeight; }

  // The device connection.
  /** The device to control, by its index in the driver's list; below 0 for none. */
  void setDeviceIndex(std::int32_t index);
  /** Opens the driver if needed, looks the device up, selects it, polls; any time. */
  void connect();
  void disconnect();
  bool lookUpDeviceId();
  bool selectDevice();
  bool closeIfDeviceGone();
  bool openDeviceIfClosed();
  void pollStatus();
  void updateSampleRateList();
  void syncSampleRateCombo();
  void updateControls();
  void updateStatusText();
  bool isReady() const;

  // Applying the three settings.
  void applySettings();

  // What the device connection reached, for those who watch the pane.
  std::int32_t getDeviceIndex() const noexcept { return deviceIndex; }
  std::uint64_t getDeviceId() const noexcept { return deviceId; }
  bool isDeviceSelected() const noexcept { return deviceSelected != 0; }
  const OxStatus& getStatusCache() const noexcept { return statusCache; }
  bool isClientOpen() const { return client.isOpen(); }
  DeviceImage* getDeviceImage() const noexcept { return deviceImage; }
  juce::ComboBox* getSampleRateCombo() const noexcept { return sampleRateCombo; }
  juce::ComboBox* getFirewireLatencyCombo() const noexcept { return firewireLatencyCombo; }
  juce::ComboBox* getAsioBufferCombo() const noexcept { return asioBufferCombo; }
  juce::Label* getStatusLabel() const noexcept { return statusLabel; }
  juce::TextButton* getLatencyToolButton() const noexcept { return latencyToolButton; }
  const juce::Path& getSeparatorPath() const noexcept { return separatorPath; }
  DevChangeNotifier* getDevChangeNotifier() const noexcept { return devChangeNotifier; }

private:
  class PollPause;

  void selectStatusItems();
  /** Shows why a pick cannot be applied and puts the device's settings back in the boxes. */
  void refusePick(const juce::String& text);
  juce::Label* makeLabel(const juce::String& name, const juce::String& text,
                         juce::Justification justification);
  juce::ComboBox* makeComboBox(const juce::String& tooltip);

  std::int32_t deviceIndex = -1;
  DeviceImage* deviceImage = nullptr;
  juce::ComboBox* sampleRateCombo = nullptr;
  juce::Label* statusLabel = nullptr;
  juce::Label* sampleRateLabel = nullptr;
  juce::ComboBox* firewireLatencyCombo = nullptr;
  juce::Label* firewireLatencyLabel = nullptr;
  juce::ComboBox* asioBufferCombo = nullptr;
  juce::Label* asioBufferLabel = nullptr;
  juce::TextButton* latencyToolButton = nullptr;
  juce::Path separatorPath;
  std::int32_t paneHeight = 0;
  std::int32_t lastReadyState = -1;
  DevChangeNotifier* devChangeNotifier = nullptr;
  Marlow1394oxClient client;
  OxStatus statusCache = {};
  std::uint64_t deviceId = 0;
  std::int32_t deviceSelected = 0;
  int pollPauses = 0;          // roads of driver requests running now
  bool pollAfterPause = false; // the poll timer runs again once the last of them has ended
  double pollPauseEndMs = 0.0; // when the poll timer last started again, on JUCE's hi-res clock

  JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(OptionsDialogMixerPane)
};
