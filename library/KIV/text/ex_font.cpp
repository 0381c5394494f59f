// The ExFont atlas: one row of square grey cells ("%0".."%9" in text),
// loaded from an 8-bit grey TGA whose size must be exactly its pixels plus
// the 18-byte head and the 26-byte footer.
#include "platform/core/byte_io.h"
#include "render/pixel_routines.h"
#include "text/font.h"

bool KivExFontParse(std::span<const uint8_t> file, KivExFontAtlas* out) {
  plat::ByteReader r(file);
  r.Seek(12);
  const int w = r.U16(), h = r.U16();
  if (!r.ok() || w == 0 || h == 0) return false;
  const size_t need = static_cast<size_t>(w) * h + 44;
  if (file.size() != need) return false;
  KivExFontAtlas a;
  a.width = w;
  a.height = h;
  a.cell = h;
  a.pixels.resize(static_cast<size_t>(w) * h);
  // Rows are stored bottom-up; keep them top row first.
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = file.data() + 18 + static_cast<size_t>(h - 1 - y) * w;
    std::copy(src, src + w, a.pixels.begin() + static_cast<ptrdiff_t>(y) * w);
  }
  *out = std::move(a);
  return true;
}

bool KivExFontCell(const KivExFontAtlas& atlas, int n, int g, std::vector<uint8_t>& out) {
  const int cell = atlas.cell;
  if (cell <= 0 || n < 0 || g <= 0 || g > 4096) return false;
  if (static_cast<int64_t>(n + 1) * cell > atlas.width) return false;
  // Grey 0..255 becomes coverage 0..64.
  std::vector<uint8_t> cov(static_cast<size_t>(cell) * cell);
  for (int y = 0; y < cell; ++y)
    for (int x = 0; x < cell; ++x)
      cov[static_cast<size_t>(y) * cell + x] =
          static_cast<uint8_t>((atlas.pixels[static_cast<size_t>(y) * atlas.width + n * cell + x] + 1) >> 2);
  out.assign(static_cast<size_t>(g) * g, 0);
  if (g == cell) {
    out = std::move(cov);
    return true;
  }
  KivPixelScaleGrey(cov.data(), cell, cell, cell, static_cast<float>(g) / static_cast<float>(cell), out.data(), g,
                    g, g);
  return true;
}
