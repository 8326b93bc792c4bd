#include "TrClock.h"
#include "TrThread.h"

#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
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
  Work work([&](BThread& t) {
    wasCurrent = t.isCurrentThread();
    idInside = BThread::currentThreadId();
  });
  Told listener;
  BThread thread("worker");
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  const std::uint32_t id = thread.threadId;
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

TEST(BThread, StartsOnceAtATimeAndAfreshAfterItsEnd)
{
  std::atomic<int> runs{0};
  std::atomic<int> requestedAtStart{-1};
  Work work([&](BThread& t) {
    requestedAtStart = t.stopRequested.load();
    runs++;
    t.stopEvent.wait(10000);
  });
  BThread thread;
  thread.runnable = &work;
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
  ASSERT_TRUE(thread.start());
  EXPECT_TRUE(thread.stop());
  EXPECT_TRUE(finished);
  EXPECT_FALSE(thread.isRunning());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }));
}

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

  const std::uint32_t before = Tr::getMilliseconds();
  EXPECT_FALSE(thread.stop());
  const std::uint32_t elapsed = Tr::getMilliseconds() - before;
  EXPECT_GE(elapsed, 500u); // the request was made after before
  EXPECT_LT(elapsed, 5000u);

  EXPECT_FALSE(thread.isRunning());
  EXPECT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
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

TEST(BThread, AWaitThatBeginsLateStillGivesTheThreadAboutATenthOfASecond)
{
  Work work(&ignoreTheStop);
  BThread thread;
  thread.runnable = &work;
  ASSERT_TRUE(thread.start());
  thread.requestStop();
  const std::uint32_t requestedAt = thread.stopRequestTime;
  Tr::sleepMs(700);

  const std::uint32_t before = Tr::getMilliseconds();
  EXPECT_FALSE(thread.stop());
  const std::uint32_t elapsed = Tr::getMilliseconds() - before;
  EXPECT_GE(elapsed, 100u);
  EXPECT_LT(elapsed, 450u); // well short of a fresh half second
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

  thread.requestStop();
  const std::uint32_t first = thread.stopRequestTime;
  EXPECT_EQ(thread.stopRequested, 1);
  EXPECT_TRUE(thread.stopEvent.wait(0));
  thread.stopEvent.reset();
  Tr::sleepMs(30);
  thread.requestStop();
  EXPECT_EQ(thread.stopRequestTime, first);
  EXPECT_TRUE(thread.stopEvent.wait(0));
}

TEST(BThread, TheThreadMayStopItself)
{
  std::atomic<bool> stopResult{false};
  std::atomic<bool> waitResult{false};
  std::atomic<int> requested{0};
  std::atomic<std::uint32_t> took{0xFFFFFFFF};
  Work work([&](BThread& t) {
    const std::uint32_t before = Tr::getMilliseconds();
    stopResult = t.stop();
    waitResult = t.waitForStop();
    took = Tr::getMilliseconds() - before;
    requested = t.stopRequested.load();
  });
  Told listener;
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; })); // not killed
  EXPECT_TRUE(stopResult);
  EXPECT_TRUE(waitResult);
  EXPECT_EQ(requested, 1);
  EXPECT_LT(took, 400u); // it did not wait for itself
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
  explicit SelfDeleting(Tr::BEvent& deletedEvent) : deleted(deletedEvent) {}
  ~SelfDeleting() override
  {
    note("deleted");
    deleted.set();
  }
  void run() override
  {
    stopEvent.wait();
    Tr::sleepMs(200);
  }

private:
  Tr::BEvent& deleted;
};

} // namespace

TEST(BThread, AnAutoDeletingThreadDeletesItselfAfterTellingItsListener)
{
  order.clear();
  Tr::BEvent deleted;
  Told listener;
  listener.onTold = [](BThread&) { note("told"); };
  auto* thread = new SelfDeleting(deleted);
  thread->autoDelete = 1;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  EXPECT_TRUE(thread->stop());
  EXPECT_FALSE(deleted.wait(0)); // stop did not wait for it
  ASSERT_TRUE(deleted.wait(10000));
  const std::lock_guard<std::mutex> guard(orderMutex);
  EXPECT_EQ(order, (std::vector<std::string>{"told", "deleted"}));
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
    lockWasFree = other.join(3000);
  };
  Work work([](BThread&) {});
  BThread thread;
  thread.runnable = &work;
  thread.listener = &listener;
  ASSERT_TRUE(thread.start());
  ASSERT_TRUE(waitUntil([&] { return listener.told == 1; }, 10000));
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

TEST(BThread, DeletingTheObjectWaitsUntilItsThreadIsDoneWithIt)
{
  std::atomic<bool> listenerDone{false};
  Told listener;
  listener.onTold = [&](BThread& t) {
    Tr::sleepMs(100);
    listenerDone = std::strcmp(t.name.text(), "still here") == 0;
  };
  Work work([](BThread&) {});
  auto* thread = new BThread("still here");
  thread->runnable = &work;
  thread->listener = &listener;
  ASSERT_TRUE(thread->start());
  ASSERT_TRUE(waitUntil([&] { return !thread->isRunning(); }));
  delete thread;
  EXPECT_TRUE(listenerDone);
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
  ASSERT_EQ(WaitForSingleObject(handle, 10000), WAIT_OBJECT_0);

  EXPECT_EQ(listener.told, 0);
  EXPECT_TRUE(thread.isRunning());
  EXPECT_EQ(thread.threadHandle, handle);
  EXPECT_EQ(thread.threadId, 12345u);
  EXPECT_EQ(thread.stopRequested, 0);
  EXPECT_EQ(thread.activeRuns, 0);
  thread.running = 0; // nothing is left to stop
}
