// One pixel of an X window as the X server holds it, for tests that look at
// what a player sees on a real (virtual) display.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kivtest {

// The pixel at (x, y) of the window as 0xRRGGBB; -1 when it cannot be read.
inline long XWindowPixel(Display* d, Window w, int x, int y) {
  XSync(d, False);
  XImage* img = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!img) return -1;
  const long v = static_cast<long>(XGetPixel(img, 0, 0) & 0xFFFFFF);
  XDestroyImage(img);
  return v;
}

}  // namespace kivtest
