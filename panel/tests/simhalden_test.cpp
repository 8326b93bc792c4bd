// The simulated Halden driver behaves as a mixer driver for the panel: what it answers by
// default, its stream state machine, and faults that really take the roads they name.
#include "Marlow1394oxClient.h"
#include "simhalden_fixture.h"

#include <gmock/gmock.h>

namespace {

using test::SimHaldenTest;
using ::testing::ElementsAre;

const uint64_t otherDevice = 0x000D6E0100A3C5F2ull;

class SimHaldenBehaviour : public SimHaldenTest {
protected:
  void SetUp() override
  {
    SimHaldenTest::SetUp();
    if (!HasFatalFailure()) {
      ASSERT_EQ(client.open(), 0u);
    }
  }

  void listTwoDevices()
  {
    OxDeviceList list = {};
    list.currentDeviceId = SIMHALDEN_DEFAULT_DEVICE_ID;
    list.count = 2;
    list.entries[0].deviceId = SIMHALDEN_DEFAULT_DEVICE_ID;
    list.entries[1].deviceId = otherDevice;
    ASSERT_EQ(sim->setDeviceList(list), 0u);
  }

  OxStatus status()
  {
    OxStatus s;
    EXPECT_EQ(client.getStatus(s), 0u);
    return s;
  }

