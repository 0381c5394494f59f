// Fonts: glyph coverage, metrics and advances for the engine's text. Only
// this family includes FreeType or fontconfig headers.
//
// The four system faces are fixed-pitch and proportional Gothic and Mincho
// (the IPA faces, found through fontconfig). A face is opened at a pixel
// height (the cell height: ascent plus descent), optionally emboldened.
// Glyphs are 8-bit coverage 0..64, rows padded to 4 bytes, and are cached
// per face, size and style, so a page of text costs little after its first
// draw. Characters are Unicode code points; callers holding Shift-JIS
// convert with Cp932CodeToUnicode (platform/core/text_encoding.h).
//
// Backends: the real one renders through FreeType; the headless one draws a
// box for every character with fixed advances (full width for characters
// above U+00FF, half width below), needs no font file, and stands in when a
// face cannot be found.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/core/backend.h"

namespace plat {

enum class FontFace { kGothic = 0, kMincho = 1, kPGothic = 2, kPMincho = 3 };

struct FontMetrics {
  int height = 0;   // cell height in pixels (the size asked for)
  int ascent = 0;   // baseline below the cell top
  int descent = 0;  // height - ascent
  int averageWidth = 0;
  int maxWidth = 0;
};

// One glyph, as the engine's glyph records hold it: black-box size, the
// origin of the box (x right of the pen, y above the baseline) and the
// advance. coverage holds height rows of pitch bytes, values 0..64.
struct FontGlyph {
  int width = 0;
  int height = 0;
  int originX = 0;
  int originY = 0;
  int advanceX = 0;
  int advanceY = 0;
  int pitch = 0;
  std::vector<uint8_t> coverage;
};

struct FontHandle;  // a face at a size and style; owned by the cache

Backend FontBackendKind();
void SetFontBackendKind(Backend b);

// The cached face for (face, pixel height, bold); never null for heights
// 1..4096 (the headless backend stands in when the real face is missing),
// null for others. Valid until FontCacheClear.
FontHandle* FontOpen(FontFace face, int pixelHeight, bool bold);
const FontMetrics& FontGetMetrics(const FontHandle* font);
// The cached glyph of a code point; valid until FontCacheClear.
const FontGlyph& FontGetGlyph(FontHandle* font, uint32_t codepoint);
// The file a face comes from ("" for the headless backend).
const char* FontFilePath(const FontHandle* font);
// Frees every cached face and glyph.
void FontCacheClear();
// Glyphs rendered since start (cache misses), for tests and benchmarks.
uint64_t FontGlyphsRendered();

}  // namespace plat
