// The game thread's frame loop with its pacing and fps count, the worker
// thread, and the frame-time calls.
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "core/fault_inject.h"
#include "core/system_state.h"
#include "debug/debug_window.h"

using plat::kMsgApp;

void KivSetThreadMessageHandler(void (*handler)(const plat::Msg&));
void KivScriptedFrameBegin(void);
void KivScriptedMovieStepped(void);
void KivScriptedFrameEnd(void);
void KivScriptedWorkerTurn(void);
uint32_t KivInputPushMask(void);
uint32_t KivInputOnMask(void);

namespace {

constexpr uint32_t kNoPacing = 0xFFFFFFFFu;
constexpr uint32_t kKeyF11 = 1u << 21;
constexpr uint32_t kKeyControl = 1u << 3;

// ---- Worker ----


thread_local bool t_workerStop = false;

void WorkerMessage(const plat::Msg& m) {
  KivSystemState* s = g_kiv;
  if (m.message == kMsgApp + 0x64) {
    t_workerStop = true;
  } else if (m.message == kMsgApp + 0x6A && m.wParam && s) {
    KivScriptedWorkerTurn();
    // The gate makes "hold the worker" a pause between jobs.
    std::lock_guard gate(s->workerGate);
    reinterpret_cast<KivAttachProc>(m.wParam)(m.lParam);
  }
}

// ---- Game thread messages ----

void SendToWindowHeld(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  KivSystemState* s = g_kiv;
  KivHoldWorker();
  s->window->Send(message, wParam, lParam);
  KivReleaseWorker();
  // The window did its part; the GPU objects follow here, on the thread
  // that owns them, before the next frame.
  Kiv3DFollowWindow();
}

// A screen-mode request. With the GPU renderer the device's part runs here,
// on the thread that owns the context, and sends the window's part on only
// when it succeeded; without it the window thread does everything.
void ChangeModeHeld(int fullScreen) {
  KivSystemState* s = g_kiv;
  KivHoldWorker();
  if (!Kiv3DScreenModeRequest(fullScreen)) s->window->Send(kMsgApp + 0x66, static_cast<uintptr_t>(fullScreen), 0);
  KivReleaseWorker();
  Kiv3DFollowWindow();
}

void GameMessage(const plat::Msg& m) {
  KivSystemState* s = g_kiv;
  switch (m.message) {
    case kMsgApp + 0x64:
      if (KivFaultHit(KivFault::kGameTaskStuck)) break;  // a thread that does not answer
      s->gameLoop.store(0);
      break;
    case kMsgApp + 0x65:
      if (s->windowChangeEnable.load()) ChangeModeHeld(m.wParam ? 1 : 0);
      break;
    case kMsgApp + 0x66:
      SendToWindowHeld(kMsgApp + 0x65, 0, 0);
      break;
    case kMsgApp + 0x67:
      SendToWindowHeld(kMsgApp + 0x6B, m.wParam, m.lParam);
      break;
    case kMsgApp + 0x68:
      SendToWindowHeld(kMsgApp + 0x6C, m.wParam, m.lParam);
      break;
    case kMsgApp + 0x69:
      if (m.wParam == 8) s->input.eventWord.fetch_or(8);
      break;
    case kMsgApp + 0x6A:
      if (m.wParam == 1 || m.wParam == 2 || m.wParam == 4 || m.wParam == 8)
        s->input.eventWord.fetch_or(static_cast<uint32_t>(m.wParam));
      else if (m.wParam == 16)
        s->input.wheel.store(static_cast<int16_t>(static_cast<uint32_t>(m.lParam) & 0xFFFF));
      break;
    default:
      break;
  }
}

void DebugHotKeys(KivSystemState* s) {
  if (!s->params.debug || s->transitionRunning.load()) return;
  if (!(KivInputPushMask() & kKeyF11)) return;
  // Started and stopped here on the game thread, outside the task walk.
  KivDebugTaskRequest((KivInputOnMask() & kKeyControl) ? 2 : 1);
}

void TaskWalk(KivSystemState* s) {
  bool active = s->active.load() && !s->minimised.load();
  if (!active && !(s->params.mode & KIV_MODE_RUN_INACTIVE)) return;
  KivRenderList* list = s->activeList.load();
  if (list) KivRenderListLock(list); else plat::SetLastError(plat::kErrorInvalidHandle);
  // A task that never returns once the end has begun, holding the lock.
  if (KivFaultHit(KivFault::kGameTaskStuck) && g_kivSystemEnd.load())
    for (;;) plat::Sleep(10);
  KivTaskWalkRoot();
  if (list) KivRenderListUnlock(list); else plat::SetLastError(plat::kErrorInvalidHandle);
}

}  // namespace

void KivGameThreadMessage(const plat::Msg& m) { GameMessage(m); }

