// Several handles on the device: what the going away of each one ends.
#include "LoadedDriver.h"

namespace {

class Handles : public LoadedDriver {
protected:
  void SetUp() override
  {
    LoadedDriver::SetUp();
    Start(1000);
    WarmUp();
  }

  NTSTATUS Via(FILE_OBJECT& handle, UCHAR major)
  {
    handle_ = &handle;
    const NTSTATUS status = Major(major).status();
    handle_ = &meter_;
    return status;
  }

  size_t Withdrawals() const
  {
    size_t n = 0;
    for (auto& call : fake::kernel().resolutionCalls) {
      n += call == std::make_pair(ULONG(0), BOOLEAN(FALSE)) ? 1 : 0;
    }
    return n;
  }
};

// Windows ends a handle with the cleanup, Wine with the close: each case holds for both.
const UCHAR endings[] = {IRP_MJ_CLEANUP, IRP_MJ_CLOSE};

TEST_F(Handles, AnotherHandleThatOnlyOpensAndClosesLeavesTheMeasurementRunning)
{
  for (UCHAR major : endings) {
    SCOPED_TRACE(testing::Message() << "major function " << int(major));
    const size_t withdrawals = Withdrawals();
    EXPECT_EQ(Via(other_, IRP_MJ_CREATE), STATUS_SUCCESS);
    EXPECT_EQ(Via(other_, major), STATUS_SUCCESS);
    EXPECT_EQ(fake::ArmedCount(), 1) << "the timer was stopped";
    EXPECT_EQ(Withdrawals(), withdrawals) << "the timer resolution was given up";
    Values(1);
    Intervals({1500, 700});
    const LatencyValues v = Values(1);
    EXPECT_EQ(v.minInterval, 700u);
    EXPECT_EQ(v.maxInterval, 1500u);
  }
}

TEST_F(Handles, AnotherHandleGoingAwayEndsOnlyItsOwnReads)
{
  for (UCHAR major : endings) {
    SCOPED_TRACE(testing::Message() << "major function " << int(major));
    handle_ = &other_;
    fake::Irp& othersCurrent = Read(400);
    handle_ = &meter_;
    fake::Irp& metersRead = Read(8);
    handle_ = &other_;
    fake::Irp& othersQueued = Read(400);
    handle_ = &meter_;
    fake::Expire(1000); // the first read becomes the one being filled
    EXPECT_EQ(Via(other_, major), STATUS_SUCCESS);
    EXPECT_EQ(othersCurrent.status(), STATUS_CANCELLED);
    EXPECT_EQ(othersCurrent.information(), 0u);
    EXPECT_EQ(othersQueued.status(), STATUS_CANCELLED);
    EXPECT_FALSE(metersRead.completed());
    Intervals({31, 32, 33});
    EXPECT_EQ(metersRead.intervals(), std::vector<uint32_t>({31, 32}));
    // 33 went to no read, so the next one reports the loss first.
    EXPECT_EQ(Read(4).status(), NTSTATUS(LATENCY_ERR_OVERFLOW));
  }
}

TEST_F(Handles, OnlyTheHandleWhoseStartBeganTheMeasurementEndsItWhenItGoes)
{
  for (UCHAR major : endings) {
    SCOPED_TRACE(testing::Message() << "major function " << int(major));
    handle_ = &other_;
    Start(1000); // a new measurement, now the other handle's
    handle_ = &meter_;
    EXPECT_EQ(Via(meter_, major), STATUS_SUCCESS);
    EXPECT_EQ(fake::ArmedCount(), 1) << "the meter's handle no longer owns the measurement";
    fake::Irp& read = Read(400);
    const size_t withdrawals = Withdrawals();
    EXPECT_EQ(Via(other_, major), STATUS_SUCCESS);
    EXPECT_EQ(fake::ArmedCount(), 0);
    EXPECT_EQ(Withdrawals(), withdrawals + 1);
    EXPECT_EQ(read.status(), STATUS_CANCELLED) << "a stop ends every read";
    Start(1000);
    WarmUp();
  }
}

} // namespace
