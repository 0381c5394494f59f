// Window geometry: the window exports (mode, size and aspect requests, the
// change switch, size and position), the apply routines the window
// procedure runs for those requests, the off-screen test, the game's home
// display, the window position file setting.ini (debug mode) and the
// window's work at the end.
//
// Requests go from any thread to the game thread, which holds the worker
// and the render lock and sends them on to the window thread; so every
// apply routine here runs on the window thread while no task, draw or
// worker job can run.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "core/fault_inject.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/core/ini_file.h"
#include "platform/core/module.h"
#include "platform/window/display.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"
#include "core/system_state.h"

using plat::kMsgApp;

namespace {

// Client sizes a request may ask for (config.dat accepts the same range).
constexpr int kMaxClientSize = 16384;
// The error code a failed renderer reset reports in its box.
constexpr uint32_t kResetFailedCode = 0x80004005u;

bool Inside(const plat::Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

std::string SettingPath(const KivSystemState* s) { return std::string(s->baseFolder) + "\\setting.ini"; }

bool OnWindowThread(const KivSystemState* s) {
  return s->window && s->window->queue()->owner() == std::this_thread::get_id();
}

// The renderer's part of a size or aspect change: the software screen
// reads everything it needs from the window and the engine's copy, so only
// a GPU device has anything to reset. 0, or the error code of the reset.
uint32_t RendererReset(KivSystemState*) {
  if (KivFaultHit(KivFault::kRendererReset)) return kResetFailedCode;
  return 0;
}

void TakeViewFromRenderer(KivSystemState* s) {
  if (s->soft) s->view = s->soft->view;
}

// Moves the window to the engine's copy of the position; an attached call
// when asked from another thread, since the window belongs to its thread.
void MoveToStoredPosition(intptr_t) {
  KivSystemState* s = g_kiv;
  if (s && s->window && s->window->Alive()) s->window->backend()->Move(s->params.x, s->params.y);
}

}  // namespace

// ---- Displays ----

bool KivPositionOffScreen(int x, int y) {
  // On screen when the point lies on one of the monitors: monitors left of
  // or above the primary one have negative coordinates, and the gaps of an
  // uneven layout are off screen.
  for (const plat::Rect& m : plat::Monitors())
    if (Inside(m, x, y)) return false;
  return true;
}

plat::Rect KivHomeDisplay(int adapter) {
  std::vector<plat::Rect> monitors = plat::Monitors();
  if (adapter < 0 || static_cast<size_t>(adapter) >= monitors.size()) {
    if (adapter != 0) {
      char line[96];
      std::snprintf(line, sizeof line, "KivHomeDisplay : no display %d, the primary one is used", adapter);
      plat::DebugOutput(line);
    }
    return monitors.front();
  }
  return monitors[static_cast<size_t>(adapter)];
}

void KivCentreOnDisplay(const plat::Rect& display, int width, int height, int* x, int* y) {
  *x = display.left + ((display.width() - width) >> 1);
  *y = display.top + ((display.height() - height) >> 1);
}

int KivGeometryInit(void) {
  KivSystemState* s = g_kiv;
  s->windowChangeEnable.store(1);
  s->desktop = KivHomeDisplay(s->params.adapter);
  s->view = plat::Rect{0, 0, s->params.clientWidth, s->params.clientHeight};
  if (s->params.debug) KivWindowLoadPos();
  // A host that starts in full screen gets it: the window was made
  // windowed, and the engine's copy must describe what is shown.
  if (s->params.fullScreen && s->soft && !(s->params.flags & KIV_FLAG_NO_MODE_CHANGE)) {
    s->params.fullScreen = KivPlaceFullScreenWindow(s->soft, 1) ? 1 : 0;
  } else if (s->params.fullScreen && s->soft) {
    s->params.fullScreen = 0;  // the mode may not change, and the window is windowed
    KivSoftSetAspectRect(s->soft, 0);
  }
  TakeViewFromRenderer(s);
  return 1;
}

extern "C" KIV_API int KivWindowGetPosCenter(int out[2], int width, int height) {
  if (!out) return 0;
  plat::Rect d = g_kiv ? g_kiv->desktop : plat::DesktopRect();
  KivCentreOnDisplay(d, width, height, &out[0], &out[1]);
  return 1;
}

// ---- setting.ini ----

void KivWindowLoadPos(void) {
  KivSystemState* s = g_kiv;
  if (!s) return;
  const std::string path = SettingPath(s);
  if (!plat::PathExists(path) || plat::IsDirectory(path)) return;
  int x = plat::IniGetInt("MainWindow", "x", s->params.x, path);
  int y = plat::IniGetInt("MainWindow", "y", s->params.y, path);
  if (KivPositionOffScreen(x, y)) {
    // A position no monitor shows (a monitor removed since, a hand-edited
    // file) is brought onto the nearest monitor.
    plat::Rect m;
    if (KivGetMonitorRect(plat::Point{x, y}, &m) >= 0) {
      x = Clamp(x, m.left, m.right - 1);
      y = Clamp(y, m.top, m.bottom - 1);
    }
  }
  s->params.x = x;
  s->params.y = y;
  if (s->window) s->window->backend()->Move(x, y);
}

int KivWindowSavePos(void) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  const std::string path = SettingPath(s);
  bool ok = plat::IniWriteString("MainWindow", "x", std::to_string(s->params.x), path) &&
            plat::IniWriteString("MainWindow", "y", std::to_string(s->params.y), path);
  if (!ok) KivErrorLogPrintf("setting.ini : the window position could not be written");
  return ok ? 1 : 0;
}

