#pragma once

#include <cstdint>

struct _RTL_CRITICAL_SECTION;

namespace Tr {

/** Timeout for the waits below that never runs out. */
constexpr std::uint32_t waitForever = 0xFFFFFFFF;

/** A mutual-exclusion lock over a critical section: recursive for the thread that holds it. */
class BLock {
public:
  BLock();
  virtual ~BLock();
  BLock(const BLock&) = delete;
  BLock& operator=(const BLock&) = delete;

  void lock();
  void unlock();

private:
  _RTL_CRITICAL_SECTION* section; // owned
};

/** An event; throws Tr::Exception when the system cannot make one. */
class BEvent {
public:
  /** A manual-reset event stays set until reset; an auto-reset one lets one wait through. */
  explicit BEvent(bool manualReset = true, bool initiallySet = false);
  virtual ~BEvent();
  BEvent(const BEvent&) = delete;
  BEvent& operator=(const BEvent&) = delete;

  void set();
  void reset();
  /** True when the event was set within timeoutMs. */
  bool wait(std::uint32_t timeoutMs = waitForever);
  /** The event's HANDLE, for waits on several objects. */
  void* getHandle() const { return handle; }

private:
  void* handle; // owned
};

/** An event paired with a lock, for a state that a lock guards and that waiters watch: change
    the state under lock(), then set() or reset(); wait() without holding the lock. */
class BLockedEvent {
public:
  explicit BLockedEvent(bool manualReset = true, bool initiallySet = false);
  virtual ~BLockedEvent();
  BLockedEvent(const BLockedEvent&) = delete;
  BLockedEvent& operator=(const BLockedEvent&) = delete;

  void lock();
  void unlock();
  void set();
  void reset();
  bool wait(std::uint32_t timeoutMs = waitForever);

private:
  struct Block;
  Block* block; // owned: the critical section, then the event
};

/** A reader/writer lock: any number of readers at once, or one writer alone. A writer that
    asks is served before readers that ask after it, so writers do not starve.

    The writer thread may also read while it writes. Reads do not nest otherwise: a reader that
    asks again while a writer waits waits for that writer, which waits for the reader. Write
    access does not nest either. */
class BRWLock {
public:
  BRWLock();
  virtual ~BRWLock();
  BRWLock(const BRWLock&) = delete;
  BRWLock& operator=(const BRWLock&) = delete;

  void lockRead();
  void unlockRead();
  void lockWrite();
  void unlockWrite();

  /** Readers inside, and writers inside or waiting, for diagnostics and tests. */
  std::int32_t getReaderCount();
  std::int32_t getWriterCount();

private:
  BLock stateLock;                // guards the three words and the events' states
  BLock writerLock;               // held by the writer for the length of its write
  std::int32_t readers = 0;       // readers inside
  std::int32_t writers = 0;       // writers inside or waiting; while non-zero no reader enters
  std::uint32_t writerThread = 0; // identifier of the thread that writes, 0 when none
  void* noReaders;                // manual-reset event, set while readers is 0
  void* noWriters;                // manual-reset event, set while writers is 0
};

} // namespace Tr
