#include "editing/rtf_reader.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace kv {

namespace {

// ---------------------------------------------------------------- text

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

// The code page of a font's character set; 0 for the document's own.
int CodePageOfCharset(int charset) {
  switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;  // 0 ANSI, 1 default, 2 symbol: the document's code page
  }
}

// Converts bytes of a code page to UTF-8. Windows-1252 goes through the
// player's own table; other pages through iconv, a byte that does not
// convert becoming U+FFFD.
class CodePages {
 public:
  ~CodePages() {
    for (auto& [page, cd] : open_)
      if (cd != iconv_t(-1)) iconv_close(cd);
  }
  void Append(std::string& out, int page, const std::string& bytes) {
    if (page == 1252 || page == 0) {
      AppendCp1252ToUtf8(out, bytes);
      return;
    }
    iconv_t cd = Open(page);
    if (cd == iconv_t(-1)) {
      AppendCp1252ToUtf8(out, bytes);  // a code page this host cannot convert
      return;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in = bytes;
    char* src = in.data();
    size_t left = in.size();
    while (left > 0) {
      char buf[256];
      char* dst = buf;
      size_t room = sizeof buf;
      const size_t r = iconv(cd, &src, &left, &dst, &room);
      out.append(buf, size_t(dst - buf));
      if (r == size_t(-1) && errno != E2BIG) {
        AppendUtf8(out, 0xFFFD);
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
      }
    }
  }

 private:
  iconv_t Open(int page) {
    auto it = open_.find(page);
    if (it != open_.end()) return it->second;
    const std::string name = page == 10000 ? "MACINTOSH" : "CP" + std::to_string(page);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    open_[page] = cd;
    return cd;
  }
  std::map<int, iconv_t> open_;
};

// ---------------------------------------------------------------- the reader

enum class Dest : uint8_t { kText, kSkip, kFontTable, kColorTable, kPicture };

struct GroupState {
  Dest dest = Dest::kText;
  RichCharFormat format;
  int fontNumber = -1;
  int uc = 1;  // fallback characters after "\u"
  RichParagraph para;  // the paragraph properties (runs unused)
};

struct FontEntry {
  std::string name;
  int charset = 0;
};

class Reader {
 public:
  // The state outside every group sits at the bottom of the stack.
  // With `into`, each paragraph goes there as it ends instead of into the
  // document Read answers.
  explicit Reader(std::string_view data, RichDocumentStream* into = nullptr) : data_(data), into_(into) {
    stack_.emplace_back();
  }

  RichDocument Read() {
    if (data_.size() > kMaxRtfBytes)
      throw RtfError("the file has " + std::to_string(data_.size()) + " bytes; at most " +
                     std::to_string(kMaxRtfBytes) + " are read");
    if (!LooksLikeRtf(data_)) throw RtfError("the file is not RTF (it does not begin with {\\rtf)");
    pos_ = data_.find('{');
    while (pos_ < data_.size() && !ended_) Step();
    Flush();
    EndParagraph(true);
    return std::move(doc_);
  }

 private:
  GroupState& State() { return stack_.back(); }

  void Step() {
    const char c = data_[pos_++];
    switch (c) {
      case '{':
        Flush();
        if (stack_.size() > size_t(kMaxRtfDepth))
          throw RtfError("groups are nested deeper than " + std::to_string(kMaxRtfDepth) + " levels");
        stack_.push_back(State());
        skipFallback_ = 0;
        break;
      case '}':
        Flush();
        if (stack_.size() <= 2) {
          ended_ = true;  // the document's own group closed
        } else {
          if (State().dest == Dest::kFontTable && fontName_) EndFontEntry();
          stack_.pop_back();
        }
        skipFallback_ = 0;
        break;
      case '\\':
        ControlWord();
        break;
      case '\r':
      case '\n':
        break;
      default:
        if (c != '\t' && skipFallback_ == 0 && State().dest == Dest::kText) {
          // Plain text, the bulk of a file, goes to the pending bytes in
          // stretches: what Byte would do a byte at a time.
          const size_t start = pos_ - 1;
          while (pos_ < data_.size() && IsPlainText(data_[pos_])) ++pos_;
          pending_.append(data_, start, pos_ - start);
        } else {
          Byte(c);
        }
    }
  }

