// The driver's entry points: each request goes to the framework object of its device.
#include <ntddk.h>

#include "ErrorLog.h"
#include "LatencyDeviceBase.h"
#include "LatencyDriver.h"

namespace {

LatencyDriverBase* g_driver;

#ifdef LATENCY_POOL_REPORT
// The soak test's image writes the number of its blocks still allocated after unload into
// its service key, as "PoolBlocksAtUnload".
WCHAR g_registryPath[256];

void SaveRegistryPath(PUNICODE_STRING registryPath)
{
  USHORT bytes = registryPath->Length;
  if (bytes > sizeof(g_registryPath) - sizeof(WCHAR)) {
    bytes = sizeof(g_registryPath) - sizeof(WCHAR);
  }
  RtlCopyMemory(g_registryPath, registryPath->Buffer, bytes);
  g_registryPath[bytes / sizeof(WCHAR)] = 0;
}

void ReportPoolAtUnload()
{
  ULONG live = ULONG(LiveDriverPoolBlocks());
  RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, g_registryPath, L"PoolBlocksAtUnload", REG_DWORD,
                        &live, sizeof(live));
}
#endif

LatencyDeviceBase* DeviceOf(PDEVICE_OBJECT deviceObject)
{
  return LatencyDeviceBase::FromDeviceObject(deviceObject);
}

NTSTATUS NoSuchDevice(PIRP irp)
{
  return LatencyDeviceBase::CompleteRequest(irp, STATUS_NO_SUCH_DEVICE, 0);
}

#define LATENCY_DISPATCH(name, operation)                                                          \
  NTSTATUS NTAPI name(PDEVICE_OBJECT deviceObject, PIRP irp)                                       \
  {                                                                                                \
    LatencyDeviceBase* device = DeviceOf(deviceObject);                                            \
    return device != nullptr ? device->operation(irp) : NoSuchDevice(irp);                         \
  }

LATENCY_DISPATCH(DispatchCreate, OnCreate)
LATENCY_DISPATCH(DispatchClose, OnClose)
LATENCY_DISPATCH(DispatchCleanup, OnCleanup)
LATENCY_DISPATCH(DispatchRead, OnRead)
LATENCY_DISPATCH(DispatchWrite, OnWrite)
LATENCY_DISPATCH(DispatchDeviceControl, OnDeviceControl)
LATENCY_DISPATCH(DispatchInternalDeviceControl, OnInternalDeviceControl)
LATENCY_DISPATCH(DispatchSystemControl, OnSystemControl)
LATENCY_DISPATCH(DispatchPnp, OnPnp)
LATENCY_DISPATCH(DispatchPower, OnPower)

#undef LATENCY_DISPATCH

NTSTATUS NTAPI DispatchAddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject)
{
  return g_driver->AddDevice(driverObject, physicalDeviceObject);
}

VOID NTAPI DriverUnload(PDRIVER_OBJECT driverObject)
{
  if (g_driver != nullptr) {
    g_driver->Unload(driverObject);
    delete g_driver;
    g_driver = nullptr;
  }
#ifdef LATENCY_POOL_REPORT
  ReportPoolAtUnload();
#endif
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
#ifdef LATENCY_POOL_REPORT
  SaveRegistryPath(registryPath);
#endif
  LatencyDriver* driver = new LatencyDriver();
  if (driver == nullptr) {
    WriteErrorLogEntry(driverObject, 2, L"Insufficient memory.", 0, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_UNSUCCESSFUL;
  }
  driver->m_driverObject = driverObject;
  NTSTATUS status = driver->Init(registryPath);
  if (!NT_SUCCESS(status)) {
    delete driver;
    return status;
  }
  g_driver = driver;

  driverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driverObject->MajorFunction[IRP_MJ_READ] = DispatchRead;
  driverObject->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
  driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  driverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
  driverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
  if (!driver->m_legacy) {
    driverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driverObject->DriverExtension->AddDevice = DispatchAddDevice;
  }
  driverObject->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;
}
