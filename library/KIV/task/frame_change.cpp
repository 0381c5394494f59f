// Whether this frame would show anything the last drawn one did not: a
// signature of everything the render pass reads (the active list's nodes,
// every sprite's placement, colour, mode and surface version, the clear
// colour, the window's geometry, the device's resets) and of this frame's
// input. While it stays the same, the frame loop keeps its timing, tasks and
// sound but draws and presents nothing: the window, the back buffer and the
// render target still hold that frame, so captures read it as drawn.
// Whatever moves by itself (a running transition, a screen or sprite Fx, a
// movie sprite, the text field, any draw callback this file does not know)
// makes every frame new.
#include <cstdint>
#include <cstring>

#include "core/system_state.h"
#include "effect/effect.h"
#include "movie/movie.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace {

// FNV-1a over the bytes of each value.
struct Signature {
  uint64_t h = 1469598103934665603ull;
  bool moving = false;  // something changes on its own: always draw
  template <typename T>
  void Add(const T& v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ull;
  }
};

void AddSprite(Signature& sig, const KivSprite* s) {
  sig.Add(s);
  if (!s) return;
  sig.Add(s->visible);
  sig.Add(s->transitionCode);
  if (!s->visible) return;
  sig.Add(s->x);
  sig.Add(s->y);
  sig.Add(s->offsetX);
  sig.Add(s->offsetY);
  sig.Add(s->rect);
  sig.Add(s->colour);
  sig.Add(s->scale);
  sig.Add(s->rotX);
  sig.Add(s->rotY);
  sig.Add(s->rotZ);
  sig.Add(s->centreX);
  sig.Add(s->centreY);
  sig.Add(s->width);
  sig.Add(s->height);
  sig.Add(s->renderMode);
  sig.Add(s->movie);
  if (s->locked.load()) sig.moving = true;  // a writer has the pixels now
  if (s->fx && g_kivSpriteFx.progress && g_kiv->effectsEnabled) sig.moving = true;
  auto* surface = static_cast<const KivSoftSurface*>(s->surface);
  sig.Add(surface);
  if (surface && surface->entry) {
    sig.Add(surface->entry);
    sig.Add(surface->width);
    sig.Add(surface->height);
    sig.Add(KivSoftSurfaceVersion(surface->entry));
  }
}

void AddNode(Signature& sig, const KivRenderNode* n) {
  sig.Add(n->object);
  sig.Add(n->draw);
  sig.Add(n->priority);
  if (n->draw == KivSpriteDraw) {
    AddSprite(sig, static_cast<const KivSprite*>(n->object));
  } else if (n->draw == KivSpriteTransitionDraw && n->object) {
    auto* t = static_cast<const KivTransition*>(n->object);
    sig.Add(t->state);
    if (t->state == 1) sig.moving = true;
    AddSprite(sig, t->incoming);
    AddSprite(sig, t->outgoing);
  } else {
    // Movie sprites, the screen Fx and draw callbacks of their own change
    // with time.
    sig.moving = true;
  }
}

uint64_t g_drawnSignature = 0;
bool g_drawnValid = false;
uint32_t g_skipped = 0;
uint32_t g_shownAfterDraw = 0;

// A frame is drawn at least this often while nothing changes, so a window
// whose contents the window system dropped without telling shows again.
constexpr uint32_t kRefreshFrames = 60;

}  // namespace

int KivRenderFrameIfChanged(void) {
  KivSystemState* s = g_kiv;
  KivRenderList* list = s->activeList.load();
  if (s->moviePlaying.load() || !list) {
    g_drawnValid = false;  // the movie's frames go into the back buffer
    return KivRenderFrame();
  }
  if (!KivRenderListTryLock(list)) return 0;  // someone changes the list: skip this frame
  Signature sig;
  sig.Add(list);
  sig.Add(s->clearColour);
  sig.Add(s->renderer);
  sig.Add(s->params.fullScreen);
  sig.Add(s->params.aspect);
  sig.Add(s->view);
  if (s->transitionRunning.load() || KivTextFieldShown()) sig.moving = true;
  if (KivSoftScreen* soft = s->soft) {
    sig.Add(soft->view);
    sig.Add(soft->clientWidth);
    sig.Add(soft->clientHeight);
    sig.Add(soft->wholeClient);
    sig.Add(soft->notReady);
  }
  if (s->gpu && (s->params.mode & KIV_MODE_GPU)) {
    auto* c = static_cast<Kiv3DContext*>(s->gpu);
    // A device lost while the screen rests is noticed now: the render pass
    // restores it and draws the frame again.
    if (c->lost || (Kiv3DCurrentHere(c) && Kiv3DDeviceTest(c) != 0)) sig.moving = true;
    sig.Add(c->resetAttempts);
    sig.Add(c->lost);
    sig.Add(c->windowed);
    sig.Add(c->aspectRect);
  }
  if (s->window) sig.Add(s->window->backend()->Exposures());
  // A frame shown from outside the render pass (a movie's, a CPU frame put
  // up by hand) stands on the screen in place of the drawn one.
  if (s->screenShown.load() != g_shownAfterDraw) sig.moving = true;
  // Input this frame: a player at work is not idle.
  const KivInputState& in = s->input;
  sig.Add(in.eventWord.load());
  sig.Add(in.wheel.load());
  sig.Add(in.keyPush.load() | in.keyPull.load() | in.joyPush.load() | in.joyPull.load());
  sig.Add(in.mouseX.load());
  sig.Add(in.mouseY.load());
  for (const KivRenderNode* n = list->head.next; n && !sig.moving; n = n->next) AddNode(sig, n);

  int drawn = 1;
  const bool same = !sig.moving && g_drawnValid && sig.h == g_drawnSignature;
  if (same && ++g_skipped < kRefreshFrames) {
    drawn = 2;  // the frame on screen is this frame
  } else {
    g_skipped = 0;
    drawn = KivRenderFrame();  // the list lock is ours: re-entered
    g_drawnValid = drawn == 1 && !sig.moving;
    g_drawnSignature = sig.h;
    g_shownAfterDraw = s->screenShown.load();
  }
  KivRenderListUnlock(list);
  return drawn;
}

void KivFrameChangeReset(void) {
  g_drawnValid = false;
  g_skipped = 0;
}
