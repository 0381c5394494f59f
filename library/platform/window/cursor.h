// The mouse cursor over the program's window: its shape (the system arrow
// or a 32 x 32 monochrome picture with the hot spot at its top-left corner),
// shown or hidden, and a warp to a point of the client area. Call these on
// the window thread. Real backend: SDL2 (sdl_cursor.cpp). Headless: records
// every call and moves the injected cursor of the headless input
// (cursor.cpp).
#pragma once
#include <cstdint>
#include <thread>

#include "platform/core/geometry.h"

namespace plat {

class Window;

// 32 rows of 4 bytes, the leftmost pixel in the high bit. data 1 / mask 1
// black, data 0 / mask 1 white, data 0 / mask 0 clear, data 1 / mask 0 the
// inverse of what lies beneath.
struct CursorPicture {
  uint8_t data[128];
  uint8_t mask[128];
};

// Shape 0 is the system arrow; shape n > 0 is made from `picture` the first
// time it is asked for and kept. False when the shape could not be made.
bool CursorSetShape(Window* window, int shape, const CursorPicture* picture);
// Shows or hides the cursor; returns 0 when it is shown, -1 when hidden (a
// display count as the window system would report it).
int CursorShow(Window* window, bool shown);
// Moves the cursor to a point of the window's client area; false when the
// window has no native cursor to move.
bool CursorWarp(Window* window, int clientX, int clientY);

// The SDL backend's made cursors are freed with the video subsystem's last
// window (sdl_window.cpp calls this).
void SdlCursorRelease();

// ---- Headless backend: what the calls did ----
struct CursorRecord {
  int shape = 0;         // the last shape set
  bool shown = true;
  int shapeCalls = 0;
  int showCalls = 0;
  int warps = 0;
  Point warp;            // the last warp, in client coordinates
  bool offThread = false;  // a call came from a thread other than the window's
};
CursorRecord HeadlessCursorRecord();
void HeadlessCursorReset();

}  // namespace plat
