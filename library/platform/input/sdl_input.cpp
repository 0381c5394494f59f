// SDL2 input backend. Supports: the keys of the virtual-key table below and
// the three mouse buttons, fed from the window thread's keyboard and mouse
// events into a locked snapshot; the cursor in screen coordinates; the first
// game controller through SDL's joystick API, polled by the reading thread.
// Lacks: keys and clicks that reach other programs' windows (SDL reports only
// its own window's input), so nothing is down while the window has no focus.
//
// Keys are taken by scancode, so they keep their place whatever the layout;
// letters by key code, so a letter is the one printed on the key, as
// virtual-key codes are.
#include "platform/input/sdl_input.h"

#include <bitset>
#include <mutex>

#include "platform/input/input_backend.h"

namespace plat {

namespace {

int VirtualKeyForScancode(SDL_Scancode sc, SDL_Keycode sym) {
  if (sym >= SDLK_a && sym <= SDLK_z) return 'A' + static_cast<int>(sym - SDLK_a);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return vk::kF1 + (sc - SDL_SCANCODE_F1);
  switch (sc) {
    case SDL_SCANCODE_ESCAPE: return vk::kEscape;
    case SDL_SCANCODE_SPACE: return vk::kSpace;
    case SDL_SCANCODE_RETURN: case SDL_SCANCODE_KP_ENTER: return vk::kReturn;
    case SDL_SCANCODE_LCTRL: case SDL_SCANCODE_RCTRL: return vk::kControl;
    case SDL_SCANCODE_LSHIFT: case SDL_SCANCODE_RSHIFT: return vk::kShift;
    case SDL_SCANCODE_LALT: case SDL_SCANCODE_RALT: return vk::kMenu;
    case SDL_SCANCODE_TAB: return vk::kTab;
    case SDL_SCANCODE_UP: return vk::kUp;
    case SDL_SCANCODE_DOWN: return vk::kDown;
    case SDL_SCANCODE_LEFT: return vk::kLeft;
    case SDL_SCANCODE_RIGHT: return vk::kRight;
    default: return 0;
  }
}

int VirtualKeyForButton(uint8_t button) {
  switch (button) {
    case SDL_BUTTON_LEFT: return vk::kLButton;
    case SDL_BUTTON_RIGHT: return vk::kRButton;
    case SDL_BUTTON_MIDDLE: return vk::kMButton;
    default: return 0;
  }
}

// The snapshot. A virtual key is down while any physical key that went down
// as it is still down (both Shift keys share one code). `pressed` latches
// every key and button that went down since the last sample: a quick click
// or tap, pressed and released between two frames, still reads as down in
// the next sample, so the engine sees its press and then its release.
struct Snapshot {
  std::mutex mutex;
  uint8_t keyVk[SDL_NUM_SCANCODES] = {};  // virtual key of each scancode that is down, else 0
  uint32_t buttons = 0;                   // bit vk of each mouse button down
  InputSample pressed;                    // keys gone down since the last sample
  Point cursor;
  Point origin;
  bool placed = false;
};

Snapshot& Snap() {
  static Snapshot s;
  return s;
}

void ReleaseAll(Snapshot& s) {
  for (uint8_t& v : s.keyVk) v = 0;
  s.buttons = 0;
  s.pressed = InputSample{};
}

}  // namespace

void SdlInputOnEvent(const SDL_Event& e, SDL_Window* window, uint32_t id) {
  if (!window) return;
  Snapshot& s = Snap();
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(window, &wx, &wy);
  std::lock_guard lock(s.mutex);
  s.origin = Point{wx, wy};
  if (!s.placed) {
    // Until the first motion the cursor is wherever the desktop has it.
    int gx = 0, gy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    s.cursor = Point{gx, gy};
    s.placed = true;
  }
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (e.key.windowID != id) return;
      SDL_Scancode sc = e.key.keysym.scancode;
      if (sc <= SDL_SCANCODE_UNKNOWN || sc >= SDL_NUM_SCANCODES) return;
      s.keyVk[sc] = e.type == SDL_KEYDOWN
                        ? static_cast<uint8_t>(VirtualKeyForScancode(sc, e.key.keysym.sym))
                        : 0;
      if (s.keyVk[sc]) s.pressed.SetKey(s.keyVk[sc], true);
      break;
    }
    case SDL_MOUSEMOTION:
      if (e.motion.windowID != id) return;
      s.cursor = Point{wx + e.motion.x, wy + e.motion.y};
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (e.button.windowID != id) return;
      s.cursor = Point{wx + e.button.x, wy + e.button.y};
      int code = VirtualKeyForButton(e.button.button);
      if (!code) return;
      if (e.type == SDL_MOUSEBUTTONDOWN) {
        s.buttons |= 1u << code;
        s.pressed.SetKey(code, true);
      } else {
        s.buttons &= ~(1u << code);
      }
      break;
    }
    case SDL_WINDOWEVENT:
      if (e.window.windowID != id) return;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_LEAVE: {
          // No motion arrives once the cursor is outside: take where it went.
          int gx = 0, gy = 0;
          SDL_GetGlobalMouseState(&gx, &gy);
          s.cursor = Point{gx, gy};
          break;
        }
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_HIDDEN:
          // Key and button releases go to whichever window has the focus now.
          ReleaseAll(s);
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

