#include "LatencyDeviceBase.h"

LatencyDeviceBase::LatencyDeviceBase()
{
  RtlZeroMemory(&m_capabilities, sizeof(m_capabilities));
  m_capabilities.Size = sizeof(m_capabilities);
  m_capabilities.Version = 1;
  m_capabilities.Address = ULONG(-1);
  m_capabilities.UINumber = ULONG(-1);
}

LatencyDeviceBase::~LatencyDeviceBase() = default;

LatencyDeviceBase* LatencyDeviceBase::FromDeviceObject(PDEVICE_OBJECT deviceObject)
{
  if (deviceObject == nullptr || deviceObject->DeviceExtension == nullptr) {
    return nullptr;
  }
  return *static_cast<LatencyDeviceBase**>(deviceObject->DeviceExtension);
}

void LatencyDeviceBase::AttachDeviceObject(PDEVICE_OBJECT deviceObject)
{
  m_deviceObject = deviceObject;
  *static_cast<LatencyDeviceBase**>(deviceObject->DeviceExtension) = this;
}

NTSTATUS LatencyDeviceBase::CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS LatencyDeviceBase::OnCreate(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnCleanup(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnClose(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnRead(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnWrite(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnDeviceControl(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnInternalDeviceControl(PIRP irp)
{
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDeviceBase::OnSystemControl(PIRP irp)
{
  // WMI's convention for a device at the bottom of its stack: leave the status as it came.
  if (m_lowerDevice == nullptr) {
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  return PassDown(irp);
}

NTSTATUS LatencyDeviceBase::PassDown(PIRP irp)
{
  if (m_lowerDevice == nullptr) {
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(m_lowerDevice, irp);
}

NTSTATUS NTAPI LatencyDeviceBase::SignalLowerDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends the request down and takes it back once the lower devices are done with it; the
// caller completes it.
NTSTATUS LatencyDeviceBase::PassDownAndWait(PIRP irp)
{
  if (m_lowerDevice == nullptr) {
    return irp->IoStatus.Status;
  }
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SignalLowerDone, &done, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(m_lowerDevice, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    status = irp->IoStatus.Status;
  }
  return status;
}

void LatencyDeviceBase::SetState(DeviceState state)
{
  m_previousState = m_state;
  m_state = state;
}

void LatencyDeviceBase::CancelPendingIrp()
{
  if (m_pendingIrp != nullptr) {
    IoCancelIrp(m_pendingIrp);
  }
}

NTSTATUS LatencyDeviceBase::OnPnp(PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;
  switch (stack->MinorFunction) {
  case IRP_MN_START_DEVICE:
    Lock();
    status = PassDownAndWait(irp);
    if (NT_SUCCESS(status)) {
      m_devicePowerState = PowerDeviceD0;
      NTSTATUS started = OnStartDevice(irp);
      if (NT_SUCCESS(started)) {
        SetState(DeviceState::Started);
      } else {
        SetState(DeviceState::Stopped);
        status = started;
      }
    }
    Unlock();
    return CompleteRequest(irp, status, irp->IoStatus.Information);

  case IRP_MN_QUERY_STOP_DEVICE:
  case IRP_MN_QUERY_REMOVE_DEVICE: {
    const bool remove = stack->MinorFunction == IRP_MN_QUERY_REMOVE_DEVICE;
    Lock();
    status = remove ? OnQueryRemoveDevice(irp) : OnQueryStopDevice(irp);
    if (!NT_SUCCESS(status)) {
      Unlock();
      return CompleteRequest(irp, status, 0);
    }
    SetState(remove ? DeviceState::RemovePending : DeviceState::StopPending);
    Unlock();
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(irp);
  }

  case IRP_MN_CANCEL_STOP_DEVICE:
    return CancelStopOrRemove(irp, false);
  case IRP_MN_CANCEL_REMOVE_DEVICE:
    return CancelStopOrRemove(irp, true);

  case IRP_MN_STOP_DEVICE:
    Lock();
    OnStopDevice(irp);
    CancelPendingIrp();
    SetState(DeviceState::Stopped);
    Unlock();
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(irp);

  case IRP_MN_REMOVE_DEVICE:
    return RemoveDevice(irp);

  case IRP_MN_SURPRISE_REMOVAL:
    Lock();
    OnSurpriseRemoval(irp);
    OnSurpriseRemovalCleanup(irp);
    CancelPendingIrp();
    SetState(DeviceState::SurpriseRemoved);
    Unlock();
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(irp);

  case IRP_MN_QUERY_CAPABILITIES: {
    PDEVICE_CAPABILITIES capabilities = stack->Parameters.DeviceCapabilities.Capabilities;
    if (capabilities == nullptr) {
      return CompleteRequest(irp, STATUS_UNSUCCESSFUL, 0);
    }
    Lock();
    OnQueryCapabilities(capabilities);
    status = PassDownAndWait(irp);
    if (NT_SUCCESS(status)) {
      OnQueryCapabilitiesComplete(capabilities);
      RtlCopyMemory(&m_capabilities, capabilities, sizeof(m_capabilities));
    }
    Unlock();
    return CompleteRequest(irp, status, irp->IoStatus.Information);
  }

  case IRP_MN_QUERY_DEVICE_RELATIONS:
    return OnQueryDeviceRelations(irp);

  default:
    return PassDown(irp);
  }
}

// In the started state nothing was held back, so the request only passes; otherwise the lower
// devices cancel first and the device then returns to where it was before the query.
NTSTATUS LatencyDeviceBase::CancelStopOrRemove(PIRP irp, bool remove)
{
  irp->IoStatus.Status = STATUS_SUCCESS;
  Lock();
  if (m_state == DeviceState::Started) {
    Unlock();
    return PassDown(irp);
  }
  NTSTATUS status = PassDownAndWait(irp);
  if (remove) {
    OnCancelRemoveDevice(irp);
  } else {
    OnCancelStopDevice(irp);
  }
  SetState(m_previousState);
  Unlock();
  return CompleteRequest(irp, status, irp->IoStatus.Information);
}

NTSTATUS LatencyDeviceBase::RemoveDevice(PIRP irp)
{
  Lock();
  OnRemoveDevice(irp);
  OnRemoveDeviceCleanup(irp);
  CancelPendingIrp();
  SetState(DeviceState::Removed);
  irp->IoStatus.Status = STATUS_SUCCESS;
  NTSTATUS status = PassDown(irp);
  if (m_lowerDevice != nullptr) {
    IoDetachDevice(m_lowerDevice);
    m_lowerDevice = nullptr;
  }
  PDEVICE_OBJECT deviceObject = m_deviceObject;
  m_deviceObject = nullptr;
  Unlock();
  if (deviceObject != nullptr) {
    *static_cast<LatencyDeviceBase**>(deviceObject->DeviceExtension) = nullptr;
    IoDeleteDevice(deviceObject);
  }
  delete this;
  return status;
}

NTSTATUS LatencyDeviceBase::OnPower(PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
  case IRP_MN_SET_POWER:
  case IRP_MN_QUERY_POWER:
    if (stack->Parameters.Power.Type == SystemPowerState) {
      return PassDownSystemPower(irp);
    }
    return HandleDevicePower(irp);
  case IRP_MN_WAIT_WAKE:
    return OnWaitWake(irp);
  default:
    return PassDownPower(irp);
  }
}

NTSTATUS LatencyDeviceBase::PassDownPower(PIRP irp)
{
  PoStartNextPowerIrp(irp);
  if (m_lowerDevice == nullptr) {
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(m_lowerDevice, irp);
}

// A system power request goes down first; on its way back up the device asks for the
// matching device power request and completes the system request once that one is done.
NTSTATUS LatencyDeviceBase::PassDownSystemPower(PIRP irp)
{
  if (m_lowerDevice == nullptr) {
    return PassDownPower(irp);
  }
  IoMarkIrpPending(irp);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SystemPowerDone, this, TRUE, TRUE, TRUE);
  PoCallDriver(m_lowerDevice, irp);
  return STATUS_PENDING;
}

NTSTATUS NTAPI LatencyDeviceBase::SystemPowerDone(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
  auto* self = static_cast<LatencyDeviceBase*>(context);
  if (!NT_SUCCESS(irp->IoStatus.Status)) {
    PoStartNextPowerIrp(irp);
    return STATUS_CONTINUE_COMPLETION;
  }
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  POWER_STATE state;
  state.DeviceState = stack->Parameters.Power.State.SystemState == PowerSystemWorking
                          ? PowerDeviceD0
                          : PowerDeviceD3;
  NTSTATUS status = PoRequestPowerIrp(self->m_deviceObject, stack->MinorFunction, state,
                                      DevicePowerDone, irp, nullptr);
  if (!NT_SUCCESS(status)) {
    irp->IoStatus.Status = status;
    PoStartNextPowerIrp(irp);
    return STATUS_CONTINUE_COMPLETION;
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

VOID NTAPI LatencyDeviceBase::DevicePowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context,
                                              PIO_STATUS_BLOCK ioStatus)
{
  PIRP systemIrp = static_cast<PIRP>(context);
  systemIrp->IoStatus.Status = ioStatus->Status;
  PoStartNextPowerIrp(systemIrp);
  IoCompleteRequest(systemIrp, IO_NO_INCREMENT);
}

NTSTATUS LatencyDeviceBase::HandleDevicePower(PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
  const bool set = stack->MinorFunction == IRP_MN_SET_POWER;
  Lock();
  NTSTATUS status = set ? OnSetDevicePower(state) : OnQueryDevicePower(state);
  if (NT_SUCCESS(status) && set) {
    m_devicePowerState = state;
  }
  Unlock();
  if (!NT_SUCCESS(status)) {
    PoStartNextPowerIrp(irp);
    return CompleteRequest(irp, status, 0);
  }
  return PassDownPower(irp);
}

NTSTATUS LatencyDeviceBase::OnStartDevice(PIRP)
{
  return STATUS_SUCCESS;
}

NTSTATUS LatencyDeviceBase::OnQueryStopDevice(PIRP)
{
  return STATUS_SUCCESS;
}

void LatencyDeviceBase::OnCancelStopDevice(PIRP)
{
}

void LatencyDeviceBase::OnStopDevice(PIRP)
{
}

NTSTATUS LatencyDeviceBase::OnQueryRemoveDevice(PIRP)
{
  return STATUS_SUCCESS;
}

void LatencyDeviceBase::OnCancelRemoveDevice(PIRP)
{
}

void LatencyDeviceBase::OnRemoveDevice(PIRP)
{
}

void LatencyDeviceBase::OnRemoveDeviceCleanup(PIRP)
{
}

void LatencyDeviceBase::OnSurpriseRemoval(PIRP)
{
}

void LatencyDeviceBase::OnSurpriseRemovalCleanup(PIRP)
{
}

void LatencyDeviceBase::OnQueryCapabilities(PDEVICE_CAPABILITIES)
{
}

void LatencyDeviceBase::OnQueryCapabilitiesComplete(PDEVICE_CAPABILITIES)
{
}

NTSTATUS LatencyDeviceBase::OnQueryDeviceRelations(PIRP irp)
{
  return PassDown(irp);
}

NTSTATUS LatencyDeviceBase::OnSetDevicePower(DEVICE_POWER_STATE)
{
  return STATUS_SUCCESS;
}

NTSTATUS LatencyDeviceBase::OnQueryDevicePower(DEVICE_POWER_STATE)
{
  return STATUS_SUCCESS;
}

NTSTATUS LatencyDeviceBase::OnWaitWake(PIRP irp)
{
  return PassDownPower(irp);
}
