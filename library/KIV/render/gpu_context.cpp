// The GPU renderer's device context: creation with its checks, the render
// target with the logical screen centred in it, the frame calls, the final
// pass into the aspect rectangle, present, read-back, device loss and its
// bounded restore, and the texture caches of CPU surfaces.
#include "render/gpu_context.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "core/fault_inject.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/message_box.h"

namespace gpu = plat::gpu;

namespace {

bool g_allowHeadless = [] {
  const char* v = std::getenv("KIV_HEADLESS_GPU");
  return v && *v && std::strcmp(v, "0") != 0;
}();

void Debug(const char* utf8) { plat::DebugOutput(KivText(utf8)); }

void DebugF(const char* format, unsigned value) {
  char line[128];
  std::snprintf(line, sizeof line, format, value);
  plat::DebugOutput(line);
}

// Render target and the two effect targets.
bool CreateTargets(Kiv3DContext* c) {
  c->renderTarget = gpu::TargetCreate(c->device, c->rtWidth, c->rtHeight);
  if (!c->renderTarget) {
    DebugF("CreateRenderTarget : %X", 1);
    return false;
  }
  for (uint32_t& t : c->effectTarget) {
    t = gpu::TargetCreate(c->device, c->rtWidth, c->rtHeight);
    if (!t) {
      DebugF("CreateEffectTarget : %X", 1);
      return false;
    }
  }
  return true;
}

void ReleaseTargets(Kiv3DContext* c) {
  // The last frame leaves the render target with it: kept in the store
  // first, while the device can still give it.
  if (!c->lost && c->renderTarget) Kiv3DResolveBackBuffer(c);
  c->frameUnread.store(false);
  gpu::TextureDelete(c->device, c->cpuFrame);
  c->cpuFrame = 0;
  c->cpuFrameWidth = c->cpuFrameHeight = 0;
  gpu::TargetDelete(c->device, c->renderTarget);
  for (uint32_t& t : c->effectTarget) gpu::TargetDelete(c->device, t);
  c->renderTarget = c->effectTarget[0] = c->effectTarget[1] = 0;
}

void ReleaseTextures(Kiv3DContext* c) {
  for (auto& [entry, t] : c->cache) gpu::TextureDelete(c->device, t.texture);
  c->cache.clear();
}

// Blend and alpha test as every frame starts: alpha blending, clamped
// sampling; the target cleared to opaque black.
int SetDeviceState(Kiv3DContext* c) {
  gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  if (!gpu::BindTarget(c->device, c->renderTarget)) {
    Debug("SetDeviceState : Clear");
    return 1;
  }
  gpu::Clear(c->device, 0xFF000000u);
  return 0;
}

// What the device holds, made at creation and again after a reset: the
// targets, the bicubic program (without it the bicubic filter falls back to
// none), the effect set, and the state every frame starts from.
bool MakeDeviceObjects(Kiv3DContext* c) {
  if (!CreateTargets(c)) return false;
  if (Kiv3DLoadBicubic(c) <= 0 && c->fullScreenFilter == 3) c->fullScreenFilter = 0;
  Kiv3DCreateEffectResources(c);
  return SetDeviceState(c) == 0;
}

// The logical screen's block inside the render target.
int BlockLeft(const Kiv3DContext* c) { return (c->rtWidth - c->screenWidth) >> 1; }
int BlockTop(const Kiv3DContext* c) { return (c->rtHeight - c->screenHeight) >> 1; }

}  // namespace

void Kiv3DAllowHeadless(bool on) { g_allowHeadless = on; }

bool Kiv3DCurrent(Kiv3DContext* c) { return c && c->device && gpu::MakeCurrent(c->device); }

bool Kiv3DCurrentHere(Kiv3DContext* c) { return c && c->device && gpu::CurrentHere(c->device); }

int Kiv3DSetPresentParameters(Kiv3DContext* c) {
  const gpu::Info& info = gpu::GetInfo(c->device);
  if (info.major * 10 + info.minor < 33) {
    Debug("MaxVertexIndex < 0xFFFF");
    return 1;
  }
  // The render target must fit a texture.
  if (c->rtWidth > info.maxTextureSize || c->rtHeight > info.maxTextureSize) return 2;
  gpu::SetSwapInterval(c->device, (c->setup.options & 0x2) ? 1 : 0);
  return 0;
}

