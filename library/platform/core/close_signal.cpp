#include "platform/core/close_signal.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/core/backend.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/window.h"

namespace plat {

namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
  return set;
}

// The target and the requests kept for it change together.
std::mutex g_mutex;
Window* g_target = nullptr;
int g_pending = 0;

void Deliver(Window* w) {
  // A window that is gone takes nothing: keep the request for the next.
  if (w && w->Alive() && w->Post(kMsgEndSession, 0, 0)) return;
  ++g_pending;
}

// The one thread that takes the signals, started by the first of the calls
// below: from the first line of main, so a box shown before there is a
// window (a refused start) closes on a signal too.
void StartWatching() {
  static std::once_flag started;
  std::call_once(started, [] {
    sigset_t set = TerminationSignals();
    // A window in memory has no close button anyone can press: SIGUSR1
    // presses it, so a test can drive a whole headless program from outside.
    const bool headless = WindowBackendKind() == Backend::kHeadless;
    if (headless) sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR1) {
          std::lock_guard lock(g_mutex);
          if (g_target && g_target->Alive()) g_target->backend()->PressCloseButton();
          continue;
        }
        // A box open now would hold the end until someone answers it:
        // every box takes its safe answer from here on.
        CancelMessageBoxes();
        std::lock_guard lock(g_mutex);
        Deliver(g_target);
      }
    }).detach();
  });
}

}  // namespace

void BlockTerminationSignals() {
  sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  StartWatching();
}

void CloseOnTerminationSignals(Window* window) {
  {
    std::lock_guard lock(g_mutex);
    g_target = window;
    if (window && g_pending > 0) {
      g_pending = 0;
      Deliver(window);
    }
  }
  StartWatching();
}

int TakePendingTerminationRequests() {
  std::lock_guard lock(g_mutex);
  int n = g_pending;
  g_pending = 0;
  return n;
}

}  // namespace plat
