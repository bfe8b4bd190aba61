#include "net/url_fetch.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kv {
namespace {

struct Transfer {
  int fd = -1;
  uint64_t written = 0;
  uint64_t cap = 0;
  bool overCap = false;
  bool writeFailed = false;
  bool lengthSent = false;
  CURL* curl = nullptr;
  FetchProgress progress = nullptr;
  void* data = nullptr;

  void Notify(int code, uint32_t value) const {
    if (progress) progress(code, data, value);
  }
};

size_t OnData(char* ptr, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!t->lengthSent) {
    t->lengthSent = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
      t->Notify(kFetchContentLength, static_cast<uint32_t>(std::min<curl_off_t>(length, UINT32_MAX)));
  }
  // Bodies without an announced length are held to the cap here.
  if (t->written + bytes > t->cap) {
    t->overCap = true;
    return 0;
  }
  for (size_t done = 0; done < bytes;) {
    ssize_t n = write(t->fd, ptr + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      t->writeFailed = true;
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  t->written += bytes;
  t->Notify(kFetchReceived, static_cast<uint32_t>(bytes));
  return bytes;
}

int OnConnected(void* user, char*, char*, int, int) {
  static_cast<Transfer*>(user)->Notify(kFetchRequesting, 0);
  return CURL_PREREQFUNC_OK;
}

// The last path component of the URL, without query or fragment.
std::string LastComponent(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  size_t scheme = path.find("://");
  size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash < start) return {};
  return path.substr(slash + 1);
}

}  // namespace

std::optional<std::string> FetchUrlToFile(const std::string& url, const TempFolder& folder, FetchProgress progress,
                                          void* progressData, const FetchOptions& options, std::string* error) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  Transfer t;
  t.progress = progress;
  t.data = progressData;
  t.cap = options.maxBytes;
  t.Notify(kFetchStarting, 0);

  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    if (error) *error = why;
    t.Notify(kFetchEnded, 0);
    return std::nullopt;
  };

  auto file = folder.CreateUnique("glm", SafeExtension(LastComponent(url)));
  if (!file) return fail("cannot create a file in " + folder.path());
  t.fd = file->fd;

  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    close(file->fd);
    unlink(file->path.c_str());
    return fail("cannot start the download");
  }
  t.curl = curl.get();
  char message[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, options.maxRedirects);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, OnConnected);
  curl_easy_setopt(c, CURLOPT_PREREQDATA, &t);

  t.Notify(kFetchConnecting, 0);
  CURLcode rc = curl_easy_perform(c);
  bool closed = close(file->fd) == 0;
  if (rc != CURLE_OK || !closed) {
    unlink(file->path.c_str());
    if (t.overCap || rc == CURLE_FILESIZE_EXCEEDED) return fail("larger than the size limit");
    if (t.writeFailed || !closed) return fail("cannot write " + file->path);
    return fail(message[0] ? message : curl_easy_strerror(rc));
  }
  t.Notify(kFetchDone, static_cast<uint32_t>(std::min<uint64_t>(t.written, UINT32_MAX)));
  return file->path;
}

}  // namespace kv
