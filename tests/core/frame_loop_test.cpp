// Frame pacing and the frame's event bits.
#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "support/release_render_list.h"
#include "platform/window/messages.h"

using namespace kivtest;

TEST(Pacing, SleepForFrameRatePacingAndElapsed) {
  struct Case {
    uint32_t fps;
    int pacing;
    uint32_t elapsed;
    uint32_t sleep;
  } cases[] = {
      {60, 2, 5, 11},          {60, 2, 16, 0},  {60, 2, 17, 1},       {0xFFFFFFFFu, 2, 0, 1},
      {0xFFFFFFFFu, 2, 50, 1}, {60, 0, 0, 1},   {60, 0, 100, 1},      {60, 1, 3, 1},
      {30, 2, 0, 33},          {0, 2, 0, 1},    {60, 2, 0xFFFFFFF0u, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KivPacingSleepMs(c.fps, c.pacing, c.elapsed), c.sleep) << c.fps << " " << c.pacing << " " << c.elapsed;
}

TEST(Pacing, ClockWrapsPast32Bits) {
  plat::UseVirtualClock(true, 0xFFFFFFF8u);
  KivSystemState state;
  state.params.frameRate = 60;
  state.params.pacing = 2;
  g_kiv = &state;
  KivPace();  // first frame: 0 elapsed, sleeps the whole period
  EXPECT_EQ(plat::TimeGetMs(), 0xFFFFFFF8u + 16u);  // wrapped to 8
  EXPECT_EQ(plat::TimeGetMs(), 8u);
  plat::AdvanceVirtualClock(5);
  KivPace();  // 5 ms of work across the wrap: sleeps 11
  EXPECT_EQ(plat::TimeGetMs(), 24u);
  plat::AdvanceVirtualClock(40);
  KivPace();  // late: 1 ms, no catch-up
  EXPECT_EQ(plat::TimeGetMs(), 65u);
  g_kiv = nullptr;
  plat::UseVirtualClock(false);
}

namespace {

struct EventCase {
  uint32_t message;
  uintptr_t wParam;
  int event;  // expected event word next frame
  int wheel;  // expected wheel next frame
};

std::vector<EventCase> g_cases;
std::vector<std::pair<int, int>> g_seen;  // (event, wheel) per frame
int g_frame = 0;

class EventBitsTest : public EngineTest {};

}  // namespace

TEST_F(EventBitsTest, WindowInputShowsInTheNextFrameOnly) {
  g_cases = {
      {plat::kMsgLButtonDblClk, 0, 1, 0},
      {plat::kMsgRButtonDblClk, 0, 2, 0},
      {plat::kMsgMButtonDblClk, 0, 4, 0},
      {plat::kMsgSysKeyDown, plat::kVkReturn, 8, 0},
      {plat::kMsgNcLButtonDblClk, 0, 8, 0},
      {plat::kMsgSysCommand, plat::kScMaximize, 8, 0},
      {plat::kMsgSize, plat::kSizeMaximized, 8, 0},
      {plat::kMsgMouseWheel, static_cast<uintptr_t>(static_cast<uint32_t>(-120) << 16), 0, 1},
      {plat::kMsgMouseWheel, static_cast<uintptr_t>(120u << 16), 0, -1},
  };
  g_seen.clear();
  g_frame = 0;
  g_start = [] { return KivTaskCreate(TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr; };
  // Frame 3k sends case k; frames 3k, 3k+1, 3k+2 record what they see.
  g_task = [](void*) {
    g_seen.emplace_back(KivInputGetKeyEx(), KivInputGetWheel());
    int f = g_frame++;
    if (f % 3 == 0 && f / 3 < static_cast<int>(g_cases.size())) {
      const EventCase& c = g_cases[f / 3];
      static_cast<plat::Window*>(KivGetWindowHandle())->Send(c.message, c.wParam, 0);
    }
    if (f / 3 == static_cast<int>(g_cases.size())) KivEnd();
    return 1;
  };
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivRun(), 0);
  for (size_t k = 0; k < g_cases.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "case " << k);
    EXPECT_EQ(g_seen[3 * k], std::make_pair(0, 0)) << "not in the frame that sent it";
    EXPECT_EQ(g_seen[3 * k + 1], std::make_pair(g_cases[k].event, g_cases[k].wheel));
    EXPECT_EQ(g_seen[3 * k + 2], std::make_pair(0, 0)) << "gone one frame later";
  }
}

TEST_F(EventBitsTest, FrameRateZeroIsRefused) {
  ASSERT_EQ(KivInit(&params), 1);
  KivFrameRateSet(30);
  KivFrameRateSet(0);
  KivSystemParameters p;
  KivGetSystemParameters(&p);
  EXPECT_EQ(p.frameRate, 30u);
  params.frameRate = 0;
  KivUninit();
  ASSERT_EQ(KivInit(&params), 1);
  KivGetSystemParameters(&p);
  EXPECT_NE(p.frameRate, 0u);
}

TEST_F(EventBitsTest, InactiveWindowRunsNoTasksButKeepsDrawing) {
  static int task_frames = 0;
  static std::atomic<bool> deactivated{false};
  static std::atomic<int> presents_then{0};
  task_frames = 0;
  deactivated = false;
  params.mode &= ~KIV_MODE_RUN_INACTIVE;
  // A cross-fade of a minute moves on its own, with no task to move it, so
  // every frame shows something new and is drawn and presented.
  static KivTransition* fade = nullptr;
  g_start = []() -> int {
    KivRenderList* list = KivRenderInit();
    KivRenderSetActive(list);
    fade = KivSpriteCreateTransitionHandle();
    KivSprite* in = KivSpriteCreate(list, 8, 8, 0);
    KivSprite* out = KivSpriteCreate(list, 8, 8, 0);
    if (!fade || !in || !out) return 0;
    KivSpritePaint(in, 0xFFFFFFFFu);
    KivSpriteSetTransition(list, in, out, 1, KivtimeGetTime(), 60000, fade);
    return KivTaskCreate(TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr;
  };
  g_task = [](void*) {
    ++task_frames;
    if (task_frames == 1) {
      auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
      w->Send(plat::kMsgActivate, 0, 0);  // the window loses activation
      presents_then = w->backend()->PresentCount();
      deactivated = true;
    }
    if (task_frames == 2) KivEnd();
    return 1;
  };
  ASSERT_EQ(KivInit(&params), 1);
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  std::thread activator([w] {
    while (!deactivated) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Frames go on being drawn while no task runs; then activate again.
    while (w->backend()->PresentCount() < presents_then + 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    w->Post(plat::kMsgActivate, 1, 0);
  });
  EXPECT_EQ(KivRun(), 0);
  activator.join();
  EXPECT_EQ(task_frames, 2);
  KivRenderList* list = KivRenderGetActive();
  KivSpriteCancelTransition(fade);
  kivtest::ReleaseRenderList(list);
  KivSpriteReleaseTransitionHandle(fade);
}
