// The system clipboard as a host service: the shell supplies the desktop's
// (through the GUI thread); headless runs and tests keep one in memory per
// player. Pictures travel as a bitmap, with an enhanced metafile when the
// picture is one; text as Windows-1252.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A picture on the clipboard: 32-bit pixels, rows top-down without padding,
// each a little-endian 0x00RRGGBB word (the stage's 32-bit layout).
struct ClipboardBitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;

  bool IsNull() const { return width <= 0 || height <= 0 || pixels.size() != size_t(width) * size_t(height); }
};

class ClipboardService {
 public:
  virtual ~ClipboardService() = default;
  // Each put empties the clipboard first, so what another program or an
  // earlier put left is gone. `metafile` holds an EMF's bytes or is empty.
  virtual void PutPicture(const ClipboardBitmap& bitmap, std::string_view metafile) = 0;
  virtual void PutText(std::string_view text) = 0;
  // Nothing when the clipboard holds no such content.
  virtual std::optional<ClipboardBitmap> GetBitmap() = 0;
  virtual std::optional<std::string> GetMetafile() = 0;
  virtual std::optional<std::string> GetText() = 0;
};

// Kept in memory: one per player, so runs never see each other's content.
// Thread-safe.
class MemoryClipboard : public ClipboardService {
 public:
  void PutPicture(const ClipboardBitmap& bitmap, std::string_view metafile) override;
  void PutText(std::string_view text) override;
  std::optional<ClipboardBitmap> GetBitmap() override;
  std::optional<std::string> GetMetafile() override;
  std::optional<std::string> GetText() override;

 private:
  std::mutex mutex_;
  std::optional<ClipboardBitmap> bitmap_;
  std::optional<std::string> metafile_;
  std::optional<std::string> text_;
};

}  // namespace kv
