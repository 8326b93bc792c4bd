#include "TrClock.h"
#include "TrThread.h"

#include "freed_memory_guard.h"
#include "system_clock.h"
#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

using test::waitUntil;
using Tr::BThread;

namespace {

struct Work : Tr::BRunnable {
  explicit Work(std::function<void(BThread&)> f) : body(std::move(f)) {}
  void run(BThread& thread) override { body(thread); }
  std::function<void(BThread&)> body;
};

// What the listener saw when it was told.
struct Told : Tr::BThreadListener {
  void threadFinished(BThread& thread) override
  {
    sawRunning = thread.isRunning();
    sawHandle = thread.threadHandle;
    sawId = thread.threadId;
    if (onTold) {
      onTold(thread);
    }
    told++;
  }
  std::atomic<int> told{0};
  bool sawRunning = true;
  void* sawHandle = reinterpret_cast<void*>(1);
  std::uint32_t sawId = 1;
  std::function<void(BThread&)> onTold;
};

void ignoreTheStop(BThread&)
{
  for (;;) {
    Tr::sleepMs(1);
  }
}

void waitForTheStop(BThread& thread)
{
  thread.stopEvent.wait();
}

} // namespace

TEST(BThread, StoppingAThreadThatDoesNotRunChangesNothing)
{
  BThread thread;
  EXPECT_FALSE(thread.isRunning());
  EXPECT_TRUE(thread.stop());
  EXPECT_TRUE(thread.waitForStop());
  EXPECT_EQ(thread.stopRequested, 0);
  EXPECT_EQ(thread.stopRequestTime, 0u);
}

TEST(BThread, AThreadThatEndsByItselfTellsItsListener)
{
  std::atomic<bool> wasCurrent{false};
  std::atomic<std::uint32_t> idInside{0};
  // The work ends only once the test has read the identifier: a thread that ends at once
  // clears it, on a busy machine before the starting thread gets to read it.
  Tr::BEvent identifierRead;
  Work work([&](BThread& t) {
    wasCurrent = t.isCurrentThread();
    idInside = BThread::currentThreadId();
    identifierRead.wait();
  });
  Told listener;
  BThread thread("worker");
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  const std::uint32_t id = thread.threadId;
  identifierRead.set();
  EXPECT_NE(id, 0u);
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }));

  EXPECT_TRUE(wasCurrent);
  EXPECT_EQ(idInside, id);
  EXPECT_FALSE(thread.isCurrentThread());
  EXPECT_FALSE(thread.isRunning());
  EXPECT_EQ(thread.stopRequested, 1);
  EXPECT_EQ(thread.threadHandle, nullptr);
  EXPECT_EQ(thread.threadId, 0u);
  EXPECT_EQ(thread.activeRuns, 0);
  EXPECT_STREQ(thread.name.text(), "worker");
  // The bookkeeping was done before the listener was told.
  EXPECT_FALSE(listener.sawRunning);
  EXPECT_EQ(listener.sawHandle, nullptr);
  EXPECT_EQ(listener.sawId, 0u);

  EXPECT_TRUE(thread.stop());
  EXPECT_EQ(thread.stopRequestTime, 0u);
}

// The tests that expect a thread to end when asked hold the library clock: the stop's deadline
// then cannot pass while a busy machine keeps the thread from running.

TEST(BThread, StartsOnceAtATimeAndAfreshAfterItsEnd)
{
  std::atomic<int> runs{0};
  std::atomic<int> requestedAtStart{-1};
  Work work([&](BThread& t) {
    requestedAtStart = t.stopRequested.load();
    runs++;
    t.stopEvent.wait(20000);
  });
  BThread thread;
  thread.runnable = &work;
  test::HeldClock clock;
  for (int round = 1; round <= 2; round++) {
    ASSERT_TRUE(thread.start());
    EXPECT_FALSE(thread.start());
    ASSERT_TRUE(waitUntil([&] { return runs == round; }));
    EXPECT_EQ(requestedAtStart, 0);
    EXPECT_TRUE(thread.stop());
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(thread.stopRequested, 1);
  }
}

