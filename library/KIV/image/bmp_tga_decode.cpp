// The BMP/TGA reader of the software renderer: uncompressed 8-bit (BMP
// colour table, TGA grey), 24-bit and 32-bit pictures into a KivPixelBuffer.
// Anything that does not start with "BM" is taken as a TGA.
#include <bit>
#include <cstring>

#include "image/image_decode.h"
#include "kiv.h"
#include "platform/core/error.h"

namespace {

constexpr char kBroken[] = "err : load memory / bloken?";
constexpr char kIndexed[] = "err : match / tga index color";
constexpr size_t kBmpHeadBytes = 54;  // file head and information head
constexpr size_t kTgaHeadBytes = 18;
constexpr int kPaletteEntries = 256;

uint32_t Rd16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

static_assert(std::endian::native == std::endian::little,
              "32-bit pixels are copied in their stored byte order");

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
  auto fail = [buf](const char* why) {
    if (why) plat::DebugOutput(why);
    KivPixelBufferFree(buf);
    return 0;
  };
  const uint8_t* p = file.data();
  const size_t size = file.size();
  const bool bmp = size >= 2 && p[0] == 'B' && p[1] == 'M';
  int64_t w, h;
  int bpp;
  size_t dataOffset;
  bool topDown = false;
  if (bmp) {
    if (size < kBmpHeadBytes) return fail(kBroken);
    dataOffset = Rd32(p + 10);
    w = static_cast<int32_t>(Rd32(p + 18));
    h = static_cast<int32_t>(Rd32(p + 22));
    bpp = static_cast<int>(Rd16(p + 28));
    // A negative height is a top-down bitmap; it is read in its own order.
    if (h < 0) {
      h = -h;
      topDown = true;
    }
  } else {
    if (size < kTgaHeadBytes) return fail(kBroken);
    if (p[1] == 1) return fail(kIndexed);
    w = Rd16(p + 12);
    h = Rd16(p + 14);
    bpp = p[16];
    dataOffset = kTgaHeadBytes;
  }
  if (bpp != 8 && bpp != 24 && bpp != 32) return fail(kBroken);
  if (w <= 0 || h <= 0 || w * h > 0x1FFFFFFF) return fail(kBroken);

  const size_t bytesPer = static_cast<size_t>(bpp) / 8;
  const size_t rowBytes = static_cast<size_t>(w) * bytesPer;
  const size_t stride = bmp ? (rowBytes + 3) & ~size_t{3} : rowBytes;
  // The last row needs no padding after it.
  const uint64_t end = dataOffset + static_cast<uint64_t>(h - 1) * stride + rowBytes;
  if (dataOffset > size || end > size) return fail(kBroken);

  // The BMP colour table: 4-byte entries from byte 54, as many as the file holds.
  uint32_t palette[kPaletteEntries] = {};
  int paletteSize = 0;
  if (bmp && bpp == 8) {
    const size_t avail = (size - kBmpHeadBytes) / 4;
    paletteSize = avail < kPaletteEntries ? static_cast<int>(avail) : kPaletteEntries;
    for (int i = 0; i < paletteSize; ++i) {
      const uint8_t* e = p + kBmpHeadBytes + i * 4;
      palette[i] = 0xFF000000u | e[2] << 16 | e[1] << 8 | e[0];
    }
  }

  const int width = static_cast<int>(w), height = static_cast<int>(h);
  auto* pixels = static_cast<uint32_t*>(KivMemoryAlloc(width * height * 4, 1));
  if (!pixels) return fail(nullptr);
  buf->pixels = pixels;
  buf->width = width;
  buf->height = height;
  buf->byteSize = width * height * 4;

  for (int r = 0; r < height; ++r) {
    const uint8_t* s = p + dataOffset + static_cast<size_t>(r) * stride;
    uint32_t* o = pixels + static_cast<size_t>(topDown ? r : height - 1 - r) * width;
    switch (bpp) {
      case 8:
        if (bmp) {
          for (int x = 0; x < width; ++x) {
            if (s[x] >= paletteSize) return fail(kBroken);  // entry past the end of the file
            o[x] = palette[s[x]];
          }
        } else {
          for (int x = 0; x < width; ++x) o[x] = 0xFF000000u | s[x] * 0x010101u;
        }
        break;
      case 24:
        for (int x = 0; x < width; ++x, s += 3) o[x] = 0xFF000000u | s[2] << 16 | s[1] << 8 | s[0];
        break;
      default:
        std::memcpy(o, s, rowBytes);
        break;
    }
  }
  return 1;
}
