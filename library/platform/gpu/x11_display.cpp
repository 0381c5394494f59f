#include "platform/gpu/x11_display.h"

#include <X11/Xlib.h>

namespace plat::gpu::x11 {

void* OpenDisplay(const std::string& name) { return XOpenDisplay(name.empty() ? nullptr : name.c_str()); }

void CloseDisplay(void* display) {
  if (display) XCloseDisplay(static_cast<Display*>(display));
}

unsigned long WindowVisual(void* display, unsigned long window) {
  if (!display || !window) return 0;
  // The window is the window backend's, made before the device and gone
  // only after it.
  XWindowAttributes a{};
  const Status ok = XGetWindowAttributes(static_cast<Display*>(display), static_cast<Window>(window), &a);
  return ok && a.visual ? XVisualIDFromVisual(a.visual) : 0;
}

}  // namespace plat::gpu::x11