namespace {

// GL work of creation and release runs on a helper thread: the window
// thread may have the window system's own GL context current (the software
// present's renderer), beside which ours cannot be made current. The game
// thread takes the context at its first frame.
template <typename F>
auto OffThread(F f) -> decltype(f()) {
  decltype(f()) result{};
  std::thread t([&] { result = f(); });
  t.join();
  return result;
}

}  // namespace

Kiv3DContext* Kiv3DCreateContext(const KivRendererSetup& setup) {
  const bool headless = plat::WindowBackendKind() == plat::Backend::kHeadless;
  if (headless && !g_allowHeadless) return nullptr;
  auto* c = new (std::nothrow) Kiv3DContext;
  if (!c) return nullptr;
  c->setup = setup;
  c->screenWidth = setup.screenWidth;
  c->screenHeight = setup.screenHeight;
  c->rtWidth = KivPowerOfTwo(setup.screenWidth);
  c->rtHeight = KivPowerOfTwo(setup.screenHeight);
  c->fullScreenFilter = setup.fullScreenFilter;
  c->textureFilter = setup.textureFilter;
  c->windowed = 1;
  c->style = g_kiv ? g_kiv->params.style : 0;
  auto fail = [c](const char* utf8) {
    if (utf8) Debug(utf8);
    Kiv3DReleaseContext(c);
    return static_cast<Kiv3DContext*>(nullptr);
  };
  if (c->rtWidth == 0 || c->rtHeight == 0) return fail("デバイスの設定に失敗。");
  // Each step's failure names itself; everything made is released.
  auto steps = [c, &setup, headless]() -> const char* {
    std::string why;
    c->device = gpu::Create(setup.window, headless, &why);
    if (!c->device) {
      plat::DebugOutput(("GPU device: " + why + "\n").c_str());
      return "DirectCreate9のインターフェイスの取得に失敗。";
    }
    plat::DebugOutput(("GPU present: " + gpu::GetInfo(c->device).present + "\n").c_str());
    if (Kiv3DSetPresentParameters(c) != 0) return "デバイスの設定に失敗。";
    Kiv3DSetPerspective(c, 0.7853982f, 1.0f, 0.1f, 100.0f);
    const float up[3] = {0, 1, 0}, at[3] = {0, 0, 0}, eye[3] = {0, 0, -5.0f};
    Kiv3DCameraUpdate(c, up, at, eye);
    if (!MakeDeviceObjects(c)) return "";
    return nullptr;
  };
  const char* failed = OffThread([c, &steps] {
    const char* r = steps();
    if (c->device) gpu::ReleaseCurrent(c->device);  // never left current on a thread that ends
    return r;
  });
  if (failed) return fail(*failed ? failed : nullptr);

  // CPU surfaces: the same table and pixel routines as the software
  // renderer, allocated in powers of two.
  c->store = KivSoftScreenCreate(setup);
  if (!c->store) return fail(nullptr);
  c->store->powerOfTwo = 1;
  c->store->maxSurfaceSide = gpu::GetInfo(c->device).maxTextureSize;
  Kiv3DSetAspectRect(c);
  return c;
}

void Kiv3DReleaseContext(Kiv3DContext* c) {
  if (!c) return;
  if (c->device) {
    auto release = [c] {
      if (gpu::MakeCurrent(c->device)) {
        Kiv3DReleaseDefaultPool(c);
        gpu::ProgramDelete(c->device, c->bicubic);
        c->bicubic = 0;
        ReleaseTextures(c);
        ReleaseTargets(c);
      }
      gpu::Destroy(c->device);
      return 0;
    };
    // Where the context is current it is released here; else on a helper
    // thread (the thread that drew it has let go of it).
    if (gpu::CurrentHere(c->device)) release();
    else OffThread(release);
    c->device = nullptr;
  }
  if (c->store && !c->storeHandedOver) KivSoftScreenRelease(c->store);
  c->store = nullptr;
  delete c;
}

