// The driver client through Wine's I/O manager to the simulated Halden driver and back.
#include "Marlow1394oxClient.h"
#include "simhalden_fixture.h"

#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

using test::SimHaldenTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// An NTSTATUS of the Win32 facility: Windows, and Wine, hand it to the caller as the error.
int32_t win32Status(DWORD error)
{
  return static_cast<int32_t>(0xC0070000u | error);
}

struct Operation {
  const char* name;
  std::function<uint32_t(Marlow1394oxClient&)> run;
};

// Every operation of the client that talks to the driver.
std::vector<Operation> allOperations()
{
  return {
      {"getInterfaceVersion",
       [](Marlow1394oxClient& c) {
         OxInterfaceVersion v;
         return c.getInterfaceVersion(v);
       }},
      {"getDeviceList",
       [](Marlow1394oxClient& c) {
         OxDeviceList l;
         return c.getDeviceList(l);
       }},
      {"getStatus",
       [](Marlow1394oxClient& c) {
         OxStatus s;
         return c.getStatus(s);
       }},
      {"selectDevice", [](Marlow1394oxClient& c) { return c.selectDevice(1); }},
      {"setSampleRate", [](Marlow1394oxClient& c) { return c.setSampleRate(48000); }},
      {"setBufferSizes", [](Marlow1394oxClient& c) { return c.setBufferSizes(1, 1); }},
      {"startStreaming", [](Marlow1394oxClient& c) { return c.startStreaming(); }},
      {"stopStreaming", [](Marlow1394oxClient& c) { return c.stopStreaming(); }},
      {"releaseDevice", [](Marlow1394oxClient& c) { return c.releaseDevice(); }},
      {"sendCommand820", [](Marlow1394oxClient& c) { return c.sendCommand820(7); }},
      {"deviceIoControl",
       [](Marlow1394oxClient& c) {
         return c.deviceIoControl(IOCTL_OX_START_STREAMING, nullptr, 0, nullptr, 0);
       }},
  };
}

// A status in which every field, the reserved words too, differs from the default.
OxStatus scriptedStatus()
{
  OxStatus s = {};
  s.streamState = OX_STREAM_STOPPED;
  s.sampleRate = 96000;
  s.sampleRateCount = 3;
  s.sampleRates[0] = 48000;
  s.sampleRates[1] = 96000;
  s.sampleRates[2] = 192000;
  s.firewireLatencyIndex = 4;
  s.asioBufferIndex = 2;
  s.latencyUs = 7000;
  s.latencyExtraUs = 125;
  for (uint32_t i = 0; i < 5; i++) {
    s.reserved[i] = 0x11111111u * (i + 1);
  }
  return s;
}

// Joins a thread that waits on a held request, completing what is held first, so that a
// failing assertion never leaves a blocked thread behind.
class HeldCall {
public:
  HeldCall(SimHaldenController& sim, std::function<void()> call)
      : sim_(sim), thread_([this, call] {
          call();
          done_ = true;
        })
  {
  }
  ~HeldCall() { finish(); }
  bool done() const { return done_; }
  void finish()
  {
    if (thread_.joinable()) {
      while (!done_) {
        sim_.completeHeld();
        Sleep(5);
      }
      thread_.join();
    }
  }

private:
  SimHaldenController& sim_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

using ClientTest = SimHaldenTest;

TEST_F(ClientTest, RequestsOnAClosedClientReturnNotOpenAndReachNothing)
{
  Marlow1394oxClient client;
  EXPECT_FALSE(client.isOpen());
  for (const Operation& op : allOperations()) {
    EXPECT_EQ(op.run(client), OX_ERROR_NOT_OPEN) << op.name;
  }
  EXPECT_EQ(state().requestCount, 0u);

  ASSERT_EQ(client.open(), 0u);
  client.close();
  for (const Operation& op : allOperations()) {
    EXPECT_EQ(op.run(client), OX_ERROR_NOT_OPEN) << op.name << " after close";
  }
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
}

TEST_F(ClientTest, OpenAsksForTheVersionOnOneHandle)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  EXPECT_TRUE(client.isOpen());
  EXPECT_TRUE(waitForOpenHandles(1));
  const std::vector<HaldenSimLogEntry> entries = log();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].ioControlCode, IOCTL_OX_GET_VERSION);
  EXPECT_EQ(entries[0].inputLength, 0u);
  EXPECT_EQ(entries[0].outputLength, sizeof(OxInterfaceVersion));
}

