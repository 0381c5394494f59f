// Thread-local last-error word and the debugger output line.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>

namespace plat {

void SetLastError(uint32_t code);
uint32_t GetLastError();

// One line of internal diagnostics (Shift-JIS text). Goes to the sink a test
// installed, else to stderr when KIV_DEBUG_OUTPUT is set, else nowhere.
void DebugOutput(std::string_view cp932);
void SetDebugOutputSink(std::function<void(std::string_view)> sink);

}  // namespace plat
