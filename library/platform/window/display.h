// Desktop and monitor rectangles.
#pragma once
#include <string>
#include <vector>

#include "platform/core/geometry.h"

namespace plat {

// Monitors in enumeration order; the first is the primary one. Real backend:
// SDL's displays; headless: the injected list (default one 1920 x 1080).
// This is also the list the adapter number of the system parameters (and
// the configuration tool) counts in.
std::vector<Rect> Monitors();
void SetHeadlessMonitors(std::vector<Rect> monitors);

// The monitor holding the point, else the nearest one; its index in
// Monitors() goes to *index when given.
Rect MonitorNearest(Point p, int* index = nullptr);

// Whether a window can be opened at all: the headless backend always can;
// the real one needs a display it can reach (the reason goes to *why).
bool DisplayReachable(std::string* why);

// The primary monitor's rectangle (the desktop window's rectangle).
Rect DesktopRect();
// The bounding box of all monitors (the virtual screen).
Rect VirtualScreenRect();

}  // namespace plat
