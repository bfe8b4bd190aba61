// Each exported loop is a thin clone-dispatched wrapper around an inlined
// kernel template, so the AVX2 clone gets its own vectorised copy.
#include "stage/pixel_loops.h"

#include <cstring>

#if defined(__has_attribute)
#if __has_attribute(target_clones) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define KV_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef KV_CLONES
#define KV_CLONES
#endif
#define KV_INLINE inline __attribute__((always_inline))

// The vector helpers below are always inlined and never part of an interface,
// so the note about the ABI of 32-byte vector arguments does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kv::loops {

namespace {

template <typename T>
KV_INLINE T* RowOf(uint8_t* base, ptrdiff_t stride, int y) {
  return reinterpret_cast<T*>(base + stride * y);
}
template <typename T>
KV_INLINE const T* RowOf(const uint8_t* base, ptrdiff_t stride, int y) {
  return reinterpret_cast<const T*>(base + stride * y);
}

// 0 or 1, combined with & so that the loops stay free of branches.
KV_INLINE uint32_t In(uint32_t v, uint32_t lo, uint32_t hi) { return v - lo <= hi - lo; }

struct Ranges32 {
  uint32_t rLo, rHi, gLo, gHi, bLo, bHi;
  explicit Ranges32(KeyRanges k)
      : rLo(k.redMin), rHi(k.redMax), gLo(k.greenMin), gHi(k.greenMax), bLo(k.blueMin), bHi(k.blueMax) {}
  KV_INLINE bool Transparent(uint32_t p) const {
    return In((p >> 16) & 0xFF, rLo, rHi) & In((p >> 8) & 0xFF, gLo, gHi) & In(p & 0xFF, bLo, bHi);
  }
};

struct Ranges16 {
  uint32_t rLo, rHi, gLo, gHi, bLo, bHi;
  explicit Ranges16(KeyRanges k)
      : rLo(k.redMin), rHi(k.redMax), gLo(k.greenMin), gHi(k.greenMax), bLo(k.blueMin), bHi(k.blueMax) {}
  KV_INLINE bool Transparent(uint32_t p) const {
    return In((p >> 8) & 0xF8, rLo, rHi) & In((p >> 3) & 0xFC, gLo, gHi) & In((p << 3) & 0xF8, bLo, bHi);
  }
};

struct Exact16 {
  uint32_t key;
  KV_INLINE bool Transparent(uint32_t p) const { return p == key; }
};

// Eight 32-bit pixels. GCC lowers these to AVX2 in the AVX2 clone and to
// pairs of SSE2 operations in the default one.
typedef uint32_t V8 __attribute__((vector_size(32)));

// Results go through out parameters: a vector returned by value changes the
// ABI of the default clone, which some compilers reject.
KV_INLINE void Load8(V8& v, const uint32_t* p) { std::memcpy(&v, p, sizeof v); }
KV_INLINE void Store8(uint32_t* p, const V8& v) { std::memcpy(p, &v, sizeof v); }

// Lane i of the result is lane index[i] of v (vpermd in the AVX2 clone).
KV_INLINE void Permute8(V8& out, const V8& v, const V8& index) {
#if defined(__clang__)
  for (int i = 0; i < 8; ++i) out[i] = v[index[i] & 7];
#else
  out = __builtin_shuffle(v, index);
#endif
}

typedef uint8_t V32 __attribute__((vector_size(32)));
typedef uint8_t V16 __attribute__((vector_size(16)));
typedef uint32_t V4 __attribute__((vector_size(16)));

// The ranges as byte lanes B, G, R, X (X always inside), for clamping.
struct LaneRanges {
  V32 lo, hi;
  explicit LaneRanges(const Ranges32& k) {
    for (int i = 0; i < 32; i += 4) {
      lo[i] = uint8_t(k.bLo), lo[i + 1] = uint8_t(k.gLo), lo[i + 2] = uint8_t(k.rLo), lo[i + 3] = 0;
      hi[i] = uint8_t(k.bHi), hi[i + 1] = uint8_t(k.gHi), hi[i + 2] = uint8_t(k.rHi), hi[i + 3] = 0xFF;
    }
  }
};

// All ones in the lanes whose pixel lies inside the ranges: a channel is
// inside when clamping it to its range leaves it unchanged.
KV_INLINE void TransparentLanes(V8& clear, const LaneRanges& k, const V8& p) {
  const V32 b = V32(p);
  V32 c = b < k.lo ? k.lo : b;
  c = c > k.hi ? k.hi : c;
  clear = V8(V8(c == b) == 0xFFFFFFFFu);
}

// The two forms of the 32-bit key test: a single colour (every range one
// value wide, the usual keyed picture) is one mask and one compare per lane;
// ranges clamp each channel.
struct ExactKey32 {
  uint32_t key;
  KV_INLINE bool Transparent(uint32_t p) const { return (p & 0xFFFFFFu) == key; }
  KV_INLINE void Lanes(V8& clear, const V8& p) const { clear = V8((p & 0xFFFFFFu) == key); }
};

struct RangeKey32 {
  Ranges32 ranges;
  LaneRanges lanes;
  explicit RangeKey32(KeyRanges k) : ranges(k), lanes(ranges) {}
  KV_INLINE bool Transparent(uint32_t p) const { return ranges.Transparent(p); }
  KV_INLINE void Lanes(V8& clear, const V8& p) const { TransparentLanes(clear, lanes, p); }
};

KV_INLINE bool IsSingleColour(const KeyRanges& k) {
  return k.redMin == k.redMax && k.greenMin == k.greenMax && k.blueMin == k.blueMax;
}
KV_INLINE ExactKey32 SingleColour(const KeyRanges& k) {
  return {uint32_t(k.redMin) << 16 | uint32_t(k.greenMin) << 8 | k.blueMin};
}

// The column map of a 32-bit stretch in groups of eight destination pixels.
// While every group draws on at most eight neighbouring source pixels (any
// enlargement), a group is one load at `base` and one lane permutation by
// `lanes` instead of eight gathers; `groups` counts those from the left, and
// the columns after them are read one by one. Built once per draw and chunk
// of columns, so the row loop does no index arithmetic.
struct GroupMap {
  static constexpr int kColumns = 2048;  // columns per chunk
  int groups = 0;
  int32_t base[kColumns / 8];
  V8 lanes[kColumns / 8];

