// Code page 932 (Shift-JIS) <-> UTF-8, used only where text leaves the
// program: window titles, message boxes, file names, the terminal.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Unconvertible bytes become '?'; conversion never fails.
std::string Cp932ToUtf8(std::string_view cp932);
std::string Utf8ToCp932(std::string_view utf8);

// A Shift-JIS copy of a UTF-8 literal, kept for the life of the process, so
// source files can be UTF-8 while the program's text stays code page 932.
const char* Sjis(const char* utf8_literal);

// The Unicode code point of one code page 932 character: a single byte
// (below 0x100) or lead * 256 + trail. 0 when the code has no character.
// Drawing text needs this per glyph, so the whole table is built once.
uint32_t Cp932CodeToUnicode(uint32_t code);

// True when byte b starts a two-byte Shift-JIS character.
inline bool IsSjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace plat
