// The game program as a process in a game folder of its own: a temporary
// folder with a copy of the program, links to the build's engine, libraries and data,
// and an empty save/ (so runs never share saves), run headless with the
// environment a test gives and a private XDG_RUNTIME_DIR. A run that does not
// end in time is killed with its process group.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testgame {

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

struct RunResult {
  int exit_code = -1;  // 128 + signal when it was killed
  bool timed_out = false;
  std::string err;
};

class GameFolder {
 public:
  // `built` is the build's game folder (the one holding Orvane, dll/, data/).
  explicit GameFolder(const std::string& built) {
    char pattern[] = "/tmp/orvane-game-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    dir_ = pattern;
    std::string program = ReadFile(built + "/Orvane");
    std::ofstream(dir_ + "/Orvane", std::ios::binary) << program;
    ::chmod((dir_ + "/Orvane").c_str(), 0755);
    ::symlink((built + "/dll").c_str(), (dir_ + "/dll").c_str());
    ::symlink((built + "/data").c_str(), (dir_ + "/data").c_str());
    ::symlink((built + "/lib").c_str(), (dir_ + "/lib").c_str());
    ::mkdir((dir_ + "/save").c_str(), 0755);
    ::mkdir((dir_ + "/runtime").c_str(), 0700);
  }
  ~GameFolder() {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const std::string& dir() const { return dir_; }
  std::string save(const std::string& name) const { return dir_ + "/save/" + name; }

  // Runs the program headless; `env` adds to (and overrides) the KIV_ and
  // XDG_RUNTIME_DIR settings of this process, which are not passed on.
  RunResult Run(const std::vector<std::string>& env_extra, int timeout_s = 120) const {
    RunResult r;
    const std::string err_file = dir_ + "/stderr.txt";
    std::vector<std::string> env = {"KIV_HEADLESS=1", "XDG_RUNTIME_DIR=" + dir_ + "/runtime"};
    for (char** e = environ; *e; ++e) {
      std::string v(*e);
      if (v.rfind("KIV_", 0) != 0 && v.rfind("XDG_RUNTIME_DIR=", 0) != 0) env.push_back(v);
    }
    env.insert(env.end(), env_extra.begin(), env_extra.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = dir_ + "/Orvane";
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &fa, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) return r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        r.timed_out = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.err = ReadFile(err_file);
    return r;
  }

 private:
  std::string dir_;
};

}  // namespace testgame
