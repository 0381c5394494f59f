#include "platform/core/close_signal.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "platform/window/messages.h"
#include "platform/window/window.h"

namespace plat {

namespace {
std::atomic<Window*> g_target{nullptr};
}  // namespace

void CloseOnTerminationSignals(Window* window) {
  g_target.store(window);
  static bool started = false;
  if (started) return;
  started = true;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      Window* w = g_target.load();
      if (w && w->Alive()) w->Post(kMsgClose, 0, 0);
    }
  }).detach();
}

}  // namespace plat
