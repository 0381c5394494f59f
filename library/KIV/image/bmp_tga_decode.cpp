// The BMP/TGA reader both renderers share (the GPU loader and transition
// masks decode through it too) into a KivPixelBuffer of 32-bit ARGB words.
// BMP: every information-head size (12, 40, 52, 56, 108, 124 bytes) with the
// colour table right after it; 1/4/8-bit indexed, 16/24/32-bit, BI_RLE8 and
// BI_RLE4, BI_BITFIELDS masks; bottom-up or top-down rows. TGA: image ID
// skipped, uncompressed and RLE (types 2/3/10/11), 8-bit grey, 16-bit
// 5-5-5-1, 24 and 32 bits, the origin bits honoured. Anything that does
// not start with "BM" is taken as a TGA. What cannot be read is refused
// with a line on the debugger output saying why.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/image_decode.h"
#include "kiv.h"
#include "platform/core/error.h"

namespace {

constexpr char kBroken[] = "err : load memory / bloken?";
constexpr char kIndexed[] = "err : match / tga index color";
constexpr size_t kFileHeadBytes = 14;
constexpr size_t kTgaHeadBytes = 18;

uint32_t Rd16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A channel of a packed pixel under its mask, scaled to 8 bits.
struct Mask {
  uint32_t mask = 0;
  int shift = 0, bits = 0;
  explicit Mask(uint32_t m = 0) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    bits = std::popcount(m >> shift);
    if (bits > 8) {  // keep the top eight bits
      shift += bits - 8;
      bits = 8;
      mask = (0xFFu << shift);
    }
  }
  // Narrow channels widen by repeating their bits (5 bits: c << 3 | c >> 2),
  // so the largest value is 255.
  uint32_t Get(uint32_t v) const {
    if (!bits) return 0;
    uint32_t c = ((v & mask) >> shift) << (8 - bits);
    for (int k = bits; k < 8; k += bits) c |= c >> bits;
    return c & 0xFF;
  }
};

// Rows come in file order; `Row(i)` is where file row i goes.
struct Out {
  uint32_t* pixels;
  int width, height;
  bool topDown, rightToLeft = false;
  uint32_t* Row(int i) const { return pixels + static_cast<size_t>(topDown ? i : height - 1 - i) * width; }
  void Put(int row, int x, uint32_t v) const { Row(row)[rightToLeft ? width - 1 - x : x] = v; }
};

thread_local char g_why[96];
const char* Why(const char* fmt, int a, int b = 0) {
  std::snprintf(g_why, sizeof g_why, fmt, a, b);
  return g_why;
}

// Decodes BI_RLE8 (nibbles false) or BI_RLE4 into palette indexes; pixels
// the stream skips keep index 0. False when the stream runs out of the
// file, or writes past the picture.
bool DecodeBmpRle(const uint8_t* s, size_t n, bool nibbles, int width, int height, std::vector<uint8_t>* idx) {
  idx->assign(static_cast<size_t>(width) * height, 0);
  size_t i = 0;
  int x = 0, y = 0;
  // Pixels past the right edge are dropped: some writers encode the row's
  // padding too.
  auto put = [&](uint8_t v) {
    if (y >= height) return false;
    if (x < width) (*idx)[static_cast<size_t>(y) * width + x] = v;
    ++x;
    return true;
  };
  while (i + 2 <= n) {
    const uint8_t a = s[i], b = s[i + 1];
    i += 2;
    if (a > 0) {  // a run of `a` pixels
      for (int k = 0; k < a; ++k)
        if (!put(nibbles ? (k & 1 ? b & 15 : b >> 4) : b)) return false;
      continue;
    }
    if (b == 0) {  // end of line
      x = 0;
      ++y;
    } else if (b == 1) {  // end of bitmap
      return true;
    } else if (b == 2) {  // delta
      if (i + 2 > n) return false;
      x += s[i];
      y += s[i + 1];
      i += 2;
      if (y > height) return false;
    } else {  // `b` literal pixels, padded to a 16-bit boundary
      const size_t bytes = nibbles ? (b + 1) / 2 : b;
      if (i + bytes > n) return false;
      for (int k = 0; k < b; ++k)
        if (!put(nibbles ? (k & 1 ? s[i + k / 2] & 15 : s[i + k / 2] >> 4) : s[i + k])) return false;
      i += bytes + (bytes & 1);
    }
    if (y >= height) return true;  // past the last row: nothing more to draw
  }
  return false;  // no end-of-bitmap mark
}

