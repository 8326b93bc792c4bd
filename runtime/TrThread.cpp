#include "TrThread.h"

#include "TrClock.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace Tr {

namespace {

constexpr std::uint32_t stopDeadlineMs = 500;
// A wait that begins after the deadline has passed still gives the thread this much.
constexpr std::uint32_t lateStopGraceMs = 100;
constexpr int pollsPerClockReading = 20;
constexpr std::uint32_t killSettleMs = 10;

} // namespace

BRunnable::~BRunnable() = default;

BThreadListener::~BThreadListener() = default;

BThread::BThread(const TString& threadName) : name(threadName)
{
}

BThread::~BThread()
{
  lock.lock();
  destroying = true;
  lock.unlock();
  requestStop();
  stop();
  waitForEndedThreads();
  for (void* const handle : endedHandles) {
    CloseHandle(handle);
  }
  if (threadHandle != nullptr) {
    CloseHandle(threadHandle);
  }
}

// Nothing adds to the list any more: starts are refused, and the last run has ended or been
// killed. A thread that has ended its work may still be telling its listener, which the object
// handed itself to: killing it there would leave whatever the listener held (a lock of the
// program's, the heap) held for good, so it gets all the time it takes. The calling thread is
// one of them when a listener deletes the object.
void BThread::waitForEndedThreads()
{
  const DWORD self = GetCurrentThreadId();
  for (void* const handle : endedHandles) {
    if (GetThreadId(handle) != self) {
      WaitForSingleObject(handle, INFINITE);
    }
  }
}

void BThread::forgetGoneThreads()
{
  const auto gone = [](void* handle) {
    if (WaitForSingleObject(handle, 0) != WAIT_OBJECT_0) {
      return false;
    }
    CloseHandle(handle);
    return true;
  };
  endedHandles.erase(std::remove_if(endedHandles.begin(), endedHandles.end(), gone),
                     endedHandles.end());
}

bool BThread::start()
{
  lock.lock();
  if (running != 0 || destroying) {
    lock.unlock();
    return false;
  }
  // The earlier runs' threads that are still in their listeners stay in the list.
  forgetGoneThreads();
  try {
    endedHandles.reserve(endedHandles.size() + 1);
  } catch (const std::bad_alloc&) {
    lock.unlock();
    return false;
  }
  if (threadHandle != nullptr) { // a killed thread's
    CloseHandle(threadHandle);
    threadHandle = nullptr;
  }
  threadId = 0;
  stopRequested = 0;
  stopRequestTime = 0;
  stopEvent.reset();

  // Suspended until the fields say whose thread it is: the work may ask isCurrentThread()
  // at once, and the end of the body compares threadId under the lock.
  DWORD id = 0;
  const HANDLE handle = CreateThread(nullptr, 0, threadMain, this, CREATE_SUSPENDED, &id);
  if (handle != nullptr) {
    threadHandle = handle;
    threadId = id;
    running = 1;
    ResumeThread(handle);
  }
  lock.unlock();
  return handle != nullptr;
}

bool BThread::isCurrentThread() const
{
  return threadId == GetCurrentThreadId();
}

std::uint32_t BThread::currentThreadId()
{
  return GetCurrentThreadId();
}

void BThread::signalStopEvent()
{
  stopEvent.set();
}

// Under the lock: a thread that deletes itself takes the lock before it can, so the request's
// writes land in a live object even when the thread sees the flag at once and ends.
void BThread::requestStop()
{
  lock.lock();
  if (stopRequested == 0) {
    stopRequestTime = getMilliseconds();
    stopRequested = 1;
  }
  stopEvent.set();
  lock.unlock();
}

bool BThread::waitForStop()
{
  if (running == 0 || isCurrentThread()) {
    return true;
  }
  std::uint32_t base = stopRequestTime;
  const std::uint32_t now = getMilliseconds();
  if (now - base > stopDeadlineMs) {
    base = now - (stopDeadlineMs - lateStopGraceMs);
  }
  int passes = 0;
  while (running != 0) {
    if (++passes > pollsPerClockReading) {
      passes = 0;
      if (getMilliseconds() - base > stopDeadlineMs) {
        break;
      }
    }
    sleepMs(1);
  }
  return running == 0;
}

bool BThread::stop()
{
  if (running == 0) {
    return true;
  }
  if (isCurrentThread()) {
    requestStop();
    return true;
  }
  // A thread that deletes itself may be gone as soon as the lock is released after the
  // request: whether it does is read before, and nothing of the object is touched after.
  lock.lock();
  const bool ownedByItsThread = autoDelete != 0;
  requestStop();
  lock.unlock();
  if (ownedByItsThread) {
    return true;
  }
  if (!waitForStop() && terminate()) {
    sleepMs(killSettleMs);
    return false;
  }
  return true;
}

void BThread::kill()
{
  terminate();
}

// Under the lock, so that a thread is never killed in the middle of its end-of-thread
// bookkeeping (which would leave the lock held for good), and a thread that ended meanwhile
// is not killed at all.
bool BThread::terminate()
{
  lock.lock();
  const bool killed = running != 0;
  if (killed) {
    TerminateThread(threadHandle, 0);
    sleepMs(killSettleMs);
    running = 0;
  }
  lock.unlock();
  return killed;
}

void BThread::run()
{
}

unsigned long __stdcall BThread::threadMain(void* object)
{
  auto* const thread = static_cast<BThread*>(object);
  thread->activeRuns.fetch_add(1);
  if (thread->runnable != nullptr) {
    thread->runnable->run(*thread);
  } else {
    thread->run();
  }
  thread->activeRuns.fetch_sub(1);

  BThreadListener* toTell = nullptr;
  std::int32_t deleteObject = 0;
  thread->lock.lock();
  if (thread->threadId == GetCurrentThreadId()) {
    toTell = thread->listener;
    deleteObject = thread->autoDelete;
    thread->stopRequested = 1;
    thread->endedHandles.push_back(thread->threadHandle); // start() made the room
    thread->threadHandle = nullptr;
    thread->threadId = 0;
    thread->running = 0;
  }
  thread->lock.unlock();

  if (toTell != nullptr) {
    toTell->threadFinished(*thread);
  }
  if (deleteObject != 0) {
    delete thread;
  }
  return 0;
}

} // namespace Tr
