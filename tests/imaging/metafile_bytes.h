// Writers of metafile bytes field by field, for tests that spell out each
// record: WMF records are (size in 16-bit words, function, parameters), EMF
// records (type, size in bytes, fields). Little-endian throughout.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

namespace kv::imaging::test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(unsigned(v) >> 8));
}
inline void Put32(Bytes& b, int64_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}
inline void PutF32(Bytes& b, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Put32(b, v);
}
inline void Append(Bytes& b, std::span<const uint8_t> more) { b.insert(b.end(), more.begin(), more.end()); }

// 0x00BBGGRR.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return r | g << 8 | uint32_t(b) << 16; }

// One WMF record: the 6-byte header (length in words, function) and the
// parameters as 16-bit words, then `raw` bytes.
inline Bytes WmfRecord(uint16_t function, std::initializer_list<int> words, std::span<const uint8_t> raw = {}) {
  Bytes b;
  Put32(b, int64_t(3 + words.size() + (raw.size() + 1) / 2));
  Put16(b, function);
  for (int w : words) Put16(b, w);
  Append(b, raw);
  if (raw.size() % 2) b.push_back(0);
  return b;
}
inline Bytes Color32(uint32_t rgb) {
  Bytes b;
  Put32(b, rgb);
  return b;
}

// A placeable WMF: the 22-byte placeable header (key, handle 0, box, units
// per inch, reserved 0, checksum = XOR of the ten words before it), the
// 18-byte header (disk type 2, 9 words, version 0x0300, total words,
// `objects`, longest record, 0) and the records followed by META_EOF.
inline Bytes Wmf(std::initializer_list<Bytes> records, int left, int top, int right, int bottom, int inch = 96,
                 int objects = 8) {
  Bytes body;
  size_t longest = 3;
  for (const Bytes& r : records) {
    Append(body, r);
    longest = std::max(longest, r.size() / 2);
  }
  Append(body, WmfRecord(0x0000, {}));
  Bytes b;
  const uint16_t words[10] = {0xCDD7, 0x9AC6, 0, uint16_t(left), uint16_t(top), uint16_t(right), uint16_t(bottom),
                              uint16_t(inch), 0, 0};
  uint16_t checksum = 0;
  for (uint16_t w : words) {
    Put16(b, w);
    checksum ^= w;
  }
  Put16(b, checksum);
  Put16(b, 2);
  Put16(b, 9);
  Put16(b, 0x0300);
  Put32(b, int64_t(9 + body.size() / 2));
  Put16(b, objects);
  Put32(b, int64_t(longest));
  Put16(b, 0);
  Append(b, body);
  return b;
}

// One EMF record: type, size (8 + fields + raw, a multiple of four), the
// fields as 32-bit values, then `raw`.
inline Bytes EmfRecord(uint32_t type, std::initializer_list<int64_t> fields, std::span<const uint8_t> raw = {}) {
  Bytes b;
  Put32(b, type);
  Put32(b, int64_t(8 + 4 * fields.size() + raw.size()));
  for (int64_t f : fields) Put32(b, f);
  Append(b, raw);
  return b;
}

// An EMF: the 88-byte header record (type 1, size 88, bounds, frame in
// hundredths of a millimetre, " EMF", version 0x10000, total bytes, record
// count, `handles`, reserved 0, no description, no palette, a reference
// device of 10 pixels a millimetre: 2540 × 2540 pixels on 254 × 254 mm),
// the records and EMR_EOF (type 14, size 20: no palette, offset 16, size 20).
inline Bytes Emf(std::initializer_list<Bytes> records, int frameRight, int frameBottom, int handles = 8) {
  Bytes body;
  for (const Bytes& r : records) Append(body, r);
  const Bytes eof = EmfRecord(14, {0, 16, 20});
  Bytes b;
  Put32(b, 1);
  Put32(b, 88);
  for (int64_t v : {0, 0, frameRight / 10 - 1, frameBottom / 10 - 1}) Put32(b, v);  // bounds, inclusive pixels
  for (int64_t v : {0, 0, frameRight, frameBottom}) Put32(b, v);
  Put32(b, 0x464D4520);
  Put32(b, 0x10000);
  Put32(b, int64_t(88 + body.size() + eof.size()));
  Put32(b, int64_t(records.size() + 2));
  Put16(b, handles);
  Put16(b, 0);
  for (int64_t v : {0, 0, 0, 2540, 2540, 254, 254}) Put32(b, v);
  Append(b, body);
  Append(b, eof);
  return b;
}

}  // namespace kv::imaging::test