void KivHoldWorker(void) {
  KivSystemState* s = g_kiv;
  // Wait for the worker's current job to end, then keep it from starting
  // another; the render lock keeps frames and list changes out meanwhile.
  s->workerGate.lock();
  s->workerHeld.store(1);
  if (KivRenderList* list = s->activeList.load()) KivRenderListLock(list);
}

void KivReleaseWorker(void) {
  KivSystemState* s = g_kiv;
  if (KivRenderList* list = s->activeList.load()) KivRenderListUnlock(list);
  s->workerHeld.store(0);
  s->workerGate.unlock();
}

void KivWorkerThreadProc(void) {
  KivSystemState* s = g_kiv;
  s->workerHandleStored.Wait(plat::kInfinite);
  t_workerStop = false;
  KivSetThreadMessageHandler(WorkerMessage);
  s->workerStart.Set();
  while (!t_workerStop) {
    plat::Msg m;
    if (plat::PeekMessage(&m, true)) {
      if (!m.window) WorkerMessage(m);
    } else {
      plat::WaitMessage();
    }
  }
  KivSetThreadMessageHandler(nullptr);
}

uint32_t KivPacingSleepMs(uint32_t frameRate, int pacing, uint32_t elapsed) {
  uint32_t period = (frameRate == kNoPacing || frameRate == 0) ? 0 : 1000u / frameRate;
  if (elapsed > period || pacing != 2 || frameRate == kNoPacing || frameRate == 0) return 1;
  return period - elapsed;
}

void KivPace(void) {
  KivSystemState* s = g_kiv;
  uint32_t now = plat::TimeGetMs();
  if (!s->pacingStarted) {
    s->lastPacing = now;
    s->pacingStarted = true;
  }
  uint32_t elapsed = now - s->lastPacing;  // unsigned: survives the clock's wrap
  plat::Sleep(KivPacingSleepMs(s->params.frameRate, s->params.pacing, elapsed));
  s->lastPacing = plat::TimeGetMs();
}

int KivFpsCount(void) {
  KivSystemState* s = g_kiv;
  if (!s->params.debug) return s->fps;
  uint32_t now = plat::TimeGetMs();
  ++s->fpsFrames;
  if (now - s->fpsSince >= 1000) {
    s->fps = static_cast<int>(s->fpsFrames);
    s->fpsFrames = 0;
    s->fpsSince = now;
  }
  return s->fps;
}

void KivGameThreadProc(void) {
  KivSystemState* s = g_kiv;
  s->gameHandleStored.Wait(plat::kInfinite);
  KivSetThreadMessageHandler(GameMessage);
  s->gameThreadId.store(std::this_thread::get_id());
  s->gameLoop.store(1);
  s->gameOutsideLoop.store(1);
  s->pacingStarted = false;
  s->fpsSince = plat::TimeGetMs();
  KivFrameChangeReset();  // the first frame is drawn whatever it shows
  s->gameStart.Set();

  const bool started = s->params.startCallback();
  s->gameOutsideLoop.store(0);
  if (!started) {
    // Ended before the first frame: the window ends the engine, no end callback.
    KivEnd();
    KivSetThreadMessageHandler(nullptr);
    return;
  }

  while (s->gameLoop.load()) {
    s->gameProgress.fetch_add(1);
    KivScriptedFrameBegin();
    s->frameTime.store(plat::TimeGetMs());
    KivInputUpdate();
    DebugHotKeys(s);
    KivDebugTaskService();
    kivdebug::ApplyEdits();
    if (s->moviePlaying.load()) {
      KivMovieStep();
      KivScriptedMovieStepped();
    }
    TaskWalk(s);
    if (s->params.debug) KivDebugViewsSchedule();
    if (!plat::FrameClockOn()) KivPace();  // the frame clock's frames take no time
    KivFpsCount();
    KivMovieSpritesStep();
    // Nothing on the screen changed: the frame shown stays, nothing drawn.
    KivRenderFrameIfChanged();
    KivScriptedFrameEnd();
    s->input.wheel.store(0);
    s->input.eventWord.store(0);
    plat::Msg m;
    while (plat::PeekMessage(&m, true)) {
      if (!m.window) GameMessage(m);
    }
  }

  s->gameOutsideLoop.store(1);
  if (s->params.endCallback) s->params.endCallback(KivTaskFirstRootData());
  KivSetThreadMessageHandler(nullptr);
  Kiv3DGameThreadDone();
}

extern "C" KIV_API uint32_t KivFrameRateSet(uint32_t fps) {
  // 0 frames per second has no period: refused, the rate stays.
  if (fps != 0 && g_kiv) g_kiv->params.frameRate = fps;
  return fps;
}

extern "C" KIV_API uint32_t KivUpdateTime(void) {
  uint32_t t = plat::TimeGetMs();
  if (g_kiv) g_kiv->frameTime.store(t);
  return t;
}

extern "C" KIV_API uint32_t KivtimeGetTime(void) { return g_kiv ? g_kiv->frameTime.load() : 0; }
