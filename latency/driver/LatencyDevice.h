// The measuring device: a one-shot kernel timer, re-armed from its own DPC, whose DPC
// measures the time since the previous one. The statistics of those intervals answer
// IOCTL_LATENCY_GET_VALUES; the raw intervals feed pending read requests.
#pragma once

#include <ntddk.h>

#include "LatencyDeviceBase.h"
#include "LatencyProtocol.h"
#include "ReadQueue.h"

// Intervals discarded after each START.
constexpr ULONG LATENCY_WARMUP_SKIP = 105;
// Entries of the interval ring; the mean is over exactly this many.
constexpr ULONG LATENCY_RING_SIZE = 100;

class LatencyDevice : public LatencyDeviceBase {
public:
  LatencyDevice();
  ~LatencyDevice() override;

  // Creates the device object and its symbolic link; on failure nothing of them remains.
  NTSTATUS CreateDeviceObject(PDRIVER_OBJECT driverObject);

  NTSTATUS OnCreate(PIRP irp) override;
  NTSTATUS OnCleanup(PIRP irp) override;
  NTSTATUS OnClose(PIRP irp) override;
  NTSTATUS OnRead(PIRP irp) override;
  NTSTATUS OnDeviceControl(PIRP irp) override;
  void Lock() override;
  void Unlock() override;

protected:
  NTSTATUS OnWaitWake(PIRP irp) override;

private:
  // See ArmNextTimer for why there are two.
  struct MeasuringTimer {
    KTIMER timer;
    KDPC dpc;
  };

  static KDEFERRED_ROUTINE TimerDpcRoutine;
  static DRIVER_CANCEL CurrentReadCancelled;
  void TimerDpc(PKDPC dpc);
  void ArmNextTimer(MeasuringTimer& timer);
  void StopTimer();
  void RecordInterval(ULONG interval);
  void FeedReadStream(ULONG interval);
  void TakeNextRead();
  PIRP DetachCurrentRead();
  void ResetStatistics();
  void Stop();
  void EndHandle(PFILE_OBJECT file);
  void CancelReadsOf(PFILE_OBJECT file);
  NTSTATUS Start(const void* input, void* output);
  void GetValues(LatencyValues* values);

  bool m_lost = false;
  ULONG m_readFill = 0;
  ULONG m_readCapacity = 0;
  ULONG* m_readBuffer = nullptr;
  bool m_minimumValid = false;
  bool m_maximumValid = false;
  bool m_ringFull = false;
  bool m_haveStamp = false;
  ULONG m_ringIndex = 0;
  ULONG m_minimumInterval = 0;
  ULONG m_maximumInterval = 0;
  ULONG m_averageInterval = 0;
  ULONG m_period = 0;
  ULONG m_ring[LATENCY_RING_SIZE] = {};
  ULONG m_skipCount = 0;
  LONGLONG m_previousStamp = 0;
  ReadQueue m_readQueue;
  PIRP m_currentRead = nullptr;
  KMUTEX m_mutex;
  KSPIN_LOCK m_statisticsLock;
  MeasuringTimer m_timers[2];
  bool m_running = false;
  bool m_linkCreated = false;
  // The handle whose START began the measurement; only its going away ends it.
  PFILE_OBJECT m_owner = nullptr;
};
