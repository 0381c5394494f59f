// Screen transitions and Fx effects, run on the renderer's effect table.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Screen transitions: KivEffectEx and its state, the capture of the last
// drawn frame, the transition step the render pass runs after its node walk,
// the optional wait task, and the software renderer's side of the effect
// table (its capture surfaces, read-back, draw and screen Fx).
//
// A transition runs: KivEffectEx captures the frame the player sees and
// starts the kind; each render pass from the next one on calls the kind's
// frame over the new scene until it reports its end; the pass after that
// resets the state and frees the wait task. The kinds draw through the
// renderer's effect table only, so a GPU renderer that fills one in runs
// the same state machine.
#include "effect/effect.h"

#include <algorithm>
#include <cstring>

#include "core/fault_inject.h"
#include "render/pixel_routines.h"
#include "platform/window/messages.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"

KivEffectState g_kivEffect{};

namespace {

// The wait task is freed only while its slot still holds the wait this
// transition made: the game may have ended it (a task reset) and the slot
// may since serve another task.
void FreeWaitTask(KivEffectState* st) {
  KivTask* t = st->waitTask;
  st->waitTask = nullptr;
  if (!t || !g_kiv || !g_kiv->tasks.slots) return;
  if (t->state == 0 || !t->name || std::strcmp(t->name, "KivWait") != 0 || !t->data) return;
  if (*static_cast<const int*>(t->data) != -1) return;
  KivTaskFree(t);
}

void ResetFields(KivEffectState* st) {
  const KivEffectRenderer* ops = KivEffectOps();
  st->colour = 0xFFFFFFFFu;
  st->index = -1;
  st->started = 0;
  st->clickSkip = 0;
  st->boxLeft = st->boxTop = 0;
  st->renderer = nullptr;
  st->scratch = 0;
  const int w = g_kiv ? g_kiv->params.screenWidth : 0, h = g_kiv ? g_kiv->params.screenHeight : 0;
  const bool pow2 = ops && ops->powerOfTwoCaptures;
  // A capture is at least 1 x 1 on a power-of-two renderer.
  st->width = pow2 ? std::max(1, KivPowerOfTwo(w)) : w;
  st->height = pow2 ? std::max(1, KivPowerOfTwo(h)) : h;
  if (g_kiv) g_kiv->transitionRunning.store(0);
}

}  // namespace

const KivEffectRenderer* KivEffectOps(void) {
  return g_kiv && g_kiv->renderer ? g_kiv->renderer->effects : nullptr;
}

bool KivEffectCapture(KivEffectState* st) {
  const KivEffectRenderer* ops = KivEffectOps();
  if (!ops || !st->capture) return false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (ops->captureBackBuffer(KivGetCore(), st->capture)) return true;
    // The window thread tests and restores the device while this one waits.
    if (g_kiv->window) g_kiv->window->Send(plat::kMsgApp + 0x65, 0, 0);
  }
  return false;
}

void KivEffectReleaseMask(KivEffectState* st) {
  if (!st->mask) return;
  if (st->captureOps) st->captureOps->releaseSurface(KivGetCore(), st->mask);
  st->mask = nullptr;
}

int KivEffectInit(void) {
  if (KivFaultHit(KivFault::kEffects)) return 0;
  KivEffectState* st = &g_kivEffect;
  *st = KivEffectState{};
  ResetFields(st);
  g_kiv->effectsEnabled = 1;
  KivFxInit();
  const KivEffectRenderer* ops = KivEffectOps();
  if (!ops) return 1;  // a renderer without transitions shows each new scene at once
  st->capture = ops->createSurface(KivGetCore(), st->width, st->height);
  if (!st->capture) return 0;
  st->captureOps = ops;
  return 1;
}

void KivEffectUninit(void) {
  KivEffectState* st = &g_kivEffect;
  // The tasks are gone by now; the wait went with them.
  st->waitTask = nullptr;
  KivEffectReleaseMask(st);
  if (st->capture && st->captureOps) st->captureOps->releaseSurface(KivGetCore(), st->capture);
  KivFxUninit();
  *st = KivEffectState{};
  st->index = -1;
  if (g_kiv) g_kiv->transitionRunning.store(0);
}

void KivEffectEndSoon(void) {
  if (g_kiv && g_kiv->transitionRunning.load()) g_kivEffect.duration = 1;
}

