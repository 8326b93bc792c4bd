#include "QuietKernel.h"

#include <ntddk.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "LatencyProtocol.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

namespace {

LONGLONG g_counter = 1;
PKDPC g_armed = nullptr;
size_t g_completed = 0;
DRIVER_OBJECT g_driver;
DRIVER_EXTENSION g_extension;
PDEVICE_OBJECT g_device = nullptr;

// An IRP with one stack location and its buffer.
struct Request {
  std::vector<unsigned char> storage =
      std::vector<unsigned char>(sizeof(IRP) + sizeof(IO_STACK_LOCATION));
  std::vector<unsigned char> buffer;
  MDL mdl = {};
  PIRP irp() { return reinterpret_cast<PIRP>(storage.data()); }
  PIO_STACK_LOCATION stack() { return reinterpret_cast<PIO_STACK_LOCATION>(irp() + 1); }
  Request()
  {
    irp()->StackCount = 1;
    irp()->CurrentLocation = 2;
    irp()->Tail.Overlay.CurrentStackLocation = stack() + 1;
  }
};
std::vector<std::unique_ptr<Request>> g_requests;

NTSTATUS Send(Request& request)
{
  return IofCallDriver(g_device, request.irp());
}

} // namespace

namespace quiet {

void Load()
{
  g_driver.DriverExtension = &g_extension;
  UNICODE_STRING path = {};
  DriverEntry(&g_driver, &path);
}

uint32_t Start(uint32_t period)
{
  auto request = std::make_unique<Request>();
  request->buffer.resize(4);
  std::memcpy(request->buffer.data(), &period, 4);
  request->irp()->AssociatedIrp.SystemBuffer = request->buffer.data();
  PIO_STACK_LOCATION stack = request->stack();
  stack->MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_LATENCY_START;
  stack->Parameters.DeviceIoControl.InputBufferLength = 4;
  stack->Parameters.DeviceIoControl.OutputBufferLength = 4;
  Send(*request);
  uint32_t answer;
  std::memcpy(&answer, request->buffer.data(), 4);
  return answer;
}

void QueueRead(size_t bytes)
{
  auto request = std::make_unique<Request>();
  request->buffer.resize(bytes);
  request->mdl.ByteCount = ULONG(bytes);
  request->mdl.MdlFlags = MDL_SOURCE_IS_NONPAGED_POOL;
  request->mdl.MappedSystemVa = request->buffer.data();
  request->irp()->MdlAddress = &request->mdl;
  request->stack()->MajorFunction = IRP_MJ_READ;
  request->stack()->Parameters.Read.Length = ULONG(bytes);
  Send(*request);
  g_requests.push_back(std::move(request));
}

void Expire(int64_t ticks)
{
  g_counter += ticks;
  PKDPC dpc = g_armed;
  g_armed = nullptr;
  dpc->DeferredRoutine(dpc, dpc->DeferredContext, nullptr, nullptr);
}

size_t CompletedReads()
{
  return g_completed;
}

void Unload()
{
  g_driver.DriverUnload(&g_driver);
  g_requests.clear();
}

} // namespace quiet

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE, SIZE_T size, ULONG)
{
  return std::malloc(size);
}
VOID NTAPI ExFreePoolWithTag(PVOID block, ULONG)
{
  std::free(block);
}
ULONG NTAPI ExSetTimerResolution(ULONG desired, BOOLEAN)
{
  return desired;
}
VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING s, PCWSTR text)
{
  s->Buffer = const_cast<PWSTR>(text);
  s->Length = 0;
  s->MaximumLength = 0;
}
NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extension, PUNICODE_STRING, DEVICE_TYPE,
                              ULONG, BOOLEAN, PDEVICE_OBJECT* device)
{
  auto* d = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT) + extension));
  d->DriverObject = driver;
  d->DeviceExtension = d + 1;
  *device = g_device = d;
  return STATUS_SUCCESS;
}
VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device)
{
  std::free(device);
}
NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING, PUNICODE_STRING)
{
  return STATUS_SUCCESS;
}
NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING)
{
  return STATUS_SUCCESS;
}
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID, ULONG, PACCESS_STATE, ACCESS_MASK, POBJECT_TYPE,
                                     KPROCESSOR_MODE, PHANDLE handle)
{
  *handle = reinterpret_cast<HANDLE>(4);
  return STATUS_SUCCESS;
}
NTSTATUS NTAPI ZwSetSecurityObject(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR)
{
  return STATUS_SUCCESS;
}
NTSTATUS NTAPI ZwClose(HANDLE)
{
  return STATUS_SUCCESS;
}
VOID NTAPI IoDetachDevice(PDEVICE_OBJECT)
{
}
NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
  irp->CurrentLocation--;
  irp->Tail.Overlay.CurrentStackLocation--;
  irp->Tail.Overlay.CurrentStackLocation->DeviceObject = device;
  return device->DriverObject->MajorFunction[irp->Tail.Overlay.CurrentStackLocation->MajorFunction](
      device, irp);
}
VOID FASTCALL IofCompleteRequest(PIRP, CCHAR)
{
  g_completed++;
}
VOID NTAPI IoReleaseCancelSpinLock(KIRQL)
{
}
BOOLEAN NTAPI IoCancelIrp(PIRP)
{
  return FALSE;
}
PVOID NTAPI IoAllocateErrorLogEntry(PVOID, UCHAR)
{
  return nullptr;
}
VOID NTAPI IoWriteErrorLogEntry(PVOID)
{
}
PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDLX mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID,
                                         ULONG, MM_PAGE_PRIORITY)
{
  return mdl->MappedSystemVa;
}
VOID NTAPI KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
  dpc->DeferredRoutine = routine;
  dpc->DeferredContext = context;
}
VOID NTAPI KeInitializeTimer(PKTIMER)
{
}
BOOLEAN NTAPI KeSetTimer(PKTIMER, LARGE_INTEGER, PKDPC dpc)
{
  g_armed = dpc;
  return FALSE;
}
BOOLEAN NTAPI KeCancelTimer(PKTIMER)
{
  return FALSE;
}
VOID NTAPI KeFlushQueuedDpcs(VOID)
{
}
LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER frequency)
{
  if (frequency != nullptr) {
    frequency->QuadPart = 10000000;
  }
  LARGE_INTEGER now;
  now.QuadPart = g_counter;
  return now;
}
// Uncontended spin locks cost one interlocked exchange each way, as on a real processor.
KIRQL FASTCALL KfAcquireSpinLock(PKSPIN_LOCK lock)
{
  while (InterlockedExchange(reinterpret_cast<volatile LONG*>(lock), 1) != 0) {
  }
  return PASSIVE_LEVEL;
}
VOID FASTCALL KfReleaseSpinLock(PKSPIN_LOCK lock, KIRQL)
{
  InterlockedExchange(reinterpret_cast<volatile LONG*>(lock), 0);
}
VOID FASTCALL KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock)
{
  KfAcquireSpinLock(lock);
}
VOID FASTCALL KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock)
{
  KfReleaseSpinLock(lock, PASSIVE_LEVEL);
}
VOID NTAPI KeInitializeMutex(PRKMUTEX, ULONG)
{
}
LONG NTAPI KeReleaseMutex(PRKMUTEX, BOOLEAN)
{
  return 0;
}
VOID NTAPI KeInitializeEvent(PRKEVENT, EVENT_TYPE, BOOLEAN)
{
}
LONG NTAPI KeSetEvent(PRKEVENT, KPRIORITY, BOOLEAN)
{
  return 0;
}
NTSTATUS NTAPI KeWaitForSingleObject(PVOID, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER)
{
  return STATUS_SUCCESS;
}
VOID NTAPI PoStartNextPowerIrp(PIRP)
{
}
NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
  return IofCallDriver(device, irp);
}
NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT, UCHAR, POWER_STATE, PREQUEST_POWER_COMPLETE, PVOID,
                                 PIRP*)
{
  return STATUS_UNSUCCESSFUL;
}

} // extern "C"