TEST_F(ClientTest, OpenOnAnOpenClientReturnsNotOpenAndKeepsTheHandle)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  EXPECT_EQ(client.open(), OX_ERROR_NOT_OPEN);
  EXPECT_TRUE(client.isOpen());
  OxStatus status;
  EXPECT_EQ(client.getStatus(status), 0u);
  EXPECT_EQ(status.streamState, OX_STREAM_STREAMING);
  EXPECT_TRUE(waitForOpenHandles(1));
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "GET_STATUS"));
}

TEST_F(ClientTest, AnotherVersionEndsTheOpeningAfterAReleaseRequest)
{
  for (uint32_t version : {2u, 0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(version);
    ASSERT_EQ(sim->setVersion(version), 0u);
    ASSERT_EQ(sim->clearLog(), 0u);
    Marlow1394oxClient client;
    const unsigned long handles = test::processHandleCount();
    EXPECT_EQ(client.open(), OX_ERROR_VERSION_MISMATCH);
    EXPECT_FALSE(client.isOpen());
    EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
    EXPECT_TRUE(waitForOpenHandles(0));
    EXPECT_EQ(test::processHandleCount(), handles) << "device or event left open";
    OxStatus status;
    EXPECT_EQ(client.getStatus(status), OX_ERROR_NOT_OPEN);
  }
}

TEST_F(ClientTest, AVersionAnswerWithoutBytesReadsAsVersionZero)
{
  ASSERT_EQ(sim->shortenNext(IOCTL_OX_GET_VERSION, 0), 0u);
  Marlow1394oxClient client;
  EXPECT_EQ(client.open(), OX_ERROR_VERSION_MISMATCH);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
}

TEST_F(ClientTest, AFailingVersionRequestEndsTheOpeningWithItsError)
{
  ASSERT_EQ(sim->failNext(IOCTL_OX_GET_VERSION, win32Status(ERROR_GEN_FAILURE)), 0u);
  Marlow1394oxClient client;
  EXPECT_EQ(client.open(), static_cast<uint32_t>(ERROR_GEN_FAILURE));
  EXPECT_FALSE(client.isOpen());
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
  EXPECT_TRUE(waitForOpenHandles(0));
}

TEST_F(ClientTest, AFailedOpenLeavesTheClientReadyToOpenAgain)
{
  Marlow1394oxClient client;
  ASSERT_EQ(sim->setVersion(2), 0u);
  ASSERT_EQ(client.open(), OX_ERROR_VERSION_MISMATCH);
  ASSERT_EQ(sim->setVersion(OX_INTERFACE_VERSION), 0u);
  ASSERT_EQ(client.open(), 0u);
  OxStatus status;
  EXPECT_EQ(client.getStatus(status), 0u);
  EXPECT_EQ(status.sampleRate, SIMHALDEN_DEFAULT_SAMPLE_RATE);
}

TEST_F(ClientTest, ImmediateAndLaterCompletionBothSucceed)
{
  const struct {
    const char* name;
    bool pend;
    uint32_t pendMs;
  } cases[] = {
      {"completed at once", false, 0},
      {"pended, completed by the driver's worker", true, 0},
      {"pended, completed after 50 ms", true, 50},
  };
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  const OxStatus scripted = scriptedStatus();
  ASSERT_EQ(sim->setStatus(scripted), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(sim->clearLog(), 0u);
    if (c.pend) {
      ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, c.pendMs), 0u);
    }
    OxStatus status;
    memset(&status, 0xAA, sizeof(status));
    EXPECT_EQ(client.getStatus(status), 0u);
    EXPECT_EQ(memcmp(&status, &scripted, sizeof(status)), 0);
    const std::vector<HaldenSimLogEntry> entries = log();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ((entries[0].flags & SIMHALDEN_LOG_PENDED) != 0, c.pend);
    EXPECT_EQ(entries[0].answerLength, sizeof(OxStatus));
  }
}