  static bool IsPlainText(char c) {
    return c != '{' && c != '}' && c != '\\' && c != '\r' && c != '\n' && c != '\t';
  }

  // ------------------------------------------------ control words

  void ControlWord() {
    if (pos_ >= data_.size()) return;
    const char c = data_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      Symbol(c);
      return;
    }
    const size_t start = pos_;
    while (pos_ < data_.size() && IsLetter(data_[pos_]) && pos_ - start < 32) ++pos_;
    const std::string_view word = data_.substr(start, pos_ - start);
    bool hasParam = false;
    long long param = 0;
    bool negative = false;
    if (pos_ < data_.size() && data_[pos_] == '-' && pos_ + 1 < data_.size() && IsDigit(data_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    size_t digits = 0;
    while (pos_ < data_.size() && IsDigit(data_[pos_])) {
      if (digits++ < 10) param = param * 10 + (data_[pos_] - '0');
      ++pos_;
    }
    hasParam = digits > 0;
    param = std::clamp(negative ? -param : param, -2147483648LL, 2147483647LL);
    if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;  // the delimiting space
    Word(word, hasParam, int(param));
  }

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void Symbol(char c) {
    switch (c) {
      case '\'': {
        if (pos_ + 2 > data_.size()) return;
        const int hi = Hex(data_[pos_]), lo = Hex(data_[pos_ + 1]);
        if (hi < 0 || lo < 0) return;
        pos_ += 2;
        Byte(char(hi * 16 + lo), true);
        return;
      }
      case '*':
        // An optional destination: skipped unless it is one this reader knows.
        starred_ = true;
        return;
      case '\\':
      case '{':
      case '}':
        Byte(c, true);
        return;
      case '~': Unicode(0x00A0); return;
      case '_': Unicode(0x2011); return;
      case '-': return;  // optional hyphen
      case '\r':
      case '\n': Word("par", false, 0); return;
      case '\t': Word("tab", false, 0); return;
      default: return;  // "\|", "\:" and other symbols of old formats
    }
  }

  // The control words this reader acts on; every other word is ignored.
  enum class Kw : uint8_t {
    kOther, kFontTable, kColorTable, kPict, kObject, kShpPict, kNonShpPict, kSkipped, kBin,
    kRed, kGreen, kBlue, kFont, kCharset, kU, kUc, kPar, kChar, kAnsiCpg, kDeff, kPlain,
    kBold, kItalic, kUnderline, kUnderlineNone, kStrike, kFontSize, kColor, kBackground,
    kSuper, kSub, kNoSuperSub, kPard, kLeft, kCenter, kRight, kJustify, kLeftIndent,
    kRightIndent, kFirstIndent, kSpaceBefore, kSpaceAfter, kTabStop,
  };
  struct WordInfo {
    Kw kw = Kw::kOther;
    char32_t ch = 0;  // kChar: the character it stands for
  };

  // One lookup per control word: a file of a megabyte has a hundred thousand.
  static WordInfo Lookup(std::string_view w) {
    static const std::unordered_map<std::string_view, WordInfo> table = [] {
      std::unordered_map<std::string_view, WordInfo> t;
      auto add = [&](std::initializer_list<std::string_view> words, Kw kw, char32_t ch = 0) {
        for (std::string_view word : words) t[word] = WordInfo{kw, ch};
      };
      add({"fonttbl"}, Kw::kFontTable);
      add({"colortbl"}, Kw::kColorTable);
      add({"pict"}, Kw::kPict);
      add({"object"}, Kw::kObject);
      add({"shppict"}, Kw::kShpPict);
      add({"nonshppict"}, Kw::kNonShpPict);
      add({"stylesheet", "info", "header", "footer", "headerl", "headerr", "headerf", "footerl", "footerr",
           "footerf", "fldinst", "listtable", "listoverridetable", "revtbl", "rsidtbl", "filetbl", "generator",
           "xmlnstbl", "themedata", "colorschememapping", "latentstyles", "datastore", "footnote", "annotation",
           "atnid", "atnauthor", "bkmkstart", "bkmkend", "template", "docvar"},
          Kw::kSkipped);
      add({"bin"}, Kw::kBin);
      add({"red"}, Kw::kRed);
      add({"green"}, Kw::kGreen);
      add({"blue"}, Kw::kBlue);
      add({"f"}, Kw::kFont);
      add({"fcharset"}, Kw::kCharset);
      add({"u"}, Kw::kU);
      add({"uc"}, Kw::kUc);
      add({"par", "sect", "page"}, Kw::kPar);
      add({"line"}, Kw::kChar, 0x2028);
      add({"tab"}, Kw::kChar, '\t');
      add({"emdash"}, Kw::kChar, 0x2014);
      add({"endash"}, Kw::kChar, 0x2013);
      add({"emspace"}, Kw::kChar, 0x2003);
      add({"enspace"}, Kw::kChar, 0x2002);
      add({"qmspace"}, Kw::kChar, 0x2005);
      add({"bullet"}, Kw::kChar, 0x2022);
      add({"lquote"}, Kw::kChar, 0x2018);
      add({"rquote"}, Kw::kChar, 0x2019);
      add({"ldblquote"}, Kw::kChar, 0x201C);
      add({"rdblquote"}, Kw::kChar, 0x201D);
      add({"ansicpg"}, Kw::kAnsiCpg);
      add({"deff"}, Kw::kDeff);
      add({"plain"}, Kw::kPlain);
      add({"b"}, Kw::kBold);
      add({"i"}, Kw::kItalic);
      add({"ul", "uld", "uldb", "ulw", "uldash", "ulth", "ulwave"}, Kw::kUnderline);
      add({"ulnone"}, Kw::kUnderlineNone);
      add({"strike", "striked"}, Kw::kStrike);
      add({"fs"}, Kw::kFontSize);
      add({"cf"}, Kw::kColor);
      add({"cb", "highlight", "chcbpat"}, Kw::kBackground);
      add({"super"}, Kw::kSuper);
      add({"sub"}, Kw::kSub);
      add({"nosupersub"}, Kw::kNoSuperSub);
      add({"pard"}, Kw::kPard);
      add({"ql"}, Kw::kLeft);
      add({"qc"}, Kw::kCenter);
      add({"qr"}, Kw::kRight);
      add({"qj", "qd"}, Kw::kJustify);
      add({"li"}, Kw::kLeftIndent);
      add({"ri"}, Kw::kRightIndent);
      add({"fi"}, Kw::kFirstIndent);
      add({"sb"}, Kw::kSpaceBefore);
      add({"sa"}, Kw::kSpaceAfter);
      add({"tx"}, Kw::kTabStop);
      return t;
    }();
    auto it = table.find(w);
    return it == table.end() ? WordInfo{} : it->second;
  }

  void Word(std::string_view w, bool hasParam, int p) {
    GroupState& s = State();
    const bool starred = starred_;
    starred_ = false;
    const WordInfo info = Lookup(w);
    switch (info.kw) {
      // Destinations.
      case Kw::kFontTable: return Destination(Dest::kFontTable);
      case Kw::kColorTable:
        colors_.clear();
        color_ = 0;
        return Destination(Dest::kColorTable);
      case Kw::kPict:
      case Kw::kObject: ++doc_.picturesSkipped; return Destination(Dest::kPicture);
      case Kw::kShpPict: return Destination(Dest::kPicture);
      case Kw::kNonShpPict:
      case Kw::kSkipped: return Destination(Dest::kSkip);
      default: break;
    }
    if (starred) return Destination(Dest::kSkip);  // "\*" before a word this reader does not know
    if (info.kw == Kw::kBin) {
      // Binary data: its bytes are skipped whatever they hold.
      Flush();
      pos_ = std::min(data_.size(), pos_ + size_t(std::max(0, p)));
      return;
    }
    if (s.dest == Dest::kSkip || s.dest == Dest::kPicture) return;
    if (s.dest == Dest::kColorTable) {
      if (info.kw == Kw::kRed) color_ = (color_ & 0x00FFFF) | uint32_t(p & 0xFF) << 16;
      if (info.kw == Kw::kGreen) color_ = (color_ & 0xFF00FF) | uint32_t(p & 0xFF) << 8;
      if (info.kw == Kw::kBlue) color_ = (color_ & 0xFFFF00) | uint32_t(p & 0xFF);
      return;
    }
    if (s.dest == Dest::kFontTable) {
      if (info.kw == Kw::kFont) {
        if (fontName_) EndFontEntry();
        fontNumber_ = p;
        fonts_[p] = FontEntry();
        fontName_ = true;
      } else if (info.kw == Kw::kCharset && fontName_) {
        fonts_[fontNumber_].charset = p;
      }
      return;
    }
    if (info.kw != Kw::kU && info.kw != Kw::kUc) skipFallback_ = 0;
    RichCharFormat& f = s.format;
    RichParagraph& para = s.para;
    const bool on = !hasParam || p != 0;
    switch (info.kw) {
      // Characters.
      case Kw::kPar: return EndParagraph(false);
      case Kw::kChar: return Unicode(info.ch);
      case Kw::kU: {
        if (!hasParam) return;
        char32_t unit = char32_t(p < 0 ? p + 65536 : p) & 0xFFFF;
        if (unit >= 0xD800 && unit < 0xDC00) {
          highSurrogate_ = unit;
        } else if (unit >= 0xDC00 && unit < 0xE000 && highSurrogate_) {
          Unicode(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
          highSurrogate_ = 0;
        } else {
          Unicode(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
        }
        skipFallback_ = s.uc;
        return;
      }
      case Kw::kUc: s.uc = std::clamp(p, 0, 16); return;
      // Document defaults.
      case Kw::kAnsiCpg: codePage_ = p; return;
      case Kw::kDeff: defaultFont_ = p; return;
      // Character formatting.
      case Kw::kPlain:
        Flush();
        f = RichCharFormat();
        s.fontNumber = -1;
        return;
      case Kw::kBold: return Set(f.bold, on);
      case Kw::kItalic: return Set(f.italic, on);
      case Kw::kUnderline: return Set(f.underline, on);
      case Kw::kUnderlineNone: return Set(f.underline, false);
      case Kw::kStrike: return Set(f.strike, on);
      case Kw::kFontSize:
        Flush();
        f.halfPoints = hasParam && p > 0 ? std::min(p, 3276) : 24;
        return;
      case Kw::kFont:
        Flush();
        s.fontNumber = p;
        return;
      case Kw::kColor:
        Flush();
        f.color = ColorAt(p);
        return;
      case Kw::kBackground:
        Flush();
        f.background = ColorAt(p);
        return;
      case Kw::kSuper: return SetVertical(on ? 1 : 0);
      case Kw::kSub: return SetVertical(on ? -1 : 0);
      case Kw::kNoSuperSub: return SetVertical(0);
      // Paragraph formatting.
      case Kw::kPard: para = RichParagraph(); return;
      case Kw::kLeft: para.align = RichAlign::kLeft; return;
      case Kw::kCenter: para.align = RichAlign::kCenter; return;
      case Kw::kRight: para.align = RichAlign::kRight; return;
      case Kw::kJustify: para.align = RichAlign::kJustify; return;
      case Kw::kLeftIndent: para.leftIndent = p; return;
      case Kw::kRightIndent: para.rightIndent = p; return;
      case Kw::kFirstIndent: para.firstIndent = p; return;
      case Kw::kSpaceBefore: para.spaceBefore = p; return;
      case Kw::kSpaceAfter: para.spaceAfter = p; return;
      case Kw::kTabStop:
        if (para.tabStops.size() < 256) para.tabStops.push_back(p);
        return;
      default: return;
    }
  }

  void Destination(Dest d) {
    Flush();
    State().dest = d;
    skipFallback_ = 0;
  }

  void Set(bool& field, bool on) {
    Flush();
    field = on;
  }

  void SetVertical(int v) {
    Flush();
    State().format.vertical = v;
  }

  std::optional<uint32_t> ColorAt(int index) const {
    if (index <= 0 || size_t(index) >= colors_.size()) return std::nullopt;  // 0: the automatic colour
    return colors_[size_t(index)];
  }

  // ------------------------------------------------ text

  void Byte(char c, bool escaped = false) {
    GroupState& s = State();
    if (s.dest == Dest::kFontTable) {
      if (c == ';' && !escaped) {
        // Only an open entry ends: its name, once converted, is not bytes of
        // a code page any more (a stray ";" would convert it again, doubling
        // it each time).
        if (fontName_) EndFontEntry();
      } else if (fontName_ && fonts_[fontNumber_].name.size() < 256) {
        fonts_[fontNumber_].name.push_back(c);
      }
      return;
    }
    if (s.dest == Dest::kColorTable) {
      if (c == ';') {
        colors_.push_back(color_);
        color_ = 0;
      }
      return;
    }
    if (s.dest != Dest::kText) return;
    if (skipFallback_ > 0) {
      --skipFallback_;
      return;
    }
    if (!escaped && (c == '\t')) return Unicode('\t');
    pending_.push_back(c);
  }

  void EndFontEntry() {
    fontName_ = false;
    FontEntry& e = fonts_[fontNumber_];
    // The name is written in the font's own code page.
    std::string raw = std::move(e.name);
    e.name.clear();
    const int page = CodePageOfCharset(e.charset);
    pages_.Append(e.name, page ? page : codePage_, raw);
    while (!e.name.empty() && e.name.back() == ' ') e.name.pop_back();
    while (!e.name.empty() && e.name.front() == ' ') e.name.erase(0, 1);
  }

  void Unicode(char32_t cp) {
    if (State().dest != Dest::kText) return;
    Flush();
    AppendUtf8(Run(), cp);
  }

  // The font table's entry of the current font; null for a font the table
  // does not list, which takes the widget's own font.
  const FontEntry* CurrentFont() const {
    const int number = stack_.back().fontNumber >= 0 ? stack_.back().fontNumber : defaultFont_;
    auto it = fonts_.find(number);
    return it != fonts_.end() ? &it->second : nullptr;
  }

  // The text of the paragraph's last run, begun anew unless that run has
  // the current format: the group's, with its font resolved now (the group's
  // format keeps the name it last resolved to; its number decides).
  std::string& Run() {
    const FontEntry* font = CurrentFont();
    RichCharFormat& f = State().format;
    if (font) {
      if (f.font != font->name) f.font = font->name;
    } else {
      f.font.clear();
    }
    std::vector<RichRun>& runs = para_.runs;
    if (!runs.empty() && runs.back().format == f) return runs.back().text;
    return runs.emplace_back(RichRun{std::string(), f}).text;
  }

  // Turns the bytes gathered so far into text of the current format.
  void Flush() {
    if (pending_.empty()) return;
    const FontEntry* font = CurrentFont();
    const int page = font ? CodePageOfCharset(font->charset) : 0;
    std::string& text = Run();
    pages_.Append(text, page ? page : codePage_, pending_);
    pending_.clear();
    if (text.empty()) para_.runs.pop_back();  // nothing came of the bytes
  }

  void EndParagraph(bool last) {
    Flush();
    if (last && para_.runs.empty() && paragraphs_ > 0) return;
    std::vector<RichRun> runs = std::move(para_.runs);
    para_ = State().para;
    para_.runs = std::move(runs);
    if (into_)
      into_->Add(std::move(para_));
    else
      doc_.paragraphs.push_back(std::move(para_));
    ++paragraphs_;
    para_ = RichParagraph();
  }

  std::string_view data_;
  RichDocumentStream* into_;
  size_t paragraphs_ = 0;  // ended so far
  size_t pos_ = 0;
  bool ended_ = false;
  std::vector<GroupState> stack_;
  RichDocument doc_;
  RichParagraph para_;
  std::string pending_;
  CodePages pages_;
  int codePage_ = 1252;
  int defaultFont_ = 0;
  std::map<int, FontEntry> fonts_;
  int fontNumber_ = 0;
  bool fontName_ = false;
  std::vector<uint32_t> colors_;
  uint32_t color_ = 0;
  int skipFallback_ = 0;
  char32_t highSurrogate_ = 0;
  bool starred_ = false;
};

}  // namespace

bool LooksLikeRtf(std::string_view data) {
  size_t i = 0;
  while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t')) ++i;
  return data.substr(i, 5) == "{\\rtf";
}

RichDocument ReadRtf(std::string_view data) { return Reader(data).Read(); }

void ReadRtf(std::string_view data, RichDocumentStream& into) { Reader(data, &into).Read(); }

void RichDocumentStream::Add(RichParagraph paragraph) {
  pending_.push_back(std::move(paragraph));
  if (pending_.size() < kBatch) return;
  {
    std::lock_guard l(lock_);
    for (RichParagraph& p : pending_) paragraphs_.push_back(std::move(p));
    shown_ = paragraphs_.size();
  }
  pending_.clear();
  added_.notify_one();
}

void RichDocumentStream::Finish(std::string error) {
  {
    std::lock_guard l(lock_);
    for (RichParagraph& p : pending_) paragraphs_.push_back(std::move(p));
    shown_ = paragraphs_.size();
    finished_ = true;
    error_ = std::move(error);
  }
  pending_.clear();
  added_.notify_one();
}

bool RichDocumentStream::Next(std::vector<const RichParagraph*>& batch) {
  batch.clear();
  std::unique_lock l(lock_);
  added_.wait(l, [&] { return taken_ < shown_ || finished_; });
  for (; taken_ < shown_; ++taken_) batch.push_back(&paragraphs_[taken_]);
  return !batch.empty();
}

std::string RichDocumentStream::Error() const {
  std::lock_guard l(lock_);
  return error_;
}

std::string RichDocument::PlainText() const {
  std::string out;
  for (const RichParagraph& p : paragraphs) {
    for (const RichRun& r : p.runs) {
      for (size_t i = 0; i < r.text.size(); ++i) {
        // U+2028 (a line break) as a newline.
        if (r.text.compare(i, 3, "\xE2\x80\xA8") == 0) {
          out.push_back('\n');
          i += 2;
        } else {
          out.push_back(r.text[i]);
        }
      }
    }
    out.push_back('\n');
  }
  return out;
}

namespace {

struct Handoff {
  std::mutex lock;
  uint64_t next = 0;
  std::map<std::string, std::weak_ptr<const RichDocument>> documents;
  std::map<std::string, std::weak_ptr<RichDocumentStream>> streams;
};

Handoff& Documents() {
  static Handoff h;
  return h;
}

template <class T>
std::string Share(std::map<std::string, std::weak_ptr<T>>& waiting, const char* kind, std::shared_ptr<T> item) {
  Handoff& h = Documents();
  std::lock_guard l(h.lock);
  std::erase_if(waiting, [](const auto& w) { return w.second.expired(); });
  const std::string key = kind + std::to_string(++h.next);
  waiting[key] = item;
  return key;
}

template <class T>
std::shared_ptr<T> Take(std::map<std::string, std::weak_ptr<T>>& waiting, const std::string& key) {
  Handoff& h = Documents();
  std::lock_guard l(h.lock);
  auto it = waiting.find(key);
  if (it == waiting.end()) return nullptr;
  auto item = it->second.lock();
  waiting.erase(it);
  return item;
}

}  // namespace

std::string ShareRichDocument(std::shared_ptr<const RichDocument> doc) {
  return Share(Documents().documents, "rich document ", std::move(doc));
}

std::shared_ptr<const RichDocument> TakeRichDocument(const std::string& key) {
  return Take(Documents().documents, key);
}

std::string ShareRichDocumentStream(std::shared_ptr<RichDocumentStream> stream) {
  return Share(Documents().streams, "rich document stream ", std::move(stream));
}

std::shared_ptr<RichDocumentStream> TakeRichDocumentStream(const std::string& key) {
  return Take(Documents().streams, key);
}

RichDocument PlainTextDocument(std::string_view text) {
  RichDocument doc;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    RichParagraph p;
    if (!line.empty()) p.runs.push_back({Cp1252ToUtf8(line), RichCharFormat()});
    if (end < text.size() || !line.empty() || doc.paragraphs.empty()) doc.paragraphs.push_back(std::move(p));
    start = end + 1;
  }
  return doc;
}

}  // namespace kv