void SdlInputWarped(int screenX, int screenY) {
  Snapshot& s = Snap();
  std::lock_guard lock(s.mutex);
  s.cursor = Point{screenX, screenY};
  s.placed = true;
}

InputSample SdlSampleInput() {
  Snapshot& s = Snap();
  InputSample out;
  std::lock_guard lock(s.mutex);
  for (uint8_t v : s.keyVk)
    if (v) out.SetKey(v, true);
  for (int code : {vk::kLButton, vk::kRButton, vk::kMButton})
    if (s.buttons & (1u << code)) out.SetKey(code, true);
  out.MergeKeys(s.pressed);
  s.pressed = InputSample{};
  out.cursor = s.cursor;
  out.clientOrigin = s.origin;
  return out;
}

// ---- Joystick ----

namespace {

int ScaleAxis(Sint16 v) {
  int scaled = static_cast<int>(v) * 1000 / 32767;
  return scaled < -1000 ? -1000 : scaled > 1000 ? 1000 : scaled;
}

// The device is read with the joystick lock held, so the window thread's
// event pump and this thread never update it at the same time.
class SdlJoystick : public Joystick {
 public:
  explicit SdlJoystick(SDL_Joystick* j) : joystick_(j) {}
  ~SdlJoystick() override {
    SDL_LockJoysticks();
    if (joystick_) SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
    SDL_UnlockJoysticks();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }

  JoyRead Read(JoyState* out) override {
    SDL_LockJoysticks();
    SDL_JoystickUpdate();
    if (joystick_ && !SDL_JoystickGetAttached(joystick_)) {
      SDL_JoystickClose(joystick_);
      joystick_ = nullptr;
    }
    // A device unplugged is looked for again: the first one attached now.
    if (!joystick_ && SDL_NumJoysticks() > 0) joystick_ = SDL_JoystickOpen(0);
    JoyState st;
    if (joystick_) {
      if (SDL_JoystickNumAxes(joystick_) > 0) st.x = ScaleAxis(SDL_JoystickGetAxis(joystick_, 0));
      if (SDL_JoystickNumAxes(joystick_) > 1) st.y = ScaleAxis(SDL_JoystickGetAxis(joystick_, 1));
      int n = SDL_JoystickNumButtons(joystick_);
      for (int i = 0; i < n && i < 32; ++i)
        if (SDL_JoystickGetButton(joystick_, i)) st.buttons |= 1u << i;
    }
    SDL_UnlockJoysticks();
    *out = st;  // without a device: nothing held
    return JoyRead::kOk;
  }

 private:
  SDL_Joystick* joystick_;
};

}  // namespace

std::unique_ptr<Joystick> OpenSdlJoystick() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Read whether or not the window has the focus; the engine decides.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return nullptr;
  // The engine polls the device itself each frame; no joystick events.
  SDL_JoystickEventState(SDL_IGNORE);
  SDL_LockJoysticks();
  SDL_Joystick* j = SDL_NumJoysticks() > 0 ? SDL_JoystickOpen(0) : nullptr;
  SDL_UnlockJoysticks();
  if (!j) {
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return nullptr;
  }
  return std::make_unique<SdlJoystick>(j);
}

}  // namespace plat
