// kvtool get URL -o FILE: one download through the player's HTTP client.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/hooks.h"
#include "net/http.h"
#include "net/socket.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {
namespace {

// The progress window's texts on standard error: one line per step, the byte
// count rewritten in place at most a few times a second.
class StderrProgress : public ProgressSink {
 public:
  void StartProgress() override {}
  void SetProgressTotal(uint32_t bytes) override { total_ = bytes; }
  void SetProgressText(const std::string& text, uint32_t done) override {
    // The window fills the text's remaining "%s" place with nothing; so do we.
    std::string line = text;
    if (size_t at = line.find("%s"); at != std::string::npos) line.erase(at, 2);
    auto now = std::chrono::steady_clock::now();
    bool counting = line.rfind("Received ", 0) == 0;
    if (counting && done != total_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    if (counting && total_ > 0)
      std::fprintf(stderr, "\r%s (%u%%)", line.c_str(), static_cast<unsigned>(uint64_t{done} * 100 / total_));
    else
      std::fprintf(stderr, counting ? "\r%s" : "%s\n", line.c_str());
    counted_ = counting;
  }
  void EndProgress() override {
    if (counted_) std::fputc('\n', stderr);
  }

 private:
  uint32_t total_ = 0;
  bool counted_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int RunGet(int argc, char** argv) {
  const char* urlText = nullptr;
  const char* outPath = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc)
      outPath = argv[++i];
    else if (!urlText)
      urlText = argv[i];
    else
      return Fail("get", kExitUsage, "unexpected argument '%s' (usage: kvtool get URL -o FILE)", argv[i]);
  }
  if (!urlText || !outPath) return Fail("get", kExitUsage, "usage: kvtool get URL -o FILE");
  UrlRecord url;
  if (!ParseUrl(urlText, url) || url.type != kSchemeHttp)
    return Fail("get", kExitUsage, "'%s' is not an http URL", urlText);
  if (!StartSockets()) return Fail("get", kExitFailed, "socket services are not available");

  HttpFileOutput file(outPath);
  if (int err = file.Open(); err != 0)
    return Fail("get", kExitFailed, "cannot create %s: %s", outPath, std::strerror(err));
  StderrProgress progress;
  SetProgressSink(&progress);
  HttpStatus status;
  uint32_t bytes = 0;
  int error = 0;
  bool ok = HttpGet(url, &file, status, nullptr, nullptr, &bytes, true, error);
  SetProgressSink(nullptr);
  if (ok && (error = file.Finish()) != 0) {
    ok = false;
    file.Discard();
  }
  if (!ok) {
    if (status.status != 0 && status.status != 200)
      return Fail("get", kExitFailed, "error %d (HTTP status %u)", error, static_cast<unsigned>(status.status));
    return Fail("get", kExitFailed, "error %d", error);
  }
  std::fprintf(stderr, "%u bytes written to %s\n", bytes, outPath);
  return kExitOk;
}

}  // namespace kv::tool
