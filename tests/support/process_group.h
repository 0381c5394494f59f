// Programs a test starts run in a process group of their own, and a test
// that gives up on one kills the whole group: the program and whatever it
// started (a message box's process among them), so nothing is left running
// however the check ends. Waits are on what the test looks for (a file, a
// line on stderr, the exit), polled, with generous limits, so a loaded
// machine only makes them slower.
#pragma once
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace testproc {

// In the child, after fork and before exec.
inline void EnterOwnGroup() { ::setpgid(0, 0); }

// For posix_spawn: the child leads a group of its own.
inline void OwnGroup(posix_spawnattr_t* attr) {
  posix_spawnattr_setflags(attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(attr, 0);
}

inline void KillGroup(pid_t pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

// True once done() holds, polled every 10 ms for up to timeout_ms.
template <class Done>
bool WaitUntil(Done done, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The exit code (128 + signal for a killed program), or -1 when it did not
// end within timeout_ms: then its group is killed.
inline int WaitExit(pid_t pid, int timeout_ms) {
  int code = -1;
  const bool ended = WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid) return false;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      timeout_ms);
  if (ended) {
    ::kill(-pid, SIGKILL);  // anything it left behind in its group
    return code;
  }
  KillGroup(pid);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

// Kills the group of a program still running when the test leaves.
struct GroupGuard {
  pid_t pid;
  ~GroupGuard() {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      KillGroup(pid);
      ::waitpid(pid, nullptr, 0);
    } else if (pid > 0) {
      ::kill(-pid, SIGKILL);
    }
  }
};

}  // namespace testproc
