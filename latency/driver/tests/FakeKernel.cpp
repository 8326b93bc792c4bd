#include "FakeKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>

namespace fake {
namespace {

struct TimerState {
  bool inserted = false;
  // Wine 8 clears this only in KeCancelTimer, never when the timer fires.
  bool wineInserted = false;
  LONGLONG dueTime = 0;
  PKDPC dpc = nullptr;
};

struct Completion {
  NTSTATUS status;
  ULONG_PTR information;
};

struct PowerRequest {
  std::unique_ptr<Irp> irp;
  PDEVICE_OBJECT device;
  UCHAR minor;
  POWER_STATE state;
  PREQUEST_POWER_COMPLETE done;
  PVOID context;
};

struct HandleTarget {
  PDEVICE_OBJECT device;
  ACCESS_MASK access;
};

struct DeviceStorage {
  std::vector<unsigned char> bytes;
  DeviceRecord record;
};

struct State {
  Kernel kernel;
  std::map<void*, std::pair<SIZE_T, ULONG>> pool;
  std::map<PDEVICE_OBJECT, DeviceStorage> devices;
  std::map<std::wstring, std::wstring> links;
  std::map<HANDLE, HandleTarget> handles;
  uintptr_t lastHandle = 0;
  std::map<PKTIMER, TimerState> timers;
  PKTIMER firing = nullptr;
  std::map<PIRP, Completion> completions;
  std::set<PIRP> dispatched;
  std::map<PIRP, PowerRequest> powerRequests;
  std::map<void*, std::vector<uint8_t>> errorLogEntries;
  std::map<PKMUTEX, int> mutexDepth;
  std::map<PDEVICE_OBJECT, int> detaches;
  std::map<PDEVICE_OBJECT, LowerDevice*> lowerDevices;
  KIRQL irql = PASSIVE_LEVEL;
  std::vector<void*> heldLocks;
  std::set<std::pair<void*, void*>> lockOrder;
  PIRP deferredCancel = nullptr;
  PDRIVER_CANCEL deferredRoutine = nullptr;
};

State& state()
{
  static State s;
  return s;
}

// The dispatcher header type of a mutex.
const UCHAR mutantObject = 2;

// The system's cancel spin lock, as a lock identity.
char cancelLock;

void AcquireLock(void* lock)
{
  State& s = state();
  for (void* held : s.heldLocks) {
    if (held == lock) {
      ADD_FAILURE() << "spin lock acquired while already held: the processor would deadlock";
      continue;
    }
    if (s.lockOrder.count({lock, held}) != 0) {
      ADD_FAILURE() << "two spin locks taken in both orders: processors can deadlock";
    }
    s.lockOrder.insert({held, lock});
  }
  s.heldLocks.push_back(lock);
}

void ReleaseLock(void* lock)
{
  State& s = state();
  for (auto it = s.heldLocks.begin(); it != s.heldLocks.end(); ++it) {
    if (*it == lock) {
      s.heldLocks.erase(it);
      return;
    }
  }
  ADD_FAILURE() << "spin lock released that was not held";
}

void ExpectMayWait(const char* what)
{
  State& s = state();
  if (s.irql >= DISPATCH_LEVEL || !s.heldLocks.empty()) {
    ADD_FAILURE() << what << " at DISPATCH_LEVEL or with a spin lock held";
  }
}

PIO_STACK_LOCATION CurrentStack(PIRP irp)
{
  return irp->Tail.Overlay.CurrentStackLocation;
}

bool ShouldInvoke(UCHAR control, const IO_STATUS_BLOCK& status, BOOLEAN cancelled)
{
  if (cancelled && (control & SL_INVOKE_ON_CANCEL)) {
    return true;
  }
  return NT_SUCCESS(status.Status) ? (control & SL_INVOKE_ON_SUCCESS) != 0
                                   : (control & SL_INVOKE_ON_ERROR) != 0;
}

} // namespace

Kernel& kernel()
{
  return state().kernel;
}

void Reset()
{
  State& s = state();
  for (auto& entry : s.pool) {
    std::free(entry.first);
  }
  s.powerRequests.clear();
  s.pool.clear();
  s.devices.clear();
  s.links.clear();
  s.handles.clear();
  s.timers.clear();
  s.firing = nullptr;
  s.completions.clear();
  s.dispatched.clear();
  s.errorLogEntries.clear();
  s.mutexDepth.clear();
  s.detaches.clear();
  s.irql = PASSIVE_LEVEL;
  s.heldLocks.clear();
  s.lockOrder.clear();
  s.deferredCancel = nullptr;
  s.deferredRoutine = nullptr;
  s.kernel = Kernel();
}

// --- IRPs ---------------------------------------------------------------------------------

Irp::Irp(CCHAR stackCount)
    : storage_(sizeof(IRP) + stackCount * sizeof(IO_STACK_LOCATION)),
      irp_(reinterpret_cast<PIRP>(storage_.data())), index_(stackCount - 1), mdl_()
{
  irp_->Type = IO_TYPE_IRP;
  irp_->Size = USHORT(storage_.size());
  irp_->StackCount = stackCount;
  irp_->CurrentLocation = CCHAR(stackCount + 1);
  irp_->Tail.Overlay.CurrentStackLocation =
      reinterpret_cast<PIO_STACK_LOCATION>(irp_ + 1) + stackCount;
  // What the I/O manager puts into every new request; Plug-and-Play relies on it.
  irp_->IoStatus.Status = STATUS_NOT_SUPPORTED;
}

Irp::~Irp()
{
  state().completions.erase(irp_);
  state().dispatched.erase(irp_);
}

std::unique_ptr<Irp> Irp::DeviceControl(ULONG code, const void* input, ULONG inputLength,
                                        ULONG outputLength)
{
  auto irp = std::make_unique<Irp>();
  irp->buffer_.assign(std::max(inputLength, outputLength), 0);
  if (inputLength != 0) {
    std::memcpy(irp->buffer_.data(), input, inputLength);
  }
  irp->irp_->AssociatedIrp.SystemBuffer = irp->buffer_.empty() ? nullptr : irp->buffer_.data();
  PIO_STACK_LOCATION stack = irp->next();
  stack->MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack->Parameters.DeviceIoControl.IoControlCode = code;
  stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  return irp;
}

std::unique_ptr<Irp> Irp::Read(ULONG length, bool withMdl, bool mapped)
{
  auto irp = std::make_unique<Irp>();
  irp->buffer_.assign(length, 0xEE);
  if (withMdl) {
    irp->mdl_.Size = sizeof(MDL);
    irp->mdl_.ByteCount = length;
    irp->mdl_.MdlFlags = mapped ? MDL_SOURCE_IS_NONPAGED_POOL : 0;
    irp->mdl_.MappedSystemVa = irp->buffer_.data();
    irp->irp_->MdlAddress = &irp->mdl_;
  }
  PIO_STACK_LOCATION stack = irp->next();
  stack->MajorFunction = IRP_MJ_READ;
  stack->Parameters.Read.Length = length;
  return irp;
}

std::unique_ptr<Irp> Irp::Major(UCHAR major, UCHAR minor)
{
  auto irp = std::make_unique<Irp>(2);
  irp->next()->MajorFunction = major;
  irp->next()->MinorFunction = minor;
  return irp;
}

bool Irp::completed() const
{
  return state().completions.count(irp_) != 0;
}

NTSTATUS Irp::status() const
{
  auto it = state().completions.find(irp_);
  return it == state().completions.end() ? STATUS_PENDING : it->second.status;
}

ULONG_PTR Irp::information() const
{
  auto it = state().completions.find(irp_);
  return it == state().completions.end() ? 0 : it->second.information;
}

std::vector<uint32_t> Irp::intervals() const
{
  std::vector<uint32_t> values(information() / sizeof(uint32_t));
  std::memcpy(values.data(), buffer_.data(), values.size() * sizeof(uint32_t));
  return values;
}

std::wstring ErrorLogEntry::text() const
{
  const auto* start = reinterpret_cast<const wchar_t*>(bytes.data() + packet().StringOffset);
  const size_t room = (bytes.size() - packet().StringOffset) / sizeof(wchar_t);
  return std::wstring(start, wcsnlen(start, room));
}

NTSTATUS Send(PDEVICE_OBJECT device, Irp& irp)
{
  return IofCallDriver(device, irp.get());
}

void Cancel(Irp& irp, bool deferRoutine)
{
  if (!deferRoutine) {
    IoCancelIrp(irp.get());
    return;
  }
  State& s = state();
  PIRP target = irp.get();
  target->Cancel = TRUE;
  s.deferredRoutine = reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
      reinterpret_cast<PVOID volatile*>(&target->CancelRoutine), nullptr));
  s.deferredCancel = s.deferredRoutine != nullptr ? target : nullptr;
}

