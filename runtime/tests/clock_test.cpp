// The first test here must be the process's first reading of the library clock.
#include "TrClock.h"

#include "system_clock.h"
#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int racingThreads = 8;
std::atomic<int> arrived{0};  // threads inside their first reading
std::atomic<int> released{0}; // first readings let out so far, in the order of arrival
std::atomic<DWORD> nextReading{1000};
thread_local int readingsOnThisThread = 0;
thread_local int turnOnThisThread = -1;
thread_local DWORD firstReadingOnThisThread = 0;
thread_local DWORD lastReadingOnThisThread = 0;

// Each system reading is a new value. A thread's first reading waits until every thread is
// inside its own, so all of them have found no epoch yet; then the test lets them out one at
// a time, each after the one before has its result. A thread that takes the epoch without
// looking again overwrites one that an earlier thread has already counted from.
DWORD racingClock()
{
  const DWORD reading = nextReading += 1000;
  if (readingsOnThisThread++ == 0) {
    firstReadingOnThisThread = reading;
    const int turn = arrived++;
    turnOnThisThread = turn;
    test::waitUntil([turn] { return released > turn; });
  }
  lastReadingOnThisThread = reading;
  return reading;
}

struct Result {
  std::uint32_t reading = 0;
  int turn = -1;
  DWORD firstSystemReading = 0;
  DWORD lastSystemReading = 0;
};

} // namespace

TEST(Clock, ThreadsReadingItFirstAtOnceShareOneEpoch)
{
  ASSERT_EQ(Tr::clockEpoch, 0u);
  test::setClockSource(&racingClock);
  std::vector<Result> results(racingThreads);
  std::atomic<int> done{0};
  {
    std::vector<std::unique_ptr<test::Worker>> workers;
    for (int t = 0; t < racingThreads; t++) {
      workers.push_back(std::make_unique<test::Worker>([&results, &done, t] {
        Result& result = results[static_cast<size_t>(t)];
        result.reading = Tr::getMilliseconds();
        result.turn = turnOnThisThread;
        result.firstSystemReading = firstReadingOnThisThread;
        result.lastSystemReading = lastReadingOnThisThread;
        done++;
      }));
    }
    const bool allInside = test::waitUntil([] { return arrived == racingThreads; });
    for (int turn = 0; turn < racingThreads; turn++) {
      released = turn + 1;
      EXPECT_TRUE(test::waitUntil([&done, turn] { return done > turn; })) << "turn " << turn;
    }
    for (auto& worker : workers)
      ASSERT_TRUE(worker->join());
    test::setClockSource(nullptr);
    ASSERT_TRUE(allInside) << "not all threads read the clock first at once";
  }

  // The epoch is the first reading of the thread let out first, taken once: every thread's
  // result counts from it, and only its taker raised the timer resolution.
  const std::uint32_t epoch = Tr::clockEpoch;
  for (int t = 0; t < racingThreads; t++) {
    const Result& result = results[static_cast<size_t>(t)];
    EXPECT_EQ(result.reading, result.lastSystemReading - epoch) << "thread " << t;
    if (result.turn == 0) {
      EXPECT_EQ(epoch, result.firstSystemReading) << "not the first reading let out";
    }
  }
  EXPECT_EQ(test::timerPeriodRequests(), 1);
  Tr::getMilliseconds();
  EXPECT_EQ(Tr::clockEpoch, epoch);
}

TEST(Clock, CountsUpWithSleeps)
{
  std::uint32_t previous = Tr::getMilliseconds();
  const std::uint32_t start = previous;
  for (int i = 0; i < 5; i++) {
    Tr::sleepMs(20);
    const std::uint32_t now = Tr::getMilliseconds();
    EXPECT_GE(now, previous + 15);
    previous = now;
  }
  EXPECT_LT(previous - start, 10000u);
}
