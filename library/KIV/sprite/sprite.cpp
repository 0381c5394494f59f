// Sprites: images placed on the screen with their options, cells, hit tests,
// loading and sprite-to-sprite transitions. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Sprites: creation, release, placement and appearance, cells, hit tests,
// locking, the aspect correction and the draw callback.
#include "sprite/sprite.h"
#include "render/gpu_context.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "task/render_list.h"
#include "ui/ui.h"

extern unsigned char* KivLoadBuffer;

KivSpriteFxHooks g_kivSpriteFx{nullptr, nullptr};
void MpegRelease(void* movie);
void (*g_kivSpriteMovieRelease)(void* movie) = MpegRelease;

namespace {

constexpr size_t kLoadBufferWords = (32u << 20) / 4;

template <typename T>
T Fail(T value, uint32_t code = plat::kErrorInvalidHandle) {
  plat::SetLastError(code);
  return value;
}

KivSoftSurface* SurfaceOf(const KivSprite* s) { return static_cast<KivSoftSurface*>(s->surface); }

// With the GPU renderer sprite surfaces go through its named texture
// slots (the same CPU table, surfaces in powers of two); else the software
// screen's table.
Kiv3DContext* Gpu() { return g_kiv && g_kiv->gpu ? static_cast<Kiv3DContext*>(g_kiv->gpu) : nullptr; }

KivSoftSurface* SurfaceCreate(KivSoftScreen* screen, int w, int h) {
  if (Kiv3DContext* c = Gpu()) return Kiv3DSurfaceCreate(c, w, h);
  return KivSoftSurfaceCreate(screen, w, h);
}

KivSoftSurface* SurfaceLoad(KivSoftScreen* screen, const char* name, std::span<const uint8_t> bytes) {
  if (Kiv3DContext* c = Gpu()) return Kiv3DSurfaceLoad(c, name, bytes);
  return KivSoftSurfaceLoad(screen, name, bytes);
}

int SaturateAdd(int a, int b) {
  int64_t v = static_cast<int64_t>(a) + b;
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v);
}

}  // namespace

KivSoftScreen* KivSpriteSoftScreen(void) {
  KivSystemState* s = g_kiv;
  return s ? s->soft : nullptr;  // with the GPU renderer: its CPU surface store
}

KivSprite* KivSpriteAllocate(int priority) {
  void* block = KivMemoryAlloc(sizeof(KivSprite), 1);
  if (!block) return nullptr;
  auto* s = new (block) KivSprite{};
  s->visible = 1;
  s->scale = 1.0f;
  s->renderMode = 1;
  s->colour = 0xFFFFFFFFu;
  s->priority = priority;
  return s;
}

void KivSpriteFree(KivSprite* s) {
  if (!s) return;
  KivUiForgetSprite(s);  // animations and button groups let go of it
  if (s->movie) {
    if (g_kivSpriteMovieRelease) g_kivSpriteMovieRelease(s->movie);
    s->movie = nullptr;
  }
  if (s->fx) {
    if (g_kivSpriteFx.release) g_kivSpriteFx.release(s->fx);
    else KivMemoryFree(s->fx);
    s->fx = nullptr;
  }
  KivMemoryFree(s->savedPixels);
  s->savedPixels = nullptr;
  std::memset(s->savedWords, 0, sizeof s->savedWords);
  if (s->surface) {
    if (Kiv3DContext* c = Gpu()) Kiv3DSurfaceFree(c, SurfaceOf(s));
    else if (KivSoftScreen* screen = KivSpriteSoftScreen()) KivSoftSurfaceRelease(screen, SurfaceOf(s));
    s->surface = nullptr;
  }
  s->~KivSprite();
  KivMemoryFree(s);
}

KivSprite* KivSpriteInsert(KivRenderList* list, KivSprite* s) {
  if (!KivRenderInsert(list, s, KivSpriteDraw, s->priority)) {
    KivSpriteFree(s);
    return nullptr;
  }
  return s;
}

// ---------------------------------------------------------------- creation

extern "C" KIV_API KivSprite* KivSpriteCreate(KivRenderList* list, int w, int h, int priority) {
  if (!list) return Fail<KivSprite*>(nullptr);
  KivSoftScreen* screen = KivSpriteSoftScreen();
  KivSprite* s = KivSpriteAllocate(priority);
  if (!s) return Fail<KivSprite*>(nullptr);
  KivSoftSurface* surface = screen ? SurfaceCreate(screen, w, h) : nullptr;
  if (!surface) {
    KivSpriteFree(s);
    return nullptr;
  }
  s->surface = surface;
  s->width = s->cellWidth = w;
  s->height = s->cellHeight = h;
  s->rect = KivRect{0, 0, w, h};
  return KivSpriteInsert(list, s);
}

