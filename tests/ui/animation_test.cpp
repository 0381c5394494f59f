// Cell animations on the frame clock: a strip of four cells, a column
// strip, the time and reset calls, frame tables that end or loop; handles
// that are not animations of the matching kind are refused and left as
// they were; a sprite released under its animation is let go.
#include <gtest/gtest.h>

#include <vector>

#include "support/sprite_scene.h"

using namespace kivtest;
using kivtools::Image;

namespace {

Image Strip(int w, int h) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | (x * 4) << 8 | y * 4;
  return img;
}

int HoldProc(void*) { return 1; }

class AnimationTest : public SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    g_kiv->frameTime = 1000;
    parent = KivTaskCreate(HoldProc, nullptr, 0, nullptr, KIV_TASK_BEHIND, nullptr, "Parent");
    ASSERT_NE(parent, nullptr);
  }
  // Animations are made as children of the task that is running.
  template <typename Fn>
  KivTask* Within(Fn make) {
    KivTask* saved = g_kiv->tasks.current;
    g_kiv->tasks.current = parent;
    KivTask* t = make();
    g_kiv->tasks.current = saved;
    return t;
  }
  void FrameAt(uint32_t t) {
    g_kiv->frameTime = t;
    KivTaskWalkRoot();
  }
  static int Left(KivSprite* s) {
    KivRect r{};
    KivSpriteGetRect(s, &r);
    return r.left;
  }
  static int Top(KivSprite* s) {
    KivRect r{};
    KivSpriteGetRect(s, &r);
    return r.top;
  }
  KivTask* parent = nullptr;
};

TEST_F(AnimationTest, FourCellsAtAHundredMillisecondsLoopEveryFourthStep) {
  KivSprite* s = FromImage(Strip(64, 16));
  ASSERT_NE(s, nullptr);
  KivSpriteSetOffsetRect(s, 16, 16);
  KivSpriteRectSetPos(s, 2, 0);  // the creator and the first run leave the cell alone
  KivTask* a = Within([&] { return KivAnimation(s, 1, 100); });
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(KivAnimationGetTime(a), 100);
  FrameAt(1000);
  EXPECT_EQ(Left(s), 32) << "the first run selects no cell";
  EXPECT_EQ(static_cast<KivAnimationState*>(KivTaskGetTaskData(a))->cellCount, 4);
  struct Step {
    uint32_t at;
    int cell;
    int loop;  // KivAnimationLoopIs after this frame
  };
  // Each step restarts the clock at its own frame: the late frame at 1260
  // puts the next cell at 1360, not 1300.
  const Step steps[] = {{1050, 2, 0}, {1099, 2, 0}, {1100, 1, 0}, {1130, 1, 0}, {1260, 2, 0},
                        {1300, 2, 0}, {1359, 2, 0}, {1360, 3, 0}, {1460, 0, 1}, {1560, 1, 0},
                        {1660, 2, 0}, {1760, 3, 0}, {1860, 0, 1}};
  for (const Step& st : steps) {
    FrameAt(st.at);
    EXPECT_EQ(Left(s), st.cell * 16) << "at " << st.at;
    EXPECT_EQ(KivAnimationLoopIs(a), st.loop) << "at " << st.at;
    EXPECT_EQ(KivAnimationLoopIs(a), 0) << "read and cleared, at " << st.at;
  }

  // Stop holds the cell, start goes on; SetTime restarts the clock.
  ASSERT_EQ(KivAnimationStop(a), 1);
  FrameAt(3000);
  EXPECT_EQ(Left(s), 0);
  ASSERT_EQ(KivAnimationStart(a), 1);
  ASSERT_EQ(KivAnimationSetTime(a, 40), 1);
  EXPECT_EQ(KivAnimationGetTime(a), 40);
  FrameAt(3039);
  EXPECT_EQ(Left(s), 0);
  FrameAt(3040);
  EXPECT_EQ(Left(s), 16);
  // Reset: cell (0, 0) at once and the clock from now.
  ASSERT_EQ(KivAnimationReset(a), 1);
  EXPECT_EQ(Left(s), 0);
  FrameAt(3079);
  EXPECT_EQ(Left(s), 0);
  FrameAt(3080);
  EXPECT_EQ(Left(s), 16);

  ASSERT_EQ(KivAnimationRelease(a), 1);
  FrameAt(3100);
  EXPECT_EQ(KivAnimationGetTime(a), -1) << "a released animation is no animation";
}

