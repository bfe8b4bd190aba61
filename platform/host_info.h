// Key state and screen facts the engine asks of the host. The window layer
// (or the headless harness, from scripted input) feeds key changes in; tests
// set both directly.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kv {

// Whether a virtual key (the system's key codes 1 to 255, mouse buttons
// included) is down now.
class KeyState {
 public:
  virtual ~KeyState() = default;
  virtual bool IsDown(int virtualKey) const = 0;
};

// Key state kept from the key events it is told of. Any thread may ask while
// the event thread updates it; codes outside 1..255 are never down.
class TrackedKeyState : public KeyState {
 public:
  void SetDown(int virtualKey, bool down);
  void ReleaseAll();
  bool IsDown(int virtualKey) const override;

 private:
  std::array<std::atomic<bool>, 256> down_{};
};

// The screen the stage is shown on.
class ScreenInfo {
 public:
  virtual ~ScreenInfo() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int Depth() const = 0;  // bits per pixel
};

// A screen of given numbers: the headless default, and what the window layer
// fills in from the display it finds.
class FixedScreenInfo : public ScreenInfo {
 public:
  FixedScreenInfo(int width = 1024, int height = 768, int depth = 32) : width_(width), height_(height), depth_(depth) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int Depth() const override { return depth_; }

 private:
  int width_;
  int height_;
  int depth_;
};

}  // namespace kv
