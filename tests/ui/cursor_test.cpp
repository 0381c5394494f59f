// The cursor, headless: its type shown, hidden and re-applied on mouse
// moves; KivCursorSetPos read back exactly by the next input poll for
// several client sizes and for every full-screen aspect mode; type changes
// from another thread against mouse moves on the window thread, which runs
// every cursor call itself.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/input/input.h"
#include "platform/window/cursor.h"
#include "render/soft_screen.h"
#include "support/sprite_scene.h"

using namespace kivtest;

namespace {

class CursorTest : public SpriteSceneTest {
 protected:
  void AdjustParams() override {
    params.screenWidth = params.clientWidth = 1280;
    params.screenHeight = params.clientHeight = 720;
  }
  void SetUp() override {
    SpriteSceneTest::SetUp();
    plat::HeadlessCursorReset();
    plat::HeadlessInputReset();
    g_kiv->active = 1;
    g_kiv->minimised = 0;
  }
  void MouseMove() { KivWindowProc(g_kiv->window, plat::kMsgMouseMove, 0, 0); }
  // The client area at (x, y) of the screen with the given size.
  void Client(int x, int y, int w, int h) {
    g_kiv->window->backend()->Move(x, y);
    g_kiv->window->backend()->SetClientSize(w, h);
    g_kiv->params.clientWidth = w;
    g_kiv->params.clientHeight = h;
  }
  void ExpectReadBack(int x, int y) {
    ASSERT_EQ(KivCursorSetPos(x, y), 1);
    EXPECT_EQ(KivInputGetMouseX(), x);
    EXPECT_EQ(KivInputGetMouseY(), y);
    KivInputUpdate();
    EXPECT_EQ(KivInputGetMouseX(), x) << "the next poll, at " << x << "," << y;
    EXPECT_EQ(KivInputGetMouseY(), y) << "the next poll, at " << x << "," << y;
    KivInputUpdate();
    EXPECT_EQ(KivInputGetMouseX(), x) << "and while the cursor stays";
    EXPECT_EQ(KivInputGetMouseMoveX(), 0);
  }
};

TEST_F(CursorTest, HideShowChangeAndReapply) {
  using plat::HeadlessCursorRecord;
  EXPECT_EQ(KivCursorSet(-1), -1);
  EXPECT_FALSE(HeadlessCursorRecord().shown);
  EXPECT_EQ(g_kiv->cursorType.load(), -1);
  // The arrow again: shown first.
  KivCursorSet(0);
  EXPECT_TRUE(HeadlessCursorRecord().shown);
  EXPECT_EQ(HeadlessCursorRecord().shape, 0);
  // Any other value changes nothing, shown or hidden.
  KivCursorSet(-1);
  const plat::CursorRecord before = HeadlessCursorRecord();
  KivCursorSet(7);
  KivCursorSet(-2);
  const plat::CursorRecord after = HeadlessCursorRecord();
  EXPECT_FALSE(after.shown);
  EXPECT_EQ(after.shapeCalls, before.shapeCalls);
  EXPECT_EQ(after.showCalls, before.showCalls);
  MouseMove();
  EXPECT_EQ(HeadlessCursorRecord().shapeCalls, before.shapeCalls) << "type -2 is re-applied as nothing";
  // The engine's pictures, each re-applied on every mouse move.
  for (int type : {1, 2, 3}) {
    KivCursorSet(type);
    EXPECT_TRUE(HeadlessCursorRecord().shown);
    EXPECT_EQ(HeadlessCursorRecord().shape, type);
    const int calls = HeadlessCursorRecord().shapeCalls;
    MouseMove();
    EXPECT_EQ(HeadlessCursorRecord().shapeCalls, calls + 1);
    EXPECT_EQ(HeadlessCursorRecord().shape, type);
  }
  // Hidden stays hidden across mouse moves.
  KivCursorSet(-1);
  MouseMove();
  EXPECT_FALSE(HeadlessCursorRecord().shown);
  EXPECT_FALSE(HeadlessCursorRecord().offThread);
}

TEST_F(CursorTest, SetPosReadsBackForEveryClientSize) {
  const struct {
    int x, y, w, h;
  } clients[] = {{100, 50, 1280, 720}, {0, 0, 1920, 1080}, {33, 17, 853, 480}, {0, 0, 640, 360}};
  const int points[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 5}, {640, 360}, {641, 361}, {1277, 718}, {1279, 719}};
  for (const auto& c : clients) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    Client(c.x, c.y, c.w, c.h);
    for (const auto& p : points) ExpectReadBack(p[0], p[1]);
    // The warp lands on a client point that maps onto the asked point where
    // one exists, and the cursor moved there on the screen.
    ASSERT_EQ(KivCursorSetPos(640, 360), 1);
    const plat::Point w = plat::HeadlessCursorRecord().warp;
    EXPECT_EQ(1280LL * w.x / c.w, 640);
    const plat::InputSample s = plat::SampleInput(g_kiv->window);
    EXPECT_EQ(s.cursor.x, c.x + w.x);
    EXPECT_EQ(s.cursor.y, c.y + w.y);
    // A real move afterwards maps as usual.
    plat::HeadlessSetCursor(c.x + c.w / 4, c.y + c.h / 4);
    KivInputUpdate();
    EXPECT_EQ(KivInputGetMouseX(), static_cast<int>(1280LL * (c.w / 4) / c.w));
  }
}

