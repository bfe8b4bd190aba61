#include "xml/parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kv::AdvXMLParser {

namespace {

// Byte classes. Bytes of 0x80 and above belong to none of them.
enum : uint16_t {
  kNameStart = 1 << 0,
  kNameChar = 1 << 1,
  kDigit = 1 << 2,
  kHexDigit = 1 << 3,
  kEncodingChar = 1 << 4,
  // Bytes that end a run of character data (with NUL and CR in each).
  kContentStop = 1 << 5,
  kDoubleQuoteStop = 1 << 6,
  kSingleQuoteStop = 1 << 7,
  kSpace = 1 << 8,
};

constexpr std::array<uint16_t, 256> kClasses = [] {
  std::array<uint16_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    uint16_t v = 0;
    if (IsXmlSpace(static_cast<char>(c))) v |= kSpace;
    if (letter || c == '_' || c == ':') v |= kNameStart;
    if (letter || digit || c == '-' || c == '.' || c == ':' || c == '_') v |= kNameChar;
    if (digit) v |= kDigit;
    if (digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) v |= kHexDigit;
    if (letter || digit || c == '-' || c == '.' || c == '_') v |= kEncodingChar;
    if (c == 0 || c == '\r' || c == '<' || c == '&' || c == ']') v |= kContentStop;
    if (c == 0 || c == '\r' || c == '<' || c == '&' || c == '"') v |= kDoubleQuoteStop;
    if (c == 0 || c == '\r' || c == '<' || c == '&' || c == '\'') v |= kSingleQuoteStop;
    t[c] = v;
  }
  return t;
}();

bool Is(char c, uint16_t cls) { return kClasses[static_cast<unsigned char>(c)] & cls; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

#if defined(__SSE2__)
// One bit per name byte among sixteen: letters (case folded with 0x20), '-'
// to ':' without '/', and '_'; bytes of 0x80 and above are negative in the
// signed compares.
unsigned NameBits(__m128i v) {
  const __m128i case_bit = _mm_set1_epi8(0x20), before_a = _mm_set1_epi8('a' - 1), after_z = _mm_set1_epi8('z' + 1);
  const __m128i before_dash = _mm_set1_epi8('-' - 1), after_colon = _mm_set1_epi8(':' + 1);
  const __m128i slash = _mm_set1_epi8('/'), underscore = _mm_set1_epi8('_');
  __m128i folded = _mm_or_si128(v, case_bit);
  __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, before_a), _mm_cmpgt_epi8(after_z, folded));
  __m128i punct = _mm_andnot_si128(_mm_cmpeq_epi8(v, slash),
                                   _mm_and_si128(_mm_cmpgt_epi8(v, before_dash), _mm_cmpgt_epi8(after_colon, v)));
  __m128i name = _mm_or_si128(_mm_or_si128(letter, punct), _mm_cmpeq_epi8(v, underscore));
  return static_cast<unsigned>(_mm_movemask_epi8(name));
}

// The lanes below `n` (0 to 16) all ones, the others zero.
__m128i LanesBelow(unsigned n) {
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), lanes);
}

bool SameLanes(__m128i a, __m128i b) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF; }
#endif

}  // namespace

// A friend of the node classes: it links the nodes it makes itself, without
// the checks AddChild makes for nodes from outside.
class Parser {
 public:
  Parser(const char* buffer, size_t length, Document& doc)
      : begin_(buffer), p_(buffer), end_(buffer + length), doc_(doc) {}

  void ParseDocument() {
    // A leading "<?xml" opens the declaration unless it is the start of a
    // longer processing-instruction target such as "xml-stylesheet".
    if (MatchNoCase("<?xml")) {
      if (Is(Peek(), kNameChar))
        p_ = begin_;
      else
        ParseDeclaration();
    }
    ParseMisc();
    if (Peek() != '<') Fail(kErrNoRootElement, At());
    doc_.SetRoot(ParseElement());
    ParseMisc();
    // Whatever follows the last comment or processing instruction is ignored.
  }

