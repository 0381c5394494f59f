// Real fonts: the faces are found through fontconfig by family name and
// rendered by FreeType as 8-bit anti-aliased coverage. The size asked for is
// the cell height (ascent plus descent), as the engine's text metrics
// expect. Bold is synthesised by widening the outline one pixel, since the
// IPA faces have no bold cut. Called only under the font cache's lock, so
// the one FreeType library handle is never used by two threads at once.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <fontconfig/fontconfig.h>

#include <cstring>
#include <string>

#include "platform/font/font_backend.h"

namespace plat {

namespace {

FT_Library g_library = nullptr;

// The family names tried for each face, best first.
const char* const kFamilies[4][3] = {
    {"IPAGothic", "IPAexGothic", "Noto Sans Mono CJK JP"},
    {"IPAMincho", "IPAexMincho", "Noto Serif CJK JP"},
    {"IPAPGothic", "IPAexGothic", "Noto Sans CJK JP"},
    {"IPAPMincho", "IPAexMincho", "Noto Serif CJK JP"},
};

// The file of the first family that fontconfig really has ("" when none).
// All four faces are looked up together in one fontconfig session, which is
// then closed again, so fontconfig keeps nothing alive behind us.
std::string FindFaceFile(FontFace face) {
  static std::string cached[4];
  static bool looked = false;
  if (!looked) {
    looked = true;
    FcConfig* config = FcInitLoadConfigAndFonts();
    for (int f = 0; f < 4 && config; ++f)
      for (const char* family : kFamilies[f]) {
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
        FcConfigSubstitute(config, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pat, &result);
        FcPatternDestroy(pat);
        if (!match) continue;
        // fontconfig always answers with something; keep it only when one
        // of its family names is the one asked for.
        bool same = false;
        FcChar8* name = nullptr;
        for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i)
          if (std::strcmp(reinterpret_cast<const char*>(name), family) == 0) same = true;
        FcChar8* file = nullptr;
        if (same && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
          cached[f] = reinterpret_cast<const char*>(file);
        FcPatternDestroy(match);
        if (!cached[f].empty()) break;
      }
    if (config) FcConfigDestroy(config);
  }
  return cached[static_cast<int>(face)];
}

class FreeTypeFont : public FontRenderer {
 public:
  FreeTypeFont(FT_Face face, std::string path, int height, bool bold)
      : face_(face), path_(std::move(path)), bold_(bold) {
    m_.height = height;
    m_.ascent = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
    if (m_.ascent > height) m_.ascent = height;
    m_.descent = height - m_.ascent;
    m_.maxWidth = static_cast<int>((face->size->metrics.max_advance + 32) >> 6);
    m_.averageWidth = height / 2;
  }
  ~FreeTypeFont() override { FT_Done_Face(face_); }
  const FontMetrics& Metrics() const override { return m_; }
  const char* Path() const override { return path_.c_str(); }

  void Render(uint32_t cp, FontGlyph* g) override {
    *g = FontGlyph{};
    if (FT_Load_Char(face_, cp, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) {
      g->advanceX = cp > 0xFF ? m_.height : m_.height / 2;
      return;
    }
    FT_GlyphSlot slot = face_->glyph;
    FT_Pos advance = slot->advance.x;
    if (bold_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      FT_Outline_EmboldenXY(&slot->outline, 64, 0);
      advance += 64;
    }
    g->advanceX = static_cast<int>((advance + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.width == 0 || bm.rows == 0 || bm.pixel_mode != FT_PIXEL_MODE_GRAY) return;
    g->width = static_cast<int>(bm.width);
    g->height = static_cast<int>(bm.rows);
    g->originX = slot->bitmap_left;
    g->originY = slot->bitmap_top;
    g->pitch = (g->width + 3) & ~3;
    g->coverage.assign(static_cast<size_t>(g->pitch) * g->height, 0);
    const int levels = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
    for (int y = 0; y < g->height; ++y) {
      const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
      for (int x = 0; x < g->width; ++x)
        g->coverage[y * g->pitch + x] = static_cast<uint8_t>((row[x] * 64 + levels / 2) / levels);
    }
  }

 private:
  FT_Face face_;
  std::string path_;
  bool bold_;
  FontMetrics m_;
};

}  // namespace

std::unique_ptr<FontRenderer> OpenFreeTypeFont(FontFace face, int pixelHeight, bool bold) {
  const int f = static_cast<int>(face);
  if (f < 0 || f > 3) return nullptr;
  const std::string path = FindFaceFile(face);
  if (path.empty()) return nullptr;
  if (!g_library && FT_Init_FreeType(&g_library) != 0) return nullptr;
  FT_Face ft = nullptr;
  if (FT_New_Face(g_library, path.c_str(), 0, &ft) != 0) return nullptr;
  // The size is the cell height: ascender plus descender.
  FT_Size_RequestRec req{};
  req.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
  req.height = static_cast<FT_Long>(pixelHeight) << 6;
  if (FT_Request_Size(ft, &req) != 0) {
    FT_Done_Face(ft);
    return nullptr;
  }
  return std::make_unique<FreeTypeFont>(ft, path, pixelHeight, bold);
}

}  // namespace plat