TEST_F(ClientTest, APendedRequestBlocksTheCallerUntilTheDriverCompletesIt)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  uint32_t result = 99;
  OxStatus status;
  HeldCall call(*sim, [&] { result = client.getStatus(status); });
  ASSERT_TRUE(waitForHeld(1));
  EXPECT_FALSE(call.done());

  // The driver answers with its state at completion.
  const OxStatus scripted = scriptedStatus();
  ASSERT_EQ(sim->setStatus(scripted), 0u);
  uint32_t completed = 0;
  ASSERT_EQ(sim->completeHeld(&completed), 0u);
  EXPECT_EQ(completed, 1u);
  call.finish();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(memcmp(&status, &scripted, sizeof(status)), 0);
}

TEST_F(ClientTest, ARequestTheDriverNeverCompletesIsCancelledAndTheClientGoesOn)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  ASSERT_EQ(sim->clearLog(), 0u);
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  uint32_t result = 99;
  OxStatus status;
  HeldCall call(*sim, [&] { result = client.getStatus(status); });
  ASSERT_TRUE(waitForHeld(1));
  // Nobody completes it: the client must give up by itself (generous: ten times its bound).
  for (int i = 0; i < 600 && !call.done(); i++) {
    Sleep(50);
  }
  EXPECT_TRUE(call.done()) << "the client still waits for the driver";
  call.finish();
  EXPECT_EQ(result, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(state().heldRequests, 0u);
  const std::vector<HaldenSimLogEntry> entries = log();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].status, static_cast<int32_t>(0xC0000120)); // STATUS_CANCELLED

  const OxStatus scripted = scriptedStatus();
  ASSERT_EQ(sim->setStatus(scripted), 0u);
  EXPECT_EQ(client.getStatus(status), 0u);
  EXPECT_EQ(memcmp(&status, &scripted, sizeof(status)), 0);
}

TEST_F(ClientTest, FailuresComeBackAsTheirWin32Error)
{
  const struct {
    const char* name;
    uint32_t effects;
  } cases[] = {
      {"failing at once", SIMHALDEN_FAIL},
      {"failing after the wait", SIMHALDEN_FAIL | SIMHALDEN_PEND},
  };
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HaldenSimFault fault = {IOCTL_OX_SET_BUFFER_SIZES, 1, c.effects,
                            win32Status(ERROR_BUSY),   0, 10};
    ASSERT_EQ(sim->armFault(fault), 0u);
    EXPECT_EQ(client.setBufferSizes(1, 1), static_cast<uint32_t>(ERROR_BUSY));
    EXPECT_TRUE(client.isOpen());
  }
}

