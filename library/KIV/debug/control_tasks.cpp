// The debug control tasks: the sprite control (pick the sprite under the
// mouse, move it by the arrows, the mouse and the wheel's scale, its alpha
// blinking while picked) and the camera control, which moves the GPU
// renderer's camera (wheel, dragging with either button) and leaves it
// where it was moved; it is not started without a GPU context.
//
// Both are started and stopped on the game thread (F11, Ctrl+F11 and the
// window's requests go there); a task ends itself by asking for its end,
// which the game thread carries out after the task walk, never inside the
// task's own step. Both take the frame's input for themselves.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "core/system_state.h"
#include "debug/debug_window.h"
#include "platform/core/error.h"
#include "render/gpu_context.h"
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
  float moveX, moveY;
  float scaleNow;
  int phase;
  bool hoverCursor;  // the sprite control's cursor (picture 1) shows over a sprite
};

// The sprite control's view reads its values through this copy (window
// thread), which the task keeps (game thread); the task's own data may be
// freed at any time there.
// A task that ends (its release runs on a later walk) takes back only its
// own values, not those of one started after it.
std::mutex g_spriteShownLock;
const void* g_spriteShown = nullptr;  // the task's data whose values these are
int g_spriteValues[7] = {};           // sprite x, y, move x, y, their sums, scale x 100

void PublishSprite(const SpriteCtrl* c) {
  std::lock_guard<std::mutex> lock(g_spriteShownLock);
  g_spriteShown = c;
  g_spriteValues[0] = static_cast<int>(c->x), g_spriteValues[1] = static_cast<int>(c->y);
  g_spriteValues[2] = static_cast<int>(c->moveX), g_spriteValues[3] = static_cast<int>(c->moveY);
  g_spriteValues[4] = static_cast<int>(c->x + c->moveX), g_spriteValues[5] = static_cast<int>(c->y + c->moveY);
  g_spriteValues[6] = static_cast<int>(c->scaleNow * 100.0f);
}

// A control task that goes is no longer the debug task (also when its
// starter frees it itself).
void ForgetDebugTask(const void* data) {
  KivSystemState* s = g_kiv;
  if (s && s->debugTask && s->debugTask->data == data) s->debugTask = nullptr;
}

// Over a sprite that could be picked the cursor shows picture 1; elsewhere
// (and once one is picked) the cursor the game set comes back.
void HoverCursor(SpriteCtrl* c, bool over) {
  if (over) KivCursorShowShape(1);
  else if (c->hoverCursor && g_kiv) KivCursorShowShape(g_kiv->cursorType.load());
  c->hoverCursor = over;
}

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
    HoverCursor(c, under != nullptr && !(push & kLButton));
    if (under && (push & kLButton)) {
      KivSpriteInfo info{};
      KivSpriteGetInfo(under, &info);
      c->picked = under;
      c->x = info.x;
      c->y = info.y;
      c->colour = info.colour;
      c->scaleNow = info.scale;
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
  PublishSprite(c);
  ClearFrameInput(s);
  return 1;
}

void SpriteRelease(void* data) {
  {
    std::lock_guard<std::mutex> lock(g_spriteShownLock);
    if (g_spriteShown == data) g_spriteShown = nullptr;
  }
  ForgetDebugTask(data);
  HoverCursor(static_cast<SpriteCtrl*>(data), false);
  Drop(static_cast<SpriteCtrl*>(data));
}

// ---- Camera control ----

struct CameraCtrl {
  Kiv3DContext* gpu;
  float eye[3], at[3], up[3];
};

// The dialog's view reads the camera through this copy (window thread); its
// buttons come back as a request the step applies (game thread).
std::mutex g_cameraShownLock;
const void* g_cameraShown = nullptr;  // the task's data whose camera this is
float g_cameraValues[9] = {};
std::atomic<int> g_cameraButton{0};

void PublishCamera(const CameraCtrl* c) {
  std::lock_guard<std::mutex> lock(g_cameraShownLock);
  g_cameraShown = c;
  std::memcpy(g_cameraValues + 0, c->eye, sizeof c->eye);
  std::memcpy(g_cameraValues + 3, c->at, sizeof c->at);
  std::memcpy(g_cameraValues + 6, c->up, sizeof c->up);
}

// The task's vectors follow the context's camera (after a refused update
// the context keeps its last one, and so does the task).
void FromContext(CameraCtrl* c) {
  std::memcpy(c->eye, c->gpu->camera.eye, sizeof c->eye);
  std::memcpy(c->at, c->gpu->camera.at, sizeof c->at);
  std::memcpy(c->up, c->gpu->camera.up, sizeof c->up);
}

// Turns (a, b) about the origin by `turn` 512ths of a turn (the sine
// table's steps). Both new values come from the old ones: taking the new a
// into b would pull the eye off its circle (a quarter turn of (0, -5) would
// land on (5, 5)).
void Turn(float* a, float* b, int turn) {
  const float* sine = KivSineFloat();
  const int i = turn & 511;
  const float sn = sine[i], cs = sine[(i + 128) & 511];
  const float a0 = *a, b0 = *b;
  *a = a0 * cs - b0 * sn;
  *b = b0 * cs + a0 * sn;
}

