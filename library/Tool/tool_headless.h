// The tool without a window (KIV_HEADLESS=1): start-up and the page model
// run as in the window, and KIV_TOOL_PRESS presses controls in order:
//   "system:1013,graphics:1014=1,info:1006,info:3,main:1003"
// "graphics:1014=N" selects adapter N; "wait:PATH" waits until PATH exists.
// The report is saved to KIV_TOOL_SAVE_AS; "main:1002" prints the diagnostics
// on stderr and saves them to KIV_TOOL_DIAG_SAVE_AS. At the end the pages are printed
// on standard output, one control a line.
#pragma once
#include <string>

#include "Tool/tool.h"

int tool_run_headless(ToolState& state);
// Runs the presses of `script` against a running tool; for tests.
int tool_run_headless_script(ToolState& state, const std::string& script, std::string* dump);
