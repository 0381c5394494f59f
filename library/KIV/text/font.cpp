// Fonts and text drawn into sprites. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Fonts: the font settings and their exports, the drawing context, the
// walk over Shift-JIS text that measures and draws it, the glyph file and
// the pre-rendered atlas.
//
// One lock guards the settings, the context and the loaded files: the game
// thread and the worker (which makes text sprites while loading) never draw
// at once. KivFontBegin takes it and KivFontEnd gives it back, so a thread
// holding an open context keeps the others waiting until it ends; every
// other export takes it for its own duration (it is recursive, so the
// holder may call them freely).
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "platform/font/font.h"
#include "platform/window/messages.h"
#include "text/font.h"

namespace {

constexpr int kTypeFile = 4;
constexpr size_t kMaxFontFile = 64u << 20;

struct FontFileData {
  uint8_t* data = nullptr;  // KivMemoryAlloc block (g_kiv->glyphFile)
  size_t size = 0;
  KivTextMetrics metrics;   // the trailer
  bool valid = false;
};

struct Context {
  bool begun = false;
  int type = 0;
  int size = 0;
  plat::FontHandle* font = nullptr;  // types 0-3
  float scale = 1.0f;                // type 4
  int H = 0, A = 0;
  std::vector<uint8_t> scratch;      // scaled glyphs and atlas cells
};

std::recursive_mutex g_lock;
Context g_ctx;
FontFileData g_file;
KivExFontAtlas g_atlas;
bool g_atlasLoaded = false;

KivFontState* Settings() {
  static KivFontState fallback;
  return g_kiv ? &g_kiv->font : &fallback;
}

// Types 0-3 are the system faces; 4 the loaded glyph file, and type 0 when
// none is loaded.
void Build(Context* c) {
  const KivFontState* st = Settings();
  c->type = st->type;
  c->size = st->size;
  c->font = nullptr;
  c->scale = 1.0f;
  c->H = c->A = 0;
  if (c->type == kTypeFile && !g_file.valid) c->type = 0;
  if (c->type == kTypeFile) {
    const KivTextMetrics& m = g_file.metrics;
    if (c->size != m.height) c->scale = static_cast<float>(c->size) / static_cast<float>(m.height);
    c->H = c->scale == 1.0f ? m.height : static_cast<int>(static_cast<float>(m.height) * c->scale);
    c->A = c->scale == 1.0f ? m.ascent : static_cast<int>(c->scale * static_cast<float>(m.ascent));
    return;
  }
  c->font = plat::FontOpen(static_cast<plat::FontFace>(c->type), c->size, c->type == 1);
  if (!c->font) return;  // a size no face has: nothing is drawn
  const plat::FontMetrics& m = plat::FontGetMetrics(c->font);
  c->H = m.height;
  c->A = m.ascent;
}

void Glyph(Context* c, uint32_t code, KivGlyph* g) {
  const int blank = code > 0xFF ? c->H : c->H / 2;
  if (c->type == kTypeFile) {
    const int ave = static_cast<int>(static_cast<float>(g_file.metrics.aveCharWidth) * c->scale);
    KivGlyphFileGlyph({g_file.data, g_file.size}, KivGlyphIndex(code), c->scale, code > 0xFF ? 2 * ave : ave,
                      c->scratch, g);
    return;
  }
  *g = KivGlyph{};
  g->advanceX = blank;
  if (!c->font) {
    g->advanceX = 0;
    return;
  }
  const uint32_t cp = plat::Cp932CodeToUnicode(code);
  if (!cp) return;
  const plat::FontGlyph& fg = plat::FontGetGlyph(c->font, cp);
  g->width = fg.width;
  g->height = fg.height;
  g->originX = fg.originX;
  g->originY = fg.originY;
  g->advanceX = fg.advanceX;
  g->advanceY = fg.advanceY;
  g->pitch = fg.pitch;
  g->bits = fg.coverage.empty() ? nullptr : fg.coverage.data();
}

// Side of an atlas cell drawn at the current size.
int CellSide(const Context* c) {
  const int cell = g_atlas.cell;
  if (!g_atlasLoaded || cell <= 0) return 0;
  return static_cast<int>(static_cast<float>(cell) * (static_cast<float>(c->size) / static_cast<float>(cell)));
}

enum class Tok { kEnd, kSpace, kWideSpace, kBreak, kTag, kExFont, kChar };

// The next unit of text at p; never reads past the terminating zero byte
// (an unclosed tag or a lead byte before it ends the text).
Tok Next(const unsigned char*& p, uint32_t* code) {
  const unsigned char b = *p;
  if (b == 0) return Tok::kEnd;
  if (b == '<') {
    const unsigned char* q = p + 1;
    while (*q && *q != '>') ++q;
    const size_t n = static_cast<size_t>(q - p - 1);
    const bool br = n == 2 && (std::memcmp(p + 1, "br", 2) == 0 || std::memcmp(p + 1, "BR", 2) == 0);
    if (*q == 0) {
      p = q;
      return Tok::kEnd;
    }
    p = q + 1;
    return br ? Tok::kBreak : Tok::kTag;
  }
  if (plat::IsSjisLead(b)) {
    if (p[1] == 0) {
      p += 1;
      return Tok::kEnd;
    }
    *code = static_cast<uint32_t>(b) << 8 | p[1];
    p += 2;
    return *code == 0x8140 ? Tok::kWideSpace : Tok::kChar;
  }
  if (b == '%' && p[1] >= '0' && p[1] <= '9') {
    *code = p[1] - '0';
    p += 2;
    return Tok::kExFont;
  }
  p += 1;
  *code = b;
  if (b == ' ') return Tok::kSpace;
  if (b == 13 || b == 10) return Tok::kBreak;
  return Tok::kChar;
}

void Measure(Context* c, const char* text, int* cx, int* cy) {
  int line = 0, longest = 0, lines = 1;
  const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  uint32_t code = 0;
  KivGlyph g;
  for (Tok t; (t = Next(p, &code)) != Tok::kEnd;) {
    switch (t) {
      case Tok::kSpace: line += c->H / 2; break;
      case Tok::kWideSpace: line += c->H; break;
      case Tok::kBreak:
        longest = std::max(longest, line);
        line = 0;
        ++lines;
        break;
      case Tok::kExFont:
        if (g_atlasLoaded && static_cast<int64_t>(code + 1) * g_atlas.cell <= g_atlas.width)
          line += CellSide(c) + 2;
        break;
      case Tok::kChar:
        Glyph(c, code, &g);
        line += g.advanceX;
        break;
      default: break;
    }
  }
  longest = std::max(longest, line);
  *cx = longest + 2;
  *cy = c->H * lines + 2;
}

void Draw(Context* c, uint32_t* px, const char* text, int x, int y, int w, int h) {
  const KivFontState* st = Settings();
  int penX = x, penY = y;
  const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  uint32_t code = 0;
  KivGlyph g;
  for (Tok t; (t = Next(p, &code)) != Tok::kEnd;) {
    switch (t) {
      case Tok::kSpace: penX += c->H / 2; break;
      case Tok::kWideSpace: penX += c->H; break;
      case Tok::kBreak:
        penY += c->H;
        penX = x;
        break;
      case Tok::kExFont: {
        const int side = CellSide(c);
        if (!KivExFontCell(g_atlas, static_cast<int>(code), side, c->scratch)) break;  // beyond the atlas
        KivGlyph cell;
        cell.width = cell.height = cell.pitch = side;
        cell.bits = c->scratch.data();
        KivPlotCoverage(px, w, h, cell, penX, penY, st->colour, st->edgeColour, st->effect);
        penX += side;
        break;
      }
      case Tok::kChar:
        Glyph(c, code, &g);
        KivPlotCoverage(px, w, h, g, penX + g.originX, penY + c->A - g.originY, st->colour, st->edgeColour,
                        st->effect);
        penX += g.advanceX;
        break;
      default: break;
    }
  }
}

// Runs fn with the open context, or with one made for this call.
template <typename F>
void WithContext(F&& fn) {
  std::lock_guard lock(g_lock);
  if (g_ctx.begun) {
    fn(&g_ctx);
    return;
  }
  Context temp;
  Build(&temp);
  fn(&temp);
}

bool ReadWhole(const char* name, std::vector<uint8_t>* out) {
  if (!name) return false;
  KivFileInfo info{};
  intptr_t f = KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, &info);
  if (f == KIV_INVALID_FILE) return false;
  bool ok = info.size <= kMaxFontFile;
  if (ok) {
    out->resize(info.size);
    ok = plat::FileReadAt(f, info.start, out->data(), info.size);
  }
  plat::FileClose(f);
  return ok;
}