  KV_INLINE void Build(const int32_t* cols, int w) {
    const int32_t last = w > 0 ? cols[w - 1] : 0;
    groups = 0;
    for (int x = 0; x + 8 <= w; x += 8, ++groups) {
      const int32_t b = cols[x];
      if (cols[x + 7] - b > 7 || b + 7 > last) break;
      V8 l;
      std::memcpy(&l, cols + x, sizeof l);
      base[groups] = b;
      lanes[groups] = V8(l - uint32_t(b));
    }
  }
};

// One stretched row (a chunk of it); Key is null for the plain stretch.
template <typename Key>
KV_INLINE void StretchRow32(uint32_t* d, const uint32_t* s, const int32_t* cols, int w, const GroupMap& map,
                            const Key* key) {
  for (int g = 0; g < map.groups; ++g) {
    V8 source, p;
    Load8(source, s + map.base[g]);
    Permute8(p, source, map.lanes[g]);
    if (key) {
      V8 clear, old;
      key->Lanes(clear, p);
      Load8(old, d + 8 * g);
      p = clear != 0 ? old : p;
    }
    Store8(d + 8 * g, p);
  }
  for (int x = 8 * map.groups; x < w; ++x) {
    const uint32_t p = s[cols[x]];
    if (!key || !key->Transparent(p)) d[x] = p;
  }
}

// The 32-bit stretch, keyed when `key` is not null. Consecutive destination
// rows from one source row are copies of the first, unless keyed.
template <typename Key>
KV_INLINE void Stretch32Kernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols,
                               int w, const int32_t* rows, int h, const Key* key) {
  GroupMap map;
  for (int x0 = 0; x0 < w; x0 += GroupMap::kColumns) {
    const int n = w - x0 < GroupMap::kColumns ? w - x0 : GroupMap::kColumns;
    map.Build(cols + x0, n);
    for (int y = 0; y < h; ++y) {
      uint32_t* d = RowOf<uint32_t>(dst, ds, y) + x0;
      if (!key && y > 0 && rows[y] == rows[y - 1]) {
        std::memcpy(d, RowOf<uint32_t>(dst, ds, y - 1) + x0, size_t(n) * 4);
        continue;
      }
      StretchRow32(d, RowOf<uint32_t>(src, ss, rows[y]), cols + x0, n, map, key);
    }
  }
}

