#include "OptionsDialogMixerPane.h"

#include "DevChangeNotifier.h"
#include "DeviceImage.h"
#include "MessageBoxes.h"
#include "TrJuce.h"

#include <cstring>
#include <shellapi.h>
#include <windows.h>

namespace {

constexpr juce::uint32 kWhite = 0xFFFFFFFFu;
constexpr juce::uint32 kBlack = 0xFF000000u;
constexpr juce::uint32 kTransparent = 0x00000000u;

template <typename T> void deleteAndClear(T*& p)
{
  delete p;
  p = nullptr;
}

} // namespace

/** Keeps the poll timer stopped while a road of driver requests runs, and starts it again, for a
    full period, once the outermost road has ended. A callback that blocks makes JUCE's timer
    thread post the callback message again every 300 ms or so, and each copy that finds a running
    timer due would start another request: with a driver slower than the period, the polls would
    run back to back and the window's own messages (input, WM_CLOSE) would wait behind them for
    as long as the driver stays slow. */
class OptionsDialogMixerPane::PollPause {
public:
  explicit PollPause(OptionsDialogMixerPane& owner) : pane(owner)
  {
    if (pane.pollPauses++ == 0) {
      pane.pollAfterPause = pane.isTimerRunning();
      pane.stopTimer();
    }
  }
  ~PollPause()
  {
    if (--pane.pollPauses == 0 && pane.pollAfterPause) {
      pane.pollPauseEndMs = juce::Time::getMillisecondCounterHiRes();
      pane.startTimer(kStatusPollIntervalMs);
    }
  }

  PollPause(const PollPause&) = delete;
  PollPause& operator=(const PollPause&) = delete;

private:
  OptionsDialogMixerPane& pane;
};

OptionsDialogMixerPane::OptionsDialogMixerPane()
{
  deviceImage = new DeviceImage("HaldenExists.png", "HaldenNotExists.png");
  deviceImage->setState(1, 1);
  addAndMakeVisible(deviceImage);

  statusLabel = makeLabel("status", "Error: module not available", juce::Justification::centred);
  sampleRateLabel = makeLabel("new label", "Sampling Rate", juce::Justification::centredLeft);
  sampleRateCombo = makeComboBox("Select the sampling rate, higher sampling rates mean better "
                                 "sound but more CPU overhead");
  firewireLatencyCombo =
      makeComboBox("Select the latency for the soundcard, lower settings mean faster output of "
                   "audio but more risk for dropouts");
  firewireLatencyLabel =
      makeLabel("new label", "Firewire Latency", juce::Justification::centredLeft);
  asioBufferCombo = makeComboBox("Select the ASIO buffering latency, lower settings mean faster "
                                 "performance but higher risk of audio dropouts");
  asioBufferLabel = makeLabel("new label", "ASIO Buffering", juce::Justification::centredLeft);

  latencyToolButton = new juce::TextButton("new button", juce::String());
  addAndMakeVisible(latencyToolButton);
  latencyToolButton->setTooltip("Use this tool to troubleshoot audio drop outs, read the owners "
                                "manual for more information regarding system tuning");
  latencyToolButton->setButtonText("Ravelin");
  latencyToolButton->addListener(this);
  latencyToolButton->setColour(juce::TextButton::buttonColourId, juce::Colour(0xFF36C4D7u));
  latencyToolButton->setColour(juce::TextButton::buttonOnColourId, juce::Colour(0xFFAEE5FFu));

  Tr::centreAtTop(deviceImage, kPaneWidth);
  const int ih = deviceImage->getHeight();
  Tr::centreHorizontally(statusLabel, kPaneWidth, ih + 4, 250, 48);
  Tr::centreHorizontally(latencyToolButton, kPaneWidth, ih + 56, 152, 23);
  separatorPath.clear();
  separatorPath.startNewSubPath(15.0f, static_cast<float>(ih + 91));
  separatorPath.lineTo(235.0f, static_cast<float>(ih + 91));
  separatorPath.closeSubPath();
  sampleRateLabel->setBounds(15, ih + 103, 150, 24);
  sampleRateCombo->setBounds(17, ih + 127, 216, 23);
  firewireLatencyLabel->setBounds(15, ih + 162, 150, 24);
  firewireLatencyCombo->setBounds(17, ih + 186, 216, 23);
  asioBufferLabel->setBounds(15, ih + 221, 150, 24);
  asioBufferCombo->setBounds(17, ih + 245, 216, 23);

  paneHeight = ih + 274;
  lastReadyState = -1;

  for (int i = 0; i <= OX_MAX_FIREWIRE_LATENCY_INDEX; ++i)
    firewireLatencyCombo->addItem(getFirewireLatencyName(i), i + 1);
  for (int i = 0; i <= OX_MAX_ASIO_BUFFER_INDEX; ++i)
    asioBufferCombo->addItem(getAsioBufferName(i), i + 1);

  std::memset(&statusCache, 0, sizeof statusCache);
  deviceId = 0;
  deviceSelected = 0;
}

