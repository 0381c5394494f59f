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

// The cross-fade's combined pixel of incoming pixel pi and outgoing po
// whose halves carry colour alphas kai and kao: a and b their alphas times
// those; both: colour in * a + out * (1 - a), alpha a + b; the outgoing
// alone: its colour with b; the incoming alone: its colour with a * a.
inline uint32_t RefCombine(uint32_t pi, uint32_t po, uint32_t kai, uint32_t kao) {
  const uint32_t a = ((pi >> 24) * kai + 127) / 255, b = ((po >> 24) * kao + 127) / 255;
  if (!a && !b) return 0;
  if (!a) return (po & 0xFFFFFFu) | b << 24;
  if (!b) return (pi & 0xFFFFFFu) | ((a * a + 127) / 255) << 24;
  uint32_t c = std::min<uint32_t>(255, a + b) << 24;
  for (int i = 0; i < 3; ++i) c |= ((a * Ch(pi, i) + (255 - a) * Ch(po, i) + 127) / 255) << (8 * i);
  return c;
}

}  // namespace kivtest
