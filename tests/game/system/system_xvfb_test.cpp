// The demo on a real X display (run under xvfb-run), as a smoke run:
// Alt+Enter, sent through XTest, enters the demo's message routine, which
// switches the window to full screen; a second Alt+Enter brings the window
// back at its size; SIGTERM then ends the program in order.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/process_group.h"
#include "support/x_window_pixel.h"

namespace {

const std::string kGame = std::string(ORVANE_TEST_DIR) + "/xvfb_system";
const char* const kTitle = "Orvane Demo";

std::string Name(Display* d, Window w) {
  char* fetched = nullptr;
  std::string name;
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False), net_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success && data) {
    name.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
    return name;
  }
  if (XFetchName(d, w, &fetched) && fetched) {
    name = fetched;
    XFree(fetched);
  }
  return name;
}

// The game's viewable top-level window (no window manager: a child of the root).
Window FindGame(Display* d) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned int count = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes a;
    if (Name(d, children[i]) == kTitle && XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable)
      found = children[i];
  }
  if (children) XFree(children);
  return found;
}

struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};
Size SizeOf(Display* d, Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a)) return {};
  return {a.width, a.height};
}

// Waits (up to 10 s) until the window has that size.
bool WaitSize(Display* d, Window w, Size want) {
  for (int i = 0; i < 200; ++i) {
    if (SizeOf(d, w) == want) return true;
    usleep(50000);
  }
  return false;
}

void AltEnter(Display* d, Window w) {
  XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
  XFlush(d);
  usleep(100000);
  const KeyCode alt = XKeysymToKeycode(d, XK_Alt_L), enter = XKeysymToKeycode(d, XK_Return);
  XTestFakeKeyEvent(d, alt, True, 0);
  XTestFakeKeyEvent(d, enter, True, 0);
  XTestFakeKeyEvent(d, enter, False, 0);
  XTestFakeKeyEvent(d, alt, False, 0);
  XFlush(d);
}

std::string Stderr() {
  std::ifstream f(kGame + "/stderr.txt");
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The exit code, or -1 when it did not end within 60 s: then the program
// and its group (a box's process among them) are killed.
int WaitExit(pid_t pid) { return testproc::WaitExit(pid, 60000); }

// A program a failed check left running is killed with its group.
using ChildGuard = testproc::GroupGuard;

// The demo's sky at the top middle of the window, once it shows there.
bool ShowsSky(Display* d, Window w) {
  for (int i = 0; i < 100; ++i, usleep(50000)) {
    const Size s = SizeOf(d, w);
    const long rgb = kivtest::XWindowPixel(d, w, s.w / 2, 10);
    const long r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (rgb >= 0 && b > 150 && b > r + 60 && b > g + 20) return true;
  }
  return false;
}

// Both renderers: the software one (/DIB) and the GPU one, which presents
// straight into the window and must follow its size both ways.
TEST(DemoOnX, AltEnterSwitchesToFullScreenAndBack) {
  for (const bool gpu : {false, true}) {
    SCOPED_TRACE(gpu ? "GPU" : "software");
    char pattern[] = "/tmp/orvane-xvfb-system-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    ::setenv("XDG_RUNTIME_DIR", pattern, 1);
    ASSERT_EQ(std::system(("rm -rf '" + kGame + "' && mkdir -p '" + kGame + "' && cp '" DEMO_GAME_DIR "/Orvane' '" + kGame +
                           "/' && cp -r '" DEMO_GAME_DIR "/data' '" + kGame + "/' && cp '" DEMO_GAME_DIR "/demo.pac' '" +
                           kGame + "/' && ln -s '" DEMO_GAME_DIR "/dll' '" + kGame + "/dll' && ln -s '" DEMO_GAME_DIR "/lib' '" + kGame + "/lib'")
                              .c_str()),
              0);
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr) << "no X display: run under xvfb-run";
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const Size screen{DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};

    pid_t pid = fork();
    if (pid == 0) {
      testproc::EnterOwnGroup();
      unsetenv("KIV_HEADLESS");
      unsetenv("KIV_BOX_ANSWERS");
      int fd = open((kGame + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      unsetenv("KIV_GPU_FAULTS");
      setenv("LP_NUM_THREADS", "0", 1);
      if (gpu) execl((kGame + "/Orvane").c_str(), "Orvane", static_cast<char*>(nullptr));
      else execl((kGame + "/Orvane").c_str(), "Orvane", "/DIB", static_cast<char*>(nullptr));
      _exit(127);
    }
    const ChildGuard guard{pid};
    Window game = 0;
    for (int i = 0; i < 400 && !game; ++i, usleep(50000)) game = FindGame(d);
    ASSERT_NE(game, 0u) << "the game window never showed: " << Stderr();
    // The first frames are drawn (and the script has installed its message
    // routine in its first one) once the sky shows; a loaded machine takes
    // longer to get there.
    const auto sky = [&] { return ShowsSky(d, game); };
    EXPECT_TRUE(testproc::WaitUntil(sky, 60000));
    const Size windowed = SizeOf(d, game);
    ASSERT_FALSE(windowed == screen) << "the demo starts in a window";

    AltEnter(d, game);
    EXPECT_TRUE(WaitSize(d, game, screen)) << "full screen covers the screen; now " << SizeOf(d, game).w << " x "
                                           << SizeOf(d, game).h << "\n" << Stderr();
    EXPECT_TRUE(testproc::WaitUntil(sky, 30000)) << "the frame fills the full screen";
    usleep(300000);
    AltEnter(d, game);
    EXPECT_TRUE(WaitSize(d, game, windowed)) << "back in the window; now " << SizeOf(d, game).w << " x "
                                             << SizeOf(d, game).h << "\n" << Stderr();
    EXPECT_TRUE(testproc::WaitUntil(sky, 30000)) << "the frame fills the window again";
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0) << Stderr();
    XCloseDisplay(d);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
  }
}

}  // namespace
