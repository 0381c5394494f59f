// Plotting coverage into 32-bit pixels in the text colour: a coverage v
// (0..64) gives alpha 4v - 1, so 64 is opaque. The outline ORs the shadow
// colour into the four neighbours of every covered pixel first; the drop
// shadow writes it one pixel right and below; then the glyph is blended
// over what lies there.
#include <algorithm>

#include "text/font.h"

namespace {

inline uint32_t AlphaOf(uint8_t v) {
  const uint32_t c = std::min<uint32_t>(v, 64);
  return c ? 4 * c - 1 : 0;
}

}  // namespace

void KivPlotCoverage(uint32_t* px, int width, int height, const KivGlyph& g, int x, int y, uint32_t colour,
                     uint32_t shadow, int effect) {
  if (!px || !g.bits || width <= 0 || height <= 0) return;
  colour &= 0xFFFFFF;
  shadow &= 0xFFFFFF;
  auto inside = [&](int64_t tx, int64_t ty) { return tx >= 0 && ty >= 0 && tx < width && ty < height; };
  auto at = [&](int64_t tx, int64_t ty) -> uint32_t& { return px[ty * width + tx]; };
  const int64_t bx = static_cast<int64_t>(x) + 1, by = static_cast<int64_t>(y) + 1;

  if (effect == 1 || effect == 2) {
    for (int j = 0; j < g.height; ++j)
      for (int i = 0; i < g.width; ++i) {
        const uint32_t a = AlphaOf(g.bits[static_cast<size_t>(j) * g.pitch + i]);
        if (!a) continue;
        const uint32_t v = shadow | a << 24;
        if (effect == 1) {
          static const int kNeighbours[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
          for (const auto& d : kNeighbours) {
            const int64_t tx = bx + i + d[0], ty = by + j + d[1];
            if (inside(tx, ty)) at(tx, ty) |= v;
          }
        } else {
          const int64_t tx = static_cast<int64_t>(x) + 2 + i, ty = static_cast<int64_t>(y) + 2 + j;
          if (inside(tx, ty)) at(tx, ty) = v;
        }
      }
  }
  for (int j = 0; j < g.height; ++j)
    for (int i = 0; i < g.width; ++i) {
      const uint32_t a = AlphaOf(g.bits[static_cast<size_t>(j) * g.pitch + i]);
      const int64_t tx = bx + i, ty = by + j;
      if (!a || !inside(tx, ty)) continue;
      uint32_t& p = at(tx, ty);
      const uint32_t t = p >> 24;
      if (a == 255) {
        p = colour | 0xFF000000u;
      } else if (t == 0) {
        p = colour | a << 24;
      } else {
        uint32_t out = ((a * 255 + t * (255 - a)) >> 8) << 24;
        for (int sh = 0; sh < 24; sh += 8) {
          const uint32_t c = (colour >> sh) & 0xFF, d = (p >> sh) & 0xFF;
          out |= ((c * a + d * (255 - a)) >> 8) << sh;
        }
        p = out;
      }
    }
}