TEST(BThread, AThreadThatHonoursTheStopIsNotKilled)
{
  std::atomic<bool> finished{false};
  Work work([&](BThread& t) {
    t.stopEvent.wait();
    finished = true;
  });
  Told listener;
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  test::HeldClock clock;
  ASSERT_TRUE(thread.start());
  EXPECT_TRUE(thread.stop());
  EXPECT_TRUE(finished);
  EXPECT_FALSE(thread.isRunning());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }));
}

// The stopper runs on a worker of its own against a held clock: the test moves the clock and
// sees the thread still alive at the deadline and killed one millisecond past it.
TEST(BThread, AThreadThatIgnoresTheStopIsKilledHalfASecondAfterTheRequest)
{
  Work work(&ignoreTheStop);
  Told listener;
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  void* const handle = thread.threadHandle;
  const std::uint32_t id = thread.threadId;

  test::HeldClock clock;
  const std::uint32_t requestedAt = clock.now();
  std::atomic<int> stopResult{-1};
  {
    test::Worker stopper([&] { stopResult = thread.stop() ? 1 : 0; });
    for (const std::uint32_t after : {0u, 499u, 500u}) {
      clock.set(requestedAt + after);
      ASSERT_TRUE(clock.waitForReadings(2)) << "gave up " << after << " ms after the request";
      EXPECT_EQ(stopResult, -1);
      EXPECT_TRUE(thread.isRunning());
    }
    clock.set(requestedAt + 501);
    ASSERT_TRUE(stopper.join(20000));
  }
  EXPECT_EQ(stopResult, 0);
  EXPECT_EQ(thread.stopRequestTime, requestedAt);

  EXPECT_FALSE(thread.isRunning());
  EXPECT_EQ(WaitForSingleObject(handle, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(thread.threadHandle, handle);
  EXPECT_EQ(thread.threadId, id);
  EXPECT_EQ(listener.told, 0);

  // A killed thread object can be started again.
  std::atomic<bool> ranAgain{false};
  Work again([&](BThread&) { ranAgain = true; });
  thread.runnable = &again;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }));
  EXPECT_TRUE(ranAgain);
}

// Asked 700 ms after the request, the wait gives the thread until 800 ms after it: 100 ms more,
// not a fresh half second and not none at all.
TEST(BThread, AWaitThatBeginsLateStillGivesTheThreadAboutATenthOfASecond)
{
  Work work(&ignoreTheStop);
  BThread thread;
  thread.runnable = &work;
  ASSERT_TRUE(thread.start());

  test::HeldClock clock;
  thread.requestStop();
  const std::uint32_t requestedAt = thread.stopRequestTime;
  EXPECT_EQ(requestedAt, clock.now());
  clock.set(requestedAt + 700);
  std::atomic<int> stopResult{-1};
  {
    test::Worker stopper([&] { stopResult = thread.stop() ? 1 : 0; });
    for (const std::uint32_t after : {700u, 799u, 800u}) {
      clock.set(requestedAt + after);
      ASSERT_TRUE(clock.waitForReadings(2)) << "gave up " << after << " ms after the request";
      EXPECT_EQ(stopResult, -1);
      EXPECT_TRUE(thread.isRunning());
    }
    clock.set(requestedAt + 801);
    ASSERT_TRUE(stopper.join(20000)) << "still waiting 801 ms after the request";
  }
  EXPECT_EQ(stopResult, 0);
  EXPECT_EQ(thread.stopRequestTime, requestedAt);
  EXPECT_FALSE(thread.isRunning());
}

TEST(BThread, LaterRequestsKeepTheFirstTimeAndSetTheEventAgain)
{
  BThread thread;
  thread.signalStopEvent();
  EXPECT_TRUE(thread.stopEvent.wait(0));
  EXPECT_EQ(thread.stopRequested, 0);
  thread.stopEvent.reset();

  test::HeldClock clock;
  thread.requestStop();
  const std::uint32_t first = thread.stopRequestTime;
  EXPECT_EQ(first, clock.now());
  EXPECT_EQ(thread.stopRequested, 1);
  EXPECT_TRUE(thread.stopEvent.wait(0));
  thread.stopEvent.reset();
  clock.set(first + 30);
  thread.requestStop();
  EXPECT_EQ(thread.stopRequestTime, first);
  EXPECT_TRUE(thread.stopEvent.wait(0));
}