void RunDeferredCancel()
{
  State& s = state();
  ASSERT_NE(s.deferredCancel, nullptr) << "no cancel routine was started";
  PIRP irp = s.deferredCancel;
  PDRIVER_CANCEL routine = s.deferredRoutine;
  s.deferredCancel = nullptr;
  s.deferredRoutine = nullptr;
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  irp->CancelIrql = irql;
  routine(CurrentStack(irp)->DeviceObject, irp);
}

// --- Timers -------------------------------------------------------------------------------

ArmedTimer Armed()
{
  ArmedTimer armed;
  int count = 0;
  for (auto& entry : state().timers) {
    if (entry.second.inserted) {
      armed = {entry.first, entry.second.dueTime, entry.second.dpc};
      count++;
    }
  }
  EXPECT_EQ(count, 1) << "armed timers";
  return count == 1 ? armed : ArmedTimer();
}

int ArmedCount()
{
  int count = 0;
  for (auto& entry : state().timers) {
    count += entry.second.inserted ? 1 : 0;
  }
  return count;
}

void AdvanceClock(LONGLONG microseconds)
{
  Kernel& k = kernel();
  k.counter += microseconds * k.frequency / 1000000;
}

void Expire(ULONG intervalMicroseconds)
{
  State& s = state();
  ArmedTimer armed = Armed();
  if (armed.timer == nullptr) {
    return;
  }
  AdvanceClock(intervalMicroseconds);
  s.timers[armed.timer].inserted = false;
  s.firing = armed.timer;
  const KIRQL before = s.irql;
  s.irql = DISPATCH_LEVEL;
  PKDPC dpc = armed.dpc;
  dpc->DeferredRoutine(dpc, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2);
  if (!s.heldLocks.empty()) {
    ADD_FAILURE() << "the DPC returned with a spin lock held";
    s.heldLocks.clear();
  }
  s.irql = before;
  s.firing = nullptr;
}

