// The two-sprite transition: a render node that cross-fades an incoming
// sprite over an outgoing one on the frame clock.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "task/render_list.h"
#include "sprite/sprite.h"
#include "render/gpu_context.h"

namespace {

int Fail(uint32_t code = plat::kErrorInvalidHandle) {
  plat::SetLastError(code);
  return 0;
}

KivSoftDraw Half(const KivSprite* s, uint32_t alpha) {
  KivSoftDraw d;
  d.surface = static_cast<KivSoftSurface*>(s->surface);
  d.x = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(KivSpritePlace(s->x)) + s->offsetX, INT32_MIN, INT32_MAX));
  d.y = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(KivSpritePlace(s->y)) + s->offsetY, INT32_MIN, INT32_MAX));
  d.angle = KivSpriteTrunc(s->rotZ);
  d.scale = s->scale;
  d.rect = s->rect;
  d.colour = (s->colour & 0x00FFFFFFu) | (alpha & 0xFF) << 24;
  d.renderMode = s->renderMode;
  return d;
}

int64_t RectWidth(const KivRect& r) { return static_cast<int64_t>(r.right) - r.left; }
int64_t RectHeight(const KivRect& r) { return static_cast<int64_t>(r.bottom) - r.top; }

}  // namespace

extern "C" KIV_API KivTransition* KivSpriteCreateTransitionHandle(void) {
  void* block = KivMemoryAlloc(sizeof(KivTransition), 1);
  if (!block) {
    plat::SetLastError(5);
    return nullptr;
  }
  return new (block) KivTransition{};
}

extern "C" KIV_API int KivSpriteCancelTransition(KivTransition* t) {
  if (!t || !t->list) return Fail();
  if (t->incoming) t->incoming->transitionCode = 0;
  if (t->outgoing) KivSpriteRelease(t->list, t->outgoing);
  KivRenderRemoveNode(t->list, t);
  std::memset(static_cast<void*>(t), 0, sizeof *t);
  return 1;
}

extern "C" KIV_API int KivSpriteReleaseTransitionHandle(KivTransition* t) {
  if (!t) return Fail();
  if (t->state != 0) KivSpriteCancelTransition(t);
  KivMemoryFree(t);
  return 1;
}

extern "C" KIV_API int KivSpriteSetTransition(KivRenderList* list, KivSprite* incoming, KivSprite* outgoing,
                                              int code, uint32_t start_ms, uint32_t duration_ms, KivTransition* t) {
  if (!t) return Fail();
  if (!incoming && !outgoing) return Fail(1);
  if (!list) return Fail();
  if (t->state != 0) KivSpriteCancelTransition(t);
  t->code = code;
  t->state = 1;
  t->list = list;
  t->incoming = incoming;
  t->outgoing = outgoing;
  t->unused = -1;
  t->duration = duration_ms;
  t->start = start_ms;
  if (incoming) incoming->transitionCode = code;
  if (outgoing) outgoing->transitionCode = code;
  const int priority = incoming ? incoming->priority : outgoing->priority;
  if (!KivRenderInsert(list, t, KivSpriteTransitionDraw, priority)) {
    // Nothing started: both sprites go back to their own nodes.
    if (incoming) incoming->transitionCode = 0;
    if (outgoing) outgoing->transitionCode = 0;
    std::memset(static_cast<void*>(t), 0, sizeof *t);
    return 0;
  }
  plat::SetLastError(0);
  return 1;
}

extern "C" KIV_API int KivSpriteGetTransitionState(KivTransition* t) { return t ? t->state : 3; }

int KivSpriteTransitionDraw(void* core, void* object) {
  auto* t = static_cast<KivTransition*>(object);
  if (!t) return Fail();
  const uint32_t now = g_kiv ? g_kiv->frameTime.load() : 0;
  const uint32_t e = now - t->start;
  // Every code finishes on time; only the cross-fade (1) is drawn.
  if (e >= t->duration) t->state = 2;
  if (t->code != 1) return 1;
  const float p = t->duration == 0 ? 1.0f
                                   : static_cast<float>(std::min(e, t->duration)) / static_cast<float>(t->duration);
  KivSprite* in = t->incoming;
  KivSprite* out = t->outgoing;
  if ((in && !in->visible) || (out && !out->visible)) return 1;
  const bool onGpu = g_kiv && g_kiv->gpu && core == g_kiv->gpu;
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!onGpu && (!screen || core != screen)) return 1;
  if (in) while (in->locked.load()) plat::Sleep(1);
  if (out) while (out->locked.load()) plat::Sleep(1);

  KivSoftTransitionDraw td;
  td.progress = p;
  if (in) {
    const uint32_t a = in->colour >> 24;
    const uint32_t ai = static_cast<uint32_t>(KivSpriteTrunc(p * static_cast<float>(a)));
    td.in = Half(in, ai);
    // With duration 0 the incoming sprite stands alone at once.
    if (out && t->duration != 0) td.out = Half(out, a - ai);
  } else if (out) {
    const uint32_t a = out->colour >> 24;
    td.out = Half(out, static_cast<uint32_t>(KivSpriteTrunc((1.0f - p) * static_cast<float>(a))));
  }
  if (onGpu) {
    // From (outgoing) and to (incoming), each with its alpha of this moment.
    Kiv3DSpriteRecord records[2];
    const KivSoftDraw* halves[2] = {&td.out, &td.in};
    const KivSprite* sprites[2] = {td.out.surface ? out : nullptr, td.in.surface ? in : nullptr};
    for (int i = 0; i < 2; ++i) records[i] = KivSpriteGpuRecord(*halves[i], sprites[i]);
    if (sprites[0] && sprites[1]) {
      // The outgoing picture is centred on the incoming one and turns with
      // it: the two are one picture changing.
      Kiv3DSpriteRecord& from = records[0];
      const Kiv3DSpriteRecord& to = records[1];
      const int64_t dx = (RectWidth(to.rect) - RectWidth(from.rect)) >> 1;
      const int64_t dy = (RectHeight(to.rect) - RectHeight(from.rect)) >> 1;
      from.x = to.x + static_cast<float>(dx);
      from.y = to.y + static_cast<float>(dy);
      from.rotX = to.rotX;
      from.rotY = to.rotY;
      from.rotZ = to.rotZ;
      from.centreX = to.centreX;
      from.centreY = to.centreY;
    }
    Kiv3DTransitionDraw(static_cast<Kiv3DContext*>(core), records);
    return 1;
  }
  KivSoftDrawTransition(screen, td);
  return 1;
}
