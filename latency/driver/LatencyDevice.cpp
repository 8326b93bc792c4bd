#include "LatencyDevice.h"

#include "DeviceSecurity.h"

namespace {

// The kernel timer counts in 100-ns units; a negative due time is relative.
LARGE_INTEGER RelativeDueTime(ULONG periodMicroseconds)
{
  LARGE_INTEGER due;
  due.QuadPart = -10 * static_cast<LONGLONG>(periodMicroseconds);
  return due;
}

} // namespace

LatencyDevice::LatencyDevice()
{
  m_state = DeviceState::Started;
  m_previousState = DeviceState::Started;
  m_readQueue.Initialize();
  KeInitializeMutex(&m_mutex, 0);
  KeInitializeSpinLock(&m_statisticsLock);
  for (MeasuringTimer& t : m_timers) {
    KeInitializeTimer(&t.timer);
    KeInitializeDpc(&t.dpc, TimerDpcRoutine, this);
  }
}

LatencyDevice::~LatencyDevice()
{
  // No DPC may run once the memory is gone: Stop waits for the last one. Reads still pending
  // (Wine unloads with handles open) end here, so that no cancel routine of ours outlives it.
  Stop();
  if (m_linkCreated) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, LATENCY_DOS_DEVICE_NAME);
    IoDeleteSymbolicLink(&link);
  }
  if (m_deviceObject != nullptr) {
    *static_cast<LatencyDeviceBase**>(m_deviceObject->DeviceExtension) = nullptr;
    IoDeleteDevice(m_deviceObject);
    m_deviceObject = nullptr;
  }
}

NTSTATUS LatencyDevice::CreateDeviceObject(PDRIVER_OBJECT driverObject)
{
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, LATENCY_NT_DEVICE_NAME);
  PDEVICE_OBJECT deviceObject;
  NTSTATUS status =
      IoCreateDevice(driverObject, sizeof(LatencyDeviceBase*), &name, FILE_DEVICE_LATENCY,
                     FILE_DEVICE_SECURE_OPEN, FALSE, &deviceObject);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  // Before the link exists, so that no one opens the device under the default descriptor.
  status = RestrictToSystemAndAdministrators(deviceObject);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(deviceObject);
    return status;
  }
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, LATENCY_DOS_DEVICE_NAME);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(deviceObject);
    return status;
  }
  m_linkCreated = true;
  AttachDeviceObject(deviceObject);
  deviceObject->Flags |= DO_DIRECT_IO;
  return STATUS_SUCCESS;
}

void LatencyDevice::Lock()
{
  KeWaitForSingleObject(&m_mutex, Executive, KernelMode, FALSE, nullptr);
}

void LatencyDevice::Unlock()
{
  KeReleaseMutex(&m_mutex, FALSE);
}

