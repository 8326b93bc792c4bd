// The first test here must be the process's first reading of the library clock.
#include "TrClock.h"

#include "worker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

TEST(Clock, ThreadsReadingItFirstAtOnceShareOneEpoch)
{
  ASSERT_EQ(Tr::clockEpoch, 0u);
  constexpr int threadCount = 8;
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::uint32_t> readings(threadCount, 0xFFFFFFFF);
  std::vector<std::unique_ptr<test::Worker>> workers;
  for (int t = 0; t < threadCount; t++) {
    workers.push_back(std::make_unique<test::Worker>([&readings, go, t] {
      WaitForSingleObject(go, INFINITE);
      readings[static_cast<size_t>(t)] = Tr::getMilliseconds();
    }));
  }
  SetEvent(go);
  for (auto& worker : workers) {
    ASSERT_TRUE(worker->join());
  }
  CloseHandle(go);

  const std::uint32_t epoch = Tr::clockEpoch;
  EXPECT_NE(epoch, 0u);
  for (std::uint32_t reading : readings) {
    EXPECT_LT(reading, 1000u); // counted from the epoch, not from system start
  }
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
