// The engine's core: the system record, start-up and shutdown, the window,
// worker and game threads, the frame loop, memory, lists, random numbers, the log.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// The system record, start-up and shut-down of the engine.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/fault_inject.h"
#include "platform/core/clock.h"
#include "platform/core/close_signal.h"
#include "platform/window/display.h"
#include "platform/core/error.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/module.h"
#include "platform/core/text_encoding.h"
#include "platform/core/threads.h"
#include "render/gpu_context.h"
#include "render/renderer.h"
#include "render/soft_screen.h"
#include "core/system_state.h"
#include "ui/ui.h"

KivSystemState* g_kiv = nullptr;
std::atomic<uint32_t> g_kivFaults{0};
// The engine's load buffer: files are read whole into it for decoding.
unsigned char* KivLoadBuffer = nullptr;
constexpr int kKivLoadBufferSize = 0x2000001;

const char* KivText(const char* utf8) { return plat::Sjis(utf8); }

namespace {

int InitError(const char* utf8) {
  plat::MessageBox(nullptr, KivText(utf8), "initialize error", plat::kMbOk);
  return 0;
}

// Releases every service in the reverse order of start-up. Each step copes
// with a service that never came up, so a failed start-up is undone too.
void ReleaseServices(KivSystemState* s) {
  s->running.store(0);
  KivTaskUninit();
  KivButtonReleaseAll();
  KivFontReleaseAll();
  if (KivSystemPathClear()) {
    KivListRelease(s->searchPaths);
    s->searchPaths = nullptr;
  }
  KivRandomRelease();
  KivSoundUninit();
  KivInputRelease();
  KivEffectUninit();
  s->renderer = nullptr;
  if (s->soft) {
    KivSoftScreenRelease(s->soft);
    s->soft = nullptr;
  }
  Kiv3DRelease();
  KivLeakReport();
  std::free(KivLoadBuffer);
  KivLoadBuffer = nullptr;
  KivErrorLogClose();
}

// The window's end leaves a quit message in this thread's queue; a later
// engine in the same process must not find it.
void DrainQueue() {
  plat::Msg m;
  while (plat::PeekMessage(&m, true)) {
  }
}

void FreeRecord(KivSystemState* s) {
  g_kiv = nullptr;
  delete s;
}

}  // namespace

KivRendererSetup KivRendererSetupFrom(const KivSystemParameters& p, plat::Window* window) {
  KivRendererSetup r;
  r.window = window;
  r.clientWidth = p.clientWidth;
  r.clientHeight = p.clientHeight;
  r.screenWidth = p.screenWidth;
  r.screenHeight = p.screenHeight;
  if (p.mode & KIV_MODE_LEGACY_RENDER) r.options |= 0x1;
  if (p.pacing == 1) r.options |= 0x2;
  if (p.mode & KIV_MODE_SHADER) r.options |= 0x4;
  r.adapter = p.adapter;
  r.aspect = p.aspect;
  if (p.mode & KIV_MODE_FS_FILTER_BICUBIC) r.fullScreenFilter = 3;
  else if (p.mode & KIV_MODE_FS_FILTER_BILINEAR) r.fullScreenFilter = 2;
  else if (p.mode & KIV_MODE_FS_FILTER_NEAREST) r.fullScreenFilter = 1;
  else r.fullScreenFilter = (p.mode & KIV_MODE_LEGACY_RENDER) ? 2 : 0;
  if (p.mode & KIV_MODE_TEX_FILTER_BILINEAR) r.textureFilter = 2;
  else if (p.mode & KIV_MODE_TEX_FILTER_NEAREST) r.textureFilter = 1;
  else r.textureFilter = (p.mode & KIV_MODE_LEGACY_RENDER) ? 2 : 0;
  return r;
}

extern "C" KIV_API void KivDefaultCreate(KivSystemParameters* out) {
  if (!out) return;
  std::memset(out, 0, sizeof *out);
  plat::Rect d = plat::DesktopRect();
  out->title = "WindowTitle";
  out->className = "CLASS";
  out->style = 0x02CB0000u;
  out->frameRate = 60;
  out->x = (d.width() - 960) >> 1;
  out->y = (d.height() - 600) >> 1;
  out->clientWidth = 960;
  out->clientHeight = 600;
  out->screenWidth = 960;
  out->screenHeight = 600;
  out->surfaceCapacity = 200;
  out->reserved = 500;
  out->randomTableSize = 2000;
  out->mode = 0x441B;
  out->pacing = 2;
  out->aspect = 1;
}

