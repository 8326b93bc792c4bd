// The settings pane against the simulated Halden: connecting, polling, applying settings, the
// device-change watcher and the latency meter's button. Error boxes are recorded, not shown.
#include "DevChangeNotifier.h"
#include "DeviceImage.h"
#include "OptionsDialogMixerPane.h"
#include "frame_test_support.h"
#include "simhalden_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <windows.h>

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

constexpr uint64_t kFirstId = 0x000D6E0100A3C5F1ull; // the stand-in's default device
constexpr uint64_t kSecondId = 0x000D6E0100B00002ull;
// A Win32 error in an NTSTATUS, as the stand-in hands it on.
constexpr int32_t kBusy = static_cast<int32_t>(0xC00700AAu); // ERROR_BUSY

class PaneDeviceTest : public test::SimHaldenTest {
protected:
  void SetUp() override
  {
    test::SimHaldenTest::SetUp();
    pane = std::make_unique<OptionsDialogMixerPane>();
    pane->setVisible(true);
  }
  void TearDown() override { pane.reset(); }

  void runLoop(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

  void changeStatus(const std::function<void(OxStatus&)>& change)
  {
    OxStatus status = state().status;
    change(status);
    ASSERT_EQ(0u, sim->setStatus(status));
  }
  void setDevices(std::vector<uint64_t> ids, uint64_t current)
  {
    OxDeviceList list = {};
    list.currentDeviceId = current;
    list.count = static_cast<uint32_t>(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
      list.entries[i].deviceId = ids[i];
    ASSERT_EQ(0u, sim->setDeviceList(list));
  }
  /** Connects to device 0 of the default driver and empties the log. The poll timer is
      stopped: it also runs while an error box is open, and would add requests to the log. */
  void connectDefault(bool keepPolling = false)
  {
    pane->setDeviceIndex(0);
    if (!keepPolling)
      pane->stopTimer();
    ASSERT_TRUE(pane->isReady());
    ASSERT_EQ(0u, sim->clearLog());
  }
  /** Picks the three values; only the last pick tells the pane, as a user's click does. */
  void pick(int rate, int firewireIndex, int asioIndex)
  {
    pane->getSampleRateCombo()->setSelectedId(rate, juce::dontSendNotification);
    pane->getFirewireLatencyCombo()->setSelectedId(firewireIndex + 1, juce::dontSendNotification);
    pane->getAsioBufferCombo()->setSelectedId(asioIndex + 1, juce::dontSendNotification);
    pane->comboBoxChanged(pane->getAsioBufferCombo());
  }
  std::vector<juce::String> boxTexts()
  {
    std::vector<juce::String> texts;
    for (const test::RecordedBox& b : boxes.boxes)
      texts.push_back(b.message);
    return texts;
  }
  juce::String label() { return pane->getStatusLabel()->getText(); }
  bool boxesEnabled()
  {
    return pane->getSampleRateCombo()->isEnabled() &&
           pane->getFirewireLatencyCombo()->isEnabled() && pane->getAsioBufferCombo()->isEnabled();
  }
  bool boxesDisabled()
  {
    return !pane->getSampleRateCombo()->isEnabled() &&
           !pane->getFirewireLatencyCombo()->isEnabled() &&
           !pane->getAsioBufferCombo()->isEnabled();
  }

  juce::ScopedJuceInitialiser_GUI gui;
  test::RecordingLookAndFeel boxes;
  std::unique_ptr<OptionsDialogMixerPane> pane;
};

// ---- Connecting ----

TEST_F(PaneDeviceTest, DeviceTheDriverHasSelectedIsUsedWithoutASelectionRequest)
{
  pane->setDeviceIndex(0);
  EXPECT_THAT(loggedNames(),
              ElementsAre("GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST", "GET_STATUS"));
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(kFirstId, pane->getDeviceId());
  EXPECT_TRUE(pane->isTimerRunning());
  EXPECT_NE(nullptr, pane->getDevChangeNotifier());
  EXPECT_TRUE(boxesEnabled());
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
  EXPECT_EQ(48000, pane->getSampleRateCombo()->getSelectedId());
  EXPECT_EQ(juce::String("48.0 KHz"), pane->getSampleRateCombo()->getText());
  EXPECT_EQ(3, pane->getFirewireLatencyCombo()->getSelectedId());
  EXPECT_EQ(1, pane->getAsioBufferCombo()->getSelectedId());
  EXPECT_EQ(4, pane->getSampleRateCombo()->getNumItems());
  EXPECT_EQ(juce::String("44.1 KHz"), pane->getSampleRateCombo()->getItemText(0));
  EXPECT_EQ(1, pane->getDeviceImage()->isPresent());
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PaneDeviceTest, IndexBeyondTheListFindsNoDeviceButKeepsPolling)
{
  setDevices({kFirstId, kSecondId}, kFirstId);
  pane->setDeviceIndex(3);
  EXPECT_EQ(juce::String("Status: could not find selected device"), label());
  EXPECT_TRUE(boxesDisabled());
  EXPECT_TRUE(pane->isTimerRunning());
  EXPECT_TRUE(pane->isClientOpen());
  EXPECT_EQ(0, pane->getDeviceImage()->isPresent());
  EXPECT_EQ(juce::String(""), pane->getFirewireLatencyCombo()->getText());
}

TEST_F(PaneDeviceTest, DriverThatCannotBeOpenedShowsNoDeviceAttached)
{
  ASSERT_EQ(0u, sim->setVersion(7));
  pane->setDeviceIndex(0);
  EXPECT_FALSE(pane->isClientOpen());
  EXPECT_EQ(juce::String("Status: no device attached"), label());
  EXPECT_TRUE(boxesDisabled());
  // The next connect tries again.
  ASSERT_EQ(0u, sim->setVersion(1));
  pane->connect();
  EXPECT_TRUE(pane->isReady());
}

TEST_F(PaneDeviceTest, StoppedDriverSelectsAnotherDeviceAtTheFirstTry)
{
  setDevices({kFirstId, kSecondId}, kFirstId);
  changeStatus([](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; });
  pane->setDeviceIndex(1);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST",
                                         "SELECT_DEVICE", "GET_STATUS"));
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(kSecondId, state().deviceList.currentDeviceId);
  EXPECT_EQ(juce::String("Streaming: stopped.\nLatency: 4.0ms"), label());
}

