// The typical 1280 x 720 frame of soft_render_bench (an opaque background,
// three alpha characters of about 600 x 700, a 1280 x 240 message panel)
// drawn by both renderers through the whole render pass, with the present;
// the ratio is the software time over the GPU time. Beside them the GPU's
// full-screen upload of a changed surface and its read-back of a frame.
// The GPU is whatever EGL gives this process (llvmpipe without one); the
// counters name it.
//
//   LP_NUM_THREADS=0 build/bench/gpu_render_bench   (llvmpipe on one core)
//   build/bench/gpu_render_bench                     (llvmpipe's own threads)
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "frame_scene.h"
#include "image_encoder.h"
#include "platform/core/backend.h"
#include "platform/gpu/gpu_device.h"
#include "render/gpu_context.h"
#include "render/renderer.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace {

using frame_scene::kH;
using frame_scene::kW;

int Start() { return 1; }
void End(void*) {}

struct Engine {
  KivRenderList* list = nullptr;
  std::vector<KivSprite*> sprites;
  explicit Engine(bool gpu) {
    plat::UseHeadless(true);
    Kiv3DAllowHeadless(gpu);
    KivSystemParameters p;
    KivDefaultCreate(&p);
    p.clientWidth = p.screenWidth = kW;
    p.clientHeight = p.screenHeight = kH;
    if (gpu) p.mode |= KIV_MODE_GPU | KIV_MODE_TEX_FILTER_NEAREST;
    else p.mode &= ~KIV_MODE_GPU;
    p.flags |= KIV_FLAG_HIDDEN;
    p.startCallback = Start;
    p.endCallback = End;
    if (!KivInit(&p)) return;
    if ((Kiv3DIs() != 0) != gpu) return;
    list = KivRenderInit();
    KivRenderSetActive(list);
    sprites = frame_scene::LoadLayers(list);
  }
  ~Engine() {
    if (g_kiv && list) {
      for (KivSprite* s : sprites) KivSpriteRelease(list, s);
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
    }
    if (g_kiv) KivUninit();
    Kiv3DAllowHeadless(false);
  }
  bool ok() const { return list && sprites.size() == 5; }
};

void Frames(benchmark::State& state, bool gpu) {
  Engine e(gpu);
  if (!e.ok()) {
    state.SkipWithError(gpu ? "no GPU renderer here" : "engine did not start");
    return;
  }
  KivRenderFrame();  // textures made and uploaded once
  for (auto _ : state) benchmark::DoNotOptimize(KivRenderFrame());
  state.SetItemsProcessed(state.iterations());
  if (gpu) state.SetLabel(plat::gpu::GetInfo(static_cast<Kiv3DContext*>(g_kiv->gpu)->device).renderer);
}

void BM_SoftFrame(benchmark::State& state) { Frames(state, false); }
BENCHMARK(BM_SoftFrame)->Unit(benchmark::kMillisecond);

void BM_GpuFrame(benchmark::State& state) { Frames(state, true); }
BENCHMARK(BM_GpuFrame)->Unit(benchmark::kMillisecond);

// A full-screen surface changed every frame (a movie frame, say): its
// texture is uploaded again at the next draw.
void BM_GpuFullScreenUpload(benchmark::State& state) {
  Engine e(true);
  if (!e.ok()) {
    state.SkipWithError("no GPU renderer here");
    return;
  }
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  Kiv3DCurrent(c);
  auto* surface = static_cast<KivSoftSurface*>(e.sprites[0]->surface);
  for (auto _ : state) {
    KivSoftSurfaceTouch(surface->entry);
    benchmark::DoNotOptimize(Kiv3DTextureOf(c, surface->entry));
  }
  plat::gpu::ReadPixels(c->device, c->renderTarget, 0, 0, 1, 1, &c->store->backBuffer[0], 1);  // waits for the GPU
  state.SetBytesProcessed(state.iterations() * int64_t{2048} * 1024 * 4);
}
BENCHMARK(BM_GpuFullScreenUpload)->Unit(benchmark::kMillisecond);

// The finished frame's screen block read back (last frame, captures).
void BM_GpuReadBack(benchmark::State& state) {
  Engine e(true);
  if (!e.ok()) {
    state.SkipWithError("no GPU renderer here");
    return;
  }
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  KivRenderFrame();
  std::vector<uint32_t> px(static_cast<size_t>(kW) * kH);
  for (auto _ : state) benchmark::DoNotOptimize(Kiv3DGetBackBuffer(kH, c, kW, px.data()));
  state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}
BENCHMARK(BM_GpuReadBack)->Unit(benchmark::kMillisecond);

}  // namespace
