// What the download progress panel shows, as the HTTP client reports it:
// the bar's range and position (counted in KiB past 10000 bytes), the line of
// text, and whether the panel is up. The shell's panel draws it; the model
// holds the rules, so they are the same with or without a window.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

class ProgressModel {
 public:
  // Totals above this count in units of 1024 bytes.
  static constexpr uint32_t kScaleAbove = 10000;

  // Only while a project plays does the panel exist; afterwards it is left
  // as it is.
  void SetPlaying(bool playing) { playing_ = playing; }
  bool playing() const { return playing_; }

  // Answers whether the panel comes up (it does not once the user hid it).
  bool Start();
  void SetTotal(uint32_t bytes);
  void SetText(const std::string& text, uint32_t bytesSoFar);
  void End() { up_ = false; }
  // The user cleared the panel's check box: this and every later panel of
  // the process stay hidden.
  void HideForGood() {
    hidden_ = true;
    up_ = false;
  }

  bool up() const { return up_ && !hidden_; }
  bool hidden() const { return hidden_; }
  uint32_t total() const { return total_; }
  bool scaled() const { return scaled_; }
  uint32_t range() const { return scaled_ ? total_ / 1024 : total_; }
  uint32_t position() const { return position_; }
  const std::string& text() const { return text_; }

 private:
  bool playing_ = false;
  bool hidden_ = false;
  bool up_ = false;
  uint32_t total_ = 0;
  bool scaled_ = false;
  uint32_t position_ = 0;
  std::string text_;
};

// The client's text carries one "%s" place more, filled with nothing. The
// text is never a format: other "%" sequences stay as they are.
std::string FillProgressText(const std::string& text);

}  // namespace kv
