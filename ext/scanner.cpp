#include "ext/scanner.h"

#include <sane/sane.h>

#include <algorithm>
#include <cstring>

namespace kv {

namespace {

std::mutex& SaneLock() {
  static std::mutex lock;
  return lock;
}

bool& SaneStarted() {
  static bool started = false;
  return started;
}

// The raw bytes of one frame and its parameters.
struct Frame {
  SANE_Parameters p{};
  std::vector<uint8_t> bytes;
};

// A sample of frame `f` at pixel x of line y as 0..255.
uint8_t Sample(const Frame& f, int x, int y, int channel, int channels) {
  const uint8_t* line = f.bytes.data() + static_cast<size_t>(y) * static_cast<size_t>(f.p.bytes_per_line);
  switch (f.p.depth) {
    case 1: {
      // Line art: a set bit is black.
      const int bit = x * channels + channel;
      const bool black = (line[bit / 8] >> (7 - bit % 8)) & 1;
      return black ? 0 : 255;
    }
    case 16: {
      uint16_t v;
      std::memcpy(&v, line + (static_cast<size_t>(x) * channels + channel) * 2, 2);
      return static_cast<uint8_t>(v >> 8);
    }
    default: return line[static_cast<size_t>(x) * channels + channel];
  }
}

}  // namespace

Scanner::~Scanner() { Close(); }

bool Scanner::Start(std::string& error) {
  std::lock_guard lock(SaneLock());
  if (SaneStarted()) return true;
  SANE_Int version = 0;
  const SANE_Status s = sane_init(&version, nullptr);
  if (s != SANE_STATUS_GOOD) {
    error = sane_strstatus(s);
    return false;
  }
  SaneStarted() = true;
  return true;
}

std::vector<std::string> Scanner::Devices() {
  std::lock_guard lock(SaneLock());
  std::vector<std::string> names;
  const SANE_Device** list = nullptr;
  if (!SaneStarted() || sane_get_devices(&list, SANE_TRUE) != SANE_STATUS_GOOD || !list) return names;
  for (const SANE_Device** d = list; *d; ++d) names.emplace_back((*d)->name);
  return names;
}

bool Scanner::Open(const std::string& device, std::string& error) {
  Close();
  std::string name = device;
  if (name.empty()) {
    const std::vector<std::string> all = Devices();
    if (all.empty()) {
      error = "no scanner found";
      return false;
    }
    name = all.front();
  }
  std::lock_guard lock(SaneLock());
  SANE_Handle h = nullptr;
  const SANE_Status s = SaneStarted() ? sane_open(name.c_str(), &h) : SANE_STATUS_INVAL;
  if (s != SANE_STATUS_GOOD || !h) {
    error = sane_strstatus(s);
    return false;
  }
  handle_ = h;
  device_ = name;
  return true;
}

void Scanner::Close() {
  if (!handle_) return;
  std::lock_guard lock(SaneLock());
  sane_close(static_cast<SANE_Handle>(handle_));
  handle_ = nullptr;
  device_.clear();
}

bool Scanner::Scan(ScannedPicture& out, std::string& error) {
  if (!handle_) {
    error = "no scanner open";
    return false;
  }
  auto h = static_cast<SANE_Handle>(handle_);
  std::vector<Frame> frames;
  // Colour in three passes arrives as three frames, one per channel.
  for (bool last = false; !last;) {
    Frame f;
    SANE_Status s = sane_start(h);
    if (s == SANE_STATUS_GOOD) s = sane_get_parameters(h, &f.p);
    if (s != SANE_STATUS_GOOD) {
      sane_cancel(h);
      error = sane_strstatus(s);
      return false;
    }
    const bool known = f.p.depth == 1 || f.p.depth == 8 || f.p.depth == 16;
    const int samples = f.p.format == SANE_FRAME_RGB ? 3 : 1;
    if (!known || f.p.pixels_per_line <= 0 || f.p.pixels_per_line > kMaxScanSide || f.p.bytes_per_line <= 0 ||
        f.p.lines > kMaxScanSide ||
        static_cast<int64_t>(f.p.bytes_per_line) < (int64_t{f.p.pixels_per_line} * samples * f.p.depth + 7) / 8) {
      sane_cancel(h);
      error = "the scanner sends pictures of a kind not read here";
      return false;
    }
    // Lines may be unknown (-1) until the data ends.
    const size_t limit = static_cast<size_t>(f.p.bytes_per_line) * kMaxScanSide;
    if (f.p.lines > 0) f.bytes.reserve(static_cast<size_t>(f.p.bytes_per_line) * static_cast<size_t>(f.p.lines));
    uint8_t buf[32768];
    for (;;) {
      SANE_Int n = 0;
      s = sane_read(h, buf, sizeof buf, &n);
      if (s == SANE_STATUS_EOF) break;
      if (s != SANE_STATUS_GOOD || f.bytes.size() + static_cast<size_t>(n) > limit) {
        sane_cancel(h);
        error = s != SANE_STATUS_GOOD ? sane_strstatus(s) : "the scanned picture is too large";
        return false;
      }
      f.bytes.insert(f.bytes.end(), buf, buf + n);
    }
    last = f.p.last_frame || f.p.format == SANE_FRAME_GRAY || f.p.format == SANE_FRAME_RGB;
    frames.push_back(std::move(f));
    if (frames.size() > 3) break;
  }
  sane_cancel(h);
  const Frame& first = frames.front();
  const int width = first.p.pixels_per_line;
  int height = static_cast<int>(first.bytes.size() / static_cast<size_t>(first.p.bytes_per_line));
  for (const Frame& f : frames) {
    if (f.p.pixels_per_line != width) {
      error = "the scanner's frames differ in size";
      return false;
    }
    height = std::min(height, static_cast<int>(f.bytes.size() / static_cast<size_t>(f.p.bytes_per_line)));
  }
  if (height <= 0) {
    error = "the scanner sent no picture";
    return false;
  }
  out.width = width;
  out.height = height;
  out.bgr.assign(out.Stride() * static_cast<size_t>(height), 0);
  // Which frame and sample gives red, green and blue.
  const Frame* source[3] = {&first, &first, &first};
  int channel[3] = {0, 0, 0}, channels = 1;
  if (first.p.format == SANE_FRAME_RGB) {
    channel[1] = 1, channel[2] = 2, channels = 3;
  } else {
    for (const Frame& f : frames) {
      if (f.p.format == SANE_FRAME_RED) source[0] = &f;
      if (f.p.format == SANE_FRAME_GREEN) source[1] = &f;
      if (f.p.format == SANE_FRAME_BLUE) source[2] = &f;
    }
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* row = out.bgr.data() + out.Stride() * static_cast<size_t>(y);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) row[x * 3 + (2 - c)] = Sample(*source[c], x, y, channel[c], channels);
  }
  return true;
}

}  // namespace kv