// With the clock held, a thread that waited for itself would wait for ever: its listener would
// never be told.
TEST(BThread, TheThreadMayStopItself)
{
  std::atomic<bool> stopResult{false};
  std::atomic<bool> waitResult{false};
  std::atomic<int> requested{0};
  Work work([&](BThread& t) {
    stopResult = t.stop();
    waitResult = t.waitForStop();
    requested = t.stopRequested.load();
  });
  Told listener;
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  test::HeldClock clock;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; })); // not killed, did not wait
  EXPECT_TRUE(stopResult);
  EXPECT_TRUE(waitResult);
  EXPECT_EQ(requested, 1);
}

namespace {

std::mutex orderMutex;
std::vector<std::string> order;

void note(const std::string& what)
{
  const std::lock_guard<std::mutex> guard(orderMutex);
  order.push_back(what);
}

class SelfDeleting : public BThread {
public:
  SelfDeleting(Tr::BEvent& mayEndEvent, Tr::BEvent& deletedEvent)
      : mayEnd(mayEndEvent), deleted(deletedEvent)
  {
  }
  ~SelfDeleting() override
  {
    note("deleted");
    deleted.set();
  }
  void run() override
  {
    stopEvent.wait();
    mayEnd.wait(20000);
  }

private:
  Tr::BEvent& mayEnd;
  Tr::BEvent& deleted;
};

// Ends the moment it sees the request, and deletes itself.
class Spinning : public BThread {
public:
  Spinning(Tr::BEvent& spinningEvent, Tr::BEvent& deletedEvent)
      : spinning(spinningEvent), deleted(deletedEvent)
  {
  }
  ~Spinning() override { deleted.set(); }
  void run() override
  {
    spinning.set();
    while (stopRequested == 0) {
      YieldProcessor();
    }
  }

private:
  Tr::BEvent& spinning;
  Tr::BEvent& deleted;
};

} // namespace

// The thread waits for the test's word after the stop, so stop() returning first shows that it
// did not wait (with the clock held, a wait would only end in a kill, and nothing is deleted).
TEST(BThread, AnAutoDeletingThreadDeletesItselfAfterTellingItsListener)
{
  order.clear();
  Tr::BEvent mayEnd;
  Tr::BEvent deleted;
  Told listener;
  listener.onTold = [](BThread&) { note("told"); };
  auto* thread = new SelfDeleting(mayEnd, deleted);
  thread->autoDelete = 1;
  thread->listener = &listener;
  test::HeldClock clock;
  ASSERT_TRUE(thread->start());
  EXPECT_TRUE(thread->stop());
  EXPECT_FALSE(deleted.wait(0));
  mayEnd.set();
  ASSERT_TRUE(deleted.wait(20000));
  const std::lock_guard<std::mutex> guard(orderMutex);
  EXPECT_EQ(order, (std::vector<std::string>{"told", "deleted"}));
}

namespace {

// The thread whose stop the test asks for, and the thread that asks.
std::atomic<BThread*> stopped{nullptr};
std::atomic<DWORD> stopperId{0};

// A clock reading that the stopper makes once its request can be seen waits until the thread
// has deleted the object: whatever the stop touches after that is freed memory. Reading the
// flag here is safe as long as the request is not visible before the reading.
DWORD clockThatLetsTheThreadGoFirst()
{
  BThread* const thread = stopped;
  if (thread != nullptr && GetCurrentThreadId() == stopperId && thread->stopRequested != 0)
    waitUntil([thread] { return test::isDeleted(thread); });
  return test::systemClock();
}

struct ClockOfTheStopper {
  ClockOfTheStopper()
  {
    stopperId = GetCurrentThreadId();
    test::setClockSource(&clockThatLetsTheThreadGoFirst);
  }
  ~ClockOfTheStopper() { test::setClockSource(nullptr); }
};

} // namespace

