#include "platform/window/display.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/core/backend.h"
#include "platform/window/sdl_video.h"

namespace plat {

namespace {
std::mutex g_mutex;
std::vector<Rect> g_headless{Rect{0, 0, 1920, 1080}};
}  // namespace

void SetHeadlessMonitors(std::vector<Rect> monitors) {
  std::lock_guard lock(g_mutex);
  g_headless = std::move(monitors);
}

std::vector<Rect> Monitors() {
  if (WindowBackendKind() == Backend::kReal && SdlVideoAcquire()) {
    std::vector<Rect> out;
    int n = SDL_GetNumVideoDisplays();
    for (int i = 0; i < n; ++i) {
      SDL_Rect r;
      if (SDL_GetDisplayBounds(i, &r) == 0) out.push_back(Rect{r.x, r.y, r.x + r.w, r.y + r.h});
    }
    SdlVideoRelease();
    if (!out.empty()) return out;
  }
  std::lock_guard lock(g_mutex);
  return g_headless.empty() ? std::vector<Rect>{Rect{0, 0, 1920, 1080}} : g_headless;
}

Rect MonitorNearest(Point p, int* index) {
  std::vector<Rect> monitors = Monitors();
  size_t best = 0;
  int64_t best_distance = INT64_MAX;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const Rect& r = monitors[i];
    // Squared distance from the point to the rectangle; 0 inside.
    int64_t dx = p.x < r.left ? int64_t(r.left) - p.x : (p.x >= r.right ? int64_t(p.x) - r.right + 1 : 0);
    int64_t dy = p.y < r.top ? int64_t(r.top) - p.y : (p.y >= r.bottom ? int64_t(p.y) - r.bottom + 1 : 0);
    int64_t d = dx * dx + dy * dy;
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  if (index) *index = static_cast<int>(best);
  return monitors[best];
}

bool DisplayReachable(std::string* why) {
  if (WindowBackendKind() == Backend::kHeadless) return true;
  if (SdlVideoAcquire()) {
    // Only a desktop shows a window to the player: SDL may also come up on
    // a console's DRM device, or on no screen at all, where nobody sees it.
    const char* driver = SDL_GetCurrentVideoDriver();
    const std::string name = driver ? driver : "";
    SdlVideoRelease();
    if (name == "x11" || name == "wayland") return true;
    if (why) *why = "no X11 or Wayland display (video driver: " + (name.empty() ? std::string("none") : name) + ")";
    return false;
  }
  if (why) *why = SDL_GetError();
  return false;
}

Rect DesktopRect() {
  auto m = Monitors();
  return m.front();
}

Rect VirtualScreenRect() {
  auto m = Monitors();
  Rect r = m.front();
  for (const Rect& x : m) {
    r.left = std::min(r.left, x.left);
    r.top = std::min(r.top, x.top);
    r.right = std::max(r.right, x.right);
    r.bottom = std::max(r.bottom, x.bottom);
  }
  return r;
}

}  // namespace plat
