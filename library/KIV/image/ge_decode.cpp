// The GE image decoder: the head, then the data block at the head size
// holding {u32 unpacked size, u32 unused, data}. Methods 1 (planes alpha,
// red, green, blue), 2 (YCbCr 4:2:0) and 3 (line prediction) are LZ packed
// and unpacked into the caller's work area; any other method is raw 32-bit
// pixels, row after row.
#include <bit>
#include <cstring>

#include "image/decode_util.h"
#include "image/image_decode.h"
#include "kiv.h"
#include "platform/core/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(std::endian::native == std::endian::little,
              "pixel words are stored in their in-memory byte order");

namespace {

constexpr size_t kHeadBytes = 30;  // the fixed fields up to the method word

using kivdecode::Fail;
using kivdecode::Overlap;
using kivdecode::Rd16;
using kivdecode::Rd32;

// ---- Method 1: planes of n bytes each, pixel i from byte i of every plane.

void PlanarRowPlain(const uint8_t* a, const uint8_t* r, const uint8_t* g, const uint8_t* b, int w,
                    uint32_t* o) {
  for (int x = 0; x < w; ++x)
    o[x] = static_cast<uint32_t>(a[x]) << 24 | r[x] << 16 | g[x] << 8 | b[x];
}

#if defined(__SSE2__)
void PlanarRowSimd(const uint8_t* a, const uint8_t* r, const uint8_t* g, const uint8_t* b, int w,
                   uint32_t* o) {
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    auto ld = [x](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x)); };
    const __m128i va = ld(a), vr = ld(r), vg = ld(g), vb = ld(b);
    const __m128i bgLo = _mm_unpacklo_epi8(vb, vg), bgHi = _mm_unpackhi_epi8(vb, vg);
    const __m128i raLo = _mm_unpacklo_epi8(vr, va), raHi = _mm_unpackhi_epi8(vr, va);
    auto* q = reinterpret_cast<__m128i*>(o + x);
    _mm_storeu_si128(q + 0, _mm_unpacklo_epi16(bgLo, raLo));
    _mm_storeu_si128(q + 1, _mm_unpackhi_epi16(bgLo, raLo));
    _mm_storeu_si128(q + 2, _mm_unpacklo_epi16(bgHi, raHi));
    _mm_storeu_si128(q + 3, _mm_unpackhi_epi16(bgHi, raHi));
  }
  PlanarRowPlain(a + x, r + x, g + x, b + x, w - x, o + x);
}
#endif

void Planar(const uint8_t* planes, size_t n, int w, int h, uint32_t* dest, int pitch, bool simd) {
  const uint8_t* a = planes;
  const uint8_t* r = a + n;
  const uint8_t* g = r + n;
  const uint8_t* b = g + n;
  for (int y = 0; y < h; ++y) {
    const size_t i = static_cast<size_t>(y) * w;
    uint32_t* o = dest + static_cast<size_t>(y) * pitch;
#if defined(__SSE2__)
    if (simd) {
      PlanarRowSimd(a + i, r + i, g + i, b + i, w, o);
      continue;
    }
#endif
    PlanarRowPlain(a + i, r + i, g + i, b + i, w, o);
  }
}

// ---- Method 2: one signed (Cb, Cr) pair per 2 x 2 block of Y.

