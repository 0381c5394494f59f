// The SDL window backend's hook into the input snapshot: every event the
// window thread takes for a window passes through here first.
#pragma once
#include <SDL.h>

namespace plat {

// Called on the window thread for each SDL event while `window` (SDL id
// `id`) is the program's window.
void SdlInputOnEvent(const SDL_Event& e, SDL_Window* window, uint32_t id);

// The cursor was warped to a screen point: the snapshot has it at once,
// before the motion event arrives.
void SdlInputWarped(int screenX, int screenY);

}  // namespace plat