  Marlow1394oxClient client;
};

TEST_F(SimHaldenBehaviour, ByDefaultOneHaldenStreamsAt48kHz)
{
  OxDeviceList list;
  ASSERT_EQ(client.getDeviceList(list), 0u);
  EXPECT_EQ(list.count, 1u);
  EXPECT_NE(list.entries[0].deviceId, 0u);
  EXPECT_EQ(list.currentDeviceId, list.entries[0].deviceId);

  const OxStatus s = status();
  EXPECT_EQ(s.streamState, OX_STREAM_STREAMING);
  EXPECT_EQ(s.sampleRate, 48000u);
  ASSERT_EQ(s.sampleRateCount, 4u);
  EXPECT_THAT(std::vector<uint32_t>(s.sampleRates, s.sampleRates + 4),
              ElementsAre(44100u, 48000u, 88200u, 96000u));
  EXPECT_EQ(s.firewireLatencyIndex, SIMHALDEN_DEFAULT_FIREWIRE_LATENCY_INDEX);
  EXPECT_EQ(s.asioBufferIndex, SIMHALDEN_DEFAULT_ASIO_BUFFER_INDEX);
  EXPECT_EQ(s.latencyUs, 0u);
  // Nothing changes between two polls while nothing happens.
  const OxStatus again = status();
  EXPECT_EQ(memcmp(&s, &again, sizeof(s)), 0);
}

TEST_F(SimHaldenBehaviour, AnotherDeviceIsRefusedWhileStreamingAndTakenWhenStopped)
{
  listTwoDevices();
  // The panel's road: refused, stop, select again, start again.
  EXPECT_EQ(client.selectDevice(otherDevice), static_cast<uint32_t>(ERROR_BUSY));
  EXPECT_EQ(client.selectDevice(SIMHALDEN_DEFAULT_DEVICE_ID), 0u) << "the selected one is fine";
  EXPECT_EQ(client.stopStreaming(), 0u);
  EXPECT_EQ(status().streamState, OX_STREAM_STOPPED);
  EXPECT_EQ(client.selectDevice(otherDevice), 0u);
  EXPECT_EQ(client.startStreaming(), 0u);

  OxDeviceList list;
  ASSERT_EQ(client.getDeviceList(list), 0u);
  EXPECT_EQ(list.currentDeviceId, otherDevice);
  EXPECT_EQ(status().streamState, OX_STREAM_STREAMING);
}

TEST_F(SimHaldenBehaviour, OnlyListedDevicesCanBeSelected)
{
  ASSERT_EQ(client.stopStreaming(), 0u);
  const uint32_t refused = client.selectDevice(otherDevice);
  EXPECT_NE(refused, 0u);
  EXPECT_EQ(client.selectDevice(0), refused);
  OxDeviceList list;
  ASSERT_EQ(client.getDeviceList(list), 0u);
  EXPECT_EQ(list.currentDeviceId, SIMHALDEN_DEFAULT_DEVICE_ID);
}

TEST_F(SimHaldenBehaviour, SettingsAreTakenWhileStoppedAndWithinTheirRanges)
{
  EXPECT_EQ(client.setSampleRate(44100), static_cast<uint32_t>(ERROR_BUSY));
  EXPECT_EQ(client.setBufferSizes(1, 1), static_cast<uint32_t>(ERROR_BUSY));
  ASSERT_EQ(client.stopStreaming(), 0u);

  EXPECT_EQ(client.setSampleRate(44100), 0u);
  EXPECT_EQ(client.setBufferSizes(5, 2), 0u);
  const struct {
    const char* name;
    uint32_t result;
  } refusals[] = {
      {"a rate not in the list", client.setSampleRate(22050)},
      {"rate 0", client.setSampleRate(0)},
      {"FireWire latency 6", client.setBufferSizes(6, 0)},
      {"ASIO buffering 3", client.setBufferSizes(0, 3)},
  };
  for (const auto& r : refusals) {
    EXPECT_EQ(r.result, static_cast<uint32_t>(ERROR_INVALID_PARAMETER)) << r.name;
  }
  ASSERT_EQ(client.startStreaming(), 0u);
  const OxStatus s = status();
  EXPECT_EQ(s.streamState, OX_STREAM_STREAMING);
  EXPECT_EQ(s.sampleRate, 44100u);
  EXPECT_EQ(s.firewireLatencyIndex, 5u);
  EXPECT_EQ(s.asioBufferIndex, 2u);
}

TEST_F(SimHaldenBehaviour, AReportedLatencyFollowsTheBuffers)
{
  OxStatus s = status();
  s.streamState = OX_STREAM_STOPPED;
  s.latencyUs = 4000;
  s.latencyExtraUs = 250;
  ASSERT_EQ(sim->setStatus(s), 0u);
  ASSERT_EQ(client.setBufferSizes(3, 1), 0u);
  EXPECT_EQ(status().latencyUs, 4000u * 4);
  EXPECT_EQ(status().latencyExtraUs, 250u);

  s.latencyUs = 0;
  ASSERT_EQ(sim->setStatus(s), 0u);
  ASSERT_EQ(client.setBufferSizes(4, 2), 0u);
  EXPECT_EQ(status().latencyUs, 0u) << "a driver that reports none goes on reporting none";
}

TEST_F(SimHaldenBehaviour, NothingStreamsWithoutADevice)
{
  OxDeviceList none = {};
  ASSERT_EQ(sim->setDeviceList(none), 0u);
  OxStatus s = status();
  s.streamState = OX_STREAM_STOPPED;
  ASSERT_EQ(sim->setStatus(s), 0u);
  EXPECT_EQ(client.startStreaming(), static_cast<uint32_t>(ERROR_NOT_READY));
  EXPECT_EQ(client.setSampleRate(44100), static_cast<uint32_t>(ERROR_NOT_READY));
  EXPECT_EQ(status().streamState, OX_STREAM_STOPPED);
}

TEST_F(SimHaldenBehaviour, AnErrorStateIsLeftByStoppingOrStarting)
{
  OxStatus s = status();
  s.streamState = OX_STREAM_ERROR;
  ASSERT_EQ(sim->setStatus(s), 0u);
  EXPECT_EQ(client.startStreaming(), 0u);
  EXPECT_EQ(status().streamState, OX_STREAM_STREAMING);
  ASSERT_EQ(sim->setStatus(s), 0u);
  EXPECT_EQ(client.stopStreaming(), 0u);
  EXPECT_EQ(status().streamState, OX_STREAM_STOPPED);
}

TEST_F(SimHaldenBehaviour, ScriptedRecordsAreAnsweredAsTheyStand)
{
  OxDeviceList list;
  memset(&list, 0xC3, sizeof(list));
  list.count = 17; // more than the record holds: the driver reports what it was told
  ASSERT_EQ(sim->setDeviceList(list), 0u);
  OxStatus s;
  memset(&s, 0x7E, sizeof(s));
  ASSERT_EQ(sim->setStatus(s), 0u);

  OxDeviceList gotList;
  ASSERT_EQ(client.getDeviceList(gotList), 0u);
  EXPECT_EQ(memcmp(&gotList, &list, sizeof(list)), 0);
  const OxStatus got = status();
  EXPECT_EQ(memcmp(&got, &s, sizeof(s)), 0);
}

TEST_F(SimHaldenBehaviour, FaultsLastForTheirCountOrUntilCleared)
{
  ASSERT_EQ(sim->failNext(IOCTL_OX_GET_STATUS, static_cast<int32_t>(0xC0000185), 2), 0u);
  OxStatus s;
  const uint32_t ioError = client.getStatus(s);
  EXPECT_NE(ioError, 0u);
  EXPECT_EQ(client.getStatus(s), ioError);
  EXPECT_EQ(client.getStatus(s), 0u);

  ASSERT_EQ(sim->failNext(IOCTL_OX_GET_STATUS, static_cast<int32_t>(0xC0000185), 0), 0u);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(client.getStatus(s), ioError) << i;
  }
  EXPECT_EQ(state().armedFaults, 1u);
  ASSERT_EQ(sim->clearFaults(), 0u);
  EXPECT_EQ(client.getStatus(s), 0u);
  EXPECT_EQ(state().armedFaults, 0u);
  // Other codes were never touched.
  OxDeviceList list;
  EXPECT_EQ(client.getDeviceList(list), 0u);
}

