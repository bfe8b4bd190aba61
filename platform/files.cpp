#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv {

bool ReadHostFile(const std::string& hostPath, std::string& bytes) {
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  bytes.clear();
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const std::string& hostPath, std::string_view bytes, int* error) {
  std::string pattern = hostPath + ".kvtmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  int failure = 0;
  size_t done = 0;
  while (!failure && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failure = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  // mkostemp makes the file private; the target gets the usual permissions.
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (!failure && ::fchmod(fd, 0666 & ~mask) != 0) failure = errno;
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && std::rename(name.data(), hostPath.c_str()) != 0) failure = errno;
  if (failure) {
    std::remove(name.data());
    if (error) *error = failure;
    return false;
  }
  return true;
}

}  // namespace kv
