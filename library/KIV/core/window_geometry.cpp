// Window geometry: the off-screen test, centring, and the apply routines the
// window procedure calls for mode, size and aspect requests.
#include "platform/window/display.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"
#include "core/system_state.h"

bool KivPositionOffScreen(int x, int y) {
  plat::Rect d = plat::DesktopRect();
  plat::Rect v = plat::VirtualScreenRect();
  int w = d.width(), h = d.height();
  return x < v.left || y < v.top || x > v.left + w || y > v.top + h;
}

int KivGeometryInit(void) {
  KivSystemState* s = g_kiv;
  s->windowChangeEnable.store(1);
  s->desktop = plat::DesktopRect();
  s->view = plat::Rect{0, 0, s->params.clientWidth, s->params.clientHeight};
  return 1;
}

extern "C" KIV_API int KivWindowGetPosCenter(int out[2], int width, int height) {
  if (!out) return 0;
  plat::Rect d = g_kiv ? g_kiv->desktop : plat::DesktopRect();
  out[0] = (d.right - width) >> 1;
  out[1] = (d.bottom - height) >> 1;
  return 1;
}

void KivWindowMoveFollowUp(void) {
  KivSystemState* s = g_kiv;
  plat::Rect r = s->window->backend()->OuterRect();
  s->params.x = r.left;
  s->params.y = r.top;
}

void KivWindowOnExit(void) {}

int KivApplyScreenMode(int fullScreen) {
  KivSystemState* s = g_kiv;
  fullScreen = fullScreen ? 1 : 0;
  if (!s->running.load() || fullScreen == s->params.fullScreen || (s->params.flags & KIV_FLAG_NO_MODE_CHANGE))
    return 1;
  s->window->backend()->Restore();
  if (s->soft) {
    KivPlaceFullScreenWindow(s->soft, fullScreen);
    s->view = s->soft->view;
  }
  s->desktop = plat::DesktopRect();
  s->params.fullScreen = fullScreen;
  return 1;
}

int KivApplyWindowSize(int width, int height) {
  KivSystemState* s = g_kiv;
  s->params.clientWidth = width;
  s->params.clientHeight = height;
  s->window->backend()->SetClientSize(width, height);
  if (s->soft) {
    KivSoftSetAspectRect(s->soft, s->params.fullScreen);
    s->view = s->soft->view;
  }
  return 1;
}

int KivApplyAspectMode(int mode) {
  KivSystemState* s = g_kiv;
  s->params.aspect = mode;
  if (s->soft) {
    s->soft->aspect = mode;
    KivSoftSetAspectRect(s->soft, s->params.fullScreen);
    s->view = s->soft->view;
  }
  return 1;
}

extern "C" KIV_API int KivWindowChangeMode(int fullScreen) {
  KivSystemState* s = g_kiv;
  if (s) KivPostRetry(s->gameThread.get(), plat::kMsgApp + 0x65, static_cast<uintptr_t>(fullScreen), 0);
  return 1;
}
