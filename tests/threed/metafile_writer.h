// Builds binary 3D metafiles for the tests: big-endian objects of a type, a
// size and their data, containers around their contents.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace kv::threed::test {

class Bytes {
 public:
  Bytes& U32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b_.push_back(uint8_t(v >> s));
    return *this;
  }
  Bytes& U16(uint16_t v) {
    b_.push_back(uint8_t(v >> 8)), b_.push_back(uint8_t(v));
    return *this;
  }
  Bytes& U8(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  Bytes& U64(uint64_t v) { return U32(uint32_t(v >> 32)).U32(uint32_t(v)); }
  Bytes& F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return U32(v);
  }
  Bytes& Floats(std::initializer_list<float> fs) {
    for (float f : fs) F32(f);
    return *this;
  }
  Bytes& Tag(const char* t) {
    for (int i = 0; i < 4; ++i) b_.push_back(uint8_t(t[i]));
    return *this;
  }
  Bytes& Raw(const std::vector<uint8_t>& more) {
    b_.insert(b_.end(), more.begin(), more.end());
    return *this;
  }
  Bytes& Pad4() {
    while (b_.size() % 4) b_.push_back(0);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return b_; }
  size_t size() const { return b_.size(); }

 private:
  std::vector<uint8_t> b_;
};

// One object: its type, the size of `data`, then `data`.
inline std::vector<uint8_t> Object(const char* type, const Bytes& data = {}) {
  Bytes o;
  o.Tag(type).U32(uint32_t(data.size())).Raw(data.bytes());
  return o.bytes();
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::vector<uint8_t> Container(std::initializer_list<std::vector<uint8_t>> parts) {
  Bytes inner;
  inner.Raw(Join(parts));
  return Object("cntr", inner);
}

// The header of version 1.6, normal, with the table of contents at `toc`.
inline std::vector<uint8_t> Header(uint64_t toc = 0) {
  Bytes h;
  h.U16(1).U16(6).U32(0).U64(toc);
  return Object("3DMF", h);
}

inline std::vector<uint8_t> Vec(std::initializer_list<float> fs) {
  Bytes b;
  b.Floats(fs);
  return b.bytes();
}

inline std::string Text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

}  // namespace kv::threed::test
