// The GPU renderer's texture loader: any file through the surface table in
// its power-of-two form. A file that loads must give a surface whose pixels
// are powers of two holding the image; every path gives its slot back.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>

#include "image/image_decode.h"
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
  return 0;
}
