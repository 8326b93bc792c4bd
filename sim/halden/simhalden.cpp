// Stand-in for the Halden's kernel driver. It answers the control panel's protocol on the
// device "\\.\{96A5413A-9630-4c55-A94B-331AD4072B36}" like a mixer driver would: a list of
// devices, one of them selected, a stream that is stopped, streaming or in error, a sample
// rate out of a list, the two buffer settings. Through "\\.\HaldenSimControl" a test or the
// console tool sets that state, arms faults (fail, answer short, complete later) and reads
// back the log of the requests received. README.md describes both interfaces.

#include <ntddk.h>

#include "simhalden_control.h"

// Exported by the kernel, declared by the file-system kit that mingw-w64 lacks.
extern "C" NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                                         PLARGE_INTEGER timeout);

namespace {

enum class DeviceRole : ULONG { Halden, Control };

struct DeviceExtension {
  DeviceRole role;
  UNICODE_STRING link;
  WCHAR linkBuffer[80];
};

const ULONG kAllEffects = SIMHALDEN_FAIL | SIMHALDEN_SHORT | SIMHALDEN_PEND;
const ULONG kNotLogged = SIMHALDEN_LOG_ENTRIES;

// What the armed faults make of one request.
struct Effect {
  ULONG effects;
  NTSTATUS status;
  ULONG answerBytes;
  ULONG pendMs;
};

struct ArmedFault {
  HaldenSimFault fault;
  ULONG remaining; // 0: until cleared
  bool armed;
};

// A request's entry in the log; the generation tells it from the entries of a later log
// after the log was emptied while the request was held.
struct LogRef {
  ULONG index;
  ULONG generation;
};

// A request that was answered with STATUS_PENDING and waits for its completion.
struct HeldRequest {
  PIRP irp; // null: the slot is free
  LogRef log;
  Effect effect;
  bool timed;   // the worker completes it at `due`; else IOCTL_SIMHALDEN_COMPLETE_HELD does
  LONGLONG due; // performance counter
};

struct SimState {
  KSPIN_LOCK lock;
  OxDeviceList deviceList;
  OxStatus status;
  OxInterfaceVersion version;
  ArmedFault faults[SIMHALDEN_MAX_FAULTS];
  HaldenSimLog log;
  ULONG logGeneration;
  ULONG requestCount;
  ULONG openHandles;
  HeldRequest held[SIMHALDEN_MAX_HELD];