// The allocated buffer of a picture whose size passed the limits.
uint32_t* Allocate(KivPixelBuffer* buf, int width, int height) {
  auto* pixels = static_cast<uint32_t*>(KivMemoryAlloc(width * height * 4, 1));
  if (!pixels) return nullptr;
  buf->pixels = pixels;
  buf->width = width;
  buf->height = height;
  buf->byteSize = width * height * 4;
  return pixels;
}

const char* DecodeBmp(const uint8_t* p, size_t size, KivPixelBuffer* buf) {
  if (size < kFileHeadBytes + 4) return kBroken;
  const uint32_t headSize = Rd32(p + 14);
  const bool core = headSize == 12;
  if (!core && headSize < 40) return Why("err : bmp information head of %d bytes", static_cast<int>(headSize));
  if (headSize > size - kFileHeadBytes) return kBroken;
  const size_t dataOffset = Rd32(p + 10);
  int64_t w, h;
  int bpp;
  uint32_t compression = 0, colours = 0;
  if (core) {
    w = Rd16(p + 18);
    h = Rd16(p + 20);
    bpp = static_cast<int>(Rd16(p + 24));
  } else {
    w = static_cast<int32_t>(Rd32(p + 18));
    h = static_cast<int32_t>(Rd32(p + 22));
    bpp = static_cast<int>(Rd16(p + 28));
    compression = Rd32(p + 30);
    colours = Rd32(p + 46);
  }
  // A negative height is a top-down bitmap; it is read in its own order.
  bool topDown = false;
  if (h < 0) {
    h = -h;
    topDown = true;
  }
  if (w <= 0 || h <= 0) return kBroken;
  if (!KivImageSizeAllowed(w, h))
    return Why("err : image %d x %d over the size limit", static_cast<int>(std::min<int64_t>(w, INT32_MAX)),
               static_cast<int>(std::min<int64_t>(h, INT32_MAX)));
  // Masks: inside the head from 52 bytes on, else (BI_BITFIELDS with a
  // 40-byte head) the 12 or 16 bytes after it, before the colour table.
  size_t tableAt = kFileHeadBytes + headSize;
  uint32_t rm = 0, gm = 0, bm = 0, am = 0;
  const bool fields = compression == 3 || compression == 6;
  if (compression == 1 && bpp != 8) return Why("err : bmp RLE8 with %d bits", bpp);
  if (compression == 2 && bpp != 4) return Why("err : bmp RLE4 with %d bits", bpp);
  if (compression > 3 && compression != 6) return Why("err : bmp compression %d not supported", static_cast<int>(compression));
  if (fields) {
    if (bpp != 16 && bpp != 32) return Why("err : bmp bit fields with %d bits", bpp);
    const size_t at = headSize >= 52 ? kFileHeadBytes + 40 : kFileHeadBytes + headSize;
    const size_t count = compression == 6 || headSize >= 56 ? 4 : 3;
    if (at + 4 * count > size) return kBroken;
    rm = Rd32(p + at);
    gm = Rd32(p + at + 4);
    bm = Rd32(p + at + 8);
    if (count == 4) am = Rd32(p + at + 12);
    if (headSize < 52) tableAt += 4 * count;
  } else if (bpp == 16) {
    rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return Why("err : bmp %d bits per pixel not supported", bpp);

  // The colour table, right after the head (and masks): as many entries as
  // the head names (all 2^bpp when 0), cut to what the file holds.
  uint32_t palette[256] = {};
  int paletteSize = 0;
  if (bpp <= 8) {
    const size_t entry = core ? 3 : 4;
    size_t want = colours && colours < (1u << bpp) ? colours : (1u << bpp);
    const size_t tableEnd = dataOffset > tableAt && dataOffset <= size ? dataOffset : size;
    if (tableAt < tableEnd && (tableEnd - tableAt) / entry < want) want = (tableEnd - tableAt) / entry;
    if (tableAt >= tableEnd) want = 0;
    paletteSize = static_cast<int>(want);
    for (int i = 0; i < paletteSize; ++i) {
      const uint8_t* e = p + tableAt + i * entry;
      palette[i] = 0xFF000000u | e[2] << 16 | e[1] << 8 | e[0];
    }
  }
  if (dataOffset > size) return kBroken;
  const int width = static_cast<int>(w), height = static_cast<int>(h);
  const uint8_t* data = p + dataOffset;
  const size_t dataBytes = size - dataOffset;

  std::vector<uint8_t> rle;
  if (compression == 1 || compression == 2) {
    // Each two bytes end at most one row (or skip at most 255 with a delta
    // of four): a height the stream cannot reach is refused unallocated.
    if (static_cast<uint64_t>(height) > 255 * (dataBytes / 2 + 1)) return kBroken;
    if (!DecodeBmpRle(data, dataBytes, compression == 2, width, height, &rle)) return kBroken;
  } else {
    const size_t rowBytes = (static_cast<size_t>(width) * bpp + 7) / 8;
    const size_t stride = (rowBytes + 3) & ~size_t{3};
    // The last row needs no padding after it.
    if (static_cast<uint64_t>(height - 1) * stride + rowBytes > dataBytes) return kBroken;
  }
  uint32_t* pixels = Allocate(buf, width, height);
  if (!pixels) return "";
  const Out out{pixels, width, height, topDown};
  const Mask R(rm), G(gm), B(bm), A(am);
  const size_t rowBytes = (static_cast<size_t>(width) * bpp + 7) / 8;
  const size_t stride = (rowBytes + 3) & ~size_t{3};
  for (int r = 0; r < height; ++r) {
    uint32_t* o = out.Row(r);
    if (!rle.empty()) {
      // RLE rows are bottom-up like the others.
      const uint8_t* s = rle.data() + static_cast<size_t>(r) * width;
      for (int x = 0; x < width; ++x) {
        if (s[x] >= paletteSize) return kBroken;
        o[x] = palette[s[x]];
      }
      continue;
    }
    const uint8_t* s = data + static_cast<size_t>(r) * stride;
    switch (bpp) {
      case 1:
      case 4:
      case 8:
        for (int x = 0; x < width; ++x) {
          const size_t bit = static_cast<size_t>(x) * bpp;
          const int v = (s[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
          if (v >= paletteSize) return kBroken;  // entry past the end of the table
          o[x] = palette[v];
        }
        break;
      case 16:
        for (int x = 0; x < width; ++x) {
          const uint32_t v = Rd16(s + 2 * x);
          o[x] = (am ? A.Get(v) : 0xFFu) << 24 | R.Get(v) << 16 | G.Get(v) << 8 | B.Get(v);
        }
        break;
      case 24:
        for (int x = 0; x < width; ++x, s += 3) o[x] = 0xFF000000u | s[2] << 16 | s[1] << 8 | s[0];
        break;
      default:
        if (!fields) {
          // Stored B G R and a fourth byte: taken as alpha, as it always was.
          std::memcpy(o, s, static_cast<size_t>(width) * 4);
        } else {
          for (int x = 0; x < width; ++x) {
            const uint32_t v = Rd32(s + 4 * x);
            o[x] = (am ? A.Get(v) : 0xFFu) << 24 | R.Get(v) << 16 | G.Get(v) << 8 | B.Get(v);
          }
        }
        break;
    }
  }
  return nullptr;
}

// One TGA pixel of `bpp` bits as ARGB.
uint32_t TgaPixel(const uint8_t* s, int bpp, bool alphaBit) {
  switch (bpp) {
    case 8: return 0xFF000000u | s[0] * 0x010101u;
    case 16: {
      const uint32_t v = Rd16(s);
      auto five = [](uint32_t c) { return (c << 3) | (c >> 2); };
      const uint32_t a = alphaBit ? (v & 0x8000 ? 0xFFu : 0u) : 0xFFu;
      return a << 24 | five((v >> 10) & 31) << 16 | five((v >> 5) & 31) << 8 | five(v & 31);
    }
    case 24: return 0xFF000000u | s[2] << 16 | s[1] << 8 | s[0];
    default: return Rd32(s);
  }
}

const char* DecodeTga(const uint8_t* p, size_t size, KivPixelBuffer* buf) {
  if (size < kTgaHeadBytes) return kBroken;
  if (p[1] == 1) return kIndexed;
  const int type = p[2];
  const bool rle = type >= 9;
  if (type != 2 && type != 3 && type != 10 && type != 11 && !(type == 0 && p[16] != 0))
    return Why("err : tga image type %d not supported", type);
  // The colour map (only its size matters without a colour-mapped image).
  const size_t mapBytes = p[1] ? Rd16(p + 5) * ((p[7] + 7) / 8) : 0;
  const int w = static_cast<int>(Rd16(p + 12)), h = static_cast<int>(Rd16(p + 14));
  const int bpp = p[16];
  const uint8_t descriptor = p[17];
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return bpp == 15 ? Why("err : tga %d bits per pixel not supported", bpp) : kBroken;
  if (w <= 0 || h <= 0) return kBroken;
  if (!KivImageSizeAllowed(w, h)) return Why("err : image %d x %d over the size limit", w, h);
  const size_t dataOffset = kTgaHeadBytes + p[0] + mapBytes;
  if (dataOffset > size) return kBroken;
  const uint8_t* s = p + dataOffset;
  const size_t n = size - dataOffset;
  const size_t bytesPer = static_cast<size_t>(bpp) / 8;
  const size_t count = static_cast<size_t>(w) * h;
  // A run packet gives at most 128 pixels for 1 + bytesPer bytes: a file
  // too short to hold them all is refused before anything is allocated.
  if (rle ? (n / (1 + bytesPer) + 1) * 128 < count : count * bytesPer > n) return kBroken;
  uint32_t* pixels = Allocate(buf, w, h);
  if (!pixels) return "";
  Out out{pixels, w, h, (descriptor & 0x20) != 0};
  out.rightToLeft = (descriptor & 0x10) != 0;
  const bool alphaBit = (descriptor & 15) != 0;
  size_t i = 0, at = 0;
  while (at < count) {
    size_t run = 1;
    bool repeat = false;
    if (rle) {
      if (i >= n) return kBroken;
      run = (s[i] & 0x7F) + 1u;
      repeat = (s[i] & 0x80) != 0;
      ++i;
      if (run > count - at) run = count - at;  // a packet may not cross the end
    }
    for (size_t k = 0; k < run; ++k) {
      if (i + bytesPer > n) return kBroken;
      out.Put(static_cast<int>(at / w), static_cast<int>(at % w), TgaPixel(s + i, bpp, alphaBit && bpp == 16));
      if (!repeat) i += bytesPer;
      ++at;
    }
    if (repeat) i += bytesPer;
  }
  return nullptr;
}

}  // namespace

static_assert(std::endian::native == std::endian::little,
              "32-bit pixels are copied in their stored byte order");

bool KivImageSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kKivImageMaxSide && height <= kKivImageMaxSide &&
         width * height <= kKivImageMaxPixels;
}

KivPixelBuffer* KivPixelBufferCreate(void) {
  return static_cast<KivPixelBuffer*>(KivMemoryAlloc(sizeof(KivPixelBuffer), 1));
}

KivPixelBuffer* KivPixelBufferAlloc(int w, int h) {
  if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > INT32_MAX / 4) return nullptr;
  KivPixelBuffer* b = KivPixelBufferCreate();
  if (!b) return nullptr;
  b->pixels = static_cast<uint32_t*>(KivMemoryAlloc(w * h * 4, 1));
  if (!b->pixels) {
    KivPixelBufferFree(b);
    return nullptr;
  }
  b->width = w;
  b->height = h;
  b->byteSize = w * h * 4;
  return b;
}