NTSTATUS LatencyDevice::OnCreate(PIRP irp)
{
  return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

// Wine sends no IRP_MJ_CLEANUP; its IRP_MJ_CLOSE comes as soon as the last handle is closed,
// even with reads pending, which is when Windows sends the cleanup. So the close does the
// cleanup's work as well. On Windows it follows the cleanup and finds nothing left to do.
NTSTATUS LatencyDevice::OnClose(PIRP irp)
{
  EndHandle(IoGetCurrentIrpStackLocation(irp)->FileObject);
  return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS LatencyDevice::OnWaitWake(PIRP irp)
{
  PoStartNextPowerIrp(irp);
  return CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
}

NTSTATUS LatencyDevice::OnCleanup(PIRP irp)
{
  EndHandle(IoGetCurrentIrpStackLocation(irp)->FileObject);
  return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

// A handle goes away. Its own reads end. The measurement ends only with the handle that
// started it: any other process may open the device and close it again.
void LatencyDevice::EndHandle(PFILE_OBJECT file)
{
  Lock();
  if (m_owner != nullptr && file == m_owner) {
    m_owner = nullptr;
    Stop();
    ExSetTimerResolution(0, FALSE);
  } else {
    CancelReadsOf(file);
  }
  Unlock();
}

void LatencyDevice::CancelReadsOf(PFILE_OBJECT file)
{
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  m_readQueue.CancelFile(file);
  if (m_currentRead != nullptr && IoGetCurrentIrpStackLocation(m_currentRead)->FileObject == file) {
    PIRP irp = DetachCurrentRead();
    if (irp != nullptr) {
      CompleteRequest(irp, STATUS_CANCELLED, 0);
    }
  }
  KeReleaseSpinLock(&m_statisticsLock, irql);
}

NTSTATUS LatencyDevice::OnDeviceControl(PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  KIRQL irql;

  Lock();
  switch (code) {
  case IOCTL_LATENCY_GET_INFO:
    if (outputLength != sizeof(LatencyDriverInfo)) {
      status = NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH);
      break;
    }
    *static_cast<LatencyDriverInfo*>(buffer) = LatencyDriverInfo{{1, 1, 1, 1, 0, 0}};
    information = sizeof(LatencyDriverInfo);
    break;

  case IOCTL_LATENCY_START:
    if (inputLength != sizeof(ULONG)) {
      status = NTSTATUS(LATENCY_ERR_INPUT_LENGTH);
    } else if (outputLength != sizeof(ULONG)) {
      status = NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH);
    } else {
      status = Start(buffer, buffer);
      information = sizeof(ULONG);
      m_owner = stack->FileObject;
    }
    break;

  case IOCTL_LATENCY_STOP:
    Stop();
    ExSetTimerResolution(0, FALSE);
    m_owner = nullptr;
    break;

  case IOCTL_LATENCY_GET_VALUES:
    if (inputLength != sizeof(LatencyValues)) {
      status = NTSTATUS(LATENCY_ERR_INPUT_LENGTH);
    } else if (outputLength != inputLength) {
      status = NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH);
    } else {
      GetValues(static_cast<LatencyValues*>(buffer));
      information = sizeof(LatencyValues);
    }
    break;

  case IOCTL_LATENCY_RESET:
    KeAcquireSpinLock(&m_statisticsLock, &irql);
    ResetStatistics();
    KeReleaseSpinLock(&m_statisticsLock, irql);
    break;

  default:
    status = STATUS_NOT_IMPLEMENTED;
    break;
  }
  Unlock();
  return CompleteRequest(irp, status, information);
}

NTSTATUS LatencyDevice::Start(const void* input, void* output)
{
  ULONG requested;
  RtlCopyMemory(&requested, input, sizeof(requested));
  ExSetTimerResolution(0, FALSE);
  const ULONG resolution = ExSetTimerResolution(requested * 10, TRUE);

  // A START while measuring begins afresh with the new period.
  StopTimer();

  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  m_period = resolution / 10;
  RtlCopyMemory(output, &m_period, sizeof(m_period));
  m_haveStamp = false;
  m_ringIndex = 0;
  m_skipCount = LATENCY_WARMUP_SKIP;
  ResetStatistics();
  KeSetTimer(&m_timers[0].timer, RelativeDueTime(m_period), &m_timers[0].dpc);
  m_running = true;
  KeReleaseSpinLock(&m_statisticsLock, irql);
  return STATUS_SUCCESS;
}

void LatencyDevice::GetValues(LatencyValues* values)
{
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  const bool reset = values->resetAfterRead != 0;
  values->period = m_period;
  values->minInterval = m_minimumInterval;
  values->maxInterval = m_maximumInterval;
  values->avgInterval = m_averageInterval;
  if (reset) {
    ResetStatistics();
  }
  KeReleaseSpinLock(&m_statisticsLock, irql);
}

// The ring and its index stay: the average comes back once the index next wraps.
void LatencyDevice::ResetStatistics()
{
  m_minimumInterval = 0;
  m_maximumInterval = 0;
  m_averageInterval = 0;
  m_minimumValid = false;
  m_maximumValid = false;
  m_ringFull = false;
}

// Ends the measurement (STOP, and the close of the handle that started it): the timer, then
// every read, whatever it holds.
void LatencyDevice::Stop()
{
  StopTimer();
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  m_readQueue.CancelAll();
  PIRP current = DetachCurrentRead();
  if (current != nullptr) {
    CompleteRequest(current, STATUS_CANCELLED, 0);
  }
  KeReleaseSpinLock(&m_statisticsLock, irql);
}