extern "C" KIV_API KivSprite* KivSpriteLoadMemory(KivRenderList* list, const char* name, const void* data,
                                                  int size, int priority) {
  if (!list) return Fail<KivSprite*>(nullptr);
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!data || size <= 0 || !screen) return Fail<KivSprite*>(nullptr);
  std::span<const uint8_t> bytes(static_cast<const uint8_t*>(data), static_cast<size_t>(size));
  KivSprite* s = KivSpriteAllocate(priority);
  if (!s) return Fail<KivSprite*>(nullptr);
  KivSoftSurface* surface = SurfaceLoad(screen, name, bytes);
  if (!surface) {
    KivSpriteFree(s);
    return nullptr;
  }
  s->surface = surface;
  s->width = surface->width;
  s->height = surface->height;
  KivGeHeader head;
  if (size >= 2 && bytes[0] == 'G' && bytes[1] == 'E' && KivGeReadHeader(bytes, &head)) {
    s->x = static_cast<float>(head.x);
    s->y = static_cast<float>(head.y);
    s->cellWidth = head.cellWidth;
    s->cellHeight = head.cellHeight;
  } else {
    s->cellWidth = s->width;
    s->cellHeight = s->height;
  }
  s->rect = KivRect{0, 0, s->cellWidth, s->cellHeight};
  return KivSpriteInsert(list, s);
}

int KivSpriteSizeTag(const char* text, const char** body) {
  if (!text) return 0;
  if (text[0] != '<') {
    *body = text;
    return 1;
  }
  const char* p = text + 1;
  while (*p != '>') {
    if (*p != 's') return 0;  // also the end of the text before '>'
    ++p;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
      v = std::min<int64_t>(v * 10 + (*p - '0'), INT32_MAX);
      ++p;
    }
    KivFontSetFontSize(static_cast<int>(v));
  }
  ++p;
  if (*p == 0) return 0;
  *body = p;
  return 1;
}

extern "C" KIV_API KivSprite* KivSpriteCreateText(KivRenderList* list, const char* text, int priority,
                                                  uint32_t colour) {
  if (!list) return Fail<KivSprite*>(nullptr);
  const char* body = nullptr;
  if (!KivSpriteSizeTag(text, &body)) return nullptr;
  // The text needs the measured size plus 2, so the outline and the shadow
  // of the last column and row still fit. Its sprite has the sizes the GPU
  // renderer gives it, on either renderer, so a game lays text out alike on
  // both: the power-of-two size of that surface as width and height (and
  // source rectangle), the measured size as the cell. The font's lock is
  // not held while the sprite is made: a thread that waits for it never
  // holds up another.
  KivSize size{};
  KivFontGetSize(body, &size);
  const int64_t needW = static_cast<int64_t>(size.cx) + 2, needH = static_cast<int64_t>(size.cy) + 2;
  if (needW <= 0 || needH <= 0 || needW > (1 << 20) || needH > (1 << 20)) return Fail<KivSprite*>(nullptr);
  const int pw = KivPowerOfTwo(static_cast<int>(needW)), ph = KivPowerOfTwo(static_cast<int>(needH));
  KivSprite* s = pw > 0 && ph > 0 ? KivSpriteCreate(list, pw, ph, priority) : nullptr;
  if (!s) return nullptr;
  s->cellWidth = size.cx;
  s->cellHeight = size.cy;
  int w = 0, h = 0;
  if (uint32_t* px = KivSpriteLock(s, &w, &h)) {
    KivFontBegin();
    KivFontDrawText(px, body, 0, 0, w, h);
    KivFontEnd();
    KivSpriteUnlock(s);
  }
  s->colour = colour;
  return s;
}

extern "C" KIV_API int KivSpriteCreateTextEx(KivSprite* s, const char* text, int x, int y, uint32_t colour) {
  if (!s) return Fail(0);
  const char* body = nullptr;
  if (!KivSpriteSizeTag(text, &body)) return 0;
  int w = 0, h = 0;
  uint32_t* px = KivSpriteLock(s, &w, &h);
  if (!px) return 0;
  KivFontBegin();
  KivFontDrawText(px, body, x, y, w, h);
  KivFontEnd();
  KivSpriteUnlock(s);
  s->colour = colour;
  return 1;
}

