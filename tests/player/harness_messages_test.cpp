// The run's message box in a window: one box at a time.
#include "player/harness_messages.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/trace.h"

namespace kv {
namespace {

// A real box that stays up until it is released.
class HeldBox : public MessageBoxService {
 public:
  MsgAnswer Show(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    std::unique_lock lock(mutex_);
    ++shown;
    up_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    return MsgAnswer::No;
  }
  void WaitUntilUp() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return up_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  int shown = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool up_ = false;
  bool released_ = false;
};

class CountingTrace : public TraceSink {
 public:
  void Start(const std::string&) override {}
  void Script(const std::string&, const std::string&) override {}
  void Run(const std::string&, const std::string&, int64_t, const std::string&, const std::string&) override {}
  void Event(const std::string&, const std::string&, uint32_t) override {}
  void Handler(const std::string&, const std::string&, uint32_t, uint16_t) override {}
  void Set(const VariableView&) override {}
  void Rw(const VariableView&) override {}
  void MessageShown(uint32_t, const std::string&, const std::string& text, const std::string& answer) override {
    std::lock_guard lock(mutex);
    lines.push_back(text + ":" + answer);
  }
  void Launch(const std::string&, const std::vector<std::string>&) override {}
  void Show(const std::string&, int32_t, int32_t, int32_t, int32_t) override {}
  void Hide(const std::string&) override {}
  void Effect(const std::string&, uint32_t, const char*, int) override {}
  void Path(const std::string&, size_t, int32_t, int32_t, int32_t, int32_t) override {}
  void Print(const std::string&, const std::string&, const std::string&) override {}
  void End(int, const std::vector<VariableView>&, const std::vector<VariableView>&) override {}
  std::mutex mutex;
  std::vector<std::string> lines;
};

TEST(HarnessMessageBox, ABoxAskedForWhileOneIsUpAnswersTheFirstButtonAtOnceAndShowsNothing) {
  HeldBox real;
  CountingTrace trace;
  HarnessMessageBox boxes({}, &trace, false);
  boxes.SetInteractive(&real);
  MsgAnswer first = MsgAnswer::Ok;
  std::thread asker([&] { first = boxes.Show("first", "T", MsgButtons::YesNo, MsgIcon::Question); });
  real.WaitUntilUp();
  // Yes/No or OK: the second is answered 1 (OK) without a box.
  EXPECT_EQ(boxes.Show("second", "T", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::Ok);
  EXPECT_EQ(boxes.Show("third", "T", MsgButtons::Ok, MsgIcon::Information), MsgAnswer::Ok);
  real.Release();
  asker.join();
  EXPECT_EQ(first, MsgAnswer::No);
  EXPECT_EQ(real.shown, 1);
  EXPECT_EQ(trace.lines, std::vector<std::string>{"first:no"});
}

}  // namespace
}  // namespace kv
