// The measuring driver: a legacy driver with exactly one device.
#pragma once

#include "LatencyDriverBase.h"

class LatencyDevice;

class LatencyDriver : public LatencyDriverBase {
public:
  LatencyDriver();
  ~LatencyDriver() override;

  NTSTATUS Init(PUNICODE_STRING registryPath) override;
  void Unload(PDRIVER_OBJECT driverObject) override;

private:
  LatencyDevice* m_device = nullptr;
};