// Deleted memory is unreadable in this program: a stop() that touched the object after its
// request could be seen would fault here, at the latest after the clock reading that lets the
// thread delete the object first.
TEST(BThread, StoppingAThreadThatDeletesItselfAtOnceTouchesNothingAfterTheRequest)
{
  const ClockOfTheStopper clock;
  for (int round = 0; round < 200; round++) {
    Tr::BEvent spinning;
    Tr::BEvent deleted;
    auto* thread = new Spinning(spinning, deleted);
    thread->autoDelete = 1;
    ASSERT_TRUE(thread->start());
    ASSERT_TRUE(spinning.wait(20000));
    stopped = thread;
    EXPECT_TRUE(thread->stop());
    stopped = nullptr;
    ASSERT_TRUE(deleted.wait(20000)) << "round " << round;
  }
}

TEST(BThread, TheListenerIsToldAfterTheLockIsReleased)
{
  std::atomic<bool> lockWasFree{false};
  Told listener;
  listener.onTold = [&](BThread& t) {
    test::Worker other([&] {
      t.lock.lock();
      t.lock.unlock();
    });
    lockWasFree = other.join(20000);
  };
  Work work([](BThread&) {});
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }, 30000));
  EXPECT_TRUE(lockWasFree);
}

TEST(BThread, TheListenerMayStartTheThreadAgain)
{
  std::atomic<int> runs{0};
  Work work([&](BThread&) { runs++; });
  Told listener;
  listener.onTold = [&](BThread& t) {
    if (runs < 3) {
      t.start();
    }
  };
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 3; }));
  EXPECT_EQ(runs, 3);
  ASSERT_TRUE(waitUntil([&] { return !thread.isRunning(); }));
}

namespace {

// Says when it begins to go; the BThread part is still whole then.
class Announcing : public BThread {
public:
  Announcing(const char* threadName, Tr::BEvent& deletingEvent)
      : BThread(threadName), deleting(deletingEvent)
  {
  }
  ~Announcing() override { deleting.set(); }

private:
  Tr::BEvent& deleting;
};

} // namespace

// The listener reads the object only once its deletion has begun: a destructor that did not
// wait for the thread would free it under the listener (and deleted memory faults here).
TEST(BThread, DeletingTheObjectWaitsUntilItsThreadIsDoneWithIt)
{
  Tr::BEvent deleting;
  std::atomic<bool> listenerDone{false};
  Told listener;
  listener.onTold = [&](BThread& t) {
    deleting.wait(20000);
    listenerDone = std::strcmp(t.name.text(), "still here") == 0;
  };
  Work work([](BThread&) {});
  auto* thread = new Announcing("still here", deleting);
  thread->runnable = &work;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  ASSERT_TRUE(waitUntil([&] { return !thread->isRunning(); }));
  delete thread;
  EXPECT_TRUE(listenerDone);
}

// The first run's listener starts the thread again once the destructor has asked for the stop.
// A start that succeeded there would leave a run on the freed object, whose work reads the
// object after the delete has returned (and deleted memory faults here).
TEST(BThread, AStartMadeWhileTheObjectIsDeletedIsRefused)
{
  Tr::BEvent listenerEntered;
  Tr::BEvent deleteReturned;
  Tr::BEvent secondRunDone;
  std::atomic<int> runs{0};
  std::atomic<bool> secondRunSawItsName{false};
  Work work([&](BThread& t) {
    if (++runs == 2) {
      deleteReturned.wait(20000);
      secondRunSawItsName = std::strcmp(t.name.text(), "restarted") == 0;
      secondRunDone.set();
    }
  });
  std::atomic<HANDLE> firstThread{nullptr};
  std::atomic<int> startResult{-1};
  Told listener;
  listener.onTold = [&](BThread& t) {
    if (firstThread != nullptr)
      return;
    firstThread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    listenerEntered.set();
    t.stopEvent.wait(20000); // the destructor's request
    startResult = t.start() ? 1 : 0;
  };
  auto* thread = new BThread("restarted");
  thread->runnable = &work;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  ASSERT_TRUE(listenerEntered.wait(20000));
  delete thread;
  const bool firstThreadWasGone = WaitForSingleObject(firstThread, 0) == WAIT_OBJECT_0;
  deleteReturned.set();
  if (startResult == 1)
    secondRunDone.wait(20000);
  EXPECT_EQ(startResult, 0);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(firstThreadWasGone);
  CloseHandle(firstThread);
}