void KivWindowOnExit(void) {
  KivSystemState* s = g_kiv;
  if (s && s->params.debug) KivWindowSavePos();
}

void KivWindowMoveFollowUp(void) {
  KivSystemState* s = g_kiv;
  plat::Rect r = s->window->backend()->OuterRect();
  s->params.x = r.left;
  s->params.y = r.top;
}

// ---- Boxes ----

int KivErrorBox(uint32_t type, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  KivSystemState* s = g_kiv;
  return plat::MessageBox(s ? s->window : nullptr, text, s && s->params.title ? s->params.title : "", type);
}

// The version of a library (the debug status shows those it relies on):
// major x 100 + minor; 400 when its version call fails, -2 without one.
int KivLibraryVersion(const char* file) { return file ? plat::LibraryVersion(file) : -1; }

// ---- Apply routines (window thread) ----

bool KivScreenModeChanges(int fullScreen) {
  KivSystemState* s = g_kiv;
  fullScreen = fullScreen ? 1 : 0;
  return s && s->running.load() && fullScreen != s->params.fullScreen && !(s->params.flags & KIV_FLAG_NO_MODE_CHANGE);
}

int KivApplyScreenMode(int fullScreen) {
  KivSystemState* s = g_kiv;
  fullScreen = fullScreen ? 1 : 0;
  if (!KivScreenModeChanges(fullScreen)) return 1;
  s->window->backend()->Restore();
  if (s->soft) {
    // Full screen is the desktop full screen of the monitor holding the
    // window's centre; the display mode never changes.
    if (!KivPlaceFullScreenWindow(s->soft, fullScreen)) return 0;  // the mode stays as it was
    TakeViewFromRenderer(s);
  }
  s->desktop = KivHomeDisplay(s->params.adapter);
  s->params.fullScreen = fullScreen;
  return 1;
}

int KivPlaceScreenModeWindow(int fullScreen) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  fullScreen = fullScreen ? 1 : 0;
  // Sent: the caller waits while the window thread places the window (on
  // the window thread itself it runs at once).
  s->window->Send(kMsgApp + 0x66, static_cast<uintptr_t>(fullScreen), 0);
  return s->params.fullScreen == fullScreen ? 1 : 0;
}

