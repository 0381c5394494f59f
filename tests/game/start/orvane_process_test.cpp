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

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/instance_lock.h"
#include "platform/core/text_encoding.h"

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
               const std::vector<std::string>& args = {}) {
  std::string err_file = kDir + "/stderr.txt";
  std::vector<std::string> env = {"KIV_HEADLESS=1"};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("KIV_", 0) != 0) env.push_back(*e);
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
  pid_t pid;
  ProcessResult r;
  if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) return r;
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

TEST(OrvaneProcess, SecondInstanceExitsSilently) {
  {
    plat::InstanceLock held;
    ASSERT_TRUE(held.Acquire("KivTest"));
    ProcessResult r = RunProgram(kDir + "/orvane_id_ok");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "") << "a second instance shows nothing";
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

class StampQuestion : public ::testing::Test {
 protected:
  void SetUp() override {
    save = kDir + "/save";
    data = kDir + "/data";
    ASSERT_EQ(std::system(("rm -rf '" + save + "' '" + data + "'").c_str()), 0);
    ::mkdir(save.c_str(), 0755);
    ::mkdir(data.c_str(), 0755);
    // A script of build 2 and saves kept by build 1; not a playable script,
    // so a start that gets past the question ends at loading it.
    Write(data + "/Script.src", std::string("\0\0\0\0\2\0\0\0\0\0\0\0", 12));
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
  // The start went on past the question (and ended at the unplayable script).
  EXPECT_EQ(r.exit_code, 1) << r.err;
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
                         "/dll' '" + game + "/dll'").c_str()),
            0);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("KIV_HEADLESS", "1", 1);
    setenv("KIV_BOX_ANSWERS", "yes", 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl((game + "/Orvane").c_str(), "Orvane", "/DIB", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The first frame writes system.dat; then ask the game to end, as a
  // terminal's Ctrl+C or a session manager does.
  for (int i = 0; i < 500 && !Exists(game + "/save/system.dat"); ++i) usleep(10000);
  ASSERT_TRUE(Exists(game + "/save/system.dat"));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
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

// A program a failed check left running is killed, not left behind.
struct ChildGuard {
  pid_t pid;
  ~ChildGuard() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};


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
                           "/dll' '" + game + "/dll'").c_str()),
              0);
    // One run makes system.dat and config.dat, so each case below shows
    // whether its end wrote them again.
    pid_t pid = Start({"/DIB"}, "");
    for (int i = 0; i < 1000 && !Exists(game + "/save/system.dat"); ++i) usleep(10000);
    kill(pid, SIGTERM);
    ASSERT_EQ(WaitExit(pid), 0);
  }

  static pid_t Start(const std::vector<std::string>& args, const std::string& answers) {
    const std::string err = game + "/stderr.txt";
    ::unlink(err.c_str());  // nothing of the last run may be read as this one's
    pid_t pid = fork();
    if (pid == 0) {
      setenv("KIV_HEADLESS", "1", 1);
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

  // The exit code, or -1 when the program did not end within 30 s (then it
  // is killed: it hung).
  static int WaitExit(pid_t pid) {
    for (int i = 0; i < 3000; ++i) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
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
      {"mid-game: SIGTERM", true, "", {{kSleep, 1000}, {kSignal, SIGTERM}}, 0},
      {"mid-game: SIGINT", true, "", {{kSleep, 1000}, {kSignal, SIGINT}}, 0},
      {"twice in a row: SIGINT, SIGTERM", true, "", {{kSleep, 1000}, {kSignal, SIGINT}, {kSignal, SIGTERM}}, 0},
      {"twice in a row: close button held open, SIGTERM", true, "yes@500",
       {{kSleep, 1000}, {kSignal, SIGUSR1}, {kWaitText, 0, "本当に終了しますか"}, {kSignal, SIGTERM}}, 1},
      {"close button, Yes", true, "yes", {{kSleep, 1000}, {kSignal, SIGUSR1}}, 1},
      {"close button, No, then SIGTERM", true, "no",
       {{kSleep, 1000}, {kSignal, SIGUSR1}, {kWaitText, 0, "本当に終了しますか"}, {kSleep, 500}, {kStillRunning},
        {kSignal, SIGTERM}},
       1},
      {"close button, box not shown", true, "", {{kSleep, 1000}, {kSignal, SIGUSR1}}, 1},
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
          for (int i = 0; i < 2000 && Stderr().find(step.text) == std::string::npos; ++i) usleep(10000);
          EXPECT_NE(Stderr().find(step.text), std::string::npos) << step.text;
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

}  // namespace
