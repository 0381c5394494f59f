// Senfar's GTK window under a virtual display (Adwaita, IPAGothic, scale 1,
// a Japanese locale) over an injected machine: each page as shown, compared within a tolerance
// with reviewed pictures in tests/golden (KIV_UPDATE_GOLDEN=1 writes them
// anew), and presses made on the widgets themselves, checked in the bytes
// "保存して終了" writes.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>

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
    ::mkdir((root + "/bin").c_str(), 0755);
    std::ofstream(root + "/bin/glxinfo") << "#!/bin/sh\necho 'name of display: :0'\necho 'direct rendering: Yes'\n";
    ::chmod((root + "/bin/glxinfo").c_str(), 0755);
    ASSERT_EQ(std::system(("cp '" + std::string(SENFAR) + "' '" + folder + "/Senfar'").c_str()), 0);
    std::ofstream(folder + "/Orvane") << "game";
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

  int Run(const std::vector<std::string>& extra) {
    pid_t pid = Spawn(extra);
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Starts the tool in its own process group; -1 when it cannot start.
  pid_t Spawn(const std::vector<std::string>& extra) {
    // PATH holds the test's own programs first (a stand-in for glxinfo).
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + root + "/run", "XDG_CONFIG_HOME=" + root + "/cfg",
                                    "HOME=" + root, "GDK_SCALE=1", "GDK_DPI_SCALE=1", "GTK_THEME=Adwaita",
                                    "NO_AT_BRIDGE=1", "LANG=ja_JP.UTF-8", "LC_ALL=ja_JP.UTF-8",
                                    "PATH=" + root + "/bin:/usr/bin:/bin"};
    for (char** e = environ; *e; ++e) {
      std::string s(*e);
      if (s.rfind("KIV_", 0) == 0 || s.rfind("XDG_", 0) == 0 || s.rfind("HOME=", 0) == 0 ||
          s.rfind("GDK_", 0) == 0 || s.rfind("GTK_", 0) == 0 || s.rfind("LANG", 0) == 0 || s.rfind("LC_", 0) == 0 ||
          s.rfind("PATH=", 0) == 0)
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
    posix_spawn_file_actions_addchdir_np(&fa, folder.c_str());  // started from its folder
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &fa, &attr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return pid;
  }

  void WriteConfig(const std::vector<int32_t>& words) {
    std::ofstream(folder + "/save/config.dat", std::ios::binary) << Bytes(words);
  }

  // Within a tolerance: antialiased text may differ by a few levels, and
  // at most 1% of the pixels may differ by more.
  void Compare(const std::string& shot, const std::string& golden_name) {
    std::string golden = kGolden + "/" + golden_name;
    // Kept in the build folder to be looked at.
    std::system(("cp '" + root + "/shots/" + shot + "' '" SHOT_DIR "/" + golden_name + "'").c_str());
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
  // The game folder's icon: a picture of the test's own.
  std::vector<uint32_t> icon(48 * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) icon[y * 48 + x] = 0xFF000000u | (x * 5) << 16 | (y * 5) << 8 | 0x80;
  ASSERT_TRUE(plat::CapturePng(folder + "/icon.png", icon.data(), 48, 48, 48));
  ASSERT_EQ(Run({"KIV_TOOL_FAKE_MACHINE=1", "KIV_TOOL_PRESS=info:1006", "KIV_TOOL_SHOT=" + root + "/shots"}), 0)
      << ReadText(root + "/err.txt");
  Compare("senfar_system.png", "senfar_system.png");
  Compare("senfar_graphics.png", "senfar_graphics.png");
  Compare("senfar_info.png", "senfar_info.png");
  EXPECT_EQ(ReadText(folder + "/save/config.dat"), Bytes(kDefaults)) << "closing writes nothing";
  std::vector<uint32_t> shown;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::ReadPng(root + "/shots/senfar_icon.png", &shown, &w, &h)) << "the window has an icon";
  EXPECT_EQ(w, 48);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(shown, icon) << "the window's icon is the game folder's icon.png";
}