// One row of a keyed copy: transparent source pixels leave the destination.
template <typename Key>
KV_INLINE void KeyedRow32(uint32_t* d, const uint32_t* s, int w, const Key& key) {
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    V8 p, clear, old;
    Load8(p, s + x);
    key.Lanes(clear, p);
    Load8(old, d + x);
    Store8(d + x, clear != 0 ? old : p);
  }
  for (; x < w; ++x)
    if (!key.Transparent(s[x])) d[x] = s[x];
}

template <typename Key>
KV_INLINE void KeyedCopy32Kernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                                 const Key& key) {
  for (int y = 0; y < h; ++y) KeyedRow32(RowOf<uint32_t>(dst, ds, y), RowOf<uint32_t>(src, ss, y), w, key);
}

template <typename T, typename Key>
KV_INLINE void KeyedCopyKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                               Key key) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, y);
    for (int x = 0; x < w; ++x) {
      const T p = s[x];
      d[x] = key.Transparent(p) ? d[x] : p;
    }
  }
}

template <typename T>
KV_INLINE void KeyedIndexedKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                  const uint8_t* index, ptrdiff_t is, int w, int h, const uint8_t* transparent) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, y);
    const uint8_t* i = index + is * y;
    for (int x = 0; x < w; ++x) d[x] = transparent[i[x]] ? d[x] : s[x];
  }
}

template <typename T>
KV_INLINE void StretchKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols,
                             int w, const int32_t* rows, int h) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, rows[y]);
    // Consecutive destination rows from one source row are plain copies.
    if (y > 0 && rows[y] == rows[y - 1]) {
      std::memcpy(d, RowOf<T>(dst, ds, y - 1), size_t(w) * sizeof(T));
      continue;
    }
    for (int x = 0; x < w; ++x) d[x] = s[cols[x]];
  }
}

template <typename T, typename Key>
KV_INLINE void StretchKeyedKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                  const int32_t* cols, int w, const int32_t* rows, int h, Key key) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, rows[y]);
    for (int x = 0; x < w; ++x) {
      const T p = s[cols[x]];
      d[x] = key.Transparent(p) ? d[x] : p;
    }
  }
}

template <typename T>
KV_INLINE void StretchIndexedKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                    const uint8_t* index, ptrdiff_t is, const int32_t* cols, int w,
                                    const int32_t* rows, int h, const uint8_t* transparent) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, rows[y]);
    const uint8_t* i = index + is * rows[y];
    for (int x = 0; x < w; ++x) {
      const int32_t c = cols[x];
      d[x] = transparent[i[c]] ? d[x] : s[c];
    }
  }
}

// Converts row by row with `f(src row, x)` giving the destination pixel.
template <typename T, typename F>
KV_INLINE void ConvertKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, F f) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const uint8_t* s = src + ss * y;
    for (int x = 0; x < w; ++x) d[x] = f(s, x);
  }
}

