#include "LatencyDriverBase.h"

NTSTATUS LatencyDriverBase::Init(PUNICODE_STRING)
{
  return STATUS_SUCCESS;
}

void LatencyDriverBase::Unload(PDRIVER_OBJECT)
{
}

NTSTATUS LatencyDriverBase::AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT)
{
  return STATUS_UNSUCCESSFUL;
}