// The diagnostics window over the injected machine, and the desktop's
// diagnostics program (a stand-in glxinfo) started from it, its output in
// a tab of its own.
TEST_F(SenfarScreen, DiagnosticsWindowAndItsProgram) {
  WriteConfig(kDefaults);
  ASSERT_EQ(Run({"KIV_TOOL_FAKE_MACHINE=1", "KIV_TOOL_PRESS=main:1002,diag:glxinfo",
                 "KIV_TOOL_SHOT=" + root + "/shots"}),
            0)
      << ReadText(root + "/err.txt");
  Compare("senfar_diagnostics_0.png", "senfar_diagnostics.png");
  Compare("senfar_diagnostics_1.png", "senfar_diagnostics_glxinfo.png");
}

std::string WindowName(Display* d, Window w) {
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                         XInternAtom(d, "UTF8_STRING", False), &type, &format, &n, &after, &data) == Success &&
      data) {
    name.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  return name;
}

Window FindViewable(Display* d, const std::string& name) {
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !found; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && WindowName(d, children[i]) == name)
        found = children[i];
    }
    if (children) XFree(children);
  }
  return found;
}

void PressReturn(Display* d, Window w) {
  XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
  const KeyCode enter = XKeysymToKeycode(d, XK_Return);
  XTestFakeKeyEvent(d, enter, True, 0);
  XTestFakeKeyEvent(d, enter, False, 0);
  XFlush(d);
}

// The box after saving the report, on a bare X server (no window manager,
// no compositor): drawn, not a black rectangle, and answered by Return;
// once with the file named by the test, once through the save dialog.
TEST_F(SenfarScreen, CompletionBoxAfterSavingIsDrawn) {
  for (bool chooser : {false, true}) {
    SCOPED_TRACE(chooser ? "through the save dialog" : "file named by the test");
    WriteConfig(kDefaults);
    ::unlink((root + "/report.txt").c_str());
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    std::vector<std::string> env = {"KIV_TOOL_FAKE_MACHINE=1", "KIV_TOOL_PRESS=info:1006,info:3",
                                    "KIV_TOOL_REAL_BOXES=1"};
    if (!chooser) env.push_back("KIV_TOOL_SAVE_AS=" + root + "/report.txt");
    pid_t pid = Spawn(env);
    ASSERT_GT(pid, 0);
    auto give_up = [&](const std::string& why) {
      ::kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      XCloseDisplay(d);
      return why + ": " + ReadText(root + "/err.txt");
    };
    if (chooser) {
      Window dialog = 0;
      for (int i = 0; i < 800 && !dialog; ++i, usleep(50000)) dialog = FindViewable(d, "出力先を指定してください");
      if (!dialog) FAIL() << give_up("no save dialog");
      usleep(500000);
      // The name field holds "report.txt" in the current folder (the
      // game folder): Return saves there.
      PressReturn(d, dialog);
    }
    Window box = 0;
    for (int i = 0; i < 800 && !box; ++i, usleep(50000)) box = FindViewable(d, "完了");
    if (!box) FAIL() << give_up("no completion box");
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 0, 0);
    XSetInputFocus(d, box, RevertToPointerRoot, CurrentTime);
    usleep(500000);  // as long as a player takes to look at it
    XSync(d, False);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(d, box, &a));
    XImage* img = XGetImage(d, box, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    ASSERT_NE(img, nullptr);
    std::vector<uint32_t> px(static_cast<size_t>(a.width) * a.height);
    size_t dark = 0;
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) {
        uint32_t p = XGetPixel(img, x, y) & 0xFFFFFF;
        px[static_cast<size_t>(y) * a.width + x] = 0xFF000000u | p;
        dark += p < 0x101010;
      }
    XDestroyImage(img);
    ASSERT_TRUE(plat::CapturePng(root + "/shots/senfar_saved_box.png", px.data(), a.width, a.height, a.width));
    EXPECT_LT(dark, px.size() / 4) << "the box is drawn";
    Compare("senfar_saved_box.png", "senfar_saved_box.png");
    PressReturn(d, box);
    int status = -1;
    for (int i = 0; i < 400; ++i, usleep(50000))
      if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (!WIFEXITED(status)) {
      ::kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    XCloseDisplay(d);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(root + "/err.txt");
    std::string saved = chooser ? folder + "/report.txt" : root + "/report.txt";
    EXPECT_NE(ReadText(saved).find("[環境]\r\n"), std::string::npos) << saved;
    ::unlink(saved.c_str());
  }
}

}  // namespace
