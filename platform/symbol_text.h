// Text in a font of the symbol character set is not Windows-1252: its bytes
// are the Symbol font's own code points (Greek letters, mathematics, the
// pieces of tall brackets, braces, integrals and radicals).
#pragma once

#include <cstdint>

namespace kv {

// A logical font's charset byte for the symbol set (SYMBOL_CHARSET).
inline constexpr uint8_t kSymbolCharset = 2;

// The font that draws it: fonts-urw-base35's Standard Symbols PS, whose
// Type 1 form ("urw" foundry) maps the characters below by their names; its
// OpenType form carries only a symbol cmap and no Unicode characters.
inline constexpr const char* kSymbolFontFamily = "Standard Symbols PS [urw]";

// The Unicode character of a Symbol font byte, by the public Symbol-to-Unicode
// table; bytes below 0x20 (line breaks, tabs) stay as they are, bytes the font
// leaves empty give U+FFFD.
char32_t SymbolToUnicode(uint8_t byte);

}  // namespace kv
