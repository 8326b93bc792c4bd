// The framework's Plug-and-Play and power handling, on a function device above a lower one.
// The measuring driver is a legacy driver and never gets these requests; a test device that
// derives from the same base gets them here.
#include "FakeKernel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LatencyDeviceBase.h"

namespace {

class PnpDevice : public LatencyDeviceBase {
public:
  PnpDevice(PDEVICE_OBJECT self, PDEVICE_OBJECT lower)
  {
    AttachDeviceObject(self);
    m_lowerDevice = lower;
  }

  void Lock() override { depth++; }
  void Unlock() override { depth--; }
  void SetPendingIrp(PIRP irp) { m_pendingIrp = irp; }

  NTSTATUS startResult = STATUS_SUCCESS;
  NTSTATUS queryResult = STATUS_SUCCESS;
  NTSTATUS devicePowerResult = STATUS_SUCCESS;
  std::vector<std::string> hooks;
  std::vector<DEVICE_POWER_STATE> powerStates;
  int depth = 0;

protected:
  NTSTATUS OnStartDevice(PIRP) override { return Hook("start", startResult); }
  NTSTATUS OnQueryStopDevice(PIRP) override { return Hook("query stop", queryResult); }
  void OnCancelStopDevice(PIRP) override { Hook("cancel stop"); }
  void OnStopDevice(PIRP) override { Hook("stop"); }
  NTSTATUS OnQueryRemoveDevice(PIRP) override { return Hook("query remove", queryResult); }
  void OnCancelRemoveDevice(PIRP) override { Hook("cancel remove"); }
  void OnRemoveDevice(PIRP) override { Hook("remove"); }
  void OnRemoveDeviceCleanup(PIRP) override { Hook("remove cleanup"); }
  void OnSurpriseRemoval(PIRP) override { Hook("surprise removal"); }
  void OnSurpriseRemovalCleanup(PIRP) override { Hook("surprise removal cleanup"); }
  void OnQueryCapabilities(PDEVICE_CAPABILITIES) override { Hook("capabilities"); }
  void OnQueryCapabilitiesComplete(PDEVICE_CAPABILITIES capabilities) override
  {
    Hook("capabilities complete");
    capabilities->D1Latency = 42;
  }
  NTSTATUS OnSetDevicePower(DEVICE_POWER_STATE state) override
  {
    powerStates.push_back(state);
    return Hook("device power", devicePowerResult);
  }

private:
  NTSTATUS Hook(const char* name, NTSTATUS result = STATUS_SUCCESS)
  {
    EXPECT_GT(depth, 0) << name << " runs outside Lock";
    hooks.push_back(name);
    return result;
  }
};

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
  return LatencyDeviceBase::FromDeviceObject(device)->OnPnp(irp);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
  return LatencyDeviceBase::FromDeviceObject(device)->OnPower(irp);
}

class DeviceBase : public ::testing::Test {
protected:
  void SetUp() override
  {
    fake::Reset();
    driver_.object.MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver_.object.MajorFunction[IRP_MJ_POWER] = DispatchPower;
    ASSERT_EQ(IoCreateDevice(&driver_.object, sizeof(void*), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                             &self_),
              STATUS_SUCCESS);
    self_->StackSize = CCHAR(lower_.device.StackSize + 1);
    device_ = new PnpDevice(self_, &lower_.device);
    ASSERT_NE(device_, nullptr);
  }

  void TearDown() override
  {
    if (device_ != nullptr) {
      delete device_;
      IoDeleteDevice(self_);
    }
    fake::ExpectQuiet();
    fake::ExpectNothingLeft();
  }

  fake::Irp& Pnp(UCHAR minor)
  {
    irps_.push_back(fake::Irp::Major(IRP_MJ_PNP, minor));
    fake::Send(self_, *irps_.back());
    return *irps_.back();
  }

  fake::Irp& Power(POWER_STATE_TYPE type, POWER_STATE state, UCHAR minor = IRP_MN_SET_POWER)
  {
    irps_.push_back(fake::Irp::Major(IRP_MJ_POWER, minor));
    PIO_STACK_LOCATION stack = irps_.back()->next();
    stack->Parameters.Power.Type = type;
    stack->Parameters.Power.State = state;
    returned_ = fake::Send(self_, *irps_.back());
    return *irps_.back();
  }

  bool LowerSaw(UCHAR major, UCHAR minor) const
  {
    for (auto& seen : lower_.seen) {
      if (seen.first == major && seen.second == minor) {
        return true;
      }
    }
    return false;
  }

