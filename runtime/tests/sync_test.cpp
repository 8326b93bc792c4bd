#include "TrSync.h"

#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

using test::waitUntil;
using test::Worker;

namespace {

using Workers = std::vector<std::unique_ptr<Worker>>;

void startWorkers(Workers& workers, int count, const std::function<void(int)>& body)
{
  for (int i = 0; i < count; i++) {
    workers.push_back(std::make_unique<Worker>([body, i] { body(i); }));
  }
}

bool joinAll(Workers& workers)
{
  bool all = true;
  for (auto& worker : workers) {
    all = worker->join() && all;
  }
  return all;
}

// A read-modify-write with a pause inside, so that two threads in it at once lose an update.
// The pause spins: giving up the processor would hand it to whatever else keeps the machine
// busy, and the workers would take minutes instead of running against each other.
void slowIncrement(volatile int& counter)
{
  const int value = counter;
  for (int i = 0; i < 200; i++) {
    YieldProcessor();
  }
  counter = value + 1;
}

} // namespace

TEST(BLock, KeepsOneThreadAtATime)
{
  Tr::BLock lock;
  volatile int counter = 0;
  std::atomic<int> inside{0};
  std::atomic<int> together{0};
  Workers workers;
  startWorkers(workers, 4, [&](int) {
    for (int i = 0; i < 2000; i++) {
      lock.lock();
      if (inside++ != 0) {
        together++;
      }
      slowIncrement(counter);
      inside--;
      lock.unlock();
    }
  });
  ASSERT_TRUE(joinAll(workers));
  EXPECT_EQ(together, 0);
  EXPECT_EQ(counter, 4 * 2000);
}

TEST(BEvent, ResetModes)
{
  struct Case {
    bool manualReset;
    bool initiallySet;
    bool firstWait;
    bool secondWait;
  };
  const Case cases[] = {
      {true, false, false, false},
      {true, true, true, true},
      {false, true, true, false},
      {false, false, false, false},
  };
  for (const Case& c : cases) {
    Tr::BEvent event(c.manualReset, c.initiallySet);
    EXPECT_EQ(event.wait(0), c.firstWait);
    EXPECT_EQ(event.wait(0), c.secondWait);
    event.set();
    EXPECT_TRUE(event.wait(0));
    EXPECT_EQ(event.wait(0), c.manualReset);
    event.reset();
    EXPECT_FALSE(event.wait(0));
  }
}

TEST(BEvent, WakesAWaiterOnAnotherThread)
{
  Tr::BEvent event;
  std::atomic<bool> woke{false};
  Worker waiter([&] { woke = event.wait(10000); });
  event.set();
  ASSERT_TRUE(waiter.join());
  EXPECT_TRUE(woke);
}

TEST(BLockedEvent, HandsAStateToAWaiter)
{
  Tr::BLockedEvent ready(false, false);
  int state = 0;
  std::atomic<int> seen{-1};
  Worker consumer([&] {
    if (ready.wait(10000)) {
      ready.lock();
      seen = state;
      ready.unlock();
    }
  });
  ready.lock();
  state = 42;
  ready.set();
  ready.unlock();
  ASSERT_TRUE(consumer.join());
  EXPECT_EQ(seen, 42);
  EXPECT_FALSE(ready.wait(0)); // auto reset: the consumer took it
}

TEST(BRWLock, LetsSeveralReadersInAtOnce)
{
  Tr::BRWLock rw;
  constexpr int readerCount = 4;
  std::atomic<int> inside{0};
  std::atomic<int> sawAll{0};
  Workers workers;
  startWorkers(workers, readerCount, [&](int) {
    rw.lockRead();
    inside++;
    if (waitUntil([&] { return inside == readerCount; })) {
      sawAll++;
    }
    rw.unlockRead();
  });
  ASSERT_TRUE(joinAll(workers));
  EXPECT_EQ(sawAll, readerCount);
  EXPECT_EQ(rw.getReaderCount(), 0);
}

