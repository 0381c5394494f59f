// The tool's GTK 3 window (see tool_gtk.cpp).
#pragma once
#include "Tool/tool.h"

// Opens the display and routes message boxes to GTK; false without one.
bool tool_gtk_init(int* argc, char*** argv);
// Runs the main dialog until it closes; returns the exit code.
int tool_run_gtk(ToolState& state);