inline uint32_t Clamp255(int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

inline uint32_t YccPixel(int y, int cb, int cr) {
  const uint32_t r = Clamp255((y * 128 + 179 * cr) >> 7);
  const uint32_t g = Clamp255((y * 128 - 43 * cb - 89 * cr) >> 7);
  const uint32_t b = Clamp255((y * 128 + 226 * cb) >> 7);
  return 0xFF000000u | r << 16 | g << 8 | b;
}

// Blocks [bx0, bw) of one block row.
void YccBlocksPlain(const uint8_t* cb, const uint8_t* cr, const uint8_t* y0, const uint8_t* y1,
                    int bx0, int bw, uint32_t* o0, uint32_t* o1) {
  for (int bx = bx0; bx < bw; ++bx) {
    const int u = static_cast<int8_t>(cb[bx]), v = static_cast<int8_t>(cr[bx]);
    const int x = bx * 2;
    o0[x] = YccPixel(y0[x], u, v);
    o0[x + 1] = YccPixel(y0[x + 1], u, v);
    o1[x] = YccPixel(y1[x], u, v);
    o1[x + 1] = YccPixel(y1[x + 1], u, v);
  }
}

#if defined(__SSE2__)
// Eight pixels of one row from their Y bytes and the four blocks' chroma,
// each chroma value already in two 16-bit lanes. The 32-bit products, the
// arithmetic shift and the saturating packs give exactly the plain clamp.
inline void Ycc8(__m128i y16, __m128i cb16, __m128i cr16, uint32_t* o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i kR = _mm_set1_epi32(179 << 16 | 128);                        // (Y, Cr)
  const __m128i kB = _mm_set1_epi32(226 << 16 | 128);                        // (Y, Cb)
  const __m128i kG = _mm_set1_epi32(static_cast<int>(0xFFA7FFD5u));          // (Cb, Cr) x (-43, -89)
  const __m128i ycrLo = _mm_unpacklo_epi16(y16, cr16), ycrHi = _mm_unpackhi_epi16(y16, cr16);
  const __m128i ycbLo = _mm_unpacklo_epi16(y16, cb16), ycbHi = _mm_unpackhi_epi16(y16, cb16);
  const __m128i ccLo = _mm_unpacklo_epi16(cb16, cr16), ccHi = _mm_unpackhi_epi16(cb16, cr16);
  const __m128i y7Lo = _mm_slli_epi32(_mm_unpacklo_epi16(y16, zero), 7);
  const __m128i y7Hi = _mm_slli_epi32(_mm_unpackhi_epi16(y16, zero), 7);
  auto pack = [](__m128i lo, __m128i hi) {
    const __m128i s = _mm_packs_epi32(_mm_srai_epi32(lo, 7), _mm_srai_epi32(hi, 7));
    return _mm_packus_epi16(s, s);
  };
  const __m128i r = pack(_mm_madd_epi16(ycrLo, kR), _mm_madd_epi16(ycrHi, kR));
  const __m128i b = pack(_mm_madd_epi16(ycbLo, kB), _mm_madd_epi16(ycbHi, kB));
  const __m128i g = pack(_mm_add_epi32(_mm_madd_epi16(ccLo, kG), y7Lo),
                         _mm_add_epi32(_mm_madd_epi16(ccHi, kG), y7Hi));
  const __m128i bg = _mm_unpacklo_epi8(b, g);
  const __m128i ra = _mm_unpacklo_epi8(r, _mm_set1_epi8(static_cast<char>(0xFF)));
  auto* q = reinterpret_cast<__m128i*>(o);
  _mm_storeu_si128(q, _mm_unpacklo_epi16(bg, ra));
  _mm_storeu_si128(q + 1, _mm_unpackhi_epi16(bg, ra));
}

inline __m128i Chroma16(const uint8_t* p) {
  int32_t four;
  std::memcpy(&four, p, 4);
  __m128i c = _mm_cvtsi32_si128(four);
  c = _mm_unpacklo_epi8(c, c);  // bytes c0 c0 c1 c1 c2 c2 c3 c3
  c = _mm_unpacklo_epi8(c, c);  // each byte four times
  return _mm_srai_epi16(c, 8);  // 16-bit lanes c0 c0 c1 c1 c2 c2 c3 c3, sign-extended
}

void YccBlocksSimd(const uint8_t* cb, const uint8_t* cr, const uint8_t* y0, const uint8_t* y1, int bw,
                   uint32_t* o0, uint32_t* o1) {
  const __m128i zero = _mm_setzero_si128();
  int bx = 0;
  for (; bx + 4 <= bw; bx += 4) {
    const __m128i u = Chroma16(cb + bx), v = Chroma16(cr + bx);
    const int x = bx * 2;
    Ycc8(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y0 + x)), zero), u, v, o0 + x);
    Ycc8(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y1 + x)), zero), u, v, o1 + x);
  }
  YccBlocksPlain(cb, cr, y0, y1, bx, bw, o0, o1);
}
#endif

size_t YccPlaneBytes(int w, int h) { return static_cast<size_t>(w) * h / 4; }