 private:
  // The reader drops a single CR and takes the byte after it as it is.
  const char* At() const { return p_ < end_ && *p_ == '\r' ? p_ + 1 : p_; }
  char Peek() const {
    const char* q = At();
    return q < end_ ? *q : '\0';
  }
  void Advance() {
    const char* q = At();
    p_ = q < end_ ? q + 1 : q;
  }
  char Get() {
    char c = Peek();
    Advance();
    return c;
  }
  bool Match(std::string_view literal) {
    const char* saved = p_;
    for (char c : literal) {
      if (Get() != c) {
        p_ = saved;
        return false;
      }
    }
    return true;
  }
  bool MatchNoCase(std::string_view literal) {
    const char* saved = p_;
    for (char c : literal) {
      if (LowerAscii(Get()) != c) {
        p_ = saved;
        return false;
      }
    }
    return true;
  }
  bool SkipSpace() {
    const char* start = p_;
    for (;;) {
      while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\t')) ++p_;
      // A CR is dropped by the reader; the byte after it decides.
      if (p_ + 1 < end_ && *p_ == '\r' && IsXmlSpace(p_[1])) {
        p_ += 2;
        continue;
      }
      return p_ != start;
    }
  }
  bool Equals() {
    // Mostly `="` or `='` straight after the name.
    if (end_ - p_ >= 2 && p_[0] == '=' && (p_[1] == '"' || p_[1] == '\'')) {
      ++p_;
      return true;
    }
    const char* saved = p_;
    SkipSpace();
    if (Peek() != '=') {
      p_ = saved;
      return false;
    }
    Advance();
    SkipSpace();
    return true;
  }

  // The first byte after any whitespace: where a missing token was expected.
  const char* NextToken() {
    const char* saved = p_;
    SkipSpace();
    const char* at = At();
    p_ = saved;
    return at;
  }

  [[noreturn]] void Fail(int code, const char* at) const {
    int line = 1;
    const char* line_start = begin_;
    for (const char* q = begin_; q < at; ++q) {
      if (*q == '\n') {
        ++line;
        line_start = q + 1;
      }
    }
    int column = 1;
    for (const char* q = line_start; q < at; ++q)
      if (*q != '\r') ++column;
    throw Exception(code, line, column);
  }

  // The first byte at or after `q` that is no name byte.
  const char* SkipNameBytes(const char* q) const {
#if defined(__SSE2__)
    while (end_ - q >= 16) {
      unsigned other = ~NameBits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))) & 0xFFFF;
      if (other) return q + __builtin_ctz(other);
      q += 16;
    }