OptionsDialogMixerPane::~OptionsDialogMixerPane()
{
  // The poll must not run into half-deleted children.
  stopTimer();
  deleteAndClear(sampleRateCombo);
  deleteAndClear(statusLabel);
  deleteAndClear(sampleRateLabel);
  deleteAndClear(firewireLatencyCombo);
  deleteAndClear(firewireLatencyLabel);
  deleteAndClear(asioBufferCombo);
  deleteAndClear(asioBufferLabel);
  deleteAndClear(latencyToolButton);
  deleteAndClear(deviceImage);
  deleteAndClear(devChangeNotifier);
}

juce::Label* OptionsDialogMixerPane::makeLabel(const juce::String& name, const juce::String& text,
                                               juce::Justification justification)
{
  auto* label = new juce::Label(name, text);
  addAndMakeVisible(label);
  label->setFont(juce::Font(15.0f, juce::Font::plain));
  label->setJustificationType(justification);
  label->setEditable(false, false, false);
  label->setColour(juce::Label::textColourId, juce::Colour(kWhite));
  label->setColour(juce::TextEditor::textColourId, juce::Colour(kBlack));
  label->setColour(juce::TextEditor::backgroundColourId, juce::Colour(kTransparent));
  return label;
}

juce::ComboBox* OptionsDialogMixerPane::makeComboBox(const juce::String& tooltip)
{
  auto* box = new juce::ComboBox("new combo box");
  addAndMakeVisible(box);
  box->setTooltip(tooltip);
  box->setExplicitFocusOrder(1);
  box->setEditableText(false);
  box->setJustificationType(juce::Justification::centredLeft);
  box->addListener(this);
  Tr::setComboBoxAlpha(box, 0.5f);
  return box;
}

void OptionsDialogMixerPane::paint(juce::Graphics& g)
{
  g.setColour(juce::Colour(kWhite));
  g.strokePath(separatorPath, juce::PathStrokeType(1.0f), juce::AffineTransform());
}

// ---- The device connection ----

void OptionsDialogMixerPane::setDeviceIndex(std::int32_t index)
{
  deviceIndex = index;
  if (devChangeNotifier == nullptr) {
    devChangeNotifier = new DevChangeNotifier(this);
    devChangeNotifier->start();
  }
  if (index >= 0)
    connect();
  else
    disconnect();
}

void OptionsDialogMixerPane::disconnect()
{
  const PollPause pause(*this);
  closeIfDeviceGone();
  pollAfterPause = false;
  deviceId = 0;
  deviceSelected = 0;
  updateControls();
  updateStatusText();
}

void OptionsDialogMixerPane::connect()
{
  const PollPause pause(*this);
  statusCache.streamState = OX_STREAM_NONE;
  const bool wasOpen = client.isOpen();
  if (!wasOpen)
    client.open();
  if (!lookUpDeviceId() && wasOpen && !client.isOpen()) {
    // The handle was left from a driver that has gone since (removed, perhaps installed
    // again): a fresh one reaches the driver that is there now.
    client.open();
    lookUpDeviceId();
  }
  selectDevice();
  // The period is counted from the end of this road, however long the driver took.
  pollAfterPause = true;
  pollStatus();
  updateControls();
  updateStatusText();
}

