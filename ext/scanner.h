// Scanning through SANE: the scanner object of the Orlan library and
// kvoTwain use it to list the devices, open one and take one picture with
// the device's own settings. One SANE session serves the whole process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv {

// A scanned picture: 24-bit B, G, R rows, top-down, each padded to four bytes.
struct ScannedPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
  size_t Stride() const { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }
};

// Pictures larger than this are refused rather than held.
inline constexpr int kMaxScanSide = 16384;

class Scanner {
 public:
  Scanner() = default;
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Starts SANE for the process (once); false with `error` when it cannot.
  static bool Start(std::string& error);
  // The names of the devices SANE finds, in its order.
  static std::vector<std::string> Devices();

  // Opens `device` (the first device when empty), closing one held before.
  bool Open(const std::string& device, std::string& error);
  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& device() const { return device_; }
  // One picture from the open device. Grey, colour (one frame or three) and
  // line-art scans of 1, 8 or 16 bits become B, G, R. A device that fails or
  // disappears meanwhile ends the scan with `error`.
  bool Scan(ScannedPicture& out, std::string& error);
  void Close();

 private:
  void* handle_ = nullptr;
  std::string device_;
};

}  // namespace kv
