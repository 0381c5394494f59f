// What a running game costs the machine: the engine's own frame loop (its
// threads, 60 frames a second paced by the clock) over the typical 1280 x 720
// frame of soft_render_bench, for 90 frames, once with nothing changing (a
// game waiting on a line) and once with a sprite moved every frame; on the
// software renderer and on the GPU renderer (whatever EGL gives this
// process: llvmpipe without a GPU). The counter cpu_pct is the process's CPU
// time over the wall time, in percent of one core (target idle: <= 10);
// frame_ms is the wall time per frame (pacing included); both from frame 10
// to frame 90; cpu_ms_per_frame is the CPU time per frame.
//
// Beside them, with an X display, the peer a game would otherwise use: the
// same composed frame shown through SDL's software renderer in a window of
// the same size, 60 times a second (idle: presented again each frame, as a
// plain SDL loop does; changing: the frame uploaded anew each frame, its
// composition not counted).
//
// Headless (the in-memory window) by default; with an X display also in a
// real window (the window's present included):
//   build/bench/idle_frame_bench
//   Xvfb :99 & DISPLAY=:99 build/bench/idle_frame_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "frame_scene.h"
#include "platform/core/backend.h"
#include "platform/gpu/gpu_device.h"
#include "render/gpu_context.h"
#include "render/pixel_routines.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace {

constexpr int kFrames = 90;

KivRenderList* g_list = nullptr;
std::vector<KivSprite*> g_sprites;
bool g_changing = false;
int g_frame = 0;

double CpuSeconds();

// The scene's files, encoded once before any engine starts.
struct SceneFile {
  std::vector<uint8_t> ge;
  int x, y;
};
const std::vector<SceneFile>& SceneFiles() {
  static const std::vector<SceneFile> files = [] {
    std::vector<SceneFile> v;
    for (const frame_scene::Layer& l : frame_scene::MakeLayers()) {
      kivtools::GeOptions o;
      o.method = 1;
      v.push_back({kivtools::EncodeGe(l.image, o), l.x, l.y});
    }
    return v;
  }();
  return files;
}

// Measured from frame kWarm on (the scene loaded and drawn once).
constexpr int kWarm = 10;
double g_cpu0 = 0, g_cpu1 = 0;
std::chrono::steady_clock::time_point g_wall0, g_wall1;

int Frame(void*) {
  ++g_frame;
  if (g_changing && g_sprites.size() > 1)
    KivSpriteSetPos(g_sprites[1], static_cast<float>(40 + (g_frame % 64)), 20.0f);
  if (g_frame == kWarm) {
    g_cpu0 = CpuSeconds();
    g_wall0 = std::chrono::steady_clock::now();
  }
  if (g_frame == kFrames) {
    g_cpu1 = CpuSeconds();
    g_wall1 = std::chrono::steady_clock::now();
    KivEnd();
  }
  return 1;
}

int Start() {
  g_list = KivRenderInit();
  KivRenderSetActive(g_list);
  int priority = 100;
  for (const SceneFile& f : SceneFiles()) {
    KivSprite* s = KivSpriteLoadMemory(g_list, "layer", f.ge.data(), static_cast<int>(f.ge.size()), priority--);
    KivSpriteSetPos(s, static_cast<float>(f.x), static_cast<float>(f.y));
    g_sprites.push_back(s);
  }
  g_frame = 0;
  return KivTaskCreate(Frame, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "frames") != nullptr;
}

