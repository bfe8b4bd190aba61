// Stored strings are Windows-1252 bytes in std::string. This unit converts
// them to and from UTF-8 at the UI and OS boundary and gives the code page's
// case rules; every name comparison of the player goes through it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// The Unicode code point of a Windows-1252 byte. The five bytes the code page
// leaves undefined map to the C1 controls of the same value, as the system
// conversion did, so every byte round-trips.
char32_t Cp1252ToUnicode(uint8_t byte);

// The Windows-1252 byte of a code point, or `fallback` when it has none.
uint8_t UnicodeToCp1252(char32_t cp, uint8_t fallback = '?');

std::string Cp1252ToUtf8(std::string_view text);
// The same appended to `out`, which keeps its buffer.
void AppendCp1252ToUtf8(std::string& out, std::string_view text);

// Malformed UTF-8 and characters outside the code page become `fallback`;
// `lossy` (when given) tells whether that happened.
std::string Utf8ToCp1252(std::string_view text, bool* lossy = nullptr, uint8_t fallback = '?');

// Little-endian UTF-16 code units as stored by a wide archive string.
std::string Utf16ToCp1252(std::u16string_view text);

char ToUpper1252(char c);
char ToLower1252(char c);
std::string ToUpper1252(std::string_view text);
std::string ToLower1252(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
// <0, 0, >0 comparing the upper-case forms byte by byte.
int CompareNoCase(std::string_view a, std::string_view b);

// White space as the original's trimming saw it: space, tab, CR, LF, VT, FF.
bool IsBlank(char c);
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
std::string_view Trim(std::string_view text);

}  // namespace kv
