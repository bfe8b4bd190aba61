#include "editing/entry_mask.h"

#include <algorithm>

#include "platform/text.h"

namespace kv {

namespace {

bool IsLetter(char c) {
  const auto u = static_cast<uint8_t>(c);
  if (ToUpper1252(c) != c || ToLower1252(c) != c) return true;
  // Letters of the code page without a case partner.
  return u == 0x83 || u == 0xAA || u == 0xB5 || u == 0xBA || u == 0xDF;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

EntryMask ParseEntryMask(const std::string& text) {
  const std::string mask = text.empty() ? std::string("X") : text;
  if (mask.size() > EntryMask::kMaxLength)
    throw EntryMaskError("the edit mask has " + std::to_string(mask.size()) + " characters; at most " +
                         std::to_string(EntryMask::kMaxLength) + " are allowed");
  EntryMask m;
  for (size_t i = 0; i < mask.size(); ++i) {
    char c = mask[i];
    bool literal = false;
    if (c == '/' && i + 1 < mask.size()) {
      c = mask[++i];
      literal = true;
    }
    const bool placeholder = !literal && (c == '9' || c == 'A' || c == 'N' || c == 'L' || c == 'U' || c == 'X');
    m.kinds.push_back(placeholder ? c : 0);
    m.literals.push_back(placeholder ? 0 : c);
  }
  return m;
}

std::string MaskOfType(uint8_t maskType, const std::string& stored) {
  switch (maskType) {
    case 1: return "99999";
    case 2: return "$9999.99";
    case 3: return "99:99";
    case 4: return "99//99//9999";
    default: return stored;
  }
}

char AcceptEntryChar(char kind, char c) {
  if (c == 0) return 0;
  switch (kind) {
    case '9': return IsDigit(c) ? c : 0;
    case 'A': return IsLetter(c) || c == ' ' ? c : 0;
    case 'N': return IsLetter(c) || IsDigit(c) || c == ' ' ? c : 0;
    case 'L': return IsLetter(c) ? ToLower1252(c) : c == ' ' ? c : 0;
    case 'U': return IsLetter(c) ? ToUpper1252(c) : c == ' ' ? c : 0;
    case 'X': return c;
    default: return 0;
  }
}

MaskedEdit::MaskedEdit(EntryMask mask) : mask_(std::move(mask)), cells_(mask_.size(), '\0') {
  caret_ = anchor_ = std::min(FirstPlaceholder(), mask_.size());
}

std::string MaskedEdit::Display() const {
  std::string out(mask_.size(), ' ');
  for (size_t i = 0; i < mask_.size(); ++i) {
    if (!mask_.IsPlaceholder(i))
      out[i] = mask_.literals[i];
    else if (cells_[i] == 0)
      out[i] = promptChar;
    else
      out[i] = passwordChar ? passwordChar : cells_[i];
  }
  return out;
}

std::string MaskedEdit::Value() const {
  std::string out;
  for (size_t i = 0; i < mask_.size(); ++i)
    if (mask_.IsPlaceholder(i)) out.push_back(cells_[i] ? cells_[i] : ' ');
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::vector<size_t> MaskedEdit::PlaceholdersIn(size_t from, size_t to) const {
  std::vector<size_t> out;
  for (size_t i = from; i < to && i < mask_.size(); ++i)
    if (mask_.IsPlaceholder(i)) out.push_back(i);
  return out;
}

size_t MaskedEdit::NextPlaceholder(size_t from) const {
  for (size_t i = from; i < mask_.size(); ++i)
    if (mask_.IsPlaceholder(i)) return i;
  return mask_.size();
}

size_t MaskedEdit::LastFilledEnd() const {
  for (size_t i = mask_.size(); i-- > 0;)
    if (mask_.IsPlaceholder(i) && cells_[i]) return i + 1;
  return FirstPlaceholder();
}

void MaskedEdit::Select(size_t anchor, size_t caret) {
  anchor_ = std::min(anchor, mask_.size());
  caret_ = std::min(caret, mask_.size());
}

void MaskedEdit::SelectAll() { Select(FirstPlaceholder(), LastFilledEnd()); }

void MaskedEdit::FocusGained(bool selectOnFocus) {
  if (selectOnFocus)
    SelectAll();
  else
    Select(FirstPlaceholder(), FirstPlaceholder());
}

// Removes the placeholders in [from, to): the later ones move left,
// placeholder by placeholder, over literals; the freed ones at the end empty.
void MaskedEdit::DeleteRange(size_t from, size_t to) {
  const std::vector<size_t> all = PlaceholdersIn(0, mask_.size());
  std::string kept;
  size_t first = all.size();
  for (size_t k = 0; k < all.size(); ++k) {
    const bool gone = all[k] >= from && all[k] < to;
    if (gone && first == all.size()) first = k;
    if (!gone) kept.push_back(cells_[all[k]]);
  }
  for (size_t k = first; k < all.size(); ++k) cells_[all[k]] = '\0';
  // The kept characters after the gap close it up.
  size_t j = first;
  for (size_t k = first; k < kept.size(); ++k) cells_[all[j++]] = kept[k];
}

void MaskedEdit::Place(size_t from, const std::string& text) {
  size_t pos = NextPlaceholder(from);
  for (char c : text) {
    if (pos >= mask_.size()) break;
    const char ok = AcceptEntryChar(mask_.kinds[pos], c);
    if (!ok) continue;
    cells_[pos] = ok;
    pos = NextPlaceholder(pos + 1);
  }
  caret_ = anchor_ = pos;
}

void MaskedEdit::SetText(const std::string& text) {
  std::fill(cells_.begin(), cells_.end(), '\0');
  Place(0, text);
}

MaskedEdit::Outcome MaskedEdit::Type(char c) {
  if (readOnly) return Outcome::kRefused;
  const bool selection = HasSelection();
  const size_t start = SelectionStart(), end = SelectionEnd();
  const size_t target = NextPlaceholder(selection ? start : caret_);
  if (target >= mask_.size() || (selection && target >= end)) return Outcome::kRefused;
  const char ok = AcceptEntryChar(mask_.kinds[target], c);
  if (!ok) return Outcome::kRefused;
  if (insertMode) {
    // The insert must fit before the selection is given up.
    std::string saved = cells_;
    if (selection) DeleteRange(start, end);
    const std::vector<size_t> all = PlaceholdersIn(0, mask_.size());
    if (cells_[all.back()] != 0) {
      cells_ = std::move(saved);
      return Outcome::kRefused;
    }
    const size_t k = size_t(std::find(all.begin(), all.end(), target) - all.begin());
    for (size_t i = all.size() - 1; i > k; --i) cells_[all[i]] = cells_[all[i - 1]];
    cells_[target] = ok;
    caret_ = anchor_ = NextPlaceholder(target + 1);
    return target == all.back() && autoTab ? Outcome::kLeave : Outcome::kDone;
  }
  if (selection) DeleteRange(start, end);
  cells_[target] = ok;
  caret_ = anchor_ = NextPlaceholder(target + 1);
  return caret_ >= mask_.size() && autoTab ? Outcome::kLeave : Outcome::kDone;
}

MaskedEdit::Outcome MaskedEdit::DeleteSelection() {
  const size_t start = SelectionStart();
  DeleteRange(start, SelectionEnd());
  caret_ = anchor_ = start;
  return Outcome::kDone;
}

MaskedEdit::Outcome MaskedEdit::Backspace() {
  if (readOnly) return Outcome::kRefused;
  if (HasSelection()) return DeleteSelection();
  for (size_t i = caret_; i-- > 0;) {
    if (mask_.IsPlaceholder(i)) {
      DeleteRange(i, i + 1);
      caret_ = anchor_ = i;
      return Outcome::kDone;
    }
  }
  return Outcome::kRefused;
}

MaskedEdit::Outcome MaskedEdit::Delete() {
  if (readOnly) return Outcome::kRefused;
  if (HasSelection()) return DeleteSelection();
  const size_t at = NextPlaceholder(caret_);
  if (at >= mask_.size()) return Outcome::kRefused;
  DeleteRange(at, at + 1);
  caret_ = anchor_ = at;
  return Outcome::kDone;
}

void MaskedEdit::Home(bool shift) {
  if (shift)
    Select(anchor_, 0);
  else
    caret_ = anchor_ = FirstPlaceholder();
}

void MaskedEdit::End(bool shift) {
  if (shift)
    Select(anchor_, mask_.size());
  else
    caret_ = anchor_ = LastFilledEnd();
}

void MaskedEdit::Left(bool shift) {
  if (shift) {
    if (caret_ > 0) --caret_;
    return;
  }
  size_t to = caret_;
  for (size_t i = caret_; i-- > 0;)
    if (mask_.IsPlaceholder(i)) {
      to = i;
      break;
    }
  caret_ = anchor_ = to;
}

MaskedEdit::Outcome MaskedEdit::Right(bool shift) {
  if (shift) {
    if (caret_ < mask_.size()) ++caret_;
    return Outcome::kDone;
  }
  if (caret_ >= mask_.size()) return autoTab ? Outcome::kLeave : Outcome::kDone;
  caret_ = anchor_ = NextPlaceholder(caret_ + 1);
  return caret_ >= mask_.size() && autoTab ? Outcome::kLeave : Outcome::kDone;
}

MaskedEdit::Outcome MaskedEdit::ToggleInsert() {
  if (!allowInsertToggle || readOnly) return Outcome::kRefused;
  insertMode = !insertMode;
  return Outcome::kDone;
}

void MaskedEdit::ClickAt(size_t pos) {
  pos = std::min(pos, mask_.size());
  size_t best = mask_.size(), bestDistance = SIZE_MAX;
  for (size_t i = 0; i < mask_.size(); ++i) {
    if (!mask_.IsPlaceholder(i)) continue;
    const size_t d = i > pos ? i - pos : pos - i;
    if (d < bestDistance) best = i, bestDistance = d;
  }
  caret_ = anchor_ = best;
}

std::string MaskedEdit::Copy() const {
  std::string out;
  for (size_t i : PlaceholdersIn(SelectionStart(), SelectionEnd())) out.push_back(cells_[i] ? cells_[i] : ' ');
  return out;
}

MaskedEdit::Outcome MaskedEdit::Paste(const std::string& text) {
  if (readOnly) return Outcome::kRefused;
  const size_t start = SelectionStart();
  if (HasSelection()) DeleteRange(start, SelectionEnd());
  Place(start, text);
  return Outcome::kDone;
}

MaskedEdit::Outcome MaskedEdit::Cut(std::string& copied) {
  copied = Copy();
  if (readOnly) return Outcome::kRefused;
  return DeleteSelection();
}

}  // namespace kv
