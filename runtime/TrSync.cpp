#include "TrSync.h"

#include "TrException.h"

#include <windows.h>

namespace Tr {

namespace {

HANDLE makeEvent(bool manualReset, bool initiallySet)
{
  const HANDLE event = CreateEventA(nullptr, manualReset, initiallySet, nullptr);
  if (event == nullptr) {
    throw Exception("CreateEvent failed");
  }
  return event;
}

bool waitFor(HANDLE event, std::uint32_t timeoutMs)
{
  return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

} // namespace

BLock::BLock() : section(new CRITICAL_SECTION)
{
  InitializeCriticalSection(section);
}

BLock::~BLock()
{
  DeleteCriticalSection(section);
  delete section;
}

void BLock::lock()
{
  EnterCriticalSection(section);
}

void BLock::unlock()
{
  LeaveCriticalSection(section);
}

BEvent::BEvent(bool manualReset, bool initiallySet) : handle(makeEvent(manualReset, initiallySet))
{
}

BEvent::~BEvent()
{
  CloseHandle(handle);
}

void BEvent::set()
{
  SetEvent(handle);
}

void BEvent::reset()
{
  ResetEvent(handle);
}

bool BEvent::wait(std::uint32_t timeoutMs)
{
  return waitFor(handle, timeoutMs);
}

struct BLockedEvent::Block {
  CRITICAL_SECTION section;
  HANDLE event;
};

BLockedEvent::BLockedEvent(bool manualReset, bool initiallySet) : block(new Block)
{
  try {
    block->event = makeEvent(manualReset, initiallySet);
  } catch (...) {
    delete block;
    throw;
  }
  InitializeCriticalSection(&block->section);
}

BLockedEvent::~BLockedEvent()
{
  DeleteCriticalSection(&block->section);
  CloseHandle(block->event);
  delete block;
}

void BLockedEvent::lock()
{
  EnterCriticalSection(&block->section);
}

void BLockedEvent::unlock()
{
  LeaveCriticalSection(&block->section);
}

void BLockedEvent::set()
{
  SetEvent(block->event);
}

void BLockedEvent::reset()
{
  ResetEvent(block->event);
}

bool BLockedEvent::wait(std::uint32_t timeoutMs)
{
  return waitFor(block->event, timeoutMs);
}

// The words change only under stateLock, and each event changes with its word, so a waiter
// that finds a word non-zero under the lock is sure to see the event set once it drops to 0.
// A reader enters only while no writer is inside or waiting; a writer registers first (which
// holds off new readers), then takes writerLock (one writer at a time), then waits for the
// readers that came in before it to leave.
BRWLock::BRWLock() : noReaders(makeEvent(true, true))
{
  try {
    noWriters = makeEvent(true, true);
  } catch (...) {
    CloseHandle(noReaders);
    throw;
  }
}

BRWLock::~BRWLock()
{
  CloseHandle(noReaders);
  CloseHandle(noWriters);
}

void BRWLock::lockRead()
{
  const DWORD self = GetCurrentThreadId();
  for (;;) {
    stateLock.lock();
    if (writers == 0 || writerThread == self) {
      if (++readers == 1) {
        ResetEvent(noReaders);
      }
      stateLock.unlock();
      return;
    }
    stateLock.unlock();
    // Another writer may come in before this reader wakes: then it waits again.
    waitFor(noWriters, waitForever);
  }
}

void BRWLock::unlockRead()
{
  stateLock.lock();
  if (--readers == 0) {
    SetEvent(noReaders);
  }
  stateLock.unlock();
}

void BRWLock::lockWrite()
{
  stateLock.lock();
  if (++writers == 1) {
    ResetEvent(noWriters);
  }
  stateLock.unlock();

  writerLock.lock();
  waitFor(noReaders, waitForever);

  stateLock.lock();
  writerThread = GetCurrentThreadId();
  stateLock.unlock();
}

void BRWLock::unlockWrite()
{
  stateLock.lock();
  writerThread = 0;
  stateLock.unlock();

  writerLock.unlock();

  stateLock.lock();
  if (--writers == 0) {
    SetEvent(noWriters);
  }
  stateLock.unlock();
}

std::int32_t BRWLock::getReaderCount()
{
  stateLock.lock();
  const std::int32_t count = readers;
  stateLock.unlock();
  return count;
}

std::int32_t BRWLock::getWriterCount()
{
  stateLock.lock();
  const std::int32_t count = writers;
  stateLock.unlock();
  return count;
}

} // namespace Tr
