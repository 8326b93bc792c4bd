// The driver side of the driver's small framework: one object per loaded driver.
#pragma once

#include <ntddk.h>

#include "PoolObject.h"

class LatencyDriverBase : public PoolObject {
public:
  LatencyDriverBase() = default;
  virtual ~LatencyDriverBase() = default;

  LatencyDriverBase(const LatencyDriverBase&) = delete;
  LatencyDriverBase& operator=(const LatencyDriverBase&) = delete;

  virtual NTSTATUS Init(PUNICODE_STRING registryPath);
  virtual void Unload(PDRIVER_OBJECT driverObject);
  virtual NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject);

  PDRIVER_OBJECT m_driverObject = nullptr;
  // A legacy driver creates its device itself: no Plug-and-Play, power or AddDevice entries.
  bool m_legacy = false;
};
