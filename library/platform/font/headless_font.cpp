// Headless fonts: no font file and no FreeType. Every visible character is
// a hollow box inside its cell; characters above U+00FF advance a full
// cell width (the pixel height), the others half of it; spaces are blank.
// Deterministic on every machine, so layout tests can count on the
// advances.
#include "platform/font/font_backend.h"

namespace plat {

namespace {

class HeadlessFont : public FontRenderer {
 public:
  HeadlessFont(int height, bool bold) : bold_(bold) {
    m_.height = height;
    m_.ascent = height - height / 8;
    m_.descent = height - m_.ascent;
    m_.averageWidth = height / 2;
    m_.maxWidth = height;
  }
  const FontMetrics& Metrics() const override { return m_; }
  const char* Path() const override { return ""; }
  void Render(uint32_t cp, FontGlyph* g) override {
    const int full = m_.height;
    g->advanceX = cp > 0xFF ? full : full / 2;
    g->advanceY = 0;
    if (cp == 0x20 || cp == 0x3000 || cp < 0x20) {
      g->width = g->height = 0;
      g->pitch = 0;
      return;
    }
    // A box one pixel in from each side of the advance, from the ascent
    // line down to the baseline.
    g->width = g->advanceX > 2 ? g->advanceX - 2 : 1;
    g->height = m_.ascent > 2 ? m_.ascent - 1 : 1;
    g->originX = 1;
    g->originY = g->height;
    g->pitch = (g->width + 3) & ~3;
    g->coverage.assign(static_cast<size_t>(g->pitch) * g->height, 0);
    const int t = bold_ ? 2 : 1;
    for (int y = 0; y < g->height; ++y)
      for (int x = 0; x < g->width; ++x)
        if (x < t || y < t || x >= g->width - t || y >= g->height - t) g->coverage[y * g->pitch + x] = 64;
  }

 private:
  FontMetrics m_;
  bool bold_;
};

}  // namespace

std::unique_ptr<FontRenderer> OpenHeadlessFont(int pixelHeight, bool bold) {
  return std::make_unique<HeadlessFont>(pixelHeight, bold);
}

}  // namespace plat