// --- Devices ------------------------------------------------------------------------------

DriverObject::DriverObject()
{
  object.Type = IO_TYPE_DRIVER;
  object.Size = sizeof(object);
  object.DriverExtension = &extension;
  extension.DriverObject = &object;
  for (auto& function : object.MajorFunction) {
    function = InvalidDeviceRequest;
  }
  static wchar_t path[] =
      L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tamsin_driver";
  RtlInitUnicodeString(&registryPath, path);
}

NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp)
{
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

const DeviceRecord* Device(PDEVICE_OBJECT device)
{
  auto it = state().devices.find(device);
  return it == state().devices.end() ? nullptr : &it->second.record;
}

PDEVICE_OBJECT DeviceNamed(const std::wstring& name)
{
  for (auto& entry : state().devices) {
    if (entry.second.record.name == name) {
      return entry.first;
    }
  }
  return nullptr;
}

bool LinkExists(const std::wstring& link, const std::wstring& target)
{
  auto it = state().links.find(link);
  return it != state().links.end() && it->second == target;
}

int DeviceCount()
{
  return int(state().devices.size());
}

int LiveBlocks()
{
  return int(state().pool.size());
}

int LiveBlocksWithOtherTags(ULONG tag)
{
  int count = 0;
  for (auto& entry : state().pool) {
    count += entry.second.second != tag ? 1 : 0;
  }
  return count;
}

int PendingIrps()
{
  return int(state().dispatched.size());
}

int Detaches(PDEVICE_OBJECT target)
{
  return state().detaches[target];
}

namespace {

NTSTATUS NTAPI LowerDispatch(PDEVICE_OBJECT device, PIRP irp)
{
  LowerDevice* lower = state().lowerDevices[device];
  PIO_STACK_LOCATION stack = CurrentStack(irp);
  lower->seen.push_back({stack->MajorFunction, stack->MinorFunction});
  irp->IoStatus.Status = lower->answer;
  const NTSTATUS answer = lower->answer;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return answer;
}

} // namespace

LowerDevice::LowerDevice()
{
  driver.Type = IO_TYPE_DRIVER;
  for (auto& function : driver.MajorFunction) {
    function = LowerDispatch;
  }
  device.Type = IO_TYPE_DEVICE;
  device.DriverObject = &driver;
  device.StackSize = 1;
  state().lowerDevices[&device] = this;
}

void ExpectQuiet()
{
  State& s = state();
  EXPECT_TRUE(s.heldLocks.empty()) << "spin locks still held";
  EXPECT_EQ(s.irql, PASSIVE_LEVEL);
  for (auto& entry : s.mutexDepth) {
    EXPECT_EQ(entry.second, 0) << "a mutex is still held";
  }
  EXPECT_EQ(s.deferredCancel, nullptr) << "a started cancel routine never ran";
}

void ExpectNothingLeft()
{
  State& s = state();
  EXPECT_EQ(s.pool.size(), 0u) << "pool blocks left";
  EXPECT_EQ(s.devices.size(), 0u) << "device objects left";
  EXPECT_EQ(s.links.size(), 0u) << "symbolic links left";
  EXPECT_EQ(s.handles.size(), 0u) << "kernel handles left open";
  EXPECT_EQ(ArmedCount(), 0) << "timers left armed";
  EXPECT_EQ(s.dispatched.size(), 0u) << "requests never completed";
}

} // namespace fake