bool DestFits(std::span<uint32_t> dest, int w, int h, int pitch) {
  if (w <= 0 || h <= 0) return true;
  if (pitch < w) return false;
  return static_cast<uint64_t>(h - 1) * pitch + w <= dest.size();
}

}  // namespace

int KivGeReadHeader(std::span<const uint8_t> file, KivGeHeader* out) {
  const uint8_t* p = file.data();
  if (file.size() < kHeadBytes || p[0] != 'G' || p[1] != 'E') return Fail("GE: not a GE image\n");
  KivGeHeader h;
  h.headSize = static_cast<int>(Rd16(p + 2));
  h.x = static_cast<int32_t>(Rd32(p + 4));
  h.y = static_cast<int32_t>(Rd32(p + 8));
  const uint32_t w = Rd32(p + 12), ht = Rd32(p + 16);
  h.cellWidth = static_cast<int32_t>(Rd32(p + 20));
  h.cellHeight = static_cast<int32_t>(Rd32(p + 24));
  h.method = static_cast<int>(Rd16(p + 28));
  // Sizes whose pixel count times 4 does not fit an int cannot be surfaces.
  if (w == 0 || ht == 0 || static_cast<uint64_t>(w) * ht > 0x1FFFFFFFu)
    return Fail("GE: bad image size\n");
  h.width = static_cast<int>(w);
  h.height = static_cast<int>(ht);
  if (static_cast<size_t>(h.headSize) + 8 > file.size()) return Fail("GE: data block outside the file\n");
  h.unpackedSize = Rd32(p + h.headSize);
  // The surface is made from these sizes before the pixels are decoded:
  // a size past the limit, or one the data could never fill, is refused
  // here so that a few lying bytes cannot make a huge picture.
  if (!KivImageSizeAllowed(w, ht)) return Fail("GE: image over the size limit\n");
  const uint64_t pixels = static_cast<uint64_t>(w) * ht;
  const uint64_t n = h.unpackedSize;
  bool fills;
  switch (h.method) {
    case 1: fills = n <= kKivGeWorkSize && n / 4 >= pixels; break;
    case 2: fills = n <= kKivGeWorkSize && n >= 2 * YccPlaneBytes(h.width, h.height) + pixels; break;
    // Line prediction: at least three bytes a pixel after the block head.
    case 3: fills = n <= kKivGeWorkSize && n >= 8 + 3 * pixels; break;
    default: fills = file.size() - (static_cast<size_t>(h.headSize) + 8) >= pixels * 4; break;
  }
  if (!fills) return Fail("GE: data cannot fill the image\n");
  *out = h;
  return 1;
}

int KivGeYCbCrToPixels(std::span<const uint8_t> planes, int width, int height, std::span<uint32_t> dest,
                       int pitch, KivLoopVariant v) {
  if (width < 0 || height < 0) return Fail("GE: bad image size\n");
  const size_t q = YccPlaneBytes(width, height);
  if (planes.size() < 2 * q + static_cast<size_t>(width) * height) return Fail("GE: YCbCr planes too short\n");
  if (!DestFits(dest, width, height, pitch)) return Fail("GE: destination too small\n");
  const uint8_t* cb = planes.data();
  const uint8_t* cr = cb + q;
  const uint8_t* ys = cr + q;
  const int bw = width / 2, bh = height / 2;
  const bool simd = KivUseSimd(v);
  for (int by = 0; by < bh; ++by) {
    const uint8_t* y0 = ys + static_cast<size_t>(by) * 2 * width;
    const uint8_t* y1 = y0 + width;
    uint32_t* o0 = dest.data() + static_cast<size_t>(by) * 2 * pitch;
    uint32_t* o1 = o0 + pitch;
    const size_t c = static_cast<size_t>(by) * bw;
#if defined(__SSE2__)
    if (simd) {
      YccBlocksSimd(cb + c, cr + c, y0, y1, bw, o0, o1);
      continue;
    }
#endif
    (void)simd;
    YccBlocksPlain(cb + c, cr + c, y0, y1, 0, bw, o0, o1);
  }
  return 1;
}