int KivInitSystem(plat::Window* window, KivSystemParameters* params) {
  if (KivFaultHit(KivFault::kRecord)) return 0;
  auto* s = new (std::nothrow) KivSystemState;
  if (!s) return 0;
  g_kiv = s;
  g_kivSystemEnd.store(0);
  s->timerPeriod = plat::TimerMinPeriod();

  s->params = *params;
  auto fail = [s](const char* utf8) {
    InitError(utf8);
    ReleaseServices(s);
    FreeRecord(s);
    return 0;
  };
  if (!s->params.startCallback) return fail("first func error");
  if (s->params.frameRate == 0) s->params.frameRate = 60;  // 0 fps would divide by zero

  s->window = window;
  s->clearColour = 0xFF000000u;
  s->font = KivFontState{};
  // Kept in Shift-JIS like every name the engine handles.
  std::string base = plat::Utf8ToCp932(plat::FolderOf(plat::ModuleFileName(s->params.instance)));
  std::snprintf(s->baseFolder, sizeof s->baseFolder, "%s", base.c_str());
  KivErrorLogOpen();

  if (!KivFaultHit(KivFault::kLoadBuffer))
    KivLoadBuffer = static_cast<unsigned char*>(std::malloc(kKivLoadBufferSize));
  if (!KivLoadBuffer) return fail("メモリ確保に失敗。\n0x00");
  s->liveAllocations.store(0);
  s->loadBufferSize = kKivLoadBufferSize;

  KivRendererSetup setup = KivRendererSetupFrom(s->params, window);
  if (s->params.mode & KIV_MODE_GPU) {
    s->gpu = Kiv3DCreate(setup);
    if (s->gpu) {
      s->soft = Kiv3DTakeStore(s->gpu);  // the CPU surfaces behind the textures
      KivDebugLog("Direct3D mode -> OK");
    } else {
      Kiv3DRelease();
      KivDebugLog("DIB mode");
      s->params.mode &= ~KIV_MODE_GPU;
      s->soft = KivSoftScreenCreate(setup);
      if (!s->soft) return fail("システムの初期化に失敗。\n0x01");
      plat::MessageBox(window,
                       KivText("お使いのグラフィックカードが DirectX9.0c に対応しておりません。\n"
                               "その為、本ソフトを DIB モードで起動することにいたします。\n"
                               "この場合大変申し訳ありませんが、通常モードと同じ動作を保証する事が出来ません。\n"
                               "ご了承下さい。"),
                       KivText("警告"), plat::kMbOk | plat::kMbIconWarning);
    }
  } else {
    s->soft = KivSoftScreenCreate(setup);
    if (!s->soft) return fail("システムの初期化に失敗。\n0x02");
  }

  if (s->gpu) {
    if (!Kiv3DCreateSurfaces(s->gpu, s->params.surfaceCapacity)) return fail("システムの初期化に失敗。\n0x04");
  } else {
    if (!KivSoftSurfaceTableCreate(s->soft, s->params.surfaceCapacity))
      return fail("システムの初期化に失敗。\n0x05");
  }

  s->renderer = s->gpu ? &kKiv3DRenderer : &kKivSoftRenderer;

  if (!KivEffectInit()) return fail("エフェクトの初期化に失敗。\n0x07");
  if (!KivInputInit()) return fail("入力処理の初期化に失敗。\n0x03");
  if (!KivTaskInit()) return fail("システムの初期化に失敗。\n0x06");
  if (!KivSoundInit()) return fail("サウンドの初期化に失敗\nスピーカー等の再生環境を確認してください。\n0x09");
  if (!KivRandomInit()) return fail("システムの初期化に失敗。\n0x0A");
  KivGeometryInit();
  s->searchPaths = KivListCreate();  // a missing list only means: base folder alone

  if (s->params.debug) {
    KivDebugStart();
    KivDebugLog(KivText("ライブラリ初期化->OK"));
    KivDebugLog(KivText("ライブラリデバッグモード"));
  }
  s->running.store(1);
  return 1;
}

