// The GPU renderer's named textures: slots of the CPU surface table, images
// decoded into their power-of-two pixels by the engine's readers, blank
// textures, captures of the frame, and the sprite surfaces made of them.
// The pixels are the authority; a GL texture is made of them at load when
// the context is current on the loading thread, else at the first draw.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/image_decode.h"
#include "platform/core/byte_io.h"
#include "platform/core/error.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "render/gpu_context.h"

namespace {

// 1..the largest texture side, raised to a power of two included.
bool SizeFits(const Kiv3DContext* c, int width, int height) {
  const int maxSide = c->store->maxSurfaceSide;
  const int pw = KivPowerOfTwo(width), ph = KivPowerOfTwo(height);
  return pw > 0 && ph > 0 && pw <= maxSide && ph <= maxSide;
}

void RefuseSize(int width, int height) {
  char line[96];
  std::snprintf(line, sizeof line, "TextureFromMemory : %d x %d refused", width, height);
  plat::DebugOutput(line);
}

// Video memory (or the pixels' memory) ran out: the player is told, once
// for this failure.
void OutOfVideoMemory() {
  plat::MessageBox(g_kiv ? g_kiv->window : nullptr, KivText("ディスプレイメモリが不足しています。"),
                   KivText("警告"), plat::kMbOk);
}

// The entry's pixels go (the slot itself stays with its caller).
void DropPixels(KivSoftSurfaceEntry* e) {
  KivPixelBufferFree(e->buffer);
  e->buffer = nullptr;
  e->width = e->height = 0;
}

bool HasPrefix(const uint8_t* bytes, size_t size, char a, char b) {
  return size >= 2 && bytes[0] == static_cast<uint8_t>(a) && bytes[1] == static_cast<uint8_t>(b);
}

}  // namespace

KivSoftSurfaceEntry* Kiv3DTakeTextureSlot(KivSoftScreen* table, const char* name) {
  return KivSoftSurfaceTakeEntry(table, name);
}

int Kiv3DSurfaceRelease(Kiv3DContext* c, KivSoftSurfaceEntry* e) {
  if (!c || !c->store || !KivSoftSurfaceInTable(c->store, e) || e->refCount <= 0) return 0;
  // The texture goes with the last reference where GL may be called; a
  // cache left elsewhere is replaced when the slot is used again (its
  // version moves).
  if (e->refCount == 1 && Kiv3DCurrentHere(c)) Kiv3DForget(c, e);
  KivSoftSurfaceDropEntry(c->store, e);
  return 1;
}

int Kiv3DCreateTexture(int width, int height, KivSoftSurfaceEntry* e, Kiv3DContext* c) {
  if (!c || !c->store || !e) return 0;
  if (!SizeFits(c, width, height)) {
    RefuseSize(width, height);
    return 0;
  }
  KivPixelBuffer* b = KivPixelBufferAlloc(KivPowerOfTwo(width), KivPowerOfTwo(height));
  if (!b) return 0;
  DropPixels(e);
  e->buffer = b;
  e->width = b->width;
  e->height = b->height;
  e->imageWidth = width;
  e->imageHeight = height;
  KivSoftSurfaceTouch(e);
  return 1;
}

int Kiv3DTextureFromMemory(int width, int height, KivSoftSurfaceEntry* e, Kiv3DContext* c, const uint8_t* data,
                           size_t size) {
  if (!c || !c->store || !e || !data) return 0;
  if (!SizeFits(c, width, height)) {
    RefuseSize(width, height);
    return 0;
  }
  e->imageWidth = width;
  e->imageHeight = height;
  KivPixelBuffer* b = KivPixelBufferCreate();
  if (!b) {
    OutOfVideoMemory();
    return 0;
  }
  if (!KivBmpTgaDecode({data, size}, b)) return 0;  // the reader freed it
  if (b->width != width || b->height != height) {
    KivPixelBufferFree(b);
    return 0;
  }
  // The sizes fit, so only memory can fail the power-of-two copy.
  KivPixelBuffer* p = KivPixelBufferPadToPowerOfTwo(b, c->store->maxSurfaceSide);
  if (!p) {
    OutOfVideoMemory();
    return 0;
  }
  DropPixels(e);
  e->buffer = p;
  e->width = p->width;
  e->height = p->height;
  KivSoftSurfaceTouch(e);
  if (Kiv3DCurrentHere(c) && !c->lost) {
    bool outOfMemory = false;
    if (!Kiv3DTextureOf(c, e, &outOfMemory)) {
      if (outOfMemory) OutOfVideoMemory();
      DropPixels(e);
      return 0;
    }
  }
  return 1;
}

