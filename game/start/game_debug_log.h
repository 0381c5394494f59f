// The game program's debug lines. A line goes to a keyed debug window
// (window 0 errors, 10 the command log, 16 script output ...) in debug
// mode, else to the platform's debugger output; a test can install a sink
// to read them.
#pragma once
#include <string_view>

constexpr int kDebugWindowError = 0;
constexpr int kDebugWindowCommand = 10;
constexpr int kDebugWindowOutput = 16;
// The sink's window number for lines meant for the engine's error log.
constexpr int kDebugErrorLog = -1;

// A formatted line (Shift-JIS format and arguments) for a debug window.
void game_debug_log(int window, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// An unformatted line; "" is the empty line some commands log.
void game_debug_puts(int window, const char* text);
// A line for the engine's error log (allocation failures and the like).
void game_error_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Receives every line instead of the debugger output; null restores it.
using GameDebugSink = void (*)(int window, std::string_view line, void* user);
void game_debug_log_set_sink(GameDebugSink sink, void* user);
// The sink installed now (null: none), its user pointer in *user.
GameDebugSink game_debug_log_get_sink(void** user);