extern "C" KIV_API KivSprite* KivSpriteCopy(KivRenderList* list, KivSprite* src, const KivRect* src_rect,
                                            const KivRect* dst_rect, int priority) {
  if (!list || !src) return Fail<KivSprite*>(nullptr);
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!screen || !src->surface || !KivLoadBuffer) return Fail<KivSprite*>(nullptr);
  const KivRect sr = src_rect ? *src_rect : KivRect{0, 0, src->width, src->height};
  const KivRect dr = dst_rect ? *dst_rect : KivRect{0, 0, sr.right - sr.left, sr.bottom - sr.top};
  const int64_t sw = static_cast<int64_t>(sr.right) - sr.left, sh = static_cast<int64_t>(sr.bottom) - sr.top;
  const int64_t dw = static_cast<int64_t>(dr.right) - dr.left, dh = static_cast<int64_t>(dr.bottom) - dr.top;
  // Empty rectangles have no scale factor; the copy-out must fit the load buffer.
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || dw * dh > INT32_MAX / 4)
    return Fail<KivSprite*>(nullptr, plat::kErrorInvalidParameter);
  int ow = 0, oh = 0;
  std::span<uint32_t> scratch(reinterpret_cast<uint32_t*>(KivLoadBuffer), kLoadBufferWords);
  if (!KivSoftSurfaceCopyOut(SurfaceOf(src), &sr, scratch, &ow, &oh))
    return Fail<KivSprite*>(nullptr, plat::kErrorInvalidParameter);
  const float fx = static_cast<float>(dw) / static_cast<float>(sw);
  const float fy = static_cast<float>(dh) / static_cast<float>(sh);

  KivSprite* s = KivSpriteAllocate(priority);
  if (!s) return Fail<KivSprite*>(nullptr);
  KivSoftSurface* surface = SurfaceCreate(screen, static_cast<int>(dw), static_cast<int>(dh));
  if (!surface) {
    KivSpriteFree(s);
    return Fail<KivSprite*>(nullptr);
  }
  s->surface = surface;
  s->x = src->x;
  s->y = src->y;
  s->cellWidth = KivTruncToInt(static_cast<double>(static_cast<float>(src->cellWidth) * fx));
  s->cellHeight = KivTruncToInt(static_cast<double>(static_cast<float>(src->cellHeight) * fy));
  s->width = static_cast<int>(dw);
  s->height = static_cast<int>(dh);
  s->rect = KivRect{0, 0, s->cellWidth, s->cellHeight};
  s->colour = 0xFFFFFFFFu;
  // Rows of the surface lie its buffer's width apart: a power of two on the
  // GPU renderer, wider than the copy.
  int pitch = 0;
  uint32_t* px = KivSoftSurfacePixels(surface, &pitch, nullptr);
  if (!px) {
    KivSpriteFree(s);
    return Fail<KivSprite*>(nullptr);
  }
  if (fx != 1.0f || fy != 1.0f) {
    KivPixelScaleCopy(scratch.data(), ow, oh, ow, fx, fy, px, s->width, s->height, pitch);
  } else {
    for (int y = 0; y < oh; ++y)
      std::memcpy(px + static_cast<size_t>(y) * pitch, scratch.data() + static_cast<size_t>(y) * ow,
                  static_cast<size_t>(ow) * 4);
  }
  return KivSpriteInsert(list, s);
}

// ---------------------------------------------------------------- release

namespace {

// A sprite released while a transition holds it leaves that transition: the
// transition goes on with the other sprite instead of drawing freed memory.
void LeaveTransitions(KivRenderList* list, KivSprite* s) {
  if (!list || s->transitionCode == 0) return;
  for (KivRenderNode* n = list->head.next; n; n = n->next) {
    if (n->draw != KivSpriteTransitionDraw || !n->object) continue;
    auto* t = static_cast<KivTransition*>(n->object);
    if (t->incoming == s) t->incoming = nullptr;
    if (t->outgoing == s) t->outgoing = nullptr;
  }
}

}  // namespace

extern "C" KIV_API int KivSpriteRelease(KivRenderList* list, KivSprite* s) {
  if (!s) return Fail(0);
  if (s->movie) {
    if (g_kivSpriteMovieRelease) g_kivSpriteMovieRelease(s->movie);
    s->movie = nullptr;
  }
  KivRenderRemoveNode(list, s);
  LeaveTransitions(list, s);
  KivSpriteFree(s);
  plat::SetLastError(0);
  return 1;
}

