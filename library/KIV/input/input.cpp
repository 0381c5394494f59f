// Input: keys, mouse and joystick turned into masks once a frame.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Input: once a frame, on the game thread, the key table, the mouse and the
// joystick are sampled and turned into the masks the game reads (down,
// newly pressed, released, held, auto-repeat), then the kept cancel masks
// are applied. The event word and the wheel are filled by the game thread's
// message handling after the update (frame_loop.cpp).
#include <cstdint>
#include <memory>

#include "core/fault_inject.h"
#include "platform/input/input.h"
#include "core/system_state.h"

namespace {

// Bit i of every key mask is entry i. The table ends with a 0 entry.
constexpr int kKeyTable[] = {
    plat::vk::kEscape, plat::vk::kSpace,   plat::vk::kReturn, plat::vk::kControl, plat::vk::kShift,
    plat::vk::kMenu,   plat::vk::kTab,     plat::vk::kUp,     plat::vk::kDown,    plat::vk::kLeft,
    plat::vk::kRight,  plat::vk::kF1,      plat::vk::kF1 + 1, plat::vk::kF1 + 2,  plat::vk::kF1 + 3,
    plat::vk::kF1 + 4, plat::vk::kF1 + 5,  plat::vk::kF1 + 6, plat::vk::kF1 + 7,  plat::vk::kF1 + 8,
    plat::vk::kF1 + 9, plat::vk::kF1 + 10, plat::vk::kF1 + 11, plat::vk::kLButton, plat::vk::kRButton,
    plat::vk::kMButton, 'Y',               'N',               'Z',                'X',
    'C',               0,
};
static_assert(sizeof kKeyTable / sizeof kKeyTable[0] == 32, "31 keys and the end entry");

constexpr uint32_t kMouseButtonBits = 0x3800000u;  // bits 23-25
constexpr uint32_t kRepeatDelayMs = 500;
constexpr uint32_t kEventWheel = 16;
constexpr int kJoyThreshold = 800;  // of the -1000..1000 axis range
constexpr int kJoyButtons = 10;

plat::Joystick* JoystickOf(KivSystemState* s) { return static_cast<plat::Joystick*>(s->input.joystick); }

// Frame masks the game reads; KivInputClear and deactivation zero them.
void ClearFrameMasks(KivInputState& in) {
  in.joyPush.store(0);
  in.joyOn.store(0);
  in.joyPull.store(0);
  in.joyRepeat.store(0);
  in.keyPush.store(0);
  in.keyOn.store(0);
  in.keyPull.store(0);
  in.keyRepeat.store(0);
}

void ApplyCancel(KivInputState& in) {
  uint32_t keys = in.cancelKeys.load();
  uint32_t events = in.cancelEvents.load();
  if (keys) {
    in.keyOn.fetch_and(~keys);
    in.keyPush.fetch_and(~keys);
    in.keyPull.fetch_and(~keys);
    in.keyRepeat.fetch_and(~keys);
  }
  if (events) {
    in.eventWord.fetch_and(~events);
    if (events & kEventWheel) in.wheel.store(0);
  }
}

// One axis of the mouse: pos relative to the area of `span` pixels that
// shows `logical` screen pixels. With `bounded`, a position beyond the
// logical screen (or as far before it) means no position.
void MapAxis(int pos, int span, int logical, bool bounded, std::atomic<int>& mouse, std::atomic<int>& move) {
  if (span <= 0 || logical <= 0) {
    mouse.store(-1);
    move.store(0);
    return;
  }
  int64_t v = static_cast<int64_t>(logical) * pos / span;  // truncates toward zero
  if (bounded && (v >= logical || v < -static_cast<int64_t>(logical))) {
    move.store(0);
    mouse.store(-1);
    return;
  }
  if (v > INT32_MAX / 2) v = INT32_MAX / 2;
  if (v < INT32_MIN / 2) v = INT32_MIN / 2;
  int value = static_cast<int>(v);
  int previous = mouse.load();
  move.store(previous == -1 ? 0 : value - previous);
  mouse.store(value);
}

void UpdateMouse(KivSystemState* s, plat::Point rel) {
  KivInputState& in = s->input;
  const KivSystemParameters& p = s->params;
  if (const int pending = in.warpPending.load()) {
    // 1: the window thread has not moved the cursor yet; 2: it has.
    if (pending == 1 || (rel.x == in.warpClientX.load() && rel.y == in.warpClientY.load())) {
      // Still where KivCursorSetPos put it: the point it asked for.
      const int x = in.warpX.load(), y = in.warpY.load();
      const int px = in.mouseX.load(), py = in.mouseY.load();
      in.moveX.store(px == -1 ? 0 : x - px);
      in.moveY.store(py == -1 ? 0 : y - py);
      in.mouseX.store(x);
      in.mouseY.store(y);
      return;
    }
    in.warpPending.store(0);
  }
  if (p.fullScreen) {
    // Relative to where the logical screen lies on the monitor.
    const plat::Rect& v = s->view;
    MapAxis(rel.x - v.left, v.width(), p.screenWidth, false, in.mouseX, in.moveX);
    MapAxis(rel.y - v.top, v.height(), p.screenHeight, false, in.mouseY, in.moveY);
  } else {
    MapAxis(rel.x, p.clientWidth, p.screenWidth, true, in.mouseX, in.moveX);
    MapAxis(rel.y, p.clientHeight, p.screenHeight, true, in.mouseY, in.moveY);
  }
}

void UpdateKeys(KivSystemState* s, const plat::InputSample& sample, plat::Point rel) {
  KivInputState& in = s->input;
  uint32_t bits = 0;
  for (int i = 0; kKeyTable[i]; ++i)
    if (sample.KeyDown(kKeyTable[i])) bits |= 1u << i;

  uint32_t previous = in.keyCurrent.load();
  in.keyPrevious.store(previous);
  in.keyCurrent.store(bits);
  uint32_t push = bits & ~previous;
  uint32_t repeat = 0;

  // Auto-repeat follows the latest set of keys pushed together.
  uint32_t now = s->frameTime.load();
  if (push) {
    in.repeatStart.store(now);
    in.repeatCandidates.store(push);
  } else if (uint32_t held = bits & previous & in.repeatCandidates.load()) {
    if (now - in.repeatStart.load() > kRepeatDelayMs) repeat = held;
  } else {
    in.repeatCandidates.store(0);
  }

  // A click outside the window is not a click on the game.
  if (!s->params.fullScreen &&
      (rel.x < 0 || rel.y < 0 || rel.x > s->params.clientWidth || rel.y > s->params.clientHeight))
    push &= ~kMouseButtonBits;

  in.keyOn.store(bits & previous);
  in.keyPull.store(previous & ~bits);
  in.keyPush.store(push);
  in.keyRepeat.store(repeat);
}

void UpdateJoystick(KivSystemState* s) {
  plat::Joystick* joystick = JoystickOf(s);
  if (!joystick) return;
  plat::JoyState st;
  // A device that cannot be read now keeps last frame's masks.
  if (joystick->Read(&st) != plat::JoyRead::kOk) return;
  uint32_t bits = 0;
  if (st.y < -kJoyThreshold) bits |= 1;
  if (st.y > kJoyThreshold) bits |= 2;
  if (st.x < -kJoyThreshold) bits |= 4;
  if (st.x > kJoyThreshold) bits |= 8;
  bits |= (st.buttons & ((1u << kJoyButtons) - 1)) << 4;

  KivInputState& in = s->input;
  uint32_t previous = in.joyCurrent.load();
  in.joyPrevious.store(previous);
  in.joyCurrent.store(bits);
  in.joyOn.store(bits & previous);
  in.joyPull.store(previous & ~bits);
  in.joyPush.store(bits & ~previous);
}

uint32_t Masked(std::atomic<uint32_t> KivInputState::*member) {
  return g_kiv ? (g_kiv->input.*member).load() : 0;
}

}  // namespace

