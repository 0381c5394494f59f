// The timed Fx effects: a raster wave on one sprite (its KivFxEffect record,
// made on first start) or on the whole screen (one static record and a node
// of its own in a render list). Each draw asks KivFxProgress for the frame's
// amplitudes and phase; all raster waves share one phase clock.
//
// Effect numbers index the size tables; only effect 0, the raster wave
// (parameters {period ms, amplitude x, amplitude y}, work {phase,
// amplitude x, amplitude y}), has a draw, kind 1 in every renderer.
#include <cstring>

#include "effect/effect.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "task/render_list.h"
#include "sprite/sprite.h"

namespace {

constexpr int kEffects = 1;  // effect numbers with a draw
constexpr int kParamSize[2] = {12, 0};
constexpr int kWorkSize[2] = {12, 0};
constexpr int kDrawKind[1] = {1};

KivFxEffect g_screen{};
KivRenderList* g_screenList = nullptr;
uint32_t g_phaseClock = 0;
bool g_phaseClockSet = false;

int Fail(uint32_t code) {
  plat::SetLastError(code);
  return 0;
}

uint32_t Now() { return g_kiv ? g_kiv->frameTime.load() : 0; }

void FreeBlocks(KivFxEffect* r) {
  KivMemoryFree(r->params);
  KivMemoryFree(r->work);
  r->params = r->work = nullptr;
}

// Command 0: state 0, both blocks freed.
void Destroy(KivFxEffect* r) {
  FreeBlocks(r);
  r->state = 0;
}

int Start(KivFxEffect* r, int effect, uint32_t length, const void* params) {
  if (effect < 0 || effect >= kEffects) return Fail(plat::kErrorInvalidParameter);
  void* p = KivMemoryAlloc(kParamSize[effect], 1);
  void* w = KivMemoryAlloc(kWorkSize[effect], 1);
  if (!p || !w) {
    KivMemoryFree(p);
    KivMemoryFree(w);
    return Fail(plat::kErrorInvalidHandle);
  }
  // Blocks of an earlier run that ended by itself go now, not with the sprite.
  FreeBlocks(r);
  if (params) std::memcpy(p, params, static_cast<size_t>(kParamSize[effect]));
  r->params = p;
  r->work = w;
  r->ending = 0;
  r->effect = effect;
  r->state = 1;
  r->length = length;
  r->start = Now();
  plat::SetLastError(0);
  return 1;
}

// Command 2: the progress runs back to 0 over length. Only a running effect
// has blocks to fade; an idle record stays idle.
void End(KivFxEffect* r, uint32_t length) {
  if (r->state == 0 || !r->work) return;
  r->length = length;
  r->state = 2;
  r->start = Now();
  r->ending = 1;
}

int Command(KivFxEffect* r, int effect, int command, uint32_t length, const void* params) {
  switch (command) {
    case 0:
      Destroy(r);
      return 1;
    case 1:
      if (r->state != 0) return 0;
      return Start(r, effect, length, params);
    case 2:
      End(r, length);
      return 1;
    default:
      return 1;
  }
}

const KivFxRequest* SpriteProgress(void* fx, KivFxRequest* out) {
  return KivFxProgress(static_cast<KivFxEffect*>(fx), out);
}

KivSprite* SpriteOf(void* target) { return static_cast<KivSprite*>(target); }

}  // namespace

void KivFxInit(void) {
  g_kivSpriteFx = KivSpriteFxHooks{SpriteProgress, KivFxRelease};
  FreeBlocks(&g_screen);
  g_screen = KivFxEffect{};
  g_screenList = nullptr;
  g_phaseClockSet = false;
}

void KivFxUninit(void) {
  // The render lists are gone or going: only the record is cleared.
  FreeBlocks(&g_screen);
  g_screen = KivFxEffect{};
  g_screenList = nullptr;
}

void KivFxRelease(void* record) {
  auto* r = static_cast<KivFxEffect*>(record);
  if (!r) return;
  FreeBlocks(r);
  KivMemoryFree(r);
}

