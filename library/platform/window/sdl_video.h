// Reference-counted SDL video start-up shared by the SDL backends.
#pragma once

namespace plat {
bool SdlVideoAcquire();  // SDL_InitSubSystem(VIDEO) on first use
void SdlVideoRelease();  // SDL_QuitSubSystem when the last user leaves
}  // namespace plat