// The transition step: after every render pass's node walk, before present.
void KivEffectTransitionPass(void) {
  KivEffectState* st = &g_kivEffect;
  if (!g_kiv || !g_kiv->transitionRunning.load()) return;
  if (!st->renderer) {
    KivEffectReset();
    return;
  }
  if (st->renderer(st)) st->renderer = nullptr;  // the next pass ends it
}

extern "C" KIV_API void KivEffectReset(void) {
  KivEffectState* st = &g_kivEffect;
  KivEffectReleaseMask(st);
  FreeWaitTask(st);
  ResetFields(st);
}

extern "C" KIV_API int KivEffectEx(unsigned index, unsigned durationMs, int clickSkip, int wait) {
  if (!g_kiv) return 0;
  if (!g_kiv->effectsEnabled || index == 0) return 1;
  if (index >= kKivTransitionKinds || g_kiv->transitionRunning.load()) return 0;
  KivEffectState* st = &g_kivEffect;
  if (!st->capture || !KivEffectOps()) return 1;  // nothing to dissolve: the new scene shows at once
  ResetFields(st);
  KivEffectCapture(st);  // after ten failures the capture keeps what it held
  st->renderer = kKivTransitionTable[index];
  st->index = static_cast<int>(index);
  st->duration = durationMs;
  st->clickSkip = clickSkip;
  g_kiv->transitionRunning.store(1);
  // The calling task's followers wait until the step frees this.
  if (wait) st->waitTask = KivWait(-1);
  return 1;
}

extern "C" KIV_API int KivEffect(int index, unsigned durationMs) {
  return KivEffectEx(static_cast<unsigned>(index), durationMs, 0, 1);
}

extern "C" KIV_API int KivEffectIs(void) { return g_kiv ? g_kiv->transitionRunning.load() : 0; }

extern "C" KIV_API int KivEffectEnable(int enable) {
  if (!g_kiv) return 0;
  g_kiv->effectsEnabled = enable;
  return enable;
}

extern "C" KIV_API int KivEffectEnableIs(void) { return g_kiv ? g_kiv->effectsEnabled : 0; }

// ---------------------------------------------------------------- software side

namespace {

// Effect surfaces stand apart from the sprites' surface table, so a
// transition never takes an entry a sprite could have.
struct SoftEffectSurface {
  KivSoftSurface surface;
  KivSoftSurfaceEntry entry;
};

void* Wrap(KivPixelBuffer* b) {
  if (!b) return nullptr;
  auto* s = static_cast<SoftEffectSurface*>(KivMemoryAlloc(sizeof(SoftEffectSurface), 1));
  if (!s) {
    KivPixelBufferFree(b);
    return nullptr;
  }
  s->entry.buffer = b;
  s->entry.width = b->width;
  s->entry.height = b->height;
  s->entry.refCount = 1;
  s->surface.width = b->width;
  s->surface.height = b->height;
  s->surface.entry = &s->entry;
  return s;
}

KivPixelBuffer* BufferOf(void* surface) {
  return surface ? static_cast<SoftEffectSurface*>(surface)->entry.buffer : nullptr;
}

void* SoftCreate(void*, int w, int h) {
  KivPixelBuffer* b = KivPixelBufferAlloc(w, h);
  return b ? Wrap(b) : nullptr;
}

void* SoftLoad(void* core, const char*, std::span<const uint8_t> bytes) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  if (!screen) return nullptr;
  if (bytes.size() >= 2 && bytes[0] == 'G' && bytes[1] == 'E')
    return Wrap(KivGeDecodeToBuffer(bytes, {screen->decodeWork, kKivGeWorkSize}));
  KivPixelBuffer* b = KivPixelBufferCreate();
  if (!b || !KivBmpTgaDecode(bytes, b)) return nullptr;  // the reader freed it
  return Wrap(b);
}

void SoftRelease(void*, void* surface) {
  if (!surface) return;
  KivPixelBufferFree(BufferOf(surface));
  KivMemoryFree(surface);
}

