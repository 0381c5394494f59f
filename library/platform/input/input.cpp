// Input: picks the backend for each sample and joystick.
#include "platform/input/input.h"

#include <atomic>

#include "platform/input/input_backend.h"

namespace plat {

namespace {
// -1: follow the window family; else a Backend value.
std::atomic<int> g_kind{-1};
}  // namespace

Backend InputBackendKind() {
  int k = g_kind.load();
  return k < 0 ? WindowBackendKind() : static_cast<Backend>(k);
}
void SetInputBackendKind(Backend b) { g_kind.store(static_cast<int>(b)); }
void FollowWindowInputBackend() { g_kind.store(-1); }

InputSample SampleInput(Window* window) {
  return InputBackendKind() == Backend::kReal ? SdlSampleInput() : HeadlessSampleInput(window);
}

std::unique_ptr<Joystick> OpenJoystick() {
  return InputBackendKind() == Backend::kReal ? OpenSdlJoystick() : OpenHeadlessJoystick();
}

}  // namespace plat
