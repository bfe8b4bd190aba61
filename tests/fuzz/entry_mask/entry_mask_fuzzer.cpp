// Edit masks as authors write them, then keys as users type them: the input
// is a mask, a NUL, and bytes each naming an edit (typed characters, the
// caret keys, deleting, the clipboard). The field must keep its shape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "editing/entry_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string mask = input.substr(0, split);
  kv::EntryMask parsed;
  try {
    parsed = kv::ParseEntryMask(mask);
  } catch (const kv::EntryMaskError&) {
    return 0;
  }
  kv::MaskedEdit edit(parsed);
  const size_t length = edit.Display().size();
  std::string clip;
  for (size_t i = split == std::string::npos ? input.size() : split + 1; i < input.size(); ++i) {
    const auto b = static_cast<uint8_t>(input[i]);
    const bool shift = b & 0x80;
    switch (b & 0x7F) {
      case 1: edit.Home(shift); break;
      case 2: edit.End(shift); break;
      case 3: edit.Left(shift); break;
      case 4: edit.Right(shift); break;
      case 5: edit.Backspace(); break;
      case 6: edit.Delete(); break;
      case 7: clip = edit.Copy(); break;
      case 8: edit.Paste(clip + input.substr(i)); break;
      case 9: edit.Cut(clip); break;
      case 10: edit.ToggleInsert(); break;
      case 11: edit.Select(size_t(b) % (length + 2), i % (length + 2)); break;
      case 12: edit.ClickAt(i % (length + 2)); break;
      case 13: edit.autoTab = !edit.autoTab; break;
      default: edit.Type(static_cast<char>(b)); break;
    }
    if (edit.Display().size() != length || edit.Caret() > length || edit.Value().size() > length) __builtin_trap();
  }
  return 0;
}
