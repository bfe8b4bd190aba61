// A picture cache in front of any stage picture loader, so a picture shown
// twice is decoded once. Entries are keyed by the host path, the file's size
// and modification time, and for metafiles the size they were drawn at; the
// cache is bounded by the bytes it holds and drops the least recently used
// entry first. The shell wraps the player's loader in it; safe from any thread.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "stage/hooks.h"

namespace kv::imaging {

class CachingPictureLoader : public PictureLoader {
 public:
  static constexpr uint64_t kDefaultBudget = uint64_t(128) << 20;

  explicit CachingPictureLoader(std::unique_ptr<PictureLoader> inner, uint64_t budgetBytes = kDefaultBudget);

  int Load(const std::string& hostPath, DecodedPicture& out) override;
  int LoadSized(const std::string& hostPath, int width, int height, DecodedPicture& out) override;

  PictureLoader& inner() { return *inner_; }
  uint64_t BytesHeld() const;
  size_t EntryCount() const;
  void Clear();

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<const DecodedPicture> picture;
    uint64_t bytes = 0;
  };
  int LoadKeyed(const std::string& hostPath, bool sized, int width, int height, DecodedPicture& out);
  void Insert(std::string key, std::shared_ptr<const DecodedPicture> picture);

  std::unique_ptr<PictureLoader> inner_;
  const uint64_t budget_;
  // The inner loader keeps per-call state (its last error, a metafile size),
  // so calls into it are serialised apart from the map's own lock.
  std::mutex innerMutex_;
  mutable std::mutex mutex_;
  std::list<Entry> lru_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
  uint64_t bytes_ = 0;
};

// The bytes a decoded picture holds, as the cache counts them.
uint64_t PictureBytes(const DecodedPicture& picture);

}  // namespace kv::imaging