#endif
    while (q < end_ && Is(*q, kNameChar)) ++q;
    return q;
  }

  // A name, or false with the cursor unmoved. The view stays valid until
  // the next name is read.
  bool ReadName(std::string_view& name) {
    const char* q = At();
    if (q >= end_ || !Is(*q, kNameStart)) return false;
    const char* start = q++;
    q = SkipNameBytes(q);
    if (q + 1 < end_ && *q == '\r' && Is(q[1], kNameChar)) {
      // A CR inside a name is dropped by the reader: gather byte by byte.
      name_scratch_.assign(start, q);
      p_ = q;
      while (Is(Peek(), kNameChar)) name_scratch_.push_back(Get());
      name = name_scratch_;
      return true;
    }
    p_ = q;
    name = {start, static_cast<size_t>(q - start)};
    return true;
  }

  // A name shorter than sixteen bytes: its bytes zero-padded to sixteen
  // (no name holds a NUL), which intern it and match its end tag in one go.
  // Size 0 for a name read the long way.
  struct ShortName {
#if defined(__SSE2__)
    __m128i key;
#endif
    unsigned size = 0;
  };

  // The usual name: shorter than sixteen bytes, well before the end, no CR
  // in or after it. Shared through the parser's name table; the cursor is
  // left after it.
  // False, with the cursor unmoved, for anything else (ReadName reads it).
  bool ReadShortName(ShortName& name, std::string_view& stored) {
#if defined(__SSE2__)
    const char* q = p_;
    if (end_ - q < 17 || !Is(*q, kNameStart)) return false;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // The slot follows from the first four bytes, whatever the name's
    // length, so a name that was seen there is recognised without finding
    // its end first: its bytes, then a byte that ends it.
    uint32_t head;
    std::memcpy(&head, q, 4);
    NameSlot& slot = names_[(head * 0x9E3779B1u) >> (32 - 7)];
    const unsigned known = slot.name.size;
    if (!known || !SameLanes(_mm_and_si128(v, slot.mask), slot.name.key) || Is(q[known], kNameChar) ||
        q[known] == '\r') {
      const unsigned other = ~NameBits(v) & 0xFFFF;
      if (!other) return false;
      const unsigned size = static_cast<unsigned>(__builtin_ctz(other));
      if (q[size] == '\r') return false;
      slot.mask = LanesBelow(size);
      slot.name.key = _mm_and_si128(v, slot.mask);
      slot.name.size = size;
      slot.stored = {CopyToArena({q, size}), size};
    }
    stored = slot.stored;
    name = slot.name;
    p_ = q + slot.name.size;
    return true;
#else
    (void)name;
    (void)stored;
    return false;
#endif
  }

  // The common run, read in sixteen-byte steps: nothing before its end needs
  // changing, so it is the input's own bytes; or whitespace only, ending
  // within sixteen bytes, which collapses to one space. False, with the
  // cursor unmoved, for anything else (GatherRun reads it).
  bool PlainRun(char stop_byte, std::string_view& run) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), own = _mm_set1_epi8(stop_byte);
    const __m128i space_or_below = _mm_set1_epi8(0x20), blank = _mm_set1_epi8(' ');
    const char* q = p_;
    while (end_ - q >= 17) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, own)))));
      const unsigned low =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, space_or_below), space_or_below)));
      // A space between two bytes above 0x20 stays as it is. The first
      // lane's predecessor is the byte before the run (never whitespace) or
      // the last lane of the block before, which stopped the scan had it
      // been whitespace next to this one.
      if (marks) {
        const unsigned at = static_cast<unsigned>(__builtin_ctz(marks));
        const unsigned before = (1u << at) - 1;
        // In content a ']' is data unless "]]>" starts there: the long way.
        if (stop_byte == ']' && q[at] == ']') return false;
        const unsigned low_before = low & before;
        if (low_before != 0) {
          const unsigned spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)));
          const unsigned lone = spaces & ~(low << 1) & ~(low >> 1);
          if ((low_before & ~lone) != 0) {
            if (q != p_) return false;
            const unsigned white =
                spaces | static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                             _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')))));
            if ((white & before) != before) return false;
            run = " ";
            p_ = q + at;
            return true;
          }
        }
        run = {p_, static_cast<size_t>(q + at - p_)};
        p_ = q + at;
        return true;
      }
      if (low) {
        // The last lane's successor is the byte after the block.
        const unsigned spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)));
        const unsigned next_low = static_cast<unsigned char>(q[16]) <= 0x20;
        const unsigned lone = spaces & ~(low << 1) & ~((low >> 1) | (next_low << 15));
        if (low & ~lone) return false;
      }
      q += 16;
    }
#else
    (void)stop_byte;
    (void)run;
