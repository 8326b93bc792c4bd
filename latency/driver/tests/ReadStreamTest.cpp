// The read stream: raw intervals into queued read buffers, the loss rule, and how reads end.
#include "LoadedDriver.h"

#include <functional>

namespace {

class ReadStream : public LoadedDriver {
protected:
  void SetUp() override
  {
    LoadedDriver::SetUp();
    Start(1000);
    WarmUp();
  }
};

std::vector<uint32_t> Count(uint32_t from, size_t n)
{
  std::vector<uint32_t> values(n);
  for (size_t i = 0; i < n; i++) {
    values[i] = from + uint32_t(i);
  }
  return values;
}

TEST_F(ReadStream, AReadCompletesOnTheIntervalAfterItFilledWithTheIntervalsOldestFirst)
{
  fake::Irp& read = Read(400);
  EXPECT_EQ(returned_, STATUS_PENDING);
  const std::vector<uint32_t> expected = Count(1000, 100);
  Intervals(expected);
  EXPECT_FALSE(read.completed()) << "complete only when the next interval arrives";
  fake::Expire(5000);
  ASSERT_EQ(read.status(), STATUS_SUCCESS);
  EXPECT_EQ(read.information(), 400u);
  EXPECT_EQ(read.intervals(), expected);
}

TEST_F(ReadStream, TheIntervalThatCompletesAReadIsTheFirstOfTheNext)
{
  fake::Irp& first = Read(8);
  fake::Irp& second = Read(8);
  Intervals({11, 12, 13, 14});
  EXPECT_EQ(first.intervals(), std::vector<uint32_t>({11, 12}));
  EXPECT_FALSE(second.completed());
  fake::Expire(15);
  EXPECT_EQ(second.intervals(), std::vector<uint32_t>({13, 14}));
}

TEST_F(ReadStream, WithoutAReadWaitingTheNextReadFailsOnceWithOverflow)
{
  fake::Expire(1000); // recorded, but there is no buffer for it
  fake::Irp& failed = Read(400);
  EXPECT_EQ(returned_, NTSTATUS(LATENCY_ERR_OVERFLOW));
  EXPECT_EQ(failed.status(), NTSTATUS(LATENCY_ERR_OVERFLOW));
  EXPECT_EQ(failed.information(), 0u);
  fake::Irp& queued = Read(4);
  EXPECT_EQ(returned_, STATUS_PENDING);
  Intervals({21, 22});
  EXPECT_EQ(queued.intervals(), std::vector<uint32_t>({21}));
}

// A bad read is looked at only when an interval arrives; that interval then has no buffer.
TEST_F(ReadStream, BadReadBuffersFailWithTheOutputLengthErrorWhenTheNextIntervalArrives)
{
  struct Case {
    ULONG length;
    bool withMdl;
  };
  for (Case c : {Case{0, false}, Case{6, true}, Case{2, true}, Case{400, false}}) {
    SCOPED_TRACE(testing::Message() << "length " << c.length << " mdl " << c.withMdl);
    fake::Irp& bad = Read(c.length, c.withMdl);
    EXPECT_EQ(returned_, STATUS_PENDING);
    EXPECT_FALSE(bad.completed());
    fake::Expire(1000);
    EXPECT_EQ(bad.status(), NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH));
    EXPECT_EQ(bad.information(), 0u);
    EXPECT_EQ(Read(4).status(), NTSTATUS(LATENCY_ERR_OVERFLOW));
  }
}

TEST_F(ReadStream, AfterARejectedReadTheNextQueuedOneWaitsForTheFollowingInterval)
{
  fake::Irp& bad = Read(6);
  fake::Irp& good = Read(8);
  fake::Expire(41);
  EXPECT_EQ(bad.status(), NTSTATUS(LATENCY_ERR_OUTPUT_LENGTH));
  Intervals({42, 43, 44});
  EXPECT_EQ(good.intervals(), std::vector<uint32_t>({42, 43}));
  EXPECT_EQ(Read(4).status(), NTSTATUS(LATENCY_ERR_OVERFLOW)) << "41 was lost";
}

