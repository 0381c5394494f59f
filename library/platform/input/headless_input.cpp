// Headless input backend. Supports: any virtual key and the cursor as a test
// sets them, and one joystick with injected axes, buttons and read failures.
// Lacks: native events of any kind; nothing changes unless a test says so.
// The client origin comes from the in-memory window when there is one.
#include <mutex>

#include "platform/input/input_backend.h"
#include "platform/window/window.h"

namespace plat {

namespace {

struct Injected {
  std::mutex mutex;
  InputSample sample;
  InputSample pressed;  // keys set down since the last sample, as the real backend latches them
  bool joyAttached = false;
  bool joyLost = false;
  JoyState joy;
};

Injected& State() {
  static Injected s;
  return s;
}

class HeadlessJoystick : public Joystick {
 public:
  JoyRead Read(JoyState* out) override {
    Injected& s = State();
    std::lock_guard lock(s.mutex);
    if (s.joyLost) return JoyRead::kLost;
    // A device taken away reads as released, as the real backend does.
    *out = s.joyAttached ? s.joy : JoyState{};
    return JoyRead::kOk;
  }
};

}  // namespace

void HeadlessInputReset() {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.sample = InputSample{};
  s.pressed = InputSample{};
  s.joyAttached = false;
  s.joyLost = false;
  s.joy = JoyState{};
}

void HeadlessSetKey(int code, bool down) {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.sample.SetKey(code, down);
  if (down) s.pressed.SetKey(code, true);
}

void HeadlessSetCursor(int x, int y) {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.sample.cursor = Point{x, y};
}

void HeadlessSetJoystick(bool attached) {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.joyAttached = attached;
}

void HeadlessSetJoyState(const JoyState& state) {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.joy = state;
}

void HeadlessSetJoyLost(bool lost) {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  s.joyLost = lost;
}

InputSample HeadlessSampleInput(Window* window) {
  InputSample out;
  {
    Injected& s = State();
    std::lock_guard lock(s.mutex);
    out = s.sample;
    out.MergeKeys(s.pressed);
    s.pressed = InputSample{};
  }
  // Only an in-memory window may be asked from any thread.
  if (window && window->Alive() && WindowBackendKind() == Backend::kHeadless) {
    Rect r = window->backend()->ClientRectOnScreen();
    out.clientOrigin = Point{r.left, r.top};
  }
  return out;
}

std::unique_ptr<Joystick> OpenHeadlessJoystick() {
  Injected& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.joyAttached) return nullptr;
  return std::make_unique<HeadlessJoystick>();
}

}  // namespace plat