#endif
    return false;
  }

  // A text node for a gathered run.
  Node& MakeText(std::string_view run) {
    if (run.empty()) return doc_.Make<ShortText>(false);
    if (run.size() == 1 && run[0] == ' ') return doc_.Make<ShortText>(true);
    // Beyond 4 GiB StoreCopy refuses it.
    if (run.size() > UINT32_MAX) return doc_.Make<LeafNode>(kTextNode, doc_.StoreCopy(run, false));
    return doc_.Make<LeafNode>(kTextNode, std::string_view(CopyToArena(run), run.size()));
  }

  char* CopyToArena(std::string_view text) {
    Arena& arena = doc_.arena_;
#if defined(__SSE2__)
    // Up to sixteen bytes of the input, well after its start: one store of
    // the sixteen bytes that end with them, into free space that ends where
    // the copy does (strings are laid from the top of a chunk down).
    const uintptr_t offset = reinterpret_cast<uintptr_t>(text.data()) - reinterpret_cast<uintptr_t>(begin_);
    if (text.size() <= 16 && offset >= 16 && offset < static_cast<uintptr_t>(end_ - begin_) &&
        arena.top_ - arena.cursor_ >= 16) {
      const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + text.size() - 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(arena.top_ - 16), tail);
      arena.top_ -= text.size();
      return reinterpret_cast<char*>(arena.top_);
    }
#endif
    char* copy = arena.AllocateBytes(text.size());
    std::memcpy(copy, text.data(), text.size());
    return copy;
  }

  // A child list built in order and closed into its container at the end.
  struct Children {
    Node* first = nullptr;
    Node* last = nullptr;
  };
  static void Add(Children& list, Node& node) {
    node.linked_ = true;
    if (list.last)
      list.last->next_ = &node;
    else
      list.first = &node;
    list.last = &node;
  }
  static void Close(const Children& list, Node*& last) {
    if (!list.last) return;
    list.last->next_ = Node::LastLinkTo(list.first);
    last = list.last;
  }

  // Character data up to the next byte of class `stop`, collapsed as a
  // container in mode 1 collapses added text (every container the parser
  // makes is in mode 1), with single CRs dropped as the reader drops them.
  // The cursor is left on the stopping byte. In content a ']' is data unless
  // "]]>" starts there. The view stays valid until the next run.
  std::string_view GatherRun(uint16_t stop, [[maybe_unused]] char stop_byte) {
    const char* q = p_;
    size_t n = 0;
    bool in_space = false;
    char* out = run_.data();
    auto emit = [&](char c) {
      if (n == run_.size()) out = Grow();
      bool space = IsXmlSpace(c);
      out[n] = space ? ' ' : c;
      n += !(space && in_space);
      in_space = space;
    };
#if defined(__SSE2__)
    const __m128i space_or_below = _mm_set1_epi8(0x20);
    const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), own = _mm_set1_epi8(stop_byte);
    const __m128i blank = _mm_set1_epi8(' '), lf = _mm_set1_epi8('\n'), tab = _mm_set1_epi8('\t');
#endif
    for (;;) {
#if defined(__SSE2__)
      // Sixteen bytes at a time: the bytes before the first one that needs a
      // look of its own are copied whole, a run of whitespace after them
      // becomes one space, and anything else goes one byte at a time.
      while (end_ - q >= 16 && run_.size() - n >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(v, space_or_below), space_or_below);
        __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, own)));
        // A space between two bytes above 0x20 (the gap between words) is
        // kept as it is: only whitespace runs, other whitespace bytes and
        // control bytes need the look below. The last lane's successor is
        // not known here, nor the first lane's predecessor when a space ran
        // up to it.
        const unsigned low_bits = static_cast<unsigned>(_mm_movemask_epi8(low));
        const unsigned space_bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)));
        const unsigned lone = space_bits & ~(low_bits << 1) & ~(low_bits >> 1) & 0x7FFF & ~unsigned{in_space};
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(marks)) | (low_bits & ~lone);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), v);
        if (mask == 0) {
          n += 16;
          q += 16;
          in_space = false;
          continue;
        }
        unsigned plain = static_cast<unsigned>(__builtin_ctz(mask));
        if (plain) {
          n += plain;
          q += plain;
          in_space = false;
        }
        // A run of spaces, LFs and TABs becomes one space at once (CRs take
        // the byte-wise path below).
        unsigned spaces = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, tab)))));
        unsigned run = static_cast<unsigned>(__builtin_ctz(~(spaces >> plain)));
        if (run) {
          if (!in_space) out[n++] = ' ';
          in_space = true;
          q += run;
          continue;
        }
        if (Is(*q, stop)) break;
        emit(*q++);
      }
