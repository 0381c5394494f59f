// Opening a file or address with the desktop's own program (xdg-open), as
// a player's double click would. No shell is involved: the path is one
// argument of the opener. Headless runs (and tests) install a handler
// that only records the request.
#pragma once
#include <string>

namespace plat {

// Starts the opener for the UTF-8 path and returns at once; false when it
// could not be started.
bool ShellOpen(const std::string& utf8_path);

using ShellOpenHandler = bool (*)(const std::string& utf8_path);
// Null restores the real opener.
void SetShellOpenHandler(ShellOpenHandler handler);

}  // namespace plat