extern "C" KIV_API int KivSpriteReleaseArray(KivRenderList* list, KivSprite** sprites, int count) {
  if (!sprites) return Fail(0);
  int sawNull = 0;
  for (int i = count - 1; i >= 0; --i) {
    KivSprite* s = sprites[i];
    sprites[i] = nullptr;
    if (!s) {
      plat::SetLastError(plat::kErrorInvalidHandle);
      sawNull = 1;
      continue;
    }
    KivRenderRemoveNode(list, s);
    LeaveTransitions(list, s);
    KivSpriteFree(s);
  }
  return sawNull;
}

// ---------------------------------------------------------------- placement

#define KIV_SPRITE_SETTER(name, params, ...) \
  extern "C" KIV_API int name params {        \
    if (!s) return Fail(0);                   \
    __VA_ARGS__;                              \
    return 1;                                 \
  }

KIV_SPRITE_SETTER(KivSpriteSetPos, (KivSprite* s, float x, float y), s->x = x; s->y = y)
KIV_SPRITE_SETTER(KivSpriteMovePos, (KivSprite* s, float dx, float dy), s->x += dx; s->y += dy)
KIV_SPRITE_SETTER(KivSpriteSetOffsetPos, (KivSprite* s, int ox, int oy), s->offsetX = ox; s->offsetY = oy)
KIV_SPRITE_SETTER(KivSpriteMoveOffsetPos, (KivSprite* s, int dx, int dy),
                  s->offsetX = SaturateAdd(s->offsetX, dx);
                  s->offsetY = SaturateAdd(s->offsetY, dy))
KIV_SPRITE_SETTER(KivSpriteSetScale, (KivSprite* s, float scale), s->scale = scale)
KIV_SPRITE_SETTER(KivSpriteSetRotate, (KivSprite* s, int z), s->rotZ = static_cast<float>(z))
KIV_SPRITE_SETTER(KivSpriteSetRotateEx, (KivSprite* s, int x, int y, int z), s->rotX = static_cast<float>(x);
                  s->rotY = static_cast<float>(y); s->rotZ = static_cast<float>(z))
KIV_SPRITE_SETTER(KivSpriteSetColor, (KivSprite* s, uint32_t colour), s->colour = colour)
KIV_SPRITE_SETTER(KivSpriteSetRenderMode, (KivSprite* s, int mode), s->renderMode = mode)
KIV_SPRITE_SETTER(KivSpriteViewCtrl, (KivSprite* s, int visible), s->visible = visible)
KIV_SPRITE_SETTER(KivSpriteSetRect, (KivSprite* s, const KivRect* r),
                  s->rect = r ? *r : KivRect{0, 0, s->width, s->height})

extern "C" KIV_API void KivSpriteSetCenterOffset(KivSprite* s, int cx, int cy) {
  if (!s) return;  // a NULL handle is ignored rather than written through
  s->centreX = cx;
  s->centreY = cy;
}

extern "C" KIV_API int KivSpriteViewIs(KivSprite* s) {
  if (!s) return Fail(0);
  return s->visible;
}

extern "C" KIV_API int KivSpriteGetRect(KivSprite* s, KivRect* out) {
  if (!s || !out) return Fail(0);
  *out = s->rect;
  return 1;
}

extern "C" KIV_API int KivSpriteSetOffsetRect(KivSprite* s, unsigned cw, unsigned ch) {
  if (!s) return Fail(0);
  if (cw != 0 && ch != 0 && static_cast<unsigned>(s->width) % cw == 0 && static_cast<unsigned>(s->height) % ch == 0) {
    s->cellWidth = static_cast<int>(cw);
    s->cellHeight = static_cast<int>(ch);
  }
  return 1;
}

extern "C" KIV_API int KivSpriteRectSetPos(KivSprite* s, unsigned col, unsigned row) {
  if (!s) return Fail(0);
  unsigned left = col * static_cast<unsigned>(s->cellWidth);
  if (left >= static_cast<unsigned>(s->width)) left = static_cast<unsigned>(s->width - s->cellWidth);
  unsigned top = row * static_cast<unsigned>(s->cellHeight);
  if (top >= static_cast<unsigned>(s->height)) top = static_cast<unsigned>(s->height - s->cellHeight);
  const int l = static_cast<int>(left), t = static_cast<int>(top);
  s->rect = KivRect{l, t, SaturateAdd(l, s->cellWidth), SaturateAdd(t, s->cellHeight)};
  return 1;
}

