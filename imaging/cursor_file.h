// Cursor and icon resource files, as an object names them for its cursor,
// decoded to straight-alpha ARGB that the stage window turns into a host
// cursor. Qt-free; called by the shell when the stage asks for a file cursor.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kv::imaging {

// The format's own limit on a side (a directory size byte of 0 means 256).
inline constexpr int kMaxCursorSide = 256;
// Longer files are refused unread; real cursor files stay far below it.
inline constexpr uint64_t kMaxCursorFileBytes = uint64_t(4) << 20;

struct CursorImage {
  int width = 0;
  int height = 0;
  int hotX = 0;  // inside the image
  int hotY = 0;
  std::vector<uint32_t> argb;  // top-down rows, 0xAARRGGBB, alpha not premultiplied
};

// An animated cursor (a RIFF "ACON" file): its frames and the steps that
// show them in turn, each for its time. A still cursor is one frame shown
// by one step of 0 ms.
struct AnimatedCursor {
  std::vector<CursorImage> frames;
  struct Step {
    size_t frame = 0;
    int ms = 0;
  };
  std::vector<Step> steps;
};
// Bounds on what an animated cursor may ask for; real ones stay far below.
inline constexpr uint32_t kMaxCursorFrames = 256;
inline constexpr uint32_t kMaxCursorSteps = 1024;

// The image of the entry closest to 32x32 (of an animated cursor, the image
// its first step shows). On failure answers nothing and names the reason in
// `error` (when given).
std::optional<CursorImage> DecodeCursorFile(std::span<const uint8_t> bytes, std::string* error);
// Every frame and step of an animated cursor file, or the one image of a
// still cursor or icon file.
std::optional<AnimatedCursor> DecodeAnimatedCursor(std::span<const uint8_t> bytes, std::string* error);
// Read at most kMaxCursorFileBytes of `file` and decode it.
std::optional<CursorImage> LoadCursorFile(const std::filesystem::path& file, std::string* error);
std::optional<AnimatedCursor> LoadAnimatedCursor(const std::filesystem::path& file, std::string* error);

}  // namespace kv::imaging
