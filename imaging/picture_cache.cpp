#include "imaging/picture_cache.h"

#include <filesystem>
#include <system_error>

#include "imaging/metafile_type.h"

namespace kv::imaging {

uint64_t PictureBytes(const DecodedPicture& picture) {
  return picture.bits.size() + picture.colorTable.size() * sizeof(ColorRef);
}

CachingPictureLoader::CachingPictureLoader(std::unique_ptr<PictureLoader> inner, uint64_t budgetBytes)
    : inner_(std::move(inner)), budget_(budgetBytes) {}

int CachingPictureLoader::Load(const std::string& hostPath, DecodedPicture& out) {
  return LoadKeyed(hostPath, false, 0, 0, out);
}

int CachingPictureLoader::LoadSized(const std::string& hostPath, int width, int height, DecodedPicture& out) {
  return LoadKeyed(hostPath, true, width, height, out);
}

int CachingPictureLoader::LoadKeyed(const std::string& hostPath, bool sized, int width, int height,
                                    DecodedPicture& out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const uintmax_t size = fs::file_size(hostPath, ec);
  const auto stamp = ec ? fs::file_time_type() : fs::last_write_time(hostPath, ec);
  const auto decode = [&] {
    std::lock_guard lock(innerMutex_);
    return sized ? inner_->LoadSized(hostPath, width, height, out) : inner_->Load(hostPath, out);
  };
  const bool metafile = MetafileTypeFromName(hostPath) != MetafileType::kNone;
  // A file we cannot stat is not cached: the inner loader gives its own answer.
  // Nor is a metafile loaded without a size, which the inner loader draws at
  // whatever size it was last given.
  if (ec || (metafile && !sized)) return decode();

  std::string key = hostPath;
  key += '\0' + std::to_string(size) + ':' + std::to_string(stamp.time_since_epoch().count());
  // Only a metafile is drawn at the size asked for; a raster picture shown at
  // two sizes is one entry.
  if (metafile) key += ':' + std::to_string(width) + 'x' + std::to_string(height);

  {
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(key); it != index_.end()) {
      lru_.splice(lru_.begin(), lru_, it->second);
      out = *it->second->picture;
      return 0;
    }
  }
  const int error = decode();
  // Failures are not kept: the next show tries again and reports afresh.
  if (error == 0) Insert(std::move(key), std::make_shared<const DecodedPicture>(out));
  return error;
}

void CachingPictureLoader::Insert(std::string key, std::shared_ptr<const DecodedPicture> picture) {
  const uint64_t bytes = PictureBytes(*picture);
  if (bytes > budget_) return;
  std::lock_guard lock(mutex_);
  // Another thread may have decoded the same picture meanwhile.
  if (index_.count(key)) return;
  while (bytes_ + bytes > budget_ && !lru_.empty()) {
    bytes_ -= lru_.back().bytes;
    index_.erase(lru_.back().key);
    lru_.pop_back();
  }
  lru_.push_front(Entry{key, std::move(picture), bytes});
  index_.emplace(std::move(key), lru_.begin());
  bytes_ += bytes;
}

uint64_t CachingPictureLoader::BytesHeld() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t CachingPictureLoader::EntryCount() const {
  std::lock_guard lock(mutex_);
  return lru_.size();
}

void CachingPictureLoader::Clear() {
  std::lock_guard lock(mutex_);
  lru_.clear();
  index_.clear();
  bytes_ = 0;
}

}  // namespace kv::imaging