  fake::DriverObject driver_;
  fake::LowerDevice lower_;
  PDEVICE_OBJECT self_ = nullptr;
  PnpDevice* device_ = nullptr;
  std::vector<std::unique_ptr<fake::Irp>> irps_;
  NTSTATUS returned_ = STATUS_SUCCESS;
};

TEST_F(DeviceBase, StartGoesToTheLowerDevicesFirstThenStartsThisOne)
{
  EXPECT_EQ(device_->State(), DeviceState::NotStarted);
  fake::Irp& start = Pnp(IRP_MN_START_DEVICE);
  EXPECT_EQ(start.status(), STATUS_SUCCESS);
  EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, IRP_MN_START_DEVICE));
  EXPECT_EQ(device_->hooks, std::vector<std::string>({"start"}));
  EXPECT_EQ(device_->State(), DeviceState::Started);
  EXPECT_EQ(device_->DevicePowerState(), PowerDeviceD0);
}

TEST_F(DeviceBase, AFailingStartHookLeavesTheDeviceStoppedAndFailsTheRequest)
{
  device_->startResult = STATUS_DEVICE_CONFIGURATION_ERROR;
  EXPECT_EQ(Pnp(IRP_MN_START_DEVICE).status(), STATUS_DEVICE_CONFIGURATION_ERROR);
  EXPECT_EQ(device_->State(), DeviceState::Stopped);
}

TEST_F(DeviceBase, AStartTheLowerDevicesRefuseIsPassedBackAndStartsNothing)
{
  lower_.answer = STATUS_UNSUCCESSFUL;
  EXPECT_EQ(Pnp(IRP_MN_START_DEVICE).status(), STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(device_->hooks.empty());
  EXPECT_EQ(device_->State(), DeviceState::NotStarted);
}

TEST_F(DeviceBase, ACancelledQueryReturnsToTheStateBeforeIt)
{
  struct Case {
    UCHAR query;
    UCHAR cancel;
    DeviceState pending;
    const char* hook;
  };
  for (Case c : {Case{IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE, DeviceState::StopPending,
                      "cancel stop"},
                 Case{IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE,
                      DeviceState::RemovePending, "cancel remove"}}) {
    SCOPED_TRACE(c.hook);
    Pnp(IRP_MN_START_DEVICE);
    EXPECT_EQ(Pnp(c.query).status(), STATUS_SUCCESS);
    EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, c.query));
    EXPECT_EQ(device_->State(), c.pending);
    device_->hooks.clear();
    EXPECT_EQ(Pnp(c.cancel).status(), STATUS_SUCCESS);
    EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, c.cancel));
    EXPECT_EQ(device_->hooks, std::vector<std::string>({c.hook}));
    EXPECT_EQ(device_->State(), DeviceState::Started);
    // Cancelling again in the started state only passes the request on.
    device_->hooks.clear();
    EXPECT_EQ(Pnp(c.cancel).status(), STATUS_SUCCESS);
    EXPECT_TRUE(device_->hooks.empty());
  }
}

TEST_F(DeviceBase, AQueryTheDeviceRefusesIsCompletedWithoutGoingDown)
{
  Pnp(IRP_MN_START_DEVICE);
  device_->queryResult = STATUS_DEVICE_BUSY;
  EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).status(), STATUS_DEVICE_BUSY);
  EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).status(), STATUS_DEVICE_BUSY);
  EXPECT_FALSE(LowerSaw(IRP_MJ_PNP, IRP_MN_QUERY_STOP_DEVICE));
  EXPECT_FALSE(LowerSaw(IRP_MJ_PNP, IRP_MN_QUERY_REMOVE_DEVICE));
  EXPECT_EQ(device_->State(), DeviceState::Started);
}

VOID NTAPI RecordCancel(PDEVICE_OBJECT, PIRP irp)
{
  IoReleaseCancelSpinLock(irp->CancelIrql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
}

TEST_F(DeviceBase, StopAndSurpriseRemovalCancelTheDevicesOwnPendingRequest)
{
  for (UCHAR minor : {UCHAR(IRP_MN_STOP_DEVICE), UCHAR(IRP_MN_SURPRISE_REMOVAL)}) {
    SCOPED_TRACE(int(minor));
    auto own = std::make_unique<fake::Irp>();
    own->get()->Tail.Overlay.CurrentStackLocation--;
    own->get()->CurrentLocation--;
    own->get()->CancelRoutine = RecordCancel;
    device_->SetPendingIrp(own->get());
    EXPECT_EQ(Pnp(minor).status(), STATUS_SUCCESS);
    EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, minor));
    EXPECT_EQ(own->status(), STATUS_CANCELLED);
    device_->SetPendingIrp(nullptr);
  }
  EXPECT_EQ(device_->State(), DeviceState::SurpriseRemoved);
  EXPECT_EQ(device_->hooks,
            std::vector<std::string>({"stop", "surprise removal", "surprise removal cleanup"}));
}

