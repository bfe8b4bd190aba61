#include "net/lzhuf.h"

#include <array>
#include <cstring>

#include "net/lz_match.h"

namespace kv {
namespace {

constexpr int kWindow = 4096;
constexpr int kLookahead = 60;
constexpr int kThreshold = 2;
constexpr int kSymbols = 256 - kThreshold + kLookahead;  // 314
constexpr int kTable = kSymbols * 2 - 1;                 // 627 nodes
constexpr int kRoot = kTable - 1;
constexpr unsigned kMaxFreq = 0x8000;

// The fixed prefix code of the upper six position bits: one code of 3 bits,
// three of 4, eight of 5, twelve of 6, twenty-four of 7 and sixteen of 8,
// assigned in canonical order. Codes are kept left-aligned in a byte.
struct PositionCode {
  std::array<uint8_t, 64> len{};
  std::array<uint8_t, 64> code{};
  std::array<uint8_t, 256> decodeUpper{};  // by the next eight bits
  std::array<uint8_t, 256> decodeLen{};

  PositionCode() {
    static constexpr int kCounts[][2] = {{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}};
    unsigned next = 0;  // next code, left-aligned in 8 bits
    int upper = 0;
    for (const auto& [bits, count] : kCounts) {
      for (int k = 0; k < count; ++k, ++upper) {
        len[upper] = static_cast<uint8_t>(bits);
        code[upper] = static_cast<uint8_t>(next);
        unsigned span = 1u << (8 - bits);
        for (unsigned b = next; b < next + span; ++b) {
          decodeUpper[b] = static_cast<uint8_t>(upper);
          decodeLen[b] = static_cast<uint8_t>(bits);
        }
        next += span;
      }
    }
  }
};

const PositionCode& Positions() {
  static const PositionCode table;
  return table;
}

// The adaptive Huffman tree. Nodes are kept in order of frequency; leaves
// point past the node table (son >= kTable) at their symbol.
class AdaptiveTree {
 public:
  AdaptiveTree() {
    for (int i = 0; i < kSymbols; ++i) {
      freq_[i] = 1;
      son_[i] = i + kTable;
      prnt_[i + kTable] = i;
    }
    for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
      freq_[j] = freq_[i] + freq_[i + 1];
      son_[j] = i;
      prnt_[i] = prnt_[i + 1] = j;
    }
    freq_[kTable] = 0xFFFF;  // sentinel that stops the reordering scan
    prnt_[kRoot] = 0;
  }

  int RootChild() const { return son_[kRoot]; }
  int Son(int node) const { return son_[node]; }
  int LeafOf(int symbol) const { return prnt_[symbol + kTable]; }
  int Parent(int node) const { return prnt_[node]; }

  void Update(int symbol) {
    if (freq_[kRoot] == kMaxFreq) Rebuild();
    int c = prnt_[symbol + kTable];
    do {
      unsigned k = ++freq_[c];
      int l = c + 1;
      if (k > freq_[l]) {
        while (k > freq_[++l]) {
        }
        --l;
        freq_[c] = freq_[l];
        freq_[l] = k;
        int i = son_[c];
        prnt_[i] = l;
        if (i < kTable) prnt_[i + 1] = l;
        int j = son_[l];
        son_[l] = i;
        prnt_[j] = c;
        if (j < kTable) prnt_[j + 1] = c;
        son_[c] = j;
        c = l;
      }
      c = prnt_[c];
    } while (c != 0);
  }

 private:
  // Halve every leaf count and build the tree again from the leaves.
  void Rebuild() {
    int j = 0;
    for (int i = 0; i < kTable; ++i) {
      if (son_[i] >= kTable) {
        freq_[j] = (freq_[i] + 1) / 2;
        son_[j] = son_[i];
        ++j;
      }
    }
    for (int i = 0, n = kSymbols; n < kTable; i += 2, ++n) {
      unsigned f = freq_[i] + freq_[i + 1];
      freq_[n] = f;
      int k = n - 1;
      while (f < freq_[k]) --k;
      ++k;
      std::memmove(&freq_[k + 1], &freq_[k], sizeof(freq_[0]) * (n - k));
      freq_[k] = f;
      std::memmove(&son_[k + 1], &son_[k], sizeof(son_[0]) * (n - k));
      son_[k] = i;
    }
    for (int i = 0; i < kTable; ++i) {
      int k = son_[i];
      if (k >= kTable) {
        prnt_[k] = i;
      } else {
        prnt_[k] = prnt_[k + 1] = i;
      }
    }
  }

  unsigned freq_[kTable + 1];
  int prnt_[kTable + kSymbols];
  int son_[kTable];
};

// MSB-first bits. Reads past the end give zero bits, as the stream's last
// byte is padded with zeros; `Overrun` tells whether any such bit was used.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> in) : in_(in) {}
  unsigned Bit() {
    Fill(1);
    unsigned b = static_cast<unsigned>(buf_ >> 63);
    buf_ <<= 1;
    --count_;
    ++used_;
    return b;
  }
  unsigned Bits(int n) {
    Fill(n);
    unsigned v = static_cast<unsigned>(buf_ >> (64 - n));
    buf_ <<= n;
    count_ -= n;
    used_ += n;
    return v;
  }
  bool Overrun() const { return used_ > in_.size() * 8; }