int KivApplyWindowSize(int width, int height) {
  KivSystemState* s = g_kiv;
  if (width <= 0 || height <= 0 || width > kMaxClientSize || height > kMaxClientSize) {
    char line[96];
    std::snprintf(line, sizeof line, "KivApplyWindowSize : %d x %d refused", width, height);
    plat::DebugOutput(line);
    return 1;
  }
  // The renderer goes first: when it cannot take the new size, the window
  // and the engine's copy (which config.dat stores) keep the old one.
  if (uint32_t code = RendererReset(s)) {
    KivErrorBox(plat::kMbOk, KivText("ウインドウサイズの変更に失敗しました。\n[%08X]"), code);
    return 0;
  }
  s->params.clientWidth = width;
  s->params.clientHeight = height;
  s->window->backend()->SetClientSize(width, height);
  if (s->soft) {
    KivSoftSetAspectRect(s->soft, s->params.fullScreen);
    TakeViewFromRenderer(s);
  }
  return 1;
}

int KivApplyAspectMode(int mode) {
  KivSystemState* s = g_kiv;
  // Checked before anything is stored: an unknown mode must not reach the
  // renderer nor config.dat.
  if (mode < 0 || mode > 3) {
    plat::DebugOutput("SetAspectRect : Invalid Prameter");
    return 1;
  }
  if (uint32_t code = RendererReset(s)) {
    KivErrorBox(plat::kMbOk, KivText("アスペクト処理の変更に失敗しました。\n[%08X]"), code);
    return 0;
  }
  s->params.aspect = mode;
  if (s->soft) {
    s->soft->aspect = mode;
    KivSoftSetAspectRect(s->soft, s->params.fullScreen);
    TakeViewFromRenderer(s);
    // Shown at once in the new rectangle (where the GPU presents straight
    // into the window, by its next frame).
    KivSoftPresent(s->soft);
  }
  return 1;
}

// ---- Exports ----

namespace {
// Posts a request to the game thread, serving this thread's messages
// between tries; fails (0) once the game thread has ended or before it runs.
int PostRequest(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  return KivPostRetry(s->gameThread.get(), message, wParam, lParam) ? 1 : 0;
}
}  // namespace

extern "C" KIV_API int KivWindowChangeMode(int fullScreen) {
  return PostRequest(kMsgApp + 0x65, fullScreen ? 1 : 0, 0);
}

extern "C" KIV_API int KivChangeWindowSize(int width, int height) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  if (s->params.fullScreen) return 1;  // the window covers its monitor: nothing to size
  return PostRequest(kMsgApp + 0x67, static_cast<uintptr_t>(static_cast<uint32_t>(width)), height);
}

extern "C" KIV_API int KivChangeAspectMode(int mode) {
  if (mode < 0 || mode > 3) {
    plat::DebugOutput("SetAspectRect : Invalid Prameter");
    return 0;
  }
  return PostRequest(kMsgApp + 0x68, static_cast<uintptr_t>(mode), 0);
}

extern "C" KIV_API int KivWindowChangeEnable(int enable) {
  if (g_kiv) g_kiv->windowChangeEnable.store(enable);
  return 1;
}

extern "C" KIV_API int KivWindowChangeEnableIs(void) { return g_kiv ? g_kiv->windowChangeEnable.load() : 0; }

extern "C" KIV_API int KivGetWindowSize(int* width, int* height) {
  if (!width && !height) return 0;
  KivSystemState* s = g_kiv;
  if (width) *width = s ? s->params.clientWidth : 0;
  if (height) *height = s ? s->params.clientHeight : 0;
  return 1;
}

extern "C" KIV_API void KivWindowGetPos(int* x, int* y) {
  KivSystemState* s = g_kiv;
  if (x) *x = s ? s->params.x : 0;
  if (y) *y = s ? s->params.y : 0;
}

extern "C" KIV_API int KivWindowSetPos(int x, int y) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return 0;
  s->params.x = x;
  s->params.y = y;
  if (OnWindowThread(s)) {
    MoveToStoredPosition(0);
    return 1;
  }
  return s->window->Post(kMsgApp + 0x6A, reinterpret_cast<uintptr_t>(&MoveToStoredPosition), 0) ? 1 : 0;
}