int Kiv3DLoadBicubic(Kiv3DContext* c) {
  if (c->fullScreenFilter != 3) return 1;
  gpu::ProgramDelete(c->device, c->bicubic);  // a restore loads it again: the old one goes first
  c->bicubic = 0;
  const KivFxModule module;
  if (!module.Resource("BICUBIC")) {
    plat::DebugOutput("Load Library Error : FX.dll \n");
    return 0;
  }
  c->bicubic = Kiv3DEffectProgram(c, module, "BICUBIC", "BiCubic");
  if (!c->bicubic) {
    plat::DebugOutput("Load Library Error : FX.dll \n");
    return 0;
  }
  // The render target and its screen block do not change: set once.
  const float rw = static_cast<float>(c->rtWidth), rh = static_cast<float>(c->rtHeight);
  const float size[2] = {rw, rh}, diff = 2.0f / rw;
  const float blockMin[2] = {static_cast<float>(BlockLeft(c)), static_cast<float>(BlockTop(c))};
  const float blockMax[2] = {blockMin[0] + static_cast<float>(c->screenWidth) - 1.0f,
                             blockMin[1] + static_cast<float>(c->screenHeight) - 1.0f};
  gpu::ProgramSet(c->device, c->bicubic, "TexSize", size, 2);
  gpu::ProgramSet(c->device, c->bicubic, "TexDiffU", &diff, 1);
  gpu::ProgramSet(c->device, c->bicubic, "BlockMin", blockMin, 2);
  gpu::ProgramSet(c->device, c->bicubic, "BlockMax", blockMax, 2);
  return 1;
}

void Kiv3DSetAspectRect(Kiv3DContext* c) {
  KivSoftScreen* st = c->store;
  if (!st) return;
  const bool full = g_kiv && g_kiv->params.fullScreen && !st->wholeClient;
  // A window that starts full screen (or reaches it without a mode change)
  // carries the full-screen style from then on, as a mode change would set it.
  if (c->windowed != (full ? 0 : 1) && g_kiv) c->style = full ? kKiv3DFullScreenStyle : g_kiv->params.style;
  c->windowed = full ? 0 : 1;
  // The rectangle the software present shows into: the client area windowed,
  // and full screen already relative to the monitor's corner, where the frame starts.
  const plat::Rect r = st->view;
  int ow = st->clientWidth, oh = st->clientHeight;
  if (full) {
    ow = st->monitor.width();
    oh = st->monitor.height();
  }
  if (ow <= 0 || oh <= 0) return;
  c->aspectRect = r;
  c->outputWidth = ow;
  c->outputHeight = oh;
  if (c->device && gpu::CurrentHere(c->device)) gpu::SetOutputSize(c->device, ow, oh);
}

int Kiv3DBackBufferClear(Kiv3DContext* c, uint32_t colour) {
  if (!gpu::BindTarget(c->device, c->renderTarget)) {
    Debug("BackBufferClear : SetRenderTarget");
    return 1;
  }
  gpu::Clear(c->device, colour);
  c->storeNewer.store(false);  // a frame of the render target's own begins
  return 0;
}

int Kiv3DBeginScene(Kiv3DContext* c) {
  if (c->lost) return 0;
  return 1;
}

namespace {

// Clears the window's frame (the output) to black and copies the texture
// block (u0, v0)-(u1, v1) into dst of it.
bool DrawIntoOutput(Kiv3DContext* c, gpu::DrawCall call, const plat::Rect& dst, float u0, float v0, float u1,
                    float v1) {
  gpu::SetOutputSize(c->device, c->outputWidth, c->outputHeight);
  if (!gpu::BindTarget(c->device, 0)) return false;
  gpu::Clear(c->device, 0xFF000000u);
  const float ow = static_cast<float>(c->outputWidth), oh = static_cast<float>(c->outputHeight);
  const float l = 2.0f * static_cast<float>(dst.left) / ow - 1.0f, r = 2.0f * static_cast<float>(dst.right) / ow - 1.0f;
  const float t = 1.0f - 2.0f * static_cast<float>(dst.top) / oh, b = 1.0f - 2.0f * static_cast<float>(dst.bottom) / oh;
  gpu::Vertex v[4] = {{l, t, 0xFFFFFFFFu, u0, v0, 0, 0},
                      {r, t, 0xFFFFFFFFu, u1, v0, 0, 0},
                      {r, b, 0xFFFFFFFFu, u1, v1, 0, 0},
                      {l, b, 0xFFFFFFFFu, u0, v1, 0, 0}};
  call.alphaTest = false;
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
  gpu::Draw(c->device, call, gpu::Primitive::kTriangleFan, v, 4);
  gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  return true;
}

}  // namespace