TEST_F(AnimationTest, ColumnStripsAndStrangeCellsStayInsideThePicture) {
  KivSprite* col = FromImage(Strip(16, 48));
  KivSprite* flat = FromImage(Strip(16, 16));
  ASSERT_TRUE(col && flat);
  KivSpriteSetOffsetRect(col, 16, 16);
  KivTask* a = Within([&] { return KivAnimation(col, 2, 10); });
  // Neither bit: a row.
  KivTask* b = Within([&] { return KivAnimation(flat, 4, 10); });
  ASSERT_TRUE(a && b);
  EXPECT_EQ(static_cast<KivAnimationState*>(KivTaskGetTaskData(b))->direction, 1);
  // A cell width of 0 would divide by zero: the picture counts as one cell.
  KivSpriteInfo info{};
  KivSpriteGetInfo(flat, &info);
  info.cellWidth = 0;
  KivSpriteSetInfo(flat, &info);
  FrameAt(1000);
  EXPECT_EQ(static_cast<KivAnimationState*>(KivTaskGetTaskData(b))->cellCount, 1);
  const int tops[] = {16, 32, 0, 16};
  for (int i = 0; i < 4; ++i) {
    FrameAt(1010 + 10 * static_cast<uint32_t>(i));
    EXPECT_EQ(Top(col), tops[i]);
    EXPECT_EQ(Left(col), 0);
    EXPECT_EQ(KivAnimationLoopIs(b), 1) << "one cell wraps every step";
  }
}

TEST_F(AnimationTest, FrameTablesEndOnTheirLastEntryOrLoop) {
  KivSprite* s = FromImage(Strip(64, 16));
  ASSERT_NE(s, nullptr);
  const KivAnimationExFrame ends[] = {
      {0, 0, 16, 16, 100, 1}, {16, 0, 32, 16, 50, 2}, {32, 0, 48, 16, 100, -1}};
  const KivAnimationExFrame loops[] = {{48, 0, 64, 16, 30, 1}, {0, 0, 8, 8, 30, 0}};
  const KivAnimationExFrame below[] = {{8, 0, 16, 16, 10, -7}};
  KivTask* a = Within([&] { return KivAnimationEx(s, ends); });
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Left(s), 0) << "entry 0 at once";
  EXPECT_EQ(Within([&] { return KivAnimationEx(s, nullptr); }), nullptr) << "no table";
  FrameAt(1000);
  const struct {
    uint32_t at;
    int left, point;
  } steps[] = {{1099, 0, 0}, {1100, 16, 1}, {1149, 16, 1}, {1150, 32, 2}, {1250, 32, -1}, {5000, 32, -1}};
  for (const auto& st : steps) {
    FrameAt(st.at);
    EXPECT_EQ(Left(s), st.left) << st.at;
    EXPECT_EQ(KivAnimationGetAnimationPoint(a), st.point) << st.at;
  }
  // A looping table, given by ResetEx.
  ASSERT_EQ(KivAnimationResetEx(a, loops), 1);
  EXPECT_EQ(Left(s), 48);
  EXPECT_EQ(KivAnimationResetEx(a, nullptr), 0);
  const int lefts[] = {0, 48, 0, 48};
  for (int i = 0; i < 4; ++i) {
    FrameAt(5030 + 30 * static_cast<uint32_t>(i));
    EXPECT_EQ(Left(s), lefts[i]);
    EXPECT_EQ(KivAnimationGetAnimationPoint(a), (i + 1) % 2);
  }
  // A next index below -1 ends the table rather than reading before it.
  ASSERT_EQ(KivAnimationResetEx(a, below), 1);
  FrameAt(5200);
  EXPECT_EQ(KivAnimationGetAnimationPoint(a), -1);
  EXPECT_EQ(Left(s), 8);
}

