// A typical 1280 x 720 frame composed by the software renderer: an opaque
// background, three alpha characters of about 600 x 700 and a 1280 x 240
// message panel with alpha, drawn through the sprites' own draw callbacks
// into the back buffer, on one core. The same layers composed with pixman
// (OVER on premultiplied copies) in the same binary, for comparison.
//
//   build/bench/soft_render_bench
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <vector>

#include "frame_scene.h"
#include "image_encoder.h"
#include "platform/core/backend.h"
#include "task/render_list.h"
#include "render/renderer.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

namespace {

using frame_scene::kH;
using frame_scene::kW;
using frame_scene::Layer;
using frame_scene::MakeLayers;

int Start() { return 1; }
void End(void*) {}

struct Engine {
  KivRenderList* list = nullptr;
  std::vector<KivSprite*> sprites;

  Engine() {
    plat::UseHeadless(true);
    KivSystemParameters p;
    KivDefaultCreate(&p);
    p.clientWidth = p.screenWidth = kW;
    p.clientHeight = p.screenHeight = kH;
    p.mode &= ~KIV_MODE_GPU;
    p.flags |= KIV_FLAG_HIDDEN;
    p.startCallback = Start;
    p.endCallback = End;
    if (!KivInit(&p)) return;
    list = KivRenderInit();
    KivRenderSetActive(list);
    sprites = frame_scene::LoadLayers(list);
  }
  ~Engine() {
    if (!g_kiv) return;
    for (KivSprite* s : sprites) KivSpriteRelease(list, s);
    KivRenderSetActive(nullptr);
    KivRenderUninit(list);
    KivUninit();
  }
  // The render pass without the present: clear, then every node.
  void Compose() {
    void* core = KivGetCore();
    kKivSoftRenderer.beginFrame(core, 0xFF000000u);
    for (KivRenderNode* n = list->head.next; n; n = n->next) n->draw(core, n->object);
  }
};

void BM_SoftRendererFrame(benchmark::State& state) {
  Engine e;
  if (!e.list || e.sprites.size() != 5) {
    state.SkipWithError("engine did not start");
    return;
  }
  for (auto _ : state) {
    e.Compose();
    benchmark::DoNotOptimize(g_kiv->soft->backBuffer[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoftRendererFrame)->Unit(benchmark::kMillisecond);

// The whole render pass, with the present into the headless window's frame.
void BM_SoftRendererFrameWithPresent(benchmark::State& state) {
  Engine e;
  if (!e.list) {
    state.SkipWithError("engine did not start");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(KivRenderFrame());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoftRendererFrameWithPresent)->Unit(benchmark::kMillisecond);

void BM_PixmanFrame(benchmark::State& state) {
  std::vector<Layer> layers = MakeLayers();
  std::vector<std::vector<uint32_t>> premultiplied;
  std::vector<pixman_image_t*> images;
  for (const Layer& l : layers) {
    std::vector<uint32_t> px(l.image.pixels.size());
    for (size_t i = 0; i < px.size(); ++i) {
      const uint32_t p = l.image.pixels[i], a = p >> 24;
      px[i] = a << 24 | ((p >> 16 & 0xFF) * a / 255) << 16 | ((p >> 8 & 0xFF) * a / 255) << 8 | (p & 0xFF) * a / 255;
    }
    premultiplied.push_back(std::move(px));
    images.push_back(pixman_image_create_bits(PIXMAN_a8r8g8b8, l.image.width, l.image.height,
                                              premultiplied.back().data(), l.image.width * 4));
  }
  std::vector<uint32_t> target(static_cast<size_t>(kW) * kH);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, target.data(), kW * 4);
  const pixman_color_t black{0, 0, 0, 0xFFFF};
  pixman_image_t* clear = pixman_image_create_solid_fill(&black);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, clear, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    for (size_t i = 0; i < layers.size(); ++i)
      pixman_image_composite32(PIXMAN_OP_OVER, images[i], nullptr, dst, 0, 0, 0, 0, layers[i].x, layers[i].y,
                               layers[i].image.width, layers[i].image.height);
    benchmark::DoNotOptimize(target[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  for (auto* i : images) pixman_image_unref(i);
  pixman_image_unref(clear);
  pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanFrame)->Unit(benchmark::kMillisecond);

// A few sprites over one opaque full-screen layer (a background with three
// 96 x 96 alpha icons), the render pass without the present, beside pixman
// composing the same four OVER a cleared buffer. The background drawn over
// the clear colour again unchanged is a plain copy of its last result.
std::vector<Layer> FewLayers() {
  std::vector<Layer> all = MakeLayers(), few;
  few.push_back(all[0]);
  for (int i = 0; i < 3; ++i) few.push_back({kivtools::MakeTestPicture(96, 96, 30 + i), 200 + 300 * i, 300});
  return few;
}

void BM_SoftFewSpritesOverOpaque(benchmark::State& state) {
  plat::UseHeadless(true);
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.clientWidth = p.screenWidth = kW;
  p.clientHeight = p.screenHeight = kH;
  p.mode &= ~KIV_MODE_GPU;
  p.flags |= KIV_FLAG_HIDDEN;
  p.startCallback = Start;
  p.endCallback = End;
  if (!KivInit(&p)) {
    state.SkipWithError("engine did not start");
    return;
  }
  KivRenderList* list = KivRenderInit();
  KivRenderSetActive(list);
  std::vector<KivSprite*> sprites;
  int priority = 100;
  for (const Layer& l : FewLayers()) {
    kivtools::GeOptions o;
    o.method = 1;
    std::vector<uint8_t> ge = kivtools::EncodeGe(l.image, o);
    KivSprite* s = KivSpriteLoadMemory(list, "layer", ge.data(), static_cast<int>(ge.size()), priority--);
    KivSpriteSetPos(s, static_cast<float>(l.x), static_cast<float>(l.y));
    sprites.push_back(s);
  }
  void* core = KivGetCore();
  for (auto _ : state) {
    kKivSoftRenderer.beginFrame(core, 0xFF000000u);
    for (KivRenderNode* n = list->head.next; n; n = n->next) n->draw(core, n->object);
    benchmark::DoNotOptimize(g_kiv->soft->backBuffer[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  for (KivSprite* s : sprites) KivSpriteRelease(list, s);
  KivRenderSetActive(nullptr);
  KivRenderUninit(list);
  KivUninit();
}
BENCHMARK(BM_SoftFewSpritesOverOpaque)->Unit(benchmark::kMillisecond);

void BM_PixmanFewSpritesOverOpaque(benchmark::State& state) {
  std::vector<Layer> layers = FewLayers();
  std::vector<std::vector<uint32_t>> premultiplied;
  std::vector<pixman_image_t*> images;
  for (const Layer& l : layers) {
    std::vector<uint32_t> px(l.image.pixels.size());
    for (size_t i = 0; i < px.size(); ++i) {
      const uint32_t q = l.image.pixels[i], a = q >> 24;
      px[i] = a << 24 | ((q >> 16 & 0xFF) * a / 255) << 16 | ((q >> 8 & 0xFF) * a / 255) << 8 | (q & 0xFF) * a / 255;
    }
    premultiplied.push_back(std::move(px));
    images.push_back(pixman_image_create_bits(PIXMAN_a8r8g8b8, l.image.width, l.image.height,
                                              premultiplied.back().data(), l.image.width * 4));
  }
  std::vector<uint32_t> target(static_cast<size_t>(kW) * kH);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, target.data(), kW * 4);
  const pixman_color_t black{0, 0, 0, 0xFFFF};
  pixman_image_t* clear = pixman_image_create_solid_fill(&black);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, clear, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    for (size_t i = 0; i < layers.size(); ++i)
      pixman_image_composite32(PIXMAN_OP_OVER, images[i], nullptr, dst, 0, 0, 0, 0, layers[i].x, layers[i].y,
                               layers[i].image.width, layers[i].image.height);
    benchmark::DoNotOptimize(target[kW * kH / 2]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  for (auto* i : images) pixman_image_unref(i);
  pixman_image_unref(clear);
  pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanFewSpritesOverOpaque)->Unit(benchmark::kMillisecond);

}  // namespace
