// Sprite options and copies: KivSpriteSetOption with its saved copy of the
// pixels, KivSpriteSetBuffer, the back-buffer copy, sprite-to-sprite alpha
// mix and whole-pixel copy, and the file-to-sprite blend. The pixel work is
// the shared loops of pixel_routines; this file finds the pixels, clips,
// allocates and keeps the sprite's locked flag set while it writes.
#include <algorithm>
#include <cstring>

#include "core/fault_inject.h"
#include "render/pixel_routines.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"
#include "render/last_frame.h"
#include "sprite/sprite.h"

namespace {

constexpr uint32_t kErrorAccessDenied = 5;

template <typename T>
T Fail(T value, uint32_t code = plat::kErrorInvalidHandle) {
  plat::SetLastError(code);
  return value;
}

void* Alloc(size_t bytes) {
  if (KivFaultHit(KivFault::kPixelWork) || bytes > static_cast<size_t>(INT32_MAX)) return nullptr;
  return KivMemoryAlloc(static_cast<int>(bytes), 0);
}

// A block from Alloc or KivMemoryAlloc, freed when it goes.
struct Block {
  void* p = nullptr;
  explicit Block(void* block) : p(block) {}
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { KivMemoryFree(p); }
  uint32_t* words() const { return static_cast<uint32_t*>(p); }
};

// The sprite's pixels for reading: rows width apart, as the renderer holds
// them in CPU memory (read only: the surface is not marked changed).
const uint32_t* PixelsOf(const KivSprite* s, int* w, int* h) {
  if (!s || !s->surface || !KivSpriteSoftScreen()) return nullptr;
  return KivSoftSurfaceReadPixels(static_cast<const KivSoftSurface*>(s->surface), w, h);
}

// The sprite's pixels for writing, with its locked flag set until the
// writer goes (so the draw callback waits meanwhile).
class Writer {
 public:
  explicit Writer(KivSprite* s) : s_(s) { px_ = KivSpriteLock(s, &w_, &h_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  ~Writer() {
    if (px_) KivSpriteUnlock(s_);
  }
  explicit operator bool() const { return px_ != nullptr; }
  uint32_t* px() const { return px_; }
  int w() const { return w_; }
  int h() const { return h_; }

 private:
  KivSprite* s_;
  uint32_t* px_ = nullptr;
  int w_ = 0, h_ = 0;
};

bool IsBlur(unsigned option) { return (option & 0xFF) == 5 && (option >> 8) >= 1 && (option >> 8) <= 8; }

void DropSaved(KivSprite* s) {
  KivMemoryFree(s->savedPixels);
  s->savedPixels = nullptr;
  std::memset(s->savedWords, 0, sizeof s->savedWords);
}

int64_t ReadWhole(const char* name, Block* out) {
  KivFileInfo info{};
  intptr_t f = KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, &info);
  if (f == KIV_INVALID_FILE) return -1;
  const size_t size = info.size;
  out->p = size ? Alloc(size) : nullptr;
  const bool ok = out->p && plat::FileReadAt(f, info.start, out->p, size);
  plat::FileClose(f);
  return ok ? static_cast<int64_t>(size) : -1;
}

uint32_t Rd16(const uint8_t* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }

// The picture of an image file's bytes: GE through the common decoder, BMP
// and TGA of 24 or 32 bits through the BMP/TGA reader. NULL for anything
// else, and for a GE picture whose (sx, sy) lies outside it.
KivPixelBuffer* DecodeForBlend(std::span<const uint8_t> bytes, int sx, int sy) {
  if (bytes.size() >= 2 && bytes[0] == 'G' && bytes[1] == 'E') {
    KivGeHeader head;
    if (!KivGeReadHeader(bytes, &head)) return nullptr;
    if (sx < 0 || sy < 0 || sx > head.width || sy > head.height) return nullptr;
    // The unpack area is the unpacked size, not a shared 32 MiB.
    const size_t unpacked = head.method >= 1 && head.method <= 3 ? head.unpackedSize : 0;
    if (unpacked > kKivGeWorkSize) return nullptr;
    Block work(Alloc(unpacked));
    if (!work.p) return nullptr;
    return KivGeDecodeToBuffer(bytes, {static_cast<uint8_t*>(work.p), unpacked});
  }
  const bool bmp = bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
  const size_t at = bmp ? 28 : 16;
  if (bytes.size() < at + 2) return nullptr;
  const uint32_t bpp = bmp ? Rd16(bytes.data() + at) : bytes[at];
  if (bpp != 24 && bpp != 32) return nullptr;
  KivPixelBuffer* b = KivPixelBufferCreate();
  if (!b) return nullptr;
  if (!KivBmpTgaDecode(bytes, b)) return nullptr;  // the reader freed it
  return b;
}

}  // namespace

// ---------------------------------------------------------------- options

extern "C" KIV_API int KivSpriteSetOption(KivSprite* s, unsigned option) {
  if (!s) return Fail(0);
  Writer px(s);
  if (!px) return 0;
  const int w = px.w(), h = px.h();
  const size_t n = static_cast<size_t>(w) * h;
  const bool savedFits = s->savedPixels && s->savedWords[1] == w && s->savedWords[2] == h;
  if (option == 0) {
    // A copy of another size cannot be put back; it is dropped all the same.
    if (savedFits) KivPixelCopyWords(px.px(), s->savedPixels, n);
    DropSaved(s);
    s->option = 0;
    return 1;
  }
  // The copy is of the picture before the first option, so that option 0
  // always gives back the original however many options were stacked.
  Block copy(savedFits ? nullptr : Alloc(n * 4));
  if (!savedFits && !copy.p) return Fail(0, kErrorAccessDenied);
  Block work(IsBlur(option) ? Alloc(KivPixelBlurWorkWords(w, h) * 4) : nullptr);
  if (IsBlur(option) && !work.p) return Fail(0, kErrorAccessDenied);
  if (copy.p) {
    KivPixelCopyWords(copy.words(), px.px(), n);
    DropSaved(s);
    s->savedPixels = copy.words();
    copy.p = nullptr;
    s->savedWords[0] = static_cast<int>(n * 4);
    s->savedWords[1] = w;
    s->savedWords[2] = h;
  }
  s->option = static_cast<int>(option);
  // Where the surface is padded past its picture (the GPU's power-of-two
  // textures), the filter works on the picture alone: a softening or a blur
  // that read the padding would darken the picture's right and bottom edges.
  int fw = w, fh = h;
  if (const auto* surface = static_cast<const KivSoftSurface*>(s->surface);
      surface && surface->entry && surface->entry->imageWidth > 0 && surface->entry->imageHeight > 0) {
    fw = std::min(w, surface->entry->imageWidth);
    fh = std::min(h, surface->entry->imageHeight);
  }
  switch (option) {
    case 1: KivPixelSepia(px.px(), fw, fh, w); break;
    case 2: KivPixelGrey(px.px(), fw, fh, w); break;
    case 3: KivPixelSoftFilter(px.px(), fw, fh, w); break;
    case 4: KivPixelNegative(px.px(), fw, fh, w); break;
    default:
      if (IsBlur(option)) KivPixelBlur(px.px(), fw, fh, w, static_cast<int>(option >> 8) - 1, work.words());
      break;  // any other option only keeps the copy
  }
  return 1;
}

// ---------------------------------------------------------------- buffers

extern "C" KIV_API int KivSpriteSetBuffer(KivSprite* s, const uint32_t* pixels, int w, int h) {
  if (!s) return Fail(0);
  if (!pixels || w < 0 || h < 0) return Fail(0, plat::kErrorInvalidParameter);
  Writer px(s);
  if (!px) return 0;
  // w x h packed words, each row into a row of the surface.
  if (w > px.w() || h > px.h()) return Fail(0, plat::kErrorInvalidParameter);
  KivPixelCopyRect(pixels, w, px.px(), px.w(), w, h);
  return 1;
}

extern "C" KIV_API int KivSpriteBackBafferCopy(KivSprite* s) {
  if (!s) return Fail(0);
  KivFrameView frame;
  if (!KivLastFrameRead(&frame)) return Fail(0);
  Writer px(s);
  if (!px) return 0;
  KivPixelCopyClipped(frame.pixels, frame.width, frame.height, px.px(), px.w(), px.h());
  return 1;
}

// ---------------------------------------------------------------- sprite to sprite

namespace {

// The clipped rectangle of src to draw at dst, with the source pixels to
// read: a part of a sprite read into itself where the two overlap is first
// copied aside, so every pixel reads the picture as it was.
enum class Op { kBlend, kCopy };

int Compose(Op op, KivSprite* dst, int dx, int dy, KivSprite* src, int sx, int sy, int w, int h) {
  if (!dst || !src) return Fail(0);
  if (w == 0 || h == 0) return 0;
  int sw = 0, sh = 0;
  const uint32_t* from = PixelsOf(src, &sw, &sh);
  if (!from) return Fail(0);
  Writer px(dst);
  if (!px) return 0;
  KivPixelClip c;
  if (!KivPixelClipRect(sw, sh, px.w(), px.h(), sx, sy, dx, dy, w, h, &c)) return 1;
  const uint32_t* s = from + static_cast<ptrdiff_t>(c.sy) * sw + c.sx;
  int pitch = sw;
  uint32_t* d = px.px() + static_cast<ptrdiff_t>(c.dy) * px.w() + c.dx;
  Block aside(nullptr);
  if (op == Op::kBlend && from == px.px()) {
    aside.p = Alloc(static_cast<size_t>(c.w) * c.h * 4);
    if (!aside.p) return 0;
    KivPixelCopyRect(s, sw, aside.words(), c.w, c.w, c.h);
    s = aside.words();
    pitch = c.w;
  }
  if (op == Op::kBlend) KivPixelBlendRect(s, pitch, d, px.w(), c.w, c.h);
  else KivPixelCopyRect(s, pitch, d, px.w(), c.w, c.h);  // overlap-safe within one picture
  return 1;
}

}  // namespace

extern "C" KIV_API int KivMixSpriteToSprite(KivSprite* dst, int dx, int dy, int w, int h, KivSprite* src, int sx,
                                            int sy) {
  return Compose(Op::kBlend, dst, dx, dy, src, sx, sy, w, h);
}

extern "C" KIV_API int KivCopySpriteToSpriteRGB(KivSprite* dst, int dx, int dy, KivSprite* src, int sx, int sy,
                                                int w, int h) {
  return Compose(Op::kCopy, dst, dx, dy, src, sx, sy, w, h);
}

extern "C" KIV_API int KivCopySpriteToSpriteRectRGB(KivSprite* dst, KivSprite* src) {
  if (!dst || !src) return Fail(0);
  return KivCopySpriteToSpriteRGB(dst, KivSpriteTrunc(src->x), KivSpriteTrunc(src->y), src, src->rect.left,
                                  src->rect.top, src->cellWidth, src->cellHeight);
}

// ---------------------------------------------------------------- file to sprite

extern "C" KIV_API int KivCopyFileToSpriteRGB(KivSprite* dst, int dx, int dy, const char* file, int sx, int sy, int w,
                                              int h) {
  if (!dst) return Fail(0);
  if (!file) return Fail(0, plat::kErrorInvalidParameter);
  if (w == 0 || h == 0) return 0;
  Block bytes(nullptr);
  const int64_t size = ReadWhole(file, &bytes);
  if (size < 0) return 0;
  KivPixelBuffer* picture = DecodeForBlend({static_cast<const uint8_t*>(bytes.p), static_cast<size_t>(size)}, sx, sy);
  if (!picture) return 0;
  int result = 1;
  {
    Writer px(dst);
    KivPixelClip c;
    if (!px) {
      result = 0;
    } else if (KivPixelClipRect(picture->width, picture->height, px.w(), px.h(), sx, sy, dx, dy, w, h, &c)) {
      KivPixelBlendRect(picture->pixels + static_cast<ptrdiff_t>(c.sy) * picture->width + c.sx, picture->width,
                        px.px() + static_cast<ptrdiff_t>(c.dy) * px.w() + c.dx, px.w(), c.w, c.h);
    }
  }
  KivPixelBufferFree(picture);
  return result;
}
