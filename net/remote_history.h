// The open-remote dialog's model: its history of 15 addresses in the
// settings section "RemoteHistory\Runtime" (values "URL0", newest, to
// "URL14") and the texts and bar position its progress callback shows.
// The shell's dialog calls it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/settings.h"

namespace kv {

inline constexpr const char* kRemoteHistorySection = "RemoteHistory\\Runtime";
inline constexpr int kRemoteHistorySize = 15;

// The non-empty values, newest first; the two examples when there are none.
std::vector<std::string> LoadRemoteHistory(const SettingsStore& store);
// Two example addresses offered when the history is empty.
std::vector<std::string> RemoteHistoryExamples();
// `address` becomes number 0; the others move down one place, an entry equal
// to it (without regard to case) dropped, at most 15 kept.
bool RememberRemoteAddress(SettingsStore& store, const std::string& address);

// Follows the download's progress codes as the dialog shows them.
class RemoteProgress {
 public:
  // Answers 0 (the download goes on).
  int OnProgress(int code, uint32_t value);
  const std::string& text() const { return text_; }
  // 0..100; 0 while the length is unknown.
  unsigned percent() const;

  // Fits the FetchProgress signature; `data` is a RemoteProgress.
  static int Callback(int code, void* data, uint32_t value);

 private:
  std::string text_;
  uint64_t received_ = 0;
  uint64_t length_ = 0;
};

// "The resource '%s' cannot be found or is not available."
std::string RemoteNotFoundText(const std::string& address);

}  // namespace kv
