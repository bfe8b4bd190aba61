#include "media/mci_slots.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(DeviceSlotsTest, HolderOnTheCallingThreadIsStoppedWithoutWaiting) {
  DeviceSlots slots;
  int stoppedNow = 0, requested = 0, sleeps = 0;
  auto sleep = [&](int) { ++sleeps; };
  EXPECT_TRUE(slots.Take(1, {7, std::this_thread::get_id(), [&] { ++requested; }, [&] { ++stoppedNow; }}, sleep));
  EXPECT_TRUE(slots.Take(1, {8, std::this_thread::get_id(), {}, {}}, sleep));
  EXPECT_EQ(stoppedNow, 1);
  EXPECT_EQ(requested, 0);
  EXPECT_EQ(sleeps, 0);
  EXPECT_EQ(slots.Current(1), 8u);
}

TEST(DeviceSlotsTest, OtherThreadIsAskedAndWaitedFor) {
  DeviceSlots slots;
  std::thread::id other;
  std::thread([&] { other = std::this_thread::get_id(); }).join();
  int sleeps = 0;
  // The holder lets go after its stop message has been "handled" three slices later.
  bool asked = false;
  slots.Take(2, {1, other, [&] { asked = true; }, {}}, [](int) {});
  auto sleep = [&](int ms) {
    EXPECT_EQ(ms, 10);
    if (++sleeps == 3 && asked) slots.Release(2, 1);
  };
  EXPECT_TRUE(slots.Take(2, {2, std::this_thread::get_id(), {}, {}}, sleep));
  EXPECT_TRUE(asked);
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(slots.Current(2), 2u);
}

TEST(DeviceSlotsTest, WaitIsBounded) {
  DeviceSlots slots;
  std::thread::id other;
  std::thread([&] { other = std::this_thread::get_id(); }).join();
  slots.Take(3, {1, other, [] {}, {}}, [](int) {});
  int slept = 0;
  EXPECT_FALSE(slots.Take(3, {2, std::this_thread::get_id(), {}, {}}, [&](int ms) { slept += ms; }, 500));
  EXPECT_EQ(slept, 500);
  EXPECT_EQ(slots.Current(3), 2u);
  slots.Release(3, 1);  // a late release of the old holder leaves the new one alone
  EXPECT_EQ(slots.Current(3), 2u);
  slots.Release(3, 2);
  EXPECT_FALSE(slots.Current(3).has_value());
}

}  // namespace
}  // namespace kv