extern "C" KIV_API int KivSpriteGetInfo(KivSprite* s, KivSpriteInfo* out) {
  if (!s || !out) return Fail(0);
  *out = KivSpriteInfo{s->visible, s->colour,     s->x,         s->y,       s->offsetX, s->offsetY,
                       s->width,   s->height,     s->cellWidth, s->cellHeight, s->centreX, s->centreY,
                       s->priority, s->scale,     s->rotX,      s->rotY,    s->rotZ,    s->renderMode};
  return 1;
}

extern "C" KIV_API int KivSpriteSetInfo(KivSprite* s, const KivSpriteInfo* in) {
  if (!s || !in) return Fail(0);
  s->visible = in->visible;
  s->colour = in->colour;
  s->x = in->x;
  s->y = in->y;
  s->offsetX = in->offsetX;
  s->offsetY = in->offsetY;
  s->width = in->width;
  s->height = in->height;
  s->cellWidth = in->cellWidth;
  s->cellHeight = in->cellHeight;
  s->centreX = in->centreX;
  s->centreY = in->centreY;
  s->priority = in->priority;  // the node keeps its place in the list
  s->scale = in->scale;
  s->rotX = in->rotationX;
  s->rotY = in->rotationY;
  s->rotZ = in->rotationZ;
  s->renderMode = in->renderMode;
  // The recorded size only: the pixels keep the size they were made with.
  if (KivSoftSurface* surface = SurfaceOf(s)) {
    surface->width = in->width;
    surface->height = in->height;
  }
  return 1;
}

extern "C" KIV_API int KivSpritePaint(KivSprite* s, uint32_t value) {
  if (!s) return Fail(0);
  int w = 0, h = 0;
  uint32_t* px = KivSoftSurfacePixels(SurfaceOf(s), &w, &h);
  if (!px) return Fail(0);
  KivSoftFill(px, static_cast<size_t>(w) * h, value);
  return 1;
}

extern "C" KIV_API void KivSpriteConvertAspectPosition(KivSprite* s, int mode) {
  KivSystemState* st = g_kiv;
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!s || !st || !screen || mode == 0 || !st->params.fullScreen || st->params.aspect != 3) return;
  plat::Rect m;
  if (KivGetMonitorRect(plat::Point{st->params.x, st->params.y}, &m) < 0) return;
  const plat::Rect& a = screen->view;
  if (a.width() == 0 || a.height() == 0) return;
  const float sx = static_cast<float>(m.width()) / static_cast<float>(a.width());
  const float sy = static_cast<float>(m.height()) / static_cast<float>(a.height());
  const unsigned cxu = static_cast<unsigned>(st->params.screenWidth) / 2;
  const unsigned cyu = static_cast<unsigned>(st->params.screenHeight) / 2;
  const float cx = static_cast<float>(cxu), cy = static_cast<float>(cyu);
  if (mode == 4) {
    s->x = cx + (s->x - cx) * sx;
    s->y = cy + (s->y - cy) * sy;
    return;
  }
  if (mode < 1 || mode > 3) return;
  const float dx = cx - static_cast<float>(KivTruncToInt(static_cast<double>(cx * sx)));
  const float dy = cy - static_cast<float>(KivTruncToInt(static_cast<double>(cy * sy)));
  if (mode == 1 || mode == 2) s->x = s->x > cx ? s->x - dx : s->x + dx;
  if (mode == 1 || mode == 3) s->y = s->y > cy ? s->y - dy : s->y + dy;
}

// ---------------------------------------------------------------- hit tests

extern "C" KIV_API int KivSpriteHit(KivSprite* s, int x, int y, int alpha_test) {
  if (!s) return Fail(0);
  if (!s->visible) return 0;
  const int64_t px = static_cast<int64_t>(x) - (static_cast<int64_t>(KivSpriteTrunc(s->x)) + s->offsetX);
  const int64_t py = static_cast<int64_t>(y) - (static_cast<int64_t>(KivSpriteTrunc(s->y)) + s->offsetY);
  const int64_t rw = static_cast<int64_t>(s->rect.right) - s->rect.left;
  const int64_t rh = static_cast<int64_t>(s->rect.bottom) - s->rect.top;
  if (px < 0 || py < 0 || px >= rw || py >= rh) return 0;
  if (!alpha_test) return 1;
  const int64_t sx = px + s->rect.left, sy = py + s->rect.top;
  if (sx > INT32_MAX || sy > INT32_MAX) return 0;
  // A point outside the pixels (-1) is no hit.
  const int64_t v = KivSoftSurfaceReadPixel(SurfaceOf(s), static_cast<int>(sx), static_cast<int>(sy));
  return v >= 0x01000000 ? 1 : 0;
}