int Kiv3DFinalPass(Kiv3DContext* c) {
  const float rw = static_cast<float>(c->rtWidth), rh = static_cast<float>(c->rtHeight);
  const float u0 = static_cast<float>(BlockLeft(c)) / rw, u1 = u0 + static_cast<float>(c->screenWidth) / rw;
  const float v0 = static_cast<float>(BlockTop(c)) / rh, v1 = v0 + static_cast<float>(c->screenHeight) / rh;
  gpu::DrawCall call;
  call.texture0 = gpu::TargetTexture(c->device, c->renderTarget);
  // Windowed: point filtering; full screen by the filter setting.
  const int filter = c->windowed ? 1 : c->fullScreenFilter;
  call.filter = filter == 2 ? gpu::Filter::kLinear : gpu::Filter::kPoint;
  if (filter == 3 && c->bicubic) call.program = c->bicubic;  // its constant uniforms set as it was made
  // The frame stays in the render target until the next clear; captures
  // and the last-frame copy read it back when they need it.
  c->frameUnread.store(true);
  if (!DrawIntoOutput(c, call, c->aspectRect, u0, v0, u1, v1)) return 0;
  return 1;
}

int Kiv3DPresent(Kiv3DContext* c) {
  if (!gpu::Present(c->device)) {
    c->lost = 1;
    plat::DebugOutput("Present : D3DERR_DEVICELOST");
    return 1;
  }
  return 0;
}

int Kiv3DDeviceTest(Kiv3DContext* c) {
  if (!c) return 0;
  switch (gpu::Test(c->device)) {
    case gpu::Status::kOk: return 0;
    case gpu::Status::kLost: c->lost = 1; return 1;
    case gpu::Status::kResettable: c->lost = 1; return 4;
  }
  return 5;
}

int Kiv3DDeviceReset(Kiv3DContext* c) {
  // Every GL object goes with the old context; the CPU pixels stay and are
  // uploaded again as they are drawn.
  Kiv3DReleaseDefaultPool(c);
  gpu::ProgramDelete(c->device, c->bicubic);
  c->bicubic = 0;
  ReleaseTextures(c);
  ReleaseTargets(c);
  plat::DebugOutput("Reset -> start : Kiv3DDeviceReset\n");
  ++c->resetAttempts;
  if (KivFaultHit(KivFault::kRendererReset) || !gpu::Reset(c->device)) {
    c->lost = 1;
    if (gpu::Test(c->device) == gpu::Status::kLost) {
      Debug("デバイスが消失していて、リセットできない。\n");
      return 2;
    }
    Debug("デバイスの修復に失敗。\n");
    Debug("デバイスのロストの修復を出来ませんでした\n");
    return 5;
  }
  plat::DebugOutput("Reset -> end : Kiv3DDeviceReset\n");
  c->lost = 0;
  if (!MakeDeviceObjects(c)) return 2;
  Kiv3DSetAspectRect(c);
  gpu::SetOutputSize(c->device, c->outputWidth, c->outputHeight);
  return 4;
}

namespace {

// The device objects made again on a device that still works (after resets
// that failed without a loss); false when they cannot be.
bool RemakeDeviceObjects(Kiv3DContext* c) {
  ReleaseTargets(c);
  if (!MakeDeviceObjects(c)) return false;
  Kiv3DSetAspectRect(c);
  gpu::SetOutputSize(c->device, c->outputWidth, c->outputHeight);
  return true;
}

}  // namespace

