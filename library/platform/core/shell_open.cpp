// The desktop opener: posix_spawnp("xdg-open", path), never a shell. With
// KIV_HEADLESS_OPEN set (the headless runs) the request is only logged.
#include "platform/core/shell_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/core/error.h"

extern char** environ;

namespace plat {
namespace {
std::atomic<ShellOpenHandler> g_handler{nullptr};
}  // namespace

void SetShellOpenHandler(ShellOpenHandler handler) { g_handler.store(handler); }

bool ShellOpen(const std::string& utf8_path) {
  if (ShellOpenHandler h = g_handler.load()) return h(utf8_path);
  if (std::getenv("KIV_HEADLESS_OPEN")) {
    DebugOutput("open " + utf8_path + "\n");
    return true;
  }
  pid_t pid = 0;
  std::string prog = "xdg-open";
  char* argv[] = {prog.data(), const_cast<char*>(utf8_path.c_str()), nullptr};
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  // The opener hands the file over and ends; reap it on a detached wait so
  // no zombie remains.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

}  // namespace plat