 private:
  void Fill(int need) {
    while (count_ < need) {
      uint64_t byte = pos_ < in_.size() ? in_[pos_] : 0;
      ++pos_;
      buf_ |= byte << (56 - count_);
      count_ += 8;
    }
  }
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  uint64_t buf_ = 0;
  int count_ = 0;
  uint64_t used_ = 0;
};

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint64_t bits, int n) {  // the low n bits of `bits`, highest first
    for (int i = n - 1; i >= 0; --i) {
      acc_ = static_cast<uint8_t>(acc_ << 1 | ((bits >> i) & 1));
      if (++count_ == 8) {
        out_.push_back(acc_);
        acc_ = 0;
        count_ = 0;
      }
    }
  }
  void Flush() {
    if (count_) out_.push_back(static_cast<uint8_t>(acc_ << (8 - count_)));
    acc_ = 0;
    count_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint8_t acc_ = 0;
  int count_ = 0;
};

}  // namespace

size_t LzhufOutputBound(size_t inputBytes) {
  // The shortest unit is a one-bit symbol code plus a nine-bit position for
  // 60 bytes: 48 bytes per input byte, plus one unit for the padded tail.
  if (inputBytes < 4) return 0;
  return (inputBytes - 4) * 48 + kLookahead;
}

CodecStatus DecodeLzhuf(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut) {
  out.clear();
  if (in.size() < 4) return CodecStatus::Truncated;
  const size_t length = size_t(in[0]) | size_t(in[1]) << 8 | size_t(in[2]) << 16 | size_t(in[3]) << 24;
  if (length == 0) return CodecStatus::Ok;
  if (length > maxOut || length > LzhufOutputBound(in.size())) return CodecStatus::TooLarge;
  out.reserve(length);

  const PositionCode& pc = Positions();
  AdaptiveTree tree;
  BitReader bits(in.subspan(4));
  uint8_t ring[kWindow];
  std::memset(ring, ' ', kWindow - kLookahead);
  std::memset(ring + kWindow - kLookahead, 0, kLookahead);
  unsigned r = kWindow - kLookahead;

  while (out.size() < length) {
    int node = tree.RootChild();
    while (node < kTable) node = tree.Son(node + static_cast<int>(bits.Bit()));
    int symbol = node - kTable;
    tree.Update(symbol);
    if (symbol < 256) {
      out.push_back(static_cast<uint8_t>(symbol));
      ring[r] = static_cast<uint8_t>(symbol);
      r = (r + 1) & (kWindow - 1);
    } else {
      unsigned first = bits.Bits(8);
      unsigned upper = pc.decodeUpper[first];
      // The eight bits read hold the position code and the first of the six
      // low bits; the rest of the low bits follow.
      unsigned extra = pc.decodeLen[first] - 2u;
      unsigned low = (first << extra | bits.Bits(static_cast<int>(extra))) & 0x3F;
      unsigned distance = (upper << 6 | low) + 1;
      unsigned src = (r - distance) & (kWindow - 1);
      size_t count = static_cast<size_t>(symbol - 255 + kThreshold);
      // A match that runs past the declared length is cut there.
      if (count > length - out.size()) count = length - out.size();
      for (size_t k = 0; k < count; ++k) {
        uint8_t c = ring[(src + k) & (kWindow - 1)];
        out.push_back(c);
        ring[r] = c;
        r = (r + 1) & (kWindow - 1);
      }
    }
    if (bits.Overrun()) {
      out.clear();
      return CodecStatus::Truncated;
    }
  }
  return CodecStatus::Ok;
}

std::vector<uint8_t> EncodeLzhuf(std::span<const uint8_t> in) {
  std::vector<uint8_t> out;
  const uint32_t length = static_cast<uint32_t>(in.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
  if (in.empty()) return out;

  const PositionCode& pc = Positions();
  AdaptiveTree tree;
  BitWriter bits(out);
  auto putSymbol = [&](int symbol) {
    // Walk leaf to root, then send the bits root first.
    uint64_t path = 0;
    int depth = 0;
    for (int k = tree.LeafOf(symbol); k != kRoot; k = tree.Parent(k)) {
      path |= uint64_t(k & 1) << depth;
      ++depth;
    }
    bits.Put(path, depth);
    tree.Update(symbol);
  };

  LzMatchFinder finder(in, kWindow - kLookahead, kLookahead);
  size_t i = 0;
  while (i < in.size()) {
    LzMatchFinder::Match m = finder.Find(i);
    if (m.length > static_cast<size_t>(kThreshold)) {
      putSymbol(static_cast<int>(m.length) + 255 - kThreshold);
      unsigned position = static_cast<unsigned>(m.distance - 1);
      unsigned upper = position >> 6;
      bits.Put(pc.code[upper] >> (8 - pc.len[upper]), pc.len[upper]);
      bits.Put(position & 0x3F, 6);
      for (size_t k = 1; k < m.length; ++k) finder.Skip(i + k);
      i += m.length;
    } else {
      putSymbol(in[i]);
      ++i;
    }
  }
  bits.Flush();
  return out;
}

}  // namespace kv