extern "C" KIV_API int KivInit(KivSystemParameters* params) {
  if (!params) return 0;
  if (g_kiv) return 0;  // one engine per process
  KivScriptedRunStart();

  if (KivPositionOffScreen(params->x, params->y))  // centred on the game's display instead
    KivCentreOnDisplay(KivHomeDisplay(params->adapter), params->clientWidth, params->clientHeight, &params->x,
                       &params->y);

  plat::WindowDesc desc;
  desc.title = params->title ? params->title : "";
  desc.x = params->x;
  desc.y = params->y;
  desc.width = params->clientWidth;
  desc.height = params->clientHeight;
  desc.create_param = params;
  plat::CloseOnTerminationSignals(nullptr);  // before any thread the window may start
  plat::Window* window = KivFaultHit(KivFault::kWindow) ? nullptr : plat::Window::Create(desc, KivWindowProc);
  if (window) plat::CloseOnTerminationSignals(window);
  if (!window) {
    plat::MessageBox(nullptr, KivText("システムの初期化時に問題が生じました。"), KivText("警告"),
                     plat::kMbOk | plat::kMbIconWarning);
    return 0;
  }
  if (!KivInitSystem(window, params)) {
    window->Destroy();
    DrainQueue();
    return 0;
  }
  if (!(params->flags & KIV_FLAG_HIDDEN)) {
    window->backend()->Show(true);
    g_kiv->active.store(1);
  }
  return 1;
}

extern "C" KIV_API int KivUninit(void) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  // A thread that outlived the stop routine's bounded wait is waited for
  // here: the record must not be freed under a running thread.
  // A thread still there (KivRun failed half way, or a thread outlived the
  // stop routine's bounded wait) is asked to stop and waited for, serving
  // messages meanwhile: the record must not be freed under a running thread.
  for (auto* t : {&s->workerThread, &s->gameThread}) {
    if (!*t) continue;
    KivPostRetry(t->get(), plat::kMsgApp + 0x64, 0, 0);
    while (plat::MsgWaitForThread(t->get(), 10) != plat::WaitResult::kEvent) KivPumpMessage();
    (*t)->Release();
    t->reset();
  }
  KivDebugCloseWindows();  // all debug windows go at shut-down

  KivMovieUninit();
  ReleaseServices(s);
  plat::CloseOnTerminationSignals(nullptr);
  plat::TakePendingTerminationRequests();  // the program ends already
  if (s->window) s->window->Destroy();
  FreeRecord(s);
  DrainQueue();
  return 1;
}

extern "C" KIV_API int KivEnd(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  plat::Window* w = s->window;
  if (w->queue()->owner() == std::this_thread::get_id())
    return static_cast<int>(w->Send(plat::kMsgApp + 0x69, 0, 0));
  if (s->gameThreadId.load() == std::this_thread::get_id()) s->gameLoop.store(0);
  // Post until accepted; a window that is gone has nothing left to end.
  while (!w->Post(plat::kMsgApp + 0x69, 0, 0)) {
    if (!w->Alive()) break;
    KivPumpMessage();
    plat::Sleep(1);
  }
  return 0;
}

extern "C" KIV_API void KivGetSystemParameters(KivSystemParameters* out) {
  if (out && g_kiv) *out = g_kiv->params;
}
extern "C" KIV_API int KivCheckWindowMode(void) { return g_kiv ? g_kiv->params.fullScreen : 0; }
extern "C" KIV_API int KivCheckAspectMode(void) { return g_kiv ? g_kiv->params.aspect : 0; }
extern "C" KIV_API void* KivGetCore(void) {
  if (!g_kiv) return nullptr;
  return (g_kiv->params.mode & KIV_MODE_GPU) ? g_kiv->gpu : static_cast<void*>(g_kiv->soft);
}
extern "C" KIV_API int Kiv3DIs(void) { return g_kiv ? static_cast<int>(g_kiv->params.mode & KIV_MODE_GPU) : 0; }
extern "C" KIV_API int KivDebugIs(void) { return g_kiv ? g_kiv->params.debug : 0; }
extern "C" KIV_API char* KivGetFilePath(void) { return g_kiv ? g_kiv->baseFolder : nullptr; }
extern "C" KIV_API const char* KivGetCmdLine(void) { return g_kiv ? g_kiv->params.cmdLine : nullptr; }
extern "C" KIV_API KivWindow KivGetWindowHandle(void) { return g_kiv ? g_kiv->window : nullptr; }
extern "C" KIV_API KivInstance KivGetInstanceHandle(void) { return g_kiv ? g_kiv->params.instance : nullptr; }
extern "C" KIV_API int IsMovie(void) { return g_kiv ? g_kiv->moviePlaying.load() : 0; }
extern "C" KIV_API int IsSystemEnd(void) { return g_kivSystemEnd.load(); }
