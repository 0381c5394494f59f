// Writes glyph files (the engine's pre-rendered fonts) from a system face
// rendered by FreeType: an offset table over every character index, one
// record per character (metrics, bitmap size, coverage rows 0..64 padded to
// 4 bytes) and the 56-byte text metrics of the face at the end. Characters
// not asked for share a blank record that advances half or a full cell.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kivtools {

struct GlyphFileOptions {
  int face = 0;       // 0 Gothic, 1 Mincho, 2 proportional Gothic, 3 proportional Mincho
  int size = 24;      // design size: the cell height in pixels
  bool bold = false;
  std::string chars;  // Shift-JIS characters to render; empty: every character of code page 932
};

// Entries in the offset table: indices 0 .. 31872 (lead 0xFC, trail 0xFC).
constexpr uint32_t kGlyphIndexCount = 31873;

std::vector<uint8_t> WriteGlyphFile(const GlyphFileOptions& options);

}  // namespace kivtools
