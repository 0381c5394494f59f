// The software blitter's pixel rules written out plainly, one pixel at a
// time, for tests to compare the renderer's output with. d: the screen pixel,
// p: the sprite pixel, k: the sprite's colour (its alpha byte the sprite's
// alpha).
#pragma once
#include <algorithm>
#include <cstdint>

namespace kivtest {

inline uint32_t Ch(uint32_t v, int i) { return (v >> (8 * i)) & 0xFF; }

inline uint32_t RefBlend(uint32_t d, uint32_t p, uint32_t k) {
  const uint32_t pa = p >> 24;
  if (pa == 0) return d;
  const uint32_t o = (pa * (k >> 24)) >> 8;
  uint32_t out = 0xFF000000u;
  for (int i = 0; i < 3; ++i) out |= ((((Ch(p, i) * Ch(k, i)) >> 8) * o + Ch(d, i) * (256 - o)) >> 8) << (8 * i);
  return out;
}

inline uint32_t RefAdd(uint32_t d, uint32_t p, uint32_t k) {
  const uint32_t pa = p >> 24;
  if (pa == 0) return d;
  uint32_t out = d & 0xFF000000u;
  for (int i = 0; i < 3; ++i)
    out |= std::min<uint32_t>(255, Ch(d, i) + Ch(p, i) * pa / 256 * (k >> 24) / 256) << (8 * i);
  return out;
}

inline uint32_t RefMultiply(uint32_t d, uint32_t p, uint32_t k) {
  const uint32_t pa = p >> 24;
  if (pa == 0) return d;
  uint32_t out = d & 0xFF000000u;
  for (int i = 0; i < 3; ++i) out |= (((Ch(p, i) * pa / 256 * (k >> 24)) >> 8) * Ch(d, i) / 256) << (8 * i);
  return out;
}

}  // namespace kivtest
