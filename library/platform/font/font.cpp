// The font cache: one renderer per (backend, face, size, style) and the
// glyphs each has rendered. Faces and glyphs live until FontCacheClear, so
// the references handed out stay valid while the engine draws.
#include "platform/font/font.h"

#include <atomic>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "platform/font/font_backend.h"

namespace plat {

struct FontHandle {
  std::unique_ptr<FontRenderer> renderer;
  std::unordered_map<uint32_t, FontGlyph> glyphs;
};

namespace {

std::atomic<Backend> g_kind{Backend::kReal};
std::atomic<uint64_t> g_rendered{0};
std::mutex g_mutex;
std::map<std::tuple<int, int, int, bool>, std::unique_ptr<FontHandle>> g_faces;

}  // namespace

Backend FontBackendKind() { return g_kind.load(); }
void SetFontBackendKind(Backend b) { g_kind.store(b); }

FontHandle* FontOpen(FontFace face, int pixelHeight, bool bold) {
  if (pixelHeight < 1 || pixelHeight > 4096) return nullptr;
  const Backend kind = g_kind.load();
  std::lock_guard lock(g_mutex);
  auto key = std::make_tuple(static_cast<int>(kind), static_cast<int>(face), pixelHeight, bold);
  auto& slot = g_faces[key];
  if (!slot) {
    auto h = std::make_unique<FontHandle>();
    if (kind == Backend::kReal) h->renderer = OpenFreeTypeFont(face, pixelHeight, bold);
    if (!h->renderer) h->renderer = OpenHeadlessFont(pixelHeight, bold);
    slot = std::move(h);
  }
  return slot.get();
}

const FontMetrics& FontGetMetrics(const FontHandle* font) { return font->renderer->Metrics(); }

const FontGlyph& FontGetGlyph(FontHandle* font, uint32_t codepoint) {
  std::lock_guard lock(g_mutex);
  auto it = font->glyphs.find(codepoint);
  if (it != font->glyphs.end()) return it->second;
  FontGlyph& g = font->glyphs[codepoint];
  font->renderer->Render(codepoint, &g);
  g_rendered.fetch_add(1);
  return g;
}

const char* FontFilePath(const FontHandle* font) { return font->renderer->Path(); }

void FontCacheClear() {
  std::lock_guard lock(g_mutex);
  g_faces.clear();
}

uint64_t FontGlyphsRendered() { return g_rendered.load(); }

}  // namespace plat
