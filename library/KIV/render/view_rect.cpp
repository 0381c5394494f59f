// Where the logical screen lies in the window: the aspect rectangle rule,
// the monitor lookup and the software renderer's full-screen placement.
#include <cmath>
#include <cstdint>

#include "platform/window/display.h"
#include "platform/core/error.h"
#include "render/soft_screen.h"

int KivGcd(int a, int b) {
  a = a < 0 ? -a : a;
  b = b < 0 ? -b : b;
  while (b != 0) {
    int r = a % b;
    a = b;
    b = r;
  }
  return a;
}

bool KivAspectRect(int w, int h, const plat::Rect& monitor, int mode, bool fullScreen, int clientWidth,
                   int clientHeight, plat::Rect* out) {
  if (!fullScreen) {
    *out = plat::Rect{0, 0, clientWidth, clientHeight};
    return true;
  }
  const int dw = monitor.width(), dh = monitor.height();
  switch (mode) {
    case 0:
      *out = plat::Rect{0, 0, dw, dh};
      return true;
    case 2: {
      const int ox = (dw - w) >> 1, oy = (dh - h) >> 1;
      *out = plat::Rect{ox, oy, ox + w, oy + h};
      return true;
    }
    case 1:
    case 3: {
      const int g = KivGcd(w, h);
      if (g == 0) return false;  // a 0 x 0 screen has no shape to keep
      const int ux = w / g, uy = h / g;
      // The quotients are single precision; the products double.
      const float k = static_cast<float>(dw - w) / static_cast<float>(ux);
      const float m = static_cast<float>(dh - h) / static_cast<float>(uy);
      const int w1 = w + KivTruncToInt(static_cast<double>(ux) * static_cast<double>(k));
      const int h1 = h + KivTruncToInt(static_cast<double>(uy) * static_cast<double>(k));
      const int w2 = w + KivTruncToInt(static_cast<double>(ux) * static_cast<double>(m));
      const int h2 = h + KivTruncToInt(static_cast<double>(uy) * static_cast<double>(m));
      int fw = w1, fh = h1;
      if ((mode == 1 && h1 > dh) || (mode == 3 && h1 < dh)) {
        fw = w2;
        fh = h2;
      }
      const int ox = (dw - fw) >> 1, oy = (dh - fh) >> 1;
      *out = plat::Rect{ox, oy, fw + ox, fh + oy};
      return true;
    }
    default:
      plat::DebugOutput("SetAspectRect : Invalid Prameter");
      return false;
  }
}

void KivSoftSetAspectRect(KivSoftScreen* screen, int fullScreen) {
  if (!screen) return;
  int cw = screen->clientWidth, ch = screen->clientHeight;
  if (screen->window) {
    plat::Rect c = screen->window->backend()->ClientRectOnScreen();
    cw = c.width();
    ch = c.height();
    screen->clientWidth = cw;
    screen->clientHeight = ch;
  }
  plat::Rect view;
  if (!KivAspectRect(screen->width, screen->height, screen->monitor, screen->aspect, fullScreen != 0, cw, ch,
                     &view))
    return;
  screen->view = view;
  screen->wholeClient = fullScreen ? 0 : 1;
  if (g_kiv && g_kiv->soft == screen) g_kiv->view = view;
}

int KivGetMonitorRect(plat::Point p, plat::Rect* out) {
  int index = -1;
  plat::Rect r = plat::MonitorNearest(p, &index);
  if (out) *out = r;
  return index;
}

int KivPlaceFullScreenWindow(KivSoftScreen* screen, int fullScreen) {
  if (!screen || !screen->window) return 0;
  plat::WindowBackend* b = screen->window->backend();
  if (fullScreen) {
    plat::Rect outer = b->OuterRect();
    screen->windowX = outer.left;
    screen->windowY = outer.top;
    screen->windowW = outer.width();
    screen->windowH = outer.height();
    // The monitor holding the window's centre (the centre of the window as
    // it is, whatever the logical screen's size).
    plat::Rect m;
    int index = KivGetMonitorRect(
        plat::Point{screen->windowX + screen->windowW / 2, screen->windowY + screen->windowH / 2}, &m);
    if (index >= 0) {
      screen->monitor = m;
      screen->monitorIndex = index;
    }
    // Desktop full screen covers the monitor the window is on.
    b->Move(screen->monitor.left, screen->monitor.top);
    b->SetFullScreen(true);
  } else {
    screen->monitorIndex = 0;
    b->SetFullScreen(false);
    b->Move(screen->windowX, screen->windowY);
  }
  KivSoftSetAspectRect(screen, fullScreen);
  return 1;
}