KV_INLINE uint16_t Load16(const uint8_t* s, int x) { return uint16_t(s[2 * x] | s[2 * x + 1] << 8); }
KV_INLINE uint32_t Pack32(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | r << 16 | g << 8 | b; }
KV_INLINE uint16_t Pack16(uint32_t r, uint32_t g, uint32_t b) {
  return uint16_t((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}

template <typename T>
KV_INLINE void MaskedCopyKernel(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* mask,
                                ptrdiff_t ms, int w, int h, uint8_t on) {
  for (int y = 0; y < h; ++y) {
    T* d = RowOf<T>(dst, ds, y);
    const T* s = RowOf<T>(src, ss, y);
    const uint8_t* m = mask + ms * y;
    // Branch-free select, so the compiler vectorises the row.
    for (int x = 0; x < w; ++x) {
      const T keep = T(0) - T(m[x] != on);
      d[x] = T((d[x] & keep) | (s[x] & ~keep));
    }
  }
}

}  // namespace

KV_CLONES void MaskedCopy32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* mask,
                            ptrdiff_t ms, int w, int h, uint8_t on) {
  MaskedCopyKernel<uint32_t>(dst, ds, src, ss, mask, ms, w, h, on);
}

KV_CLONES void MaskedCopy16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* mask,
                            ptrdiff_t ms, int w, int h, uint8_t on) {
  MaskedCopyKernel<uint16_t>(dst, ds, src, ss, mask, ms, w, h, on);
}

KV_CLONES void CopyRows(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int rowBytes, int h) {
  for (int y = 0; y < h; ++y) std::memcpy(dst + ds * y, src + ss * y, size_t(rowBytes));
}

KV_CLONES void Fill32(uint8_t* dst, ptrdiff_t ds, int w, int h, uint32_t pixel) {
  for (int y = 0; y < h; ++y) {
    uint32_t* d = RowOf<uint32_t>(dst, ds, y);
    for (int x = 0; x < w; ++x) d[x] = pixel;
  }
}

KV_CLONES void Fill16(uint8_t* dst, ptrdiff_t ds, int w, int h, uint16_t pixel) {
  for (int y = 0; y < h; ++y) {
    uint16_t* d = RowOf<uint16_t>(dst, ds, y);
    for (int x = 0; x < w; ++x) d[x] = pixel;
  }
}

KV_CLONES void KeyedCopy32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                           KeyRanges k) {
  if (IsSingleColour(k))
    KeyedCopy32Kernel(dst, ds, src, ss, w, h, SingleColour(k));
  else
    KeyedCopy32Kernel(dst, ds, src, ss, w, h, RangeKey32(k));
}

KV_CLONES void KeyedCopy16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                           KeyRanges k) {
  KeyedCopyKernel<uint16_t>(dst, ds, src, ss, w, h, Ranges16(k));
}

KV_CLONES void KeyedCopyExact16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                                uint16_t key) {
  KeyedCopyKernel<uint16_t>(dst, ds, src, ss, w, h, Exact16{key});
}

KV_CLONES void KeyedCopyIndexed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                  const uint8_t* index, ptrdiff_t is, int w, int h, const uint8_t* transparent) {
  KeyedIndexedKernel<uint32_t>(dst, ds, src, ss, index, is, w, h, transparent);
}

KV_CLONES void KeyedCopyIndexed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                  const uint8_t* index, ptrdiff_t is, int w, int h, const uint8_t* transparent) {
  KeyedIndexedKernel<uint16_t>(dst, ds, src, ss, index, is, w, h, transparent);
}

KV_CLONES void Stretch32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
                         const int32_t* rows, int h) {
  Stretch32Kernel<ExactKey32>(dst, ds, src, ss, cols, w, rows, h, nullptr);
}

KV_CLONES void Stretch16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
                         const int32_t* rows, int h) {
  StretchKernel<uint16_t>(dst, ds, src, ss, cols, w, rows, h);
}

KV_CLONES void StretchKeyed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols,
                              int w, const int32_t* rows, int h, KeyRanges k) {
  if (IsSingleColour(k)) {
    const ExactKey32 key = SingleColour(k);
    Stretch32Kernel(dst, ds, src, ss, cols, w, rows, h, &key);
  } else {
    const RangeKey32 key(k);
    Stretch32Kernel(dst, ds, src, ss, cols, w, rows, h, &key);
  }
}