TEST_F(CursorTest, SetPosReadsBackInEveryAspectMode) {
  const plat::Rect monitor{0, 0, 1920, 1200};
  Client(0, 0, 1920, 1200);
  g_kiv->params.fullScreen = 1;
  for (int mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE("aspect " + std::to_string(mode));
    plat::Rect view;
    ASSERT_TRUE(KivAspectRect(1280, 720, monitor, mode, true, 1920, 1200, &view));
    g_kiv->view = view;
    for (const auto& p : {std::pair{0, 0}, {1, 1}, {2, 3}, {640, 360}, {1279, 719}, {1000, 17}})
      ExpectReadBack(p.first, p.second);
  }
  g_kiv->params.fullScreen = 0;
}

// From the game thread the warp is posted: until the window thread has made
// it, the poll keeps the asked point; afterwards it reads it back too.
TEST_F(CursorTest, SetPosFromAnotherThreadHoldsUntilTheWarp) {
  Client(0, 0, 853, 480);
  plat::HeadlessSetCursor(5, 5);
  KivInputUpdate();
  std::thread game([] { EXPECT_EQ(KivCursorSetPos(641, 361), 1); });
  game.join();
  EXPECT_EQ(plat::HeadlessCursorRecord().warps, 0) << "not yet made";
  KivInputUpdate();
  EXPECT_EQ(KivInputGetMouseX(), 641);
  EXPECT_EQ(KivInputGetMouseY(), 361);
  plat::Msg m;
  while (plat::PeekMessage(&m, true)) plat::DispatchMessage(m);
  EXPECT_EQ(plat::HeadlessCursorRecord().warps, 1);
  KivInputUpdate();
  EXPECT_EQ(KivInputGetMouseX(), 641);
  EXPECT_EQ(KivInputGetMouseY(), 361);
  plat::HeadlessSetCursor(0, 0);
  KivInputUpdate();
  EXPECT_EQ(KivInputGetMouseX(), 0) << "moved away: the usual mapping";
}

// Under ThreadSanitizer: the game thread changes the type while the window
// thread re-applies it on mouse moves; every cursor call runs on the window
// thread.
TEST_F(CursorTest, TypeChangesFromAnotherThreadAgainstMouseMoves) {
  std::atomic<bool> done{false};
  std::thread game([&] {
    for (int i = 0; i < 300; ++i) KivCursorSet(i % 5 - 1);
    done = true;
  });
  // The window thread: mouse moves, and the cursor calls posted to it.
  auto pump = [&] {
    plat::Msg m;
    while (plat::PeekMessage(&m, true)) plat::DispatchMessage(m);
  };
  while (!done.load()) {
    MouseMove();
    pump();
  }
  game.join();
  pump();
  MouseMove();
  EXPECT_FALSE(plat::HeadlessCursorRecord().offThread);
  EXPECT_EQ(g_kiv->cursorType.load(), 299 % 5 - 1);
  EXPECT_EQ(plat::HeadlessCursorRecord().shape, 3) << "the calls ran in order; the last one is in force";
  EXPECT_TRUE(plat::HeadlessCursorRecord().shown);
}

}  // namespace
