// kvtool get URL -o FILE: one download through the player's HTTP client.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/hooks.h"
#include "net/http.h"
#include "net/socket.h"
#include "platform/files.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/http_common.h"

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

namespace {
constexpr OptionSpec kOptions[] = {
    {"-o", "FILE", "the file to write (required)"},
};
}  // namespace

const CommandSpec kGetSpec{"get", "URL", "fetch a file over HTTP/1.0, progress on standard error", kOptions};

int RunGet(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kGetSpec, argc, argv);
  RequireOperands(kGetSpec, args, 1, 1);
  if (!args.Has("-o")) UsageError(kGetSpec, "-o FILE is required");
  const char* outPath = args.Value("-o");
  const UrlRecord url = HttpUrlOperand(kGetSpec, args.operands[0]);

  HttpFileOutput file(outPath);
  if (int err = file.Open(); err != 0)
    return Fail(kExitFailed, "cannot create %s: %s", outPath, ErrnoText(err).c_str());
  StderrProgress progress;
  NetHooks net;
  net.SetProgressSink(&progress);
  HttpStatus status;
  uint32_t bytes = 0;
  int error = 0;
  bool ok = HttpGet(net, url, &file, status, nullptr, nullptr, &bytes, true, error);
  if (ok && (error = file.Finish()) != 0) {
    ok = false;
    file.Discard();
  }
  if (!ok) {
    // A failed write reports its errno value, below the WinSock numbers.
    if (error > 0 && error < 10000) return Fail(kExitFailed, "cannot write %s: %s", outPath, ErrnoText(error).c_str());
    return Fail(HttpFailureStatus(status), "%s: %s", args.operands[0].c_str(), HttpFailureText(error, status).c_str());
  }
  std::fprintf(stderr, "%u bytes written to %s\n", bytes, outPath);
  return kExitOk;
}

}  // namespace kv::tool