TEST(BRWLock, AWriterWaitsForReadersAndHoldsOffNewOnes)
{
  Tr::BRWLock rw;
  Tr::BEvent releaseWriter;
  std::atomic<bool> writerIn{false};
  std::atomic<bool> lateReaderIn{false};

  rw.lockRead();
  Worker writer([&] {
    rw.lockWrite();
    writerIn = true;
    releaseWriter.wait(10000);
    rw.unlockWrite();
  });
  ASSERT_TRUE(waitUntil([&] { return rw.getWriterCount() == 1; }));

  Worker lateReader([&] {
    rw.lockRead();
    lateReaderIn = true;
    rw.unlockRead();
  });
  Sleep(100); // room for a faulty lock to let either one in
  EXPECT_FALSE(writerIn);
  EXPECT_FALSE(lateReaderIn);

  rw.unlockRead();
  ASSERT_TRUE(waitUntil([&] { return writerIn.load(); }));
  Sleep(50);
  EXPECT_FALSE(lateReaderIn);

  releaseWriter.set();
  ASSERT_TRUE(writer.join());
  ASSERT_TRUE(lateReader.join());
  EXPECT_TRUE(lateReaderIn);
  EXPECT_EQ(rw.getReaderCount(), 0);
  EXPECT_EQ(rw.getWriterCount(), 0);
}

TEST(BRWLock, WritersComeOneAtATime)
{
  Tr::BRWLock rw;
  Tr::BEvent releaseFirst;
  std::atomic<int> writersIn{0};
  Worker first([&] {
    rw.lockWrite();
    writersIn++;
    releaseFirst.wait(10000);
    writersIn--;
    rw.unlockWrite();
  });
  ASSERT_TRUE(waitUntil([&] { return writersIn == 1; }));
  std::atomic<bool> secondIn{false};
  Worker second([&] {
    rw.lockWrite();
    secondIn = writersIn == 0;
    rw.unlockWrite();
  });
  ASSERT_TRUE(waitUntil([&] { return rw.getWriterCount() == 2; }));
  releaseFirst.set();
  ASSERT_TRUE(first.join());
  ASSERT_TRUE(second.join());
  EXPECT_TRUE(secondIn);
}

TEST(BRWLock, TheWriterMayReadWhileItWrites)
{
  Tr::BRWLock rw;
  Worker writer([&] {
    rw.lockWrite();
    rw.lockRead();
    rw.unlockRead();
    rw.unlockWrite();
  });
  ASSERT_TRUE(writer.join());
  // Usable afterwards by others.
  Worker reader([&] {
    rw.lockRead();
    rw.unlockRead();
  });
  ASSERT_TRUE(reader.join());
}

// Readers and writers run against each other for a bounded time; every writer must be alone
// and no increment may be lost.
TEST(BRWLock, UnderContentionNoUpdateIsLost)
{
  Tr::BRWLock rw;
  volatile int counter = 0;
  std::atomic<int> readersInside{0};
  std::atomic<int> writersInside{0};
  std::atomic<int> violations{0};
  std::atomic<int> writes{0};
  std::atomic<int> reads{0};
  std::atomic<bool> stop{false};

  Workers workers;
  startWorkers(workers, 3, [&](int) {
    while (!stop) {
      rw.lockWrite();
      if (writersInside++ != 0 || readersInside != 0) {
        violations++;
      }
      slowIncrement(counter);
      writes++;
      writersInside--;
      rw.unlockWrite();
      Sleep(1);
    }
  });
  startWorkers(workers, 3, [&](int) {
    while (!stop) {
      rw.lockRead();
      readersInside++;
      const int first = counter;
      SwitchToThread();
      if (writersInside != 0 || counter != first) {
        violations++;
      }
      reads++;
      readersInside--;
      rw.unlockRead();
    }
  });
  // Until both sides have had many turns, however long a busy machine makes that.
  const bool enough = waitUntil([&] { return writes >= 100 && reads >= 100; });
  stop = true;
  ASSERT_TRUE(joinAll(workers)) << "a thread hangs in the lock";
  EXPECT_TRUE(enough) << writes << " writes, " << reads << " reads";

  EXPECT_EQ(violations, 0);
  EXPECT_GT(writes, 0);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(counter, writes);
  EXPECT_EQ(rw.getReaderCount(), 0);
  EXPECT_EQ(rw.getWriterCount(), 0);
}
