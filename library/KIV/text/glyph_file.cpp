// Glyph files: pre-rendered coverage bitmaps of a font, one record per
// character index, found through an offset table at the start of the file
// and followed by the font's text metrics. The table's length is where the
// first record begins (its first entry); every index, offset and bitmap
// size is checked against the table and the data before it is used, and a
// glyph that cannot be read is blank but still advances.
#include <algorithm>
#include <cmath>

#include "platform/core/byte_io.h"
#include "render/pixel_routines.h"
#include "text/font.h"

namespace {

constexpr size_t kRecordHead = 24;  // GLYPHMETRICS (20 bytes) + bitmap size
constexpr int kMaxSide = 4096;
constexpr int32_t kMaxOrigin = 1 << 16;  // farther origins are no glyph's
constexpr size_t kMaxScaledBytes = 16u << 20;

// The number of table entries, 0 when the table is malformed.
size_t TableEntries(std::span<const uint8_t> file) {
  if (file.size() < kKivTextMetricsBytes + 4) return 0;
  plat::ByteReader r(file);
  const uint32_t first = r.U32();
  const size_t dataEnd = file.size() - kKivTextMetricsBytes;
  if (first < 4 || first > dataEnd) return 0;
  return first / 4;
}

void Blank(KivGlyph* out, int advance) {
  *out = KivGlyph{};
  out->advanceX = advance;
}

}  // namespace

uint32_t KivGlyphIndex(uint32_t code) {
  if (code < 256) return code;
  const int lead = static_cast<int8_t>(static_cast<uint8_t>(code >> 8));
  return static_cast<uint32_t>((code & 0xFF) + lead * 255 + 32640);
}

bool KivGlyphFileMetrics(std::span<const uint8_t> file, KivTextMetrics* out) {
  if (TableEntries(file) == 0) return false;
  plat::ByteReader r(file.subspan(file.size() - kKivTextMetricsBytes));
  KivTextMetrics m;
  m.height = r.I32();
  m.ascent = r.I32();
  m.descent = r.I32();
  m.internalLeading = r.I32();
  m.externalLeading = r.I32();
  m.aveCharWidth = r.I32();
  m.maxCharWidth = r.I32();
  m.weight = r.I32();
  m.overhang = r.I32();
  m.digitizedAspectX = r.I32();
  m.digitizedAspectY = r.I32();
  m.firstChar = r.U8();
  m.lastChar = r.U8();
  m.defaultChar = r.U8();
  m.breakChar = r.U8();
  m.italic = r.U8();
  m.underlined = r.U8();
  m.struckOut = r.U8();
  m.pitchAndFamily = r.U8();
  m.charSet = r.U8();
  if (!r.ok() || m.height <= 0 || m.height > kMaxSide) return false;
  *out = m;
  return true;
}

void KivGlyphFileGlyph(std::span<const uint8_t> file, uint32_t index, float scale, int blankAdvance,
                       std::vector<uint8_t>& scratch, KivGlyph* out) {
  Blank(out, blankAdvance);
  const size_t entries = TableEntries(file);
  if (index >= entries) return;
  const std::span<const uint8_t> data = file.first(file.size() - kKivTextMetricsBytes);
  plat::ByteReader table(data);
  table.Seek(static_cast<size_t>(index) * 4);
  const uint32_t offset = table.U32();
  if (!table.ok() || offset < entries * 4 || offset > data.size() || data.size() - offset < kRecordHead) return;
  plat::ByteReader r(data.subspan(offset));
  const uint32_t bw = r.U32(), bh = r.U32();
  const int32_t ox = r.I32(), oy = r.I32();
  const int16_t ax = static_cast<int16_t>(r.U16()), ay = static_cast<int16_t>(r.U16());
  const uint32_t bytes = r.U32();
  if (!r.ok()) return;
  const bool isScaled = scale != 1.0f;
  // Scaled values are truncated; scales come from sizes up to 4096, so
  // the results stay far inside int once the origins are bounded below.
  auto sc = [&](int v) {
    if (!isScaled) return v;
    const float f = static_cast<float>(v) * scale;
    return f >= 1e8f ? 100000000 : f <= -1e8f ? -100000000 : static_cast<int>(f);
  };
  out->advanceX = sc(ax);
  out->advanceY = sc(ay);
  if (bw == 0 || bh == 0 || bw > kMaxSide || bh > kMaxSide) return;  // blank, keeps its advance
  if (ox < -kMaxOrigin || ox > kMaxOrigin || oy < -kMaxOrigin || oy > kMaxOrigin) return;
  const uint32_t pitch = (bw + 3) & ~3u;
  if (bytes > r.left() || bytes < pitch * bh) return;
  const uint8_t* bits = data.data() + offset + kRecordHead;
  if (!isScaled) {
    out->width = static_cast<int>(bw);
    out->height = static_cast<int>(bh);
    out->originX = ox;
    out->originY = oy;
    out->pitch = static_cast<int>(pitch);
    out->bits = bits;
    return;
  }
  // Scaled: the source pitch comes from the bitmap size, the new pitch is
  // also the new black-box width, and the advance covers at least that.
  const int srcPitch = static_cast<int>((bytes / bh) & ~3u);
  const double w = static_cast<double>(static_cast<float>(srcPitch) * scale);
  const double h = static_cast<double>(static_cast<float>(bh) * scale);
  if (srcPitch <= 0 || srcPitch > 4 * kMaxSide || !(w >= 1.0 && h >= 1.0) || w * h > kMaxScaledBytes) return;
  const int newPitch = (static_cast<int>(w) + 3) & ~3;
  const int newHeight = static_cast<int>(h);
  scratch.assign(static_cast<size_t>(newPitch) * newHeight, 0);
  KivPixelScaleGrey(bits, srcPitch, static_cast<int>(bh), srcPitch, scale, scratch.data(), newPitch, newHeight,
                    newPitch);
  out->width = newPitch;
  out->height = newHeight;
  out->originX = sc(ox);
  out->originY = sc(oy);
  out->pitch = newPitch;
  out->bits = scratch.data();
  out->advanceX = std::max(out->advanceX, newPitch);
}