#endif
      if (q >= end_ || !Is(*q, stop)) {
        const char* limit = q + std::min(static_cast<size_t>(end_ - q), run_.size() - n);
        while (q < limit) {
          uint16_t cls = kClasses[static_cast<unsigned char>(*q)];
          if (cls & stop) break;
          bool space = cls & kSpace;
          out[n] = space ? ' ' : *q;
          n += !(space && in_space);
          in_space = space;
          ++q;
        }
        if (q >= end_) break;
        if (q == limit && !Is(*q, stop)) {
          out = Grow();
          continue;
        }
      }
      if (*q == '\r') {
        ++q;
        if (q < end_ && *q == '\r') emit(*q++);
        continue;
      }
      if (*q == ']') {
        p_ = q;
        if (Match("]]>")) Fail(kErrCDataEndInContent, q);
        emit(*q++);
        continue;
      }
      break;
    }
    p_ = q;
    return {out, n};
  }

  char* Grow() {
    run_.resize(run_.size() * 2);
    return run_.data();
  }

  char Current() const { return p_ < end_ ? *p_ : '\0'; }

  void ParseDeclaration() {
    if (!SkipSpace() || !Match("version")) Fail(kErrBadVersion, At());
    if (!Equals()) Fail(kErrExpectedEquals, NextToken());
    std::string version = ReadQuoted(false, kNameChar, kErrBadVersion, kErrBadVersion);
    std::string encoding = "UTF-8";
    uint8_t standalone = 1;
    bool space = SkipSpace();
    if (space && Match("encoding")) {
      if (!Equals()) Fail(kErrExpectedEquals, NextToken());
      encoding = ReadQuoted(true, kEncodingChar, kErrEncodingNotQuoted, kErrBadEncoding);
      space = SkipSpace();
    }
    if (space && Match("standalone")) {
      if (!Equals()) Fail(kErrExpectedEquals, NextToken());
      char quote = Peek();
      if (quote != '"' && quote != '\'') Fail(kErrStandaloneNotQuoted, At());
      Advance();
      if (Match("yes"))
        standalone = 1;
      else if (Match("no"))
        standalone = 0;
      else
        Fail(kErrBadStandalone, At());
      if (Peek() != quote) Fail(kErrBadStandalone, At());
      Advance();
      SkipSpace();
    }
    if (!Match("?>")) Fail(kErrDeclarationNotClosed, At());
    doc_.SetDeclaration(version, encoding, standalone);
  }

  // A quoted value of bytes of class `rest`, the first a letter when
  // `letter_first`; `not_quoted` when no quote opens it, `bad` otherwise.
  std::string ReadQuoted(bool letter_first, uint16_t rest, int not_quoted, int bad) {
    char quote = Peek();
    if (quote != '"' && quote != '\'') Fail(not_quoted, At());
    Advance();
    char c = Peek();
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter_first ? !letter : !Is(c, rest)) Fail(bad, At());
    std::string value;
    while (Is(Peek(), rest)) value.push_back(Get());
    if (Peek() != quote) Fail(bad, At());
    Advance();
    return value;
  }

  void ParseMisc() {
    for (;;) {
      SkipSpace();
      if (Match("<!--")) {
        doc_.AddChild(ParseComment());
      } else if (Match("<?")) {
        doc_.AddChild(ParseProcessingInstruction());
      } else {
        return;
      }
    }
  }

  // The cursor is on '<'.
  Element& ParseElement() {
    const char* open = At();
    Advance();
    std::string_view name;
    ShortName own;
    const bool short_name = ReadShortName(own, name);
    if (!short_name && !ReadName(name)) Fail(kErrExpectedName, At());
    // Nesting is bounded so that hostile input cannot exhaust the stack.
    if (++depth_ > kMaxDepth) Fail(kErrTooDeep, open);
    Element& element =
        short_name ? doc_.Make<Element>(ArenaKey(), name, kNormalizeWhitespace) : doc_.CreateElement(name);
    Children attributes;
    for (;;) {
      // Mostly one space before each attribute.
      if (end_ - p_ >= 2 && p_[0] == ' ' && Is(p_[1], kNameStart))
        ++p_;
      else if (!SkipSpace() || !Is(Peek(), kNameStart))
        break;
      Add(attributes, ParseAttribute());
    }
    Close(attributes, element.last_attribute_);
    char c = Peek();
    if (c == '/') {
      Advance();
      if (Peek() != '>') Fail(kErrExpectedEmptyEnd, At());
      Advance();
    } else if (c == '>') {
      Advance();
      ParseContent(element, own);
    } else {
      Fail(kErrExpectedTagEnd, At());
    }
    --depth_;
    return element;
  }

  Attribute& ParseAttribute() {
    std::string_view name;
    ShortName unused;
    Attribute& attribute = ReadShortName(unused, name)
                               ? doc_.Make<Attribute>(ArenaKey(), name, kNormalizeWhitespace)
                               : (ReadName(name), doc_.CreateAttribute(name));
    char quote;
    // Mostly `="` or `='` straight after the name.
    if (end_ - p_ >= 2 && p_[0] == '=' && (p_[1] == '"' || p_[1] == '\'')) {
      quote = p_[1];
      p_ += 2;
    } else {
      if (!Equals()) Fail(kErrExpectedEquals, NextToken());
      quote = Peek();
      if (quote != '"' && quote != '\'') Fail(kErrExpectedQuote, At());
      Advance();
    }
    const uint16_t stop = quote == '"' ? kDoubleQuoteStop : kSingleQuoteStop;
    Children children;
    for (;;) {
      std::string_view run;
      if (!PlainRun(quote, run)) run = GatherRun(stop, quote);
      char c = Current();
      if (c == '\0') Fail(kErrEndOfInput, p_);
      if (c == '<') Fail(kErrLessThanInValue, p_);
      Add(children, MakeText(run));
      if (c == '&') {
        Add(children, ParseReference());
        continue;
      }
      ++p_;  // the closing quote
      Close(children, attribute.last_);
      return attribute;
    }
  }

  // `own_short` is the element's name when it was read as a short one.
  void ParseContent(Element& element, [[maybe_unused]] const ShortName& own_short) {
    Children children;
    for (;;) {
      std::string_view run;
      if (!PlainRun(']', run)) run = GatherRun(kContentStop, ']');
      char c = Current();
      if (c == '\0') Fail(kErrEndOfInput, p_);
      Add(children, MakeText(run));
      if (c == '&') {
        Add(children, ParseReference());
        continue;
      }
      // c == '<'. The usual cases first: the end tag that repeats the short
      // name of its start tag and is closed at once, and a child element.
#if defined(__SSE2__)
      if (own_short.size && end_ - p_ >= 18 && p_[1] == '/' &&
          SameLanes(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + 2)), LanesBelow(own_short.size)),
                    own_short.key) &&
          p_[2 + own_short.size] == '>') {
        p_ += 3 + own_short.size;
        Close(children, element.last_);
        return;
      }