void FreeGlyphFile() {
  if (g_kiv && g_kiv->glyphFile == g_file.data) g_kiv->glyphFile = nullptr;
  KivMemoryFree(g_file.data);
  g_file = FontFileData{};
}

void FreeAtlas() {
  g_atlas = KivExFontAtlas{};
  g_atlasLoaded = false;
  if (g_kiv) g_kiv->exFontAtlas = nullptr;
}

}  // namespace

int KivFontReleaseAll(void) {
  std::lock_guard lock(g_lock);
  FreeGlyphFile();
  FreeAtlas();
  plat::FontCacheClear();  // the faces and their glyphs
  if (g_ctx.begun) Build(&g_ctx);
  if (g_kiv) {
    KivMemoryFree(g_kiv->glyphFile);
    KivMemoryFree(g_kiv->exFontAtlas);
    g_kiv->glyphFile = g_kiv->exFontAtlas = nullptr;
  }
  return 1;
}

extern "C" KIV_API int KivFontBegin(void) {
  g_lock.lock();
  // Already open on this thread (the lock is ours): keep the one level the
  // first Begin holds and make the context afresh.
  if (g_ctx.begun) g_lock.unlock();
  Build(&g_ctx);
  g_ctx.begun = true;
  return 1;
}

extern "C" KIV_API int KivFontEnd(void) {
  std::lock_guard lock(g_lock);
  if (g_ctx.begun) {
    g_ctx.begun = false;
    g_ctx.font = nullptr;
    g_lock.unlock();  // the level KivFontBegin took
  }
  return 1;
}

