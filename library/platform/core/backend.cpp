#include "platform/core/backend.h"

#include <atomic>
#include <cstdlib>

namespace plat {

namespace {
Backend FromEnv() {
  const char* v = std::getenv("KIV_HEADLESS");
  return (v && *v && *v != '0') ? Backend::kHeadless : Backend::kReal;
}
std::atomic<Backend> g_window{FromEnv()};
std::atomic<Backend> g_msgbox{FromEnv()};
std::atomic<Backend> g_audio{FromEnv()};
}  // namespace

Backend WindowBackendKind() { return g_window.load(); }
void SetWindowBackendKind(Backend b) { g_window.store(b); }
Backend MessageBoxBackendKind() { return g_msgbox.load(); }
void SetMessageBoxBackendKind(Backend b) { g_msgbox.store(b); }
Backend AudioBackendKind() { return g_audio.load(); }
void SetAudioBackendKind(Backend b) { g_audio.store(b); }
void UseHeadless(bool on) {
  Backend b = on ? Backend::kHeadless : Backend::kReal;
  g_window.store(b);
  g_msgbox.store(b);
  g_audio.store(b);
}

}  // namespace plat
