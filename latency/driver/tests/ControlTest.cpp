// The control codes' length checks, the information request, and the requests the device
// refuses.
#include "LoadedDriver.h"

namespace {

using ControlCodes = LoadedDriver;

const NTSTATUS inputLength = NTSTATUS(LATENCY_ERR_INPUT_LENGTH);
const NTSTATUS outputLength = NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH);

TEST_F(ControlCodes, LengthsAreCheckedInputFirstAndUnknownCodesAreNotImplemented)
{
  struct Case {
    ULONG code;
    ULONG in;
    ULONG out;
    NTSTATUS status;
    ULONG_PTR information;
  };
  const Case cases[] = {
      {IOCTL_LATENCY_GET_INFO, 0, 24, STATUS_SUCCESS, 24},
      {IOCTL_LATENCY_GET_INFO, 7, 24, STATUS_SUCCESS, 24},
      {IOCTL_LATENCY_GET_INFO, 24, 20, outputLength, 0},
      {IOCTL_LATENCY_GET_INFO, 0, 0, outputLength, 0},
      {IOCTL_LATENCY_START, 4, 4, STATUS_SUCCESS, 4},
      {IOCTL_LATENCY_START, 0, 4, inputLength, 0},
      {IOCTL_LATENCY_START, 3, 0, inputLength, 0},
      {IOCTL_LATENCY_START, 8, 8, inputLength, 0},
      {IOCTL_LATENCY_START, 4, 0, outputLength, 0},
      {IOCTL_LATENCY_START, 4, 8, outputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 20, 20, STATUS_SUCCESS, 20},
      {IOCTL_LATENCY_GET_VALUES, 16, 20, inputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 16, 16, inputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 24, 24, inputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 20, 24, outputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 20, 16, outputLength, 0},
      {IOCTL_LATENCY_GET_VALUES, 20, 0, outputLength, 0},
      {IOCTL_LATENCY_STOP, 0, 0, STATUS_SUCCESS, 0},
      {IOCTL_LATENCY_STOP, 8, 8, STATUS_SUCCESS, 0},
      {IOCTL_LATENCY_RESET, 3, 9, STATUS_SUCCESS, 0},
      {LatencyControlCode(0x806), 0, 0, STATUS_NOT_IMPLEMENTED, 0},
      {LatencyControlCode(0x800), 4, 4, STATUS_NOT_IMPLEMENTED, 0},
      {CTL_CODE(0x8176u, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS), 4, 4, STATUS_NOT_IMPLEMENTED, 0},
      {IOCTL_LATENCY_START | METHOD_NEITHER, 4, 4, STATUS_NOT_IMPLEMENTED, 0},
  };
  uint8_t input[32] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.code << std::dec << " in " << c.in << " out " << c.out);
    fake::Irp& irp = Control(c.code, input, c.in, c.out);
    EXPECT_EQ(returned_, c.status);
    EXPECT_EQ(irp.status(), c.status);
    EXPECT_EQ(irp.information(), c.information);
  }
}

TEST_F(ControlCodes, ARefusedStartArmsNothingAndARefusedReadWithResetResetsNothing)
{
  uint32_t period = 1000;
  EXPECT_EQ(Control(IOCTL_LATENCY_START, &period, 4, 0).status(), outputLength);
  EXPECT_EQ(fake::ArmedCount(), 0);
  EXPECT_TRUE(fake::kernel().resolutionCalls.empty());

  Start(1000);
  WarmUp();
  fake::Expire(1234);
  LatencyValues request = {};
  request.resetAfterRead = 1;
  EXPECT_EQ(Control(IOCTL_LATENCY_GET_VALUES, &request, 20, 24).status(), outputLength);
  EXPECT_EQ(Values().maxInterval, 1234u);
}

TEST_F(ControlCodes, TheInformationRequestAnswersOneOneOneOneZeroZero)
{
  fake::Irp& irp = Control(IOCTL_LATENCY_GET_INFO, nullptr, 0, sizeof(LatencyDriverInfo));
  LatencyDriverInfo info;
  std::memcpy(&info, irp.buffer().data(), sizeof(info));
  const uint32_t expected[6] = {1, 1, 1, 1, 0, 0};
  EXPECT_EQ(std::memcmp(info.values, expected, sizeof(expected)), 0);
}

TEST_F(ControlCodes, OpenAndCloseSucceedWritesAndInternalRequestsAreRefused)
{
  EXPECT_EQ(Major(IRP_MJ_CREATE).status(), STATUS_SUCCESS);
  EXPECT_EQ(Major(IRP_MJ_WRITE).status(), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(Major(IRP_MJ_INTERNAL_DEVICE_CONTROL).status(), STATUS_NOT_SUPPORTED);
  // Nothing below this device: a system-control request keeps the status it came with.
  auto wmi = fake::Irp::Major(IRP_MJ_SYSTEM_CONTROL);
  wmi->get()->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  EXPECT_EQ(Send(std::move(wmi)).status(), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(Major(IRP_MJ_CLOSE).status(), STATUS_SUCCESS);
  EXPECT_EQ(Major(IRP_MJ_CLEANUP).status(), STATUS_SUCCESS);
}

// Plug-and-Play and power are not registered for this legacy driver; its device refuses
// wait-wake should such a request reach it all the same.
TEST_F(ControlCodes, TheDeviceRefusesWaitWake)
{
  auto irp = fake::Irp::Major(IRP_MJ_POWER, IRP_MN_WAIT_WAKE);
  irps_.push_back(std::move(irp));
  fake::Irp& wake = *irps_.back();
  // Delivered by hand: there is no power entry point to go through.
  wake.get()->CurrentLocation--;
  wake.get()->Tail.Overlay.CurrentStackLocation--;
  wake.get()->Tail.Overlay.CurrentStackLocation->DeviceObject = device_;
  EXPECT_EQ(LatencyDeviceBase::FromDeviceObject(device_)->OnPower(wake.get()),
            STATUS_NOT_SUPPORTED);
  EXPECT_EQ(wake.status(), STATUS_NOT_SUPPORTED);
}

} // namespace