TEST_F(ReadStream, ABufferWithoutASystemMappingIsMappedOrFailsWithNotOpen)
{
  fake::Irp& mapped = Read(4, true, false);
  fake::Irp& unmappable = Read(4, true, false);
  fake::Expire(51);
  fake::kernel().mapResult = false;
  fake::Expire(52);
  EXPECT_EQ(mapped.intervals(), std::vector<uint32_t>({51}));
  EXPECT_EQ(unmappable.status(), NTSTATUS(LATENCY_ERR_NOT_OPEN));
  EXPECT_EQ(unmappable.information(), 0u);
}

TEST_F(ReadStream, StopCancelsEveryReadAndDropsWhatTheCurrentOneHeld)
{
  fake::Irp& current = Read(400);
  fake::Irp& queued = Read(400);
  Intervals(10, 1000);
  EXPECT_EQ(Simple(IOCTL_LATENCY_STOP), STATUS_SUCCESS);
  EXPECT_EQ(current.status(), STATUS_CANCELLED);
  EXPECT_EQ(current.information(), 0u);
  EXPECT_EQ(queued.status(), STATUS_CANCELLED);
  // Nothing of the old read survives into the next measurement.
  Start(1000);
  WarmUp();
  fake::Irp& next = Read(4);
  EXPECT_EQ(returned_, STATUS_PENDING);
  Intervals({61, 62});
  EXPECT_EQ(next.intervals(), std::vector<uint32_t>({61}));
}

// Windows sends the cleanup when the last handle goes; Wine sends only the close, at that
// moment. Either one ends the measurement and its reads.
TEST_F(ReadStream, CleanupOrCloseStopsTheTimerAndCancelsTheReads)
{
  for (UCHAR major : {UCHAR(IRP_MJ_CLEANUP), UCHAR(IRP_MJ_CLOSE)}) {
    SCOPED_TRACE(testing::Message() << "major function " << int(major));
    Start(1000);
    WarmUp();
    fake::Irp& current = Read(400);
    fake::Irp& queued = Read(400);
    fake::Expire(1000);
    EXPECT_EQ(Major(major).status(), STATUS_SUCCESS);
    EXPECT_EQ(current.status(), STATUS_CANCELLED);
    EXPECT_EQ(queued.status(), STATUS_CANCELLED);
    EXPECT_EQ(fake::ArmedCount(), 0);
    EXPECT_EQ(fake::kernel().resolutionCalls.back(), std::make_pair(ULONG(0), BOOLEAN(FALSE)));
  }
}

TEST_F(ReadStream, ReadsStayQueuedWhileIdle)
{
  Simple(IOCTL_LATENCY_STOP);
  fake::Irp& read = Read(4);
  EXPECT_EQ(returned_, STATUS_PENDING);
  EXPECT_EQ(fake::PendingIrps(), 1);
  Start(1000);
  WarmUp();
  Intervals({71, 72});
  EXPECT_EQ(read.intervals(), std::vector<uint32_t>({71}));
}

TEST_F(ReadStream, ACancelledQueuedReadLeavesTheQueue)
{
  fake::Irp& cancelled = Read(4);
  fake::Irp& kept = Read(4);
  fake::Cancel(cancelled);
  EXPECT_EQ(cancelled.status(), STATUS_CANCELLED);
  Intervals({81, 82});
  EXPECT_EQ(kept.intervals(), std::vector<uint32_t>({81}));
}

TEST_F(ReadStream, AReadCancelledBeforeItIsQueuedCompletesAtOnce)
{
  auto irp = fake::Irp::Read(4);
  irp->get()->Cancel = TRUE;
  fake::Irp& read = Send(std::move(irp));
  EXPECT_EQ(returned_, STATUS_PENDING);
  EXPECT_EQ(read.status(), STATUS_CANCELLED);
}