TEST_F(DeviceBase, RemoveDetachesAndDeletesTheDeviceObjectAndTheDevice)
{
  Pnp(IRP_MN_START_DEVICE);
  EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE).status(), STATUS_SUCCESS);
  device_ = nullptr; // deleted by the remove
  EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE));
  EXPECT_EQ(fake::Detaches(&lower_.device), 1);
  EXPECT_EQ(fake::DeviceCount(), 0);
  EXPECT_EQ(fake::LiveBlocks(), 0);
}

TEST_F(DeviceBase, CapabilitiesAreCopiedOnceTheLowerDevicesFilledThem)
{
  const DEVICE_CAPABILITIES& initial = device_->Capabilities();
  EXPECT_EQ(initial.Size, 64);
  EXPECT_EQ(initial.Version, 1);
  EXPECT_EQ(initial.Address, 0xFFFFFFFFu);
  EXPECT_EQ(initial.UINumber, 0xFFFFFFFFu);

  DEVICE_CAPABILITIES capabilities = {};
  capabilities.Size = sizeof(capabilities);
  capabilities.Version = 1;
  capabilities.Address = 3;
  irps_.push_back(fake::Irp::Major(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES));
  irps_.back()->next()->Parameters.DeviceCapabilities.Capabilities = &capabilities;
  fake::Send(self_, *irps_.back());
  EXPECT_EQ(irps_.back()->status(), STATUS_SUCCESS);
  EXPECT_EQ(device_->hooks, std::vector<std::string>({"capabilities", "capabilities complete"}));
  EXPECT_EQ(device_->Capabilities().Address, 3u);
  EXPECT_EQ(device_->Capabilities().D1Latency, 42u);

  EXPECT_EQ(Pnp(IRP_MN_QUERY_CAPABILITIES).status(), STATUS_UNSUCCESSFUL) << "no record";
}

TEST_F(DeviceBase, OtherRequestsAndDeviceRelationsGoDown)
{
  lower_.answer = STATUS_INVALID_DEVICE_REQUEST;
  EXPECT_EQ(Pnp(IRP_MN_QUERY_ID).status(), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(Pnp(IRP_MN_QUERY_DEVICE_RELATIONS).status(), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, IRP_MN_QUERY_ID));
  EXPECT_TRUE(LowerSaw(IRP_MJ_PNP, IRP_MN_QUERY_DEVICE_RELATIONS));
}

TEST_F(DeviceBase, ASystemPowerRequestBringsTheMatchingDevicePowerRequest)
{
  struct Case {
    SYSTEM_POWER_STATE system;
    DEVICE_POWER_STATE device;
  };
  for (Case c : {Case{PowerSystemSleeping3, PowerDeviceD3}, Case{PowerSystemWorking, PowerDeviceD0},
                 Case{PowerSystemHibernate, PowerDeviceD3}}) {
    SCOPED_TRACE(int(c.system));
    device_->powerStates.clear();
    POWER_STATE state;
    state.SystemState = c.system;
    fake::Irp& request = Power(SystemPowerState, state);
    EXPECT_EQ(returned_, STATUS_PENDING);
    EXPECT_EQ(request.status(), STATUS_SUCCESS);
    EXPECT_EQ(device_->powerStates, std::vector<DEVICE_POWER_STATE>({c.device}));
    EXPECT_EQ(device_->DevicePowerState(), c.device);
  }
}

TEST_F(DeviceBase, ADevicePowerRequestTheDeviceRefusesFailsAndKeepsTheState)
{
  POWER_STATE d0;
  d0.DeviceState = PowerDeviceD0;
  Power(DevicePowerState, d0);
  device_->devicePowerResult = STATUS_DEVICE_BUSY;
  POWER_STATE d3;
  d3.DeviceState = PowerDeviceD3;
  EXPECT_EQ(Power(DevicePowerState, d3).status(), STATUS_DEVICE_BUSY);
  EXPECT_EQ(device_->DevicePowerState(), PowerDeviceD0);

  POWER_STATE sleeping;
  sleeping.SystemState = PowerSystemSleeping1;
  EXPECT_EQ(Power(SystemPowerState, sleeping).status(), STATUS_DEVICE_BUSY)
      << "the system request ends as its device request did";
}

} // namespace