// Under the statistics lock: no interval goes into the current read any more. Returns it for
// the caller to complete, or null when there is none or its cancel routine has it: that
// routine is waiting for the lock and completes it itself.
PIRP LatencyDevice::DetachCurrentRead()
{
  PIRP irp = m_currentRead;
  m_currentRead = nullptr;
  m_readBuffer = nullptr;
  m_readFill = 0;
  m_readCapacity = 0;
  if (irp == nullptr || IoSetCancelRoutine(irp, nullptr) == nullptr) {
    return nullptr;
  }
  return irp;
}

// The read being filled stays cancellable (a thread or process that ends cancels its
// requests and waits for them). The routine may start while a DPC fills the read or
// completes it: whoever clears the cancel routine first completes the request.
VOID NTAPI LatencyDevice::CurrentReadCancelled(PDEVICE_OBJECT deviceObject, PIRP irp)
{
  IoReleaseCancelSpinLock(irp->CancelIrql);
  auto* device = static_cast<LatencyDevice*>(FromDeviceObject(deviceObject));
  if (device != nullptr) {
    KIRQL irql;
    KeAcquireSpinLock(&device->m_statisticsLock, &irql);
    if (device->m_currentRead == irp) {
      device->m_currentRead = nullptr;
      device->m_readBuffer = nullptr;
      device->m_readFill = 0;
      device->m_readCapacity = 0;
    }
    KeReleaseSpinLock(&device->m_statisticsLock, irql);
  }
  CompleteRequest(irp, STATUS_CANCELLED, 0);
}

// Once `running` is false under the lock, no DPC arms a timer again, so the timers can then
// be cancelled outside it. Cancelling inside it would deadlock under Wine, whose KeCancelTimer
// waits for a running DPC of that timer, and that DPC may be spinning on this very lock.
// On return no DPC of ours is queued or running: Windows needs the flush for that; Wine's
// flush does nothing, but there KeCancelTimer has already waited.
void LatencyDevice::StopTimer()
{
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  m_running = false;
  KeReleaseSpinLock(&m_statisticsLock, irql);
  for (MeasuringTimer& t : m_timers) {
    KeCancelTimer(&t.timer);
  }
  KeFlushQueuedDpcs();
}

VOID NTAPI LatencyDevice::TimerDpcRoutine(PKDPC dpc, PVOID context, PVOID, PVOID)
{
  static_cast<LatencyDevice*>(context)->TimerDpc(dpc);
}

// Runs at DISPATCH_LEVEL already, so KeAcquireSpinLock raises nothing; it is used instead of
// KeAcquireSpinLockAtDpcLevel because Wine's 32-bit kernel lacks the x86 export of that.
void LatencyDevice::TimerDpc(PKDPC dpc)
{
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  LARGE_INTEGER frequency;
  const LARGE_INTEGER now = KeQueryPerformanceCounter(&frequency);
  if (m_haveStamp) {
    const LONGLONG delta = now.QuadPart - m_previousStamp;
    if (delta >= 0) {
      if (m_skipCount != 0) {
        m_skipCount--;
      } else {
        RecordInterval(static_cast<ULONG>(delta * 1000000 / frequency.QuadPart));
      }
    }
  }
  m_previousStamp = now.QuadPart;
  m_haveStamp = true;
  if (m_running) {
    ArmNextTimer(dpc == &m_timers[0].dpc ? m_timers[1] : m_timers[0]);
  }
  KeReleaseSpinLock(&m_statisticsLock, irql);
}

