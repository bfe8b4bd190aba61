#include "net/remote_history.h"

#include <cstdio>

#include "net/url_fetch.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

// The dialog's texts.
constexpr uint32_t kNotAvailable = 6817;
constexpr uint32_t kInitializing = 6818;
constexpr uint32_t kConnecting = 6819;
constexpr uint32_t kRequesting = 6820;
constexpr uint32_t kReceivedOf = 6821;
constexpr uint32_t kRetrieved = 6822;

std::string ValueName(int n) { return "URL" + std::to_string(n); }

}  // namespace

std::vector<std::string> RemoteHistoryExamples() {
  return {"http://www.example.com/korvel/demo.kvg", "http://localhost/projects/start.kvp"};
}

std::vector<std::string> LoadRemoteHistory(const SettingsStore& store) {
  std::vector<std::string> out;
  for (int i = 0; i < kRemoteHistorySize; ++i) {
    std::string v = store.GetString(kRemoteHistorySection, ValueName(i), "");
    if (!v.empty()) out.push_back(std::move(v));
  }
  return out.empty() ? RemoteHistoryExamples() : out;
}

bool RememberRemoteAddress(SettingsStore& store, const std::string& address) {
  std::vector<std::string> entries{address};
  for (int i = 0; i < kRemoteHistorySize && entries.size() < size_t(kRemoteHistorySize); ++i) {
    std::string v = store.GetString(kRemoteHistorySection, ValueName(i), "");
    if (!v.empty() && !EqualsNoCase(v, address)) entries.push_back(std::move(v));
  }
  bool ok = true;
  for (int i = 0; i < kRemoteHistorySize; ++i)
    ok &= store.SetString(kRemoteHistorySection, ValueName(i), size_t(i) < entries.size() ? entries[i] : "");
  return ok;
}

int RemoteProgress::OnProgress(int code, uint32_t value) {
  char buf[256];
  switch (code) {
    case kFetchStarting: text_ = LoadString(kInitializing); break;
    case kFetchConnecting: text_ = LoadString(kConnecting); break;
    case kFetchRequesting: text_ = LoadString(kRequesting); break;
    case kFetchReceived:
      received_ += value;
      std::snprintf(buf, sizeof buf, LoadString(kReceivedOf), static_cast<unsigned long>(received_),
                    static_cast<unsigned long>(length_));
      text_ = buf;
      break;
    case kFetchDone: text_ = LoadString(kRetrieved); break;
    case kFetchEnded: text_.clear(); break;
    case kFetchContentLength:
      length_ = value;
      received_ = 0;
      break;
    default: break;
  }
  return 0;
}

unsigned RemoteProgress::percent() const {
  // An unannounced length leaves the bar at its start.
  if (length_ == 0) return 0;
  uint64_t p = received_ * 100 / length_;
  return static_cast<unsigned>(p > 100 ? 100 : p);
}

int RemoteProgress::Callback(int code, void* data, uint32_t value) {
  return static_cast<RemoteProgress*>(data)->OnProgress(code, value);
}

std::string RemoteNotFoundText(const std::string& address) { return FormatString(kNotAvailable, address); }

}  // namespace kv