int Kiv3DDeviceRestore(Kiv3DContext* c) {
  if (!c || !Kiv3DCurrent(c)) return 0;
  // Bounded: a reset that keeps failing gives up after 10 rounds and the
  // lost flag stays, so the next request tries again.
  for (int round = 0; round < c->restoreRounds; ++round) {
    plat::DebugOutput("Reset -> start : Kiv3DDeviceRestore\n");
    const int test = Kiv3DDeviceTest(c);
    if (test == 1) {
      plat::DebugOutput("Reset : D3DERR_DEVICELOST\n");
      return 0;
    }
    if (test == 5) return 0;
    if (test == 0) {
      // The device is fine, but a reset that failed short of a loss (a
      // mode change's) may have taken the objects with it.
      if (!c->renderTarget && !RemakeDeviceObjects(c)) continue;
      c->lost = 0;
      plat::DebugOutput("Reset -> not lost\n");
      plat::DebugOutput("Reset -> end : Kiv3DDeviceRestore\n");
      return 1;
    }
    if (Kiv3DDeviceReset(c) == 4) {
      plat::DebugOutput("Resset -> ok\n");
      plat::DebugOutput("Reset -> end : Kiv3DDeviceRestore\n");
      return 1;
    }
  }
  c->lost = 1;
  return 0;
}

void Kiv3DAfterWindowRequest(Kiv3DContext* c) {
  if (!c || !Kiv3DCurrent(c)) return;
  Kiv3DSetAspectRect(c);
  if (c->lost) Kiv3DDeviceRestore(c);
}

int Kiv3DChangeWindowMode(int windowed, Kiv3DContext* c, uint32_t style) {
  if (!c || !Kiv3DCurrent(c)) return 0;
  windowed = windowed ? 1 : 0;
  const int oldWindowed = c->windowed;
  const uint32_t oldStyle = c->style;
  auto putBack = [&] {
    c->windowed = oldWindowed;
    c->style = oldStyle;
  };
  c->windowed = windowed;
  c->style = style;
  // Going full screen records the windowed rectangle: the window's part
  // does that, on the thread that owns the window, before it moves it.
  if (Kiv3DSetPresentParameters(c) != 0) {
    putBack();
    plat::DebugOutput("error SelectD3DDevice");
    return 0;
  }
  int result = 0;
  for (int round = 0; round < 10; ++round) {
    if (round > 0) plat::Sleep(100);
    result = Kiv3DDeviceReset(c);
    if (result == 4) break;
  }
  if (result != 4) {
    // The mode stays: the old flag and style come back with the window
    // untouched, and a device that still works gets its objects again so
    // the next frame draws (a lost one is left to the frame's restore).
    putBack();
    if (Kiv3DDeviceTest(c) == 0 && RemakeDeviceObjects(c)) c->lost = 0;
    plat::DebugOutput("ChangeWindowMode Error\n");
    return 0;
  }
  if (!KivPlaceScreenModeWindow(windowed ? 0 : 1)) {
    putBack();
    return 0;
  }
  Kiv3DSetAspectRect(c);
  c->style = style;
  plat::DebugOutput(windowed ? "change window mode\n" : "change fullscreen mode\n");
  return 1;
}

void Kiv3DThreadDone(Kiv3DContext* c) {
  if (c && c->device) gpu::ReleaseCurrent(c->device);
}

int Kiv3DGetBackBuffer(int height, Kiv3DContext* c, int width, uint32_t* pixels) {
  if (!c || !pixels || width < c->screenWidth || height < c->screenHeight) return 0;
  if (!gpu::ReadPixels(c->device, c->renderTarget, BlockLeft(c), BlockTop(c), c->screenWidth, c->screenHeight,
                       pixels, width)) {
    plat::DebugOutput("GetBackBuffer : GetRenderTargetData");
    return 0;
  }
  for (int y = 0; y < c->screenHeight; ++y) {
    uint32_t* row = pixels + static_cast<size_t>(y) * width;
    for (int x = 0; x < c->screenWidth; ++x) row[x] |= 0xFF000000u;
  }
  return 1;
}

bool Kiv3DResolveBackBuffer(Kiv3DContext* c) {
  if (!c || !c->store || !c->store->backBuffer) return false;
  if (!c->frameUnread.load()) return true;
  if (!Kiv3DCurrentHere(c)) return true;  // the frame read last stands in
  if (!Kiv3DGetBackBuffer(c->screenHeight, c, c->screenWidth, c->store->backBuffer)) return false;
  c->frameUnread.store(false);
  return true;
}

