// The stand-alone download of a URL into the player's temporary folder, in
// place of the system URL-cache download: http and https only, at most five
// redirects, a size cap. Called by the resource locator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/temp_folder.h"

namespace kv {

// The progress callback of the player's downloads: (code, data, value).
using FetchProgress = int (*)(int code, void* data, uint32_t value);

// Progress codes this download reports, with their values.
enum FetchProgressCode : int {
  kFetchStarting = 1,       // 0
  kFetchConnecting = 3,     // 0
  kFetchRequesting = 5,     // 0, once connected
  kFetchReceived = 8,       // bytes of the block just received
  kFetchDone = 9,           // total bytes
  kFetchEnded = 10,         // 0, after a failed download
  kFetchContentLength = 12, // the announced length (only when announced)
};

struct FetchOptions {
  uint64_t maxBytes = uint64_t(1) << 30;
  long maxRedirects = 5;
  long connectTimeoutSeconds = 30;
  long stallSeconds = 60;  // no byte for this long ends the download
};

// Downloads `url` into a new "glm" file of `folder` that keeps the extension
// of the URL's last path component. Nothing on failure (no file left behind;
// `error` says why).
std::optional<std::string> FetchUrlToFile(const std::string& url, const TempFolder& folder, FetchProgress progress,
                                          void* progressData, const FetchOptions& options = {},
                                          std::string* error = nullptr);

}  // namespace kv
