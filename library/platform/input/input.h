// Input devices: keyboard, mouse and joystick state; an SDL2 backend and an
// injected (headless) one. Only library/platform/ includes SDL headers.
//
// Input: the keyboard, the mouse and a joystick, sampled by the engine once a
// frame on its game thread.
//
// Keyboard and mouse: the state of the whole desktop at the moment of the
// call, by virtual-key code (the codes below), and the cursor in screen
// coordinates with the screen position of the window's client area. The
// real backend is fed from SDL's keyboard and mouse events on the window
// thread (sdl_input.cpp) and keeps a locked snapshot; the headless backend
// returns what a test injected (headless_input.cpp). Sampling is safe from
// any thread.
//
// Joystick: the first attached game controller, its two main axes scaled to
// -1000..1000 and its buttons. Real backend: SDL's joystick API, polled by
// the reading thread. Headless: one injected device.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/core/backend.h"
#include "platform/core/geometry.h"

namespace plat {

class Window;

// Virtual-key codes of the keys the engine samples.
namespace vk {
constexpr int kLButton = 0x01;
constexpr int kRButton = 0x02;
constexpr int kMButton = 0x04;
constexpr int kTab = 0x09;
constexpr int kReturn = 0x0D;
constexpr int kShift = 0x10;
constexpr int kControl = 0x11;
constexpr int kMenu = 0x12;  // Alt
constexpr int kEscape = 0x1B;
constexpr int kSpace = 0x20;
constexpr int kLeft = 0x25;
constexpr int kUp = 0x26;
constexpr int kRight = 0x27;
constexpr int kDown = 0x28;
constexpr int kF1 = 0x70;  // kF1 + n is F(n+1), up to F12
// Letters are their upper-case ASCII codes ('A'..'Z').
}  // namespace vk

struct InputSample {
  uint64_t keys[4] = {};  // bit (vk & 63) of word vk >> 6: virtual key vk is down
  Point cursor;           // screen coordinates
  Point clientOrigin;     // screen position of the window's client area

  bool KeyDown(int code) const {
    return code >= 0 && code < 256 && ((keys[code >> 6] >> (code & 63)) & 1u) != 0;
  }
  void SetKey(int code, bool down) {
    if (code < 0 || code >= 256) return;
    uint64_t bit = uint64_t{1} << (code & 63);
    if (down) keys[code >> 6] |= bit; else keys[code >> 6] &= ~bit;
  }
  // Adds the keys down in other (a latch of presses) to these.
  void MergeKeys(const InputSample& other) {
    for (int w = 0; w < 4; ++w) keys[w] |= other.keys[w];
  }
};

// Which backend input uses. Unless set, it follows the window family: the
// in-memory window has no native events, so its input is injected.
Backend InputBackendKind();
void SetInputBackendKind(Backend b);
void FollowWindowInputBackend();

// The keyboard and mouse now. `window` gives the client origin of the
// headless backend (its in-memory window); it may be null. A key or button
// that went down since the previous sample reads as down even if it is up
// again already, so a press shorter than a frame is not lost; the sample
// consumes those latched presses, so the engine's once-a-frame update should
// be the only regular caller.
InputSample SampleInput(Window* window);

// ---- Joystick ----

struct JoyState {
  int x = 0, y = 0;      // -1000..1000
  uint32_t buttons = 0;  // bit i: button i is down
};

enum class JoyRead {
  kOk,    // state read
  kLost,  // the device could not be read this time; it is re-acquired for the next read
};

class Joystick {
 public:
  virtual ~Joystick() = default;
  virtual JoyRead Read(JoyState* out) = 0;
};

// Opens the first attached game controller; null when there is none.
std::unique_ptr<Joystick> OpenJoystick();

// ---- Headless backend: the state tests inject ----

void HeadlessInputReset();  // nothing down, cursor at (0, 0), no joystick
void HeadlessSetKey(int code, bool down);
void HeadlessSetCursor(int x, int y);  // screen coordinates
// A joystick that OpenJoystick finds while `attached` is true.
void HeadlessSetJoystick(bool attached);
void HeadlessSetJoyState(const JoyState& state);
// While set, reads of the headless joystick report kLost.
void HeadlessSetJoyLost(bool lost);

}  // namespace plat
