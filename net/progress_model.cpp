#include "net/progress_model.h"

namespace kv {

bool ProgressModel::Start() {
  if (!playing_) return false;
  up_ = true;
  text_.clear();
  return !hidden_;
}

void ProgressModel::SetTotal(uint32_t bytes) {
  total_ = bytes;
  if (!playing_) return;
  scaled_ = bytes > kScaleAbove;
  position_ = 0;
}

void ProgressModel::SetText(const std::string& text, uint32_t bytesSoFar) {
  if (!playing_) return;
  position_ = scaled_ ? bytesSoFar / 1024 : bytesSoFar;
  text_ = FillProgressText(text);
}

std::string FillProgressText(const std::string& text) {
  std::string out = text;
  if (const size_t at = out.find("%s"); at != std::string::npos) out.erase(at, 2);
  return out;
}

}  // namespace kv