// The owner starts the thread again while the first run's thread is still telling its listener,
// and deletes the object once the second run's thread is gone. The first listener goes on
// reading the object for a while after its deletion has begun: a destructor that did not wait
// for the first run frees the object under that listener (and deleted memory faults here).
TEST(BThread, DeletingTheObjectWaitsForAnEarlierRunStillTellingItsListener)
{
  Tr::BEvent firstTold;
  Tr::BEvent secondTold;
  Tr::BEvent deleting;
  std::atomic<bool> firstListenerDone{false};
  std::atomic<HANDLE> firstThread{nullptr};
  std::atomic<HANDLE> secondThread{nullptr};
  Told listener;
  listener.onTold = [&](BThread& t) {
    const HANDLE self = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    if (firstThread != nullptr) {
      secondThread = self;
      secondTold.set();
      return;
    }
    firstThread = self;
    firstTold.set();
    deleting.wait(20000);
    bool sawItsName = true;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 500) {
      sawItsName = sawItsName && std::strcmp(t.name.text(), "still here") == 0;
      Sleep(1);
    }
    firstListenerDone = sawItsName;
  };
  Work work([](BThread&) {});
  auto* thread = new Announcing("still here", deleting);
  thread->runnable = &work;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  ASSERT_TRUE(firstTold.wait(20000));
  ASSERT_TRUE(thread->start());
  ASSERT_TRUE(secondTold.wait(20000));
  ASSERT_EQ(WaitForSingleObject(secondThread, 20000), WAIT_OBJECT_0);
  delete thread;
  const bool firstListenerDoneBeforeTheDeleteReturned = firstListenerDone;
  const bool firstThreadWasGone = WaitForSingleObject(firstThread, 0) == WAIT_OBJECT_0;
  WaitForSingleObject(firstThread, 20000);
  EXPECT_TRUE(firstThreadWasGone);
  EXPECT_TRUE(firstListenerDoneBeforeTheDeleteReturned);
  CloseHandle(firstThread);
  CloseHandle(secondThread);
}

namespace {

// What a listener does after the work has returned, while its owner deletes the object. Each
// sets begun once it is under way (holding the lock, for the lock's workload) and returns about
// a second later: past the stop deadline, so that a destructor that ended it at the deadline
// would do so here.
using ListenerWorkload = void (*)(CRITICAL_SECTION& programLock, Tr::BEvent& begun);

constexpr DWORD workloadMs = 1000;

bool workloadTimeLeft(DWORD start)
{
  return GetTickCount() - start < workloadMs;
}

// As a log lock would be held while a line is written.
void holdAProgramLock(CRITICAL_SECTION& programLock, Tr::BEvent& begun)
{
  EnterCriticalSection(&programLock);
  begun.set();
  Sleep(workloadMs);
  LeaveCriticalSection(&programLock);
}

// Mostly inside the heaps' own locks.
void allocateFromTheHeap(CRITICAL_SECTION&, Tr::BEvent& begun)
{
  begun.set();
  const DWORD start = GetTickCount();
  while (workloadTimeLeft(start)) {
    std::free(std::malloc(200000));
    HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 100 * 1024));
  }
}

void sleepAWhile(CRITICAL_SECTION&, Tr::BEvent& begun)
{
  begun.set();
  Sleep(workloadMs);
}

struct ListenerCase {
  const char* name;
  ListenerWorkload workload;
};

void PrintTo(const ListenerCase& listenerCase, std::ostream* out)
{
  *out << listenerCase.name;
}

const ListenerCase listenerCases[] = {
    {"HoldsAProgramLock", &holdAProgramLock},
    {"Sleeps", &sleepAWhile},
    {"AllocatesFromTheHeap", &allocateFromTheHeap},
};

class Busy : public Tr::BThreadListener {
public:
  Busy(ListenerWorkload workloadToRun, CRITICAL_SECTION& lock)
      : workload(workloadToRun), programLock(lock)
  {
  }
  void threadFinished(BThread&) override
  {
    workload(programLock, begun);
    ended = true;
  }
  Tr::BEvent begun;
  std::atomic<bool> ended{false};

private:
  ListenerWorkload workload;
  CRITICAL_SECTION& programLock;
};