#endif
      if (end_ - p_ >= 2 && Is(p_[1], kNameStart)) {
        Add(children, ParseElement());
        continue;
      }
      // An end tag, comment, CDATA section, processing instruction or child
      // element, tried in that order.
      const char* open = p_;
      Advance();
      switch (Peek()) {
        case '/': {
          Advance();
          // The usual end tag repeats the start tag's name byte for byte.
          const std::string_view own = element.Name();
          if (static_cast<size_t>(end_ - p_) > own.size() &&
              SameBytes({p_, own.size()}, own) && !Is(p_[own.size()], kNameChar) &&
              p_[own.size()] != '\r') {
            p_ += own.size();
          } else {
            std::string_view name;
            const char* name_at = At();
            if (!ReadName(name)) Fail(kErrExpectedName, name_at);
            if (!SameBytes(name, own)) Fail(kErrMismatchedEndTag, name_at);
          }
          SkipSpace();
          if (Peek() != '>') Fail(kErrExpectedTagEnd, At());
          Advance();
          Close(children, element.last_);
          return;
        }
        case '!':
          p_ = open;
          if (Match("<!--")) {
            Add(children, ParseComment());
            continue;
          }
          if (Match("<![CDATA[")) {
            Add(children, ParseCData());
            continue;
          }
          Fail(kErrBadMarkup, open);
        case '?':
          Advance();
          Add(children, ParseProcessingInstruction());
          continue;
        default:
          if (!Is(Peek(), kNameStart)) Fail(kErrBadMarkup, open);
          p_ = open;
          Add(children, ParseElement());
          continue;
      }
    }
  }

  // At '&'.
  Reference& ParseReference() {
    if (Reference* quick = QuickReference()) return *quick;
    return ParseOtherReference();
  }

  // Kept out of line: the quick path above is inlined where references are
  // read.
  [[gnu::noinline]] Reference& ParseOtherReference() {
    const char* amp = p_;
    if (Match("&#x")) return ParseCharacterReference(amp, 16, kErrBadHexReference);
    if (Match("&#")) return ParseCharacterReference(amp, 10, kErrBadDecimalReference);
    Advance();
    std::string_view name;
    const char* name_at = At();
    if (!ReadName(name)) Fail(kErrBadReference, name_at);
    if (Peek() != ';') Fail(kErrBadReference, At());
    Reference* reference = doc_.TryCreateEntityReference(name);
    if (!reference) Fail(kErrUnknownEntity, name_at);
    Advance();
    return *reference;
  }

  // The common spellings, "&lt;" or "&#x41;" with no CR inside and well
  // before the end, read in one look; null for anything else, which the
  // careful path reads (and refuses with its position).
  Reference* QuickReference() {
    const char* q = p_ + 1;
    if (end_ - q < 8) return nullptr;
    // The eight bytes after '&' as one word, the first in the low byte.
    uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little)
      std::memcpy(&word, q, 8);
    else
      for (int i = 0; i < 8; ++i) word |= uint64_t{static_cast<unsigned char>(q[i])} << (8 * i);
    auto entity = [&](std::string_view rest, char character) -> Reference* {
      uint64_t spelling = 0;
      for (size_t i = 0; i < rest.size(); ++i) spelling |= uint64_t{static_cast<unsigned char>(rest[i])} << (8 * i);
      if ((word & ((uint64_t{1} << (8 * rest.size())) - 1)) != spelling) return nullptr;
      p_ = q + rest.size();
      return &doc_.Make<Reference>(true, static_cast<uint8_t>(character));
    };
    switch (*q) {
      case 'l': return entity("lt;", '<');
      case 'g': return entity("gt;", '>');
      case 'q': return entity("quot;", '"');
      case 'a': return q[1] == 'm' ? entity("amp;", '&') : entity("apos;", '\'');
      case '#': break;
      default: return nullptr;
    }
    ++q;
    const bool hex = *q == 'x';
    q += hex;
    unsigned value = 0;
    const char* digits = q;
    for (; q - digits < 3; ++q) {
      const char c = *q;
      if (c >= '0' && c <= '9')
        value = value * (hex ? 16 : 10) + unsigned(c - '0');
      else if (hex && Is(c, kHexDigit))
        value = value * 16 + unsigned(LowerAscii(c) - 'a' + 10);
      else
        break;
    }
    if (q == digits || *q != ';' || value == 0 || value > 255) return nullptr;
    p_ = q + 1;
    return &doc_.Make<Reference>(false, static_cast<uint8_t>(value));
  }

  Reference& ParseCharacterReference(const char* amp, int base, int code) {
    const uint16_t digit_class = base == 16 ? kHexDigit : kDigit;
    if (!Is(Peek(), digit_class)) Fail(code, At());
    unsigned value = 0;
    while (Is(Peek(), digit_class)) {
      char c = Get();
      unsigned d = c <= '9' ? c - '0' : (LowerAscii(c) - 'a' + 10);
      // Saturate: any value above 255 is refused below, however long.
      value = value > 0xFFFF ? value : value * base + d;
    }
    if (Peek() != ';') Fail(kErrBadReference, At());
    // The value is one byte: 0 and anything wider are refused, not truncated.
    if (value == 0 || value > 255) Fail(code, amp);
    Advance();
    return doc_.CreateCharacterReference(static_cast<int>(value));
  }

  // After "<!--".
  LeafNode& ParseComment() {
    run_scratch_.clear();
    for (;;) {
      const char* at = At();
      char c = Get();
      if (c == '\0') Fail(kErrEndOfInput, at);
      if (c == '-' && Peek() == '-') {
        Advance();
        if (Peek() != '>') Fail(kErrDoubleHyphenInComment, At());
        Advance();
        return doc_.CreateComment(run_scratch_);
      }
      run_scratch_.push_back(c);
    }
  }

  // After "<?".
  Node& ParseProcessingInstruction() {
    std::string_view target;
    const char* target_at = At();
    if (!ReadName(target)) Fail(kErrNoPiTarget, target_at);
    if (EqualsNoCase(target, "xml")) Fail(kErrReservedPiTarget, target_at);
    SkipSpace();
    run_scratch_.clear();
    for (;;) {
      const char* at = At();
      char c = Get();
      if (c == '\0') Fail(kErrEndOfInput, at);
      if (c == '?' && Peek() == '>') {
        Advance();
        return doc_.CreateProcessingInstruction(target, run_scratch_);
      }
      run_scratch_.push_back(c);
    }
  }

  // After "<![CDATA[".
  LeafNode& ParseCData() {
    run_scratch_.clear();
    for (;;) {
      const char* at = At();
      char c = Get();
      if (c == ']' && Match("]>")) return doc_.CreateCData(run_scratch_);
      unsigned char u = static_cast<unsigned char>(c);
      if (!(u == '\t' || u == '\n' || u == '\r' || (u >= 0x20 && u <= 0x7F))) Fail(kErrBadCDataByte, at);
      run_scratch_.push_back(c);
    }
  }

  const char* const begin_;
  const char* p_;
  const char* const end_;
  Document& doc_;
  int depth_ = 0;
  std::string run_ = std::string(4096, '\0');
  std::string run_scratch_;
  std::string name_scratch_;
