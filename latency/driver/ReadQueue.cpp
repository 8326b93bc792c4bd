#include "ReadQueue.h"

#include "LatencyDeviceBase.h"

namespace {

// The queue that holds a request, for its cancel routine.
ReadQueue*& QueueOf(PIRP irp)
{
  return *reinterpret_cast<ReadQueue**>(&irp->Tail.Overlay.DriverContext[0]);
}

PIRP IrpOf(PLIST_ENTRY entry)
{
  return CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
}

} // namespace

void ReadQueue::Initialize()
{
  KeInitializeSpinLock(&m_lock);
  InitializeListHead(&m_pending);
  InitializeListHead(&m_cancelling);
}

NTSTATUS ReadQueue::Insert(PIRP irp)
{
  QueueOf(irp) = this;
  IoMarkIrpPending(irp);
  KIRQL irql;
  KeAcquireSpinLock(&m_lock, &irql);
  IoSetCancelRoutine(irp, CancelRoutine);
  if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
    // Cancelled before the routine was in place: nobody else will complete it.
    KeReleaseSpinLock(&m_lock, irql);
    LatencyDeviceBase::CompleteRequest(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
  }
  // If the cancel routine runs already it waits for the lock and unlinks the request.
  InsertTailList(&m_pending, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&m_lock, irql);
  return STATUS_PENDING;
}

PIRP ReadQueue::RemoveHead()
{
  KIRQL irql;
  KeAcquireSpinLock(&m_lock, &irql);
  PIRP irp = nullptr;
  while (irp == nullptr && !IsListEmpty(&m_pending)) {
    PLIST_ENTRY entry = RemoveHeadList(&m_pending);
    PIRP candidate = IrpOf(entry);
    if (IoSetCancelRoutine(candidate, nullptr) == nullptr) {
      InsertTailList(&m_cancelling, entry);
    } else {
      irp = candidate;
    }
  }
  KeReleaseSpinLock(&m_lock, irql);
  return irp;
}

void ReadQueue::CancelAll()
{
  Cancel(true, nullptr);
}

void ReadQueue::CancelFile(PFILE_OBJECT file)
{
  Cancel(false, file);
}

void ReadQueue::Cancel(bool everything, PFILE_OBJECT file)
{
  LIST_ENTRY cancelled;
  InitializeListHead(&cancelled);
  KIRQL irql;
  KeAcquireSpinLock(&m_lock, &irql);
  PLIST_ENTRY entry = m_pending.Flink;
  while (entry != &m_pending) {
    PLIST_ENTRY next = entry->Flink;
    PIRP irp = IrpOf(entry);
    if (everything || IoGetCurrentIrpStackLocation(irp)->FileObject == file) {
      RemoveEntryList(entry);
      if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
        InsertTailList(&m_cancelling, entry);
      } else {
        InsertTailList(&cancelled, entry);
      }
    }
    entry = next;
  }
  KeReleaseSpinLock(&m_lock, irql);
  while (!IsListEmpty(&cancelled)) {
    LatencyDeviceBase::CompleteRequest(IrpOf(RemoveHeadList(&cancelled)), STATUS_CANCELLED, 0);
  }
}

VOID NTAPI ReadQueue::CancelRoutine(PDEVICE_OBJECT, PIRP irp)
{
  IoReleaseCancelSpinLock(irp->CancelIrql);
  ReadQueue* queue = QueueOf(irp);
  KIRQL irql;
  KeAcquireSpinLock(&queue->m_lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&queue->m_lock, irql);
  LatencyDeviceBase::CompleteRequest(irp, STATUS_CANCELLED, 0);
}
