#pragma once

#include "TrString.h"
#include "TrSync.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace Tr {

class BThread;

/** Work that a BThread runs in place of its own run(). */
class BRunnable {
public:
  virtual ~BRunnable();
  virtual void run(BThread& thread) = 0;
};

/** Told on the ended thread, after its bookkeeping and outside its lock, so that it may call
    back into the object (start it again, for instance). Not told when the thread was killed. */
class BThreadListener {
public:
  virtual ~BThreadListener();
  virtual void threadFinished(BThread& thread) = 0;
};

/** A system thread with a stop protocol: stop() asks the work to end (stopRequested and
    stopEvent tell it), waits until 500 ms after the first request, and kills the thread when
    it is still running then.

    The work must stop when asked: killing may leave whatever the thread held (a lock, the
    heap) held for good. A derived class whose run() uses its own members stops the thread in
    its own destructor: by the time ~BThread stops it, the derived part is gone.

    With autoDelete set the object belongs to its thread, which deletes it when it ends; stop()
    then does not wait, touches nothing of the object once its thread can see the request, and
    no other code may delete the object while it runs.

    The destructor stops a running thread as stop() does, then waits, for as long as it takes,
    for every other thread of the object that has ended its work but is still telling its
    listener (a run started again may leave several). A listener must never wait for the
    thread that deletes the object (a message sent to it, say), or both wait for ever. No
    thread of the object runs or reads it once the destructor has returned. */
class BThread {
public:
  explicit BThread(const TString& threadName = TString());
  virtual ~BThread();
  BThread(const BThread&) = delete;
  BThread& operator=(const BThread&) = delete;

  /** Starts the system thread on threadMain, with the stop state cleared. False when the
      thread is running already, the object's destructor has begun (whoever calls) or the
      system cannot start one. */
  bool start();

  bool isRunning() const { return running != 0; }
  bool isCurrentThread() const;
  static std::uint32_t currentThreadId();

  void signalStopEvent();
  /** Remembers the first request and its time; sets stopEvent every time. Made under the
      lock, which the thread takes before it may delete itself. */
  void requestStop();
  /** Waits until 500 ms after the first stop request, or 100 ms from now when that has passed
      already; true when the thread is no longer running. Returns at once on the thread
      itself. */
  bool waitForStop();
  /** Requests the stop and, unless autoDelete is set or the caller is the thread itself,
      waits for it. False when the thread had to be killed. */
  bool stop();
  /** Terminates the thread by force. The handle and the identifier are kept. */
  void kill();

  /** The work; the base version does nothing. Watches stopRequested or stopEvent. */
  virtual void run();

  static unsigned long __stdcall threadMain(void* thread);

  BThreadListener* listener = nullptr; // not owned; may be null
  std::int32_t autoDelete = 0;
  std::atomic<std::int32_t> stopRequested{0};
  BEvent stopEvent{true, false}; // manual reset: stays set once a stop is requested
  std::atomic<std::int32_t> running{0};
  std::atomic<std::int32_t> activeRuns{0}; // threads inside threadMain's run step
  TString name;
  void* threadHandle = nullptr; // owned; kept after a kill, cleared when the thread ends
  std::atomic<std::uint32_t> threadId{0};
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
  std::uint32_t stopRequestTime = 0; // library clock at the first stop request
  BLock lock;                        // guards starting and the end-of-thread bookkeeping
  BRunnable* runnable = nullptr;     // not owned; when set, its run is the work

private:
  bool terminate();
  void waitForEndedThreads();
  void forgetGoneThreads();

  // Set under the lock when the destructor begins: a start from then on would outlive it.
  bool destroying = false;
  // The handles of threads that have ended by themselves and may still be calling their
  // listeners or deleting the object; the destructor waits for each before the object goes.
  // start() makes room for its thread's entry, so the end of a thread never allocates.
  std::vector<void*> endedHandles;
};

} // namespace Tr
