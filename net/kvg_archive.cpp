#include "net/kvg_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "net/lzhuf.h"
#include "net/lzss.h"
#include "net/predictor.h"
#include "platform/byte_reader.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr size_t kHeaderSize = 48;
constexpr size_t kHeadSize = 16;
constexpr size_t kCopyBuffer = 65535;

// Heads are read whole before their fields: a field past one is a fault here.
void HeadOverrun(const void*) { throw std::logic_error("a compilation head field read past the head"); }

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// 8-bit texts are Windows-1252 already; 16-bit ones are little-endian UTF-16.
std::string DecodeText(const std::vector<uint8_t>& bytes, bool wide) {
  if (!wide) return std::string(bytes.begin(), bytes.end());
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = LoadLe16(&bytes[2 * i]);
  return Utf16ToCp1252(units);
}

void PutText(std::vector<uint8_t>& out, const std::string& text, bool wide) {
  for (char c : text) {
    if (wide) {
      char32_t cp = Cp1252ToUnicode(static_cast<uint8_t>(c));
      out.push_back(static_cast<uint8_t>(cp & 0xFF));
      out.push_back(static_cast<uint8_t>(cp >> 8));
    } else {
      out.push_back(static_cast<uint8_t>(c));
    }
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void ApplyKey(uint8_t* data, size_t size, uint8_t keyByte) {
  if (keyByte == 0) return;
  for (size_t i = 0; i < size; ++i) data[i] ^= keyByte;
}

}  // namespace

const char* KvgErrorText(KvgError error) {
  switch (error) {
    case KvgError::None: return "no error";
    case KvgError::Unreadable: return "cannot read the file";
    case KvgError::BadHeader: return "not a compilation (bad header)";
    case KvgError::WrongKey: return "wrong archive key";
    case KvgError::NoLookup: return "the archive may not be kept open for lookups";
    case KvgError::BadEntry: return "an entry runs past the end of the file";
    case KvgError::UnknownMethod: return "unknown compression method";
    case KvgError::BadData: return "an entry's data does not decode";
    case KvgError::TooLarge: return "an entry is larger than allowed";
    case KvgError::WriteFailed: return "cannot write the extracted file";
  }
  return "unknown error";
}

uint8_t KvgKeyByte(uint32_t key) {
  return static_cast<uint8_t>(key ^ key >> 8 ^ key >> 16 ^ key >> 24);
}

uint32_t KvgMethodOf(uint32_t flags) {
  return (flags & kKvgCompressed) ? (flags & kKvgMethodMask) : kKvgStored;
}

const char* KvgMethodName(uint32_t method) {
  switch (method) {
    case kKvgStored: return "none";
    case kKvgPredictor: return "predictor";
    case kKvgLzhuf: return "lzhuf";
    case kKvgLzss: return "lzss";
  }
  return "unknown";
}

KvgReader::~KvgReader() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<KvgReader> KvgReader::Open(const std::string& hostPath, uint32_t key, bool index, KvgError* error) {
  return OpenWith(hostPath, key, index, error);
}

std::unique_ptr<KvgReader> KvgReader::OpenWithOwnKey(const std::string& hostPath, bool index, KvgError* error) {
  return OpenWith(hostPath, std::nullopt, index, error);
}

std::unique_ptr<KvgReader> KvgReader::OpenWith(const std::string& hostPath, std::optional<uint32_t> key, bool index,
                                               KvgError* error) {
  KvgError dummy;
  KvgError& err = error ? *error : dummy;
  int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    err = KvgError::Unreadable;
    return nullptr;
  }
  auto reader = std::make_unique<KvgReader>(Token{}, fd, hostPath, static_cast<uint64_t>(st.st_size));
  err = reader->ReadHeader(key);
  if (err == KvgError::None && index) {
    if (reader->flags_ & kKvgNoLookup) {
      err = KvgError::NoLookup;
    } else {
      err = reader->ForEachEntry([&](const KvgEntry& e) {
        reader->entries_.push_back(e);
        return true;
      });
    }
  }
  if (err != KvgError::None) return nullptr;
  return reader;
}

