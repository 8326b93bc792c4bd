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
std::atomic<int> firstReadings{0};
HANDLE allHaveRead = nullptr;
std::atomic<DWORD> nextReading{1000};
thread_local int readingsOnThisThread = 0;
thread_local DWORD lastReadingOnThisThread = 0;

// Each system reading is a new value. A thread's first one waits until every thread has made
// its own, so all of them are inside their first reading of the library clock at once.
DWORD racingClock()
{
  const DWORD reading = nextReading += 1000;
  if (readingsOnThisThread++ == 0) {
    if (++firstReadings == racingThreads)
      SetEvent(allHaveRead);
    WaitForSingleObject(allHaveRead, 20000);
  }
  lastReadingOnThisThread = reading;
  return reading;
}

} // namespace

TEST(Clock, ThreadsReadingItFirstAtOnceShareOneEpoch)
{
  ASSERT_EQ(Tr::clockEpoch, 0u);
  allHaveRead = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  test::setClockSource(&racingClock);
  std::vector<std::uint32_t> readings(racingThreads, 0);
  std::vector<DWORD> lastSystemReadings(racingThreads, 0);
  {
    std::vector<std::unique_ptr<test::Worker>> workers;
    for (int t = 0; t < racingThreads; t++) {
      workers.push_back(std::make_unique<test::Worker>([&readings, &lastSystemReadings, t] {
        readings[static_cast<size_t>(t)] = Tr::getMilliseconds();
        lastSystemReadings[static_cast<size_t>(t)] = lastReadingOnThisThread;
      }));
    }
    for (auto& worker : workers)
      ASSERT_TRUE(worker->join());
  }
  test::setClockSource(nullptr);
  CloseHandle(allHaveRead);
  ASSERT_EQ(firstReadings, racingThreads) << "not all threads read the clock first at once";

  // One of the first readings became the epoch, once: every thread's result counts from it,
  // and only its taker raised the timer resolution.
  const std::uint32_t epoch = Tr::clockEpoch;
  EXPECT_EQ(epoch % 1000, 0u);
  EXPECT_GE(epoch, 2000u);
  EXPECT_LE(epoch, 1000u * (racingThreads + 1));
  for (int t = 0; t < racingThreads; t++)
    EXPECT_EQ(readings[static_cast<size_t>(t)], lastSystemReadings[static_cast<size_t>(t)] - epoch)
        << "thread " << t;
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