int KivInputInit(void) {
  if (KivFaultHit(KivFault::kInput)) return 0;
  KivSystemState* s = g_kiv;
  if (!s) return 1;
  KivInputState& in = s->input;
  ClearFrameMasks(in);
  in.keyCurrent.store(0);
  in.keyPrevious.store(0);
  in.joyCurrent.store(0);
  in.joyPrevious.store(0);
  in.repeatCandidates.store(0);
  in.repeatStart.store(0);
  in.cancelKeys.store(0);
  in.cancelEvents.store(0);
  // No position yet, so the first frame reports no movement.
  in.mouseX.store(-1);
  in.mouseY.store(-1);
  in.moveX.store(0);
  in.moveY.store(0);
  // Without a joystick the engine goes on; the joystick masks stay 0.
  if (!in.joystick) in.joystick = plat::OpenJoystick().release();
  return 1;
}

void KivInputUpdate(void) {
  KivSystemState* s = g_kiv;
  if (!s) return;
  KivInputState& in = s->input;
  if (!s->active.load() || s->minimised.load()) {
    in.mouseX.store(-1);
    in.mouseY.store(-1);
    in.moveX.store(0);
    in.moveY.store(0);
    in.wheel.store(0);
    ClearFrameMasks(in);
  } else {
    plat::InputSample sample = plat::SampleInput(s->window);
    plat::Point rel{sample.cursor.x - sample.clientOrigin.x, sample.cursor.y - sample.clientOrigin.y};
    UpdateMouse(s, rel);
    UpdateKeys(s, sample, rel);
    UpdateJoystick(s);
  }
  ApplyCancel(in);
}