uint32_t Kiv3DTextureOf(Kiv3DContext* c, const KivSoftSurfaceEntry* e, bool* outOfMemory) {
  if (outOfMemory) *outOfMemory = false;
  if (!c || !e || !e->buffer || !e->buffer->pixels) return 0;
  const int w = e->buffer->width, h = e->buffer->height;
  Kiv3DCacheEntry& t = c->cache[e];
  const uint32_t version = KivSoftSurfaceVersion(e);
  if (t.texture && (t.width != w || t.height != h)) {
    gpu::TextureDelete(c->device, t.texture);
    t = Kiv3DCacheEntry{};
  }
  bool fresh = false;
  if (!t.texture) {
    fresh = true;
    t.texture = gpu::TextureCreate(c->device, w, h, outOfMemory);
    if (!t.texture) {
      c->cache.erase(e);
      return 0;
    }
    t.width = w;
    t.height = h;
    t.version = version - 1;
  }
  if (t.version != version) {
    // Only the changed corner goes up where a writer marked one (a movie
    // frame in its padded surface); a fresh texture, or a change marked
    // without a corner, takes the whole.
    const uint32_t changed = KivSoftSurfaceTakeChanged(const_cast<KivSoftSurfaceEntry*>(e));
    int uw = w, uh = h;
    if (!fresh && changed != kKivCornerWhole && changed != kKivCornerNone) {
      uw = std::min(w, static_cast<int>(changed >> 16));
      uh = std::min(h, static_cast<int>(changed & 0xFFFFu));
    }
    if (!gpu::TextureUpload(c->device, t.texture, uw, uh, e->buffer->pixels, w)) return 0;
    t.version = version;
  }
  return t.texture;
}

void Kiv3DForget(Kiv3DContext* c, const KivSoftSurfaceEntry* e) {
  if (!c) return;
  auto it = c->cache.find(e);
  if (it == c->cache.end()) return;
  if (gpu::CurrentHere(c->device)) gpu::TextureDelete(c->device, it->second.texture);
  c->cache.erase(it);
}

// ---- Start-up and the renderer table ----

void* Kiv3DCreate(const KivRendererSetup& setup) { return Kiv3DCreateContext(setup); }

bool Kiv3DWorthUsing(void* gpu, std::string* why) {
  auto* c = static_cast<Kiv3DContext*>(gpu);
  if (!c || !c->device) {
    *why = gpu::RendererChoice(false, "");
    return false;
  }
  const std::string& renderer = gpu::GetInfo(c->device).renderer;
  if (plat::WindowBackendKind() == plat::Backend::kHeadless) {
    *why = "GPU (" + renderer + ", headless GPU asked for)";
    return true;
  }
  *why = gpu::RendererChoice(true, renderer);
  return !gpu::IsSoftwareRasterizer(renderer) || gpu::GpuForced();
}

int Kiv3DCreateSurfaces(void* gpu, int capacity) {
  auto* c = static_cast<Kiv3DContext*>(gpu);
  return c && c->store ? KivSoftSurfaceTableCreate(c->store, capacity) : 0;
}

KivSoftScreen* Kiv3DTakeStore(void* gpu) {
  auto* c = static_cast<Kiv3DContext*>(gpu);
  if (!c) return nullptr;
  c->storeHandedOver = true;
  return c->store;
}

void Kiv3DRelease(void) {
  if (!g_kiv || !g_kiv->gpu) return;
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  g_kiv->gpu = nullptr;
  if (c->storeHandedOver) c->store = nullptr;  // the system record released it
  Kiv3DReleaseContext(c);
}

void Kiv3DFollowWindow(void) {
  if (g_kiv && g_kiv->gpu) Kiv3DAfterWindowRequest(static_cast<Kiv3DContext*>(g_kiv->gpu));
}

bool Kiv3DScreenModeRequest(int fullScreen) {
  KivSystemState* s = g_kiv;
  if (!s || !s->gpu) return false;
  fullScreen = fullScreen ? 1 : 0;
  // A request that changes nothing touches no GL.
  if (KivScreenModeChanges(fullScreen))
    Kiv3DChangeWindowMode(!fullScreen, static_cast<Kiv3DContext*>(s->gpu),
                          fullScreen ? kKiv3DFullScreenStyle : s->params.style);
  return true;
}