extern "C" KIV_API int KivFontGetSize(const char* text, KivSize* out) {
  int cx = 0, cy = 0;
  WithContext([&](Context* c) { Measure(c, text, &cx, &cy); });
  if (out) {
    out->cx = cx;
    out->cy = cy;
  }
  return 1;
}

extern "C" KIV_API int KivFontDrawText(uint32_t* pixels, const char* text, int x, int y, int width, int height) {
  if (!pixels || width <= 0 || height <= 0) return 1;
  WithContext([&](Context* c) { Draw(c, pixels, text, x, y, width, height); });
  return 1;
}

extern "C" KIV_API int KivFontGetColor(int* colour, int* shadow) {
  std::lock_guard lock(g_lock);
  if (colour) *colour = static_cast<int>(Settings()->colour);
  if (shadow) *shadow = static_cast<int>(Settings()->edgeColour);
  return 1;
}

extern "C" KIV_API int KivFontSetColor(int colour, int shadow) {
  std::lock_guard lock(g_lock);
  Settings()->colour = static_cast<uint32_t>(colour);
  Settings()->edgeColour = static_cast<uint32_t>(shadow);
  return 1;
}

extern "C" KIV_API int KivFontGetEffect(void) {
  std::lock_guard lock(g_lock);
  return Settings()->effect;
}

extern "C" KIV_API int KivFontSetEffect(int effect) {
  std::lock_guard lock(g_lock);
  Settings()->effect = static_cast<uint16_t>(effect);
  return 1;
}

extern "C" KIV_API int KivFontGetFontSize(void) {
  std::lock_guard lock(g_lock);
  return Settings()->size;
}

extern "C" KIV_API int KivFontSetFontSize(int size) {
  std::lock_guard lock(g_lock);
  Settings()->size = static_cast<uint16_t>(size);
  return 1;
}

extern "C" KIV_API int KivFontGetType(void) {
  std::lock_guard lock(g_lock);
  return Settings()->type;
}

extern "C" KIV_API int KivFontSetType(int type) {
  std::lock_guard lock(g_lock);
  if (type < 0 || type > kTypeFile) {
    plat::DebugOutput("KivFontSetType : no such font type\n");
    plat::SetLastError(plat::kErrorInvalidParameter);
    return 0;
  }
  Settings()->type = type;
  return 1;
}

extern "C" KIV_API int KivFontLoad(const char* file) {
  std::vector<uint8_t> bytes;
  if (!ReadWhole(file, &bytes)) return 0;
  KivTextMetrics m;
  if (!KivGlyphFileMetrics(bytes, &m)) {
    plat::DebugOutput("KivFontLoad : not a glyph file\n");
    return 0;
  }
  void* block = KivMemoryAlloc(static_cast<int>(bytes.size()), 0);
  if (!block) return 0;
  std::memcpy(block, bytes.data(), bytes.size());
  std::lock_guard lock(g_lock);
  FreeGlyphFile();  // a file loaded over another replaces it
  g_file.data = static_cast<uint8_t*>(block);
  g_file.size = bytes.size();
  g_file.metrics = m;
  g_file.valid = true;
  if (g_kiv) g_kiv->glyphFile = block;
  if (g_ctx.begun && g_ctx.type == kTypeFile) Build(&g_ctx);
  return 1;
}

extern "C" KIV_API int KivFontUnload(void) {
  std::lock_guard lock(g_lock);
  FreeGlyphFile();
  if (g_ctx.begun && g_ctx.type == kTypeFile) Build(&g_ctx);
  return 1;
}

extern "C" KIV_API int KivExFontLoad(const char* file) {
  std::vector<uint8_t> bytes;
  if (!ReadWhole(file, &bytes)) return 0;
  KivExFontAtlas atlas;
  if (!KivExFontParse(bytes, &atlas)) {
    plat::DebugOutput("KivExFontLoad : the file size is not width x height + 44\n");
    return 0;
  }
  std::lock_guard lock(g_lock);
  g_atlas = std::move(atlas);
  g_atlasLoaded = true;
  if (g_kiv) g_kiv->exFontAtlas = nullptr;  // the atlas is owned here
  return 1;
}

extern "C" KIV_API int KivExFontUnload(void) {
  std::lock_guard lock(g_lock);
  FreeAtlas();
  return 1;
}