// --- The kernel's and the HAL's exports -----------------------------------------------------

using fake::state;

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T size, ULONG tag)
{
  fake::Kernel& k = fake::kernel();
  if (type != NonPagedPool) {
    ADD_FAILURE() << "allocation from pageable pool";
  }
  if (k.allocations++ == k.failAllocation) {
    return nullptr;
  }
  void* block = std::malloc(size);
  // Garbage, as the pool gives it: the driver must zero what it relies on.
  std::memset(block, 0xCD, size);
  state().pool[block] = {size, tag};
  return block;
}

VOID NTAPI ExFreePoolWithTag(PVOID block, ULONG tag)
{
  auto it = state().pool.find(block);
  if (it == state().pool.end()) {
    ADD_FAILURE() << "freeing a block that is not allocated";
    return;
  }
  EXPECT_EQ(it->second.second, tag) << "freed with another tag";
  state().pool.erase(it);
  std::free(block);
}

ULONG NTAPI ExSetTimerResolution(ULONG desired, BOOLEAN set)
{
  fake::Kernel& k = fake::kernel();
  k.resolutionCalls.push_back({desired, set});
  if (!set) {
    return 156250;
  }
  return k.grantedResolution != 0 ? k.grantedResolution : desired;
}

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source)
{
  const size_t units = source != nullptr ? wcslen(reinterpret_cast<const wchar_t*>(source)) : 0;
  destination->Length = USHORT(units * sizeof(WCHAR));
  destination->MaximumLength = USHORT(destination->Length + sizeof(WCHAR));
  destination->Buffer = const_cast<PWSTR>(source);
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PDEVICE_OBJECT* result)
{
  fake::Kernel& k = fake::kernel();
  if (!NT_SUCCESS(k.createDeviceResult)) {
    return k.createDeviceResult;
  }
  fake::DeviceStorage storage;
  storage.bytes.assign(sizeof(DEVICE_OBJECT) + extensionSize, 0);
  auto* device = reinterpret_cast<PDEVICE_OBJECT>(storage.bytes.data());
  device->Type = IO_TYPE_DEVICE;
  device->Size = USHORT(sizeof(DEVICE_OBJECT) + extensionSize);
  device->DriverObject = driver;
  device->DeviceExtension = extensionSize != 0 ? device + 1 : nullptr;
  device->DeviceType = type;
  device->Characteristics = characteristics;
  device->Flags = DO_DEVICE_INITIALIZING;
  device->StackSize = 1;
  device->NextDevice = driver->DeviceObject;
  driver->DeviceObject = device;
  storage.record.name = name != nullptr
                            ? std::wstring(reinterpret_cast<const wchar_t*>(name->Buffer),
                                           name->Length / sizeof(WCHAR))
                            : std::wstring();
  storage.record.extensionSize = extensionSize;
  storage.record.exclusive = exclusive;
  state().devices[device] = std::move(storage);
  *result = device;
  return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device)
{
  auto it = state().devices.find(device);
  if (it == state().devices.end()) {
    ADD_FAILURE() << "deleting a device object that does not exist";
    return;
  }
  for (PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject; *link != nullptr;
       link = &(*link)->NextDevice) {
    if (*link == device) {
      *link = device->NextDevice;
      break;
    }
  }
  state().devices.erase(it);
}