// Every expiry is one-shot and armed from the DPC of the one before, so each interval holds
// the full DPC delay. The DPC does not re-arm its own timer, though, but the other of two:
// Wine 8 never marks a one-shot timer as no longer inserted when it fires, so KeSetTimer on
// it cancels it first, and that cancel waits for the timer's running callback - from inside
// that callback it waits for itself, holding the lock that all of Wine's kernel
// synchronisation shares, and winedevice hangs. Re-arming the other timer needs more than
// that: its callback may still be finishing (it takes that shared lock after our DPC
// returns), so KeSetTimer's own cancel, made while holding the shared lock, could still
// deadlock. The explicit KeCancelTimer first waits for that callback without holding the
// shared lock and leaves the timer not inserted, so KeSetTimer need not cancel. On Windows the
// other timer has already fired and is not inserted: the cancel is a cheap no-op.
void LatencyDevice::ArmNextTimer(MeasuringTimer& timer)
{
  KeCancelTimer(&timer.timer);
  KeSetTimer(&timer.timer, RelativeDueTime(m_period), &timer.dpc);
}

void LatencyDevice::RecordInterval(ULONG interval)
{
  m_ring[m_ringIndex] = interval;
  m_ringIndex++;
  FeedReadStream(interval);
  if (m_ringIndex >= LATENCY_RING_SIZE) {
    m_ringIndex = 0;
    m_ringFull = true;
  }
  if (!m_minimumValid || interval < m_minimumInterval) {
    m_minimumInterval = interval;
    m_minimumValid = true;
  }
  if (!m_maximumValid || interval > m_maximumInterval) {
    m_maximumInterval = interval;
    m_maximumValid = true;
  }
  if (m_ringFull) {
    ULONG sum = 0;
    for (ULONG v : m_ring) {
      sum += v;
    }
    m_averageInterval = sum / LATENCY_RING_SIZE;
  }
}

// A read completes on the interval after the one that filled it; that interval goes to the
// next queued read, or is lost when there is none.
void LatencyDevice::FeedReadStream(ULONG interval)
{
  if (m_currentRead != nullptr && m_readFill >= m_readCapacity) {
    const ULONG_PTR bytes = ULONG_PTR(m_readCapacity) * sizeof(ULONG);
    PIRP done = DetachCurrentRead();
    if (done != nullptr) {
      CompleteRequest(done, STATUS_SUCCESS, bytes);
    }
  }
  if (m_currentRead == nullptr) {
    TakeNextRead();
  }
  if (m_readBuffer != nullptr) {
    m_readBuffer[m_readFill] = interval;
    m_readFill++;
  } else {
    m_lost = true;
  }
}

// Makes the head of the queue the current read, or completes it when its buffer is unusable.
void LatencyDevice::TakeNextRead()
{
  PIRP next = m_readQueue.RemoveHead();
  if (next == nullptr) {
    return;
  }
  const ULONG length = IoGetCurrentIrpStackLocation(next)->Parameters.Read.Length;
  PMDL mdl = next->MdlAddress;
  if (mdl == nullptr || length == 0 || length % sizeof(ULONG) != 0 ||
      MmGetMdlByteCount(mdl) < length) {
    CompleteRequest(next, NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH), 0);
    return;
  }
  void* mapped = MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority);
  if (mapped == nullptr) {
    CompleteRequest(next, NTSTATUS(LATENCY_ERR_NOT_OPEN), 0);
    return;
  }
  // Current before the cancel routine is set: a cancel that starts at once must find it.
  m_currentRead = next;
  m_readBuffer = static_cast<ULONG*>(mapped);
  m_readCapacity = length / sizeof(ULONG);
  m_readFill = 0;
  IoSetCancelRoutine(next, CurrentReadCancelled);
  // Cancelled while it had no cancel routine, between the queue and here: nobody else would
  // ever complete it.
  if (next->Cancel) {
    PIRP cancelled = DetachCurrentRead();
    if (cancelled != nullptr) {
      CompleteRequest(cancelled, STATUS_CANCELLED, 0);
    }
  }
}

NTSTATUS LatencyDevice::OnRead(PIRP irp)
{
  Lock();
  KIRQL irql;
  KeAcquireSpinLock(&m_statisticsLock, &irql);
  NTSTATUS status;
  if (m_lost) {
    m_lost = false;
    KeReleaseSpinLock(&m_statisticsLock, irql);
    status = CompleteRequest(irp, NTSTATUS(LATENCY_ERR_OVERFLOW), 0);
  } else {
    status = m_readQueue.Insert(irp);
    KeReleaseSpinLock(&m_statisticsLock, irql);
  }
  Unlock();
  return status;
}
