// Senfar as a process, headless, in a folder with a Japanese name and a
// Japanese title: the lock shared with the game, the game program beside
// it, config.dat missing, short, empty, unreadable or read-only, the save
// folder and the install ini, and the round trip with the game's own
// reading and writing of config.dat.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "data/config_dat.h"
#include "platform/core/instance_lock.h"
#include "platform/core/text_encoding.h"
#include "support/process_group.h"

extern char** environ;

namespace {

const std::string kTitle = "オルヴェイン体験版";  // the test build's ProductName

struct Result {
  int exit_code = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<int32_t> Words(const std::string& bytes) {
  std::vector<int32_t> w;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t(static_cast<uint8_t>(bytes[i + k])) << (8 * k);
    w.push_back(static_cast<int32_t>(v));
  }
  return w;
}

std::string Bytes(const std::vector<int32_t>& words) {
  std::string out;
  for (int32_t w : words)
    for (int i = 0; i < 4; ++i) out += static_cast<char>(static_cast<uint32_t>(w) >> (8 * i));
  return out;
}

class SenfarProcess : public ::testing::Test {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/senfarprocXXXXXX";
    root = mkdtemp(tmpl);
    folder = root + "/ゲーム フォルダ";
    ::mkdir(folder.c_str(), 0755);
    runtime = root + "/run";
    ::mkdir(runtime.c_str(), 0700);
    config_home = root + "/config";
    tool = folder + "/Senfar";
    ASSERT_EQ(std::system(("cp '" + std::string(SENFAR_JP) + "' '" + tool + "'").c_str()), 0);
    std::ofstream(folder + "/Orvane") << "game";
    save = folder + "/save";
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

