// The screen transition kinds. Each is one frame of its rule, drawn over the
// new scene after the render pass's node walk; it returns 1 on the frame
// that reaches the end (the pass after that ends the transition).
//
// Common frame rule: the first frame records the start; elapsed = frame
// time - start, at most the duration, and the whole duration once the left
// button is pushed when click skip is on; t = elapsed / duration, 1 for a
// duration of 0. Alpha bytes are trunc(v * 255).
#include <algorithm>
#include <cstdio>

#include "effect/effect.h"
#include "render/pixel_routines.h"
#include "platform/core/file.h"

extern unsigned char* KivLoadBuffer;
uint32_t KivInputPushMask(void);

namespace {

constexpr uint32_t kLeftButton = 1u << 23;

struct Frame {
  uint32_t elapsed;
  float t;
  bool done;
  bool first;
};

Frame Begin(KivEffectState* st) {
  const uint32_t now = g_kiv->frameTime.load();
  Frame f{};
  f.first = !st->started;
  if (!st->started) {
    st->started = 1;
    st->start = now;
  }
  uint32_t e = now - st->start;  // unsigned: survives the clock's wrap
  if (e > st->duration) e = st->duration;
  if (st->clickSkip && (KivInputPushMask() & kLeftButton)) e = st->duration;
  f.elapsed = e;
  f.t = st->duration ? static_cast<float>(e) / static_cast<float>(st->duration) : 1.0f;
  f.done = e == st->duration;
  return f;
}

uint32_t Byte(float v) { return static_cast<uint32_t>(std::clamp(KivTruncToInt(v * 255.0f), 0, 255)); }

void Draw(KivEffectState* st, const KivRect& r, int x, int y, uint32_t colour, int mode) {
  if (const KivEffectRenderer* ops = KivEffectOps()) ops->drawSurface(KivGetCore(), st->capture, r, x, y, colour, mode);
}

KivRect Whole(const KivEffectState* st) { return KivRect{0, 0, st->width, st->height}; }

struct Locked {
  uint32_t* px = nullptr;
  int w = 0, h = 0, pitch = 0;
};

Locked Lock(void* surface) {
  Locked l;
  if (const KivEffectRenderer* ops = KivEffectOps())
    l.px = ops->lockSurface(KivGetCore(), surface, &l.w, &l.h, &l.pitch);
  return l;
}

void Unlock(void* surface) {
  if (const KivEffectRenderer* ops = KivEffectOps()) ops->unlockSurface(KivGetCore(), surface);
}

int Fade(KivEffectState* st, const Frame& f) {
  st->colour = (st->colour & 0x00FFFFFFu) | Byte(1.0f - f.t) << 24;
  Draw(st, Whole(st), 0, 0, st->colour, 1);
  return f.done ? 1 : 0;
}

// 1: the old picture fades out over the new one.
int CrossFade(KivEffectState* st) { return Fade(st, Begin(st)); }

// 2: as the cross-fade, the old picture softened once more every frame.
int BlurFade(KivEffectState* st) {
  const Frame f = Begin(st);
  Locked c = Lock(st->capture);
  if (c.px) {
    KivPixelSoftFilter(c.px, c.w, c.h, c.pitch);
    Unlock(st->capture);
  }
  return Fade(st, f);
}

// 3: the old picture stays inside a centred box that shrinks to nothing.
// The box is of the logical screen (the capture's picture), whatever size
// the window's client area has.
int BoxShrink(KivEffectState* st) {
  const Frame f = Begin(st);
  const int W = g_kiv->params.screenWidth, H = g_kiv->params.screenHeight;
  const int w = std::clamp(KivTruncToInt((1.0f - f.t) * static_cast<float>(W)), 0, std::max(W, 0));
  const int h = W > 0 ? static_cast<int>(static_cast<int64_t>(w) * H / W) : 0;
  const int left = (W - w) >> 1, top = (H - h) >> 1;
  st->width = w;
  st->height = h;
  st->boxLeft = left;
  st->boxTop = top;
  if (w > 0 && h > 0) Draw(st, KivRect{left, top, left + w, top + h}, left, top, st->colour, 1);
  return f.done ? 1 : 0;
}

// 5: white fades in over the new scene.
int WhiteOut(KivEffectState* st) {
  const Frame f = Begin(st);
  if (f.first) {
    Locked c = Lock(st->capture);
    if (c.px) {
      for (int y = 0; y < c.h; ++y) std::fill_n(c.px + static_cast<ptrdiff_t>(y) * c.pitch, c.w, 0xFFFFFFFFu);
      Unlock(st->capture);
    }
  }
  st->colour = (st->colour & 0x00FFFFFFu) | Byte(f.t) << 24;
  Draw(st, Whole(st), 0, 0, st->colour, 1);
  return f.done ? 1 : 0;
}

// 6: the old picture breaks into blocks that grow to 129 pixels halfway,
// where the new scene takes its place, and shrink back to single pixels.
int Mosaic(KivEffectState* st) {
  const Frame f = Begin(st);
  // The new scene, drawn this frame, becomes the picture: past half the
  // duration, or at the end when the end comes first (a duration of 0, a
  // click), so the last frame is always the new scene.
  if (!st->scratch && (f.elapsed > st->duration / 2 || f.done)) {
    KivEffectCapture(st);
    st->scratch = 1;
  }
  const int block = KivEffectMosaicBlock(f.t);
  Locked c = Lock(st->capture);
  if (!c.px) return f.done ? 1 : 0;
  const size_t n = static_cast<size_t>(c.w) * c.h;
  const bool room = KivLoadBuffer && 2 * n * 4 <= static_cast<size_t>(g_kiv->loadBufferSize);
  if (block <= 1 || !room) {
    Unlock(st->capture);
    Draw(st, Whole(st), 0, 0, 0xFFFFFFFFu, 0);
    return f.done ? 1 : 0;
  }
  // The capture is saved in the second half of the scratch buffer,
  // pixelated in place for this one draw and put back, so it stays whole.
  auto* small = reinterpret_cast<uint32_t*>(KivLoadBuffer);
  uint32_t* saved = small + n;
  KivPixelCopyRect(c.px, c.pitch, saved, c.w, c.w, c.h);
  // One sample at each block's top-left corner, the last part-block of a
  // row or column included: a renderer whose capture is padded past the
  // screen samples it there too, so the blocks agree on every renderer.
  const int sw = (c.w + block - 1) / block, sh = (c.h + block - 1) / block;
  for (int j = 0; j < sh; ++j)
    for (int i = 0; i < sw; ++i)
      small[static_cast<size_t>(j) * sw + i] = saved[static_cast<size_t>(j) * block * c.w + static_cast<size_t>(i) * block];
  KivPixelScaleCopyFill(small, sw, sh, sw, static_cast<float>(block), static_cast<float>(block), c.px, c.w, c.h,
                        c.pitch);
  Unlock(st->capture);
  Draw(st, Whole(st), 0, 0, 0xFFFFFFFFu, 0);
  c = Lock(st->capture);
  if (c.px) {
    KivPixelCopyRect(saved, c.w, c.px, c.pitch, c.w, c.h);
    Unlock(st->capture);
  }
  return f.done ? 1 : 0;
}

// Reads a mask file whole into the scratch buffer and makes it a surface.
void* LoadMask(int index) {
  const KivEffectRenderer* ops = KivEffectOps();
  if (!ops || !KivLoadBuffer) return nullptr;
  char name[32];
  KivEffectMaskName(index, name);
  KivFileInfo info{};
  intptr_t f = KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, &info);
  if (f == KIV_INVALID_FILE) return nullptr;
  const size_t size = info.size;
  const bool ok = size > 0 && size <= static_cast<size_t>(g_kiv->loadBufferSize) &&
                  plat::FileReadAt(f, info.start, KivLoadBuffer, size);
  plat::FileClose(f);
  if (!ok) return nullptr;
  return ops->loadSurface(KivGetCore(), name, {KivLoadBuffer, size});
}

