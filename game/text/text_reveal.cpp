// The reveal record: the text sprite's alpha kept aside with an order map,
// and the threshold step that uncovers it with a soft edge.
#include "text/text_reveal.h"

#include <algorithm>

#include "text/text_font.h"

bool text_reveal_alloc(TextRevealRecord* r, int layout_width, int font_size, int height, int band_height) {
  text_reveal_free(r);
  const int64_t row = (static_cast<int64_t>(layout_width) + font_size + 3) & ~int64_t{3};
  if (row <= 0 || height <= 0 || row * height > (64 << 20)) return false;
  r->rowWidth = static_cast<int32_t>(row);
  r->rows = height;
  r->bandHeight = r->bandHeightInitial = band_height;
  r->bufferSize = static_cast<int32_t>(row * height);
  r->alpha = static_cast<uint8_t*>(KivMemoryAlloc(r->bufferSize, 1));
  r->order = static_cast<uint16_t*>(KivMemoryAlloc(r->bufferSize * 2, 1));
  if (!r->alpha || !r->order) {
    text_reveal_free(r);
    return false;
  }
  return true;
}

void text_reveal_free(TextRevealRecord* r) {
  KivMemoryFree(r->alpha);
  KivMemoryFree(r->order);
  *r = TextRevealRecord{};
}

int text_reveal_unit(const TextRevealRecord& r, int x, int y) {
  const int64_t band = r.bandHeight > 0 ? y / r.bandHeight : 0;
  return static_cast<int>(std::min<int64_t>(band * r.rowWidth + x, 65535));
}

void text_reveal_capture(TextRevealRecord* r, KivSprite* sprite) {
  if (!r->alpha || !r->order) return;
  const TextFontApi& f = text_font_api();
  int w = 0, h = 0;
  uint32_t* px = sprite ? f.lock(sprite, &w, &h) : nullptr;
  if (!px) return;
  const int cols = std::min(r->rowWidth, w), rows = std::min(r->rows, h);
  for (int y = 0; y < r->rows; ++y)
    for (int x = 0; x < r->rowWidth; ++x) {
      const size_t i = static_cast<size_t>(y) * r->rowWidth + x;
      r->order[i] = static_cast<uint16_t>(text_reveal_unit(*r, x, y));
      r->alpha[i] = 0;
      if (x < cols && y < rows) {
        uint32_t& p = px[static_cast<size_t>(y) * w + x];
        r->alpha[i] = static_cast<uint8_t>(p >> 24);
        p &= 0xFFFFFFu;
      }
    }
  f.unlock(sprite);
  r->ready = 1;
}

void text_reveal_apply(TextRevealRecord* r, KivSprite* sprite, int t) {
  if (!r->ready) return;
  const TextFontApi& f = text_font_api();
  int w = 0, h = 0;
  uint32_t* px = sprite ? f.lock(sprite, &w, &h) : nullptr;
  if (!px) return;
  const int l = std::max(t - 64, 0);
  const int cols = std::min(r->rowWidth, w), rows = std::min(r->rows, h);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      const size_t i = static_cast<size_t>(y) * r->rowWidth + x;
      const int v = r->order[i];
      const uint32_t a = r->alpha[i];
      uint32_t& p = px[static_cast<size_t>(y) * w + x];
      if (v < l)
        p = (p & 0xFFFFFFu) | a << 24;
      else if (v < t && a)
        p = (p & 0xFFFFFFu) | ((static_cast<uint32_t>(l - v + 64) * a * 4) >> 8 & 0xFF) << 24;
    }
  f.unlock(sprite);
}
