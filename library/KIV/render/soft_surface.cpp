// The software renderer's surface table: blank and decoded surfaces, their
// reference counts, pixel reads and copies.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "core/fault_inject.h"
#include "platform/core/error.h"
#include "render/soft_screen.h"

namespace {

std::atomic<uint32_t> g_surfaceVersion{0};

// The pixels for reading only: the version stays.
const uint32_t* ReadablePixels(const KivSoftSurface* surface, int* width, int* height) {
  if (!surface || !surface->entry || !surface->entry->buffer) return nullptr;
  const KivPixelBuffer* b = surface->entry->buffer;
  if (width) *width = b->width;
  if (height) *height = b->height;
  return b->pixels;
}

}  // namespace

KivPixelBuffer* KivPixelBufferPadToPowerOfTwo(KivPixelBuffer* b, int maxSide) {
  if (!b) return nullptr;
  const int pw = KivPowerOfTwo(b->width), ph = KivPowerOfTwo(b->height);
  if (pw == 0 || ph == 0 || pw > maxSide || ph > maxSide || static_cast<int64_t>(pw) * ph > INT32_MAX / 4) {
    KivPixelBufferFree(b);
    return nullptr;
  }
  if (pw == b->width && ph == b->height) return b;
  KivPixelBuffer* out = KivPixelBufferAlloc(pw, ph);
  if (!out) {
    KivPixelBufferFree(b);
    return nullptr;
  }
  for (int y = 0; y < b->height; ++y)
    std::memcpy(out->pixels + static_cast<size_t>(y) * pw, b->pixels + static_cast<size_t>(y) * b->width,
                static_cast<size_t>(b->width) * 4);
  KivPixelBufferFree(b);
  return out;
}

KivSoftSurfaceEntry* KivSoftSurfaceTakeEntry(KivSoftScreen* screen, const char* name) {
  if (!screen || !screen->surfaces || screen->surfacesUsed >= screen->surfaceCapacity) return nullptr;
  for (int i = 0; i < screen->surfaceCapacity; ++i) {
    KivSoftSurfaceEntry* e = &screen->surfaces[i];
    if (e->refCount != 0) continue;
    e->refCount = 1;
    std::memset(e->name, 0, sizeof e->name);
    if (name) std::strncpy(e->name, name, sizeof e->name - 1);
    ++screen->surfacesUsed;
    return e;
  }
  return nullptr;
}

void KivSoftSurfaceDropEntry(KivSoftScreen* screen, KivSoftSurfaceEntry* e) {
  if (!screen || !e || e->refCount <= 0) return;  // a free entry is not released twice
  if (--e->refCount > 0) return;
  std::memset(e->name, 0, sizeof e->name);
  --screen->surfacesUsed;
  KivPixelBufferFree(e->buffer);
  e->buffer = nullptr;
  e->width = e->height = 0;
  e->imageWidth = e->imageHeight = 0;
}

bool KivSoftSurfaceInTable(const KivSoftScreen* screen, const KivSoftSurfaceEntry* e) {
  if (!screen || !screen->surfaces || !e) return false;
  const KivSoftSurfaceEntry* first = screen->surfaces;
  return e >= first && e < first + screen->surfaceCapacity;
}

namespace {

KivSoftSurface* Wrap(KivSoftScreen* screen, KivSoftSurfaceEntry* e, KivPixelBuffer* b) {
  auto* s = static_cast<KivSoftSurface*>(KivMemoryAlloc(sizeof(KivSoftSurface), 1));
  if (!s) {
    KivPixelBufferFree(b);
    e->buffer = nullptr;
    KivSoftSurfaceDropEntry(screen, e);
    return nullptr;
  }
  const int imageW = b->width, imageH = b->height;
  if (screen->powerOfTwo) {
    b = KivPixelBufferPadToPowerOfTwo(b, screen->maxSurfaceSide);
    if (!b) {
      KivMemoryFree(s);
      e->buffer = nullptr;
      KivSoftSurfaceDropEntry(screen, e);
      return nullptr;
    }
  }
  e->buffer = b;
  e->width = b->width;
  e->height = b->height;
  KivSoftSurfaceTouch(e);
  s->width = imageW;
  s->height = imageH;
  s->entry = e;
  return s;
}

}  // namespace

