// The timer DPC's measurement and the statistics that GET_VALUES, RESET, START and STOP see.
#include "LoadedDriver.h"

#include <numeric>

namespace {

using Measuring = LoadedDriver;

TEST_F(Measuring, BeforeTheFirstStartEveryValueIsZeroAndTheResetFlagComesBackAsSent)
{
  LatencyValues v = Values(0x12345678);
  EXPECT_EQ(v.period, 0u);
  EXPECT_EQ(v.minInterval, 0u);
  EXPECT_EQ(v.maxInterval, 0u);
  EXPECT_EQ(v.avgInterval, 0u);
  EXPECT_EQ(v.resetAfterRead, 0x12345678u);
  EXPECT_EQ(fake::ArmedCount(), 0);
}

TEST_F(Measuring, StartAnswersThePeriodThatTheTimerResolutionAllows)
{
  fake::kernel().grantedResolution = 9766;
  EXPECT_EQ(Start(1000), 976u);
  // The earlier request is withdrawn first, then the period asked for in 100-ns units.
  const std::vector<std::pair<ULONG, BOOLEAN>> calls = {{0, FALSE}, {10000, TRUE}};
  EXPECT_EQ(fake::kernel().resolutionCalls, calls);
  EXPECT_EQ(fake::Armed().dueTime, -9760);
  EXPECT_EQ(Values().period, 976u);
}

TEST_F(Measuring, The106thIntervalAfterTheFirstExpiryIsTheFirstRecorded)
{
  Start(1000);
  fake::Expire(5000); // only a stamp
  for (ULONG i = 0; i < LATENCY_WARMUP_SKIP; i++) {
    fake::Expire(3000 + i);
  }
  LatencyValues v = Values();
  EXPECT_EQ(v.minInterval, 0u);
  EXPECT_EQ(v.maxInterval, 0u);
  fake::Expire(1234);
  v = Values();
  EXPECT_EQ(v.minInterval, 1234u);
  EXPECT_EQ(v.maxInterval, 1234u);
}

TEST_F(Measuring, EachExpiryArmsTheOtherOneShotTimerWithThePeriod)
{
  Start(1000);
  PKTIMER first = fake::Armed().timer;
  fake::Expire(1000);
  fake::ArmedTimer next = fake::Armed();
  EXPECT_NE(next.timer, first);
  EXPECT_EQ(next.dueTime, -10000);
  fake::Expire(1000);
  EXPECT_EQ(fake::Armed().timer, first);
  // The fake kernel fails the test if a DPC ever re-arms its own timer or one that Wine
  // still counts as inserted; a long run shows that neither happens.
  Intervals(500, 1100);
  EXPECT_EQ(fake::ArmedCount(), 1);
}

TEST_F(Measuring, MinimumAndMaximumFollowTheIntervals)
{
  Start(1000);
  WarmUp();
  Intervals({1200, 900, 1500, 1000});
  LatencyValues v = Values();
  EXPECT_EQ(v.minInterval, 900u);
  EXPECT_EQ(v.maxInterval, 1500u);
  EXPECT_EQ(v.avgInterval, 0u) << "no mean before the ring has filled";
}

TEST_F(Measuring, TheMeanIsOverExactlyTheLast100Intervals)
{
  Start(1000);
  WarmUp();
  std::vector<uint32_t> intervals(100);
  std::iota(intervals.begin(), intervals.end(), 1000u);
  Intervals(std::vector<uint32_t>(intervals.begin(), intervals.end() - 1));
  EXPECT_EQ(Values().avgInterval, 0u);
  fake::Expire(intervals.back());
  EXPECT_EQ(Values().avgInterval, 1049u) << "104950 / 100, truncated";
  fake::Expire(2000); // replaces the oldest, 1000
  EXPECT_EQ(Values().avgInterval, 1059u);
}

TEST_F(Measuring, CounterTicksBecomeMicrosecondsTruncatedTowardZero)
{
  fake::kernel().frequency = 3579545; // the ACPI power-management timer
  Start(1000);
  WarmUp();
  fake::Expire(1000); // 3579 ticks: 999.87 us
  EXPECT_EQ(Values().minInterval, 999u);
}

TEST_F(Measuring, ABackwardStepOfTheCounterRecordsNothingAndDiscardsNothing)
{
  Start(1000);
  fake::Expire(1000);
  Intervals(LATENCY_WARMUP_SKIP - 1, 1000);
  fake::AdvanceClock(-5000);
  fake::Expire(1000); // the counter moved back by 4000 us
  EXPECT_EQ(Values().minInterval, 0u);
  fake::Expire(1000); // the last one to discard
  EXPECT_EQ(Values().minInterval, 0u);
  fake::Expire(1500);
  EXPECT_EQ(Values().minInterval, 1500u);
}

TEST_F(Measuring, AReadWithResetAnswersTheValuesAndClearsThemInTheSameStep)
{
  Start(1000);
  WarmUp();
  Intervals(99, 1000);
  fake::Expire(1500);
  LatencyValues v = Values(1);
  EXPECT_EQ(v.period, 1000u);
  EXPECT_EQ(v.minInterval, 1000u);
  EXPECT_EQ(v.maxInterval, 1500u);
  EXPECT_EQ(v.avgInterval, 1005u);
  EXPECT_EQ(v.resetAfterRead, 1u);
  v = Values();
  EXPECT_EQ(v.period, 1000u);
  EXPECT_EQ(v.minInterval, 0u);
  EXPECT_EQ(v.maxInterval, 0u);
  EXPECT_EQ(v.avgInterval, 0u);
  fake::Expire(1100);
  v = Values();
  EXPECT_EQ(v.minInterval, 1100u);
  EXPECT_EQ(v.maxInterval, 1100u);
}

// The ring and its index survive a reset, so the mean comes back when the index next wraps,
// after fewer than 100 new intervals, and still counts the old entries.
TEST_F(Measuring, AfterAResetTheMeanReturnsWhenTheRingIndexWraps)
{
  Start(1000);
  WarmUp();
  Intervals(130, 1000); // the index stands at 30
  EXPECT_EQ(Simple(IOCTL_LATENCY_RESET), STATUS_SUCCESS);
  Intervals(69, 2000);
  LatencyValues v = Values();
  EXPECT_EQ(v.avgInterval, 0u);
  EXPECT_EQ(v.minInterval, 2000u);
  fake::Expire(2000);
  EXPECT_EQ(Values().avgInterval, 1700u) << "30 entries of 1000 and 70 of 2000";
}

TEST_F(Measuring, StopDisarmsTheTimerKeepsTheValuesAndWithdrawsTheResolution)
{
  Start(1000);
  WarmUp();
  Intervals({1100, 1300});
  const int flushes = fake::kernel().flushes;
  EXPECT_EQ(Simple(IOCTL_LATENCY_STOP), STATUS_SUCCESS);
  EXPECT_EQ(fake::ArmedCount(), 0);
  EXPECT_GT(fake::kernel().flushes, flushes) << "no DPC may run once STOP has answered";
  EXPECT_EQ(fake::kernel().resolutionCalls.back(), std::make_pair(ULONG(0), BOOLEAN(FALSE)));
  LatencyValues v = Values();
  EXPECT_EQ(v.period, 1000u);
  EXPECT_EQ(v.minInterval, 1100u);
  EXPECT_EQ(v.maxInterval, 1300u);
}

TEST_F(Measuring, AStartAfterStopBeginsANewWarmUpWithFreshValues)
{
  Start(1000);
  WarmUp();
  Intervals({1100, 1300});
  Simple(IOCTL_LATENCY_STOP);
  EXPECT_EQ(Start(2000), 2000u);
  EXPECT_EQ(Values().maxInterval, 0u);
  WarmUp(2000);
  EXPECT_EQ(Values().maxInterval, 0u);
  fake::Expire(2500);
  EXPECT_EQ(Values().maxInterval, 2500u);
}

TEST_F(Measuring, AStartWhileMeasuringRearmsWithTheNewPeriod)
{
  Start(1000);
  WarmUp();
  fake::Expire(1200);
  EXPECT_EQ(Start(500), 500u);
  EXPECT_EQ(fake::ArmedCount(), 1);
  EXPECT_EQ(fake::Armed().dueTime, -5000);
  EXPECT_EQ(Values().maxInterval, 0u);
  WarmUp(500);
  fake::Expire(600);
  EXPECT_EQ(Values().minInterval, 600u);
}

} // namespace