int CameraStep(void* data) {
  auto* c = static_cast<CameraCtrl*>(data);
  KivSystemState* s = g_kiv;
  if (!s) return 1;
  if (s->gpu != c->gpu) {  // the context went away: nothing left to move
    KivDebugTaskRequest(0);
    ClearFrameInput(s);
    return 1;
  }
  const uint32_t on = static_cast<uint32_t>(KivInputGetKeyOn());
  if (on & kEsc) {
    KivDebugTaskRequest(0);
    ClearFrameInput(s);
    return 1;
  }
  const int button = g_cameraButton.exchange(0);
  if (button == kKivCameraResetEye || button == kKivCameraResetAll) std::memset(c->eye, 0, sizeof c->eye);
  if (button == kKivCameraResetAt || button == kKivCameraResetAll) std::memset(c->at, 0, sizeof c->at);
  if (button == kKivCameraResetUp || button == kKivCameraResetAll) std::memset(c->up, 0, sizeof c->up);
  const int wheel = KivInputGetWheel();
  if (wheel) c->eye[2] += wheel > 0 ? 0.1f : -0.1f;
  const int mx = KivInputGetMouseMoveX(), my = KivInputGetMouseMoveY();
  if (on & kLButton) {
    c->eye[0] += static_cast<float>(mx) * 0.01f;
    c->eye[1] += static_cast<float>(my) * 0.01f;
    c->at[0] += static_cast<float>(mx) * 0.01f;
    c->at[1] += static_cast<float>(my) * 0.01f;
  }
  if (on & kRButton) {
    Turn(&c->eye[0], &c->eye[2], -mx);
    Turn(&c->eye[1], &c->eye[2], -my);
  }
  if (!Kiv3DCameraUpdate(c->gpu, c->up, c->at, c->eye)) FromContext(c);
  PublishCamera(c);
  ClearFrameInput(s);
  return 1;
}

// The camera stays where the task left it.
void CameraRelease(void* data) {
  {
    std::lock_guard<std::mutex> lock(g_cameraShownLock);
    if (g_cameraShown == data) g_cameraShown = nullptr;
  }
  ForgetDebugTask(data);
}

}  // namespace

bool KivCameraCtrlValues(float out[9]) {
  std::lock_guard<std::mutex> lock(g_cameraShownLock);
  if (!g_cameraShown) return false;
  std::memcpy(out, g_cameraValues, sizeof g_cameraValues);
  return true;
}

void KivCameraCtrlButton(int id) {
  if (id == kKivCameraResetEye || id == kKivCameraResetAt || id == kKivCameraResetUp || id == kKivCameraResetAll)
    g_cameraButton.store(id);
}

// The sprite control task's values, for its view (dialog 102): mouse x, y,
// sprite x, y, move x, y, their sums and scale x 100.
bool KivSpriteCtrlValues(int out[9]) {
  if (!g_kiv) return false;
  {
    std::lock_guard<std::mutex> lock(g_spriteShownLock);
    if (!g_spriteShown) return false;
    std::memcpy(out + 2, g_spriteValues, sizeof g_spriteValues);
  }
  out[0] = KivInputGetMouseX();
  out[1] = KivInputGetMouseY();
  return true;
}

namespace {

// A control task started (by its export or the window's request) is the
// debug task, which Esc and the next request end; one that ran goes first.
void FreeDebugTask() {
  KivSystemState* s = g_kiv;
  if (!s || !s->debugTask) return;
  KivTaskFree(s->debugTask);
  s->debugTask = nullptr;
}

}  // namespace

extern "C" KIV_API KivTask* KivSpriteCtrlTask(void) {
  if (!KivDebugIs()) return nullptr;
  FreeDebugTask();
  void* data = nullptr;
  KivTask* t = KivTaskCreate(SpriteStep, SpriteRelease, sizeof(SpriteCtrl), &data,
                             KIV_TASK_BLOCKING | KIV_TASK_BEHIND, nullptr, kSpriteTaskName);
  if (!t) return nullptr;
  PublishSprite(static_cast<SpriteCtrl*>(data));
  g_kiv->debugTask = t;
  return t;
}

extern "C" KIV_API KivTask* KivCameraCtrlTask(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return nullptr;
  // The camera belongs to the GPU renderer: without its context there is
  // nothing to move.
  if (!s->gpu || !Kiv3DIs()) {
    plat::DebugOutput("KivCameraCtrlTask : no GPU context\n");
    return nullptr;
  }
  FreeDebugTask();
  void* data = nullptr;
  KivTask* t = KivTaskCreate(CameraStep, CameraRelease, sizeof(CameraCtrl), &data,
                             KIV_TASK_BLOCKING | KIV_TASK_BEHIND, nullptr, kCameraTaskName);
  if (!t) return nullptr;
  auto* c = static_cast<CameraCtrl*>(data);
  c->gpu = static_cast<Kiv3DContext*>(s->gpu);
  FromContext(c);
  g_cameraButton.store(0);
  PublishCamera(c);
  s->debugTask = t;
  return t;
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
  if (which == 1) KivSpriteCtrlTask();
  else if (which == 2) KivCameraCtrlTask();
}
