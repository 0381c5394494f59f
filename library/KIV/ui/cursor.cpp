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

struct CursorCall {
  int type;
  bool show;  // show the cursor before the shape
  int x, y;   // the client point of a warp
  int result;
};

void ApplyType(plat::Window* w, CursorCall* c) {
  if (c->type == -1) {
    c->result = plat::CursorShow(w, false);
    return;
  }
  if (!Known(c->type)) return;
  if (c->show) c->result = plat::CursorShow(w, true);
  const bool ok = plat::CursorSetShape(w, c->type, c->type > 0 ? &Picture(c->type) : nullptr);
  if (!c->show) c->result = ok ? 1 : 0;
}

void ApplyOnWindow(intptr_t arg) {
  KivSystemState* s = g_kiv;
  if (s && s->window) ApplyType(s->window, reinterpret_cast<CursorCall*>(arg));
}

void WarpOnWindow(intptr_t arg) {
  KivSystemState* s = g_kiv;
  auto* c = reinterpret_cast<CursorCall*>(arg);
  if (s && s->window) c->result = plat::CursorWarp(s->window, c->x, c->y) ? 1 : 0;
}

// Runs fn on the window thread and waits for it (at once when this is the
// window thread).
void OnWindowThread(KivAttachProc fn, CursorCall* call) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window || !s->window->Alive()) return;
  s->window->Send(kMsgRunOnWindow, reinterpret_cast<uintptr_t>(fn), reinterpret_cast<intptr_t>(call));
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
  CursorCall call{type, type != -1 && type != previous, 0, 0, 0};
  OnWindowThread(ApplyOnWindow, &call);
  return call.result;
}

void KivCursorReapply(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return;
  CursorCall call{s->cursorType.load(), false, 0, 0, 0};
  ApplyType(s->window, &call);
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
  CursorCall call{0, false, cx, cy, 0};
  OnWindowThread(WarpOnWindow, &call);
  return call.result;
}
