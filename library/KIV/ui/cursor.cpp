// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// The mouse cursor: its type (0 the system arrow, 1-3 the engine's own
// pictures, -1 hidden), remembered in the system record and applied again on
// every mouse move over the window; and the warp of KivCursorSetPos to a
// logical screen point. The game thread sets them; the window thread, which
// owns the window system's cursor, applies them.
#include <cstdint>
#include <thread>

#include "core/system_state.h"
#include "platform/window/cursor.h"
#include "platform/window/messages.h"
#include "ui/ui.h"

namespace {

constexpr uint32_t kMsgRunOnWindow = plat::kMsgApp + 0x6A;  // wParam a KivAttachProc, lParam its argument
constexpr int kPictures = 3;

// The engine's three cursor pictures, drawn once: a pointer (a triangle
// with its tip on the hot spot), the pointer with a ring beside it (busy),
// and the pointer with a box beside it.
struct Pictures {
  plat::CursorPicture p[kPictures];
  Pictures() {
    for (int n = 0; n < kPictures; ++n)
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) Put(p[n], x, y, Pixel(n, x, y));
  }
  // 0 clear, 1 black, 2 white.
  static int Pointer(int x, int y) {
    auto inside = [](int a, int b) { return a >= 0 && b >= 0 && a <= 11 && b <= 17 && a <= b && a + b <= 22; };
    if (!inside(x, y)) return 0;
    const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
    return edge ? 2 : 1;
  }
  static int Pixel(int n, int x, int y) {
    if (int v = Pointer(x, y)) return v;
    const int dx = x - 22, dy = y - 22, d2 = dx * dx + dy * dy;
    if (n == 1) {  // a ring
      if (d2 >= 25 && d2 <= 49) return 1;
      if ((d2 >= 16 && d2 < 25) || (d2 > 49 && d2 <= 64)) return 2;
    } else if (n == 2) {  // a box
      const int ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
      const int m = ax > ay ? ax : ay;
      if (m == 6 || m == 5) return 1;
      if (m == 7 || m == 4) return 2;
    }
    return 0;
  }
  static void Put(plat::CursorPicture& c, int x, int y, int v) {
    const int byte = y * 4 + x / 8;
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (x % 8));
    if (v == 1) c.data[byte] |= bit;
    if (v != 0) c.mask[byte] |= bit;
  }
};

const plat::CursorPicture& Picture(int type) {
  static const Pictures pictures;
  return pictures.p[type - 1];
}

bool Known(int type) { return type >= -1 && type <= kPictures; }

// Shows or hides the cursor and sets its shape, on the window thread; the
// window system's result.
int ApplyType(plat::Window* w, int type, bool show) {
  if (type == -1) return plat::CursorShow(w, false);
  if (!Known(type)) return 0;
  int result = 0;
  if (show) result = plat::CursorShow(w, true);
  const bool ok = plat::CursorSetShape(w, type, type > 0 ? &Picture(type) : nullptr);
  return show ? result : ok ? 1 : 0;
}

// Two 32-bit values in one message parameter.
intptr_t Pack(int a, int b) {
  return static_cast<intptr_t>(static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32 | static_cast<uint32_t>(b));
}
int High(intptr_t v) { return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32)); }
int Low(intptr_t v) { return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

int ApplyCall(intptr_t arg) {
  KivSystemState* s = g_kiv;
  return s && s->window ? ApplyType(s->window, High(arg), Low(arg) != 0) : 0;
}
int WarpCall(intptr_t arg) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  const bool moved = plat::CursorWarp(s->window, High(arg), Low(arg));
  // From now on the input poll compares the cursor with the warped point;
  // a cursor that could not be moved reads as usual.
  int asked = 1;
  s->input.warpPending.compare_exchange_strong(asked, moved ? 2 : 0);
  return moved ? 1 : 0;
}
void ApplyPosted(intptr_t arg) { ApplyCall(arg); }
void WarpPosted(intptr_t arg) { WarpCall(arg); }

// Runs a cursor call on the window thread: at once (with its result) when
// this is the window thread, else posted in order, so the caller never
// waits on a window thread that may be busy in a modal box.
int OnWindowThread(int (*call)(intptr_t), KivAttachProc posted, intptr_t arg) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window || !s->window->Alive()) return 0;
  if (s->window->queue()->owner() == std::this_thread::get_id()) return call(arg);
  return s->window->Post(kMsgRunOnWindow, reinterpret_cast<uintptr_t>(posted), arg) ? 1 : 0;
}

// The first client pixel whose mapping to the logical screen (input.cpp:
// logical x client / span, truncated) is not below v.
int ClientFor(int v, int span, int logical) {
  if (span <= 0 || logical <= 0) return v;
  const int64_t n = static_cast<int64_t>(v) * span;
  const int64_t c = n >= 0 ? (n + logical - 1) / logical : -((-n) / logical);
  return static_cast<int>(c);
}

}  // namespace

extern "C" KIV_API int KivCursorSet(int type) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  const int previous = s->cursorType.exchange(type);
  // A type that changes nothing leaves the cursor as it is, shown or hidden.
  if (!Known(type)) return 0;
  return OnWindowThread(ApplyCall, ApplyPosted, Pack(type, type != -1 && type != previous ? 1 : 0));
}

namespace {
// Hides the cursor while a full-window movie covers the game, and gives it
// back as the game had it (shown unless the game hid it) when the movie is
// over.
int MovieCoverCall(intptr_t covered) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  const bool shown = !covered && s->cursorType.load() != -1;
  return plat::CursorShow(s->window, shown);
}
void MovieCoverPosted(intptr_t covered) { MovieCoverCall(covered); }
}  // namespace

namespace {
int ShapeCall(intptr_t type) {
  KivSystemState* s = g_kiv;
  return s && s->window ? ApplyType(s->window, static_cast<int>(type), false) : 0;
}
void ShapePosted(intptr_t type) { ShapeCall(type); }
}  // namespace

void KivCursorShowShape(int type) { OnWindowThread(ShapeCall, ShapePosted, type); }

void KivCursorMovieCover(bool covered) { OnWindowThread(MovieCoverCall, MovieCoverPosted, covered ? 1 : 0); }

void KivCursorReapply(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return;
  ApplyType(s->window, s->cursorType.load(), false);
}

extern "C" KIV_API int KivCursorSetPos(int x, int y) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  const KivSystemParameters& p = s->params;
  int cx, cy;
  if (p.fullScreen) {
    const plat::Rect v = s->view;
    cx = v.left + ClientFor(x, v.width(), p.screenWidth);
    cy = v.top + ClientFor(y, v.height(), p.screenHeight);
  } else {
    cx = ClientFor(x, p.clientWidth, p.screenWidth);
    cy = ClientFor(y, p.clientHeight, p.screenHeight);
  }
  KivInputState& in = s->input;
  in.mouseX.store(x);
  in.mouseY.store(y);
  in.warpX.store(x);
  in.warpY.store(y);
  in.warpClientX.store(cx);
  in.warpClientY.store(cy);
  in.warpPending.store(1);
  return OnWindowThread(WarpCall, WarpPosted, Pack(cx, cy));
}
