// The typical 1280 x 720 frame of soft_render_bench (an opaque background,
// three alpha characters of about 600 x 700, a 1280 x 240 message panel)
// drawn by both renderers through the whole render pass, with the present;
// the ratio is the software time over the GPU time. Beside them the GPU's
// full-screen upload of a changed surface (whole, and a movie frame's
// corner beside an exact-size texture's upload) and its read-back of a frame.
// The GPU is whatever EGL gives this process (llvmpipe without one); the
// counters name it.
//
// The GPU frames are drawn headless (the frame read back a second time and
// handed to the in-memory window) and, with an X display, in a real window
// (presented straight into the window surface); the label names the way and
// the read-backs per frame.
//
//   LP_NUM_THREADS=0 build/bench/gpu_render_bench   (llvmpipe on one core)
//   build/bench/gpu_render_bench                     (llvmpipe's own threads)
//   Xvfb :99 & DISPLAY=:99 build/bench/gpu_render_bench   (with the window)
#include <benchmark/benchmark.h>

#include <cstdlib>
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
  explicit Engine(bool gpu, bool window = false) {
    plat::UseHeadless(true);
    if (window) plat::SetWindowBackendKind(plat::Backend::kReal);
    Kiv3DAllowHeadless(gpu);
    if (gpu) ::setenv("KIV_FORCE_GPU", "1", 1);  // llvmpipe in a window too
    KivSystemParameters p;
    KivDefaultCreate(&p);
    p.clientWidth = p.screenWidth = kW;
    p.clientHeight = p.screenHeight = kH;
    if (gpu) p.mode |= KIV_MODE_GPU | KIV_MODE_TEX_FILTER_NEAREST;
    else p.mode &= ~KIV_MODE_GPU;
    if (!window) p.flags |= KIV_FLAG_HIDDEN;
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
    plat::UseHeadless(true);
  }
  bool ok() const { return list && sprites.size() == 5; }
};

void Frames(benchmark::State& state, bool gpu, bool window = false) {
  if (window && !std::getenv("DISPLAY")) {
    state.SkipWithError("no X display");
    return;
  }
  Engine e(gpu, window);
  if (!e.ok()) {
    state.SkipWithError(gpu ? "no GPU renderer here" : "engine did not start");
    return;
  }
  KivRenderFrame();  // textures made and uploaded once
  plat::gpu::Device* device = gpu ? static_cast<Kiv3DContext*>(g_kiv->gpu)->device : nullptr;
  const uint64_t reads = plat::gpu::ReadBacks(device);
  for (auto _ : state) benchmark::DoNotOptimize(KivRenderFrame());
  state.SetItemsProcessed(state.iterations());
  if (gpu) {
    const double perFrame =
        static_cast<double>(plat::gpu::ReadBacks(device) - reads) / static_cast<double>(state.iterations());
    state.counters["read_backs"] = perFrame;
    state.SetLabel(plat::gpu::GetInfo(device).renderer + ", present " + plat::gpu::GetInfo(device).present);
  }
}

void BM_SoftFrame(benchmark::State& state) { Frames(state, false); }
BENCHMARK(BM_SoftFrame)->Unit(benchmark::kMillisecond);

void BM_GpuFrame(benchmark::State& state) { Frames(state, true); }
BENCHMARK(BM_GpuFrame)->Unit(benchmark::kMillisecond);

// The same frame in a real window on the X display, presented straight
// into the window surface.
void BM_GpuFrameInWindow(benchmark::State& state) { Frames(state, true, true); }
BENCHMARK(BM_GpuFrameInWindow)->Unit(benchmark::kMillisecond);

// Uploads of the background's padded 2048 x 1024 surface, each after `mark`
// says what changed, or of a 1280 x 720 texture of exactly the frame's size
// (`surface` false). Waits for the GPU at the end.
template <class Mark>
void Uploads(benchmark::State& state, bool surface, Mark mark, int64_t bytes) {
  Engine e(true);
  if (!e.ok()) {
    state.SkipWithError("no GPU renderer here");
    return;
  }
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  Kiv3DCurrent(c);
  auto* entry = static_cast<KivSoftSurface*>(e.sprites[0]->surface)->entry;
  const uint32_t texture = surface ? 0 : plat::gpu::TextureCreate(c->device, kW, kH);
  std::vector<uint32_t> frame(static_cast<size_t>(kW) * kH, 0xFF336699u);
  for (auto _ : state) {
    if (surface) {
      mark(entry);
      benchmark::DoNotOptimize(Kiv3DTextureOf(c, entry));
    } else {
      benchmark::DoNotOptimize(plat::gpu::TextureUpload(c->device, texture, kW, kH, frame.data(), kW));
    }
  }
  plat::gpu::ReadPixels(c->device, c->renderTarget, 0, 0, 1, 1, &c->store->backBuffer[0], 1);
  if (texture) plat::gpu::TextureDelete(c->device, texture);
  state.SetBytesProcessed(state.iterations() * bytes);
}

// A full-screen surface changed every frame: its whole texture is uploaded
// again at the next draw.
void BM_GpuFullScreenUpload(benchmark::State& state) {
  Uploads(state, true, [](KivSoftSurfaceEntry* e) { KivSoftSurfaceTouch(e); }, int64_t{2048} * 1024 * 4);
}
BENCHMARK(BM_GpuFullScreenUpload)->Unit(benchmark::kMillisecond);

// A movie frame written into the same padded surface: the writer marks the
// 1280 x 720 corner it wrote, and only that corner is uploaded.
void BM_GpuMovieFrameUpload(benchmark::State& state) {
  Uploads(state, true, [](KivSoftSurfaceEntry* e) { KivSoftSurfaceTouchCorner(e, kW, kH); }, int64_t{kW} * kH * 4);
}
BENCHMARK(BM_GpuMovieFrameUpload)->Unit(benchmark::kMillisecond);

// Its peer: the same frame uploaded into a texture of exactly its size, as
// a plain OpenGL program would keep a movie frame.
void BM_ExactSizeTextureUpload(benchmark::State& state) {
  Uploads(state, false, [](KivSoftSurfaceEntry*) {}, int64_t{kW} * kH * 4);
}
BENCHMARK(BM_ExactSizeTextureUpload)->Unit(benchmark::kMillisecond);

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