// The cancel routine has begun on another processor but waits for the queue's lock while an
// interval takes the next read: the request is skipped, and the routine still finds it linked.
TEST_F(ReadStream, AReadWhoseCancelRoutineHasStartedIsSkippedAndStillUnlinked)
{
  fake::Irp& cancelled = Read(4);
  fake::Irp& next = Read(4);
  fake::Cancel(cancelled, true);
  fake::Expire(91);
  EXPECT_FALSE(cancelled.completed());
  fake::RunDeferredCancel();
  EXPECT_EQ(cancelled.status(), STATUS_CANCELLED);
  fake::Expire(92);
  EXPECT_EQ(next.intervals(), std::vector<uint32_t>({91}));
  EXPECT_EQ(Read(4).status(), NTSTATUS(LATENCY_ERR_OVERFLOW)) << "92 found no read";
  // The same race at STOP.
  fake::Irp& third = Read(4);
  fake::Irp& fourth = Read(4);
  fake::Cancel(third, true);
  Simple(IOCTL_LATENCY_STOP);
  EXPECT_EQ(fourth.status(), STATUS_CANCELLED);
  fake::RunDeferredCancel();
  EXPECT_EQ(third.status(), STATUS_CANCELLED);
}

// A thread or process that ends cancels its requests and waits for them; so does CancelIo.
TEST_F(ReadStream, TheReadBeingFilledCanBeCancelledAndTheNextOneGoesOn)
{
  fake::Irp& current = Read(400);
  fake::Irp& queued = Read(8);
  Intervals(10, 1000);
  fake::Cancel(current);
  ASSERT_EQ(current.status(), STATUS_CANCELLED);
  EXPECT_EQ(current.information(), 0u);
  Intervals({101, 102, 103});
  EXPECT_EQ(queued.intervals(), std::vector<uint32_t>({101, 102}));
  // Nothing more was written into the buffer of the request that was handed back.
  EXPECT_EQ(current.buffer()[10 * 4], 0xEE);
  EXPECT_EQ(Values().maxInterval, 1000u);
  EXPECT_EQ(fake::ArmedCount(), 1) << "a cancelled read stops nothing";
}

// The cancel routine has begun on another processor and waits for the statistics lock while
// the driver ends the read itself: the request completes once, as cancelled.
TEST_F(ReadStream, ACancelThatRacesTheEndOfTheReadBeingFilledCompletesItOnce)
{
  struct Case {
    const char* what;
    std::function<void()> end;
  };
  const Case cases[] = {
      {"filled", [this] { Intervals(2, 1000); }},
      {"stop", [this] { Simple(IOCTL_LATENCY_STOP); }},
      {"close", [this] { Major(IRP_MJ_CLOSE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(1000);
    WarmUp();
    fake::Irp& current = Read(8);
    fake::Irp& next = Read(4); // takes the interval that ends the filled read
    fake::Expire(1000);
    fake::Cancel(current, true);
    c.end();
    EXPECT_FALSE(current.completed()) << "completed under the running cancel routine";
    fake::RunDeferredCancel();
    EXPECT_EQ(current.status(), STATUS_CANCELLED);
    EXPECT_EQ(current.information(), 0u);
    Simple(IOCTL_LATENCY_STOP);
    EXPECT_EQ(next.status(), STATUS_CANCELLED);
  }
}

// IoCancelIrp came while the request was between the queue and the device, with no cancel
// routine to call: it only marked it. The device must see the mark, or nothing ever ends it.
TEST_F(ReadStream, AReadCancelledOnItsWayFromTheQueueCompletesAtOnce)
{
  fake::Irp& read = Read(400);
  read.get()->Cancel = TRUE;
  fake::Expire(111);
  EXPECT_EQ(read.status(), STATUS_CANCELLED);
  EXPECT_EQ(Read(4).status(), NTSTATUS(LATENCY_ERR_OVERFLOW)) << "111 found no read";
}

TEST_F(ReadStream, UnloadWithReadsPendingEndsThem)
{
  fake::Irp& current = Read(400);
  fake::Irp& queued = Read(400);
  fake::Expire(1000);
  Unload();
  EXPECT_EQ(current.status(), STATUS_CANCELLED);
  EXPECT_EQ(queued.status(), STATUS_CANCELLED);
}

TEST_F(ReadStream, UnloadWhileMeasuringLeavesNoTimerArmedAndNoDpcQueued)
{
  const int flushes = fake::kernel().flushes;
  Unload();
  EXPECT_EQ(fake::ArmedCount(), 0);
  EXPECT_GT(fake::kernel().flushes, flushes);
}

} // namespace
