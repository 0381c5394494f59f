// Code page 932 (Shift-JIS) <-> UTF-8, used only where text leaves the
// program: window titles, message boxes, file names, the terminal.
#pragma once
#include <string>
#include <string_view>

namespace plat {

// Unconvertible bytes become '?'; conversion never fails.
std::string Cp932ToUtf8(std::string_view cp932);
std::string Utf8ToCp932(std::string_view utf8);

// A Shift-JIS copy of a UTF-8 literal, kept for the life of the process, so
// source files can be UTF-8 while the program's text stays code page 932.
const char* Sjis(const char* utf8_literal);

// True when byte b starts a two-byte Shift-JIS character.
inline bool IsSjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace plat