TEST_F(ClientTest, BytesTheDriverDoesNotAnswerReadAsZero)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);

  const OxStatus scripted = scriptedStatus();
  ASSERT_EQ(sim->setStatus(scripted), 0u);
  OxDeviceList list = {};
  list.currentDeviceId = 0x1122334455667788ull;
  list.count = OX_MAX_DEVICES;
  for (uint32_t i = 0; i < OX_MAX_DEVICES; i++) {
    list.entries[i].deviceId = 0x1122334455667700ull + i;
    memset(list.entries[i].reserved, 0x5A, sizeof(list.entries[i].reserved));
  }
  ASSERT_EQ(sim->setDeviceList(list), 0u);
  OxInterfaceVersion version = {};
  version.interfaceVersion = OX_INTERFACE_VERSION;
  memset(version.reserved, 0x3C, sizeof(version.reserved));
  ASSERT_EQ(sim->setVersion(version), 0u);

  const struct {
    const char* name;
    uint32_t code;
    uint32_t bytes;
    const void* full;
    size_t size;
    std::function<uint32_t(void*)> read;
  } cases[] = {
      {"status, 8 bytes", IOCTL_OX_GET_STATUS, 8, &scripted, sizeof(OxStatus),
       [&](void* r) { return client.getStatus(*static_cast<OxStatus*>(r)); }},
      {"status, 90 bytes", IOCTL_OX_GET_STATUS, 90, &scripted, sizeof(OxStatus),
       [&](void* r) { return client.getStatus(*static_cast<OxStatus*>(r)); }},
      {"device list, 12 bytes", IOCTL_OX_GET_DEVICE_LIST, 12, &list, sizeof(OxDeviceList),
       [&](void* r) { return client.getDeviceList(*static_cast<OxDeviceList*>(r)); }},
      {"device list, nothing", IOCTL_OX_GET_DEVICE_LIST, 0, &list, sizeof(OxDeviceList),
       [&](void* r) { return client.getDeviceList(*static_cast<OxDeviceList*>(r)); }},
      {"version, 5 bytes", IOCTL_OX_GET_VERSION, 5, &version, sizeof(OxInterfaceVersion),
       [&](void* r) { return client.getInterfaceVersion(*static_cast<OxInterfaceVersion*>(r)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(sim->shortenNext(c.code, c.bytes), 0u);
    std::vector<uint8_t> record(c.size, 0xAA);
    EXPECT_EQ(c.read(record.data()), 0u);
    const auto* full = static_cast<const uint8_t*>(c.full);
    for (size_t i = 0; i < c.size; i++) {
      ASSERT_EQ(record[i], i < c.bytes ? full[i] : 0) << "byte " << i;
    }
  }
}

TEST_F(ClientTest, EachOperationSendsItsCodeAndItsBytes)
{
  // A stopped device that every request below can succeed on.
  OxDeviceList list = {};
  list.currentDeviceId = SIMHALDEN_DEFAULT_DEVICE_ID;
  list.count = 2;
  list.entries[0].deviceId = SIMHALDEN_DEFAULT_DEVICE_ID;
  list.entries[1].deviceId = 0x0123456789ABCDEFull;
  ASSERT_EQ(sim->setDeviceList(list), 0u);
  OxStatus status = scriptedStatus();
  status.sampleRates[2] = 44100;
  ASSERT_EQ(sim->setStatus(status), 0u);

  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  using Bytes = std::vector<uint8_t>;
  const struct {
    const char* name;
    std::function<uint32_t()> run;
    uint32_t code;
    Bytes input;
    uint32_t outputLength;
  } cases[] = {
      {"getInterfaceVersion",
       [&] {
         OxInterfaceVersion v;
         return client.getInterfaceVersion(v);
       },
       IOCTL_OX_GET_VERSION,
       {},
       24},
      {"sendCommand820",
       [&] { return client.sendCommand820(0xDEADBEEF); },
       IOCTL_OX_CMD_820,
       {0xEF, 0xBE, 0xAD, 0xDE},
       0},
      {"getDeviceList",
       [&] {
         OxDeviceList l;
         return client.getDeviceList(l);
       },
       IOCTL_OX_GET_DEVICE_LIST,
       {},
       268},
      {"getStatus",
       [&] {
         OxStatus s;
         return client.getStatus(s);
       },
       IOCTL_OX_GET_STATUS,
       {},
       112},
      {"stopStreaming", [&] { return client.stopStreaming(); }, IOCTL_OX_STOP_STREAMING, {}, 0},
      {"setSampleRate",
       [&] { return client.setSampleRate(44100); },
       IOCTL_OX_SET_SAMPLE_RATE,
       {0x44, 0xAC, 0x00, 0x00},
       0},
      {"selectDevice",
       [&] { return client.selectDevice(0x0123456789ABCDEFull); },
       IOCTL_OX_SELECT_DEVICE,
       {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01},
       0},
      {"setBufferSizes",
       [&] { return client.setBufferSizes(2, 1); },
       IOCTL_OX_SET_BUFFER_SIZES,
       {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
       0},
      {"startStreaming", [&] { return client.startStreaming(); }, IOCTL_OX_START_STREAMING, {}, 0},
      {"releaseDevice", [&] { return client.releaseDevice(); }, IOCTL_OX_RELEASE, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(sim->clearLog(), 0u);
    EXPECT_EQ(c.run(), 0u);
    const std::vector<HaldenSimLogEntry> entries = log();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].ioControlCode, c.code);
    EXPECT_EQ(entries[0].outputLength, c.outputLength);
    ASSERT_EQ(entries[0].inputLength, c.input.size());
    EXPECT_EQ(Bytes(entries[0].input, entries[0].input + c.input.size()), c.input);
  }
}

TEST_F(ClientTest, CloseReleasesTheDriverThenClosesTheHandle)
{
  Marlow1394oxClient client;
  const unsigned long handles = test::processHandleCount();
  ASSERT_EQ(client.open(), 0u);
  EXPECT_EQ(test::processHandleCount(), handles + 2) << "the device and the event";
  client.close();
  EXPECT_EQ(test::processHandleCount(), handles);
  EXPECT_FALSE(client.isOpen());
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
  EXPECT_TRUE(waitForOpenHandles(0));

  ASSERT_EQ(sim->clearLog(), 0u);
  client.close();
  EXPECT_THAT(loggedNames(), IsEmpty());

  // A new opening gets a new event and works as the first.
  ASSERT_EQ(client.open(), 0u);
  OxStatus status;
  EXPECT_EQ(client.getStatus(status), 0u);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "GET_STATUS"));
}

