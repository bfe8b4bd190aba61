// Compilation archives (".kvg"): a 48-byte header ("*PSB", version 5, flags,
// entry count, key, first entry offset, name and description lengths), the
// description, then entries of a 16-byte head, a name and the stored bytes.
// The resource locator reads them; kvtool and the tests also write them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/codec.h"

namespace kv {

inline constexpr uint32_t kKvgVersion = 5;
inline constexpr uint32_t kKvgWideTexts = 0x1;     // header: description is 16-bit
inline constexpr uint32_t kKvgNoLookup = 0x2;      // header: may not stay open for lookups
inline constexpr uint32_t kKvgWideName = 0x1;      // entry: name is 16-bit
inline constexpr uint32_t kKvgCompressed = 0x1000;
inline constexpr uint32_t kKvgMethodMask = 0x00FFF000;
inline constexpr uint32_t kKvgStored = 0;
inline constexpr uint32_t kKvgPredictor = 0x3000;
inline constexpr uint32_t kKvgLzhuf = 0x5000;
inline constexpr uint32_t kKvgLzss = 0x9000;

enum class KvgError {
  None,
  Unreadable,     // cannot open or read the file
  BadHeader,      // too short, wrong magic or version, counts beyond the file
  WrongKey,
  NoLookup,       // flagged as not to be kept open for lookups
  BadEntry,       // an entry head, name or size runs past the end of the file
  UnknownMethod,
  BadData,        // the stored bytes do not decode
  TooLarge,       // the decoded entry is over the caller's limit
  WriteFailed,
};
const char* KvgErrorText(KvgError error);

// The byte every stored byte is combined with: the four key bytes combined.
uint8_t KvgKeyByte(uint32_t key);

// The method of an entry's flags: kKvgStored when bit 12 is clear.
uint32_t KvgMethodOf(uint32_t flags);
const char* KvgMethodName(uint32_t method);

struct KvgEntry {
  uint32_t flags = 0;
  uint64_t storedSize = 0;
  std::string name;  // Windows-1252
  uint64_t headOffset = 0;
  uint64_t dataOffset = 0;
  uint32_t method() const { return KvgMethodOf(flags); }
  bool wideName() const { return (flags & kKvgWideName) != 0; }
};

class KvgReader {
 public:
  ~KvgReader();
  KvgReader(const KvgReader&) = delete;
  KvgReader& operator=(const KvgReader&) = delete;

  // Reads the header and, with `index`, every entry head: all counts,
  // offsets, sizes and name lengths are checked against the file size.
  static std::unique_ptr<KvgReader> Open(const std::string& hostPath, uint32_t key, bool index, KvgError* error);
  // The same with the key the header names (tools that inspect any file).
  static std::unique_ptr<KvgReader> OpenWithOwnKey(const std::string& hostPath, bool index, KvgError* error);

  const std::string& path() const { return path_; }
  uint32_t flags() const { return flags_; }
  uint32_t key() const { return key_; }
  uint32_t entryCount() const { return entryCount_; }
  const std::string& description() const { return description_; }
  const std::vector<KvgEntry>& entries() const { return entries_; }

  // Walks the entries one after the other from the first; `visit` answering
  // false stops the walk. Used when the index is not kept.
  template <typename Visit>
  KvgError ForEachEntry(Visit visit) const {
    uint64_t offset = firstOffset_;
    for (uint32_t i = 0; i < entryCount_; ++i) {
      KvgEntry entry;
      if (KvgError e = ReadHead(offset, entry); e != KvgError::None) return e;
      offset = entry.dataOffset + entry.storedSize;
      if (!visit(entry)) break;
    }
    return KvgError::None;
  }

  // The entry's bytes with the key removed and decoded; at most `maxOut`.
  KvgError ReadEntry(const KvgEntry& entry, std::vector<uint8_t>& out, size_t maxOut = kNoOutputCap) const;
  // The same, written to `fd` (stored entries are copied in 65535-byte steps).
  KvgError WriteEntryTo(const KvgEntry& entry, int fd, size_t maxOut = kNoOutputCap) const;

 private:
  struct Token {};

 public:
  KvgReader(Token, int fd, std::string path, uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}

 private:
  // Without `key`, the header's own key is taken.
  KvgError ReadHeader(std::optional<uint32_t> key);
  static std::unique_ptr<KvgReader> OpenWith(const std::string& hostPath, std::optional<uint32_t> key, bool index,
                                             KvgError* error);
  KvgError ReadHead(uint64_t offset, KvgEntry& entry) const;
  bool ReadAt(uint64_t offset, void* to, size_t bytes) const;

  int fd_;
  std::string path_;
  uint64_t size_;
  uint32_t flags_ = 0;
  uint32_t key_ = 0;
  uint32_t entryCount_ = 0;
  uint64_t firstOffset_ = 0;
  std::string description_;
  std::vector<KvgEntry> entries_;
};

// Decodes stored bytes (key already removed) of a method.
KvgError DecodeKvgData(uint32_t method, std::span<const uint8_t> stored, std::vector<uint8_t>& out,
                       size_t maxOut = kNoOutputCap);
// Encodes bytes for a method (kKvgStored copies them).
std::vector<uint8_t> EncodeKvgData(uint32_t method, std::span<const uint8_t> data);

struct KvgInput {
  std::string name;  // Windows-1252
  std::vector<uint8_t> data;
  uint32_t method = kKvgStored;
  bool wideName = true;
};

// The archive's bytes; entries are encoded by their method and combined with
// the key byte.
std::vector<uint8_t> BuildKvg(const std::vector<KvgInput>& entries, uint32_t key, const std::string& description,
                              bool wideTexts, bool noLookup = false);

}  // namespace kv