void End(void*) {
  for (KivSprite* s : g_sprites) KivSpriteRelease(g_list, s);
  g_sprites.clear();
  KivRenderSetActive(nullptr);
  KivRenderUninit(g_list);
  g_list = nullptr;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void Run(benchmark::State& state, bool gpu, bool changing, bool window) {
  if (window && !std::getenv("DISPLAY")) {
    state.SkipWithError("no X display");
    return;
  }
  double cpu = 0, wall = 0;
  int frames = 0;
  SceneFiles();
  for (auto _ : state) {
    plat::UseHeadless(true);
    if (window) plat::SetWindowBackendKind(plat::Backend::kReal);
    Kiv3DAllowHeadless(gpu);
    if (gpu) ::setenv("KIV_FORCE_GPU", "1", 1);  // llvmpipe counts too
    KivSystemParameters p;
    KivDefaultCreate(&p);
    p.clientWidth = p.screenWidth = frame_scene::kW;
    p.clientHeight = p.screenHeight = frame_scene::kH;
    if (gpu) p.mode |= KIV_MODE_GPU | KIV_MODE_TEX_FILTER_NEAREST;
    else p.mode &= ~KIV_MODE_GPU;
    if (!window) p.flags |= KIV_FLAG_HIDDEN;
    p.startCallback = Start;
    p.endCallback = End;
    g_changing = changing;
    if (!KivInit(&p)) {
      state.SkipWithError("engine did not start");
      break;
    }
    if ((Kiv3DIs() != 0) != gpu) {
      KivUninit();
      state.SkipWithError("no GPU renderer here");
      break;
    }
    KivRun();
    wall += std::chrono::duration<double>(g_wall1 - g_wall0).count();
    cpu += g_cpu1 - g_cpu0;
    frames += kFrames - kWarm;
    KivUninit();
    ::unsetenv("KIV_FORCE_GPU");
    Kiv3DAllowHeadless(false);
    plat::UseHeadless(true);
  }
  if (wall > 0) {
    state.counters["cpu_pct"] = 100.0 * cpu / wall;
    state.counters["frame_ms"] = 1000.0 * wall / std::max(1, frames);
    state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / std::max(1, frames);
  }
}

// The scene's layers laid over each other once, as the frame a game shows
// (the scene's layers all lie inside the frame).
std::vector<uint32_t> ComposedFrame() {
  std::vector<uint32_t> frame(static_cast<size_t>(frame_scene::kW) * frame_scene::kH, 0xFF000000u);
  for (const frame_scene::Layer& l : frame_scene::MakeLayers())
    KivPixelBlendRect(l.image.pixels.data(), l.image.width,
                      frame.data() + static_cast<size_t>(l.y) * frame_scene::kW + l.x, frame_scene::kW, l.image.width,
                      l.image.height);
  return frame;
}

// The peer: SDL's software renderer showing the frame in a window.
void RunSdlSoftware(benchmark::State& state, bool changing) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X display");
    return;
  }
  const std::vector<uint32_t> frame = ComposedFrame();
  double cpu = 0, wall = 0;
  int frames = 0;
  for (auto _ : state) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      state.SkipWithError("SDL video did not start");
      break;
    }
    SDL_Window* w = SDL_CreateWindow("peer", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, frame_scene::kW,
                                     frame_scene::kH, SDL_WINDOW_SHOWN);
    SDL_Renderer* r = w ? SDL_CreateRenderer(w, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    SDL_Texture* t = r ? SDL_CreateTexture(r, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, frame_scene::kW,
                                           frame_scene::kH)
                       : nullptr;
    if (!t) {
      if (r) SDL_DestroyRenderer(r);
      if (w) SDL_DestroyWindow(w);
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      state.SkipWithError("no SDL software renderer");
      break;
    }
    SDL_UpdateTexture(t, nullptr, frame.data(), frame_scene::kW * 4);
    const auto start = std::chrono::steady_clock::now();
    double cpu0 = 0;
    std::chrono::steady_clock::time_point wall0;
    for (int f = 1; f <= kFrames; ++f) {
      if (f == kWarm) {
        cpu0 = CpuSeconds();
        wall0 = std::chrono::steady_clock::now();
      }
      SDL_Event e;
      while (SDL_PollEvent(&e)) {
      }
      if (changing) SDL_UpdateTexture(t, nullptr, frame.data(), frame_scene::kW * 4);
      SDL_RenderCopy(r, t, nullptr, nullptr);
      SDL_RenderPresent(r);
      std::this_thread::sleep_until(start + std::chrono::microseconds(f * 1000000 / 60));
    }
    cpu += CpuSeconds() - cpu0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    frames += kFrames - kWarm + 1;
    SDL_DestroyTexture(t);
    SDL_DestroyRenderer(r);
    SDL_DestroyWindow(w);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  if (wall > 0) {
    state.counters["cpu_pct"] = 100.0 * cpu / wall;
    state.counters["frame_ms"] = 1000.0 * wall / std::max(1, frames);
    state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / std::max(1, frames);
  }
}

void BM_SoftIdle(benchmark::State& s) { Run(s, false, false, false); }
void BM_SoftChanging(benchmark::State& s) { Run(s, false, true, false); }
void BM_GpuIdle(benchmark::State& s) { Run(s, true, false, false); }
void BM_GpuChanging(benchmark::State& s) { Run(s, true, true, false); }
void BM_SoftIdleInWindow(benchmark::State& s) { Run(s, false, false, true); }
void BM_SoftChangingInWindow(benchmark::State& s) { Run(s, false, true, true); }
void BM_GpuIdleInWindow(benchmark::State& s) { Run(s, true, false, true); }
void BM_GpuChangingInWindow(benchmark::State& s) { Run(s, true, true, true); }
void BM_SdlSoftwareIdleInWindow(benchmark::State& s) { RunSdlSoftware(s, false); }
void BM_SdlSoftwareChangingInWindow(benchmark::State& s) { RunSdlSoftware(s, true); }
BENCHMARK(BM_SoftIdle)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftChanging)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GpuIdle)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GpuChanging)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftIdleInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftChangingInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlSoftwareIdleInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlSoftwareChangingInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GpuIdleInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GpuChangingInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
