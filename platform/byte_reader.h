// The one bounds-checked little-endian reader over bytes held elsewhere. The
// archive, the code file loader, the compilation reader and the picture
// decoders read their fields through it; each names what a short read
// throws, so the reader itself knows no error type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace kv {

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

class ByteReader {
 public:
  // Called with `context` when a read or seek would pass the end; it must throw.
  using ShortHandler = void (*)(const void* context);

  ByteReader(std::span<const uint8_t> bytes, ShortHandler onShort, const void* context = nullptr)
      : bytes_(bytes), onShort_(onShort), context_(context) {}

  size_t Position() const { return at_; }
  size_t Size() const { return bytes_.size(); }
  size_t Remaining() const { return bytes_.size() - at_; }
  bool AtEnd() const { return at_ == bytes_.size(); }

  void Seek(uint64_t at) {
    if (at > bytes_.size()) Short();
    at_ = static_cast<size_t>(at);
  }
  // The next n bytes, which must be present.
  std::span<const uint8_t> Take(uint64_t n) {
    Need(n);
    const auto part = bytes_.subspan(at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(n);
    return part;
  }
  void Skip(uint64_t n) {
    Need(n);
    at_ += static_cast<size_t>(n);
  }
  uint8_t U8() {
    Need(1);
    return bytes_[at_++];
  }
  uint16_t U16() {
    Need(2);
    const uint16_t v = LoadLe16(bytes_.data() + at_);
    at_ += 2;
    return v;
  }
  uint32_t U32() {
    Need(4);
    const uint32_t v = LoadLe32(bytes_.data() + at_);
    at_ += 4;
    return v;
  }
  uint64_t U64() {
    const uint64_t lo = U32();
    return lo | uint64_t{U32()} << 32;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint16_t U16Be() {
    const auto b = Take(2);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
  }
  uint32_t U32Be() {
    const auto b = Take(4);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
  }

 private:
  void Need(uint64_t n) {
    if (n > bytes_.size() - at_) Short();
  }
  [[noreturn]] void Short() const {
    onShort_(context_);
    std::abort();  // a handler that returned
  }

  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  ShortHandler onShort_;
  const void* context_;
};

}  // namespace kv