  // The worker thread completes timed requests from a thread of its own, as hardware would.
  KEVENT wake;
  HANDLE worker;
  bool stopping;
  LONGLONG counterFrequency;
};

SimState g_state;

// The driver's own estimate of the latency, by FireWire latency and ASIO buffering index.
const ULONG kFirewireLatencyBaseUs[OX_MAX_FIREWIRE_LATENCY_INDEX + 1] = {500,  1000, 2000,
                                                                         4000, 8000, 16000};
const ULONG kAsioBufferFactor[OX_MAX_ASIO_BUFFER_INDEX + 1] = {2, 4, 6};
const ULONG kDefaultRates[] = {44100, 48000, 88200, 96000};

class StateLock {
public:
  StateLock() { KeAcquireSpinLock(&g_state.lock, &irql_); }
  ~StateLock() { KeReleaseSpinLock(&g_state.lock, irql_); }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

private:
  KIRQL irql_;
};

// Lock held.
void ClearLog()
{
  RtlZeroMemory(&g_state.log, sizeof(g_state.log));
  g_state.logGeneration++;
}

// Lock held.
void SetDefaults()
{
  RtlZeroMemory(&g_state.deviceList, sizeof(g_state.deviceList));
  g_state.deviceList.count = 1;
  g_state.deviceList.entries[0].deviceId = SIMHALDEN_DEFAULT_DEVICE_ID;
  g_state.deviceList.currentDeviceId = SIMHALDEN_DEFAULT_DEVICE_ID;

  RtlZeroMemory(&g_state.status, sizeof(g_state.status));
  g_state.status.streamState = OX_STREAM_STREAMING;
  g_state.status.sampleRate = SIMHALDEN_DEFAULT_SAMPLE_RATE;
  g_state.status.sampleRateCount = sizeof(kDefaultRates) / sizeof(kDefaultRates[0]);
  RtlCopyMemory(g_state.status.sampleRates, kDefaultRates, sizeof(kDefaultRates));
  g_state.status.firewireLatencyIndex = SIMHALDEN_DEFAULT_FIREWIRE_LATENCY_INDEX;
  g_state.status.asioBufferIndex = SIMHALDEN_DEFAULT_ASIO_BUFFER_INDEX;

  RtlZeroMemory(&g_state.version, sizeof(g_state.version));
  g_state.version.interfaceVersion = OX_INTERFACE_VERSION;

  RtlZeroMemory(g_state.faults, sizeof(g_state.faults));
  ClearLog();
  g_state.requestCount = 0;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

LONGLONG Now()
{
  return KeQueryPerformanceCounter(nullptr).QuadPart;
}

// ---- The log (lock held) ----

LogRef LogArrival(ULONG code, ULONG inputLength, ULONG outputLength, const void* input)
{
  HaldenSimLog& log = g_state.log;
  log.total++;
  if (log.count >= SIMHALDEN_LOG_ENTRIES) {
    return {kNotLogged, g_state.logGeneration};
  }
  const ULONG index = log.count++;
  HaldenSimLogEntry& entry = log.entries[index];
  RtlZeroMemory(&entry, sizeof(entry));
  entry.ioControlCode = code;
  entry.inputLength = inputLength;
  entry.outputLength = outputLength;
  entry.status = STATUS_PENDING;
  const ULONG copy =
      inputLength < SIMHALDEN_LOGGED_INPUT_BYTES ? inputLength : SIMHALDEN_LOGGED_INPUT_BYTES;
  if (copy != 0 && input != nullptr) {
    RtlCopyMemory(entry.input, input, copy);
  }
  return {index, g_state.logGeneration};
}

HaldenSimLogEntry* LogEntry(const LogRef& ref)
{
  if (ref.generation != g_state.logGeneration || ref.index >= g_state.log.count) {
    return nullptr;
  }
  return &g_state.log.entries[ref.index];
}

void LogDone(const LogRef& ref, NTSTATUS status, ULONG_PTR answered, ULONG flags)
{
  HaldenSimLogEntry* found = LogEntry(ref);
  if (found == nullptr) {
    return;
  }
  HaldenSimLogEntry& entry = *found;
  entry.status = status;
  entry.answerLength = static_cast<ULONG>(answered);
  entry.flags |= flags | SIMHALDEN_LOG_DONE;
}

// ---- Faults (lock held) ----

Effect TakeEffect(ULONG code)
{
  Effect effect = {};
  for (ArmedFault& f : g_state.faults) {
    if (!f.armed || f.fault.ioControlCode != code) {
      continue;
    }
    effect.effects = f.fault.effects;
    effect.status = f.fault.status;
    effect.answerBytes = f.fault.answerBytes;
    effect.pendMs = f.fault.pendMs;
    if (f.remaining != 0 && --f.remaining == 0) {
      f.armed = false;
    }
    break;
  }
  return effect;
}

NTSTATUS ArmFault(const HaldenSimFault& fault)
{
  if ((fault.effects & ~kAllEffects) != 0 || fault.status == STATUS_PENDING) {
    return STATUS_INVALID_PARAMETER;
  }
  ArmedFault* slot = nullptr;
  for (ArmedFault& f : g_state.faults) {
    if (f.armed && f.fault.ioControlCode == fault.ioControlCode) {
      slot = &f;
      break;
    }
  }
  if (fault.effects == 0) {
    if (slot != nullptr) {
      slot->armed = false;
    }
    return STATUS_SUCCESS;
  }
  for (ArmedFault& f : g_state.faults) {
    if (slot == nullptr && !f.armed) {
      slot = &f;
    }
  }
  if (slot == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  slot->fault = fault;
  slot->remaining = fault.count;
  slot->armed = true;
  return STATUS_SUCCESS;
}

ULONG ArmedFaultCount()
{
  ULONG n = 0;
  for (const ArmedFault& f : g_state.faults) {
    n += f.armed ? 1 : 0;
  }
  return n;
}

// ---- The mixer (lock held) ----

bool DeviceSelected()
{
  const OxDeviceList& list = g_state.deviceList;
  if (list.currentDeviceId == 0) {
    return false;
  }
  const ULONG count = list.count < OX_MAX_DEVICES ? list.count : OX_MAX_DEVICES;
  for (ULONG i = 0; i < count; i++) {
    if (list.entries[i].deviceId == list.currentDeviceId) {
      return true;
    }
  }
  return false;
}

bool Listed(uint64_t deviceId)
{
  const OxDeviceList& list = g_state.deviceList;
  const ULONG count = list.count < OX_MAX_DEVICES ? list.count : OX_MAX_DEVICES;
  for (ULONG i = 0; i < count; i++) {
    if (list.entries[i].deviceId == deviceId) {
      return true;
    }
  }
  return false;
}

bool RateSupported(ULONG rate)
{
  const OxStatus& s = g_state.status;
  const ULONG count =
      s.sampleRateCount < OX_MAX_SAMPLE_RATES ? s.sampleRateCount : OX_MAX_SAMPLE_RATES;
  for (ULONG i = 0; i < count; i++) {
    if (rate != 0 && s.sampleRates[i] == rate) {
      return true;
    }
  }
  return false;
}

bool Streaming()
{
  return g_state.status.streamState == OX_STREAM_STREAMING;
}

NTSTATUS SelectDevice(uint64_t deviceId)
{
  if (deviceId == 0 || !Listed(deviceId)) {
    return STATUS_NO_SUCH_DEVICE;
  }
  if (deviceId == g_state.deviceList.currentDeviceId) {
    return STATUS_SUCCESS;
  }
  // Streaming runs on the selected device: another one is taken only while stopped.
  if (Streaming()) {
    return STATUS_DEVICE_BUSY;
  }
  g_state.deviceList.currentDeviceId = deviceId;
  if (g_state.status.streamState == OX_STREAM_NONE) {
    g_state.status.streamState = OX_STREAM_STOPPED;
  }
  return STATUS_SUCCESS;
}

NTSTATUS StartStreaming()
{
  if (!DeviceSelected()) {
    return STATUS_DEVICE_NOT_READY;
  }
  g_state.status.streamState = OX_STREAM_STREAMING;
  return STATUS_SUCCESS;
}

NTSTATUS StopStreaming()
{
  if (g_state.status.streamState != OX_STREAM_NONE) {
    g_state.status.streamState = OX_STREAM_STOPPED;
  }
  return STATUS_SUCCESS;
}

NTSTATUS SetSampleRate(ULONG rate)
{
  if (!DeviceSelected()) {
    return STATUS_DEVICE_NOT_READY;
  }
  if (Streaming()) {
    return STATUS_DEVICE_BUSY;
  }
  if (!RateSupported(rate)) {
    return STATUS_INVALID_PARAMETER;
  }
  g_state.status.sampleRate = rate;
  return STATUS_SUCCESS;
}

NTSTATUS SetBufferSizes(const OxBufferSizes& sizes)
{
  if (!DeviceSelected()) {
    return STATUS_DEVICE_NOT_READY;
  }
  if (Streaming()) {
    return STATUS_DEVICE_BUSY;
  }
  if (sizes.firewireLatencyIndex > OX_MAX_FIREWIRE_LATENCY_INDEX ||
      sizes.asioBufferIndex > OX_MAX_ASIO_BUFFER_INDEX) {
    return STATUS_INVALID_PARAMETER;
  }
  OxStatus& s = g_state.status;
  s.firewireLatencyIndex = sizes.firewireLatencyIndex;
  s.asioBufferIndex = sizes.asioBufferIndex;
  // A driver that reports its latency reports the one of the new buffers.
  if (s.latencyUs != 0) {
    s.latencyUs =
        kFirewireLatencyBaseUs[s.firewireLatencyIndex] * kAsioBufferFactor[s.asioBufferIndex];
  }
  return STATUS_SUCCESS;
}

union Answer {
  OxInterfaceVersion version;
  OxDeviceList deviceList;
  OxStatus status;
};

// Carries out one request of the Halden device; fills `answer` for the requests that answer.
NTSTATUS Execute(ULONG code, const void* input, ULONG inputLength, Answer& answer,
                 ULONG& answerLength)
{
  answerLength = 0;
  switch (code) {
  case IOCTL_OX_GET_VERSION:
    answer.version = g_state.version;
    answerLength = sizeof(answer.version);
    return STATUS_SUCCESS;
  case IOCTL_OX_CMD_820:
    // Accepted and logged; the panel never sends it.
    return inputLength == sizeof(uint32_t) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
  case IOCTL_OX_RELEASE:
    return STATUS_SUCCESS;
  case IOCTL_OX_GET_DEVICE_LIST:
    answer.deviceList = g_state.deviceList;
    answerLength = sizeof(answer.deviceList);
    return STATUS_SUCCESS;
  case IOCTL_OX_GET_STATUS:
    answer.status = g_state.status;
    answerLength = sizeof(answer.status);
    return STATUS_SUCCESS;
  case IOCTL_OX_SET_SAMPLE_RATE: {
    if (inputLength != sizeof(uint32_t)) {
      return STATUS_INVALID_PARAMETER;
    }
    uint32_t rate;
    RtlCopyMemory(&rate, input, sizeof(rate));
    return SetSampleRate(rate);
  }
  case IOCTL_OX_START_STREAMING:
    return StartStreaming();
  case IOCTL_OX_STOP_STREAMING:
    return StopStreaming();
  case IOCTL_OX_SELECT_DEVICE: {
    if (inputLength != sizeof(uint64_t)) {
      return STATUS_INVALID_PARAMETER;
    }
    uint64_t deviceId;
    RtlCopyMemory(&deviceId, input, sizeof(deviceId));
    return SelectDevice(deviceId);
  }
  case IOCTL_OX_SET_BUFFER_SIZES: {
    if (inputLength != sizeof(OxBufferSizes)) {
      return STATUS_INVALID_PARAMETER;
    }
    OxBufferSizes sizes;
    RtlCopyMemory(&sizes, input, sizeof(sizes));
    return SetBufferSizes(sizes);
  }
  default:
    return STATUS_INVALID_DEVICE_REQUEST;
  }
}

// Carries the request out as its effect says. Lock held.
NTSTATUS CarryOut(PIRP irp, const Effect& effect, ULONG_PTR& information)
{
  information = 0;
  if ((effect.effects & SIMHALDEN_FAIL) != 0) {
    return effect.status;
  }
  const auto& params = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  Answer answer;
  ULONG answerLength;
  NTSTATUS status =
      Execute(params.IoControlCode, buffer, params.InputBufferLength, answer, answerLength);
  if (!NT_SUCCESS(status) || answerLength == 0) {
    return status;
  }
  if (params.OutputBufferLength < answerLength || buffer == nullptr) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if ((effect.effects & SIMHALDEN_SHORT) != 0 && effect.answerBytes < answerLength) {
    answerLength = effect.answerBytes;
  }
  RtlCopyMemory(buffer, &answer, answerLength);
  information = answerLength;
  return status;
}

// ---- Held requests ----

void CancelHeld(PDEVICE_OBJECT, PIRP irp)
{
  IoReleaseCancelSpinLock(irp->CancelIrql);
  bool found = false;
  {
    StateLock hold;
    for (HeldRequest& h : g_state.held) {
      if (h.irp == irp) {
        LogDone(h.log, STATUS_CANCELLED, 0, SIMHALDEN_LOG_PENDED);
        h.irp = nullptr;
        found = true;
        break;
      }
    }
  }
  if (found) {
    Complete(irp, STATUS_CANCELLED, 0);
  }
}

// Takes a held request out of its slot unless its cancel routine owns it already. Lock held.
bool Detach(HeldRequest& slot, HeldRequest& taken)
{
  if (slot.irp == nullptr || IoSetCancelRoutine(slot.irp, nullptr) == nullptr) {
    return false;
  }
  taken = slot;
  slot.irp = nullptr;
  return true;
}

// Carries a detached request out and completes it.
void Finish(const HeldRequest& taken)
{
  ULONG_PTR information;
  NTSTATUS status;
  {
    StateLock hold;
    status = CarryOut(taken.irp, taken.effect, information);
    LogDone(taken.log, status, information, SIMHALDEN_LOG_PENDED);
  }
  Complete(taken.irp, status, information);
}

void FinishCancelled(const HeldRequest& taken)
{
  {
    StateLock hold;
    LogDone(taken.log, STATUS_CANCELLED, 0, SIMHALDEN_LOG_PENDED);
  }
  Complete(taken.irp, STATUS_CANCELLED, 0);
}

enum class Which { All, Due, OfFile };

// Detaches the held requests that `which` names into `out`; returns how many.
ULONG DetachHeld(Which which, PFILE_OBJECT file, HeldRequest (&out)[SIMHALDEN_MAX_HELD])
{
  const LONGLONG now = Now();
  ULONG n = 0;
  StateLock hold;
  for (HeldRequest& h : g_state.held) {
    if (h.irp == nullptr) {
      continue;
    }
    if (which == Which::Due && !(h.timed && h.due <= now)) {
      continue;
    }
    if (which == Which::OfFile && IoGetCurrentIrpStackLocation(h.irp)->FileObject != file) {
      continue;
    }
    if (Detach(h, out[n])) {
      n++;
    }
  }
  return n;
}

ULONG CompleteHeldNow()
{
  HeldRequest taken[SIMHALDEN_MAX_HELD];
  const ULONG n = DetachHeld(Which::All, nullptr, taken);
  for (ULONG i = 0; i < n; i++) {
    Finish(taken[i]);
  }
  return n;
}

void CancelHeldOf(PFILE_OBJECT file, Which which)
{
  HeldRequest taken[SIMHALDEN_MAX_HELD];
  const ULONG n = DetachHeld(which, file, taken);
  for (ULONG i = 0; i < n; i++) {
    FinishCancelled(taken[i]);
  }
}

// Completes timed requests when they are due; sleeps until the next one or a new one.
void Worker(PVOID)
{
  for (;;) {
    HeldRequest taken[SIMHALDEN_MAX_HELD];
    const ULONG n = DetachHeld(Which::Due, nullptr, taken);
    for (ULONG i = 0; i < n; i++) {
      Finish(taken[i]);
    }

    bool stopping;
    bool waiting = false;
    LONGLONG next = 0;
    {
      StateLock hold;
      stopping = g_state.stopping;
      for (const HeldRequest& h : g_state.held) {
        if (h.irp != nullptr && h.timed && (!waiting || h.due < next)) {
          next = h.due;
          waiting = true;
        }
      }
    }
    if (stopping) {
      break;
    }
    LARGE_INTEGER timeout;
    if (waiting) {
      LONGLONG ticks = next - Now();
      if (ticks < 0) {
        ticks = 0;
      }
      const LONGLONG f = g_state.counterFrequency;
      // Relative, in 100 ns units, and never zero so that the wait really waits.
      timeout.QuadPart = -(ticks / f * 10000000 + ticks % f * 10000000 / f) - 1;
    }
    KeWaitForSingleObject(&g_state.wake, Executive, KernelMode, FALSE,
                          waiting ? &timeout : nullptr);
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

enum class HoldResult { Held, Cancelled, NoRoom };

// Pends the request into a free slot. Lock held.
HoldResult Hold(PIRP irp, const LogRef& log, const Effect& effect)
{
  for (HeldRequest& h : g_state.held) {
    if (h.irp != nullptr) {
      continue;
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelHeld);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
      // Cancelled before the routine was in place: it is ours to complete.
      LogDone(log, STATUS_CANCELLED, 0, SIMHALDEN_LOG_PENDED);
      return HoldResult::Cancelled;
    }
    h.irp = irp;
    h.log = log;
    h.effect = effect;
    h.timed = effect.pendMs != SIMHALDEN_HOLD_UNTIL_COMPLETED;
    h.due = Now() + static_cast<LONGLONG>(effect.pendMs) * g_state.counterFrequency / 1000;
    if (HaldenSimLogEntry* entry = LogEntry(log)) {
      entry->flags |= SIMHALDEN_LOG_PENDED | SIMHALDEN_LOG_FAULTED;
    }
    return HoldResult::Held;
  }
  return HoldResult::NoRoom;
}

// ---- Dispatch ----

NTSTATUS HaldenRequest(PIRP irp, PIO_STACK_LOCATION stack)
{
  const auto& params = stack->Parameters.DeviceIoControl;
  ULONG_PTR information = 0;
  NTSTATUS status;
  HoldResult held = HoldResult::NoRoom;
  {
    StateLock hold;
    g_state.requestCount++;
    const LogRef log = LogArrival(params.IoControlCode, params.InputBufferLength,
                                  params.OutputBufferLength, irp->AssociatedIrp.SystemBuffer);
    const Effect effect = TakeEffect(params.IoControlCode);
    if ((effect.effects & SIMHALDEN_PEND) != 0) {
      held = Hold(irp, log, effect);
      status = STATUS_INSUFFICIENT_RESOURCES;
      if (held == HoldResult::NoRoom) {
        LogDone(log, status, 0, SIMHALDEN_LOG_FAULTED);
      }
    } else {
      status = CarryOut(irp, effect, information);
      LogDone(log, status, information, effect.effects != 0 ? SIMHALDEN_LOG_FAULTED : 0);
    }
  }
  switch (held) {
  case HoldResult::Held:
    KeSetEvent(&g_state.wake, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
  case HoldResult::Cancelled:
    Complete(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
  case HoldResult::NoRoom:
    break;
  }
  return Complete(irp, status, information);
}

NTSTATUS ControlRequest(PIRP irp, PIO_STACK_LOCATION stack)
{
  const auto& params = stack->Parameters.DeviceIoControl;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  const ULONG in = params.InputBufferLength;
  const ULONG out = params.OutputBufferLength;

  switch (params.IoControlCode) {
  case IOCTL_SIMHALDEN_RESET: {
    CompleteHeldNow();
    StateLock hold;
    SetDefaults();
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_GET_STATE: {
    if (out < sizeof(HaldenSimState)) {
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    HaldenSimState state;
    {
      StateLock hold;
      state.deviceList = g_state.deviceList;
      state.status = g_state.status;
      state.version = g_state.version;
      state.openHandles = g_state.openHandles;
      state.heldRequests = 0;
      for (const HeldRequest& h : g_state.held) {
        state.heldRequests += h.irp != nullptr ? 1 : 0;
      }
      state.requestCount = g_state.requestCount;
      state.armedFaults = ArmedFaultCount();
    }
    RtlCopyMemory(buffer, &state, sizeof(state));
    return Complete(irp, STATUS_SUCCESS, sizeof(state));
  }
  case IOCTL_SIMHALDEN_SET_DEVICE_LIST: {
    if (in != sizeof(OxDeviceList)) {
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    StateLock hold;
    RtlCopyMemory(&g_state.deviceList, buffer, sizeof(OxDeviceList));
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_SET_STATUS: {
    if (in != sizeof(OxStatus)) {
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    StateLock hold;
    RtlCopyMemory(&g_state.status, buffer, sizeof(OxStatus));
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_SET_VERSION: {
    if (in != sizeof(OxInterfaceVersion)) {
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    StateLock hold;
    RtlCopyMemory(&g_state.version, buffer, sizeof(OxInterfaceVersion));
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_ARM_FAULT: {
    if (in != sizeof(HaldenSimFault)) {
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    HaldenSimFault fault;
    RtlCopyMemory(&fault, buffer, sizeof(fault));
    NTSTATUS status;
    {
      StateLock hold;
      status = ArmFault(fault);
    }
    return Complete(irp, status, 0);
  }
  case IOCTL_SIMHALDEN_CLEAR_FAULTS: {
    StateLock hold;
    RtlZeroMemory(g_state.faults, sizeof(g_state.faults));
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_COMPLETE_HELD: {
    const ULONG n = CompleteHeldNow();
    if (out >= sizeof(ULONG)) {
      RtlCopyMemory(buffer, &n, sizeof(n));
      return Complete(irp, STATUS_SUCCESS, sizeof(n));
    }
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  case IOCTL_SIMHALDEN_GET_LOG: {
    if (out < sizeof(HaldenSimLog)) {
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    StateLock hold;
    RtlCopyMemory(buffer, &g_state.log, sizeof(HaldenSimLog));
    return Complete(irp, STATUS_SUCCESS, sizeof(HaldenSimLog));
  }
  case IOCTL_SIMHALDEN_CLEAR_LOG: {
    StateLock hold;
    ClearLog();
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  default:
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

DeviceRole RoleOf(PDEVICE_OBJECT device)
{
  return static_cast<DeviceExtension*>(device->DeviceExtension)->role;
}

NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
  if (RoleOf(device) == DeviceRole::Halden) {
    StateLock hold;
    g_state.openHandles++;
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
  if (RoleOf(device) == DeviceRole::Halden) {
    StateLock hold;
    if (g_state.openHandles != 0) {
      g_state.openHandles--;
    }
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
  if (RoleOf(device) == DeviceRole::Halden) {
    CancelHeldOf(IoGetCurrentIrpStackLocation(irp)->FileObject, Which::OfFile);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  return RoleOf(device) == DeviceRole::Halden ? HaldenRequest(irp, stack)
                                              : ControlRequest(irp, stack);
}

void DeleteDevices(PDRIVER_OBJECT driver)
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

void StopWorker()
{
  if (g_state.worker == nullptr) {
    return;
  }
  {
    StateLock hold;
    g_state.stopping = true;
  }
  KeSetEvent(&g_state.wake, IO_NO_INCREMENT, FALSE);
  ZwWaitForSingleObject(g_state.worker, FALSE, nullptr);
  ZwClose(g_state.worker);
  g_state.worker = nullptr;
}

void DriverUnload(PDRIVER_OBJECT driver)
{
  StopWorker();
  CancelHeldOf(nullptr, Which::All);
  DeleteDevices(driver);
}

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, DeviceRole role)
{
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, role == DeviceRole::Halden ? L"\\Device\\SimHalden"
                                                         : L"\\Device\\HaldenSimControl");
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(
      driver, sizeof(DeviceExtension), &name,
      role == DeviceRole::Halden ? OX_FILE_DEVICE : SIMHALDEN_FILE_DEVICE, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
  ext->role = role;
  ext->link = {0, sizeof(ext->linkBuffer), ext->linkBuffer};
  status = RtlAppendUnicodeToString(&ext->link, role == DeviceRole::Halden
                                                    ? L"\\DosDevices\\" OX_DEVICE_INTERFACE_NAME
                                                    : L"\\DosDevices\\HaldenSimControl");
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

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
  KeInitializeSpinLock(&g_state.lock);
  KeInitializeEvent(&g_state.wake, SynchronizationEvent, FALSE);
  LARGE_INTEGER frequency;
  KeQueryPerformanceCounter(&frequency);
  g_state.counterFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  g_state.stopping = false;
  g_state.worker = nullptr;
  g_state.openHandles = 0;
  RtlZeroMemory(g_state.held, sizeof(g_state.held));
  SetDefaults();

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  driver->DriverUnload = DriverUnload;

  NTSTATUS status = CreateDevice(driver, DeviceRole::Control);
  if (NT_SUCCESS(status)) {
    status = CreateDevice(driver, DeviceRole::Halden);
  }
  if (NT_SUCCESS(status)) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    status = PsCreateSystemThread(&g_state.worker, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr,
                                  Worker, nullptr);
    if (!NT_SUCCESS(status)) {
      g_state.worker = nullptr;
    }
  }
  if (!NT_SUCCESS(status)) {
    DeleteDevices(driver);
  }
  return status;
}