  std::vector<std::string> Env(const std::vector<std::string>& extra) {
    std::vector<std::string> env = {"KIV_HEADLESS=1", "XDG_RUNTIME_DIR=" + runtime,
                                    "XDG_CONFIG_HOME=" + config_home, "HOME=" + root};
    for (char** e = environ; *e; ++e) {
      std::string s(*e);
      if (s.rfind("KIV_", 0) == 0 || s.rfind("XDG_", 0) == 0 || s.rfind("HOME=", 0) == 0) continue;
      env.push_back(s);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  pid_t Spawn(const std::string& program, const std::vector<std::string>& extra, const std::string& tag) {
    std::vector<std::string> env = Env(extra);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string p = program;
    char* argv[] = {p.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string out = root + "/" + tag + ".out", err = root + "/" + tag + ".err";
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    testproc::OwnGroup(&attr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &fa, &attr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return pid;
  }

  Result Wait(pid_t pid, const std::string& tag) {
    Result r;
    // A run that hangs is killed with its group after a minute.
    if (pid > 0) r.exit_code = testproc::WaitExit(pid, 60000);
    r.out = ReadText(root + "/" + tag + ".out");
    r.err = ReadText(root + "/" + tag + ".err");
    return r;
  }

  Result Run(const std::vector<std::string>& extra = {}) { return Wait(Spawn(tool, extra, "senfar"), "senfar"); }

  void WriteConfig(const std::string& bytes) {
    ::mkdir(save.c_str(), 0755);
    std::ofstream(save + "/config.dat", std::ios::binary) << bytes;
  }

  std::string root, folder, runtime, config_home, tool, save;
};

const std::vector<int32_t> kDefaults1080 = {320, 180, 1280, 720, 0x4419, 0, 1, 2};

TEST_F(SenfarProcess, GameRunningMeansASilentExit) {
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  plat::InstanceLock game;
  ASSERT_TRUE(game.Acquire(plat::Utf8ToCp932(kTitle)));
  Result r = Run();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "") << "no box";
  EXPECT_NE(::access(save.c_str(), F_OK), 0) << "nothing was made";
  game.Release();
  r = Run();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("[報告] 環境設定データを新規で作成します。"), std::string::npos) << r.err;
}

TEST_F(SenfarProcess, ALockThatCannotBeMadeIsReported) {
  // The lock file's place is taken by a folder: nobody holds the lock, and
  // it cannot be made.
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  std::string path = plat::InstanceLock::PathFor(plat::Utf8ToCp932(kTitle));
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  Result r = Run();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("[エラー] 起動中のプログラムを確認できませんでした。"), std::string::npos) << r.err;
}

TEST_F(SenfarProcess, ARunningToolKeepsTheGameOut) {
  // The demo game folder's own pair of programs share their title.
  std::string demo = DEMO_GAME_DIR;
  std::string go = root + "/go";
  pid_t tool_pid = Spawn(demo + "/Senfar", {"KIV_TOOL_PRESS=wait:" + go, "KIV_BOX_ANSWERS=ok"}, "tool");
  ASSERT_GT(tool_pid, 0);
  // The tool says when it waits, with its lock held.
  bool waiting = false;
  for (int i = 0; i < 400 && !waiting; ++i) {
    waiting = ReadText(root + "/tool.err").find("[wait]") != std::string::npos;
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (!waiting) {
    std::ofstream(go) << "";
    Result t = Wait(tool_pid, "tool");
    FAIL() << "the tool did not start: " << t.exit_code << " " << t.err;
  }
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    plat::InstanceLock probe;
    EXPECT_EQ(probe.TryAcquire(plat::Utf8ToCp932("Orvane Demo"), nullptr), plat::InstanceLock::Result::kHeld);
  }
  Result game = Wait(Spawn(demo + "/Orvane", {}, "game"), "game");
  EXPECT_EQ(game.exit_code, 1) << "the game refuses to run beside its tool";
  std::ofstream(go) << "";
  Result t = Wait(tool_pid, "tool");
  EXPECT_EQ(t.exit_code, 0) << t.err;
}

TEST_F(SenfarProcess, StartUpTable) {
  struct Case {
    const char* name;
    std::function<void(SenfarProcess&)> prepare;
    std::vector<std::string> env;
    int exit_code;
    std::vector<std::string> boxes;       // each must appear on stderr
    const char* config_at;                // where config.dat should be (relative to root), or null
    std::vector<int32_t> words;           // its words afterwards (empty: not checked)
  };
  auto none = [](SenfarProcess&) {};
  const std::vector<Case> cases = {
      {"no game program", [](SenfarProcess& t) { ::unlink((t.folder + "/Orvane").c_str()); }, {}, 0,
       {"[エラー] KeyFileが見つかりません。"}, nullptr, {}},
      {"the game program is a folder",
       [](SenfarProcess& t) {
         ::unlink((t.folder + "/Orvane").c_str());
         ::mkdir((t.folder + "/Orvane").c_str(), 0755);
       },
       {}, 0, {"KeyFileが見つかりません。"}, nullptr, {}},
      {"no config.dat on 1920x1080", none, {}, 0, {"[報告] 環境設定データを新規で作成します。"},
       "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"no config.dat on 1024x600", none, {"KIV_HEADLESS_DESKTOP=1024x600"}, 0, {"[報告]"},
       "ゲーム フォルダ/save/config.dat", {0, 0, 1280, 720, 0x4419, 0, 1, 2}},
      {"short config.dat is read, not rewritten",
       [](SenfarProcess& t) { t.WriteConfig(Bytes({5, 6, 640})); }, {}, 0, {}, "ゲーム フォルダ/save/config.dat",
       {5, 6, 640}},
      {"short config.dat saved: words present, defaults for the rest",
       [](SenfarProcess& t) { t.WriteConfig(Bytes({5, 6, 640})); }, {"KIV_TOOL_PRESS=main:1003"}, 0, {},
       "ゲーム フォルダ/save/config.dat", {5, 6, 640, 720, 0x4419, 0, 1, 2}},
      {"empty config.dat shows the defaults", [](SenfarProcess& t) { t.WriteConfig(""); },
       {"KIV_TOOL_PRESS=main:1003"}, 0, {}, "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"unreadable config.dat is reported and kept",
       [](SenfarProcess& t) {
         ::mkdir(t.save.c_str(), 0755);
         ::mkdir((t.save + "/config.dat").c_str(), 0755);
       },
       {}, 1, {"[エラー] 環境設定データを読み込めませんでした。"}, nullptr, {}},
      {"uncreatable save folder", [](SenfarProcess& t) { std::ofstream(t.save) << "a file"; }, {}, 1,
       {"[予期せぬエラー] saveフォルダの作成に失敗。", "[予期せぬエラー] 環境設定データを作成できませんでした。"}, nullptr,
       {}},
      {"SaveFold \"*\" is the default",
       [](SenfarProcess& t) {
         ::mkdir(t.config_home.c_str(), 0755);
         std::ofstream(t.config_home + "/Orvane.ini") << "[INSTALL]\nSaveFold=*\n";
       },
       {}, 0, {"[報告]"}, "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"SaveFold naming a file is the default",
       [](SenfarProcess& t) {
         ::mkdir(t.config_home.c_str(), 0755);
         std::ofstream(t.root + "/afile") << "x";
         std::ofstream(t.config_home + "/Orvane.ini") << "[INSTALL]\nSaveFold=" << t.root << "/afile\n";
       },
       {}, 0, {"[報告]"}, "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"SaveFold naming a missing folder is the default",
       [](SenfarProcess& t) {
         ::mkdir(t.config_home.c_str(), 0755);
         std::ofstream(t.config_home + "/Orvane.ini") << "[INSTALL]\nSaveFold=" << t.root << "/nothing\n";
       },
       {}, 0, {"[報告]"}, "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"SaveFold naming another folder",
       [](SenfarProcess& t) {
         ::mkdir(t.config_home.c_str(), 0755);
         ::mkdir((t.root + "/別の保存先").c_str(), 0755);
         std::ofstream(t.config_home + "/Orvane.ini") << "[INSTALL]\nSaveFold=" << t.root << "/別の保存先\n";
       },
       {}, 0, {"[報告]"}, "別の保存先/config.dat", kDefaults1080},
      {"read-only config.dat at save",
       [](SenfarProcess& t) {
         t.WriteConfig(Bytes(kDefaults1080));
         ::chmod((t.save + "/config.dat").c_str(), 0444);
       },
       {"KIV_TOOL_PRESS=system:1013,main:1003"}, 0, {"[エラー報告] コンフィグ情報の保存に失敗しました。"},
       "ゲーム フォルダ/save/config.dat", kDefaults1080},
      {"終了 writes nothing", [](SenfarProcess& t) { t.WriteConfig(Bytes(kDefaults1080)); },
       {"KIV_TOOL_PRESS=system:1013,main:2"}, 0, {}, "ゲーム フォルダ/save/config.dat", kDefaults1080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.prepare(*this);
    Result r = Run(c.env);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    for (const std::string& box : c.boxes) EXPECT_NE(r.err.find(box), std::string::npos) << r.err;
    if (c.boxes.empty()) {
      EXPECT_EQ(r.err.find("] "), std::string::npos) << r.err;
    }
    if (c.config_at) {
      std::string bytes = ReadText(root + "/" + c.config_at);
      EXPECT_EQ(Words(bytes), c.words);
    } else {
      struct stat st;
      bool file = ::stat((save + "/config.dat").c_str(), &st) == 0 && S_ISREG(st.st_mode);
      EXPECT_FALSE(file) << "no config.dat was written";
    }
  }
}

// The game writes config.dat at exit, the tool edits it, and the game's next
// start reads what the tool saved.
TEST_F(SenfarProcess, RoundTripWithTheGame) {
  KivSystemParameters exit_params{};
  exit_params.x = 100;
  exit_params.y = 50;
  exit_params.clientWidth = 1280;
  exit_params.clientHeight = 720;
  exit_params.mode = 0x4419 | 0x8;
  exit_params.adapter = 0;
  exit_params.aspect = 3;
  exit_params.pacing = 1;
  uint8_t bytes[32];
  config_bytes(exit_params, bytes);
  WriteConfig(std::string(reinterpret_cast<char*>(bytes), 32));

  Result r = Run({"KIV_TOOL_PRESS=system:1003,system:1010,graphics:1016,graphics:1019,main:1003"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("system 1013 on enabled"), std::string::npos) << r.out;

  std::string saved = ReadText(save + "/config.dat");
  ASSERT_EQ(saved.size(), 32u);
  KivSystemParameters next{};
  next.clientWidth = 960;
  next.clientHeight = 600;
  next.mode = 0x441B;
  next.aspect = 1;
  next.pacing = 2;
  config_apply(reinterpret_cast<const uint8_t*>(saved.data()), saved.size(), &next);
  EXPECT_EQ(next.x, 100);
  EXPECT_EQ(next.y, 50);
  EXPECT_EQ(next.clientWidth, 1280);
  EXPECT_EQ(next.clientHeight, 720);
  EXPECT_EQ(next.mode, 0x2000u | 0x200u | 0x10u | 0x8u | 0x1u);
  EXPECT_EQ(next.adapter, 0);
  EXPECT_EQ(next.aspect, 2);
  EXPECT_EQ(next.pacing, 0);
}

}  // namespace