bool KvgReader::ReadAt(uint64_t offset, void* to, size_t bytes) const {
  if (offset > size_ || bytes > size_ - offset) return false;
  auto* p = static_cast<uint8_t*>(to);
  while (bytes > 0) {
    ssize_t n = pread(fd_, p, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

KvgError KvgReader::ReadHeader(std::optional<uint32_t> key) {
  uint8_t h[kHeaderSize];
  if (!ReadAt(0, h, sizeof h)) return KvgError::BadHeader;
  ByteReader in(h, HeadOverrun);
  if (std::memcmp(in.Take(4).data(), "*PSB", 4) != 0 || in.U32() != kKvgVersion) return KvgError::BadHeader;
  flags_ = in.U32();
  in.Skip(4);
  entryCount_ = in.U32();
  in.Skip(4);
  key_ = in.U32();
  if (key && key_ != *key) return KvgError::WrongKey;
  in.Skip(8);
  firstOffset_ = in.U32();
  in.Skip(4);
  const uint64_t descChars = in.U32();
  const uint64_t descBytes = descChars * ((flags_ & kKvgWideTexts) ? 2 : 1);
  if (descBytes > size_ - kHeaderSize) return KvgError::BadHeader;
  // Every entry needs at least its head: a count the file cannot hold is
  // refused before any entry is read.
  if (firstOffset_ > size_ || uint64_t(entryCount_) * kHeadSize > size_ - firstOffset_) return KvgError::BadHeader;
  std::vector<uint8_t> desc(static_cast<size_t>(descBytes));
  if (!ReadAt(kHeaderSize, desc.data(), desc.size())) return KvgError::BadHeader;
  description_ = DecodeText(desc, (flags_ & kKvgWideTexts) != 0);
  return KvgError::None;
}

KvgError KvgReader::ReadHead(uint64_t offset, KvgEntry& entry) const {
  uint8_t h[kHeadSize];
  if (!ReadAt(offset, h, sizeof h)) return KvgError::BadEntry;
  ByteReader in(h, HeadOverrun);
  entry.flags = in.U32();
  entry.storedSize = uint64_t{in.U32()} << 32;
  entry.storedSize |= in.U32();
  const uint64_t nameChars = in.U32();
  // Each entry's own flag says how wide its name is.
  const uint64_t nameBytes = nameChars * (entry.wideName() ? 2 : 1);
  const uint64_t nameAt = offset + kHeadSize;
  if (nameBytes > size_ - nameAt) return KvgError::BadEntry;
  const uint64_t dataAt = nameAt + nameBytes;
  if (entry.storedSize > size_ - dataAt) return KvgError::BadEntry;
  std::vector<uint8_t> name(static_cast<size_t>(nameBytes));
  if (!ReadAt(nameAt, name.data(), name.size())) return KvgError::BadEntry;
  entry.name = DecodeText(name, entry.wideName());
  entry.headOffset = offset;
  entry.dataOffset = dataAt;
  return KvgError::None;
}

KvgError DecodeKvgData(uint32_t method, std::span<const uint8_t> stored, std::vector<uint8_t>& out, size_t maxOut) {
  CodecStatus status;
  switch (method) {
    case kKvgStored:
      if (stored.size() > maxOut) return KvgError::TooLarge;
      out.assign(stored.begin(), stored.end());
      return KvgError::None;
    case kKvgPredictor: status = DecodePredictor(stored, out, maxOut); break;
    case kKvgLzhuf: status = DecodeLzhuf(stored, out, maxOut); break;
    case kKvgLzss: status = DecodeLzss(stored, out, maxOut); break;
    default: return KvgError::UnknownMethod;
  }
  if (status == CodecStatus::Ok) return KvgError::None;
  out.clear();
  return status == CodecStatus::TooLarge ? KvgError::TooLarge : KvgError::BadData;
}

std::vector<uint8_t> EncodeKvgData(uint32_t method, std::span<const uint8_t> data) {
  switch (method) {
    case kKvgPredictor: return EncodePredictor(data);
    case kKvgLzhuf: return EncodeLzhuf(data);
    case kKvgLzss: return EncodeLzss(data);
    default: return std::vector<uint8_t>(data.begin(), data.end());
  }
}

KvgError KvgReader::ReadEntry(const KvgEntry& entry, std::vector<uint8_t>& out, size_t maxOut) const {
  out.clear();
  const uint32_t method = entry.method();
  if (method != kKvgStored && method != kKvgPredictor && method != kKvgLzhuf && method != kKvgLzss)
    return KvgError::UnknownMethod;
  if (method == kKvgStored && entry.storedSize > maxOut) return KvgError::TooLarge;
  std::vector<uint8_t> stored(static_cast<size_t>(entry.storedSize));
  if (!ReadAt(entry.dataOffset, stored.data(), stored.size())) return KvgError::BadEntry;
  ApplyKey(stored.data(), stored.size(), KvgKeyByte(key_));
  if (method == kKvgStored) {
    out = std::move(stored);
    return KvgError::None;
  }
  return DecodeKvgData(method, stored, out, maxOut);
}

KvgError KvgReader::WriteEntryTo(const KvgEntry& entry, int fd, size_t maxOut) const {
  if (entry.method() == kKvgStored) {
    if (entry.storedSize > maxOut) return KvgError::TooLarge;
    std::vector<uint8_t> buf(kCopyBuffer);
    const uint8_t keyByte = KvgKeyByte(key_);
    for (uint64_t done = 0; done < entry.storedSize;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyBuffer, entry.storedSize - done));
      if (!ReadAt(entry.dataOffset + done, buf.data(), n)) return KvgError::BadEntry;
      ApplyKey(buf.data(), n, keyByte);
      if (!WriteAll(fd, buf.data(), n)) return KvgError::WriteFailed;
      done += n;
    }
    return KvgError::None;
  }
  std::vector<uint8_t> data;
  if (KvgError e = ReadEntry(entry, data, maxOut); e != KvgError::None) return e;
  return WriteAll(fd, data.data(), data.size()) ? KvgError::None : KvgError::WriteFailed;
}

std::vector<uint8_t> BuildKvg(const std::vector<KvgInput>& entries, uint32_t key, const std::string& description,
                              bool wideTexts, bool noLookup) {
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + description.size() * 2);
  for (char c : std::string_view("*PSB")) out.push_back(static_cast<uint8_t>(c));
  PutU32(out, kKvgVersion);
  PutU32(out, (wideTexts ? kKvgWideTexts : 0) | (noLookup ? kKvgNoLookup : 0));
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(entries.size()));
  PutU32(out, 0);
  PutU32(out, key);
  PutU32(out, 0);
  PutU32(out, 0);
  uint32_t nameChars = 0;
  for (const KvgInput& e : entries) nameChars += static_cast<uint32_t>(e.name.size());
  const uint32_t descBytes = static_cast<uint32_t>(description.size() * (wideTexts ? 2 : 1));
  PutU32(out, static_cast<uint32_t>(kHeaderSize + descBytes));
  PutU32(out, nameChars);
  PutU32(out, static_cast<uint32_t>(description.size()));
  PutText(out, description, wideTexts);
  const uint8_t keyByte = KvgKeyByte(key);
  for (const KvgInput& e : entries) {
    std::vector<uint8_t> stored = EncodeKvgData(e.method, e.data);
    ApplyKey(stored.data(), stored.size(), keyByte);
    uint32_t flags = (e.wideName ? kKvgWideName : 0) | e.method;
    PutU32(out, flags);
    PutU32(out, static_cast<uint32_t>(uint64_t(stored.size()) >> 32));
    PutU32(out, static_cast<uint32_t>(stored.size()));
    PutU32(out, static_cast<uint32_t>(e.name.size()));
    PutText(out, e.name, e.wideName);
    out.insert(out.end(), stored.begin(), stored.end());
  }
  return out;
}

}  // namespace kv
