// The masked entry field's editing model: the edit mask, the field's text
// (literals at their positions, placeholders entered or empty), the caret
// and selection, and every edit the keyboard and the clipboard make. No
// widget: the widget shows Display() and maps keys to these calls.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv {

class EntryMaskError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A parsed mask: one cell per position of the field.
struct EntryMask {
  static constexpr size_t kMaxLength = 255;
  // Per position: the placeholder's mask character ('9', 'A', 'N', 'L',
  // 'U', 'X'), or 0 for a literal.
  std::vector<char> kinds;
  std::string literals;  // the literal at each literal position, 0 elsewhere

  size_t size() const { return kinds.size(); }
  bool IsPlaceholder(size_t pos) const { return pos < kinds.size() && kinds[pos] != 0; }
};

// Parses an edit mask; empty means "X". Raises EntryMaskError for a mask
// over 255 characters. A trailing lone "/" is a literal slash.
EntryMask ParseEntryMask(const std::string& mask);

// The fixed mask of maskType 1 to 4; `stored` for 0 (and unknown types).
std::string MaskOfType(uint8_t maskType, const std::string& stored);

// The character `c` accepted by placeholder `kind`, case-converted; 0 when
// it is refused. Windows-1252 letters count as letters.
char AcceptEntryChar(char kind, char c);

class MaskedEdit {
 public:
  enum class Outcome { kDone, kRefused, kLeave };  // kLeave: auto-tab moves the focus on

  explicit MaskedEdit(EntryMask mask = ParseEntryMask("X"));

  // Options.
  bool insertMode = false;
  bool autoTab = false;
  bool readOnly = false;
  bool allowInsertToggle = true;
  char promptChar = ' ';
  char passwordChar = 0;  // 0: characters shown as entered

  const EntryMask& mask() const { return mask_; }
  // The field as shown: literals, entered characters (or the password
  // character), the prompt character at empty placeholders.
  std::string Display() const;
  // The placeholder characters, empty ones as spaces, trailing spaces removed.
  std::string Value() const;
  // Places `text` into the placeholders from the first, as typing in
  // overwrite mode does; refused characters are skipped, the rest cleared.
  void SetText(const std::string& text);

  // Caret and selection as positions 0..size(); the selection is
  // [SelectionStart(), SelectionEnd()), empty when they are equal.
  size_t Caret() const { return caret_; }
  size_t SelectionStart() const { return std::min(anchor_, caret_); }
  size_t SelectionEnd() const { return std::max(anchor_, caret_); }
  bool HasSelection() const { return anchor_ != caret_; }
  void Select(size_t anchor, size_t caret);
  void SelectAll();  // the entered part

  // Typing one character (Tab and Enter are not typed).
  Outcome Type(char c);
  Outcome Backspace();
  Outcome Delete();
  void Home(bool shift);
  void End(bool shift);
  void Left(bool shift);
  Outcome Right(bool shift);
  // The Insert key: toggles insertMode when allowed.
  Outcome ToggleInsert();
  // A click at a position: the caret goes to the nearest placeholder.
  void ClickAt(size_t pos);
  // The selected placeholder characters (empty ones as spaces).
  std::string Copy() const;
  Outcome Paste(const std::string& text);
  Outcome Cut(std::string& copied);
  // The caret's place when the field takes the focus.
  void FocusGained(bool selectOnFocus);

 private:
  std::vector<size_t> PlaceholdersIn(size_t from, size_t to) const;
  size_t NextPlaceholder(size_t from) const;  // size() when none
  size_t FirstPlaceholder() const { return NextPlaceholder(0); }
  size_t LastFilledEnd() const;  // the position after the last filled placeholder
  void DeleteRange(size_t from, size_t to);
  Outcome DeleteSelection();
  void Place(size_t from, const std::string& text);

  EntryMask mask_;
  std::string cells_;  // entered character per position, 0 when empty or literal
  size_t caret_ = 0, anchor_ = 0;
};

}  // namespace kv
