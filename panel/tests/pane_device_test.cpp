// The settings pane against the simulated Halden: connecting, polling, applying settings, the
// device-change watcher and the latency meter's button. Error boxes are recorded, not shown.
#include "DevChangeNotifier.h"
#include "DeviceImage.h"
#include "OptionsDialogMixerPane.h"
#include "frame_test_support.h"
#include "simhalden_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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
    makePane();
  }
  void TearDown() override { pane.reset(); }

  void makePane()
  {
    pane = std::make_unique<OptionsDialogMixerPane>();
    pane->setVisible(true);
  }

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

  /** Sends a device-change message to the watcher's window, as the system's broadcast does. */
  LRESULT deviceChange(WPARAM type = 0x0007 /* DBT_DEVNODES_CHANGED */)
  {
    return SendMessageW(pane->getDevChangeNotifier()->getWindow(), WM_DEVICECHANGE, type, 0);
  }
  /** Runs the message loop until the watcher has reconnected; false if it never does. */
  bool waitForReconnect()
  {
    for (int i = 0; i < 400 && pane->getDevChangeNotifier()->isSettling(); ++i)
      runLoop(50);
    return !pane->getDevChangeNotifier()->isSettling();
  }
  int countLogged(const std::string& name)
  {
    const auto names = loggedNames();
    return static_cast<int>(std::count(names.begin(), names.end(), name));
  }
  /** Runs the message loop until every message queued before the call has been delivered;
      false if that never happens. */
  bool deliverQueuedMessages()
  {
    const auto delivered = std::make_shared<bool>(false);
    juce::MessageManager::callAsync([delivered] { *delivered = true; });
    for (int i = 0; i < 3000 && !*delivered; ++i)
      runLoop(10);
    return *delivered;
  }

  juce::ScopedJuceInitialiser_GUI gui;
  test::RecordingLookAndFeel boxes;
  std::unique_ptr<OptionsDialogMixerPane> pane;
};

/** Should the code under test wait for a held request without end, this completes what the
    driver holds after a long while, so that the test fails instead of hanging. */
