// The real message boxes on a virtual X display in a Japanese locale: the
// game's close question as a GTK box over an SDL2 game window, read from
// the X server as a player sees it (compared within a tolerance with a
// reviewed picture, tests/golden/close_question_ja.png; KIV_UPDATE_GOLDEN=1
// writes it anew, and the shot is kept in the build folder), transient for
// the game window and modal, answered by the Return key; then a box ended
// from another thread by CancelMessageBoxes with its unshown answer.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/backend.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"

namespace {

intptr_t Proc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) { return plat::DefWindowProc(w, m, wp, lp); }

std::string Name(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False), net_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success && data) {
    name.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  return name;
}

bool Viewable(Display* d, Window w) {
  XWindowAttributes a;
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

// A viewable top-level window (no window manager: a child of the root) of
// that name other than `except`; 0 when none shows within 20 s.
Window WaitFor(Display* d, const std::string& name, Window except, const std::function<void()>& pump) {
  for (int i = 0; i < 400; ++i) {
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
      for (unsigned k = 0; k < count && !found; ++k)
        if (children[k] != except && Viewable(d, children[k]) && Name(d, children[k]) == name) found = children[k];
      if (children) XFree(children);
    }
    if (found) return found;
    pump();
    usleep(50000);
  }
  return 0;
}

bool HasState(Display* d, Window w, const char* state) {
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  bool found = false;
  Atom wanted = XInternAtom(d, state, False);
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM, &type, &format, &n,
                         &after, &data) == Success &&
      data) {
    for (unsigned long i = 0; i < n; ++i) found = found || reinterpret_cast<Atom*>(data)[i] == wanted;
    XFree(data);
  }
  return found;
}

// The window as the X server shows it, as B G R A pixels.
std::vector<uint32_t> Shot(Display* d, Window w, int* width, int* height) {
  XSync(d, False);
  XWindowAttributes a;
  std::vector<uint32_t> px;
  if (!XGetWindowAttributes(d, w, &a)) return px;
  XImage* img = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return px;
  *width = a.width;
  *height = a.height;
  px.resize(static_cast<size_t>(a.width) * a.height);
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      px[static_cast<size_t>(y) * a.width + x] = 0xFF000000u | (XGetPixel(img, x, y) & 0xFFFFFF);
  XDestroyImage(img);
  return px;
}

void PressReturn(Display* d, Window box) {
  XSetInputFocus(d, box, RevertToPointerRoot, CurrentTime);
  const KeyCode enter = XKeysymToKeycode(d, XK_Return);
  XTestFakeKeyEvent(d, enter, True, 0);
  XTestFakeKeyEvent(d, enter, False, 0);
  XFlush(d);
}