namespace {

// The checks that need no unpacking: the raw pixels are in the file, the
// unpacked size fits the work area and is enough for the method.
int CheckData(const KivGeHeader& h, std::span<const uint8_t> file, size_t workSize) {
  const size_t pixels = static_cast<size_t>(h.width) * h.height;
  const size_t dataSize = file.size() - (static_cast<size_t>(h.headSize) + 8);
  if (h.method < 1 || h.method > 3) {
    if (dataSize < pixels * 4) return Fail("GE: raw pixels past the end of the file\n");
    return 1;
  }
  const size_t n = h.unpackedSize;
  if (n > workSize || n > kKivGeWorkSize) return Fail("GE: unpacked size too large\n");
  if (h.method == 1 && n / 4 < pixels) return Fail("GE: planes smaller than the image\n");
  if (h.method == 2 && n < 2 * YccPlaneBytes(h.width, h.height) + pixels)
    return Fail("GE: YCbCr planes too short\n");
  if (h.method == 3 && n < 8) return Fail("GE: line block too short\n");
  return 1;
}

}  // namespace

int KivGeDecode(std::span<const uint8_t> file, std::span<uint32_t> dest, int pitch,
                std::span<uint8_t> work, KivLoopVariant v) {
  KivGeHeader h;
  if (!KivGeReadHeader(file, &h)) return 0;
  const int w = h.width, ht = h.height;
  if (!DestFits(dest, w, ht, pitch)) return Fail("GE: destination too small\n");
  if (!CheckData(h, file, work.size())) return 0;
  const std::span<const uint8_t> data = file.subspan(static_cast<size_t>(h.headSize) + 8);

  if (h.method < 1 || h.method > 3) {
    for (int y = 0; y < ht; ++y)
      std::memcpy(dest.data() + static_cast<size_t>(y) * pitch, data.data() + static_cast<size_t>(y) * w * 4,
                  static_cast<size_t>(w) * 4);
    return 1;
  }

  const size_t n = h.unpackedSize;
  const std::span<uint8_t> unpacked = work.first(n);
  if (Overlap(unpacked, file)) return Fail("GE: work area overlaps the file\n");
  if (!KivGeUnpack(unpacked, data)) return Fail("GE: broken LZ data\n");

  switch (h.method) {
    case 1:
      Planar(unpacked.data(), n / 4, w, ht, dest.data(), pitch, KivUseSimd(v));
      return 1;
    case 2:
      return KivGeYCbCrToPixels(unpacked, w, ht, dest, pitch, v);
    default: {
      const uint8_t* b = unpacked.data();
      const int bpp = Rd16(b + 2) == 24 ? 24 : 32;
      const int bw = static_cast<int>(Rd16(b + 4)), bh = static_cast<int>(Rd16(b + 6));
      // The rows go into the image's own destination: a block larger than
      // the image would run past it.
      if (bw > w || bh > ht) return Fail("GE: line block larger than the image\n");
      const std::span<const uint8_t> lines = unpacked.subspan(8);
      return bpp == 24 ? KivGeLineDecode24(lines, bw, bh, dest, pitch, v)
                       : KivGeLineDecode32(lines, bw, bh, dest, pitch, v);
    }
  }
}

KivPixelBuffer* KivGeDecodeToBuffer(std::span<const uint8_t> file, std::span<uint8_t> work) {
  KivGeHeader h;
  if (!KivGeReadHeader(file, &h) || !CheckData(h, file, work.size())) return nullptr;
  KivPixelBuffer* buf = KivPixelBufferCreate();
  if (!buf) return nullptr;
  const int bytes = h.width * h.height * 4;  // fits: KivGeReadHeader bounds the pixel count
  buf->pixels = static_cast<uint32_t*>(KivMemoryAlloc(bytes, 1));
  if (!buf->pixels) {
    KivPixelBufferFree(buf);
    return nullptr;
  }
  buf->width = h.width;
  buf->height = h.height;
  buf->byteSize = bytes;
  if (!KivGeDecode(file, {buf->pixels, static_cast<size_t>(h.width) * h.height}, h.width, work)) {
    KivPixelBufferFree(buf);
    return nullptr;
  }
  return buf;
}