class HangGuard {
public:
  HangGuard()
      : thread([this] {
          if (WaitForSingleObject(done, 30000) == WAIT_TIMEOUT) {
            fired = true;
            SimHaldenController sim;
            while (WaitForSingleObject(done, 50) == WAIT_TIMEOUT)
              sim.completeHeld();
          }
        })
  {
  }
  ~HangGuard()
  {
    SetEvent(done);
    thread.join();
    CloseHandle(done);
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

  /** True when the guard had to complete a held request. */
  bool hung() const { return fired; }

private:
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> fired{false};
  std::thread thread;
};

constexpr int32_t kCancelled = static_cast<int32_t>(0xC0000120u); // STATUS_CANCELLED

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
    makePane();
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

TEST_F(PaneDeviceTest, WindowsMessagesComeBeforeThePollAfterASlowRoadOfRequests)
{
  struct Case {
    const char* what;
    uint32_t slowRequest; // answered after a second, longer than the poll's period
    std::function<void()> road;
  };
  const std::vector<Case> cases = {
      {"reconnect", IOCTL_OX_GET_STATUS, [this] { pane->connect(); }},
      {"device change, once it has settled", IOCTL_OX_GET_STATUS,
       [this] {
         SendMessageW(pane->getDevChangeNotifier()->getWindow(), WM_TIMER,
                      DevChangeNotifier::kSettleTimerId, 0);
       }},
      {"applying a setting", IOCTL_OX_SET_SAMPLE_RATE, [this] { pick(44100, 2, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    makePane();
    connectDefault(true);
    // JUCE's timer thread starts from a message of its own.
    ASSERT_TRUE(deliverQueuedMessages());
    ASSERT_EQ(0u, sim->clearLog());
    ASSERT_EQ(0u, sim->pendNext(c.slowRequest, 1000));
    c.road();
    ASSERT_TRUE(pane->isReady());
    const size_t roadRequests = log().size();
    // What the timer thread posted while the road waited for the driver is queued ahead of this
    // message; a poll it started would stand in the log before the message came.
    ASSERT_TRUE(deliverQueuedMessages());
    EXPECT_EQ(roadRequests, log().size()) << "a poll came before the window's message";
    // The poll goes on, a period later.
    const auto polled = [&] {
      const auto names = loggedNames();
      return names.size() > roadRequests && names[roadRequests] == "GET_STATUS";
    };
    for (int i = 0; i < 3000 && !polled(); ++i)
      runLoop(10);
    EXPECT_TRUE(polled());
  }
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

TEST_F(PaneDeviceTest, RateListSkipsZeroAndIsKeptWhileTheRatesStay)
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

  // The same rates in a changed status leave the list as it is, though two items never
  // match a count of 3.
  rates->changeItemText(44100, "kept");
  changeStatus([](OxStatus& s) { s.reserved[1] = 5; });
  pane->pollStatus();
  ASSERT_EQ(2, rates->getNumItems());
  EXPECT_EQ(juce::String("kept"), rates->getItemText(0));
}

TEST_F(PaneDeviceTest, RateListFollowsTheDriversRatesAndShowsTheRateItRunsAt)
{
  struct Case {
    const char* what;
    std::vector<uint32_t> rates;
    uint32_t rate;
  };
  const std::vector<Case> cases = {
      {"as many rates, others", {32000, 44100, 48000, 192000}, 192000},
      {"the same rates in another order", {96000, 88200, 48000, 44100}, 48000},
      {"one rate less", {44100, 48000, 96000}, 96000},
      {"one rate more", {44100, 48000, 88200, 96000, 176400}, 176400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    makePane();
    connectDefault(); // the default four rates
    changeStatus([&](OxStatus& s) {
      std::memset(s.sampleRates, 0, sizeof s.sampleRates);
      s.sampleRateCount = static_cast<uint32_t>(c.rates.size());
      std::copy(c.rates.begin(), c.rates.end(), s.sampleRates);
      s.sampleRate = c.rate;
    });
    pane->pollStatus();
    juce::ComboBox* box = pane->getSampleRateCombo();
    ASSERT_EQ(static_cast<int>(c.rates.size()), box->getNumItems());
    for (size_t i = 0; i < c.rates.size(); ++i) {
      EXPECT_EQ(static_cast<int>(c.rates[i]), box->getItemId(static_cast<int>(i)));
      EXPECT_EQ(formatSampleRate(c.rates[i]), box->getItemText(static_cast<int>(i)));
    }
    EXPECT_EQ(static_cast<int>(c.rate), box->getSelectedId());
    EXPECT_TRUE(label().startsWith("Streaming: " + formatSampleRate(c.rate) + "\n")) << label();

    // A pick in another box goes through with the rate the driver runs at.
    ASSERT_EQ(0u, sim->clearLog());
    pane->getAsioBufferCombo()->setSelectedId(2, juce::sendNotificationSync);
    EXPECT_TRUE(boxes.boxes.empty()) << boxTexts()[0];
    EXPECT_THAT(loggedNames(),
                ElementsAre("STOP_STREAMING", "SET_BUFFER_SIZES", "START_STREAMING"));
    EXPECT_EQ(1u, state().status.asioBufferIndex);
  }
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

TEST_F(PaneDeviceTest, StatusRequestTheDriverNeverAnswersIsCancelledAndShowsStateUndefined)
{
  connectDefault();
  ASSERT_EQ(0u, sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED));
  {
    HangGuard guard;
    pane->pollStatus();
    EXPECT_FALSE(guard.hung());
  }
  EXPECT_EQ(juce::String("Streaming: state undefined."), label());
  EXPECT_EQ(0u, state().heldRequests);
  const auto entries = log();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(kCancelled, entries[0].status);
  EXPECT_TRUE(pane->isReady());

  pane->pollStatus();
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
}

TEST_F(PaneDeviceTest, DeviceListThatCannotBeReadClosesTheClientAndTheDriverIsOpenedAgain)
{
  struct Case {
    const char* what;
    bool held;
    uint32_t count; // of the failing list requests; 0: all of them
    std::vector<std::string> requests;
    bool ready;
  };
  const std::vector<Case> cases = {
      {"refused once",
       false,
       1,
       {"GET_DEVICE_LIST", "RELEASE", "GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST",
        "GET_STATUS"},
       true},
      {"never answered once",
       true,
       1,
       {"GET_DEVICE_LIST", "RELEASE", "GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST",
        "GET_STATUS"},
       true},
      {"refused always",
       false,
       0,
       {"GET_DEVICE_LIST", "RELEASE", "GET_VERSION", "GET_DEVICE_LIST", "RELEASE"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    makePane();
    connectDefault();
    if (c.held)
      ASSERT_EQ(0u, sim->pendNext(IOCTL_OX_GET_DEVICE_LIST, SIMHALDEN_HOLD_UNTIL_COMPLETED));
    else
      ASSERT_EQ(0u, sim->failNext(IOCTL_OX_GET_DEVICE_LIST, kBusy, c.count));
    {
      HangGuard guard;
      pane->connect();
      EXPECT_FALSE(guard.hung());
    }
    pane->stopTimer();
    EXPECT_EQ(c.requests, loggedNames());
    EXPECT_EQ(c.ready, pane->isReady());
    EXPECT_EQ(c.ready, pane->isClientOpen());
    if (!c.ready) {
      EXPECT_EQ(juce::String("Status: no device attached"), label());
      EXPECT_TRUE(boxesDisabled());
      EXPECT_TRUE(waitForOpenHandles(0));
      // The next connect opens the driver again.
      ASSERT_EQ(0u, sim->clearFaults());
      pane->connect();
      EXPECT_TRUE(pane->isReady());
    }
    EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
  }
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
    makePane();
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
    makePane();
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

TEST_F(PaneDeviceTest, StreamingIsBackOnBeforeAFailureBoxIsShown)
{
  struct Case {
    const char* what;
    uint32_t failing;
    bool held; // the driver never answers; else it refuses
    int rate, firewire, asio;
    const char* box;
  };
  const std::vector<Case> cases = {
      {"buffers refused", IOCTL_OX_SET_BUFFER_SIZES, false, 48000, 4, 1,
       "Error: changing the buffer sizes failed."},
      {"rate refused", IOCTL_OX_SET_SAMPLE_RATE, false, 44100, 2, 0,
       "Error: changing the sample rate failed."},
      {"buffers never answered", IOCTL_OX_SET_BUFFER_SIZES, true, 48000, 4, 1,
       "Error: changing the buffer sizes failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    boxes.boxes.clear();
    makePane();
    connectDefault();
    if (c.held)
      ASSERT_EQ(0u, sim->pendNext(c.failing, SIMHALDEN_HOLD_UNTIL_COMPLETED));
    else
      ASSERT_EQ(0u, sim->failNext(c.failing, kBusy));
    uint32_t streamStateAtBox = 0;
    std::vector<std::string> requestsAtBox;
    boxes.onBox = [&](const test::RecordedBox&) {
      streamStateAtBox = state().status.streamState;
      requestsAtBox = loggedNames();
    };
    HangGuard guard;
    pick(c.rate, c.firewire, c.asio);
    boxes.onBox = nullptr;
    EXPECT_FALSE(guard.hung());
    EXPECT_THAT(boxTexts(), ElementsAre(juce::String(c.box)));
    EXPECT_EQ(OX_STREAM_STREAMING, streamStateAtBox);
    EXPECT_THAT(requestsAtBox,
                ElementsAre("STOP_STREAMING", test::requestName(c.failing), "START_STREAMING"));
    if (c.held) {
      EXPECT_EQ(kCancelled, log()[1].status);
    }
    // The re-read still comes after the box.
    EXPECT_THAT(loggedNames(), ElementsAre("STOP_STREAMING", test::requestName(c.failing),
                                           "START_STREAMING", "GET_STATUS"));
  }
}

TEST_F(PaneDeviceTest, PickRefusedByThePanesChecksGivesWayToTheDevicesSettings)
{
  struct Case {
    const char* what;
    std::function<void(OxStatus&)> change; // leaves one box without an item to show
    juce::ComboBox* (OptionsDialogMixerPane::*picked)() const noexcept;
    int pickedId;
    const char* box;
    int rateId, firewireId, asioId; // what the boxes show afterwards
  };
  const std::vector<Case> cases = {
      {"rate outside the driver's list", [](OxStatus& s) { s.sampleRate = 192000; },
       &OptionsDialogMixerPane::getFirewireLatencyCombo, 2, "Please select a valid sampling rate.",
       0, 3, 1},
      {"FireWire index out of range", [](OxStatus& s) { s.firewireLatencyIndex = 6; },
       &OptionsDialogMixerPane::getAsioBufferCombo, 2,
       "Please select a valid Firewire buffer size.", 48000, 0, 1},
      {"ASIO index out of range", [](OxStatus& s) { s.asioBufferIndex = 3; },
       &OptionsDialogMixerPane::getSampleRateCombo, 44100,
       "Please select a valid ASIO buffer size.", 48000, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    boxes.boxes.clear();
    changeStatus(c.change);
    makePane();
    connectDefault();
    ((*pane).*c.picked)()->setSelectedId(c.pickedId, juce::sendNotificationSync);
    EXPECT_THAT(boxTexts(), ElementsAre(juce::String(c.box)));
    EXPECT_TRUE(loggedNames().empty());
    EXPECT_EQ(c.rateId, pane->getSampleRateCombo()->getSelectedId());
    EXPECT_EQ(c.firewireId, pane->getFirewireLatencyCombo()->getSelectedId());
    EXPECT_EQ(c.asioId, pane->getAsioBufferCombo()->getSelectedId());
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
      makePane();
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
  ASSERT_TRUE(waitForReconnect());
  EXPECT_GE(GetTickCount() - t0, 900u);
  EXPECT_EQ(juce::String("Status: could not find selected device"), label());
  EXPECT_TRUE(pane->isClientOpen());
  EXPECT_TRUE(boxesDisabled());
  EXPECT_EQ(0, pane->getDeviceImage()->isPresent());

  setDevices({kFirstId}, kFirstId);
  t0 = GetTickCount();
  EXPECT_EQ(0, SendMessageW(window, WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 0));
  ASSERT_TRUE(waitForReconnect());
  EXPECT_GE(GetTickCount() - t0, 900u);
  EXPECT_TRUE(pane->isReady());
  EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
  EXPECT_TRUE(boxesEnabled());
  EXPECT_EQ(1, pane->getDeviceImage()->isPresent());
}

TEST_F(PaneDeviceTest, BurstOfDeviceChangesGivesOneReconnectASecondAfterTheLast)
{
  connectDefault();
  runLoop(100); // the queue-ready message, which changes nothing
  const WPARAM types[] = {0x0007 /* DBT_DEVNODES_CHANGED */, 0x8000 /* DBT_DEVICEARRIVAL */, 0x0007,
                          0x8004 /* DBT_DEVICEREMOVECOMPLETE */, 0x0007};
  for (WPARAM type : types)
    EXPECT_EQ(0, deviceChange(type));
  const DWORD last = GetTickCount();
  // Every message was answered at once: the window never waited, nothing has been asked yet.
  EXPECT_TRUE(loggedNames().empty());
  EXPECT_TRUE(pane->getDevChangeNotifier()->isSettling());

  ASSERT_TRUE(waitForReconnect());
  EXPECT_GE(GetTickCount() - last, 900u) << "the devices were given no time to settle";
  EXPECT_THAT(loggedNames(), ElementsAre("GET_DEVICE_LIST", "GET_DEVICE_LIST", "GET_STATUS"));
  EXPECT_TRUE(pane->isReady());
  // The poll runs again; no second reconnect follows.
  runLoop(1500);
  EXPECT_EQ(2, countLogged("GET_DEVICE_LIST"));
}

TEST_F(PaneDeviceTest, DeviceChangeDuringTheSettleTimeStartsItAgain)
{
  connectDefault();
  deviceChange();
  runLoop(500);
  if (!loggedNames().empty())
    GTEST_SKIP() << "the machine was too slow to send a second message within the settle time";
  deviceChange();
  const DWORD last = GetTickCount();
  ASSERT_TRUE(waitForReconnect());
  EXPECT_GE(GetTickCount() - last, 900u) << "the reconnect followed the first message";
  EXPECT_EQ(2, countLogged("GET_DEVICE_LIST"));
}

TEST_F(PaneDeviceTest, DriverThatGoesAndComesBackIsConnectedAgain)
{
  struct Case {
    const char* what;
    bool changeWhileAway; // a device change reaches the pane while the driver is gone
  };
  const Case cases[] = {{"told while it is away", true}, {"told only after its return", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pane.reset();
    ASSERT_EQ(0u, sim->reset());
    makePane();
    connectDefault();

    sim.reset();
    test::removeSimHalden();
    if (c.changeWhileAway) {
      deviceChange();
      ASSERT_TRUE(waitForReconnect());
      EXPECT_FALSE(pane->isClientOpen());
      EXPECT_EQ(juce::String("Status: no device attached"), label());
      EXPECT_TRUE(boxesDisabled());
    }
    ASSERT_EQ("", test::installSimHalden());
    sim = std::make_unique<SimHaldenController>();
    ASSERT_TRUE(sim->isOpen());
    deviceChange(0x8000 /* DBT_DEVICEARRIVAL */);
    ASSERT_TRUE(waitForReconnect());
    pane->stopTimer();

    EXPECT_TRUE(pane->isReady());
    EXPECT_EQ(juce::String("Streaming: 48.0 KHz\nLatency: 4.0ms"), label());
    EXPECT_TRUE(boxesEnabled());
    EXPECT_EQ(1u, state().openHandles);
    EXPECT_THAT(loggedNames(),
                ElementsAre("GET_VERSION", "GET_DEVICE_LIST", "GET_DEVICE_LIST", "GET_STATUS"));
    // The poll reaches the driver that is there now.
    ASSERT_EQ(0u, sim->clearLog());
    pane->pollStatus();
    EXPECT_THAT(loggedNames(), ElementsAre("GET_STATUS"));
  }
}

TEST_F(PaneDeviceTest, DeviceChangeOpensAClientThatWasClosed)
{
  ASSERT_EQ(0u, sim->setVersion(7));
  pane->setDeviceIndex(0);
  ASSERT_FALSE(pane->isClientOpen());
  ASSERT_EQ(0u, sim->setVersion(1));
  EXPECT_EQ(0, deviceChange(0x8000 /* DBT_DEVICEARRIVAL */));
  ASSERT_TRUE(waitForReconnect());
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
