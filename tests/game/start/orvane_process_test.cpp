// The game program as a process: identity failures, a missing engine, the
// single-instance lock, the build-stamp question, and how close requests end
// it. Programs built from the game's own sources with different version
// blocks live in the folder given by ORVANE_TEST_DIR, beside a dll/ link to
// the engine. Every program runs with a private XDG_RUNTIME_DIR, so a game
// left running on the machine (or another test) never holds its lock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/core/instance_lock.h"
#include "platform/core/text_encoding.h"
#include "support/process_group.h"

extern char** environ;

namespace {

const std::string kDir = ORVANE_TEST_DIR;

// The single-instance lock lives in $XDG_RUNTIME_DIR: this process and the
// programs it starts get a folder of their own.
class PrivateRuntimeDir : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/orvane-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

 private:
  std::string dir_;
};
[[maybe_unused]] auto* const g_runtime_dir = ::testing::AddGlobalTestEnvironment(new PrivateRuntimeDir);

struct ProcessResult {
  int exit_code = -1;
  std::string err;
};

// Runs a program headless with extra environment, capturing stderr.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& env_extra = {},
               const std::vector<std::string>& args = {}, bool headless = true) {
  std::string err_file = kDir + "/stderr.txt";
  std::vector<std::string> env;
  if (headless) env.push_back("KIV_HEADLESS=1");
  for (char** e = environ; *e; ++e) {
    const std::string v(*e);
    if (v.rfind("KIV_", 0) == 0) continue;
    // Without the headless backend: no display of any kind either.
    if (!headless && (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0)) continue;
    env.push_back(v);
  }
  env.insert(env.end(), env_extra.begin(), env_extra.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_s = {program};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  testproc::OwnGroup(&attr);
  pid_t pid;
  ProcessResult r;
  const int spawned = posix_spawn(&pid, program.c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return r;
  // Each of these ends by itself; one that does not is killed with its group.
  r.exit_code = testproc::WaitExit(pid, 60000);
  std::ifstream f(err_file);
  r.err.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return r;
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

TEST(OrvaneProcess, IdentityFailuresShowTheirCodeAndExit1) {
  struct Case {
    const char* program;
    const char* code;
  } cases[] = {
      {"orvane_id_none", "[0x0001]"},     {"orvane_id_corrupt", "[0x0002]"},
      {"orvane_id_notrans", "[0x0003]"},  {"orvane_id_nocompany", "[0x0004]"},
      {"orvane_id_noproduct", "[0x0006]"}, {"orvane_id_nooriginal", "[0x0007]"},
  };
  for (const Case& c : cases) {
    ProcessResult r = RunProgram(kDir + "/" + c.program);
    EXPECT_EQ(r.exit_code, 1) << c.program;
    EXPECT_NE(r.err.find(c.code), std::string::npos) << c.program << ": " << r.err;
    EXPECT_NE(r.err.find("起動エラー"), std::string::npos) << c.program;
  }
}

TEST(OrvaneProcess, MissingEngineEndsWithExit1) {
  std::string lonely = kDir + "/no_engine";
  ::mkdir(lonely.c_str(), 0755);
  std::string copy = lonely + "/orvane_id_ok";
  std::ifstream src(kDir + "/orvane_id_ok", std::ios::binary);
  std::ofstream(copy, std::ios::binary) << src.rdbuf();
  ::chmod(copy.c_str(), 0755);
  ProcessResult r = RunProgram(copy);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("libkiv.so"), std::string::npos) << r.err;
}

TEST(OrvaneProcess, SecondInstanceSaysWhyAndExits) {
  {
    plat::InstanceLock held;
    ASSERT_TRUE(held.Acquire("KivTest"));
    ProcessResult r = RunProgram(kDir + "/orvane_id_ok");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("is already running"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[起動エラー] 既に起動しています"), std::string::npos) << "told in a box: " << r.err;
  }
  // A holder killed outright takes its lock with it.
  pid_t child = fork();
  if (child == 0) {
    plat::InstanceLock lock;
    if (!lock.Acquire("KivTest")) _exit(3);
    for (;;) pause();
  }
  plat::InstanceLock probe;
  for (int i = 0; i < 200 && probe.Acquire("KivTest"); ++i) {
    probe.Release();
    usleep(5000);  // until the child holds it
  }
  EXPECT_FALSE(probe.Acquire("KivTest"));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(probe.Acquire("KivTest"));
}

std::string Le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

// Script.src of the given build whose only instruction is `end`, and the
// four tables, empty (a 16-byte header with a count of 0).
void WriteEndingScript(const std::string& data, uint32_t stamp) {
  Write(data + "/Script.src", "Sv20" + Le32(stamp) + Le32(12) + Le32(0x00010015));
  for (const char* table : {"File.dat", "Text.dat", "Mem.dat", "Point.dat"})
    Write(data + "/" + table, std::string(16, '\0'));
}

uint32_t SystemDatStamp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 6) return 0;
  return static_cast<uint8_t>(b[2]) | static_cast<uint8_t>(b[3]) << 8 | static_cast<uint8_t>(b[4]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[5])) << 24;
}