void KivPixelBufferFree(KivPixelBuffer* buffer) {
  if (!buffer) return;
  KivMemoryFree(buffer->pixels);
  KivMemoryFree(buffer);
}

int KivBmpTgaDecode(std::span<const uint8_t> file, KivPixelBuffer* buf) {
  if (!buf) return 0;
  const uint8_t* p = file.data();
  const size_t size = file.size();
  const bool bmp = size >= 2 && p[0] == 'B' && p[1] == 'M';
  const char* why = bmp ? DecodeBmp(p, size, buf) : DecodeTga(p, size, buf);
  if (!why) return 1;
  if (*why) plat::DebugOutput(why);
  KivPixelBufferFree(buf);
  return 0;
}

bool KivBmpTgaSize(std::span<const uint8_t> file, int* width, int* height) {
  const uint8_t* p = file.data();
  const size_t size = file.size();
  int64_t w = 0, h = 0;
  if (size >= 2 && p[0] == 'B' && p[1] == 'M') {
    if (size < 26) return false;
    if (Rd32(p + 14) == 12) {
      w = Rd16(p + 18);
      h = Rd16(p + 20);
    } else {
      w = static_cast<int32_t>(Rd32(p + 18));
      h = static_cast<int32_t>(Rd32(p + 22));
      if (h < 0) h = -h;
    }
  } else {
    if (size < kTgaHeadBytes) return false;
    w = Rd16(p + 12);
    h = Rd16(p + 14);
  }
  if (!KivImageSizeAllowed(w, h)) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}
