// The entry points behind font.h, one set per backend.
#pragma once
#include <memory>
#include <string>

#include "platform/font/font.h"

namespace plat {

// A face at one size and style, as a backend renders it.
class FontRenderer {
 public:
  virtual ~FontRenderer() = default;
  virtual const FontMetrics& Metrics() const = 0;
  virtual void Render(uint32_t codepoint, FontGlyph* out) = 0;
  virtual const char* Path() const = 0;
};

// Null when the face's file cannot be found or opened.
std::unique_ptr<FontRenderer> OpenFreeTypeFont(FontFace face, int pixelHeight, bool bold);
std::unique_ptr<FontRenderer> OpenHeadlessFont(int pixelHeight, bool bold);

}  // namespace plat