TEST_F(PaneDeviceTest, SelectionRefusedWhileStreamingStopsSelectsAndStartsAgain)
{
  setDevices({kFirstId, kSecondId}, kFirstId);
  pane->setDeviceIndex(1);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST",
                                         "SELECT_DEVICE", "GET_STATUS", "STOP_STREAMING",
                                         "SELECT_DEVICE", "START_STREAMING", "GET_STATUS"));
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(kSecondId, state().deviceList.currentDeviceId);
  EXPECT_EQ(OX_STREAM_STREAMING, state().status.streamState);
}

TEST_F(PaneDeviceTest, SelectionThatCannotBeMadeShowsCouldNotSelect)
{
  struct Case {
    const char* what;
    bool streaming;
    uint32_t failing; // besides the refusal of another device while streaming
    uint32_t failCount;
    std::vector<std::string> afterFirstSelect;
  };
  const std::vector<Case> cases = {
      {"refused while stopped", false, IOCTL_OX_SELECT_DEVICE, 1, {"GET_STATUS", "GET_STATUS"}},
      {"stop refused",
       true,
       IOCTL_OX_STOP_STREAMING,
       1,
       {"GET_STATUS", "STOP_STREAMING", "GET_STATUS"}},
      {"second selection refused",
       true,
       IOCTL_OX_SELECT_DEVICE,
       2,
       {"GET_STATUS", "STOP_STREAMING", "SELECT_DEVICE", "START_STREAMING", "GET_STATUS"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset(); // its goodbye must not reach the next log
    ASSERT_EQ(0u, sim->reset());
    setDevices({kFirstId, kSecondId}, kFirstId);
    if (!c.streaming)
      changeStatus([](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; });
    ASSERT_EQ(0u, sim->failNext(c.failing, kBusy, c.failCount));
    pane = std::make_unique<OptionsDialogMixerPane>();
    pane->setVisible(true);
    pane->setDeviceIndex(1);
    std::vector<std::string> expected = {"GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST",
                                         "SELECT_DEVICE"};
    expected.insert(expected.end(), c.afterFirstSelect.begin(), c.afterFirstSelect.end());
    EXPECT_EQ(expected, loggedNames());
    EXPECT_FALSE(pane->isReady());
    EXPECT_EQ(juce::String("Status: could not select device"), label());
    EXPECT_TRUE(boxesDisabled());
    EXPECT_EQ(c.streaming ? OX_STREAM_STREAMING : OX_STREAM_STOPPED, state().status.streamState);
  }
}

TEST_F(PaneDeviceTest, NoDeviceStopsThePollAndKeepsTheClientWhileTheDriverListsOne)
{
  connectDefault();
  pane->setDeviceIndex(-1);
  EXPECT_FALSE(pane->isTimerRunning());
  EXPECT_TRUE(pane->isClientOpen());
  EXPECT_TRUE(boxesDisabled());
  EXPECT_EQ(juce::String("Status: could not find selected device"), label());
  EXPECT_EQ(0, pane->getDeviceImage()->isPresent());

  connectDefault();
  setDevices({}, 0);
  pane->setDeviceIndex(-1);
  EXPECT_FALSE(pane->isClientOpen());
  EXPECT_EQ(juce::String("Status: no device attached"), label());
  EXPECT_TRUE(waitForOpenHandles(0));
}

// ---- Polling and the status text ----

TEST_F(PaneDeviceTest, UnchangedStatusTouchesNothingAndOneChangedReservedWordRefreshes)
{
  connectDefault();
  pane->getSampleRateCombo()->setText("touched", juce::dontSendNotification);
  pane->getStatusLabel()->setText("touched", juce::dontSendNotification);
  pane->pollStatus();
  EXPECT_THAT(loggedNames(), ElementsAre("GET_STATUS"));
  EXPECT_EQ(juce::String("touched"), pane->getSampleRateCombo()->getText());
  EXPECT_EQ(juce::String("touched"), label());

  changeStatus([](OxStatus& s) { s.reserved[4] = 1; });
  pane->pollStatus();
  EXPECT_EQ(juce::String("48.0 KHz"), pane->getSampleRateCombo()->getText());
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
}

TEST_F(PaneDeviceTest, TimerPollsEvery700Milliseconds)
{
  connectDefault(true);
  changeStatus([](OxStatus& s) { s.sampleRate = 44100; });
  runLoop(2000);
  EXPECT_EQ(juce::String("Streaming: 44.1 KHz\nLatency: 4.0ms"), label());
  const auto names = loggedNames();
  // Generous: about three polls in two seconds.
  EXPECT_GE(names.size(), 2u);
  EXPECT_LE(names.size(), 4u);
  for (const std::string& n : names)
    EXPECT_EQ("GET_STATUS", n);
}

TEST_F(PaneDeviceTest, StatusTextFollowsTheStreamStateRateAndLatency)
{
  struct Case {
    const char* what;
    std::function<void(OxStatus&)> change;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"48 kHz, Standard, Standard", [](OxStatus&) {}, "Streaming: 48.0 KHz\nLatency: 4.0ms"},
      {"44.1 kHz", [](OxStatus& s) { s.sampleRate = 44100; },
       "Streaming: 44.1 KHz\nLatency: 4.0ms"},
      {"driver's own latency",
       [](OxStatus& s) {
         s.latencyUs = 5000;
         s.latencyExtraUs = 333;
         s.firewireLatencyIndex = 5;
       },
       "Streaming: 48.0 KHz\nLatency: 5.3ms"},
      {"unknown latency", [](OxStatus& s) { s.firewireLatencyIndex = 6; },
       "Streaming: 48.0 KHz\nLatency: unknown"},
      {"stopped", [](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; },
       "Streaming: stopped.\nLatency: 4.0ms"},
      {"error", [](OxStatus& s) { s.streamState = OX_STREAM_ERROR; }, "Streaming: error"},
      {"state 7", [](OxStatus& s) { s.streamState = 7; }, "Streaming: state undefined."},
      {"state 0", [](OxStatus& s) { s.streamState = 0; }, "Streaming: state undefined."},
  };
  connectDefault();
  const OxStatus original = state().status;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OxStatus status = original;
    c.change(status);
    status.reserved[0] ^= 1; // always a new status
    ASSERT_EQ(0u, sim->setStatus(status));
    pane->pollStatus();
    EXPECT_EQ(juce::String(c.text), label());
    EXPECT_EQ(1, pane->getDeviceImage()->isPresent());
  }
}