void KivInputRelease(void) {
  KivSystemState* s = g_kiv;
  if (!s) return;
  delete JoystickOf(s);
  s->input.joystick = nullptr;
}

uint32_t KivInputPushMask(void) { return Masked(&KivInputState::keyPush); }
uint32_t KivInputOnMask(void) { return Masked(&KivInputState::keyOn); }

// Window thread, on deactivation; also exported.
extern "C" KIV_API void KivInputClear(void) {
  if (g_kiv) ClearFrameMasks(g_kiv->input);
}

extern "C" KIV_API int KivInputGetKeyEx(void) {
  return g_kiv ? static_cast<int>(g_kiv->input.eventWord.load()) : 0;
}

extern "C" KIV_API int KivInputGetWheel(void) { return g_kiv ? g_kiv->input.wheel.load() : 0; }

extern "C" KIV_API int KivInputGetKeyOn(void) { return static_cast<int>(Masked(&KivInputState::keyOn)); }
extern "C" KIV_API int KivInputGetKeyPush(void) { return static_cast<int>(Masked(&KivInputState::keyPush)); }
extern "C" KIV_API int KivInputGetKeyPull(void) { return static_cast<int>(Masked(&KivInputState::keyPull)); }
extern "C" KIV_API int KivInputGetKeyOnEx(void) { return static_cast<int>(Masked(&KivInputState::keyRepeat)); }

// Synthetic input for this frame; the next update rebuilds the masks.
extern "C" KIV_API void KivInputSetKeyOn(int bits) {
  if (g_kiv) g_kiv->input.keyOn.fetch_or(static_cast<uint32_t>(bits));
}
extern "C" KIV_API void KivInputSetKeyPush(int bits) {
  if (g_kiv) g_kiv->input.keyPush.fetch_or(static_cast<uint32_t>(bits));
}
extern "C" KIV_API void KivInputSetKeyPull(int bits) {
  if (g_kiv) g_kiv->input.keyPull.fetch_or(static_cast<uint32_t>(bits));
}

// The masks stay in force, applied at the end of every update, until the
// next call; (0, 0) ends them.
extern "C" KIV_API void KivInputKeyCancel(int keys, int events) {
  if (!g_kiv) return;
  g_kiv->input.cancelKeys.store(static_cast<uint32_t>(keys));
  g_kiv->input.cancelEvents.store(static_cast<uint32_t>(events));
  ApplyCancel(g_kiv->input);
}

extern "C" KIV_API void KivInputKeyRepeatClear(void) {
  if (!g_kiv) return;
  g_kiv->input.keyRepeat.store(0);
  g_kiv->input.repeatCandidates.store(0);
}

extern "C" KIV_API int KivInputGetMouseX(void) { return g_kiv ? g_kiv->input.mouseX.load() : -1; }
extern "C" KIV_API int KivInputGetMouseY(void) { return g_kiv ? g_kiv->input.mouseY.load() : -1; }
extern "C" KIV_API int KivInputGetMouseMoveX(void) { return g_kiv ? g_kiv->input.moveX.load() : 0; }
extern "C" KIV_API int KivInputGetMouseMoveY(void) { return g_kiv ? g_kiv->input.moveY.load() : 0; }

extern "C" KIV_API int KivInputGetJoyOn(void) { return static_cast<int>(Masked(&KivInputState::joyOn)); }
extern "C" KIV_API int KivInputGetJoyPush(void) { return static_cast<int>(Masked(&KivInputState::joyPush)); }
extern "C" KIV_API int KivInputGetJoyPull(void) { return static_cast<int>(Masked(&KivInputState::joyPull)); }
extern "C" KIV_API int KivInputGetJoyOnEx(void) { return static_cast<int>(Masked(&KivInputState::joyRepeat)); }
