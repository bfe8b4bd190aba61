// What the transfer benchmarks share: a large file of a fixed pattern to
// move over loopback, and the median of the timed runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kv::bench {

// `size` bytes (a whole number of MiB) of a pattern no compressor shortens much.
inline void WritePatternFile(const std::filesystem::path& path, size_t size) {
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
  std::ofstream out(path, std::ios::binary);
  for (size_t done = 0; done < size; done += block.size()) out.write(block.data(), block.size());
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace kv::bench