class DeletingWhileTheListenerRuns : public testing::TestWithParam<ListenerCase> {
protected:
  DeletingWhileTheListenerRuns() { InitializeCriticalSection(&programLock); }
  ~DeletingWhileTheListenerRuns() override { DeleteCriticalSection(&programLock); }
  CRITICAL_SECTION programLock;
};

} // namespace

// The owner deletes the object once its listener is under way. A listener ended by force in
// the middle leaves its lock or the heap's held: the fresh thread then cannot take them (or the
// delete itself does not return).
TEST_P(DeletingWhileTheListenerRuns, ReturnsOnlyOnceTheListenerHasEnded)
{
  Busy listener(GetParam().workload, programLock);
  Work work([](BThread&) {});
  std::atomic<bool> endedBeforeTheDeleteReturned{false};
  std::atomic<bool> deleted{false};
  {
    test::Worker owner([&] {
      auto* thread = new BThread;
      thread->runnable = &work;
      thread->listener = &listener;
      if (!thread->start() || !listener.begun.wait(20000))
        return;
      delete thread;
      endedBeforeTheDeleteReturned = listener.ended.load();
      deleted = true;
    });
    ASSERT_TRUE(owner.join()) << "the delete did not return";
  }
  ASSERT_TRUE(deleted);
  EXPECT_TRUE(endedBeforeTheDeleteReturned);

  std::atomic<bool> freshThreadDone{false};
  test::Worker fresh([&] {
    EnterCriticalSection(&programLock);
    LeaveCriticalSection(&programLock);
    std::free(std::malloc(200000));
    HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 100 * 1024));
    freshThreadDone = true;
  });
  ASSERT_TRUE(fresh.join()) << "a fresh thread could not take the lock and allocate";
  EXPECT_TRUE(freshThreadDone);
}

INSTANTIATE_TEST_SUITE_P(BThread, DeletingWhileTheListenerRuns, testing::ValuesIn(listenerCases),
                         [](const testing::TestParamInfo<ListenerCase>& info) {
                           return std::string(info.param.name);
                         });

// The destructor waits for every thread still telling its listener except the one that calls
// it: waiting for that one would never end. The listener deletes only once start() has
// returned, which still uses the object.
TEST(BThread, ItsListenerMayDeleteTheObject)
{
  Tr::BEvent started;
  std::atomic<HANDLE> listenerThread{nullptr};
  std::atomic<bool> deleteReturned{false};
  Told listener;
  listener.onTold = [&](BThread& t) {
    listenerThread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    started.wait(20000);
    delete &t;
    deleteReturned = true;
  };
  Work work([](BThread&) {});
  auto* thread = new BThread;
  thread->runnable = &work;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  started.set();
  ASSERT_TRUE(waitUntil([&] { return deleteReturned.load(); }))
      << "the listener's delete waits for its own thread";
  EXPECT_EQ(WaitForSingleObject(listenerThread, 20000), WAIT_OBJECT_0);
  CloseHandle(listenerThread);
}

TEST(BThread, DeletingARunningThreadStopsIt)
{
  std::atomic<bool> finished{false};
  Work work([&](BThread& t) {
    waitForTheStop(t);
    finished = true;
  });
  auto* thread = new BThread;
  thread->runnable = &work;
  test::HeldClock clock;
  ASSERT_TRUE(thread->start());
  delete thread;
  EXPECT_TRUE(finished);
}

TEST(BThread, AThreadThatNoLongerOwnsTheObjectLeavesItAlone)
{
  Work work([](BThread& t) { t.threadId = 12345; });
  Told listener;
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  void* const handle = thread.threadHandle;
  ASSERT_EQ(WaitForSingleObject(handle, 20000), WAIT_OBJECT_0);

  EXPECT_EQ(listener.told, 0);
  EXPECT_TRUE(thread.isRunning());
  EXPECT_EQ(thread.threadHandle, handle);
  EXPECT_EQ(thread.threadId, 12345u);
  EXPECT_EQ(thread.stopRequested, 0);
  EXPECT_EQ(thread.activeRuns, 0);
  thread.running = 0; // nothing is left to stop
}