TEST_F(ClientTest, AFailingReleaseStillClosesTheHandle)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  ASSERT_EQ(sim->failNext(IOCTL_OX_RELEASE, win32Status(ERROR_GEN_FAILURE)), 0u);
  client.close();
  EXPECT_FALSE(client.isOpen());
  EXPECT_TRUE(waitForOpenHandles(0));
}

TEST_F(ClientTest, TheDestructorReleasesAnOpenClientAndNothingElse)
{
  {
    Marlow1394oxClient client;
    ASSERT_EQ(client.open(), 0u);
  }
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
  EXPECT_TRUE(waitForOpenHandles(0));

  ASSERT_EQ(sim->clearLog(), 0u);
  {
    Marlow1394oxClient neverOpened;
  }
  {
    Marlow1394oxClient closedAlready;
    ASSERT_EQ(closedAlready.open(), 0u);
    closedAlready.close();
  }
  EXPECT_THAT(loggedNames(), ElementsAre("GET_VERSION", "RELEASE"));
}

TEST_F(ClientTest, ASecondThreadWaitsWhileARequestIsInFlight)
{
  Marlow1394oxClient client;
  ASSERT_EQ(client.open(), 0u);
  ASSERT_EQ(sim->clearLog(), 0u);
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  uint32_t first = 99, second = 99;
  OxStatus status;
  OxDeviceList list;
  HeldCall held(*sim, [&] { first = client.getStatus(status); });
  ASSERT_TRUE(waitForHeld(1));
  HeldCall waiting(*sim, [&] { second = client.getDeviceList(list); });
  // Were the lock not held across the wait, the second request would reach the driver now.
  Sleep(200);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_STATUS"));
  EXPECT_FALSE(waiting.done());

  ASSERT_EQ(sim->completeHeld(), 0u);
  held.finish();
  waiting.finish();
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 0u);
  EXPECT_THAT(loggedNames(), ElementsAre("GET_STATUS", "GET_DEVICE_LIST"));
}

TEST(ClientWithoutDriver, OpenGivesTheCreateFileErrorAndLeavesNoHandleBehind)
{
  test::removeSimHalden();
  wchar_t name[OX_DEVICE_NAME_CHARS];
  swprintf(name, OX_DEVICE_NAME_CHARS, L"\\\\.\\%ls", OX_DEVICE_INTERFACE_NAME);
  ASSERT_EQ(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
            INVALID_HANDLE_VALUE);
  const DWORD expected = GetLastError();
  ASSERT_NE(expected, 0u);

  Marlow1394oxClient client;
  const unsigned long before = test::processHandleCount();
  ASSERT_NE(before, 0u);
  EXPECT_EQ(client.open(), expected);
  EXPECT_EQ(client.open(), expected);
  EXPECT_EQ(test::processHandleCount(), before) << "the event of a failed opening stays behind";
  EXPECT_FALSE(client.isOpen());
  OxStatus status;
  EXPECT_EQ(client.getStatus(status), OX_ERROR_NOT_OPEN);
}

} // namespace
