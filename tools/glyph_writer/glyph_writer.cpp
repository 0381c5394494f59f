#include "glyph_writer.h"

#include <map>

#include "platform/core/byte_io.h"
#include "platform/core/text_encoding.h"
#include "platform/font/font.h"

namespace kivtools {

namespace {

uint32_t IndexOf(uint32_t code) {
  if (code < 256) return code;
  const int lead = static_cast<int8_t>(static_cast<uint8_t>(code >> 8));
  return static_cast<uint32_t>((code & 0xFF) + lead * 255 + 32640);
}

void Record(plat::ByteWriter& w, const plat::FontGlyph& g) {
  w.U32(static_cast<uint32_t>(g.width));
  w.U32(static_cast<uint32_t>(g.height));
  w.I32(g.originX);
  w.I32(g.originY);
  w.U16(static_cast<uint16_t>(g.advanceX));
  w.U16(static_cast<uint16_t>(g.advanceY));
  w.U32(static_cast<uint32_t>(g.coverage.size()));
  w.Bytes(g.coverage.data(), g.coverage.size());
}

}  // namespace

std::vector<uint8_t> WriteGlyphFile(const GlyphFileOptions& o) {
  plat::FontHandle* font = plat::FontOpen(static_cast<plat::FontFace>(o.face & 3), o.size, o.bold);
  if (!font) return {};
  const plat::FontMetrics& m = plat::FontGetMetrics(font);

  // The codes to render, by index.
  std::map<uint32_t, uint32_t> codes;  // index -> code
  if (o.chars.empty()) {
    for (uint32_t c = 0x20; c < 0x7F; ++c) codes[IndexOf(c)] = c;
    for (uint32_t c = 0xA1; c <= 0xDF; ++c) codes[IndexOf(c)] = c;
    for (uint32_t lead = 0x81; lead <= 0xFC; ++lead)
      for (uint32_t trail = 0x40; trail <= 0xFC; ++trail) {
        const uint32_t code = lead << 8 | trail;
        if (plat::IsSjisLead(static_cast<unsigned char>(lead)) && plat::Cp932CodeToUnicode(code))
          codes[IndexOf(code)] = code;
      }
  } else {
    const auto* p = reinterpret_cast<const unsigned char*>(o.chars.c_str());
    while (*p) {
      uint32_t code = *p++;
      if (plat::IsSjisLead(static_cast<unsigned char>(code)) && *p) code = code << 8 | *p++;
      codes[IndexOf(code)] = code;
    }
  }

  plat::ByteWriter body;
  std::vector<uint32_t> offsets(kGlyphIndexCount);
  const uint32_t base = kGlyphIndexCount * 4;
  // The two blank records come first.
  plat::FontGlyph half, full;
  half.advanceX = m.height / 2;
  full.advanceX = m.height;
  const uint32_t halfAt = base;
  Record(body, half);
  const uint32_t fullAt = base + static_cast<uint32_t>(body.bytes().size());
  Record(body, full);
  for (uint32_t i = 0; i < kGlyphIndexCount; ++i) offsets[i] = i < 256 ? halfAt : fullAt;
  for (const auto& [index, code] : codes) {
    if (index >= kGlyphIndexCount) continue;
    offsets[index] = base + static_cast<uint32_t>(body.bytes().size());
    const uint32_t cp = plat::Cp932CodeToUnicode(code);
    Record(body, cp ? plat::FontGetGlyph(font, cp) : (code < 256 ? half : full));
  }

  plat::ByteWriter out;
  for (uint32_t off : offsets) out.U32(off);
  out.Bytes(body.bytes().data(), body.bytes().size());
  // TEXTMETRICA of the face.
  out.I32(m.height);
  out.I32(m.ascent);
  out.I32(m.descent);
  out.I32(0);  // internal leading
  out.I32(0);  // external leading
  out.I32(m.averageWidth);
  out.I32(m.maxWidth);
  out.I32(o.bold ? 700 : 400);
  out.I32(0);   // overhang
  out.I32(96);  // digitized aspect x
  out.I32(96);  // digitized aspect y
  const uint8_t tail[12] = {0x20, 0xFC, 0x1F, 0x20, 0, 0, 0, static_cast<uint8_t>(o.face >= 2 ? 0x31 : 0x30), 128,
                            0, 0, 0};
  out.Bytes(tail, sizeof tail);
  return std::move(out.bytes());
}

}  // namespace kivtools
