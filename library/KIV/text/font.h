// Engine-private pieces of the text family: the glyph file reader, the
// ExFont atlas and the coverage plotter that font.cpp draws with.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

// TEXTMETRICA as the glyph file's trailer keeps it (56 bytes): eleven
// 32-bit fields, nine bytes, three bytes of padding.
struct KivTextMetrics {
  int32_t height = 0;
  int32_t ascent = 0;
  int32_t descent = 0;
  int32_t internalLeading = 0;
  int32_t externalLeading = 0;
  int32_t aveCharWidth = 0;
  int32_t maxCharWidth = 0;
  int32_t weight = 0;
  int32_t overhang = 0;
  int32_t digitizedAspectX = 0;
  int32_t digitizedAspectY = 0;
  uint8_t firstChar = 0, lastChar = 0, defaultChar = 0, breakChar = 0;
  uint8_t italic = 0, underlined = 0, struckOut = 0, pitchAndFamily = 0, charSet = 0;
};
constexpr size_t kKivTextMetricsBytes = 56;

// One glyph ready to plot: black box, origin (y above the baseline),
// advance, and rows of pitch bytes of coverage 0..64 (values above 64 from
// a file count as 64).
struct KivGlyph {
  int width = 0, height = 0;
  int originX = 0, originY = 0;
  int advanceX = 0, advanceY = 0;
  int pitch = 0;
  const uint8_t* bits = nullptr;
};

// ---- Glyph files (glyph_file.cpp) ----

// Index of a character code in the offset table: c below 256 is c; a
// Shift-JIS pair is trail + (signed lead) * 255 + 32640.
uint32_t KivGlyphIndex(uint32_t code);
// The trailer of a glyph file; false when the file is too short to hold
// a trailer and one offset, or its table is malformed.
bool KivGlyphFileMetrics(std::span<const uint8_t> file, KivTextMetrics* out);
// The glyph of index at scale (1: as stored). A glyph the file does not
// hold (index past the offset table, a record or bitmap past the data) or
// an empty one is blank and advances by blankAdvance (scaled records keep
// their own advance). scratch receives scaled bitmaps.
void KivGlyphFileGlyph(std::span<const uint8_t> file, uint32_t index, float scale, int blankAdvance,
                       std::vector<uint8_t>& scratch, KivGlyph* out);

// ---- ExFont atlas (ex_font.cpp) ----

struct KivExFontAtlas {
  std::vector<uint8_t> pixels;  // top row first
  int width = 0, height = 0, cell = 0;
};
// Parses an 8-bit grey TGA atlas: 18-byte head, width x height grey bytes
// bottom-up, 26-byte footer; the file must be exactly width x height + 44
// bytes. False leaves out untouched.
bool KivExFontParse(std::span<const uint8_t> file, KivExFontAtlas* out);
// Cell n scaled to g x g coverage (0..64) into out; false when the cell
// lies outside the atlas.
bool KivExFontCell(const KivExFontAtlas& atlas, int n, int g, std::vector<uint8_t>& out);

// ---- Plotting (glyph_plot.cpp) ----

// Plots a coverage bitmap with its top-left at (x, y) into a width x height
// 32-bit surface (width is the pitch) in colour, with effect 0 plain, 1
// outline or 2 drop shadow in the shadow colour; clipped to the surface.
void KivPlotCoverage(uint32_t* pixels, int width, int height, const KivGlyph& g, int x, int y,
                     uint32_t colour, uint32_t shadow, int effect);