TEST_F(AnimationTest, OtherTasksAndKindsAreRefusedAndLeftAlone) {
  KivSprite* s = FromImage(Strip(64, 16));
  ASSERT_NE(s, nullptr);
  const KivAnimationExFrame table[] = {{0, 0, 16, 16, 100, -1}};
  KivTask* cells = Within([&] { return KivAnimation(s, 1, 100); });
  KivTask* ex = Within([&] { return KivAnimationEx(s, table); });
  KivTask* wait = KivWaitTime(12345);
  ASSERT_TRUE(cells && ex && wait);
  const auto waitBefore = *static_cast<uint32_t*>(KivTaskGetTaskData(wait));
  // Every call on the wrong kind, a wait, the root and NULL.
  for (KivTask* t : {ex, wait, g_kiv->tasks.root, static_cast<KivTask*>(nullptr)}) {
    EXPECT_EQ(KivAnimationStart(t), 0);
    EXPECT_EQ(KivAnimationStop(t), 0);
    EXPECT_EQ(KivAnimationReset(t), 0);
    EXPECT_EQ(KivAnimationSetTime(t, 5), 0);
    EXPECT_EQ(KivAnimationGetTime(t), -1);
    EXPECT_EQ(KivAnimationLoopIs(t), 0);
  }
  for (KivTask* t : {cells, wait, static_cast<KivTask*>(nullptr)}) {
    EXPECT_EQ(KivAnimationStartEx(t), 0);
    EXPECT_EQ(KivAnimationStopEx(t), 0);
    EXPECT_EQ(KivAnimationResetEx(t, table), 0);
    EXPECT_EQ(KivAnimationGetAnimationPoint(t), -1);
  }
  EXPECT_EQ(*static_cast<uint32_t*>(KivTaskGetTaskData(wait)), waitBefore) << "the wait's data is untouched";
  EXPECT_EQ(KivAnimationRelease(nullptr), 0);
  // A handle whose slot was freed is no animation any more.
  ASSERT_EQ(KivAnimationRelease(ex), 1);
  FrameAt(1000);
  EXPECT_EQ(KivAnimationStartEx(ex), 0);
  EXPECT_EQ(KivAnimationGetTime(cells), 100);
  // Any other live task is ended as KivTaskFree ends it, and a task that
  // is already free is only answered.
  EXPECT_EQ(KivTaskGetState(wait), 1);
  EXPECT_EQ(KivAnimationRelease(wait), 1);
  EXPECT_EQ(KivTaskGetState(wait), 2) << "releasing";
  FrameAt(1001);
  EXPECT_EQ(KivTaskGetState(wait), 0) << "freed by the task walk";
  EXPECT_EQ(KivAnimationRelease(wait), 1);
  EXPECT_EQ(KivTaskGetState(wait), 0);
}

// Under AddressSanitizer: a sprite released before its animations is never
// read again by them.
TEST_F(AnimationTest, ASpriteReleasedUnderItsAnimationsIsLetGo) {
  KivSprite* s = FromImage(Strip(64, 16));
  KivSprite* t = FromImage(Strip(64, 16));
  ASSERT_TRUE(s && t);
  KivSpriteSetOffsetRect(s, 16, 16);
  const KivAnimationExFrame table[] = {{0, 0, 16, 16, 10, 1}, {16, 0, 32, 16, 10, 0}};
  KivTask* cells = Within([&] { return KivAnimation(s, 1, 10); });
  KivTask* ex = Within([&] { return KivAnimationEx(s, table); });
  KivTask* early = Within([&] { return KivAnimation(t, 1, 10); });  // released before its first run
  ASSERT_TRUE(cells && ex && early);
  FrameAt(1000);
  ASSERT_EQ(KivSpriteRelease(list, s), 1);
  ASSERT_EQ(KivSpriteRelease(list, t), 1);
  for (uint32_t at = 1010; at < 1100; at += 10) FrameAt(at);
  EXPECT_EQ(static_cast<KivAnimationState*>(KivTaskGetTaskData(cells))->sprite, nullptr);
  EXPECT_EQ(static_cast<KivAnimationExState*>(KivTaskGetTaskData(ex))->sprite, nullptr);
  EXPECT_EQ(KivAnimationReset(cells), 1);
  EXPECT_EQ(KivAnimationResetEx(ex, table), 1);
  FrameAt(1200);
  EXPECT_EQ(KivAnimationRelease(cells), 1);
  EXPECT_EQ(KivAnimationRelease(ex), 1);
  EXPECT_EQ(KivAnimationRelease(early), 1);
  FrameAt(1300);
}

}  // namespace

namespace {

TEST_F(AnimationTest, CreateAndReleaseCyclesKeepTheLiveCount) {
  KivSprite* s = FromImage(Strip(64, 16));
  ASSERT_NE(s, nullptr);
  const KivAnimationExFrame table[] = {{0, 0, 16, 16, 10, 0}};
  FrameAt(1000);
  const int memory = KivMemoryLive();
  const int tasks = g_kiv->tasks.live;
  for (int round = 0; round < 40; ++round) {
    KivTask* a = Within([&] { return KivAnimation(s, 1 + round % 2, 10); });
    KivTask* b = Within([&] { return KivAnimationEx(s, table); });
    ASSERT_TRUE(a && b);
    FrameAt(1001 + static_cast<uint32_t>(round) * 20);
    ASSERT_EQ(KivAnimationRelease(a), 1);
    ASSERT_EQ(KivAnimationRelease(b), 1);
    FrameAt(1011 + static_cast<uint32_t>(round) * 20);
  }
  EXPECT_EQ(g_kiv->tasks.live, tasks);
  EXPECT_EQ(KivMemoryLive(), memory);
}

}  // namespace
