// Stand-in for the Windows 1394 bus driver: creates the bus devices \\.\1394BUS0 to
// \\.\1394BUS<N-1>, answers the API request with a status that the test chose and keeps
// a record of the last request for the test to read back through \\.\Sim1394Control.

#include <ntddk.h>

#include "sim1394bus_control.h"

namespace {

enum class DeviceRole : ULONG { Bus, Control };

struct DeviceExtension {
  DeviceRole role;
  ULONG bus;
  UNICODE_STRING link;
  WCHAR linkBuffer[64];
};

struct SimState {
  KSPIN_LOCK lock;
  NTSTATUS answer;
  Sim1394Record record;
};

SimState g_state;

ULONG ReadBusCount(PUNICODE_STRING registryPath)
{
  ULONG count = 1;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  HANDLE key;
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
    return count;
  }
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"" SIM1394_BUS_COUNT_VALUE);
  struct {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR room[sizeof(ULONG)];
  } value;
  ULONG got = 0;
  NTSTATUS status =
      ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof(value), &got);
  if (NT_SUCCESS(status) && value.info.Type == REG_DWORD &&
      value.info.DataLength == sizeof(ULONG)) {
    RtlCopyMemory(&count, value.info.Data, sizeof(ULONG));
  }
  ZwClose(key);
  return count > SIM1394_MAX_BUSES ? SIM1394_MAX_BUSES : count;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS BusRequest(DeviceExtension* ext, PIRP irp, PIO_STACK_LOCATION stack)
{
  const auto& params = stack->Parameters.DeviceIoControl;
  if (params.IoControlCode != SIM1394_IOCTL_API_REQUEST) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  KIRQL irql;
  KeAcquireSpinLock(&g_state.lock, &irql);
  Sim1394Record& r = g_state.record;
  r.requestCount++;
  r.bus = ext->bus;
  r.inputLength = params.InputBufferLength;
  r.outputLength = params.OutputBufferLength;
  RtlZeroMemory(r.input, sizeof(r.input));
  ULONG copy =
      params.InputBufferLength < sizeof(r.input) ? params.InputBufferLength : sizeof(r.input);
  if (copy != 0 && irp->AssociatedIrp.SystemBuffer != nullptr) {
    RtlCopyMemory(r.input, irp->AssociatedIrp.SystemBuffer, copy);
  }
  NTSTATUS answer = g_state.answer;
  KeReleaseSpinLock(&g_state.lock, irql);
  return Complete(irp, answer, 0);
}

NTSTATUS ControlRequest(PIRP irp, PIO_STACK_LOCATION stack)
{
  const auto& params = stack->Parameters.DeviceIoControl;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  KIRQL irql;
  switch (params.IoControlCode) {
  case IOCTL_SIM1394_SET_RESULT:
    if (params.InputBufferLength != sizeof(LONG)) {
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    KeAcquireSpinLock(&g_state.lock, &irql);
    RtlCopyMemory(&g_state.answer, buffer, sizeof(LONG));
    KeReleaseSpinLock(&g_state.lock, irql);
    return Complete(irp, STATUS_SUCCESS, 0);
  case IOCTL_SIM1394_GET_RECORD:
    if (params.OutputBufferLength < sizeof(Sim1394Record)) {
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    KeAcquireSpinLock(&g_state.lock, &irql);
    RtlCopyMemory(buffer, &g_state.record, sizeof(Sim1394Record));
    KeReleaseSpinLock(&g_state.lock, irql);
    return Complete(irp, STATUS_SUCCESS, sizeof(Sim1394Record));
  case IOCTL_SIM1394_RESET:
    KeAcquireSpinLock(&g_state.lock, &irql);
    RtlZeroMemory(&g_state.record, sizeof(g_state.record));
    g_state.answer = STATUS_SUCCESS;
    KeReleaseSpinLock(&g_state.lock, irql);
    return Complete(irp, STATUS_SUCCESS, 0);
  default:
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
  auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  return ext->role == DeviceRole::Bus ? BusRequest(ext, irp, stack) : ControlRequest(irp, stack);
}

void DriverUnload(PDRIVER_OBJECT driver)
{
  PDEVICE_OBJECT device = driver->DeviceObject;
  while (device != nullptr) {
    PDEVICE_OBJECT next = device->NextDevice;
    auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
    IoDeleteSymbolicLink(&ext->link);
    IoDeleteDevice(device);
    device = next;
  }
}

// Writes base, followed by the bus number for a bus device, into name.
NTSTATUS FormatName(PUNICODE_STRING name, PCWSTR base, DeviceRole role, ULONG bus)
{
  name->Length = 0;
  NTSTATUS status = RtlAppendUnicodeToString(name, base);
  if (NT_SUCCESS(status) && role == DeviceRole::Bus) {
    WCHAR digits[12];
    UNICODE_STRING number = {0, sizeof(digits), digits};
    status = RtlIntegerToUnicodeString(bus, 10, &number);
    if (NT_SUCCESS(status)) {
      status = RtlAppendUnicodeStringToString(name, &number);
    }
  }
  return status;
}

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, DeviceRole role, ULONG bus)
{
  WCHAR nameBuffer[64];
  UNICODE_STRING name = {0, sizeof(nameBuffer), nameBuffer};
  NTSTATUS status = FormatName(
      &name, role == DeviceRole::Bus ? L"\\Device\\Sim1394Bus" : L"\\Device\\Sim1394Control", role,
      bus);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  PDEVICE_OBJECT device;
  status = IoCreateDevice(driver, sizeof(DeviceExtension), &name,
                          role == DeviceRole::Bus ? FILE_DEVICE_BUS_EXTENDER : SIM1394_FILE_DEVICE,
                          0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
  ext->role = role;
  ext->bus = bus;
  ext->link = {0, sizeof(ext->linkBuffer), ext->linkBuffer};
  status = FormatName(&ext->link,
                      role == DeviceRole::Bus ? L"\\DosDevices\\1394BUS"
                                              : L"\\DosDevices\\Sim1394Control",
                      role, bus);
  if (NT_SUCCESS(status)) {
    status = IoCreateSymbolicLink(&ext->link, &name);
  }
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
  KeInitializeSpinLock(&g_state.lock);
  g_state.answer = STATUS_SUCCESS;
  RtlZeroMemory(&g_state.record, sizeof(g_state.record));

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  driver->DriverUnload = DriverUnload;

  NTSTATUS status = CreateDevice(driver, DeviceRole::Control, 0);
  const ULONG buses = ReadBusCount(registryPath);
  for (ULONG bus = 0; NT_SUCCESS(status) && bus < buses; bus++) {
    status = CreateDevice(driver, DeviceRole::Bus, bus);
  }
  if (!NT_SUCCESS(status)) {
    DriverUnload(driver);
  }
  return status;
}