bool OptionsDialogMixerPane::lookUpDeviceId()
{
  deviceId = 0;
  OxDeviceList list = {};
  if (client.getDeviceList(list) != 0) {
    // Nothing reaches a driver that cannot list its devices, and a handle kept open here
    // would keep the next connect from opening the driver again.
    client.close();
    return false;
  }
  // A driver may claim more entries than the record holds; only those within it are read.
  const std::int32_t count =
      static_cast<std::int32_t>(list.count > OX_MAX_DEVICES ? OX_MAX_DEVICES : list.count);
  if (deviceIndex >= 0 && deviceIndex < count)
    deviceId = list.entries[deviceIndex].deviceId;
  return deviceId != 0;
}

bool OptionsDialogMixerPane::selectDevice()
{
  deviceSelected = 0;
  if (deviceId == 0)
    return false;
  OxDeviceList list = {};
  if (client.getDeviceList(list) != 0)
    return false;
  if (list.currentDeviceId == deviceId) {
    deviceSelected = 1;
    return true;
  }
  if (client.selectDevice(deviceId) == 0) {
    deviceSelected = 1;
    return true;
  }
  // The driver refuses another device while it streams: stop, select, start again.
  if (statusCache.streamState == OX_STREAM_NONE)
    pollStatus();
  if (statusCache.streamState != OX_STREAM_STREAMING)
    return false;
  if (client.stopStreaming() != 0)
    return false;
  if (client.selectDevice(deviceId) == 0)
    deviceSelected = 1;
  client.startStreaming();
  return deviceSelected == 1;
}

bool OptionsDialogMixerPane::closeIfDeviceGone()
{
  if (!client.isOpen())
    return false;
  OxDeviceList list = {};
  if (client.getDeviceList(list) != 0 || list.count == 0) {
    client.close();
    return true;
  }
  return false;
}

bool OptionsDialogMixerPane::openDeviceIfClosed()
{
  if (client.isOpen())
    return false;
  return client.open() == 0;
}

void OptionsDialogMixerPane::timerCallback()
{
  // JUCE's timer thread, while it waits for a callback that blocks (any timer's), keeps counting
  // down a timer that was started meanwhile from before its start: the first period after a
  // slow request can come about 300 ms short.
  const double sinceEndMs = juce::Time::getMillisecondCounterHiRes() - pollPauseEndMs;
  if (sinceEndMs < kStatusPollIntervalMs) {
    startTimer(kStatusPollIntervalMs - static_cast<int>(sinceEndMs));
    return;
  }
  // The next poll comes a full period after this one has ended, also when it was cancelled.
  const PollPause pause(*this);
  pollStatus();
}

void OptionsDialogMixerPane::pollStatus()
{
  if (!client.isOpen())
    return;
  OxStatus status = {};
  if (client.getStatus(status) != 0) {
    if (statusCache.streamState != OX_STREAM_NONE) {
      statusCache.streamState = OX_STREAM_NONE;
      updateStatusText();
    }
    return;
  }
  // An unchanged status touches no widget.
  if (std::memcmp(&status, &statusCache, sizeof status) == 0)
    return;
  statusCache = status;
  updateSampleRateList();
  selectStatusItems();
  updateStatusText();
}

void OptionsDialogMixerPane::selectStatusItems()
{
  sampleRateCombo->setSelectedId(static_cast<int>(statusCache.sampleRate),
                                 juce::dontSendNotification);
  firewireLatencyCombo->setSelectedId(static_cast<int>(statusCache.firewireLatencyIndex + 1),
                                      juce::dontSendNotification);
  asioBufferCombo->setSelectedId(static_cast<int>(statusCache.asioBufferIndex + 1),
                                 juce::dontSendNotification);
}

