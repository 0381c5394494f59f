// The table scrambler and its inverse.
#include "data/script_format.h"

namespace {

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void data_unscramble(uint8_t* body, size_t length) {
  uint8_t c = 4;
  for (size_t at = 0; at + 4 <= length; at += 4, ++c) {
    const unsigned r = c % 8;
    body[at] = static_cast<uint8_t>(body[at] << r | body[at] >> ((8 - r) % 8));
    StoreLe32(body + at, LoadLe32(body + at) ^ kScrambleKey1 ^ kScrambleKey2);
  }
}

void data_scramble(uint8_t* body, size_t length) {
  uint8_t c = 4;
  for (size_t at = 0; at + 4 <= length; at += 4, ++c) {
    StoreLe32(body + at, LoadLe32(body + at) ^ kScrambleKey2 ^ kScrambleKey1);
    const unsigned r = c % 8;
    body[at] = static_cast<uint8_t>(body[at] >> r | body[at] << ((8 - r) % 8));
  }
}
