// The host's calls into Wine's kernel. Wine's ntoskrnl.exe is a library that any process can
// load: this one is the driver's host as winedevice.exe would be, so that the device object
// that the driver creates is reachable through the kernel's own routines.
#include "KernelSide.h"

#include <ntifs.h>

extern "C" {
// Exported by the kernel, but in no header of the kit.
NTKERNELAPI NTSTATUS NTAPI IoCreateDriver(PUNICODE_STRING name, PDRIVER_INITIALIZE initialize);
NTKERNELAPI VOID NTAPI IoDeleteDriver(PDRIVER_OBJECT driverObject);
__declspec(dllimport) extern POBJECT_TYPE IoDeviceObjectType;
}

namespace {

PDRIVER_INITIALIZE g_entryPoint;
PDRIVER_OBJECT g_driverObject;

NTSTATUS NTAPI Initialize(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
  g_driverObject = driverObject;
  return g_entryPoint(driverObject, registryPath);
}

} // namespace

namespace host {

long LoadDriver(void* entryPoint, const wchar_t* driverName)
{
  g_entryPoint = reinterpret_cast<PDRIVER_INITIALIZE>(entryPoint);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, driverName);
  NTSTATUS status = IoCreateDriver(&name, Initialize);
  if (!NT_SUCCESS(status)) {
    g_driverObject = nullptr; // the kernel has deleted the driver object again
  }
  return status;
}

long OpenDeviceObject(unsigned long access, void** handle)
{
  if (g_driverObject == nullptr || g_driverObject->DeviceObject == nullptr) {
    return STATUS_NO_SUCH_DEVICE;
  }
  HANDLE opened;
  NTSTATUS status = ObOpenObjectByPointer(g_driverObject->DeviceObject, 0, nullptr, access,
                                          IoDeviceObjectType, KernelMode, &opened);
  if (NT_SUCCESS(status)) {
    *handle = opened;
  }
  return status;
}

void UnloadDriver()
{
  if (g_driverObject == nullptr) {
    return;
  }
  if (g_driverObject->DriverUnload != nullptr) {
    g_driverObject->DriverUnload(g_driverObject);
  }
  IoDeleteDriver(g_driverObject);
  g_driverObject = nullptr;
}

} // namespace host