void OptionsDialogMixerPane::updateSampleRateList()
{
  if (!client.isOpen() || statusCache.streamState == OX_STREAM_NONE)
    return;
  // A driver may claim more rates than the record holds; only those within it are read.
  const std::uint32_t count = statusCache.sampleRateCount > OX_MAX_SAMPLE_RATES
                                  ? OX_MAX_SAMPLE_RATES
                                  : statusCache.sampleRateCount;
  juce::Array<int> rates;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t rate = statusCache.sampleRates[i];
    if (rate != 0)
      rates.add(static_cast<int>(rate));
  }
  // The same number of other rates (another device, another clock) must show too: a stale list
  // offers rates the driver refuses and cannot show the one it runs at.
  bool same = rates.size() == sampleRateCombo->getNumItems();
  for (int i = 0; same && i < rates.size(); ++i)
    same = sampleRateCombo->getItemId(i) == rates[i];
  if (same)
    return;
  sampleRateCombo->clear(juce::dontSendNotification);
  for (const int rate : rates)
    sampleRateCombo->addItem(formatSampleRate(static_cast<std::uint32_t>(rate)), rate);
}

void OptionsDialogMixerPane::syncSampleRateCombo()
{
  updateSampleRateList();
  selectStatusItems();
}

bool OptionsDialogMixerPane::isReady() const
{
  return client.isOpen() && deviceId != 0 && deviceSelected == 1;
}

void OptionsDialogMixerPane::updateControls()
{
  const std::int32_t ready = isReady() ? 1 : 0;
  if (ready == lastReadyState)
    return;
  lastReadyState = ready;
  deviceImage->setState(ready, ready);
  for (juce::ComboBox* box : {sampleRateCombo, firewireLatencyCombo, asioBufferCombo}) {
    box->setEnabled(ready != 0);
    if (!ready)
      box->setText(juce::String(), juce::dontSendNotification);
  }
}

void OptionsDialogMixerPane::updateStatusText()
{
  if (statusLabel == nullptr)
    return;
  juce::String first;
  bool withLatency = false;
  bool selected = false;
  if (!isVisible())
    first = "Status: not initialized";
  else if (!client.isOpen())
    first = "Status: no device attached";
  else if (deviceId == 0)
    first = "Status: could not find selected device";
  else if (deviceSelected == 0)
    first = "Status: could not select device";
  else {
    selected = true;
    switch (statusCache.streamState) {
    case OX_STREAM_STOPPED:
      first = "Streaming: stopped.";
      withLatency = true;
      break;
    case OX_STREAM_STREAMING:
      first = juce::String::formatted("Streaming: %u.%d KHz", statusCache.sampleRate / 1000,
                                      static_cast<int>((statusCache.sampleRate % 1000) / 100));
      withLatency = true;
      break;
    case OX_STREAM_ERROR:
      first = "Streaming: error";
      break;
    default:
      first = "Streaming: state undefined.";
      break;
    }
  }
  juce::String text = first;
  if (withLatency) {
    const juce::String latency = getLatencyText(statusCache);
    if (latency.isNotEmpty()) {
      if (text.isNotEmpty())
        text << "\n";
      text << "Latency: " << latency;
    }
  }
  statusLabel->setText(text, juce::dontSendNotification);
  deviceImage->setState(selected ? 1 : 0, selected ? 1 : 0);
}

// ---- Applying settings and the latency meter ----

void OptionsDialogMixerPane::comboBoxChanged(juce::ComboBox* box)
{
  if (box == sampleRateCombo || box == firewireLatencyCombo || box == asioBufferCombo)
    applySettings();
}