void Kiv3DGameThreadDone(void) {
  if (g_kiv && g_kiv->gpu) Kiv3DThreadDone(static_cast<Kiv3DContext*>(g_kiv->gpu));
}

bool Kiv3DShowCpuFrame(const uint32_t* pixels, int width, int height, plat::Rect dst, bool smooth,
                       bool* failed) {
  *failed = false;
  if (!g_kiv || !g_kiv->gpu || !pixels || width <= 0 || height <= 0) return false;
  // The store's back buffer (a movie frame, the text field's frame) is the
  // last frame now, newer than the render target's.
  static_cast<Kiv3DContext*>(g_kiv->gpu)->frameUnread.store(false);
  static_cast<Kiv3DContext*>(g_kiv->gpu)->storeNewer.store(true);
  // GL and the device's state belong to the game thread; anywhere else (the
  // window thread after an aspect change) the window's present keeps the
  // frame and the game thread's next frame shows the window.
  if (std::this_thread::get_id() != g_kiv->gameThreadId.load()) return false;
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  if (!c->device || !gpu::PresentsDirectly(c->device) || c->lost) return false;
  // The game thread takes the context here when a movie plays before its
  // first frame was drawn.
  if (!Kiv3DCurrent(c)) return false;
  if (!c->cpuFrame || c->cpuFrameWidth != width || c->cpuFrameHeight != height) {
    gpu::TextureDelete(c->device, c->cpuFrame);
    c->cpuFrame = gpu::TextureCreate(c->device, width, height);
    c->cpuFrameWidth = c->cpuFrame ? width : 0;
    c->cpuFrameHeight = c->cpuFrame ? height : 0;
    if (!c->cpuFrame) return false;
  }
  if (!gpu::TextureUpload(c->device, c->cpuFrame, width, height, pixels, width)) return false;
  Kiv3DSetAspectRect(c);  // the output at the window's size as it stands
  gpu::DrawCall call;
  call.texture0 = c->cpuFrame;
  call.filter = smooth ? gpu::Filter::kLinear : gpu::Filter::kPoint;
  if (!DrawIntoOutput(c, call, dst, 0, 0, 1, 1)) return false;
  // A loss is marked; the frame after the restore shows again.
  *failed = Kiv3DPresent(c) != 0;
  return true;
}

namespace {

bool GpuBeginFrame(void* core, uint32_t clear) {
  auto* c = static_cast<Kiv3DContext*>(core);
  if (!Kiv3DCurrent(c)) return false;
  if (c->lost || Kiv3DDeviceTest(c) != 0) {
    // Nothing presents while lost: skipped frames ask for a restore again,
    // at most every 100 ms, so a failed restore does not freeze the screen
    // for good.
    const uint32_t now = plat::TimeGetMs();
    if (!c->askedOnce || now - c->lastRestoreAsk >= 100) {
      c->askedOnce = true;
      c->lastRestoreAsk = now;
      Kiv3DDeviceRestore(c);
    }
    if (c->lost) return false;
  }
  c->askedOnce = false;
  // The window's geometry as it stands now (a mode, size or aspect change
  // done by the window thread shows from this frame on).
  Kiv3DSetAspectRect(c);
  if (Kiv3DBackBufferClear(c, clear) != 0) return false;
  return Kiv3DBeginScene(c) != 0;
}

bool GpuPresent(void* core) {
  auto* c = static_cast<Kiv3DContext*>(core);
  if (!Kiv3DCurrent(c)) return false;
  if (!Kiv3DFinalPass(c)) return false;
  // The player's text field is drawn over the CPU frame, so while it is
  // shown that frame, read back, is what the window shows.
  if (KivTextFieldShown() && c->store && c->store->backBuffer && c->store->window)
    return Kiv3DResolveBackBuffer(c) && KivSoftPresent(c->store) == 0;
  return Kiv3DPresent(c) == 0;
}

}  // namespace

const KivRenderer kKiv3DRenderer = {GpuBeginFrame, GpuPresent, &kKiv3DEffects};