int KivSoftSurfaceTableCreate(KivSoftScreen* screen, int capacity) {
  if (KivFaultHit(KivFault::kSoftSurfaces) || !screen || capacity <= 0 || screen->surfaces) return 0;
  if (capacity > INT32_MAX / static_cast<int>(sizeof(KivSoftSurfaceEntry))) return 0;
  screen->surfaces = static_cast<KivSoftSurfaceEntry*>(
      KivMemoryAlloc(capacity * static_cast<int>(sizeof(KivSoftSurfaceEntry)), 1));
  if (!screen->surfaces) return 0;
  screen->surfaceCapacity = capacity;
  screen->surfacesUsed = 0;
  return 1;
}

KivSoftSurface* KivSoftSurfaceCreate(KivSoftScreen* screen, int w, int h) {
  if (!screen || w < 0 || h < 0 || static_cast<int64_t>(w) * h > INT32_MAX / 4) return nullptr;
  KivSoftSurfaceEntry* e = KivSoftSurfaceTakeEntry(screen, nullptr);
  if (!e) return nullptr;
  KivPixelBuffer* b = KivPixelBufferCreate();
  if (b) b->pixels = static_cast<uint32_t*>(KivMemoryAlloc(w * h * 4, 1));
  if (!b || !b->pixels) {
    KivPixelBufferFree(b);
    KivSoftSurfaceDropEntry(screen, e);
    return nullptr;
  }
  b->width = w;
  b->height = h;
  b->byteSize = w * h * 4;
  return Wrap(screen, e, b);
}

KivSoftSurface* KivSoftSurfaceLoad(KivSoftScreen* screen, const char* name, std::span<const uint8_t> image) {
  if (!screen) return nullptr;
  KivSoftSurfaceEntry* e = KivSoftSurfaceTakeEntry(screen, name);
  if (!e) return nullptr;
  KivPixelBuffer* b = nullptr;
  if (image.size() >= 2 && image[0] == 'G' && image[1] == 'E') {
    b = KivGeDecodeToBuffer(image, {screen->decodeWork, kKivGeWorkSize});
  } else {
    b = KivPixelBufferCreate();
    if (!b) {
      plat::DebugOutput("error LoadMemory : memory allocate \n");
      KivSoftSurfaceDropEntry(screen, e);
      return nullptr;
    }
    if (!KivBmpTgaDecode(image, b)) b = nullptr;  // the reader freed it
  }
  if (!b) {
    plat::DebugOutput("error LoadMemory \n");
    KivSoftSurfaceDropEntry(screen, e);
    return nullptr;
  }
  KivSoftSurface* s = Wrap(screen, e, b);
  if (!s) plat::DebugOutput("error LoadMemory : memory allocate \n");
  return s;
}

int KivSoftSurfaceRelease(KivSoftScreen* screen, KivSoftSurface* surface) {
  if (!screen || !surface) return 0;
  if (!KivSoftSurfaceInTable(screen, surface->entry) || surface->entry->refCount <= 0) return 0;
  KivSoftSurfaceDropEntry(screen, surface->entry);
  KivMemoryFree(surface);
  return 1;
}

void KivSoftSurfaceTouch(KivSoftSurfaceEntry* e) {
  if (!e) return;
  std::atomic_ref<uint32_t>(e->changedCorner).store(kKivCornerWhole);
  std::atomic_ref<uint32_t>(e->version).store(g_surfaceVersion.fetch_add(1) + 1);
}

void KivSoftSurfaceTouchCorner(KivSoftSurfaceEntry* e, int width, int height) {
  if (!e) return;
  if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0xFFFF) {
    KivSoftSurfaceTouch(e);
    return;
  }
  std::atomic_ref<uint32_t> corner(e->changedCorner);
  uint32_t was = corner.load();
  for (;;) {
    if (was == kKivCornerWhole) break;  // the whole is marked already
    uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    if (was != kKivCornerNone) {
      w = std::max(w, was >> 16);
      h = std::max(h, was & 0xFFFFu);
    }
    if (corner.compare_exchange_weak(was, w << 16 | h)) break;
  }
  std::atomic_ref<uint32_t>(e->version).store(g_surfaceVersion.fetch_add(1) + 1);
}

