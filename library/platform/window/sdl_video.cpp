#include "platform/window/sdl_video.h"

#include <SDL.h>

#include <mutex>

namespace plat {

namespace {
std::mutex g_mutex;
int g_users = 0;
}  // namespace

bool SdlVideoAcquire() {
  std::lock_guard lock(g_mutex);
  if (g_users == 0) {
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A window surface is the window system's own image (XShm on X11), not
    // a texture of a hidden GL renderer: the CPU frames must not pay for a
    // rasterizer underneath (llvmpipe where there is no GPU).
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  }
  ++g_users;
  return true;
}

void SdlVideoRelease() {
  std::lock_guard lock(g_mutex);
  if (g_users > 0 && --g_users == 0) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace plat
