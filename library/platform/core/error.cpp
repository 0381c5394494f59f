#include "platform/core/error.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/core/text_encoding.h"

namespace plat {

namespace {
thread_local uint32_t t_last_error = 0;
std::mutex g_sink_mutex;
std::function<void(std::string_view)> g_sink;
}  // namespace

void SetLastError(uint32_t code) { t_last_error = code; }
uint32_t GetLastError() { return t_last_error; }

void SetDebugOutputSink(std::function<void(std::string_view)> sink) {
  std::lock_guard lock(g_sink_mutex);
  g_sink = std::move(sink);
}

void DebugOutput(std::string_view cp932) {
  {
    std::lock_guard lock(g_sink_mutex);
    if (g_sink) {
      g_sink(cp932);
      return;
    }
  }
  static const bool to_stderr = [] {
    const char* v = std::getenv("KIV_DEBUG_OUTPUT");
    return v && *v && *v != '0';
  }();
  if (to_stderr) {
    std::string utf8 = Cp932ToUtf8(cp932);
    std::fprintf(stderr, "%s%s", utf8.c_str(),
                 (!utf8.empty() && utf8.back() == '\n') ? "" : "\n");
  }
}

}  // namespace plat