TEST_F(SimHaldenBehaviour, ResetBringsBackTheDefaults)
{
  ASSERT_EQ(client.stopStreaming(), 0u);
  ASSERT_EQ(client.setSampleRate(96000), 0u);
  ASSERT_EQ(sim->setVersion(5), 0u);
  ASSERT_EQ(sim->failNext(IOCTL_OX_GET_STATUS, static_cast<int32_t>(0xC0000185), 0), 0u);
  ASSERT_EQ(sim->reset(), 0u);

  const HaldenSimState s = state();
  EXPECT_EQ(s.status.streamState, OX_STREAM_STREAMING);
  EXPECT_EQ(s.status.sampleRate, 48000u);
  EXPECT_EQ(s.version.interfaceVersion, 1u);
  EXPECT_EQ(s.armedFaults, 0u);
  EXPECT_EQ(s.requestCount, 0u);
  EXPECT_TRUE(log().empty());
}

// The raw Win32 view of what the client relies on.
class SimHaldenHandle : public SimHaldenTest {
protected:
  void SetUp() override
  {
    SimHaldenTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    wchar_t name[OX_DEVICE_NAME_CHARS];
    swprintf(name, OX_DEVICE_NAME_CHARS, L"\\\\.\\%ls", OX_DEVICE_INTERFACE_NAME);
    file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override
  {
    if (sim) {
      sim->completeHeld();
    }
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
    if (overlapped.hEvent != nullptr) {
      CloseHandle(overlapped.hEvent);
    }
  }
  BOOL requestStatus()
  {
    return DeviceIoControl(file, IOCTL_OX_GET_STATUS, nullptr, 0, &answer, sizeof(answer), nullptr,
                           &overlapped);
  }

  HANDLE file = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped = {};
  OxStatus answer;
};

TEST_F(SimHaldenHandle, APendedRequestAnswersIoPendingAndAnImmediateOneDoesNot)
{
  ASSERT_TRUE(requestStatus()) << "a request the driver completes at once completes at once";

  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  ASSERT_FALSE(requestStatus());
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(sim->completeHeld(), 0u);
  DWORD bytes = 0;
  EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
  EXPECT_EQ(bytes, sizeof(OxStatus));
}

TEST_F(SimHaldenHandle, ACancelledHeldRequestEndsAborted)
{
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  ASSERT_FALSE(requestStatus());
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(waitForHeld(1));
  ASSERT_TRUE(CancelIoEx(file, &overlapped));
  DWORD bytes = 0;
  EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(state().heldRequests, 0u);
  const std::vector<HaldenSimLogEntry> entries = log();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].status, static_cast<int32_t>(0xC0000120)); // STATUS_CANCELLED
}

TEST_F(SimHaldenHandle, RemovingTheDriverCancelsWhatItHolds)
{
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  ASSERT_FALSE(requestStatus());
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(waitForHeld(1));
  sim.reset();
  test::removeSimHalden();
  ASSERT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(overlapped.Internal, static_cast<ULONG_PTR>(0xC0000120)); // STATUS_CANCELLED
}

TEST_F(SimHaldenHandle, ALogEmptiedWhileARequestIsHeldKeepsOnlyWhatCameAfter)
{
  ASSERT_EQ(sim->pendNext(IOCTL_OX_GET_STATUS, SIMHALDEN_HOLD_UNTIL_COMPLETED), 0u);
  ASSERT_FALSE(requestStatus());
  ASSERT_TRUE(waitForHeld(1));
  ASSERT_EQ(sim->clearLog(), 0u);
  ASSERT_EQ(sim->failNext(IOCTL_OX_START_STREAMING, static_cast<int32_t>(0xC0070000u | 31)), 0u);
  OVERLAPPED second = {};
  second.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(
      DeviceIoControl(file, IOCTL_OX_START_STREAMING, nullptr, 0, nullptr, 0, nullptr, &second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  CloseHandle(second.hEvent);
  ASSERT_EQ(sim->completeHeld(), 0u);
  DWORD bytes;
  EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));

  const std::vector<HaldenSimLogEntry> entries = log();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].ioControlCode, IOCTL_OX_START_STREAMING);
  EXPECT_EQ(entries[0].status, static_cast<int32_t>(0xC007001F));
  EXPECT_EQ(entries[0].flags, SIMHALDEN_LOG_FAULTED | SIMHALDEN_LOG_DONE);
}

} // namespace
