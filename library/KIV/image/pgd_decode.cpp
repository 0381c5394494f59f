// Difference images ("PGD2", "PGD3"): a rectangle of a base picture stored as
// the XOR of its new pixels against the old ones, line predicted and LZ
// packed. The 56-byte head names the base image; the sprite loader reads
// that file, and the rectangle is applied to the decoded base.
#include <cstring>

#include "image/decode_util.h"
#include "image/image_decode.h"
#include "platform/core/error.h"

namespace {

constexpr size_t kHeadBytes = 56;
constexpr size_t kNameOffset = 14;
constexpr size_t kNameBytes = 34;

using kivdecode::Fail;
using kivdecode::Overlap;
using kivdecode::Rd16;
using kivdecode::Rd32;

}  // namespace

int KivPgdReadHeader(std::span<const uint8_t> file, KivPgdHeader* out) {
  const uint8_t* p = file.data();
  if (file.size() < kHeadBytes || std::memcmp(p, "PGD", 3) != 0 || (p[3] != '2' && p[3] != '3'))
    return Fail("PGD: not a difference image\n");
  KivPgdHeader h;
  h.x = static_cast<int>(Rd16(p + 4));
  h.y = static_cast<int>(Rd16(p + 6));
  h.w = static_cast<int>(Rd16(p + 8));
  h.h = static_cast<int>(Rd16(p + 10));
  h.bpp = Rd16(p + 12) == 24 ? 24 : 32;
  // The name is opened as a C string: one without its terminator would run
  // on into the size fields.
  if (!std::memchr(p + kNameOffset, 0, kNameBytes)) return Fail("PGD: base image name not terminated\n");
  std::memcpy(h.baseName, p + kNameOffset, kNameBytes);
  h.unpackedSize = Rd32(p + 48);
  *out = h;
  return 1;
}

int KivPgdUnpack(std::span<const uint8_t> file, const KivPgdHeader& head, std::span<uint8_t> work) {
  if (file.size() < kHeadBytes) return Fail("PGD: not a difference image\n");
  const size_t n = head.unpackedSize;
  if (n > work.size() || n > kKivPgdWorkSize) return Fail("PGD: unpacked size too large\n");
  const std::span<uint8_t> dest = work.first(n);
  const std::span<const uint8_t> src = file.subspan(kHeadBytes);
  // The file sits in the same load buffer: a file reaching into the unpack
  // area would be overwritten while it is read.
  if (Overlap(dest, src)) return Fail("PGD: file overlaps the unpack area\n");
  if (!KivGeUnpack(dest, src)) return Fail("PGD: broken LZ data\n");
  return 1;
}

int KivPgdApply(const KivPgdHeader& head, std::span<const uint8_t> unpacked, std::span<uint8_t> scratch,
                std::span<uint32_t> pixels, int width, int height, int pitch, KivLoopVariant v) {
  const int rx = head.x, ry = head.y, rw = head.w, rh = head.h;
  if (rx < 0 || ry < 0 || rw < 0 || rh < 0 || width < 0 || height < 0 || pitch < width)
    return Fail("PGD: bad rectangle\n");
  if (static_cast<int64_t>(rx) + rw > width || static_cast<int64_t>(ry) + rh > height)
    return Fail("PGD: rectangle outside the base image\n");
  if (width > 0 && height > 0 && static_cast<uint64_t>(height - 1) * pitch + width > pixels.size())
    return Fail("PGD: base pixels too small\n");
  if (rw == 0 || rh == 0) return 1;

  const size_t bytesPer = head.bpp == 24 ? 3 : 4;
  const size_t need = static_cast<size_t>(rw) * rh * bytesPer;
  if (need > scratch.size()) return Fail("PGD: scratch area too small\n");
  if (Overlap(scratch.first(need), unpacked)) return Fail("PGD: scratch overlaps the unpacked data\n");

  // Undo the prediction first: a short block fails before any pixel changes.
  uint32_t* row = pixels.data() + static_cast<size_t>(ry) * pitch + rx;
  if (head.bpp == 24) {
    if (!KivPgdLineDecode24(unpacked, rw, rh, scratch.first(need), v)) return 0;
    const uint8_t* s = scratch.data();
    for (int y = 0; y < rh; ++y, row += pitch)
      for (int x = 0; x < rw; ++x, s += 3) row[x] ^= s[0] | (s[1] << 8) | (s[2] << 16);
    return 1;
  }
  if (reinterpret_cast<uintptr_t>(scratch.data()) % alignof(uint32_t))
    return Fail("PGD: scratch area not word aligned\n");
  const std::span<uint32_t> words{reinterpret_cast<uint32_t*>(scratch.data()), need / 4};
  if (!KivPgdLineDecode32(unpacked, rw, rh, words, v)) return 0;
  const uint32_t* s = words.data();
  for (int y = 0; y < rh; ++y, row += pitch, s += rw)
    for (int x = 0; x < rw; ++x) row[x] ^= s[x];
  return 1;
}