extern "C" KIV_API KivFxRequest* KivFxProgress(KivFxEffect* r, KivFxRequest* out) {
  if (!r || !out) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return nullptr;
  }
  if (r->state == 0 || !r->params || !r->work || r->effect < 0 || r->effect >= kEffects) return nullptr;
  const uint32_t now = Now();
  const uint32_t elapsed = now - r->start;
  float p = elapsed >= r->length ? 1.0f : static_cast<float>(elapsed) / static_cast<float>(r->length);
  if (r->ending) p = 1.0f - p;
  if (r->effect == 0) {
    KivFxRaster params;
    std::memcpy(&params, r->params, sizeof params);
    float work[3];
    work[1] = params.amplitudeX * p;
    work[2] = params.amplitudeY * p;
    // One phase clock for every raster wave: it restarts whenever a wave's
    // period has gone by since it last did.
    if (!g_phaseClockSet) {
      g_phaseClock = now;
      g_phaseClockSet = true;
    }
    const uint32_t d = now - g_phaseClock;
    if (d < params.period) {
      work[0] = static_cast<float>(d) / static_cast<float>(params.period);
    } else {
      g_phaseClock = now;
      work[0] = 1.0f;
    }
    std::memcpy(r->work, work, sizeof work);
  }
  if (r->ending && elapsed >= r->length) r->state = 0;
  if (!g_kiv || !g_kiv->effectsEnabled) return nullptr;
  out->kind = kDrawKind[r->effect];
  out->work = static_cast<const float*>(r->work);
  return out;
}

int KivFxDrawProc(void* core, void* object) {
  auto* r = static_cast<KivFxEffect*>(object);
  const KivEffectRenderer* ops = KivEffectOps();
  KivFxRequest request;
  const KivFxRequest* drawn = KivFxProgress(r, &request);
  if (drawn) {
    if (ops) ops->drawScreenFx(core, *drawn);
    return 1;
  }
  if (!ops || !ops->screenFxNodeEnds) return 1;
  return g_kiv && g_kiv->effectsEnabled ? 0 : 1;  // ended: the pass unlinks the node
}

extern "C" KIV_API int KivSetFxEffect(void* target, int effect, int command, unsigned length_ms, const void* params) {
  const int number = effect & ~KIV_FX_SCREEN;
  if (!(effect & KIV_FX_SCREEN)) {
    KivSprite* s = SpriteOf(target);
    if (!s) return Fail(plat::kErrorInvalidHandle);
    if (!s->fx) {
      if (command != 1) return 1;  // nothing to stop or end
      s->fx = KivMemoryAlloc(sizeof(KivFxEffect), 1);
      if (!s->fx) return Fail(plat::kErrorInvalidHandle);
    }
    return Command(static_cast<KivFxEffect*>(s->fx), number, command, length_ms, params);
  }
  if (command != 1) return Command(&g_screen, number, command, length_ms, params);
  // One screen effect at a time: its node stays until it is released.
  if (g_screenList || g_screen.state != 0) return 0;
  if (!target) return Fail(plat::kErrorInvalidParameter);
  KivRenderList* list = KivRenderGetActive();
  if (!list) return Fail(plat::kErrorInvalidHandle);
  if (!Start(&g_screen, number, length_ms, params)) return 0;
  if (!KivRenderInsert(list, &g_screen, KivFxDrawProc, *static_cast<const int*>(target))) {
    Destroy(&g_screen);
    return Fail(plat::kErrorInvalidHandle);
  }
  g_screenList = list;
  return 1;
}

extern "C" KIV_API int KivGetFxEffectState(void* target, int flags) {
  if (flags & KIV_FX_SCREEN) return g_screen.state;
  KivSprite* s = SpriteOf(target);
  return s && s->fx ? static_cast<KivFxEffect*>(s->fx)->state : 0;
}

extern "C" KIV_API int KivReleaseFxEffect(void* target, int flags) {
  if (flags & KIV_FX_SCREEN) {
    FreeBlocks(&g_screen);
    if (g_screenList) KivRenderRemoveNode(g_screenList, &g_screen);
    g_screen = KivFxEffect{};
    g_screenList = nullptr;
    return 1;
  }
  KivSprite* s = SpriteOf(target);
  if (!s || !s->fx) return 0;
  KivFxRelease(s->fx);
  s->fx = nullptr;
  return 1;
}

extern "C" KIV_API int KivSpriteSetFxEffect(KivSprite* s, int effect, int command, int length_ms, const void* params) {
  return KivSetFxEffect(s, effect & ~KIV_FX_SCREEN, command, static_cast<unsigned>(length_ms), params);
}

extern "C" KIV_API int KivSpriteGetFxEffectState(KivSprite* s) { return KivGetFxEffectState(s, 0); }