KivSoftSurfaceEntry* Kiv3DImageDecode(const char* name, const uint8_t* bytes, Kiv3DContext* c, size_t size) {
  if (!c || !c->store || !bytes) return nullptr;
  KivSoftSurfaceEntry* e = Kiv3DTakeTextureSlot(c->store, name);
  if (!e) return nullptr;
  const std::span<const uint8_t> file(bytes, size);
  bool ok = false;
  if (HasPrefix(bytes, size, 'G', 'E')) {
    KivGeHeader head;
    ok = KivGeReadHeader(file, &head) && Kiv3DCreateTexture(head.width, head.height, e, c) &&
         KivGeDecode(file, {e->buffer->pixels, static_cast<size_t>(e->width) * e->height}, e->width,
                     {c->store->decodeWork, kKivGeWorkSize});
    if (ok) KivSoftSurfaceTouch(e);
  } else {
    // The size the file declares, read as the shared decoder reads it.
    int width = 0, height = 0;
    if (KivBmpTgaSize(file, &width, &height))
      ok = Kiv3DTextureFromMemory(width, height, e, c, bytes, size) != 0;
  }
  if (!ok) {
    plat::DebugOutput("error LoadMemory \n");
    Kiv3DSurfaceRelease(c, e);
    return nullptr;
  }
  return e;
}

int Kiv3DCaptureToTexture(KivSoftSurfaceEntry* e, Kiv3DContext* c) {
  if (!c || !e || !e->buffer || !e->buffer->pixels || !c->store || !c->store->backBuffer) return 0;
  KivPixelBuffer* b = e->buffer;
  // The render target as drawn so far (between frames: the last frame,
  // which stays there until the next clear), as the software back buffer is
  // read; off the drawing thread, the last frame read back at its final pass.
  // Where the store was shown after the render target (a full-window
  // movie's frames), the store's frame is the last one shown (and stands
  // resolved: its showing marked the render target read).
  if ((c->storeNewer.load() || !(Kiv3DCurrentHere(c) && Kiv3DGetBackBuffer(b->height, c, b->width, b->pixels))) &&
      Kiv3DResolveBackBuffer(c))
    KivPixelCopyClipped(c->store->backBuffer, c->screenWidth, c->screenHeight, b->pixels, b->width, b->height);
  // Either way the screen's corner alone was written.
  KivSoftSurfaceTouchCorner(e, std::min(c->screenWidth, b->width), std::min(c->screenHeight, b->height));
  return 1;
}

namespace {

KivSoftSurface* Wrap(Kiv3DContext* c, KivSoftSurfaceEntry* e) {
  auto* s = static_cast<KivSoftSurface*>(KivMemoryAlloc(sizeof(KivSoftSurface), 1));
  if (!s) {
    plat::DebugOutput("error LoadMemory : memory allocate \n");
    Kiv3DSurfaceRelease(c, e);
    return nullptr;
  }
  s->width = e->imageWidth;
  s->height = e->imageHeight;
  s->entry = e;
  return s;
}

}  // namespace

KivSoftSurface* Kiv3DSurfaceLoad(Kiv3DContext* c, const char* name, std::span<const uint8_t> image) {
  KivSoftSurfaceEntry* e = Kiv3DImageDecode(name, image.data(), c, image.size());
  return e ? Wrap(c, e) : nullptr;
}

KivSoftSurface* Kiv3DSurfaceCreate(Kiv3DContext* c, int width, int height) {
  if (!c || !c->store) return nullptr;
  KivSoftSurfaceEntry* e = Kiv3DTakeTextureSlot(c->store, nullptr);
  if (!e) return nullptr;
  if (!Kiv3DCreateTexture(width, height, e, c)) {
    Kiv3DSurfaceRelease(c, e);
    return nullptr;
  }
  return Wrap(c, e);
}

int Kiv3DSurfaceFree(Kiv3DContext* c, KivSoftSurface* surface) {
  if (!surface || !Kiv3DSurfaceRelease(c, surface->entry)) return 0;
  KivMemoryFree(surface);
  return 1;
}