static std::wstring Text(PUNICODE_STRING s)
{
  return std::wstring(reinterpret_cast<const wchar_t*>(s->Buffer), s->Length / sizeof(WCHAR));
}

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target)
{
  fake::Kernel& k = fake::kernel();
  if (!NT_SUCCESS(k.createLinkResult)) {
    return k.createLinkResult;
  }
  if (state().links.count(Text(link)) != 0) {
    return STATUS_OBJECT_NAME_COLLISION;
  }
  state().links[Text(link)] = Text(target);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING link)
{
  if (state().links.erase(Text(link)) == 0) {
    ADD_FAILURE() << "deleting a symbolic link that does not exist";
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ObOpenObjectByPointer(PVOID object, ULONG attributes, PACCESS_STATE accessState,
                                     ACCESS_MASK access, POBJECT_TYPE type, KPROCESSOR_MODE mode,
                                     PHANDLE handle)
{
  fake::State& s = state();
  auto device = static_cast<PDEVICE_OBJECT>(object);
  if (s.devices.count(device) == 0) {
    ADD_FAILURE() << "a handle to an object that is not a device of the driver";
    return STATUS_INVALID_PARAMETER;
  }
  EXPECT_NE(attributes & OBJ_KERNEL_HANDLE, 0u) << "a handle the calling process could use";
  EXPECT_EQ(accessState, nullptr);
  EXPECT_EQ(type, nullptr);
  EXPECT_EQ(mode, KernelMode);
  fake::Kernel& k = fake::kernel();
  if (!NT_SUCCESS(k.openObjectResult)) {
    return k.openObjectResult;
  }
  *handle = reinterpret_cast<HANDLE>(++s.lastHandle * 4);
  s.handles[*handle] = {device, access};
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION parts,
                                   PSECURITY_DESCRIPTOR descriptor)
{
  fake::State& s = state();
  auto it = s.handles.find(handle);
  if (it == s.handles.end()) {
    ADD_FAILURE() << "setting security through a handle that is not open";
    return STATUS_INVALID_HANDLE;
  }
  if ((it->second.access & WRITE_DAC) == 0) {
    return STATUS_ACCESS_DENIED;
  }
  fake::Kernel& k = fake::kernel();
  if (!NT_SUCCESS(k.setSecurityResult)) {
    return k.setSecurityResult;
  }
  fake::DeviceRecord& record = s.devices[it->second.device].record;
  record.security = fake::SelfRelativeCopy(descriptor);
  if (record.security.empty()) {
    ADD_FAILURE() << "not a valid security descriptor";
    return STATUS_INVALID_SECURITY_DESCR;
  }
  record.securityInformation = parts;
  record.linkedWhenSecured = false;
  for (auto& link : s.links) {
    record.linkedWhenSecured |= link.second == record.name;
  }
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE handle)
{
  if (state().handles.erase(handle) == 0) {
    ADD_FAILURE() << "closing a handle that is not open";
    return STATUS_INVALID_HANDLE;
  }
  return fake::kernel().closeResult;
}

VOID NTAPI IoDetachDevice(PDEVICE_OBJECT target)
{
  state().detaches[target]++;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
  irp->CurrentLocation--;
  irp->Tail.Overlay.CurrentStackLocation--;
  if (irp->CurrentLocation <= 0) {
    ADD_FAILURE() << "request sent below its last stack location";
    return STATUS_INVALID_PARAMETER;
  }
  PIO_STACK_LOCATION stack = fake::CurrentStack(irp);
  stack->DeviceObject = device;
  state().dispatched.insert(irp);
  return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR)
{
  fake::State& s = state();
  if (irp->CancelRoutine != nullptr) {
    ADD_FAILURE() << "request completed with its cancel routine still set";
  }
  if (s.completions.count(irp) != 0) {
    ADD_FAILURE() << "request completed twice";
    return;
  }
  if (irp->IoStatus.Status == STATUS_PENDING) {
    ADD_FAILURE() << "request completed with STATUS_PENDING";
  }
  // Up the stack: each location's completion routine was set by the driver above it.
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = fake::CurrentStack(irp);
    irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    PVOID context = stack->Context;
    const UCHAR control = stack->Control;
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    PDEVICE_OBJECT upper =
        irp->CurrentLocation <= irp->StackCount ? fake::CurrentStack(irp)->DeviceObject : nullptr;
    if (routine != nullptr && fake::ShouldInvoke(control, irp->IoStatus, irp->Cancel)) {
      if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
        return;
      }
    } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
      IoMarkIrpPending(irp);
    }
  }
  s.completions[irp] = {irp->IoStatus.Status, irp->IoStatus.Information};
  s.dispatched.erase(irp);
  auto power = s.powerRequests.find(irp);
  if (power != s.powerRequests.end()) {
    fake::PowerRequest request = std::move(power->second);
    s.powerRequests.erase(power);
    request.done(request.device, request.minor, request.state, request.context, &irp->IoStatus);
  }
}