uint32_t* SoftLock(void*, void* surface, int* w, int* h, int* pitch) {
  KivPixelBuffer* b = BufferOf(surface);
  if (!b || !b->pixels) return nullptr;
  *w = b->width;
  *h = b->height;
  *pitch = b->width;
  KivSoftSurfaceTouch(&static_cast<SoftEffectSurface*>(surface)->entry);  // the caller may write
  return b->pixels;
}

void SoftUnlock(void*, void*) {}

bool SoftCapture(void* core, void* surface) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  KivPixelBuffer* b = BufferOf(surface);
  if (!screen || !screen->backBuffer || !b) return false;
  KivSoftResolve(screen);
  KivPixelCopyClipped(screen->backBuffer, screen->width, screen->height, b->pixels, b->width, b->height);
  return true;
}

void SoftDraw(void* core, void* surface, const KivRect& rect, int x, int y, uint32_t colour, int mode) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  KivPixelBuffer* b = BufferOf(surface);
  if (!screen || !b) return;
  screen->blitMode = mode == 0 ? 0 : 1;
  screen->source = b;
  KivSoftBlit(screen, rect, x, y, 1.0f, 0, colour);
  screen->blitMode = 1;
}

// The frame drawn so far, waved in place: a copy of the back buffer is the
// wave's source, the back buffer its destination (so places the wave
// leaves keep their pixels).
void SoftScreenFx(void* core, const KivFxRequest& r) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  if (!screen || r.kind != 1 || !r.work || !screen->fx[0] || !screen->backBuffer) return;
  KivPixelBuffer* copy = screen->fx[0];
  if (copy->width != screen->width || copy->height != screen->height) return;
  KivSoftResolve(screen);
  KivPixelCopyWords(copy->pixels, screen->backBuffer, static_cast<size_t>(screen->width) * screen->height);
  // The wave of the GPU renderer, whose render target holds the screen in
  // its middle at the power-of-two size.
  const int rw = KivPowerOfTwo(screen->width), rh = KivPowerOfTwo(screen->height);
  KivPixelRasterWave(copy->pixels, screen->backBuffer, screen->width, screen->height, (rw - screen->width) >> 1,
                     (rh - screen->height) >> 1, rw, rh, r.work[0], r.work[1], r.work[2]);
}

}  // namespace

const KivEffectRenderer kKivSoftEffects = {SoftCreate, SoftLoad, SoftRelease, SoftLock, SoftUnlock, SoftCapture,
                                           SoftDraw,   SoftScreenFx, false, false};

// ---- The GPU renderer's side: the same CPU surfaces, drawn as textures ----
namespace {

Kiv3DContext* Gpu(void* core) { return static_cast<Kiv3DContext*>(core); }

void* GpuLoad(void* core, const char* name, std::span<const uint8_t> bytes) {
  return SoftLoad(Gpu(core) ? Gpu(core)->store : nullptr, name, bytes);
}

void GpuRelease(void* core, void* surface) {
  if (!surface) return;
  Kiv3DForget(Gpu(core), &static_cast<SoftEffectSurface*>(surface)->entry);
  SoftRelease(core, surface);
}

bool GpuCapture(void* core, void* surface) {
  return surface && Kiv3DCaptureToTexture(&static_cast<SoftEffectSurface*>(surface)->entry, Gpu(core)) != 0;
}

void GpuDraw(void* core, void* surface, const KivRect& rect, int x, int y, uint32_t colour, int mode) {
  Kiv3DContext* c = Gpu(core);
  if (!c || !surface) return;
  Kiv3DSpriteRecord r;
  r.surface = &static_cast<SoftEffectSurface*>(surface)->surface;
  r.x = static_cast<float>(x);
  r.y = static_cast<float>(y);
  r.rect = rect;
  r.colour = colour;
  r.renderMode = mode == 0 ? 5 : 1;  // 5 keeps the blend: the copy set below
  if (mode == 0) Kiv3DSetCopyBlend(c);
  Kiv3DSpriteDraw(c, &r);
}

void GpuScreenFx(void* core, const KivFxRequest& r) {
  if (r.kind != 1 || !r.work) return;
  Kiv3DSpriteFxDraw(Gpu(core), r.kind, r.work);
}

}  // namespace

const KivEffectRenderer kKiv3DEffects = {SoftCreate, GpuLoad, GpuRelease, SoftLock, SoftUnlock, GpuCapture,
                                         GpuDraw,    GpuScreenFx, true, true};