// 10-29: the old picture opens where its mask is bright first, with a soft
// edge 31 grey levels wide. A mask that is missing or does not decode ends
// the transition at the next pass.
int MaskWipe(KivEffectState* st) {
  if (!st->scratch) {
    st->scratch = 1;
    st->mask = LoadMask(st->index);
  }
  if (!st->mask) return 1;
  const Frame f = Begin(st);
  const uint32_t b = Byte(1.0f - f.t);
  Locked c = Lock(st->capture);
  Locked m = c.px ? Lock(st->mask) : Locked{};
  if (c.px && m.px) {
    // Each picture at its own pitch, over the part both cover.
    KivPixelMaskAlpha(c.px, c.pitch, m.px, m.pitch, std::min(c.w, m.w), std::min(c.h, m.h), static_cast<int>(b));
  }
  if (m.px) Unlock(st->mask);
  if (c.px) Unlock(st->capture);
  // At threshold 0 the whole picture is open: the last frame is the new scene.
  if (b > 0) Draw(st, Whole(st), 0, 0, 0xFFFFFFFFu, 1);
  if (f.done) KivEffectReleaseMask(st);
  return f.done ? 1 : 0;
}

}  // namespace

const KivTransitionKind kKivTransitionTable[kKivTransitionKinds] = {
    nullptr,  CrossFade, BlurFade, BoxShrink, nullptr,  WhiteOut, Mosaic,   nullptr,  nullptr,  nullptr,
    MaskWipe, MaskWipe,  MaskWipe, MaskWipe,  MaskWipe, MaskWipe, MaskWipe, MaskWipe, MaskWipe, MaskWipe,
    MaskWipe, MaskWipe,  MaskWipe, MaskWipe,  MaskWipe, MaskWipe, MaskWipe, MaskWipe, MaskWipe, MaskWipe,
};

int KivEffectMosaicBlock(float t) {
  const int k = std::clamp(KivTruncToInt(t * 256.0f), 0, 256);
  // sin(k * pi / 256); at k = 256 the stored table's 0.000001 would leave
  // the last frame in 2 x 2 blocks, so the end takes the sine's own 0.
  const float sine = k == 256 ? 0.0f : KivSineFloat()[k];
  const uint32_t B = Byte(1.0f - sine);
  return static_cast<int>((256 - B) >> 1) + 1;
}

void KivEffectMaskName(int index, char out[32]) { std::snprintf(out, 32, "Mask\\Mask%02d.bmp", index - 10); }