// No display to open a window on: the game says so and ends before it takes
// the single-instance lock (held here: a game that took it first would
// answer "already running" instead).
TEST(OrvaneProcess, NoDisplayIsSaidBeforeTheLockIsTaken) {
  plat::InstanceLock held;
  ASSERT_TRUE(held.Acquire("KivTest"));
  ProcessResult r = RunProgram(kDir + "/orvane_id_ok", {}, {"/DIB"}, false);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("no display can be reached"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[起動エラー] 画面（ディスプレイ）に接続できないため"), std::string::npos) << "and a box: " << r.err;
  EXPECT_EQ(r.err.find("already running"), std::string::npos) << r.err;
}

class StampQuestion : public ::testing::Test {
 protected:
  void SetUp() override {
    save = kDir + "/save";
    data = kDir + "/data";
    ASSERT_EQ(std::system(("rm -rf '" + save + "' '" + data + "'").c_str()), 0);
    ::mkdir(save.c_str(), 0755);
    ::mkdir(data.c_str(), 0755);
    // A script of build 2 that ends at once, with empty tables, and saves
    // kept by build 1: a start that gets past the question plays it and
    // ends by itself.
    WriteEndingScript(data, 2);
    Write(data + "/archive.dat", "extra");
    std::string system(3954, '\0');
    system[2] = 1;
    Write(save + "/system.dat", system);
    Write(save + "/save000.dat", "slot");
    Write(save + "/notes.txt", "keep");
  }
  std::string save, data;
};

TEST_F(StampQuestion, NoEndsAndKeepsEverything) {
  ProcessResult r = RunProgram(kDir + "/orvane_id_ok", {"KIV_BOX_ANSWERS=no"}, {"/DIB"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("検証結果"), std::string::npos) << r.err;
  EXPECT_TRUE(Exists(save + "/system.dat"));
  EXPECT_TRUE(Exists(save + "/save000.dat"));
}

TEST_F(StampQuestion, AQuestionNobodySawDeletesNothing) {
  ProcessResult r = RunProgram(kDir + "/orvane_id_ok", {}, {"/DIB"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("検証結果"), std::string::npos) << r.err;
  EXPECT_TRUE(Exists(save + "/system.dat"));
  EXPECT_TRUE(Exists(save + "/save000.dat"));
}

TEST_F(StampQuestion, YesDeletesOnlyDatFiles) {
  ProcessResult r = RunProgram(kDir + "/orvane_id_ok", {"KIV_BOX_ANSWERS=yes"}, {"/DIB"});
  EXPECT_NE(r.err.find("検証結果"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(save + "/save000.dat"));
  EXPECT_TRUE(Exists(save + "/notes.txt"));
  // The start went on past the question: the script ran (and ended), and
  // its system data was made afresh for build 2.
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(SystemDatStamp(save + "/system.dat"), 2u) << r.err;
}

TEST_F(StampQuestion, MissingScriptIsAStartError) {
  ::unlink((data + "/Script.src").c_str());
  ProcessResult r = RunProgram(kDir + "/orvane_id_ok", {"KIV_BOX_ANSWERS=yes"}, {"/DIB"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.find("検証結果"), std::string::npos) << "no deletion offered";
  EXPECT_TRUE(Exists(save + "/save000.dat"));
  EXPECT_NE(r.err.find("Script.src"), std::string::npos);
}

TEST(OrvaneProcess, DemoGameRunsAndEndsWritingItsFiles) {
  // A copy of the demo game folder, so its own save folder stays untouched.
  std::string game = kDir + "/demo";
  ASSERT_EQ(std::system(("rm -rf '" + game + "' && mkdir -p '" + game + "' && cp '" DEMO_GAME_DIR "/Orvane' '" +
                         game + "/' && cp -r '" DEMO_GAME_DIR "/data' '" + game + "/' && ln -s '" DEMO_GAME_DIR
                         "/dll' '" + game + "/dll' && ln -s '" DEMO_GAME_DIR "/lib' '" + game + "/lib'").c_str()),
            0);
  pid_t pid = fork();
  if (pid == 0) {
    testproc::EnterOwnGroup();
    setenv("KIV_HEADLESS", "1", 1);
    setenv("KIV_BOX_ANSWERS", "yes", 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl((game + "/Orvane").c_str(), "Orvane", "/DIB", static_cast<char*>(nullptr));
    _exit(127);
  }
  const testproc::GroupGuard guard{pid};
  // The first frame writes system.dat; then ask the game to end, as a
  // terminal's Ctrl+C or a session manager does.
  ASSERT_TRUE(testproc::WaitUntil([&] { return Exists(game + "/save/system.dat"); }, 60000));
  kill(pid, SIGTERM);
  EXPECT_EQ(testproc::WaitExit(pid, 60000), 0);
  std::ifstream config(game + "/save/config.dat", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(config)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_TRUE(static_cast<uint8_t>(bytes[16]) & 0x8) << "written back with the renderer bit";
  std::ifstream system(game + "/save/system.dat", std::ios::binary);
  std::string sys((std::istreambuf_iterator<char>(system)), std::istreambuf_iterator<char>());
  EXPECT_GT(sys.size(), 3954u);
  EXPECT_EQ(static_cast<uint8_t>(sys[2]) | static_cast<uint8_t>(sys[3]) << 8 | static_cast<uint8_t>(sys[4]) << 16 |
                static_cast<uint8_t>(sys[5]) << 24,
            20261210) << "the demo script's build stamp";
}

// ---------------------------------------------------------------- close requests

// A program a failed check left running is killed with its group, not left
// behind.
using ChildGuard = testproc::GroupGuard;

// The debugger-output line the game gives once it plays (its first frame).
constexpr const char* kGameRuns = "Orvane: the game runs";


// A demo game folder of its own, started and driven from outside: boxes
// answered (and held open) through KIV_BOX_ANSWERS, the close button pressed
// with SIGUSR1 (the headless window's only button), signals as a terminal or
// session manager sends them.
class CloseRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    game = kDir + "/close";
    ASSERT_EQ(std::system(("rm -rf '" + game + "' && mkdir -p '" + game + "' && cp '" DEMO_GAME_DIR "/Orvane' '" +
                           game + "/' && cp -r '" DEMO_GAME_DIR "/data' '" + game + "/' && ln -s '" DEMO_GAME_DIR
                           "/dll' '" + game + "/dll' && ln -s '" DEMO_GAME_DIR "/lib' '" + game + "/lib'").c_str()),
              0);
    // One run makes system.dat and config.dat, so each case below shows
    // whether its end wrote them again.
    pid_t pid = Start({"/DIB"}, "");
    const ChildGuard guard{pid};
    ASSERT_TRUE(testproc::WaitUntil([] { return Exists(game + "/save/system.dat"); }, 60000));
    kill(pid, SIGTERM);
    ASSERT_EQ(WaitExit(pid), 0);
  }

  static pid_t Start(const std::vector<std::string>& args, const std::string& answers,
                     const std::vector<std::string>& env = {}) {
    const std::string err = game + "/stderr.txt";
    ::unlink(err.c_str());  // nothing of the last run may be read as this one's
    pid_t pid = fork();
    if (pid == 0) {
      testproc::EnterOwnGroup();
      setenv("KIV_HEADLESS", "1", 1);
      setenv("KIV_DEBUG_OUTPUT", "1", 1);  // kGameRuns
      for (const std::string& e : env) putenv(strdup(e.c_str()));
      if (!answers.empty()) setenv("KIV_BOX_ANSWERS", answers.c_str(), 1);
      else unsetenv("KIV_BOX_ANSWERS");
      int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      std::vector<std::string> argv_s = {"Orvane"};
      argv_s.insert(argv_s.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : argv_s) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv((game + "/Orvane").c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }

  // The exit code, or -1 when the program did not end within 60 s (then it
  // is killed with its group: it hung).
  static int WaitExit(pid_t pid) { return testproc::WaitExit(pid, 60000); }

  // Waits (up to 60 s) for a text on the program's stderr.
  static bool WaitText(const char* text) {
    return testproc::WaitUntil([&] { return Stderr().find(text) != std::string::npos; }, 60000);
  }

  static std::string Stderr() {
    std::ifstream f(game + "/stderr.txt");
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  static ino_t Inode(const std::string& name) {
    struct stat st{};
    return ::stat((game + "/save/" + name).c_str(), &st) == 0 ? st.st_ino : 0;
  }

  static std::string Read(const std::string& name) {
    std::ifstream f(game + "/save/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  static std::string game;
};
std::string CloseRequest::game;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(CloseRequest, EveryRequestEndsInOrderOrIsDroppedOnNo) {
  enum Kind { kWaitText, kSignal, kSleep, kStillRunning };
  struct Step {
    Kind kind;
    int value = 0;  // signal or milliseconds
    const char* text = nullptr;
  };
  const char* const kStartBox = "DIB モード";  // the start-up warning's text
  struct Case {
    const char* name;
    bool dib;             // /DIB: no start-up warning box
    const char* answers;  // KIV_BOX_ANSWERS
    std::vector<Step> steps;
    int questions;  // close questions asked
  } cases[] = {
      {"during the start-up box: SIGINT", false, "ok@800", {{kWaitText, 0, kStartBox}, {kSignal, SIGINT}}, 0},
      {"during the start-up box: close button, Yes", false, "ok@800,yes",
       {{kWaitText, 0, kStartBox}, {kSignal, SIGUSR1}}, 1},
      {"before the first frame: SIGTERM", false, "ok", {{kWaitText, 0, kStartBox}, {kSignal, SIGTERM}}, 0},
      {"mid-game: SIGTERM", true, "", {{kWaitText, 0, kGameRuns}, {kSignal, SIGTERM}}, 0},
      {"mid-game: SIGINT", true, "", {{kWaitText, 0, kGameRuns}, {kSignal, SIGINT}}, 0},
      {"mid-game: SIGHUP (the terminal closed)", true, "", {{kWaitText, 0, kGameRuns}, {kSignal, SIGHUP}}, 0},
      {"mid-game: SIGQUIT", true, "", {{kWaitText, 0, kGameRuns}, {kSignal, SIGQUIT}}, 0},
      {"twice in a row: SIGINT, SIGTERM", true, "",
       {{kWaitText, 0, kGameRuns}, {kSignal, SIGINT}, {kSignal, SIGTERM}}, 0},
      {"twice in a row: close button held open, SIGTERM", true, "yes@500",
       {{kWaitText, 0, kGameRuns}, {kSignal, SIGUSR1}, {kWaitText, 0, "本当に終了しますか"}, {kSignal, SIGTERM}}, 1},
      {"close button, Yes", true, "yes", {{kWaitText, 0, kGameRuns}, {kSignal, SIGUSR1}}, 1},
      {"close button, No, then SIGTERM", true, "no",
       {{kWaitText, 0, kGameRuns}, {kSignal, SIGUSR1}, {kWaitText, 0, "本当に終了しますか"}, {kSleep, 500},
        {kStillRunning}, {kSignal, SIGTERM}},
       1},
      {"close button, box not shown", true, "", {{kWaitText, 0, kGameRuns}, {kSignal, SIGUSR1}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ino_t system_before = Inode("system.dat"), config_before = Inode("config.dat");
    ASSERT_NE(system_before, 0u);
    ASSERT_NE(config_before, 0u);
    pid_t pid = Start(c.dib ? std::vector<std::string>{"/DIB"} : std::vector<std::string>{}, c.answers);
    const ChildGuard guard{pid};
    for (const Step& step : c.steps) {
      switch (step.kind) {
        case kWaitText:
          EXPECT_TRUE(WaitText(step.text)) << step.text;
          break;
        case kSignal:
          kill(pid, step.value);
          usleep(20000);  // two signals of one kind would merge
          break;
        case kSleep:
          usleep(step.value * 1000);
          break;
        case kStillRunning:
          EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the No ended the game";
          break;
      }
    }
    EXPECT_EQ(WaitExit(pid), 0) << Stderr();
    const std::string err = Stderr();
    EXPECT_EQ(Count(err, "本当に終了しますか"), c.questions) << err;
    EXPECT_EQ(err.find("did not end"), std::string::npos) << "every engine thread ended: " << err;
    // Both files written again at the end, whole.
    EXPECT_NE(Inode("system.dat"), system_before);
    EXPECT_NE(Inode("config.dat"), config_before);
    const std::string sys = Read("system.dat");
    ASSERT_GT(sys.size(), 3954u);
    EXPECT_EQ(static_cast<uint8_t>(sys[2]) | static_cast<uint8_t>(sys[3]) << 8 | static_cast<uint8_t>(sys[4]) << 16 |
                  static_cast<uint8_t>(sys[5]) << 24,
              20261210);
    EXPECT_EQ(Read("config.dat").size(), 32u);
  }
}


// A termination signal while a box waits for the player (held open for a
// minute) closes it with its safe answer and ends the game in order, at
// start-up (the warning box) and mid-game (the close question); and a game
// task that hangs at shut-down is left behind after its second, the files
// written all the same. Each end is timed from the signal.
// The engine gives a thread one second to answer its stop, five in a
// sanitized build (whose frames run several times slower).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kStuckLimitS = 8.0;
#else
constexpr double kStuckLimitS = 4.0;
#endif

// A start refused before the engine runs (the game runs already) shows its
// box; a termination signal closes that box at once, and the refused start
// ends as it would on OK, writing nothing.
TEST_F(CloseRequest, ASignalClosesTheBoxOfARefusedStart) {
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    plat::InstanceLock held;
    ASSERT_TRUE(held.Acquire("Orvane Demo"));
    const ino_t system_before = Inode("system.dat"), config_before = Inode("config.dat");
    pid_t pid = Start({}, "ok@60000");
    const ChildGuard guard{pid};
    ASSERT_TRUE(WaitText("既に起動しています")) << Stderr();
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, sig);
    const int code = WaitExit(pid);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    EXPECT_EQ(code, 1) << Stderr();
    EXPECT_LT(took, 3.0) << Stderr();
    EXPECT_EQ(Inode("system.dat"), system_before);
    EXPECT_EQ(Inode("config.dat"), config_before);
  }
}

TEST_F(CloseRequest, SignalsEndPromptlyEvenWithABoxOpenOrATaskStuck) {
  struct Case {
    const char* name;
    bool dib;
    const char* answers;
    const char* wait_for;  // on stderr, before the signal
    bool press_close;      // open the close question first
    int signal;
    const char* faults;  // KIV_FAULTS
    double limit_s;      // the end, from the signal
    int questions;
    bool menu = false;  // open the pause menu first (a right click), wait for a frame after it
  } cases[] = {
      {"start-up box held open: SIGTERM", false, "ok@60000", "DIB モード", false, SIGTERM, nullptr, 3.0, 0},
      {"start-up box held open: SIGHUP", false, "ok@60000", "DIB モード", false, SIGHUP, nullptr, 3.0, 0},
      {"close question held open: SIGTERM", true, "no@60000", "本当に終了しますか", true, SIGTERM, nullptr, 3.0, 1},
      {"close question held open: SIGQUIT", true, "no@60000", "本当に終了しますか", true, SIGQUIT, nullptr, 3.0, 1},
      {"a game task stuck at shut-down: SIGTERM", true, "", kGameRuns, false, SIGTERM, "KIV_FAULTS=0x4000",
       kStuckLimitS, 0},
      {"in the pause menu: SIGTERM", true, "", kGameRuns, false, SIGTERM, nullptr, 3.0, 0, true},
      {"in the pause menu: SIGHUP", true, "", kGameRuns, false, SIGHUP, nullptr, 3.0, 0, true},
  };
  const std::string shots = game + "/shots", input = game + "/menu-input.txt";
  // Past the opening movie, then the right button opens the menu; frame 150
  // is drawn with the menu open.
  Write(input, "20 press Escape\n+40 mouse move 640 360\n+1 mouse down right\n+1 mouse up right\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ino_t system_before = Inode("system.dat"), config_before = Inode("config.dat");
    std::vector<std::string> env;
    if (c.menu) {
      std::system(("rm -rf '" + shots + "' && mkdir -p '" + shots + "'").c_str());
      env = {"KIV_INPUT_SCRIPT=" + input, "KIV_CAPTURE_FRAMES=150", "KIV_CAPTURE_DIR=" + shots};
    }
    if (c.faults) {
      env.push_back(c.faults);
      // The stuck thread is left behind on purpose, as a killed one would
      // be: what it last touched is not a race to report.
      env.push_back("TSAN_OPTIONS=report_bugs=0");
    }
    pid_t pid = Start(c.dib ? std::vector<std::string>{"/DIB"} : std::vector<std::string>{}, c.answers, env);
    const ChildGuard guard{pid};
    if (c.press_close) {
      ASSERT_TRUE(WaitText(kGameRuns)) << Stderr();
      kill(pid, SIGUSR1);
    }
    ASSERT_TRUE(WaitText(c.wait_for)) << Stderr();
    if (c.menu) {
      ASSERT_TRUE(testproc::WaitUntil([&] { return Exists(shots + "/frame-000150.png"); }, 60000)) << Stderr();
    }
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, c.signal);
    const int code = WaitExit(pid);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    std::printf("[ measured ] %s: ended %.3f s after the signal\n", c.name, took);
    EXPECT_EQ(code, 0) << Stderr();
    EXPECT_LT(took, c.limit_s) << Stderr();
    const std::string err = Stderr();
    EXPECT_EQ(Count(err, "本当に終了しますか"), c.questions) << err;
    if (c.faults) {
      EXPECT_NE(err.find("the game thread did not end within 1 s"), std::string::npos) << err;
    } else {
      EXPECT_EQ(err.find("did not end"), std::string::npos) << err;
    }
    EXPECT_NE(Inode("system.dat"), system_before) << "system.dat written at the end";
    EXPECT_NE(Inode("config.dat"), config_before) << "config.dat written at the end";
    EXPECT_EQ(SystemDatStamp(game + "/save/system.dat"), 20261210u);
    EXPECT_EQ(Read("config.dat").size(), 32u);
  }
}

// ---------------------------------------------------------------- damaged files

// Every file the game reads at start, damaged in each of five ways, given to
// the real program: a damaged script or table refuses the start with a box
// and touches no save; a damaged system.dat is kept under another name and
// made afresh, with one box; a readable system.dat of another build asks its
// question (answered No); damaged slots and resume files are left as they
// are. No row changes a save.
class DamagedFiles : public CloseRequest {};

enum class Damage { kEmpty, kCut, kRandom, kHugeCount, kFlippedByte };

const char* DamageName(Damage d) {
  switch (d) {
    case Damage::kEmpty: return "empty";
    case Damage::kCut: return "cut";
    case Damage::kRandom: return "random";
    case Damage::kHugeCount: return "huge count";
    case Damage::kFlippedByte: return "one flipped byte";
  }
  return "";
}

std::string ReadPath(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Where each file keeps its count (or, for Script.src, its entry pc) and the
// byte flipped in it.
struct FileDamage {
  const char* file;   // under the game folder
  size_t count_at;    // the u32 made huge
  long flip_at;       // negative: from the end
  uint8_t flip_mask;
};

std::string Damaged(const std::string& good, Damage d, const FileDamage& f) {
  std::string b = good;
  switch (d) {
    case Damage::kEmpty: return "";
    case Damage::kCut:
      // A table loses its last 3 bytes, the others their last one.
      b.resize(b.size() - (std::string(f.file).find(".dat") != std::string::npos && b.size() > 3 ? 3 : 1));
      return b;
    case Damage::kRandom: {
      std::mt19937 random(12345);
      for (char& c : b) c = static_cast<char>(random());
      return b;
    }
    case Damage::kHugeCount:
      if (b.size() >= f.count_at + 4) b.replace(f.count_at, 4, Le32(0xFFFFFFF0u));
      return b;
    case Damage::kFlippedByte: {
      const size_t at = f.flip_at < 0 ? b.size() + f.flip_at : static_cast<size_t>(f.flip_at);
      if (at < b.size()) b[at] = static_cast<char>(b[at] ^ f.flip_mask);
      return b;
    }
  }
  return b;
}

TEST_F(DamagedFiles, NeverCostASaveAndThePlayerIsTold) {
  const std::string save = game + "/save", data = game + "/data";
  // The player's saves: what the first run made, a slot and a resume file.
  Write(save + "/save000.dat", std::string(4096, 's'));
  Write(save + "/continue.dat", std::string(4096, 'c'));
  const std::vector<std::string> saves = {"system.dat", "config.dat", "save000.dat", "continue.dat"};
  std::vector<std::string> pristine;
  for (const std::string& n : saves) pristine.push_back(Read(n));

  enum class Outcome { kRefused, kSetAside, kQuestion, kPlays };
  const FileDamage files[] = {
      {"data/Script.src", 8, 8, 0x02},     // entry pc; off the word grid
      {"data/File.dat", 12, 12, 0x01},     // record count
      {"data/Text.dat", 12, -1, 0x41},     // word count; the last text's end
      {"data/Mem.dat", 12, 12, 0x01},      // element count
      {"data/Point.dat", 12, 12, 0x01},    // label count
      {"save/system.dat", 3946, 2, 0x01},  // size of the read flags; the build stamp
      {"save/save000.dat", 0, 100, 0x01},
      {"save/continue.dat", 0, 100, 0x01},
  };
  std::printf("[ table ] file | damage | what happened\n");
  for (const FileDamage& f : files) {
    const std::string path = game + "/" + f.file;
    const std::string good = ReadPath(path);
    ASSERT_FALSE(good.empty()) << f.file;
    const bool system = std::string(f.file) == "save/system.dat";
    const bool slot = std::string(f.file).rfind("save/", 0) == 0 && !system;
    for (Damage d : {Damage::kEmpty, Damage::kCut, Damage::kRandom, Damage::kHugeCount, Damage::kFlippedByte}) {
      if (slot && d == Damage::kHugeCount) continue;  // a made-up slot has no count to grow
      SCOPED_TRACE(std::string(f.file) + ", " + DamageName(d));
      const std::string bad = Damaged(good, d, f);
      Write(path, bad);
      std::system(("rm -f '" + save + "'/system.dat.damaged*").c_str());
      const Outcome expect = slot ? Outcome::kPlays
                             : !system ? Outcome::kRefused
                             : d == Damage::kFlippedByte ? Outcome::kQuestion
                                                         : Outcome::kSetAside;
      pid_t pid = Start({"/DIB"}, "no");
      const ChildGuard guard{pid};
      if (expect == Outcome::kSetAside || expect == Outcome::kPlays) {
        // It plays: ended as a player would, once it does.
        ASSERT_TRUE(WaitText(kGameRuns)) << Stderr();
        kill(pid, SIGTERM);
      }
      const int code = WaitExit(pid);
      const std::string err = Stderr();
      std::string happened;
      switch (expect) {
        case Outcome::kRefused:
          EXPECT_EQ(code, 1) << err;
          EXPECT_NE(err.find("[起動エラー] スクリプトまたはデータファイルが壊れているため"), std::string::npos) << err;
          EXPECT_NE(err.find(std::string(f.file).substr(5)), std::string::npos) << "names the file: " << err;
          happened = "start refused, box names the file";
          break;
        case Outcome::kSetAside:
          EXPECT_EQ(code, 0) << err;
          EXPECT_EQ(Count(err, "システムデータが壊れていたため"), 1) << "told once: " << err;
          EXPECT_EQ(ReadPath(save + "/system.dat.damaged"), bad) << "the damaged file is kept as it was";
          EXPECT_EQ(SystemDatStamp(save + "/system.dat"), 20261210u) << "made afresh";
          happened = "kept as system.dat.damaged, made afresh, one box";
          break;
        case Outcome::kQuestion:
          EXPECT_EQ(code, 0) << err;
          EXPECT_NE(err.find("[検証結果]"), std::string::npos) << err;
          happened = "readable, other build: the question; No ends, nothing deleted";
          break;
        case Outcome::kPlays:
          EXPECT_EQ(code, 0) << err;
          happened = "not read at start: plays, file left as it is";
          break;
      }
      // No save changed: the damaged file is as it was given (or kept aside
      // whole), every other one as it was before.
      for (size_t i = 0; i < saves.size(); ++i) {
        const std::string& n = saves[i];
        if ("save/" + n == f.file) {
          if (expect != Outcome::kSetAside) {
            EXPECT_EQ(Read(n), bad) << n << " changed";
          }
          continue;
        }
        // A game that played writes its system data and configuration back.
        if ((expect == Outcome::kPlays || expect == Outcome::kSetAside) && (n == "system.dat" || n == "config.dat"))
          continue;
        EXPECT_EQ(Read(n), pristine[i]) << n << " changed";
      }
      std::printf("[ table ] %s | %s | %s (exit %d)\n", f.file, DamageName(d), happened.c_str(), code);
      // The next row starts from the pristine folder.
      Write(path, good);
      for (size_t i = 0; i < saves.size(); ++i) Write(save + "/" + saves[i], pristine[i]);
    }
  }
}

}  // namespace
