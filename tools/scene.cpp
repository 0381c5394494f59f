// engine_host --scene: see scene.h.
#include "scene.h"

#include <algorithm>

#include "dl_bind.h"

namespace {

struct {
  decltype(&KivSpriteCreate) Create;
  decltype(&KivSpriteLock) Lock;
  decltype(&KivSpriteUnlock) Unlock;
  decltype(&KivSpriteSetPos) SetPos;
  decltype(&KivSpriteSetRotate) SetRotate;
  decltype(&KivSpriteRelease) Release;
  decltype(&KivSetFxEffect) SetFx;
  decltype(&KivSpriteSetFxEffect) SetSpriteFx;
  decltype(&KivReleaseFxEffect) ReleaseFx;
} g;

KivSprite* g_back = nullptr;
KivSprite* g_front = nullptr;
int g_priority = 50;

// Fills a sprite's picture of width x height; f(x, y) gives the ARGB word.
// The lock gives the allocated size, rows w apart: the padding past the
// picture is left as it is.
template <typename F>
bool Paint(KivSprite* s, int width, int height, F f) {
  int w = 0, h = 0;
  uint32_t* px = g.Lock(s, &w, &h);
  if (!px) return false;
  const int pw = std::min(width, w), ph = std::min(height, h);
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x) px[y * w + x] = f(x, y);
  g.Unlock(s);
  return true;
}

}  // namespace

bool SceneBind(void* lib) {
  return Bind(lib, g.Create, "KivSpriteCreate") && Bind(lib, g.Lock, "KivSpriteLock") &&
         Bind(lib, g.Unlock, "KivSpriteUnlock") && Bind(lib, g.SetPos, "KivSpriteSetPos") &&
         Bind(lib, g.SetRotate, "KivSpriteSetRotate") && Bind(lib, g.Release, "KivSpriteRelease") &&
         Bind(lib, g.SetFx, "KivSetFxEffect") && Bind(lib, g.SetSpriteFx, "KivSpriteSetFxEffect") &&
         Bind(lib, g.ReleaseFx, "KivReleaseFxEffect");
}

bool SceneStart(KivRenderList* list) {
  constexpr int kBackW = 1280, kBackH = 720, kFrontW = 320, kFrontH = 200;
  g_back = g.Create(list, kBackW, kBackH, 100);
  g_front = g.Create(list, kFrontW, kFrontH, 10);
  if (!g_back || !g_front) return false;
  // Stripes and a grid, so every wave shows.
  Paint(g_back, kBackW, kBackH, [](int x, int y) {
    const uint32_t r = static_cast<uint32_t>(40 + (x * 180) / 1280), b = static_cast<uint32_t>(200 - (y * 150) / 720);
    const bool line = (x % 64) < 3 || (y % 48) < 3;
    return line ? 0xFFF0F0F0u : 0xFF000000u | r << 16 | 0x3000u | b;
  });
  Paint(g_front, kFrontW, kFrontH, [](int x, int y) {
    const bool edge = x < 6 || y < 6 || x >= 314 || y >= 194;
    return edge ? 0xFFFFD040u : 0xC0000000u | static_cast<uint32_t>(x * 255 / 320) << 8 | 0x400000u;
  });
  g.SetPos(g_front, 480.0f, 260.0f);
  g.SetRotate(g_front, 24);
  // The screen behind the front sprite waves sideways; the sprite up and down.
  const KivFxRaster screen{1600, 0.4f, 0.0f};
  const KivFxRaster sprite{900, 0.0f, 0.6f};
  return g.SetFx(&g_priority, KIV_FX_SCREEN, 1, 500, &screen) && g.SetSpriteFx(g_front, 0, 1, 500, &sprite);
}

void SceneEnd(KivRenderList* list) {
  g.ReleaseFx(nullptr, KIV_FX_SCREEN);
  if (g_front) g.Release(list, g_front);
  if (g_back) g.Release(list, g_back);
  g_front = g_back = nullptr;
}