TEST(MessageBoxScreen, CloseQuestionOverTheGameWindowInJapanese) {
  Display* d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr) << "no X display: run under the virtual X server";
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  plat::SetWindowBackendKind(plat::Backend::kReal);
  plat::SetMessageBoxBackendKind(plat::Backend::kReal);
  plat::WindowDesc desc;
  desc.title = "Orvane Demo";
  desc.x = 100;
  desc.y = 100;
  desc.width = 640;
  desc.height = 360;
  plat::Window* game = plat::Window::Create(desc, Proc);
  ASSERT_NE(game, nullptr);
  game->backend()->Show(true);
  const Window game_x = game->backend()->NativeX11Window();
  ASSERT_NE(game_x, 0u);
  auto pump = [&] { game->backend()->PollNative(); };
  for (int i = 0; i < 200 && !Viewable(d, game_x); ++i, usleep(10000)) pump();

  // The engine's close question, asked from the game's thread.
  std::atomic<int> answer{-1};
  std::thread asker([&] {
    answer = plat::MessageBox(game, plat::Sjis("本当に終了しますか？"), "Orvane Demo",
                              plat::kMbYesNo | plat::kMbIconQuestion, plat::kIdYes);
  });
  const Window box = WaitFor(d, "Orvane Demo", game_x, pump);
  ASSERT_NE(box, 0u) << "the box never showed";
  Window owner = 0;
  EXPECT_TRUE(XGetTransientForHint(d, box, &owner));
  EXPECT_EQ(owner, game_x) << "the box belongs to the game window";
  EXPECT_TRUE(HasState(d, box, "_NET_WM_STATE_MODAL"));
  XWindowAttributes ga, ba;
  Window child;
  int gx, gy, bx, by;
  XGetWindowAttributes(d, game_x, &ga);
  XGetWindowAttributes(d, box, &ba);
  XTranslateCoordinates(d, game_x, DefaultRootWindow(d), 0, 0, &gx, &gy, &child);
  XTranslateCoordinates(d, box, DefaultRootWindow(d), 0, 0, &bx, &by, &child);
  EXPECT_NEAR(bx + ba.width / 2, gx + ga.width / 2, 4) << "centred over the game window";
  EXPECT_NEAR(by + ba.height / 2, gy + ga.height / 2, 4);

  // The player's view: the box has the keyboard, the pointer rests off it
  // (no button under it lights up).
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 0, 0);
  XSetInputFocus(d, box, RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  for (int i = 0; i < 20; ++i, usleep(25000)) pump();  // drawn
  int w = 0, h = 0;
  std::vector<uint32_t> px = Shot(d, box, &w, &h);
  ASSERT_FALSE(px.empty());
  const std::string shot = std::string(SHOT_DIR) + "/close_question_ja.png";
  ASSERT_TRUE(plat::CapturePng(shot, px.data(), w, h, w));
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/close_question_ja.png";
  if (std::getenv("KIV_UPDATE_GOLDEN")) {
    ASSERT_TRUE(plat::CapturePng(golden, px.data(), w, h, w));
  }
  std::vector<uint32_t> ref;
  int rw = 0, rh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &ref, &rw, &rh)) << golden;
  ASSERT_EQ(w, rw) << "shot kept in " << shot;
  ASSERT_EQ(h, rh) << "shot kept in " << shot;
  size_t differing = 0;
  for (size_t i = 0; i < px.size(); ++i) {
    int worst = 0;
    for (int s = 0; s < 24; s += 8)
      worst = std::max(worst, std::abs(static_cast<int>((px[i] >> s) & 0xFF) - static_cast<int>((ref[i] >> s) & 0xFF)));
    if (worst > 24) ++differing;
  }
  EXPECT_LE(differing, px.size() / 100) << "shot kept in " << shot;
  // Not a blank (black) rectangle: the box is drawn.
  size_t dark = 0;
  for (uint32_t p : px) dark += (p & 0xFFFFFF) < 0x101010;
  EXPECT_LT(dark, px.size() / 4);

  PressReturn(d, box);  // the default button: はい
  for (int i = 0; i < 400 && answer.load() < 0; ++i, usleep(10000)) pump();
  asker.join();
  EXPECT_EQ(answer.load(), plat::kIdYes);

  // The program ends while a box is open: it closes with its unshown answer.
  std::atomic<int> second{-1};
  std::thread waiter([&] {
    second = plat::MessageBox(game, plat::Sjis("セーブに失敗しました。"), plat::Sjis("警告"),
                              plat::kMbYesNo | plat::kMbIconWarning, plat::kIdNo);
  });
  const Window box2 = WaitFor(d, "警告", game_x, pump);
  ASSERT_NE(box2, 0u);
  const auto cancelled_at = std::chrono::steady_clock::now();
  plat::CancelMessageBoxes();
  waiter.join();
  EXPECT_EQ(second.load(), plat::kIdNo);
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled_at, std::chrono::seconds(2));
  EXPECT_TRUE(plat::MessageBoxesCancelled());
  // Boxes after that are answered at once, unshown.
  EXPECT_EQ(plat::MessageBox(game, "x", "y", plat::kMbYesNo, plat::kIdYes), plat::kIdYes);
  game->Destroy();
  XCloseDisplay(d);
}

}  // namespace
