#include "engine/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/message_port.h"

namespace kv {
namespace {

// Time moves only when every joined waiter waits, and then to the earliest
// deadline; a signalled waiter holds it.
TEST(VirtualClock, JumpsToTheEarliestDeadlineWhenAllWait) {
  Clock clock(true);
  Waiter a, b;
  clock.Join(a);
  clock.Join(b);
  std::atomic<int64_t> aWoke{-1};
  std::thread ta([&] {
    clock.Wait(a, 500);
    aWoke = clock.NowMs();
    clock.Leave(a);
  });
  // Only one of two waits: time stays at 0.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(clock.NowMs(), 0);
  EXPECT_EQ(aWoke.load(), -1);
  EXPECT_EQ(clock.Wait(b, 200), WaitEnd::kDeadline);
  EXPECT_EQ(clock.NowMs(), 200);
  EXPECT_EQ(clock.Wait(b, 10000), WaitEnd::kDeadline);
  ta.join();
  EXPECT_EQ(aWoke.load(), 500);
  EXPECT_EQ(clock.NowMs(), 10000);
}

TEST(VirtualClock, IdleWhenEveryoneWaitsForever) {
  Clock clock(true);
  Waiter worker, harness;
  harness.wakeOnIdle = true;
  clock.Join(worker);
  clock.Join(harness);
  std::thread t([&] { clock.Wait(worker, kForever); });
  EXPECT_EQ(clock.Wait(harness, kForever), WaitEnd::kIdle);
  EXPECT_EQ(clock.NowMs(), 0);
  EXPECT_TRUE(clock.OthersIdle(harness));
  clock.Wake(worker);
  t.join();
}

// A worker woken and back to waiting between two looks of the harness leaves
// the run idle at both, but the activity count tells the looks apart; with
// nothing in between the counts agree.
TEST(VirtualClock, ActivityBetweenIdleLooks) {
  Clock clock(true);
  Waiter worker, harness;
  harness.wakeOnIdle = true;
  harness.watcher = true;
  clock.Join(worker);
  clock.Join(harness);
  std::atomic<int> rounds{0};
  std::thread t([&] {
    while (rounds.load() < 2) {
      clock.Wait(worker, kForever);
      ++rounds;
    }
  });
  auto settled = [&](int n) {
    while (rounds.load() < n || !clock.OthersIdle(harness)) std::this_thread::yield();
  };
  settled(0);
  uint64_t first = 0, second = 0, third = 0;
  ASSERT_TRUE(clock.OthersIdle(harness, &first));
  ASSERT_TRUE(clock.OthersIdle(harness, &second));
  EXPECT_EQ(first, second);
  clock.Wake(worker);
  settled(1);
  ASSERT_TRUE(clock.OthersIdle(harness, &third));
  EXPECT_NE(second, third);
  clock.Wake(worker);
  t.join();
}

// A party that looked at the state just before it changed, and waits only
// after the wake-up was given, still ends its wait at once.
TEST(VirtualClock, SignalBeforeWaitIsKept) {
  const struct {
    const char* how;
    void (*wake)(Clock&, Waiter&);
  } cases[] = {
      {"Wake", [](Clock& c, Waiter& w) { c.Wake(w); }},
      {"WakeAll", [](Clock& c, Waiter&) { c.WakeAll(); }},
  };
  for (const auto& c : cases) {
    Clock clock(true);
    Waiter w;
    clock.Join(w);
    c.wake(clock, w);
    EXPECT_EQ(clock.Wait(w, 100), WaitEnd::kWoken) << c.how;
    EXPECT_EQ(clock.NowMs(), 0) << c.how;
  }
}

// The end of a run: a wait in progress ends, and so does every later one,
// though the clock no longer moves.
TEST(VirtualClock, HaltEndsWaitsNowAndLater) {
  Clock clock(true);
  Waiter a, b;
  clock.Join(a);
  clock.Join(b);
  std::thread ta([&] { clock.Wait(a, 500); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  clock.Halt();
  ta.join();
  EXPECT_EQ(clock.Wait(b, kForever), WaitEnd::kWoken);
  EXPECT_EQ(clock.NowMs(), 0);
}

TEST(VirtualClock, LeavingLetsTheOthersAdvance) {
  Clock clock(true);
  Waiter a, b;
  clock.Join(a);
  clock.Join(b);
  std::thread ta([&] { clock.Wait(a, 40); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(clock.NowMs(), 0);
  clock.Leave(b);
  ta.join();
  EXPECT_EQ(clock.NowMs(), 40);
}

TEST(RealClock, WaitsAboutTheTimeAsked) {
  Clock clock(false);
  Waiter w;
  clock.Join(w);
  const int64_t start = clock.NowMs();
  EXPECT_EQ(clock.Wait(w, start + 30), WaitEnd::kDeadline);
  EXPECT_GE(clock.NowMs() - start, 30);
}

// A request handed to the direct slot is never lost: of many handed at
// once, exactly one is taken and the rest are refused back to their senders.
TEST(ThreadPort, DirectSlotTakesOneAndRefusesTheRest) {
  Clock clock(false);
  ThreadPort port(clock);
  std::atomic<int> accepted{0}, refused{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 8; ++i)
    senders.emplace_back([&, i] {
      auto r = std::make_unique<Request>();
      r->code = static_cast<uint16_t>(i);
      if (port.HandDirect(r)) {
        EXPECT_EQ(r, nullptr);
        ++accepted;
      } else {
        EXPECT_NE(r, nullptr);
        ++refused;
      }
    });
  for (auto& t : senders) t.join();
  EXPECT_EQ(accepted.load(), 1);
  EXPECT_EQ(refused.load(), 7);
  EXPECT_TRUE(port.HasDirect());
  EXPECT_NE(port.TakeDirect(), nullptr);
  EXPECT_FALSE(port.HasDirect());
}

TEST(ThreadPort, PostWakesTheWaitingOwner) {
  Clock clock(true);
  ThreadPort port(clock);
  clock.Join(port.waiter());
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.PostKey(0x41);
  });
  Message m = port.Get(kForever);
  poster.join();
  ASSERT_TRUE(m);
  EXPECT_EQ(m.key, 0x41u);
  EXPECT_TRUE(m.posted);
}

TEST(ThreadPort, DropsOnlyLeadingRequestsOfTheGivenCodes) {
  Clock clock(false);
  ThreadPort port(clock);
  for (uint16_t code : {53, 16, 41, 53}) {
    Message m;
    m.kind = MsgKind::kRequest;
    m.request = std::make_unique<Request>();
    m.request->code = code;
    port.Post(std::move(m));
  }
  port.DropLeadingRequests([](const Request& r) { return r.code == 53 || r.code == 16; });
  Message first = port.TryGet();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.request->code, 41);
  EXPECT_EQ(port.TryGet().request->code, 53);
}

}  // namespace
}  // namespace kv
