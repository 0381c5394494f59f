// KivRun, the window procedure, the thread stop routine and the attach calls.
//
// The window thread (the host's thread) owns the window; the worker runs
// attached calls; the game thread runs the frame loop. Every queue exists
// before its thread starts, so a post fails only when the target has ended,
// and then the poster gets failure instead of retrying forever.
#include <cstdio>

#include "core/fault_inject.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"
#include "core/system_state.h"

using plat::kMsgApp;

std::atomic<int> g_kivSystemEnd{0};

namespace {
// Handler for thread messages met while this thread pumps, so a pump on the
// game thread or the worker never throws its own messages away.
thread_local void (*t_threadMessageHandler)(const plat::Msg&) = nullptr;
}  // namespace

void KivSetThreadMessageHandler(void (*handler)(const plat::Msg&)) { t_threadMessageHandler = handler; }

void KivPumpMessage(void) {
  plat::Msg m;
  if (!plat::PeekMessage(&m, true)) return;
  if (m.message == plat::kMsgQuit) return;  // dropped: the window loop ends on its own
  if (!m.window) {
    if (t_threadMessageHandler) t_threadMessageHandler(m);
    return;
  }
  plat::DispatchMessage(m);
}

bool KivWaitEventPumping(plat::Event* event) {
  for (;;) {
    if (plat::MsgWaitForEvent(event, 10) == plat::WaitResult::kEvent) return true;
    KivPumpMessage();
  }
}

bool KivPostRetry(plat::Thread* thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!thread) return false;
  while (!plat::PostThreadMessage(thread, message, wParam, lParam)) {
    if (thread->Ended() || thread->queue()->Closed()) return false;
    KivPumpMessage();
  }
  return true;
}

namespace {

bool PostToGame(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  KivSystemState* s = g_kiv;
  return s && KivPostRetry(s->gameThread.get(), message, wParam, lParam);
}

}  // namespace

// A thread that did not answer its stop message within 1 s: stopped where
// it stands and left behind (what TerminateThread does elsewhere), so the
// end goes on and the files are written. A render list it held locked is
// released for the thread that takes everything down.
void KivAbandonThread(const std::shared_ptr<plat::Thread>& t, const char* name) {
  if (!t || t->Ended() || t->Frozen()) return;
  const std::thread::id id = t->id();
  t->Freeze();
  KivRenderListsReleaseHeldBy(id);
  char line[160];
  std::snprintf(line, sizeof line, "KivStopThreads: the %s thread did not end within 1 s; it was stopped and left behind",
                name);
  plat::DebugOutput(line);
  KivErrorLogPrintf("%s", line);
  std::fprintf(stderr, "%s\n", line);
  std::fflush(stderr);
}

namespace {

// The one second a thread has to answer its stop, in 10 ms steps; a
// sanitized build runs its frames several times slower, so it waits five
// times as long.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kStopSteps = 500;
#else
constexpr int kStopSteps = 100;
#endif

// Stops one thread: the stop message, then a wait that keeps serving
// messages; a thread that does not end within kStopSteps is abandoned.
// Only one that is stuck, though: a thread that is still at work (the game
// thread in its start work, a long frame of loads, or its end work, which
// writes the player's files) gets up to ten seconds more while `busy` says
// so or `progress` keeps moving, since cutting that work short is what loses
// data.
void StopThread(const std::shared_ptr<plat::Thread>& t, const char* name, const std::atomic<int>* busy = nullptr,
                const std::atomic<uint32_t>* progress = nullptr) {
  if (!t) return;
  KivPostRetry(t.get(), kMsgApp + 0x64, 0, 0);
  uint32_t seen = progress ? progress->load() : 0;
  int moved_at = 0;  // the step at which the progress last moved
  for (int step = 0;; ++step) {
    if (progress && progress->load() != seen) {
      seen = progress->load();
      moved_at = step;
    }
    const bool working = (busy && busy->load()) || (progress && step - moved_at < kStopSteps);
    if (step >= kStopSteps && (!working || step >= kStopSteps + 1000)) break;
    if (plat::MsgWaitForThread(t.get(), 10) == plat::WaitResult::kEvent) return;
    KivPumpMessage();
  }
  KivAbandonThread(t, name);
}

void ReacquireTail(plat::Window*) {
  KivMovieRestart();
}

}  // namespace

int KivStopThreads(void) {
  g_kivSystemEnd.store(1);
  KivSystemState* s = g_kiv;
  if (!s) return 1;
  StopThread(s->workerThread, "worker");
  StopThread(s->gameThread, "game", &s->gameOutsideLoop, &s->gameProgress);
  return 1;
}

