// The debug control tasks: the sprite control (pick the sprite under the
// mouse, move it by the arrows, the mouse and the wheel's scale, its alpha
// blinking while picked) and the camera control, which needs the GPU
// renderer's camera and is not started without a GPU context.
//
// Both are started and stopped on the game thread (F11, Ctrl+F11 and the
// window's requests go there); a task ends itself by asking for its end,
// which the game thread carries out after the task walk, never inside the
// task's own step. Both take the frame's input for themselves.
#include <cstdint>

#include "core/system_state.h"
#include "debug/debug_window.h"
#include "platform/core/error.h"
#include "render/pixel_routines.h"
#include "task/task.h"

namespace {

constexpr uint32_t kEsc = 1u << 0;
constexpr uint32_t kUp = 1u << 7, kDown = 1u << 8, kLeft = 1u << 9, kRight = 1u << 10;
constexpr uint32_t kLButton = 1u << 23, kRButton = 1u << 24;
constexpr const char* kSpriteTaskName = "KivSpriteCtrlTask";
constexpr const char* kCameraTaskName = "KivCameraCtrlTask";

struct SpriteCtrl {
  KivSprite* picked;
  float x, y;        // position when picked
  uint32_t colour;   // colour when picked
  float scale;       // scale when picked
  float moveX, moveY;
  float scaleNow;
  int phase;
  int cursorShown;
};

// The picked sprite gets its colour back.
void Drop(SpriteCtrl* c) {
  if (c->picked) KivSpriteSetColor(c->picked, c->colour);
  c->picked = nullptr;
}

void ClearFrameInput(KivSystemState* s) {
  KivInputClear();
  s->input.wheel.store(0);
  s->input.moveX.store(0);
  s->input.moveY.store(0);
}

int SpriteStep(void* data) {
  auto* c = static_cast<SpriteCtrl*>(data);
  KivSystemState* s = g_kiv;
  if (!s) return 1;
  const uint32_t push = static_cast<uint32_t>(KivInputGetKeyPush());
  const uint32_t on = static_cast<uint32_t>(KivInputGetKeyOn());
  const int mx = KivInputGetMouseX(), my = KivInputGetMouseY();
  if (push & kEsc) {
    KivDebugTaskRequest(0);
    ClearFrameInput(s);
    return 1;
  }
  if (!c->picked) {
    KivSprite* under = KivSpriteGetForeground(mx, my, 0);
    c->cursorShown = under != nullptr;
    if (under && (push & kLButton)) {
      KivSpriteInfo info{};
      KivSpriteGetInfo(under, &info);
      c->picked = under;
      c->x = info.x;
      c->y = info.y;
      c->colour = info.colour;
      c->scale = c->scaleNow = info.scale;
      c->moveX = c->moveY = 0;
      c->phase = 0;
    }
  } else {
    // The alpha blinks 0 .. 255 .. 0 from the sine table; RGB stays.
    const float* sine = KivSineFloat();
    const int alpha = static_cast<int>(sine[c->phase % 256] * 255.0f);
    c->phase += 2;
    KivSpriteSetColor(c->picked, (c->colour & 0xFFFFFFu) | static_cast<uint32_t>(alpha < 0 ? 0 : alpha) << 24);
    if (on & kUp) c->moveY -= 1;
    if (on & kDown) c->moveY += 1;
    if (on & kLeft) c->moveX -= 1;
    if (on & kRight) c->moveX += 1;
    if (on & kLButton) {
      c->moveX += static_cast<float>(KivInputGetMouseMoveX());
      c->moveY += static_cast<float>(KivInputGetMouseMoveY());
    }
    const int wheel = KivInputGetWheel();
    if (wheel) {
      // Down (toward the player, a positive step) enlarges.
      c->scaleNow += wheel > 0 ? 0.01f : -0.01f;
      KivSpriteSetScale(c->picked, c->scaleNow);
    }
    KivSpriteSetPos(c->picked, c->x + c->moveX, c->y + c->moveY);
    if (push & kRButton) Drop(c);
  }
  ClearFrameInput(s);
  return 1;
}

void SpriteRelease(void* data) { Drop(static_cast<SpriteCtrl*>(data)); }

}  // namespace

// The sprite control task's values, for its view (dialog 102): mouse x, y,
// sprite x, y, move x, y, their sums and scale x 100.
bool KivSpriteCtrlValues(int out[9]) {
  KivSystemState* s = g_kiv;
  if (!s || !s->debugTask || !s->debugTask->name || std::string_view(s->debugTask->name) != kSpriteTaskName) return false;
  const auto* c = static_cast<const SpriteCtrl*>(s->debugTask->data);
  out[0] = KivInputGetMouseX();
  out[1] = KivInputGetMouseY();
  out[2] = static_cast<int>(c->x), out[3] = static_cast<int>(c->y);
  out[4] = static_cast<int>(c->moveX), out[5] = static_cast<int>(c->moveY);
  out[6] = static_cast<int>(c->x + c->moveX), out[7] = static_cast<int>(c->y + c->moveY);
  out[8] = static_cast<int>(c->scaleNow * 100.0f);
  return true;
}

extern "C" KIV_API KivTask* KivSpriteCtrlTask(void) {
  if (!KivDebugIs()) return nullptr;
  void* data = nullptr;
  KivTask* t = KivTaskCreate(SpriteStep, SpriteRelease, sizeof(SpriteCtrl), &data,
                             KIV_TASK_BLOCKING | KIV_TASK_BEHIND, nullptr, kSpriteTaskName);
  return t;
}

extern "C" KIV_API KivTask* KivCameraCtrlTask(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return nullptr;
  // The camera belongs to the GPU renderer: without its context there is
  // nothing to move.
  if (!s->gpu) {
    plat::DebugOutput("KivCameraCtrlTask : no GPU context\n");
    return nullptr;
  }
  plat::DebugOutput("KivCameraCtrlTask : the GPU camera is not reachable from here\n");
  return nullptr;
}

void KivDebugTaskRequest(int which) {
  if (g_kiv) g_kiv->debugTaskRequest.store(which);
}

void KivDebugTaskService(void) {
  KivSystemState* s = g_kiv;
  if (!s) return;
  const int which = s->debugTaskRequest.exchange(-1);
  if (which < 0) return;
  if (s->debugTask) {
    KivTaskFree(s->debugTask);
    s->debugTask = nullptr;
    return;
  }
  if (which == 1) s->debugTask = KivSpriteCtrlTask();
  else if (which == 2) s->debugTask = KivCameraCtrlTask();
}
