// The GPU device's own connection to the X display of the window it draws
// into. Kept apart from the device so that Xlib's macros stay out of it, and
// its own so that the game thread never shares the window system's
// connection with the window thread.
#pragma once
#include <string>

namespace plat::gpu::x11 {

// An open connection (an Xlib Display*), or NULL.
void* OpenDisplay(const std::string& name);
void CloseDisplay(void* display);
// The visual id of the window, 0 when the window is not there.
unsigned long WindowVisual(void* display, unsigned long window);

}  // namespace plat::gpu::x11
