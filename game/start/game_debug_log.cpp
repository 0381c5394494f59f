// Debug lines of the game program: in debug mode they go to the engine's
// keyed debug windows; otherwise to the platform's debugger output. Error-log
// lines go to the engine's log.txt (debug mode only).
#include "start/game_debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "kiv.h"
#include "platform/core/error.h"

namespace {

std::mutex g_sink_mutex;
GameDebugSink g_sink = nullptr;
void* g_sink_user = nullptr;

void Emit(int window, std::string_view line) {
  {
    std::lock_guard lock(g_sink_mutex);
    if (g_sink) {
      g_sink(window, line, g_sink_user);
      return;
    }
  }
  if (window == kDebugErrorLog) {
    std::string text(line);
    KivErrorLogPrintf("%s", text.c_str());
    return;
  }
  if (KivDebugIs()) {
    std::string text(line);
    KivDebugPrintf(window, nullptr, "%s", text.c_str());
    return;
  }
  std::string out = "[" + std::to_string(window) + "] ";
  out.append(line).append(1, '\n');
  plat::DebugOutput(out);
}

void EmitV(int window, const char* fmt, va_list args) {
  char buf[2048];
  int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  if (n < 0) n = 0;
  if (n >= static_cast<int>(sizeof buf)) n = sizeof buf - 1;
  Emit(window, std::string_view(buf, static_cast<size_t>(n)));
}

}  // namespace

void game_debug_log(int window, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  EmitV(window, fmt, args);
  va_end(args);
}

void game_debug_puts(int window, const char* text) { Emit(window, text ? text : ""); }

void game_error_log(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  EmitV(kDebugErrorLog, fmt, args);
  va_end(args);
}

void game_debug_log_set_sink(GameDebugSink sink, void* user) {
  std::lock_guard lock(g_sink_mutex);
  g_sink = sink;
  g_sink_user = user;
}

GameDebugSink game_debug_log_get_sink(void** user) {
  std::lock_guard lock(g_sink_mutex);
  if (user) *user = g_sink_user;
  return g_sink;
}
