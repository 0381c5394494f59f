// The GPU renderer's texture loader: any file through the surface table in
// its power-of-two form, by the table's own load and by the renderer's named
// decode (a context without a device: pixels only, no GL). A file that loads
// must give pixels in powers of two holding the image; every path gives its
// slot back.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>

#include "image/image_decode.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"

namespace {

KivSoftScreen* Table() {
  static KivSoftScreen* screen = [] {
    auto* s = new KivSoftScreen;
    s->powerOfTwo = 1;
    s->maxSurfaceSide = 4096;
    s->decodeWork = static_cast<uint8_t*>(std::calloc(1, kKivGeWorkSize));
    KivSoftSurfaceTableCreate(s, 2);
    return s;
  }();
  return screen;
}

Kiv3DContext* Context() {
  static Kiv3DContext* c = [] {
    auto* ctx = new Kiv3DContext;
    ctx->store = Table();
    return ctx;
  }();
  return c;
}

bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KivSoftScreen* screen = Table();
  KivSoftSurface* s = KivSoftSurfaceLoad(screen, "fuzz", std::span<const uint8_t>(data, size));
  if (s) {
    int w = 0, h = 0;
    if (!KivSoftSurfacePixels(s, &w, &h) || !PowerOfTwo(w) || !PowerOfTwo(h) || w > 4096 || h > 4096 ||
        s->width > w || s->height > h)
      __builtin_trap();
    KivSoftSurfaceRelease(screen, s);
  }
  if (screen->surfacesUsed != 0) __builtin_trap();
  Kiv3DContext* c = Context();
  if (KivSoftSurfaceEntry* e = Kiv3DImageDecode("fuzz", data, c, size)) {
    if (!e->buffer || !PowerOfTwo(e->width) || !PowerOfTwo(e->height) || e->width > 4096 || e->height > 4096 ||
        e->imageWidth > e->width || e->imageHeight > e->height || e->imageWidth <= 0 || e->imageHeight <= 0)
      __builtin_trap();
    if (Kiv3DSurfaceRelease(c, e) != 1 || Kiv3DSurfaceRelease(c, e) != 0) __builtin_trap();
  }
  if (screen->surfacesUsed != 0) __builtin_trap();
  return 0;
}
