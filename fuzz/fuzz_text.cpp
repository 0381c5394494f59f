// Text on any input. The first byte chooses:
//   0: the game's layout (text_draw with tags, ruby and a reveal record,
//      text_line_layout, text_convert, text_wrap_plain) over a stand-in font
//      that checks every string it is handed ends inside the input copy;
//   1: the engine's own text walk (measure and draw) on the headless face;
//   2: a glyph file: its trailer, glyphs at scales 1, 2 and 0.5, plotted;
//   3: an ExFont atlas and its cells.
// Texts are exact-size copies, so a scan past the zero byte is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/font/font.h"
#include "text/font.h"
#include "text/text_font.h"
#include "text/text_layout.h"

namespace {

uint32_t g_pixels[96 * 64];

int Begin() { return 1; }
int End() { return 1; }
int Size = 24;
int GetSize(const char* t, KivSize* out) {
  out->cx = static_cast<int>(std::strlen(t)) * (Size / 2) + 2;
  out->cy = Size + 2;
  return 1;
}
int Draw(uint32_t* px, const char* t, int x, int y, int w, int h) {
  if (std::strlen(t) > 511) __builtin_trap();
  if (x >= 0 && y >= 0 && x < w && y < h) px[y * w + x] = 0xFFFFFFFFu;
  return 1;
}
int SetColor(int, int) { return 1; }
int GetFontSize() { return Size; }
int SetFontSize(int s) { return Size = s, 1; }
int GetType() { return 0; }
int SetType(int) { return 1; }
uint32_t* Lock(KivSprite*, int* w, int* h) { return *w = 96, *h = 64, g_pixels; }
int Unlock(KivSprite*) { return 1; }
int SetRect(KivSprite*, const KivRect*) { return 1; }
const TextFontApi kFake = {Begin, End, GetSize, Draw, SetColor, GetFontSize, SetFontSize, GetType, SetType, Lock,
                           Unlock, SetRect};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] & 3;
  std::vector<char> text(data + 1, data + size);
  text.push_back(0);
  switch (mode) {
    case 0: {
      text_font_api_set(&kFake);
      Size = 24;
      static uint8_t alpha[96 * 64];
      static uint16_t order[96 * 64];
      TextRevealRecord rev{0, alpha, order, 96, 64, 26, 26, 96 * 64};
      int x = 0, y = 0;
      text_draw(reinterpret_cast<KivSprite*>(16), text.data(), &x, &y, 72, 60, 24, size & 1 ? 10 : 0, {0, 0},
                &rev);
      text_line_layout(text.data(), 24, 72);
      char out[kTextBufferBytes];
      int32_t banks[4096] = {};
      text_convert(TextConvertSources{"/n<&%", banks, banks, banks}, out, text.data());
      if (std::strlen(out) >= kTextBufferBytes) __builtin_trap();
      text_wrap_plain(text.data(), out, 72, 60, 24);
      if (out[kTextBufferBytes - 1] != 0) __builtin_trap();
      text_font_api_set(nullptr);
      break;
    }
    case 1: {
      plat::SetFontBackendKind(plat::Backend::kHeadless);
      KivFontSetFontSize(static_cast<int>(size % 40));
      KivFontSetEffect(static_cast<int>(size % 3));
      KivSize s{};
      KivFontGetSize(text.data(), &s);
      KivFontDrawText(g_pixels, text.data(), 2, 2, 96, 64);
      break;
    }
    case 2: {
      std::span<const uint8_t> file(data + 1, size - 1);
      KivTextMetrics m;
      if (!KivGlyphFileMetrics(file, &m)) break;
      std::vector<uint8_t> scratch;
      for (float scale : {1.0f, 2.0f, 0.5f})
        for (uint32_t index : {0u, 1u, 65u, 255u, 670u, 31872u, 0xFFFFFFFFu}) {
          KivGlyph g;
          KivGlyphFileGlyph(file, index, scale, 12, scratch, &g);
          KivPlotCoverage(g_pixels, 96, 64, g, 3, 3, 0xFFFFFF, 0, index % 3);
        }
      break;
    }
    case 3: {
      KivExFontAtlas atlas;
      if (!KivExFontParse({data + 1, size - 1}, &atlas)) break;
      std::vector<uint8_t> cell;
      for (int n = 0; n < 10; ++n)
        if (KivExFontCell(atlas, n, 1 + static_cast<int>(size % 48), cell)) {
          KivGlyph g;
          g.width = g.height = g.pitch = 1 + static_cast<int>(size % 48);
          g.bits = cell.data();
          KivPlotCoverage(g_pixels, 96, 64, g, -4, 60, 0xFFFFFF, 0, 1);
        }
      break;
    }
  }
  return 0;
}