extern "C" KIV_API KivSprite* KivSpriteGetForeground(int x, int y, int alpha_test) {
  KivRenderList* list = KivRenderGetActive();
  if (!list) return nullptr;
  KivSprite* best = nullptr;
  int lowest = INT32_MAX;
  for (KivRenderNode* n = list->head.next; n; n = n->next) {
    if (n->draw != KivSpriteDraw || !n->object) continue;
    auto* s = static_cast<KivSprite*>(n->object);
    if (!KivSpriteHit(s, x, y, alpha_test)) continue;
    if (s->priority <= lowest) {
      lowest = s->priority;
      best = s;
    }
  }
  return best;
}

// ---------------------------------------------------------------- locking

extern "C" KIV_API uint32_t* KivSpriteLock(KivSprite* s, int* width, int* height) {
  if (!s) return Fail<uint32_t*>(nullptr);
  int w = 0, h = 0;
  uint32_t* px = KivSoftSurfacePixels(SurfaceOf(s), &w, &h);
  if (!px) return Fail<uint32_t*>(nullptr);
  s->locked.store(1);
  if (width) *width = w;
  if (height) *height = h;
  return px;
}

extern "C" KIV_API int KivSpriteUnlock(KivSprite* s) {
  if (!s) return Fail(0);
  // What the writer left is new to any texture made of the pixels.
  if (auto* surface = SurfaceOf(s)) KivSoftSurfaceTouch(surface->entry);
  s->locked.store(0);
  return 1;
}

// ---------------------------------------------------------------- drawing

extern "C" KIV_API int KivSpriteDraw(void* core, void* object) {
  auto* s = static_cast<KivSprite*>(object);
  if (!s) return Fail(0);
  if (s->transitionCode != 0 || !s->visible) return 1;
  while (s->locked.load()) plat::Sleep(1);
  KivFxRequest request{};
  const bool onGpu = g_kiv && g_kiv->gpu && core == g_kiv->gpu;
  KivSoftScreen* screen = onGpu ? nullptr : KivSpriteSoftScreen();
  if (!onGpu && (!screen || core != screen)) return 1;
  KivSoftDraw d;
  d.surface = SurfaceOf(s);
  d.x = SaturateAdd(KivSpritePlace(s->x), s->offsetX);
  d.y = SaturateAdd(KivSpritePlace(s->y), s->offsetY);
  d.angle = KivSpriteTrunc(s->rotZ);
  d.scale = s->scale;
  d.rect = s->rect;
  d.colour = s->colour;
  d.renderMode = s->renderMode;
  if (s->fx && g_kivSpriteFx.progress && g_kiv->effectsEnabled) d.fx = g_kivSpriteFx.progress(s->fx, &request);
  if (onGpu) {
    Kiv3DSpriteRecord r = KivSpriteGpuRecord(d, s);
    Kiv3DSpriteDraw(static_cast<Kiv3DContext*>(core), &r);
    return 1;
  }
  KivSoftDrawSprite(screen, d);
  return 1;
}

Kiv3DSpriteRecord KivSpriteGpuRecord(const KivSoftDraw& d, const KivSprite* s) {
  Kiv3DSpriteRecord r;
  r.surface = d.surface;
  r.x = static_cast<float>(d.x);
  r.y = static_cast<float>(d.y);
  if (s) {
    // The GPU takes the place in floats: slow motion moves on sub-pixels
    // where the picture is filtered, and the nearest pixel elsewhere.
    r.x = s->x + static_cast<float>(s->offsetX);
    r.y = s->y + static_cast<float>(s->offsetY);
  }
  r.scale = d.scale;
  r.rect = d.rect;
  r.colour = d.colour;
  r.renderMode = d.renderMode;
  r.fx = d.fx;
  if (s) {
    r.rotX = s->rotX;
    r.rotY = s->rotY;
    r.rotZ = s->rotZ;
    r.centreX = s->centreX;
    r.centreY = s->centreY;
  }
  return r;
}
