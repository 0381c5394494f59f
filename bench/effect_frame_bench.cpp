// A 1280 x 720 software frame under the game's screen effects: an opaque
// background, 255 snow flakes (16 x 16), 127 sakura petals (24 x 24 cells
// scaled to 12..24) and a screen raster wave, each frame stepped by
// effect_frame and composed by the software renderer on one core. Beside
// it, pixman composing the same background and 382 sprites OVER the same
// buffer (no wave), for comparison.
//
//   build/bench/effect_frame_bench
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "data/script_tables.h"
#include "effect/screen_effects.h"
#include "image_encoder.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "render/renderer.h"
#include "render/soft_screen.h"
#include "start/game_record.h"
#include "task/render_list.h"
#include "vm/vm.h"

namespace {

constexpr int kW = 1280, kH = 720;

kivtools::Image Sheet(int w, int h, uint32_t argb) {
  kivtools::Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int cx = x % 16 - 8, cy = y % 16 - 8;
      img.pixels[static_cast<size_t>(y) * w + x] = cx * cx + cy * cy < 40 ? argb : (argb & 0x00FFFFFFu) | 0x40000000u;
    }
  return img;
}

void Write(const std::string& path, const kivtools::Image& img, int cw, int ch) {
  kivtools::GeOptions o;
  o.method = 1;
  o.cellWidth = cw;
  o.cellHeight = ch;
  kivtools::WriteFileBytes(path, kivtools::EncodeGe(img, o));
}

int Start() { return 1; }
void End(void*) {}

void BM_EffectFrameSoftware(benchmark::State& state) {
  char tmpl[] = "/tmp/kiveffectbenchXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  kivtools::Image bg = kivtools::MakeTestPicture(kW, kH, 1);
  for (auto& p : bg.pixels) p |= 0xFF000000u;
  Write(dir + "/BG.PGD", bg, 0, 0);
  Write(dir + "/FLAKE.PGD", Sheet(48, 16, 0xF0FFFFFFu), 16, 16);
  Write(dir + "/PETAL.PGD", Sheet(192, 48, 0xFFFFC0D0u), 24, 24);
  plat::UseHeadless(true);
  plat::UseVirtualClock(true, 1000);
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.clientWidth = p.screenWidth = kW;
  p.clientHeight = p.screenHeight = kH;
  p.mode &= ~KIV_MODE_GPU;
  p.flags |= KIV_FLAG_HIDDEN;
  p.surfaceCapacity = 1535;
  p.startCallback = Start;
  p.endCallback = End;
  if (!KivInit(&p)) {
    state.SkipWithError("engine did not start");
    return;
  }
  KivSystemPathSet(dir.c_str());
  KivRenderList* list = KivRenderInit();
  KivRenderSetActive(list);
  auto record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  ctx->renderList = list;
  KivSprite* background = KivSpriteLoad(list, "BG.PGD", 9000);
  std::strcpy(ctx->stringVariables[0], "FLAKE");
  std::strcpy(ctx->stringVariables[1], "PETAL");
  const bool ok = effect_snow_start(ctx, 255, 40, 0, kStringVariableBit | 0) &&
                  effect_sakura_start(ctx, 127, -40, 0, kStringVariableBit | 1) &&
                  effect_raster_start(ctx, 2000, 0, 300, 0) && background;
  if (!ok) state.SkipWithError("the effects did not start");
  void* core = KivGetCore();
  for (auto _ : state) {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    effect_frame(ctx);
    kKivSoftRenderer.beginFrame(core, 0xFF000000u);
    for (KivRenderNode* n = list->head.next; n; n = n->next) n->draw(core, n->object);
    benchmark::DoNotOptimize(g_kiv->soft->backBuffer[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  effect_release(ctx);
  KivSpriteRelease(list, background);
  KivRenderSetActive(nullptr);
  KivRenderUninit(list);
  KivUninit();
  plat::UseVirtualClock(false);
  std::system(("rm -rf '" + dir + "'").c_str());
}
BENCHMARK(BM_EffectFrameSoftware)->Unit(benchmark::kMillisecond);

void BM_PixmanSameSprites(benchmark::State& state) {
  kivtools::Image bg = kivtools::MakeTestPicture(kW, kH, 1);
  std::vector<uint32_t> bgPx(bg.pixels);
  for (auto& px : bgPx) px |= 0xFF000000u;
  std::vector<uint32_t> flake(16 * 16, 0xF0F0F0F0u), petal(24 * 24, 0xFFFFC0D0u);
  pixman_image_t* bgImg = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, bgPx.data(), kW * 4);
  pixman_image_t* flakeImg = pixman_image_create_bits(PIXMAN_a8r8g8b8, 16, 16, flake.data(), 16 * 4);
  pixman_image_t* petalImg = pixman_image_create_bits(PIXMAN_a8r8g8b8, 24, 24, petal.data(), 24 * 4);
  std::vector<uint32_t> target(static_cast<size_t>(kW) * kH);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, target.data(), kW * 4);
  uint32_t seed = 1;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  std::vector<std::pair<int, int>> at(382);
  for (auto& a : at) a = {static_cast<int>(next() % kW), static_cast<int>(next() % kH)};
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, bgImg, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    for (size_t i = 0; i < at.size(); ++i) {
      pixman_image_t* s = i < 255 ? flakeImg : petalImg;
      const int side = i < 255 ? 16 : 24;
      pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, dst, 0, 0, 0, 0, at[i].first, at[i].second, side, side);
    }
    benchmark::DoNotOptimize(target[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  for (auto* i : {bgImg, flakeImg, petalImg, dst}) pixman_image_unref(i);
}
BENCHMARK(BM_PixmanSameSprites)->Unit(benchmark::kMillisecond);

}  // namespace
