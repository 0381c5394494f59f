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