#if defined(__SSE2__)
  // Element and attribute names repeat: one stored copy serves them all.
  struct NameSlot {
    ShortName name;
    __m128i mask;  // the lanes of the name
    std::string_view stored;
  };
  std::array<NameSlot, 128> names_{};
#endif
};

const char* ErrorText(int code) {
  static constexpr const char* kTexts[] = {
      "unknown error",
      "unexpected end of input",
      "expected '=' after a name",
      "expected a quoted value",
      "'<' inside an attribute value",
      "bad entity or character reference",
      "bad hexadecimal character reference",
      "bad decimal character reference",
      "unknown entity",
      "expected a name",
      "expected '>' after '/'",
      "tag not closed by '>'",
      "mismatched end tag",
      "unknown markup",
      "']]>' in content",
      "no root element",
      "bad version in the declaration",
      "declaration not closed",
      "encoding not quoted",
      "bad encoding name",
      "standalone not quoted",
      "standalone is neither yes nor no",
      "'--' inside a comment",
      "processing instruction without a target",
      "reserved processing instruction target",
      "bad byte in a CDATA section",
      "elements nested too deeply",
  };
  static_assert(std::size(kTexts) == kErrTooDeep + 1, "one text per error code");
  return code > 0 && code <= kErrTooDeep ? kTexts[code] : kTexts[0];
}

std::unique_ptr<Document> Parse(const char* buffer, size_t length, int mode) {
  auto doc = std::make_unique<Document>(mode);
  Parser(buffer, length, *doc).ParseDocument();
  return doc;
}

}  // namespace kv::AdvXMLParser