uint32_t KivSoftSurfaceTakeChanged(KivSoftSurfaceEntry* e) {
  return e ? std::atomic_ref<uint32_t>(e->changedCorner).exchange(kKivCornerNone) : kKivCornerWhole;
}

uint32_t KivSoftSurfaceVersion(const KivSoftSurfaceEntry* e) {
  return e ? std::atomic_ref<uint32_t>(const_cast<KivSoftSurfaceEntry*>(e)->version).load() : 0;
}

int KivPowerOfTwo(int v) {
  if (v <= 0 || v > (1 << 30)) return 0;
  int p = 1;
  while (p < v) p <<= 1;
  return p;
}

const uint32_t* KivSoftSurfaceReadPixels(const KivSoftSurface* surface, int* width, int* height) {
  if (!surface || !surface->entry || !surface->entry->buffer) return nullptr;
  const KivPixelBuffer* b = surface->entry->buffer;
  if (width) *width = b->width;
  if (height) *height = b->height;
  return b->pixels;
}

uint32_t* KivSoftSurfacePixelsToMark(const KivSoftSurface* surface, int* width, int* height) {
  if (!KivSoftSurfaceReadPixels(surface, width, height)) return nullptr;
  return surface->entry->buffer->pixels;
}

uint32_t* KivSoftSurfacePixels(const KivSoftSurface* surface, int* width, int* height) {
  uint32_t* px = KivSoftSurfacePixelsToMark(surface, width, height);
  if (px) KivSoftSurfaceTouch(surface->entry);
  return px;
}

int KivSoftSurfaceCopyPixels(const KivSoftSurface* from, KivSoftSurface* to) {
  int fw = 0, fh = 0, tw = 0, th = 0;
  const uint32_t* src = ReadablePixels(from, &fw, &fh);
  uint32_t* dst = KivSoftSurfacePixels(to, &tw, &th);
  if (!src || !dst) return 0;
  // Word after word, as far as the smaller of the two reaches.
  size_t n = std::min(static_cast<size_t>(fw) * fh, static_cast<size_t>(tw) * th);
  std::memmove(dst, src, n * 4);
  return 1;
}

int KivSoftCopyBackBuffer(KivSoftScreen* screen, KivSoftSurface* to) {
  int tw = 0, th = 0;
  uint32_t* dst = KivSoftSurfacePixels(to, &tw, &th);
  if (!screen || !screen->backBuffer || !dst) return 0;
  KivSoftResolve(screen);
  size_t n = std::min(static_cast<size_t>(screen->width) * screen->height, static_cast<size_t>(tw) * th);
  std::memcpy(dst, screen->backBuffer, n * 4);
  return 1;
}

int64_t KivSoftSurfaceReadPixel(const KivSoftSurface* surface, int x, int y) {
  int w = 0, h = 0;
  const uint32_t* px = ReadablePixels(surface, &w, &h);
  if (!px || x < 0 || y < 0 || x >= w || y >= h) return -1;
  return px[static_cast<size_t>(y) * w + x];
}

bool KivSoftSurfaceCopyOut(const KivSoftSurface* surface, const KivRect* rect, std::span<uint32_t> out,
                           int* outWidth, int* outHeight) {
  int w = 0, h = 0;
  const uint32_t* px = ReadablePixels(surface, &w, &h);
  if (!px) return false;
  KivRect r = rect ? *rect : KivRect{0, 0, w, h};
  const int64_t rw = static_cast<int64_t>(r.right) - r.left, rh = static_cast<int64_t>(r.bottom) - r.top;
  if (rw <= 0 || rh <= 0 || static_cast<uint64_t>(rw * rh) > out.size()) return false;
  for (int64_t y = 0; y < rh; ++y) {
    uint32_t* o = out.data() + y * rw;
    const int64_t sy = r.top + y;
    for (int64_t x = 0; x < rw; ++x) {
      const int64_t sx = r.left + x;
      o[x] = (sx >= 0 && sy >= 0 && sx < w && sy < h) ? px[sy * w + sx] : 0u;
    }
  }
  *outWidth = static_cast<int>(rw);
  *outHeight = static_cast<int>(rh);
  return true;
}