VOID NTAPI IoAcquireCancelSpinLock(PKIRQL irql)
{
  *irql = state().irql;
  state().irql = DISPATCH_LEVEL;
  fake::AcquireLock(&fake::cancelLock);
}

VOID NTAPI IoReleaseCancelSpinLock(KIRQL irql)
{
  fake::ReleaseLock(&fake::cancelLock);
  state().irql = irql;
}

BOOLEAN NTAPI IoCancelIrp(PIRP irp)
{
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  irp->Cancel = TRUE;
  auto routine = reinterpret_cast<PDRIVER_CANCEL>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&irp->CancelRoutine), nullptr));
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  irp->CancelIrql = irql;
  routine(fake::CurrentStack(irp)->DeviceObject, irp);
  return TRUE;
}

PVOID NTAPI IoAllocateErrorLogEntry(PVOID, UCHAR size)
{
  if (!fake::kernel().errorLogAvailable) {
    return nullptr;
  }
  EXPECT_LE(size, ERROR_LOG_MAXIMUM_SIZE);
  std::vector<uint8_t> bytes(size, 0xCD);
  void* entry = bytes.data();
  state().errorLogEntries[entry] = std::move(bytes);
  return entry;
}

VOID NTAPI IoWriteErrorLogEntry(PVOID entry)
{
  auto it = state().errorLogEntries.find(entry);
  if (it == state().errorLogEntries.end()) {
    ADD_FAILURE() << "writing an error-log entry that was not allocated";
    return;
  }
  fake::kernel().errorLog.push_back({std::move(it->second)});
  state().errorLogEntries.erase(it);
}

PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDLX mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID,
                                         ULONG, MM_PAGE_PRIORITY)
{
  return fake::kernel().mapResult ? mdl->MappedSystemVa : nullptr;
}

VOID NTAPI KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
  std::memset(dpc, 0, sizeof(*dpc));
  dpc->Type = 19; // DpcObject
  dpc->DeferredRoutine = routine;
  dpc->DeferredContext = context;
}

VOID NTAPI KeInitializeTimer(PKTIMER timer)
{
  std::memset(timer, 0, sizeof(*timer));
  state().timers[timer] = fake::TimerState();
}

BOOLEAN NTAPI KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc)
{
  fake::State& s = state();
  auto it = s.timers.find(timer);
  if (it == s.timers.end()) {
    ADD_FAILURE() << "KeSetTimer on a timer that was never initialised";
    return FALSE;
  }
  if (timer == s.firing) {
    ADD_FAILURE() << "timer re-armed from its own DPC: this hangs Wine";
  } else if (it->second.wineInserted) {
    ADD_FAILURE() << "KeSetTimer on a timer that Wine still counts as inserted: Wine cancels it "
                     "inside KeSetTimer, holding its kernel lock, and can deadlock";
  }
  const bool was = it->second.inserted;
  it->second = {true, true, dueTime.QuadPart, dpc};
  return was;
}

