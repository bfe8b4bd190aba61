#include "platform/clipboard.h"

namespace kv {

void MemoryClipboard::PutPicture(const ClipboardBitmap& bitmap, std::string_view metafile) {
  std::lock_guard lock(mutex_);
  bitmap_.reset();
  metafile_.reset();
  text_.reset();
  if (!bitmap.IsNull()) bitmap_ = bitmap;
  if (!metafile.empty()) metafile_ = std::string(metafile);
}

void MemoryClipboard::PutText(std::string_view text) {
  std::lock_guard lock(mutex_);
  bitmap_.reset();
  metafile_.reset();
  text_ = std::string(text);
}

std::optional<ClipboardBitmap> MemoryClipboard::GetBitmap() {
  std::lock_guard lock(mutex_);
  return bitmap_;
}

std::optional<std::string> MemoryClipboard::GetMetafile() {
  std::lock_guard lock(mutex_);
  return metafile_;
}

std::optional<std::string> MemoryClipboard::GetText() {
  std::lock_guard lock(mutex_);
  return text_;
}

}  // namespace kv
