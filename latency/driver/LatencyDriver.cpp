#include "LatencyDriver.h"

#include "LatencyDevice.h"

LatencyDriver::LatencyDriver()
{
  m_legacy = true;
}

LatencyDriver::~LatencyDriver()
{
  delete m_device;
}

NTSTATUS LatencyDriver::Init(PUNICODE_STRING)
{
  if (m_device != nullptr) {
    return STATUS_UNSUCCESSFUL;
  }
  LatencyDevice* device = new LatencyDevice();
  if (device == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = device->CreateDeviceObject(m_driverObject);
  if (!NT_SUCCESS(status)) {
    delete device;
    return status;
  }
  m_device = device;
  return STATUS_SUCCESS;
}

void LatencyDriver::Unload(PDRIVER_OBJECT)
{
  delete m_device;
  m_device = nullptr;
}