TEST_F(PaneDeviceTest, HiddenPaneIsNotInitialized)
{
  pane->setVisible(false);
  pane->setDeviceIndex(0);
  EXPECT_EQ(juce::String("Status: not initialized"), label());
  EXPECT_EQ(0, pane->getDeviceImage()->isPresent());
}

TEST_F(PaneDeviceTest, RateListSkipsZeroAndIsRebuiltOnlyWhenItsLengthDiffers)
{
  changeStatus([](OxStatus& s) {
    s.sampleRateCount = 3;
    s.sampleRates[0] = 44100;
    s.sampleRates[1] = 0;
    s.sampleRates[2] = 44999;
    s.sampleRate = 44999;
  });
  pane->setDeviceIndex(0);
  juce::ComboBox* rates = pane->getSampleRateCombo();
  ASSERT_EQ(2, rates->getNumItems());
  EXPECT_EQ(44100, rates->getItemId(0));
  EXPECT_EQ(juce::String("44.9 KHz"), rates->getItemText(1));
  EXPECT_EQ(44999, rates->getSelectedId());

  // Two items never match a count of 3: every changed status rebuilds the list.
  rates->clear(juce::dontSendNotification);
  rates->addItem("stale", 1);
  changeStatus([](OxStatus& s) { s.reserved[1] = 5; });
  pane->pollStatus();
  ASSERT_EQ(2, rates->getNumItems());
  EXPECT_EQ(juce::String("44.1 KHz"), rates->getItemText(0));

  // A list of the same length stays, even with other rates.
  changeStatus([](OxStatus& s) {
    s.sampleRateCount = 2;
    s.sampleRates[1] = 48000;
    s.sampleRates[2] = 0;
  });
  pane->pollStatus();
  EXPECT_EQ(juce::String("44.9 KHz"), rates->getItemText(1));
}

