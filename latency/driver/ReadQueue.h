// A cancel-safe queue of pending read requests.
#pragma once

#include <ntddk.h>

class ReadQueue {
public:
  void Initialize();

  // Queues the request and marks it pending; one that was cancelled already is completed with
  // STATUS_CANCELLED instead. Returns STATUS_PENDING either way.
  NTSTATUS Insert(PIRP irp);

  // The oldest request that is not being cancelled, now the caller's; null when none.
  PIRP RemoveHead();

  // Completes every queued request with STATUS_CANCELLED.
  void CancelAll();

  // Completes the queued requests that came through `file` with STATUS_CANCELLED.
  void CancelFile(PFILE_OBJECT file);

private:
  static DRIVER_CANCEL CancelRoutine;

  // With `everything` false only the requests of `file`.
  void Cancel(bool everything, PFILE_OBJECT file);

  KSPIN_LOCK m_lock;
  LIST_ENTRY m_pending;
  // Requests taken off m_pending after their cancel routine had started; the routine still
  // unlinks them, so they must stay on a list until it does.
  LIST_ENTRY m_cancelling;
};