void OptionsDialogMixerPane::applySettings()
{
  if (!client.isOpen() || deviceSelected == 0) {
    showErrorBox("Error: device is not available.");
    return;
  }
  const int firewireLatencyIndex = firewireLatencyCombo->getSelectedId() - 1;
  if (firewireLatencyIndex < 0) {
    refusePick("Please select a valid Firewire buffer size.");
    return;
  }
  const int asioBufferIndex = asioBufferCombo->getSelectedId() - 1;
  if (asioBufferIndex < 0) {
    refusePick("Please select a valid ASIO buffer size.");
    return;
  }
  const int rate = sampleRateCombo->getSelectedId();
  if (rate <= 0) {
    refusePick("Please select a valid sampling rate.");
    return;
  }

  // Every decision is taken here: the poll may refresh statusCache while a box is open.
  const bool buffersChanged =
      static_cast<std::uint32_t>(firewireLatencyIndex) != statusCache.firewireLatencyIndex ||
      static_cast<std::uint32_t>(asioBufferIndex) != statusCache.asioBufferIndex;
  const bool rateChanged = static_cast<std::uint32_t>(rate) != statusCache.sampleRate;
  if (!buffersChanged && !rateChanged)
    return;
  const bool wasStreaming = statusCache.streamState == OX_STREAM_STREAMING;
  bool stopFailed = false;
  const char* settingFailure = nullptr;
  bool restartFailed = false;
  juce::MouseCursor::showWaitCursor();

  {
    const PollPause pause(*this);
    stopFailed = wasStreaming && client.stopStreaming() != 0;
    if (!stopFailed) {
      if (buffersChanged && client.setBufferSizes(static_cast<std::uint32_t>(firewireLatencyIndex),
                                                  static_cast<std::uint32_t>(asioBufferIndex)) != 0)
        settingFailure = "Error: changing the buffer sizes failed.";
      if (settingFailure == nullptr && rateChanged &&
          client.setSampleRate(static_cast<std::uint32_t>(rate)) != 0)
        settingFailure = "Error: changing the sample rate failed.";
      // Audio comes back before any box: a box stays open for as long as the user leaves it.
      restartFailed = wasStreaming && client.startStreaming() != 0;
    }
  }
  // The boxes come once the requests have ended: their modal loops run the window's messages,
  // the poll's among them.
  if (stopFailed)
    showErrorBox("Error: could not stop streaming for changing settings.\nPlease retry later.");
  if (settingFailure != nullptr) {
    juce::MouseCursor::hideWaitCursor();
    showErrorBox(settingFailure);
  }
  if (restartFailed) {
    juce::MouseCursor::hideWaitCursor();
    showErrorBox("Error: could not restart streaming.");
  }
  if (stopFailed || settingFailure != nullptr) {
    const PollPause pause(*this);
    // An emptied copy differs from any status, so the poll shows the driver's real state and
    // undoes the pick where the driver did not take it.
    std::memset(&statusCache, 0, sizeof statusCache);
    pollStatus();
    updateControls();
  }
  juce::MouseCursor::hideWaitCursor();
}

void OptionsDialogMixerPane::refusePick(const juce::String& text)
{
  showErrorBox(text);
  // The boxes show the device's settings again, not the pick that was never sent. Without a
  // valid status the next good poll brings them back.
  if (statusCache.streamState != OX_STREAM_NONE)
    syncSampleRateCombo();
}

void OptionsDialogMixerPane::buttonClicked(juce::Button* button)
{
  if (button != latencyToolButton)
    return;
  const juce::File meter = juce::File::getSpecialLocation(juce::File::currentApplicationFile)
                               .getSiblingFile("tamsin.exe");
  if (!meter.existsAsFile()) {
    showErrorBox("Error: Ravelin is not installed.\n[" + meter.getFullPathName() +
                 "]\n\nPlease reinstall the software with Firewire Driver selected.");
    return;
  }
  // The path goes as UTF-16: the ANSI call would read its UTF-8 bytes in the code page, and
  // a folder name outside ASCII would name a file that is not there.
  const HINSTANCE result =
      ShellExecuteW(GetForegroundWindow(), nullptr, meter.getFullPathName().toWideCharPointer(),
                    nullptr, nullptr, SW_SHOW);
  if (reinterpret_cast<std::uintptr_t>(result) <= 32)
    showErrorBox("Error: could not run Ravelin tool.");
}