TEST_F(PaneDeviceTest, CountsBeyondTheRecordsAreReadOnlyWithinThem)
{
  OxDeviceList list = {};
  list.count = 40;
  list.currentDeviceId = kFirstId;
  for (auto& e : list.entries)
    e.deviceId = kFirstId;
  ASSERT_EQ(0u, sim->setDeviceList(list));
  changeStatus([](OxStatus& s) { s.sampleRateCount = 1000; });
  pane->setDeviceIndex(20);
  EXPECT_EQ(juce::String("Status: could not find selected device"), label());
  pane->setDeviceIndex(15);
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(4, pane->getSampleRateCombo()->getNumItems());
}

TEST_F(PaneDeviceTest, FailedStatusRequestShowsStateUndefinedAndKeepsTheSelection)
{
  connectDefault();
  sim->failNext(IOCTL_OX_GET_STATUS, kBusy);
  pane->pollStatus();
  EXPECT_EQ(juce::String("Streaming: state undefined."), label());
  EXPECT_EQ(48000, pane->getSampleRateCombo()->getSelectedId());
  pane->pollStatus();
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
}

// ---- Applying settings ----

TEST_F(PaneDeviceTest, ChangedSettingsReachTheDriverInTheOrderItNeeds)
{
  struct Case {
    bool streaming;
    int rate, firewire, asio;
    std::vector<std::string> requests;
  };
  const std::vector<Case> cases = {
      {false, 48000, 2, 1, {"SET_BUFFER_SIZES"}},
      {false, 44100, 2, 0, {"SET_SAMPLE_RATE"}},
      {false, 96000, 4, 2, {"SET_BUFFER_SIZES", "SET_SAMPLE_RATE"}},
      {true, 48000, 0, 0, {"STOP_STREAMING", "SET_BUFFER_SIZES", "START_STREAMING"}},
      {true, 88200, 2, 0, {"STOP_STREAMING", "SET_SAMPLE_RATE", "START_STREAMING"}},
      {true,
       44100,
       5,
       2,
       {"STOP_STREAMING", "SET_BUFFER_SIZES", "SET_SAMPLE_RATE", "START_STREAMING"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.streaming << " " << c.rate << " " << c.firewire << " " << c.asio);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    if (!c.streaming)
      changeStatus([](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; });
    pane = std::make_unique<OptionsDialogMixerPane>();
    pane->setVisible(true);
    connectDefault();
    pick(c.rate, c.firewire, c.asio);
    EXPECT_EQ(c.requests, loggedNames());
    for (const HaldenSimLogEntry& e : log())
      if (e.ioControlCode == IOCTL_OX_SET_BUFFER_SIZES) {
        OxBufferSizes sizes;
        std::memcpy(&sizes, e.input, sizeof sizes);
        EXPECT_EQ(static_cast<uint32_t>(c.firewire), sizes.firewireLatencyIndex);
        EXPECT_EQ(static_cast<uint32_t>(c.asio), sizes.asioBufferIndex);
      }
    const OxStatus now = state().status;
    EXPECT_EQ(static_cast<uint32_t>(c.rate), now.sampleRate);
    EXPECT_EQ(static_cast<uint32_t>(c.firewire), now.firewireLatencyIndex);
    EXPECT_EQ(static_cast<uint32_t>(c.asio), now.asioBufferIndex);
    EXPECT_EQ(c.streaming ? OX_STREAM_STREAMING : OX_STREAM_STOPPED, now.streamState);
    EXPECT_TRUE(boxes.boxes.empty());
    // The next poll brings the text up to date.
    pane->pollStatus();
    EXPECT_TRUE(label().startsWith(c.streaming ? "Streaming: " : "Streaming: stopped."));
  }
}

TEST_F(PaneDeviceTest, PickThatMatchesTheLastStatusSendsNothing)
{
  connectDefault();
  pick(48000, 2, 0);
  EXPECT_TRUE(loggedNames().empty());
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PaneDeviceTest, FailedStepsShowTheirBoxAndReReadExceptAfterTheRestartAlone)
{
  struct Case {
    uint32_t failing;
    int rate, firewire, asio;
    const char* box;
    std::vector<std::string> requests;
  };
  const std::vector<Case> cases = {
      {IOCTL_OX_STOP_STREAMING,
       44100,
       4,
       1,
       "Error: could not stop streaming for changing settings.\nPlease retry later.",
       {"STOP_STREAMING", "GET_STATUS"}},
      {IOCTL_OX_SET_BUFFER_SIZES,
       44100,
       4,
       1,
       "Error: changing the buffer sizes failed.",
       {"STOP_STREAMING", "SET_BUFFER_SIZES", "START_STREAMING", "GET_STATUS"}},
      {IOCTL_OX_SET_SAMPLE_RATE,
       44100,
       2,
       0,
       "Error: changing the sample rate failed.",
       {"STOP_STREAMING", "SET_SAMPLE_RATE", "START_STREAMING", "GET_STATUS"}},
      {IOCTL_OX_START_STREAMING,
       44100,
       2,
       0,
       "Error: could not restart streaming.",
       {"STOP_STREAMING", "SET_SAMPLE_RATE", "START_STREAMING"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    boxes.boxes.clear();
    pane = std::make_unique<OptionsDialogMixerPane>();
    pane->setVisible(true);
    connectDefault();
    ASSERT_EQ(0u, sim->failNext(c.failing, kBusy));
    pick(c.rate, c.firewire, c.asio);
    EXPECT_EQ(c.requests, loggedNames());
    EXPECT_THAT(boxTexts(), ElementsAre(juce::String(c.box)));
    if (c.failing != IOCTL_OX_START_STREAMING) {
      // The re-read shows what the driver really has.
      const OxStatus now = state().status;
      EXPECT_EQ(static_cast<int>(now.sampleRate), pane->getSampleRateCombo()->getSelectedId());
      EXPECT_EQ(static_cast<int>(now.firewireLatencyIndex) + 1,
                pane->getFirewireLatencyCombo()->getSelectedId());
      EXPECT_EQ(0, std::memcmp(&now, &pane->getStatusCache(), sizeof now));
    }
  }
}

TEST_F(PaneDeviceTest, ChecksComeFirstAndStopAtTheFirstThatFails)
{
  // Never connected: the client is closed.
  pane->comboBoxChanged(pane->getFirewireLatencyCombo());
  EXPECT_THAT(boxTexts(), ElementsAre("Error: device is not available."));
  EXPECT_TRUE(loggedNames().empty());

  connectDefault();
  struct Case {
    int rate, firewireId, asioId;
    const char* box;
  };
  const Case cases[] = {
      {0, 0, 0, "Please select a valid Firewire buffer size."},
      {48000, 3, 0, "Please select a valid ASIO buffer size."},
      {0, 3, 1, "Please select a valid sampling rate."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    boxes.boxes.clear();
    pane->getSampleRateCombo()->setSelectedId(c.rate, juce::dontSendNotification);
    pane->getFirewireLatencyCombo()->setSelectedId(c.firewireId, juce::dontSendNotification);
    pane->getAsioBufferCombo()->setSelectedId(c.asioId, juce::dontSendNotification);
    if (c.rate == 0)
      pane->getSampleRateCombo()->setText("", juce::dontSendNotification);
    pane->comboBoxChanged(pane->getSampleRateCombo());
    EXPECT_THAT(boxTexts(), ElementsAre(juce::String(c.box)));
    EXPECT_TRUE(loggedNames().empty());
  }

  // A device the driver does not have selected is not available either.
  boxes.boxes.clear();
  changeStatus([](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; });
  setDevices({kSecondId}, 0);
  ASSERT_EQ(0u, sim->failNext(IOCTL_OX_SELECT_DEVICE, kBusy));
  pane->connect();
  pane->stopTimer();
  ASSERT_TRUE(pane->isClientOpen());
  ASSERT_FALSE(pane->isDeviceSelected());
  ASSERT_EQ(0u, sim->clearLog());
  pane->comboBoxChanged(pane->getAsioBufferCombo());
  EXPECT_THAT(boxTexts(), ElementsAre("Error: device is not available."));
  EXPECT_TRUE(loggedNames().empty());
}

TEST_F(PaneDeviceTest, PickThroughTheBoxReachesTheDriver)
{
  connectDefault();
  changeStatus([](OxStatus& s) { s.streamState = OX_STREAM_STOPPED; });
  pane->pollStatus();
  ASSERT_EQ(0u, sim->clearLog());
  pane->getAsioBufferCombo()->setSelectedId(3, juce::sendNotificationSync);
  EXPECT_THAT(loggedNames(), ElementsAre("SET_BUFFER_SIZES"));
  EXPECT_EQ(2u, state().status.asioBufferIndex);
}

TEST_F(PaneDeviceTest, DriverFailingEveryRequestOfOneKindNeverBreaksThePane)
{
  const uint32_t codes[] = {
      IOCTL_OX_GET_VERSION,    IOCTL_OX_RELEASE,         IOCTL_OX_GET_DEVICE_LIST,
      IOCTL_OX_GET_STATUS,     IOCTL_OX_SET_SAMPLE_RATE, IOCTL_OX_START_STREAMING,
      IOCTL_OX_STOP_STREAMING, IOCTL_OX_SELECT_DEVICE,   IOCTL_OX_SET_BUFFER_SIZES};
  for (uint32_t code : codes) {
    for (int shortAnswer = 0; shortAnswer < 2; ++shortAnswer) {
      SCOPED_TRACE(testing::Message() << test::requestName(code) << " short " << shortAnswer);
      ASSERT_EQ(0u, sim->reset());
      setDevices({kSecondId, kFirstId}, kSecondId);
      pane = std::make_unique<OptionsDialogMixerPane>();
      pane->setVisible(true);
      if (shortAnswer)
        ASSERT_EQ(0u, sim->shortenNext(code, 4, 0));
      else
        ASSERT_EQ(0u, sim->failNext(code, kBusy, 0));
      pane->setDeviceIndex(1);
      pane->pollStatus();
      pick(44100, 4, 2);
      pane->pollStatus();
      pane->setDeviceIndex(0);
      pane->setDeviceIndex(-1);
      EXPECT_TRUE(label().startsWith("Status: ") || label().startsWith("Streaming: ")) << label();
      pane.reset();
    }
  }
}

// ---- The device-change watcher ----

TEST_F(PaneDeviceTest, DeviceChangeReconnectsASecondLaterAfterRemovalAndArrival)
{
  connectDefault();
  DevChangeNotifier* watcher = pane->getDevChangeNotifier();
  ASSERT_NE(nullptr, watcher);
  HWND window = watcher->getWindow();
  ASSERT_NE(nullptr, window);
  runLoop(100); // the queue-ready message, which changes nothing

  setDevices({}, 0);
  DWORD t0 = GetTickCount();
  EXPECT_EQ(0, SendMessageW(window, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0));
  EXPECT_GE(GetTickCount() - t0, 900u);
  EXPECT_EQ(juce::String("Status: could not find selected device"), label());
  EXPECT_TRUE(pane->isClientOpen());
  EXPECT_TRUE(boxesDisabled());
  EXPECT_EQ(0, pane->getDeviceImage()->isPresent());

  setDevices({kFirstId}, kFirstId);
  t0 = GetTickCount();
  EXPECT_EQ(0, SendMessageW(window, WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 0));
  EXPECT_GE(GetTickCount() - t0, 900u);
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
  EXPECT_TRUE(boxesEnabled());
  EXPECT_EQ(1, pane->getDeviceImage()->isPresent());
}

TEST_F(PaneDeviceTest, DeviceChangeOpensAClientThatWasClosed)
{
  ASSERT_EQ(0u, sim->setVersion(7));
  pane->setDeviceIndex(0);
  ASSERT_FALSE(pane->isClientOpen());
  ASSERT_EQ(0u, sim->setVersion(1));
  EXPECT_EQ(0, SendMessageW(pane->getDevChangeNotifier()->getWindow(), WM_DEVICECHANGE,
                            0x8000 /* DBT_DEVICEARRIVAL */, 0));
  EXPECT_TRUE(pane->isClientOpen());
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
}

TEST_F(PaneDeviceTest, WatcherStartsOnceAndLeavesOtherMessagesToTheWindow)
{
  pane->setDeviceIndex(-1);
  DevChangeNotifier* watcher = pane->getDevChangeNotifier();
  ASSERT_NE(nullptr, watcher);
  HWND window = watcher->getWindow();
  EXPECT_TRUE(watcher->start());
  EXPECT_EQ(window, watcher->getWindow());
  pane->setDeviceIndex(-1);
  EXPECT_EQ(watcher, pane->getDevChangeNotifier());

  std::int32_t handled = 0;
  watcher->handleMessage(window, WM_USER + 5, 0, 0, &handled);
  EXPECT_EQ(0, handled);
  EXPECT_TRUE(loggedNames().empty());

  pane.reset();
  EXPECT_FALSE(IsWindow(window));
}

// ---- The latency meter's button ----

class LatencyMeterButtonTest : public PaneDeviceTest {
protected:
  void SetUp() override
  {
    PaneDeviceTest::SetUp();
    meter = juce::File::getSpecialLocation(juce::File::currentApplicationFile)
                .getSiblingFile("tamsin.exe");
    clear();
  }
  void TearDown() override
  {
    clear();
    PaneDeviceTest::TearDown();
  }
  void clear()
  {
    if (meter.isDirectory())
      meter.deleteRecursively();
    else
      meter.deleteFile();
  }
  void click() { pane->buttonClicked(pane->getLatencyToolButton()); }

  juce::File meter;
};

TEST_F(LatencyMeterButtonTest, MissingMeterOrAFolderOfItsNameIsNotInstalled)
{
  const juce::String expected = "Error: Ravelin is not installed.\n[" + meter.getFullPathName() +
                                "]\n\nPlease reinstall the software with Firewire Driver selected.";
  click();
  ASSERT_TRUE(meter.createDirectory());
  click();
  EXPECT_THAT(boxTexts(), ElementsAre(expected, expected));
  EXPECT_TRUE(meter.getFullPathName().endsWithIgnoreCase("\\tamsin.exe"));
}

TEST_F(LatencyMeterButtonTest, MeterBesideTheProgramIsStartedAndLeftToItself)
{
  const juce::File stub = meter.getSiblingFile("tamsin_stub.exe");
  ASSERT_TRUE(stub.existsAsFile());
  ASSERT_TRUE(stub.copyFileTo(meter));
  const juce::File marker = meter.getSiblingFile("tamsin_started.txt");
  marker.deleteFile();
  SetEnvironmentVariableW(L"TAMSIN_STUB_MARKER", marker.getFullPathName().toWideCharPointer());

  click();
  EXPECT_TRUE(boxes.boxes.empty());
  for (int i = 0; i < 100 && !marker.existsAsFile(); ++i)
    Sleep(100);
  EXPECT_TRUE(marker.existsAsFile());
  marker.deleteFile();
  // The stub may still be ending; its file can then not be deleted at once.
  for (int i = 0; i < 50 && meter.existsAsFile() && !meter.deleteFile(); ++i)
    Sleep(100);
}

TEST_F(LatencyMeterButtonTest, FileThatDoesNotStartSaysSo)
{
  ASSERT_TRUE(meter.replaceWithText("not a program"));
  click();
  EXPECT_THAT(boxTexts(), ElementsAre("Error: could not run Ravelin tool."));
}

TEST_F(LatencyMeterButtonTest, OtherButtonsDoNothing)
{
  juce::TextButton other("other");
  pane->buttonClicked(&other);
  EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
