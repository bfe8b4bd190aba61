#include "player/terminal_progress.h"

#include <algorithm>

namespace kv {

void TerminalProgress::StartProgress() {
  std::lock_guard lock(mutex_);
  model_.SetPlaying(true);
  model_.Start();
  shown_.clear();
}

void TerminalProgress::SetProgressTotal(uint32_t bytes) {
  std::lock_guard lock(mutex_);
  model_.SetTotal(bytes);
  Draw();
}

void TerminalProgress::SetProgressText(const std::string& text, uint32_t bytesSoFar) {
  std::lock_guard lock(mutex_);
  model_.SetText(text, bytesSoFar);
  Draw();
}

void TerminalProgress::EndProgress() {
  std::lock_guard lock(mutex_);
  if (!shown_.empty()) std::fputc('\n', to_);
  std::fflush(to_);
  shown_.clear();
  model_.End();
}

void TerminalProgress::Draw() {
  // Nothing until the client has said what it is doing.
  if (!model_.up() || model_.text().empty()) return;
  std::string line = "korvel: " + model_.text();
  if (model_.range() > 0) {
    const uint64_t percent = std::min<uint64_t>(100, uint64_t(model_.position()) * 100 / model_.range());
    line += " " + std::to_string(percent) + "%";
  }
  if (line == shown_) return;
  // Rewrite in place; spaces clear what a longer line left.
  std::string out = "\r" + line;
  if (shown_.size() > line.size()) out += std::string(shown_.size() - line.size(), ' ');
  std::fputs(out.c_str(), to_);
  std::fflush(to_);
  shown_ = std::move(line);
}

}  // namespace kv
