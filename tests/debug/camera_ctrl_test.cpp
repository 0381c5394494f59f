// The camera control task on a headless GPU context in debug mode, frame by
// frame on this thread (which draws, so every GL call stays here): it
// starts, dragging with the left button and the wheel move the camera and
// so the captured frame, Esc ends it and the first frame comes back pixel
// for pixel. The dialog's values follow the camera, its buttons never leave
// the camera with the eye on its target, and without a GPU context (the
// software renderer) the task is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "debug/debug_window.h"
#include "core/system_state.h"
#include "platform/debugview/debug_view.h"
#include "platform/gpu/gpu_device.h"
#include "platform/input/input.h"
#include "platform/window/display.h"
#include "render/gpu_context.h"
#include "sprite/sprite.h"
#include "support/engine_fixture.h"
#include "support/gpu_fixture.h"
#include "task/render_list.h"
#include "task/task.h"

namespace {

class CameraCtrlTest : public kivtest::GpuEngineTest {
 protected:
  void SetUp() override {
    GpuEngineTest::SetUp();
    if (IsSkipped()) return;
    params.debug = 1;
    plat::HeadlessInputReset();
  }
  void TearDown() override {
    if (g_kiv && list && g_kiv->debugTask) {
      KivTaskFree(g_kiv->debugTask);
      g_kiv->debugTask = nullptr;
    }
    GpuEngineTest::TearDown();
  }
  bool Start() {
    if (!GpuEngineTest::Start()) return false;
    g_kiv->active = 1;
    g_kiv->minimised = 0;
    return true;
  }
  // A scene with something to see: a square and a bar.
  void Scene() {
    KivSprite* a = KivSpriteCreate(list, 60, 60, 5);
    KivSpritePaint(a, 0xFFE04030u);
    KivSpriteSetPos(a, 100, 50);
    KivSprite* b = KivSpriteCreate(list, 200, 10, 6);
    KivSpritePaint(b, 0xFF30A0E0u);
    KivSpriteSetPos(b, 40, 140);
  }
  // One frame as the game thread runs it: input, the debug task's start or
  // end, the task walk (with what the test puts into the frame's input),
  // then the render pass.
  std::vector<uint32_t> Frame(int moveX = 0, int moveY = 0, int wheel = 0) {
    KivInputUpdate();
    KivDebugTaskService();
    if (moveX || moveY) {
      g_kiv->input.moveX.store(moveX);
      g_kiv->input.moveY.store(moveY);
    }
    if (wheel) g_kiv->input.wheel.store(wheel);
    KivTaskWalkRoot();
    EXPECT_EQ(KivRenderFrame(), 1);
    plat::Frame f = Shown();
    std::vector<uint32_t> px(f.pixels.begin(), f.pixels.end());
    for (uint32_t& p : px) p &= 0xFFFFFFu;
    return px;
  }
  bool TaskRuns() {
    return g_kiv->debugTask && g_kiv->debugTask->name && std::string(g_kiv->debugTask->name) == "KivCameraCtrlTask";
  }
  static int Differ(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
  }
};

TEST_F(CameraCtrlTest, MovesTheCameraAndEscLeavesItWhereItWasMoved) {
  ASSERT_TRUE(Start());
  ASSERT_EQ(Kiv3DIs(), KIV_MODE_GPU);
  Scene();
  const std::vector<uint32_t> first = Frame();
  ASSERT_FALSE(first.empty());
  const Kiv3DCamera cam0 = Ctx()->camera;

  KivDebugTaskRequest(2);
  const std::vector<uint32_t> started = Frame();
  ASSERT_TRUE(TaskRuns());
  EXPECT_EQ(Differ(started, first), 0) << "starting alone moves nothing";
  float shown[9];
  ASSERT_TRUE(KivCameraCtrlValues(shown));
  EXPECT_FLOAT_EQ(shown[2], cam0.eye[2]) << "the dialog shows the camera";

  // The held left button drags eye and target along by the mouse movement.
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  Frame();
  const std::vector<uint32_t> dragged = Frame(30, -20);
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  Frame();
  EXPECT_FLOAT_EQ(Ctx()->camera.eye[0], cam0.eye[0] + 0.3f);
  EXPECT_FLOAT_EQ(Ctx()->camera.at[1], cam0.at[1] - 0.2f);
  EXPECT_GT(Differ(dragged, first), 1000) << "the frame moved with the camera";
  EXPECT_EQ(KivInputGetKeyOn() & (1 << 23), 0) << "the game sees no input meanwhile";

  // The wheel moves the eye along z by 0.1 a step.
  const std::vector<uint32_t> wheeled = Frame(0, 0, 1);
  EXPECT_FLOAT_EQ(Ctx()->camera.eye[2], cam0.eye[2] + 0.1f);
  const Kiv3DCamera moved = Ctx()->camera;
  ASSERT_TRUE(KivCameraCtrlValues(shown));
  EXPECT_FLOAT_EQ(shown[2], cam0.eye[2] + 0.1f);

  // Esc (held) ends the task on the next frame; the camera stays where the
  // task moved it.
  plat::HeadlessSetKey(plat::vk::kEscape, true);
  Frame();
  Frame();
  plat::HeadlessSetKey(plat::vk::kEscape, false);
  Frame();
  const std::vector<uint32_t> after = Frame();
  EXPECT_FALSE(TaskRuns());
  EXPECT_FALSE(KivCameraCtrlValues(shown)) << "its dialog goes";
  EXPECT_EQ(std::memcmp(Ctx()->camera.view, moved.view, sizeof moved.view), 0);
  EXPECT_EQ(Differ(after, wheeled), 0) << "the moved frame exactly";
  EXPECT_GT(Differ(after, first), 1000) << "not the first frame";
}

// The right button turns the eye about the origin; the dialog's buttons set
// vectors to 0, which the camera refuses (eye on its target, no up): it and
// the task keep the last camera, and the frame stays whole.
TEST_F(CameraCtrlTest, TurnsAndRefusesADegenerateLookAt) {
  ASSERT_TRUE(Start());
  Scene();
  const std::vector<uint32_t> first = Frame();
  KivDebugTaskRequest(2);
  Frame();
  ASSERT_TRUE(TaskRuns());
  plat::HeadlessSetKey(plat::vk::kRButton, true);
  Frame();
  Frame(-128, 0);  // a quarter turn: the eye goes from -z to +x, 5 away
  plat::HeadlessSetKey(plat::vk::kRButton, false);
  Frame();
  EXPECT_NEAR(Ctx()->camera.eye[0], 5.0f, 1e-4);
  EXPECT_NEAR(Ctx()->camera.eye[1], 0.0f, 1e-4);
  EXPECT_NEAR(Ctx()->camera.eye[2], 0.0f, 1e-4) << "turned about the origin, not off its circle";
  const Kiv3DCamera turned = Ctx()->camera;
  const std::vector<uint32_t> turnedFrame = Frame();
  EXPECT_NE(Differ(turnedFrame, first), 0);

  for (int id : {kKivCameraResetEye, kKivCameraResetUp, kKivCameraResetAll}) {
    SCOPED_TRACE(id);
    KivCameraCtrlButton(id);
    const std::vector<uint32_t> f = Frame();
    EXPECT_EQ(std::memcmp(Ctx()->camera.view, turned.view, sizeof turned.view), 0) << "refused: the last stays";
    float shown[9];
    ASSERT_TRUE(KivCameraCtrlValues(shown));
    EXPECT_FLOAT_EQ(shown[0], turned.eye[0]) << "the task follows the camera it has";
    EXPECT_EQ(Differ(f, turnedFrame), 0);
  }
  KivCameraCtrlButton(4242);  // not a button: ignored
  Frame();
  KivDebugTaskRequest(0);
  Frame();
  EXPECT_FALSE(TaskRuns());
  EXPECT_EQ(Differ(Frame(), turnedFrame), 0) << "the camera stays turned after the task";
}

// Dialog 106 as a debug view: shown while the task runs, its "at" button
// (1013) puts the target back at the origin, gone when the task ends.
TEST_F(CameraCtrlTest, DialogShowsTheCameraAndItsButtonsReset) {
  ASSERT_TRUE(Start());
  Scene();
  KivDebugTaskRequest(2);
  Frame();
  ASSERT_TRUE(TaskRuns());
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  Frame();
  Frame(50, 0);
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  Frame();
  ASSERT_FLOAT_EQ(Ctx()->camera.at[0], 0.5f);
  KivDebugViewsRefresh();  // as the window thread does
  const plat::HeadlessViewFrame shown = plat::HeadlessDebugViewFrame("KivCameraCtrlTask");
  EXPECT_TRUE(shown.visible);
  EXPECT_GT(shown.width, 0);
  plat::DebugViewEvent e;
  e.kind = plat::DebugViewEvent::kMenu;
  e.value = kKivCameraResetAt;
  plat::HeadlessDebugViewInject("KivCameraCtrlTask", e);
  KivDebugViewsRefresh();
  Frame();
  EXPECT_FLOAT_EQ(Ctx()->camera.at[0], 0.0f);
  EXPECT_FLOAT_EQ(Ctx()->camera.eye[0], 0.5f) << "the eye stays where it was";
  KivDebugTaskRequest(0);
  Frame();
  KivDebugViewsRefresh();
  EXPECT_TRUE(plat::HeadlessDebugViewFrame("KivCameraCtrlTask").pixels.empty() ||
              !plat::HeadlessDebugViewFrame("KivCameraCtrlTask").visible)
      << "its dialog closes with the task";
  KivDebugViewsClose();
}

// The software renderer has no camera: the task is refused as before.
TEST_F(CameraCtrlTest, RefusedWithoutAGpuContext) {
  params.mode &= ~KIV_MODE_GPU;
  ASSERT_TRUE(Start());
  ASSERT_EQ(Kiv3DIs(), 0);
  ASSERT_EQ(g_kiv->gpu, nullptr);
  EXPECT_EQ(KivCameraCtrlTask(), nullptr);
  KivDebugTaskRequest(2);
  KivInputUpdate();
  KivDebugTaskService();
  EXPECT_EQ(g_kiv->debugTask, nullptr);
  float shown[9];
  EXPECT_FALSE(KivCameraCtrlValues(shown));
}

}  // namespace
