// Senfar's GTK window under a virtual display (Adwaita, IPAGothic, scale 1)
// over an injected machine: each page as shown, compared within a tolerance
// with reviewed pictures in tests/golden (KIV_UPDATE_GOLDEN=1 writes them
// anew), and presses made on the widgets themselves, checked in the bytes
// "保存して終了" writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"

extern char** environ;

namespace {

const std::string kGolden = KIV_GOLDEN_DIR;

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Bytes(const std::vector<int32_t>& words) {
  std::string out;
  for (int32_t w : words)
    for (int i = 0; i < 4; ++i) out += static_cast<char>(static_cast<uint32_t>(w) >> (8 * i));
  return out;
}

class SenfarScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fixed folder: the information page shows it, and the pictures are
    // compared with reviewed ones. The xvfb lock keeps these tests apart.
    root = "/tmp/senfar-screen-test";
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    folder = root + "/game";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/save").c_str(), 0755);
    ::mkdir((root + "/run").c_str(), 0700);
    ::mkdir((root + "/shots").c_str(), 0755);
    ASSERT_EQ(std::system(("cp '" + std::string(SENFAR) + "' '" + folder + "/Senfar'").c_str()), 0);
    std::ofstream(folder + "/Orvane") << "game";
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

  int Run(const std::vector<std::string>& extra) {
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + root + "/run", "XDG_CONFIG_HOME=" + root + "/cfg",
                                    "HOME=" + root, "GDK_SCALE=1", "GDK_DPI_SCALE=1", "GTK_THEME=Adwaita",
                                    "NO_AT_BRIDGE=1"};
    for (char** e = environ; *e; ++e) {
      std::string s(*e);
      if (s.rfind("KIV_", 0) == 0 || s.rfind("XDG_", 0) == 0 || s.rfind("HOME=", 0) == 0 ||
          s.rfind("GDK_", 0) == 0 || s.rfind("GTK_", 0) == 0)
        continue;
      env.push_back(s);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = folder + "/Senfar";
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string err = root + "/err.txt";
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, envp.data()) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&fa);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void WriteConfig(const std::vector<int32_t>& words) {
    std::ofstream(folder + "/save/config.dat", std::ios::binary) << Bytes(words);
  }

  // Within a tolerance: antialiased text may differ by a few levels, and
  // at most 1% of the pixels may differ by more.
  void Compare(const std::string& shot, const std::string& golden_name) {
    std::string golden = kGolden + "/" + golden_name;
    if (std::getenv("KIV_UPDATE_GOLDEN")) {
      ASSERT_EQ(std::system(("cp '" + root + "/shots/" + shot + "' '" + golden + "'").c_str()), 0);
    }
    std::vector<uint32_t> a, b;
    int aw, ah, bw, bh;
    ASSERT_TRUE(plat::ReadPng(root + "/shots/" + shot, &a, &aw, &ah)) << shot;
    ASSERT_TRUE(plat::ReadPng(golden, &b, &bw, &bh)) << golden;
    ASSERT_EQ(aw, bw);
    ASSERT_EQ(ah, bh);
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      int worst = 0;
      for (int s = 0; s < 24; s += 8) {
        int d = static_cast<int>((a[i] >> s) & 0xFF) - static_cast<int>((b[i] >> s) & 0xFF);
        worst = std::max(worst, std::abs(d));
      }
      if (worst > 24) ++differing;
    }
    EXPECT_LE(differing, a.size() / 100) << shot << " against " << golden_name;
  }

  std::string root, folder;
};

const std::vector<int32_t> kDefaults = {320, 180, 1280, 720, 0x4419, 0, 1, 2};

TEST_F(SenfarScreen, PagesWithDefaultsAndTheInjectedReport) {
  WriteConfig(kDefaults);
  ASSERT_EQ(Run({"KIV_TOOL_FAKE_MACHINE=1", "KIV_TOOL_PRESS=info:1006", "KIV_TOOL_SHOT=" + root + "/shots"}), 0)
      << ReadText(root + "/err.txt");
  Compare("senfar_system.png", "senfar_system.png");
  Compare("senfar_graphics.png", "senfar_graphics.png");
  Compare("senfar_info.png", "senfar_info.png");
  EXPECT_EQ(ReadText(folder + "/save/config.dat"), Bytes(kDefaults)) << "closing writes nothing";
}

TEST_F(SenfarScreen, Word6ZeroAndBicubicDisabled) {
  WriteConfig({0, 0, 1280, 720, 0x4819, 0, 0, 2});
  ASSERT_EQ(Run({"KIV_TOOL_FAKE_MACHINE=2", "KIV_TOOL_PRESS=graphics:1014=1", "KIV_TOOL_SHOT=" + root + "/shots"}),
            0);
  Compare("senfar_system.png", "senfar_system_word6_0.png");
  Compare("senfar_graphics.png", "senfar_graphics_no_bicubic.png");
}

TEST_F(SenfarScreen, ChangingTheRendererAndSavingThroughTheWidgets) {
  WriteConfig({0, 0, 1280, 720, 0x4819, 0, 1, 2});
  ASSERT_EQ(Run({"KIV_TOOL_FAKE_MACHINE=2", "KIV_TOOL_PRESS=graphics:1014=1,system:1013,main:1003"}), 0)
      << ReadText(root + "/err.txt");
  EXPECT_EQ(ReadText(folder + "/save/config.dat"), Bytes({0, 0, 1280, 720, 0x4419, 1, 0, 2}));
}

}  // namespace