intptr_t KivWindowProc(plat::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  KivSystemState* s = g_kiv;
  switch (message) {
    case plat::kMsgCreate:
      return 0;  // the input method stays off: nothing to switch on this platform
    case plat::kMsgDestroy:
      plat::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  if (!s) return plat::DefWindowProc(window, message, wParam, lParam);

  switch (message) {
    case plat::kMsgTextCommit:
    case plat::kMsgTextComposition:
    case plat::kMsgKeyDown:
      // The text field takes the input method's text and its editing keys
      // while it shows; other keys go on to the frame's key state.
      if (KivTextFieldWindowInput(message, wParam, lParam) || message != plat::kMsgKeyDown) return 0;
      return plat::DefWindowProc(window, message, wParam, lParam);
    case plat::kMsgMove:
      s->params.x = plat::LoWordSigned(lParam);
      s->params.y = plat::HiWordSigned(lParam);
      if (!s->minimised.load()) KivWindowMoveFollowUp();
      return 0;
    case plat::kMsgSize:
      if (wParam == plat::kSizeRestored) s->minimised.store(0);
      else if (wParam == plat::kSizeMinimized) s->minimised.store(1);
      else if (wParam == plat::kSizeMaximized) PostToGame(kMsgApp + 0x6A, 8, 0);
      return 0;
    case plat::kMsgActivate: {
      int active = static_cast<int>(wParam & 0xFFFF);
      s->active.store(active);
      if (active) {
        s->minimised.store(window->backend()->Iconic() ? 1 : 0);
      } else {
        KivInputClear();
        s->minimised.store(1);
      }
      return 0;
    }
    case plat::kMsgActivateApp:
      if (wParam == 0) s->active.store(0);
      return 0;
    case plat::kMsgClose:
      if (s->ending.load()) return 0;  // the end is already under way
      if (!s->threadsStarted) {
        // Before the game thread runs there is no game to end in order:
        // KivRun asks once it runs.
        s->deferredClose = true;
        return 0;
      }
      // A box that cannot be shown answers Yes: the player asked to end,
      // and the end writes everything back.
      if (plat::MessageBox(window, KivText("本当に終了しますか？"), s->params.title,
                           plat::kMbYesNo | plat::kMbIconQuestion, plat::kIdYes) == plat::kIdYes)
        return KivWindowProc(window, kMsgApp + 0x69, 0, 0);
      KivScriptedCloseAnswered();  // the game goes on
      return 0;
    case plat::kMsgEndSession:
      // A termination signal: the end, without the question.
      if (!s->threadsStarted) {
        s->deferredEnd = true;
        return 0;
      }
      return KivWindowProc(window, kMsgApp + 0x69, 0, 0);
    case plat::kMsgWindowPosChanging:
      return 0;
    case plat::kMsgNcLButtonDblClk:
      PostToGame(kMsgApp + 0x6A, 8, 0);
      return 0;
    case plat::kMsgSysKeyDown:
      if (wParam == plat::kVkReturn) {
        PostToGame(kMsgApp + 0x6A, 8, 0);
        return 0;
      }
      if (wParam == plat::kVkF4) {
        window->Send(plat::kMsgClose, 0, 0);
        return 0;
      }
      return plat::DefWindowProc(window, message, wParam, lParam);
    case plat::kMsgSysCommand:
      switch (wParam & 0xFFF0) {
        case plat::kScMaximize:
          PostToGame(kMsgApp + 0x6A, 8, 0);
          return 0;
        case plat::kScKeyMenu:
          return 0;
        case plat::kScScreenSave:
          if (s->params.mode & KIV_MODE_SCREENSAVER) return plat::DefWindowProc(window, message, wParam, lParam);
          return 0;
        default:
          return plat::DefWindowProc(window, message, wParam, lParam);
      }
    case plat::kMsgMouseMove:
      KivCursorReapply();
      return 0;
    case plat::kMsgLButtonDblClk:
      PostToGame(kMsgApp + 0x6A, 1, 0);
      return 0;
    case plat::kMsgRButtonDblClk:
      PostToGame(kMsgApp + 0x6A, 2, 0);
      return 0;
    case plat::kMsgMButtonDblClk:
      PostToGame(kMsgApp + 0x6A, 4, 0);
      return 0;
    case plat::kMsgMouseWheel: {
      int delta = plat::HiWordSigned(static_cast<intptr_t>(wParam));
      PostToGame(kMsgApp + 0x6A, 16, delta < 0 ? 1 : -1);
      return 0;
    }
    case plat::kMsgTaskbarMenu:
      if (s->params.fullScreen) {
        window->backend()->Restore();
        return 0;
      }
      return plat::DefWindowProc(window, message, wParam, lParam);
    case kMsgApp + 0x64:
      KivMovieOnEvent();
      return 0;
    case kMsgApp + 0x65: {
      // Device restore: the software screen has nothing to restore unless
      // its surface was lost.
      if (!s->soft || !KivSoftScreenTestLost(s->soft)) return 0;
      KivMovieStopForRestart();
      if (!KivSoftScreenRestore(s->soft)) return 1;
      KivMovieRestart();
      return 0;
    }
    case kMsgApp + 0x66:
      KivMovieStopForRestart();
      KivApplyScreenMode(static_cast<int>(wParam));
      KivEffectEndSoon();
      KivMovieRestart();
      return 0;
    case kMsgApp + 0x68:
      return plat::DefWindowProc(window, message, wParam, lParam);
    case kMsgApp + 0x69:
      // Once only: a request that arrives while the end pumps messages
      // (a second close, a signal, KivEnd from a thread) is dropped.
      if (s->ending.exchange(1)) return 0;
      if (s->params.debug) KivDebugWindowSavePos();
      KivDebugCloseWindows();
      KivWindowOnExit();
      KivStopThreads();
      window->Destroy();
      return 0;
    case kMsgApp + 0x6A:
      if (wParam) reinterpret_cast<KivAttachProc>(wParam)(lParam);
      return 0;
    case kMsgApp + 0x6B:
      KivMovieStopForRestart();
      KivApplyWindowSize(static_cast<int>(wParam), static_cast<int>(lParam));  // (width, height)
      ReacquireTail(window);
      return 0;
    case kMsgApp + 0x6C:
      KivMovieStopForRestart();
      if (!KivApplyAspectMode(static_cast<int>(wParam))) {
        // The game thread is waiting in its request with the worker held:
        // end after the reply instead of inside it.
        window->Post(kMsgApp + 0x69, 0, 0);
        return 0;
      }
      ReacquireTail(window);
      return 0;
    default:
      return plat::DefWindowProc(window, message, wParam, lParam);
  }
}

extern "C" KIV_API int KivRun(void) {
  KivSystemState* s = g_kiv;
  if (!s) return -1;
  // Ended before it ran (KivEnd on this thread): nothing to start.
  if (s->ending.load() || !s->window || !s->window->Alive()) return 0;
  s->workerStart.Reset();
  s->workerHandleStored.Reset();
  s->workerThread = KivFaultHit(KivFault::kWorkerThread) ? nullptr : plat::Thread::Start(KivWorkerThreadProc);
  s->workerHandleStored.Set();
  if (!s->workerThread) {
    plat::MessageBox(s->window, KivText("スレッドの作成に失敗しました。[0x0A]"), KivText("実行エラー"), plat::kMbOk);
    return -1;
  }
  KivWaitEventPumping(&s->workerStart);

  s->gameStart.Reset();
  s->gameHandleStored.Reset();
  s->gameThread = KivFaultHit(KivFault::kGameThread) ? nullptr : plat::Thread::Start(KivGameThreadProc);
  s->gameHandleStored.Set();
  if (!s->gameThread) {
    plat::MessageBox(s->window, KivText("スレッドの作成に失敗しました。[0x0B]"), KivText("実行エラー"), plat::kMbOk);
    return -1;
  }
  KivWaitEventPumping(&s->gameStart);

  // Close requests that came before (during start-up, its boxes, the wait
  // for the threads) are handled now, once: a termination signal ends the
  // game without asking, so it goes before a close button's question.
  s->threadsStarted = true;
  if (s->deferredEnd) s->window->Post(plat::kMsgEndSession, 0, 0);
  else if (s->deferredClose) s->window->Post(plat::kMsgClose, 0, 0);
  s->deferredEnd = s->deferredClose = false;

  int code = 0;
  while (s->running.load()) {
    plat::Msg m;
    if (plat::PeekMessage(&m, true)) {
      if (m.message == plat::kMsgQuit) {
        code = static_cast<int>(m.wParam);
        break;
      }
      plat::DispatchMessage(m);
    } else if (!s->window->Alive()) {
      // The end has destroyed the window and its quit message was taken
      // by a pump inside it: nothing more will come.
      break;
    } else {
      plat::WaitMessage();
    }
  }
  return code;
}

extern "C" KIV_API int KivAttachProcess(KivAttachProc fn, intptr_t arg) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  return s->window->Post(kMsgApp + 0x6A, reinterpret_cast<uintptr_t>(fn), arg) ? 1 : 0;
}

extern "C" KIV_API int KivAttachWorkProcess(KivAttachProc fn, intptr_t arg) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  return KivPostRetry(s->workerThread.get(), kMsgApp + 0x6A, reinterpret_cast<uintptr_t>(fn), arg) ? 1 : 0;
}
