#include "TrObjects.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

class Listed : public Tr::AutoDelete {};

// Installs a registry over a fixed array for the length of a test.
class AutoDeleteRegistryTest : public ::testing::Test {
protected:
  void install(std::vector<Tr::AutoDelete*> initial)
  {
    slots = std::move(initial);
    registry.entries = slots.data();
    registry.count = static_cast<std::int32_t>(slots.size());
    Tr::autoDeleteRegistry = &registry;
  }
  void TearDown() override { Tr::autoDeleteRegistry = nullptr; }

  std::vector<Tr::AutoDelete*> slots;
  Tr::AutoDeleteRegistry registry;
};

} // namespace

TEST(AutoDelete, WithoutARegistryNothingIsRegistered)
{
  ASSERT_EQ(Tr::autoDeleteRegistry, nullptr);
  EXPECT_FALSE(Tr::AutoDelete::anyRegistered());
  delete new Listed;
}

TEST_F(AutoDeleteRegistryTest, NullEntriesCountAsRegistered)
{
  install({});
  EXPECT_FALSE(Tr::AutoDelete::anyRegistered());
  install({nullptr, nullptr});
  EXPECT_TRUE(Tr::AutoDelete::anyRegistered());
}

TEST_F(AutoDeleteRegistryTest, DestroyingEmptiesOnlyTheFirstEntry)
{
  Listed other;
  {
    Listed object;
    install({&other, &object, &object});
    Tr::AutoDelete* const found = &object;
    EXPECT_EQ(Tr::AutoDelete::indexInRegistry(found), 1);
  }
  EXPECT_EQ(slots[0], &other);
  EXPECT_EQ(slots[1], nullptr);
  EXPECT_NE(slots[2], nullptr);
  EXPECT_EQ(registry.count, 3);
}

TEST_F(AutoDeleteRegistryTest, AnObjectNotListedChangesNothing)
{
  Listed listed;
  install({&listed});
  {
    Listed stranger;
    Tr::AutoDelete* const absent = &stranger;
    EXPECT_EQ(Tr::AutoDelete::indexInRegistry(absent), -1);
  }
  EXPECT_EQ(slots, std::vector<Tr::AutoDelete*>{&listed});
}

namespace {

struct Recorder : Tr::TPendingCall::Target {
  void invoke(std::uint32_t a, std::uint32_t b) override { calls.push_back({a, b}); }
  std::vector<std::vector<std::uint32_t>> calls;
};

class CountedCall : public Tr::TPendingCall {
public:
  CountedCall(Target* target, int& deletions) : TPendingCall(target, 11, 22), deleted(deletions) {}
  ~CountedCall() override { deleted++; }
  int& deleted;
};

} // namespace

TEST(TPendingCall, CallsTheTargetWithBothArgumentsThenDeletesItself)
{
  Recorder target;
  int deletions = 0;
  (new CountedCall(&target, deletions))->invokeTargetAndDelete();
  EXPECT_EQ(target.calls, (std::vector<std::vector<std::uint32_t>>{{11, 22}}));
  EXPECT_EQ(deletions, 1);

  (new CountedCall(nullptr, deletions))->invokeTargetAndDelete();
  EXPECT_EQ(deletions, 2);
}

TEST(Counter64, CarriesAcrossTheHalves)
{
  std::int64_t counter = 0xFFFFFFFFLL;
  EXPECT_EQ(Tr::incrementCounter64(counter), 0x100000000LL);
  EXPECT_EQ(counter, 0x100000000LL);
  EXPECT_EQ(Tr::decrementCounter64(counter), 0xFFFFFFFFLL);
  counter = 0;
  EXPECT_EQ(Tr::decrementCounter64(counter), -1);
  EXPECT_EQ(Tr::incrementCounter64(counter), 0);
}
