// SDL2 cursor backend. Supports: the system arrow, monochrome 32 x 32
// pictures (SDL_CreateCursor, hot spot (0, 0)), showing and hiding, warping
// within the window. Lacks: a display count; SDL's cursor is simply shown
// or hidden, so any number of hides is undone by one show. Runs on the
// window thread, which owns the SDL video calls.
#include <SDL.h>

#include <map>

#include "platform/input/sdl_input.h"
#include "platform/window/cursor.h"
#include "platform/window/window.h"

namespace plat {

namespace {

// Made cursors by shape; only the window thread touches them.
std::map<int, SDL_Cursor*>& Made() {
  static std::map<int, SDL_Cursor*> made;
  return made;
}

}  // namespace

bool SdlCursorSetShape(Window*, int shape, const CursorPicture* picture) {
  SDL_Cursor*& c = Made()[shape];
  if (!c) {
    c = shape == 0 ? SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW)
                   : SDL_CreateCursor(picture->data, picture->mask, 32, 32, 0, 0);
    if (!c) return false;
  }
  SDL_SetCursor(c);
  return true;
}

int SdlCursorShow(bool shown) {
  SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
  return shown ? 0 : -1;
}

bool SdlCursorWarp(Window* window, int clientX, int clientY) {
  auto* native = static_cast<SDL_Window*>(window->backend()->NativeHandle());
  if (!native) return false;
  SDL_WarpMouseInWindow(native, clientX, clientY);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(native, &wx, &wy);
  SdlInputWarped(wx + clientX, wy + clientY);
  return true;
}

void SdlCursorRelease() {
  for (auto& [shape, c] : Made())
    if (c) SDL_FreeCursor(c);
  Made().clear();
}

}  // namespace plat
