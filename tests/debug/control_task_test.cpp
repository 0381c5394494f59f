// The debug control tasks and the effect test on a headless engine in
// debug mode, frame by frame: F11 starts the sprite control on the game
// thread, a click picks the sprite under the mouse, the arrows move it one
// pixel, the wheel scales it by 0.01, Esc ends the task and gives the
// sprite its colour back; the end callback still gets the game's data.
// The effect test runs transition 23 and gives everything back on Esc.
#include <gtest/gtest.h>

#include "effect/effect.h"
#include "platform/input/input.h"
#include "platform/window/cursor.h"
#include "support/golden_frame.h"
#include "render/soft_screen.h"
#include "support/sprite_scene.h"
#include "task/task.h"

int KivEffectTestLast(KivTask* task);

namespace {

class ControlTaskTest : public kivtest::SpriteSceneTest {
 protected:
  void AdjustParams() override {
    params.debug = 1;
    params.clientWidth = params.screenWidth = 640;
    params.clientHeight = params.screenHeight = 360;
  }
  void SetUp() override {
    SpriteSceneTest::SetUp();
    plat::HeadlessInputReset();
    plat::HeadlessCursorReset();
    g_kiv->active = 1;
    g_kiv->minimised = 0;
    origin = g_kiv->window->backend()->ClientRectOnScreen();
  }
  // One frame as the game thread runs it: input, hot keys and the debug
  // task's start or end, then the task walk.
  void Frame() {
    KivInputUpdate();
    if (KivInputGetKeyPush() & (1 << 21)) KivDebugTaskRequest(1);
    KivDebugTaskService();
    KivTaskWalkRoot();
  }
  void Key(int vk, bool down) { plat::HeadlessSetKey(vk, down); }
  void Tap(int vk) {
    Key(vk, true);
    Frame();
    Key(vk, false);
    Frame();
  }
  void Hold(int vk) {
    Key(vk, true);
    Frame();
    Frame();
    Key(vk, false);
    Frame();
  }
  void Mouse(int x, int y) { plat::HeadlessSetCursor(origin.left + x, origin.top + y); }
  KivSpriteInfo Info(KivSprite* s) {
    KivSpriteInfo i{};
    KivSpriteGetInfo(s, &i);
    return i;
  }
  plat::Rect origin;
};

int GameStep(void*) { return 1; }

TEST_F(ControlTaskTest, SpriteControlMovesScalesAndRestores) {
  // The game's own task, whose data the end callback must get.
  void* gameData = nullptr;
  KivTask* game = KivTaskCreate(GameStep, nullptr, 16, &gameData, KIV_TASK_BEHIND, nullptr, "StartFunc");
  ASSERT_NE(game, nullptr);
  KivSprite* s = KivSpriteCreate(list, 40, 40, 5);
  KivSpritePaint(s, 0xFFFFFFFFu);
  KivSpriteSetPos(s, 100, 60);
  KivSpriteSetColor(s, 0xFF336699u);

  Tap(plat::vk::kF1 + 10);  // F11
  ASSERT_NE(g_kiv->debugTask, nullptr);
  EXPECT_STREQ(g_kiv->debugTask->name, "KivSpriteCtrlTask");
  EXPECT_EQ(KivTaskFirstRootData(), gameData) << "the control task is not the game";

  // Off every sprite the cursor is the game's; over one it is picture 1.
  Mouse(300, 300);
  Frame();
  EXPECT_EQ(plat::HeadlessCursorRecord().shape, 0);
  Mouse(110, 70);
  Frame();
  EXPECT_EQ(plat::HeadlessCursorRecord().shape, 1) << "the sprite under the mouse shows cursor 1";
  Mouse(300, 300);
  Frame();
  EXPECT_EQ(plat::HeadlessCursorRecord().shape, 0) << "and the game's cursor comes back off it";
  Mouse(110, 70);
  Frame();
  Key(plat::vk::kLButton, true);
  Frame();
  Key(plat::vk::kLButton, false);
  Frame();
  EXPECT_EQ(KivInputGetKeyPush(), 0) << "the game sees no input meanwhile";
  // A held arrow moves one pixel a frame (held: down in this frame and
  // the one before).
  Hold(plat::vk::kRight);
  Hold(plat::vk::kDown);
  EXPECT_FLOAT_EQ(Info(s).x, 101.0f);
  EXPECT_FLOAT_EQ(Info(s).y, 61.0f);
  KivInputUpdate();
  g_kiv->input.wheel.store(1);  // one step toward the player, as the window posts it
  KivTaskWalkRoot();
  EXPECT_NEAR(Info(s).scale, 1.01f, 1e-5) << "the wheel toward the player enlarges";
  EXPECT_NE(Info(s).colour >> 24, 0xFFu) << "its alpha blinks while picked";
  EXPECT_EQ(Info(s).colour & 0xFFFFFFu, 0x336699u);

  Tap(plat::vk::kEscape);
  Frame();
  EXPECT_EQ(g_kiv->debugTask, nullptr);
  EXPECT_EQ(Info(s).colour, 0xFF336699u) << "the colour comes back";
  EXPECT_EQ(plat::HeadlessCursorRecord().shape, 0) << "the game's cursor is back after the task";
  KivTaskFree(game);
}

TEST_F(ControlTaskTest, CameraControlNeedsTheGpuContext) {
  EXPECT_EQ(KivCameraCtrlTask(), nullptr);
  KivDebugTaskRequest(2);
  KivDebugTaskService();
  EXPECT_EQ(g_kiv->debugTask, nullptr);
}

TEST_F(ControlTaskTest, EffectTestRunsATransitionAndGivesEverythingBack) {
  // The screen transition keeps its own capture buffers once it has run.
  KivEffectEx(1, 0, 0, 1);
  for (int i = 0; i < 10 && KivEffectIs(); ++i) {
    Frame();
    KivRenderFrame();
  }
  ASSERT_EQ(KivEffectIs(), 0);
  const int live = KivMemoryLive();
  ASSERT_EQ(KivEffectTest("no_background", 7, "no_character"), 1);
  KivTask* t = nullptr;
  for (KivTask* k = g_kiv->tasks.root->next; k; k = k->next)
    if (k->name && std::string(k->name) == "KivEffectTest") t = k;
  ASSERT_NE(t, nullptr);
  Frame();
  EXPECT_NE(KivRenderGetActive(), list) << "its own render list";
  // Number 23: row 20 (the second), column 3, at (20 + 40 * 2, 50 + 20).
  Mouse(20 + 80 + 5, 70 + 5);
  Key(plat::vk::kLButton, true);
  Frame();
  Key(plat::vk::kLButton, false);
  EXPECT_EQ(KivEffectTestLast(t), 23);
  EXPECT_EQ(KivEffectIs(), 1) << "transition 2 for 3000 ms runs";
  EXPECT_EQ(g_kivEffect.index, 2);
  EXPECT_EQ(g_kivEffect.duration, 3000u);
  Tap(plat::vk::kEscape);
  for (int i = 0; i < 5; ++i) Frame();
  EXPECT_EQ(KivRenderGetActive(), list) << "the list that was active comes back";
  KivEffectEndSoon();
  for (int i = 0; i < 10 && KivEffectIs(); ++i) {
    Frame();
    KivRenderFrame();
  }
  EXPECT_LE(KivMemoryLive(), live) << "its list, sprites and arguments are freed";
}

TEST_F(ControlTaskTest, EffectTestSceneMatchesTheReviewedFrame) {
  ASSERT_EQ(KivSystemPathSet((std::string(DEMO_GAME_DIR) + "/data").c_str()), 1);
  ASSERT_EQ(KivEffectTest("BG_DAY.PGD", 0, "CH_AOI.PGD"), 1);
  Mouse(20 + 40 * 4 + 5, 50 + 20 * 3 + 5);  // over 105: it turns 0xFF00FFFF
  Frame();
  Frame();
  ASSERT_EQ(KivRenderFrame(), 1);
  const int w = screen->width, h = screen->height;
  std::vector<uint32_t> frame(screen->backBuffer, screen->backBuffer + static_cast<size_t>(w) * h);
  expect_golden_frame("effect_test_scene.png", frame.data(), w, h);
  Tap(plat::vk::kEscape);
  Frame();
}

}  // namespace
