// The device side of the driver's small framework. Every request that reaches a device object
// of the driver ends in one of the On... operations here. A Plug-and-Play function driver
// (one with a lower device) gets the Plug-and-Play and power handling below; a legacy
// driver's device never receives those requests.
#pragma once

#include <ntddk.h>

#include "PoolObject.h"

enum class DeviceState : ULONG {
  NotStarted = 1,
  Started = 2,
  StopPending = 3,
  Stopped = 4,
  RemovePending = 5,
  Removed = 6,
  SurpriseRemoved = 7,
};

class LatencyDeviceBase : public PoolObject {
public:
  LatencyDeviceBase();
  virtual ~LatencyDeviceBase();

  LatencyDeviceBase(const LatencyDeviceBase&) = delete;
  LatencyDeviceBase& operator=(const LatencyDeviceBase&) = delete;

  // Request operations. Unless a device overrides them they refuse the request with
  // STATUS_NOT_SUPPORTED; system control goes to the lower device.
  virtual NTSTATUS OnPnp(PIRP irp);
  virtual NTSTATUS OnPower(PIRP irp);
  virtual NTSTATUS OnSystemControl(PIRP irp);
  virtual NTSTATUS OnCreate(PIRP irp);
  virtual NTSTATUS OnCleanup(PIRP irp);
  virtual NTSTATUS OnClose(PIRP irp);
  virtual NTSTATUS OnRead(PIRP irp);
  virtual NTSTATUS OnWrite(PIRP irp);
  virtual NTSTATUS OnDeviceControl(PIRP irp);
  virtual NTSTATUS OnInternalDeviceControl(PIRP irp);

  // Serialise the device's requests; every device supplies them.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

  DeviceState State() const { return m_state; }
  DEVICE_POWER_STATE DevicePowerState() const { return m_devicePowerState; }
  const DEVICE_CAPABILITIES& Capabilities() const { return m_capabilities; }

  // The framework object behind a device object of the driver, or null.
  static LatencyDeviceBase* FromDeviceObject(PDEVICE_OBJECT deviceObject);

  static NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information);

protected:
  // Plug-and-Play hooks; the defaults accept and do nothing.
  virtual NTSTATUS OnStartDevice(PIRP irp);
  virtual NTSTATUS OnQueryStopDevice(PIRP irp);
  virtual void OnCancelStopDevice(PIRP irp);
  virtual void OnStopDevice(PIRP irp);
  virtual NTSTATUS OnQueryRemoveDevice(PIRP irp);
  virtual void OnCancelRemoveDevice(PIRP irp);
  virtual void OnRemoveDevice(PIRP irp);
  virtual void OnRemoveDeviceCleanup(PIRP irp);
  virtual void OnSurpriseRemoval(PIRP irp);
  virtual void OnSurpriseRemovalCleanup(PIRP irp);
  virtual void OnQueryCapabilities(PDEVICE_CAPABILITIES capabilities);
  virtual void OnQueryCapabilitiesComplete(PDEVICE_CAPABILITIES capabilities);
  virtual NTSTATUS OnQueryDeviceRelations(PIRP irp);
  // Power hooks.
  virtual NTSTATUS OnSetDevicePower(DEVICE_POWER_STATE state);
  virtual NTSTATUS OnQueryDevicePower(DEVICE_POWER_STATE state);
  virtual NTSTATUS OnWaitWake(PIRP irp);

  // Makes the device object's extension point at this object.
  void AttachDeviceObject(PDEVICE_OBJECT deviceObject);
  NTSTATUS PassDown(PIRP irp);
  NTSTATUS PassDownAndWait(PIRP irp);
  NTSTATUS PassDownPower(PIRP irp);

  PDEVICE_OBJECT m_deviceObject = nullptr;
  PDEVICE_OBJECT m_lowerDevice = nullptr;
  DEVICE_CAPABILITIES m_capabilities;
  DeviceState m_state = DeviceState::NotStarted;
  DeviceState m_previousState = DeviceState::NotStarted;
  DEVICE_POWER_STATE m_devicePowerState = PowerDeviceUnspecified;
  // A request the device sent down itself and may have to cancel.
  PIRP m_pendingIrp = nullptr;

private:
  void SetState(DeviceState state);
  void CancelPendingIrp();
  NTSTATUS PassDownSystemPower(PIRP irp);
  NTSTATUS HandleDevicePower(PIRP irp);
  NTSTATUS CancelStopOrRemove(PIRP irp, bool remove);
  NTSTATUS RemoveDevice(PIRP irp);

  static IO_COMPLETION_ROUTINE SignalLowerDone;
  static IO_COMPLETION_ROUTINE SystemPowerDone;
  static REQUEST_POWER_COMPLETE DevicePowerDone;
};