BOOLEAN NTAPI KeCancelTimer(PKTIMER timer)
{
  fake::State& s = state();
  auto it = s.timers.find(timer);
  if (it == s.timers.end()) {
    ADD_FAILURE() << "KeCancelTimer on a timer that was never initialised";
    return FALSE;
  }
  if (timer == s.firing) {
    ADD_FAILURE() << "timer cancelled from its own DPC: Wine waits for the DPC, which is itself";
  } else if (s.firing == nullptr && !s.heldLocks.empty()) {
    ADD_FAILURE() << "KeCancelTimer with a spin lock held: Wine waits for a running DPC, which "
                     "may be spinning on that lock";
  }
  const bool was = it->second.inserted;
  it->second.inserted = false;
  it->second.wineInserted = false;
  return was;
}

VOID NTAPI KeFlushQueuedDpcs(VOID)
{
  fake::ExpectMayWait("KeFlushQueuedDpcs");
  fake::kernel().flushes++;
}

LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER frequency)
{
  fake::Kernel& k = fake::kernel();
  if (frequency != nullptr) {
    frequency->QuadPart = k.frequency;
  }
  LARGE_INTEGER now;
  now.QuadPart = k.counter;
  return now;
}

KIRQL FASTCALL KfAcquireSpinLock(PKSPIN_LOCK lock)
{
  const KIRQL old = state().irql;
  if (old > DISPATCH_LEVEL) {
    ADD_FAILURE() << "spin lock acquired above DISPATCH_LEVEL";
  }
  state().irql = DISPATCH_LEVEL;
  fake::AcquireLock(lock);
  return old;
}

VOID FASTCALL KfReleaseSpinLock(PKSPIN_LOCK lock, KIRQL irql)
{
  fake::ReleaseLock(lock);
  state().irql = irql;
}

VOID FASTCALL KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock)
{
  if (state().irql < DISPATCH_LEVEL) {
    ADD_FAILURE() << "KeAcquireSpinLockAtDpcLevel below DISPATCH_LEVEL";
  }
  fake::AcquireLock(lock);
}

VOID FASTCALL KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock)
{
  fake::ReleaseLock(lock);
}

VOID NTAPI KeInitializeMutex(PRKMUTEX mutex, ULONG)
{
  std::memset(mutex, 0, sizeof(*mutex));
  mutex->Header.Type = fake::mutantObject;
  mutex->Header.SignalState = 1;
  state().mutexDepth[mutex] = 0;
}

LONG NTAPI KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
  int& depth = state().mutexDepth[mutex];
  if (depth <= 0) {
    ADD_FAILURE() << "releasing a mutex that is not held";
    return 0;
  }
  depth--;
  mutex->Header.SignalState++;
  return 0;
}

VOID NTAPI KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN signalled)
{
  std::memset(event, 0, sizeof(*event));
  event->Header.Type = UCHAR(type);
  event->Header.SignalState = signalled ? 1 : 0;
}

LONG NTAPI KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
  const LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  return previous;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                     PLARGE_INTEGER)
{
  fake::ExpectMayWait("KeWaitForSingleObject");
  auto* header = static_cast<DISPATCHER_HEADER*>(object);
  if (header->Type == fake::mutantObject) {
    // One thread: the mutex is either free or already ours.
    state().mutexDepth[static_cast<PRKMUTEX>(object)]++;
    header->SignalState--;
    return STATUS_SUCCESS;
  }
  if (header->SignalState == 0) {
    ADD_FAILURE() << "waiting for an event that nothing will set: this would wait forever";
    return STATUS_TIMEOUT;
  }
  return STATUS_SUCCESS;
}

VOID NTAPI PoStartNextPowerIrp(PIRP)
{
  fake::kernel().powerIrpsStarted++;
}

NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
  return IofCallDriver(device, irp);
}

NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE powerState,
                                 PREQUEST_POWER_COMPLETE done, PVOID context, PIRP* result)
{
  auto irp = std::make_unique<fake::Irp>(device->StackSize);
  PIO_STACK_LOCATION stack = irp->next();
  stack->MajorFunction = IRP_MJ_POWER;
  stack->MinorFunction = minor;
  stack->Parameters.Power.Type = DevicePowerState;
  stack->Parameters.Power.State = powerState;
  PIRP raw = irp->get();
  fake::Irp& owner = *irp;
  state().powerRequests[raw] = {std::move(irp), device, minor, powerState, done, context};
  if (result != nullptr) {
    *result = raw;
  }
  fake::Send(device, owner);
  return STATUS_PENDING;
}

} // extern "C"
