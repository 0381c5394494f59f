// The diagnostics window's contents ("DirectX診断", button 1002): what the
// machine's graphics, displays, sound outputs and input devices are, as
// lines of text the window shows and can save. The model is built here and
// shown by whatever draws the tool (GTK or headless).
#pragma once
#include <string>
#include <vector>

struct DiagnosticsReport {
  std::vector<std::string> lines;     // UTF-8
  std::vector<std::string> programs;  // desktop diagnostics programs found in PATH, by name
};

DiagnosticsReport diagnostics_build();
// The desktop diagnostics programs the window may start (glxinfo, eglinfo,
// ...) that are installed: each name with its full path.
std::vector<std::pair<std::string, std::string>> diagnostics_programs_found();