KV_CLONES void StretchKeyed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols,
                              int w, const int32_t* rows, int h, KeyRanges k) {
  StretchKeyedKernel<uint16_t>(dst, ds, src, ss, cols, w, rows, h, Ranges16(k));
}

KV_CLONES void StretchKeyedExact16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                   const int32_t* cols, int w, const int32_t* rows, int h, uint16_t key) {
  StretchKeyedKernel<uint16_t>(dst, ds, src, ss, cols, w, rows, h, Exact16{key});
}

KV_CLONES void StretchKeyedIndexed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                     const uint8_t* index, ptrdiff_t is, const int32_t* cols, int w,
                                     const int32_t* rows, int h, const uint8_t* transparent) {
  StretchIndexedKernel<uint32_t>(dst, ds, src, ss, index, is, cols, w, rows, h, transparent);
}

KV_CLONES void StretchKeyedIndexed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss,
                                     const uint8_t* index, ptrdiff_t is, const int32_t* cols, int w,
                                     const int32_t* rows, int h, const uint8_t* transparent) {
  StretchIndexedKernel<uint16_t>(dst, ds, src, ss, index, is, cols, w, rows, h, transparent);
}

KV_CLONES void ConvertIndexedTo32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                                  const uint32_t* palette) {
  ConvertKernel<uint32_t>(dst, ds, src, ss, w, h, [palette](const uint8_t* s, int x) { return palette[s[x]]; });
}

KV_CLONES void ConvertIndexedTo16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                                  const uint16_t* palette) {
  ConvertKernel<uint16_t>(dst, ds, src, ss, w, h, [palette](const uint8_t* s, int x) { return palette[s[x]]; });
}

KV_CLONES void Convert555To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint32_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    const uint32_t p = Load16(s, x);
    return Pack32((p >> 7) & 0xF8, (p >> 2) & 0xF8, (p << 3) & 0xF8);
  });
}

KV_CLONES void Convert565To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint32_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    const uint32_t p = Load16(s, x);
    return Pack32((p >> 8) & 0xF8, (p >> 3) & 0xFC, (p << 3) & 0xF8);
  });
}

KV_CLONES void Convert24To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  for (int y = 0; y < h; ++y) {
    uint32_t* d = RowOf<uint32_t>(dst, ds, y);
    const uint8_t* s = src + ss * y;
    int x = 0;
    // Four pixels per 16-byte load, spread by a byte shuffle. The second load
    // ends 4 bytes past pixel 7, so it runs while two more pixels follow.
    for (; x + 10 <= w; x += 8) {
      for (int half = 0; half < 2; ++half) {
        V16 bytes;
        std::memcpy(&bytes, s + 3 * x + 12 * half, 16);
#if defined(__clang__)
        const V16 spread = __builtin_shufflevector(bytes, bytes, 0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12);
#else
        const V16 spread = __builtin_shuffle(bytes, V16{0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12});
#endif
        V4 out = V4(spread) | 0xFF000000u;
        std::memcpy(d + x + 4 * half, &out, sizeof out);
      }
    }
    for (; x < w; ++x) d[x] = Pack32(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
  }
}

KV_CLONES void Convert32To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint32_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    return Pack32(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
  });
}

KV_CLONES void Convert555To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint16_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    const uint32_t p = Load16(s, x);
    // Green gains a low bit of 0: five bits become the top five of six.
    return uint16_t((p & 0x7C00) << 1 | (p & 0x03E0) << 1 | (p & 0x001F));
  });
}

KV_CLONES void Convert24To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint16_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    return Pack16(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
  });
}

KV_CLONES void Convert32To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  ConvertKernel<uint16_t>(dst, ds, src, ss, w, h, [](const uint8_t* s, int x) {
    return Pack16(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
  });
}

}  // namespace kv::loops
