// Feeds arbitrary bytes to the compilation archive reader: header, index walk
// and every entry's decoding, under the archive's own key.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <algorithm>
#include <vector>

#include "net/kvg_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("kvg", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  uint32_t key = 0;
  if (size >= 28) key = uint32_t(data[24]) | uint32_t(data[25]) << 8 | uint32_t(data[26]) << 16 | uint32_t(data[27]) << 24;
  for (bool index : {true, false}) {
    auto reader = kv::KvgReader::Open(path, key, index, nullptr);
    if (!reader) continue;
    reader->ForEachEntry([&](const kv::KvgEntry& e) {
      std::vector<uint8_t> out;
      reader->ReadEntry(e, out, size_t(1) << 24);
      return true;
    });
  }
  close(fd);
  return 0;
}
