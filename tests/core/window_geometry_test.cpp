// Window geometry: monitor lookup and the off-screen test on an injected
// display list, the game's home display, setting.ini, the move follow-up,
// and the mode, size and aspect requests carried through the running
// engine (what the game thread lets through, what the window thread
// applies, and what a failed renderer reset leaves behind).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/engine_fixture.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/window/display.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"

using namespace kivtest;

namespace {

// A primary monitor, one to its left (negative x) and one to its right
// standing higher (negative y); the corners between them are gaps.
const std::vector<plat::Rect> kThreeMonitors = {
    {0, 0, 1920, 1200}, {-1280, 0, 0, 1024}, {1920, -200, 3200, 824}};

class MonitorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::UseHeadless(true);
    plat::SetHeadlessMonitors(kThreeMonitors);
  }
  void TearDown() override { plat::SetHeadlessMonitors({{0, 0, 1920, 1080}}); }
};

TEST_F(MonitorsTest, LookupFindsTheMonitorHoldingThePointElseTheNearest) {
  struct Case {
    plat::Point p;
    int index;
  } cases[] = {
      {{960, 600}, 0},     {{0, 0}, 0},         {{1919, 1199}, 0},  // inside the primary, edges included
      {{-1, 0}, 1},        {{-1280, 1023}, 1},                       // the left monitor
      {{1920, -200}, 2},   {{3199, 823}, 2},                         // the right one
      {{-640, 1100}, 1},   {{2500, 1000}, 2},   {{1900, 1500}, 0},   // gaps: the nearest
      {{-9000, 500}, 1},   {{9000, -9000}, 2},
  };
  for (const Case& c : cases) {
    plat::Rect r{1, 2, 3, 4};
    EXPECT_EQ(KivGetMonitorRect(c.p, &r), c.index) << c.p.x << "," << c.p.y;
    EXPECT_EQ(r, kThreeMonitors[static_cast<size_t>(c.index)]) << c.p.x << "," << c.p.y;
  }
  EXPECT_EQ(KivGetMonitorRect(plat::Point{-5, 5}, nullptr), 1);
}

TEST_F(MonitorsTest, OffScreenIsJudgedAgainstTheUnionOfTheMonitors) {
  struct Case {
    int x, y;
    bool off;
  } cases[] = {
      {480, 300, false},   {-100, 10, false},   // left of the primary, on the left monitor
      {2000, -100, false}, {3199, 823, false},  // above the primary, on the right monitor
      {-100, 1100, true},  {2000, 900, true},   // gaps of the layout
      {3200, 0, true},     {0, 1200, true},     // just past an edge
      {-1281, 10, true},   {100, -1, true},
  };
  for (const Case& c : cases) EXPECT_EQ(KivPositionOffScreen(c.x, c.y), c.off) << c.x << "," << c.y;
}

TEST_F(MonitorsTest, HomeDisplayIsTheAdapterEntryOfTheDisplayList) {
  EXPECT_EQ(KivHomeDisplay(0), kThreeMonitors[0]);
  EXPECT_EQ(KivHomeDisplay(2), kThreeMonitors[2]);
  EXPECT_EQ(KivHomeDisplay(3), kThreeMonitors[0]) << "no such display: the primary";
  EXPECT_EQ(KivHomeDisplay(-1), kThreeMonitors[0]);
  int x = 0, y = 0;
  KivCentreOnDisplay(kThreeMonitors[1], 640, 360, &x, &y);
  EXPECT_EQ(x, -1280 + 320);
  EXPECT_EQ(y, 332);
}

// ---------------------------------------------------------------- the engine

class WindowGeometryTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    plat::SetHeadlessMonitors(kThreeMonitors);
  }
  void TearDown() override {
    EngineTest::TearDown();
    plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
  }
  plat::Window* Window() { return static_cast<plat::Window*>(KivGetWindowHandle()); }
};

TEST_F(WindowGeometryTest, OffScreenStartIsCentredOnTheAdapterDisplay) {
  struct Case {
    int x, y, adapter;
    int wantX, wantY;
  } cases[] = {
      {-2000, 10, 1, -1280 + 480, 422},  // off screen: centred on display 1
      {-2000, 10, 9, 800, 510},          // no display 9: the primary
      {-100, 10, 2, -100, 10},           // on the left monitor: kept
  };
  for (const Case& c : cases) {
    params.x = c.x;
    params.y = c.y;
    params.adapter = c.adapter;
    ASSERT_EQ(KivInit(&params), 1);
    int x = 0, y = 0;
    KivWindowGetPos(&x, &y);
    EXPECT_EQ(x, c.wantX) << c.x << " adapter " << c.adapter;
    EXPECT_EQ(y, c.wantY) << c.x << " adapter " << c.adapter;
    EXPECT_EQ(Window()->backend()->OuterRect().left, c.wantX);
    int centre[2] = {};
    ASSERT_EQ(KivWindowGetPosCenter(centre, 320, 180), 1);
    plat::Rect home = KivHomeDisplay(c.adapter);
    EXPECT_EQ(centre[0], home.left + ((home.width() - 320) >> 1));
    EXPECT_EQ(centre[1], home.top + ((home.height() - 180) >> 1));
    KivUninit();
  }
  EXPECT_EQ(KivWindowGetPosCenter(nullptr, 1, 1), 0);
}

TEST_F(WindowGeometryTest, SizeAndPositionQueriesAndTheMoveFollowUp) {
  ASSERT_EQ(KivInit(&params), 1);
  int w = 0, h = 0;
  EXPECT_EQ(KivGetWindowSize(&w, &h), 1);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 180);
  EXPECT_EQ(KivGetWindowSize(nullptr, &h), 1);
  EXPECT_EQ(KivGetWindowSize(nullptr, nullptr), 0);
  EXPECT_EQ(KivWindowSetPos(-700, 50), 1);
  EXPECT_EQ(Window()->backend()->OuterRect().left, -700);
  int x = 0, y = 0;
  KivWindowGetPos(&x, &y);
  EXPECT_EQ(x, -700);
  EXPECT_EQ(y, 50);
  KivWindowGetPos(nullptr, &y);
  // A move message stores its position, then the follow-up takes the
  // window rectangle's corner; while minimised the follow-up is skipped.
  Window()->backend()->Move(100, 120);
  Window()->CallProc(plat::kMsgMove, 0, plat::MakeLParam(7, 9));
  KivWindowGetPos(&x, &y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 120);
  g_kiv->minimised.store(1);
  Window()->CallProc(plat::kMsgMove, 0, plat::MakeLParam(-32000, -32000));
  KivWindowGetPos(&x, &y);
  EXPECT_EQ(x, -32000);
  EXPECT_EQ(KivWindowChangeEnableIs(), 1) << "on after start-up";
  EXPECT_EQ(KivWindowChangeEnable(0), 1);
  EXPECT_EQ(KivWindowChangeEnableIs(), 0);
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST_F(WindowGeometryTest, SettingIniPlacesTheWindowInDebugModeAndIsWrittenAtTheEnd) {
  params.debug = 1;
  ASSERT_EQ(KivInit(&params), 1);  // to learn the base folder
  const std::string ini = plat::NativePath(std::string(KivGetFilePath()) + "\\setting.ini");
  KivUninit();
  struct Case {
    const char* text;
    int x, y;
  } cases[] = {
      {"[MainWindow]\nx=-5\ny=40\n", -5, 40},       // on the left monitor: kept
      {"[MainWindow]\nx=-5\ny=1100\n", 0, 1100},    // in the gap below it: onto the primary
      {"[MainWindow]\nx=-9000\ny=-50\n", -1280, 0}, // far off: the nearest monitor's corner
      {"[mainwindow]\n x = 300 \n", 300, -1},       // y missing: the start-up value
  };
  for (const Case& c : cases) {
    {
      std::ofstream(ini) << c.text;
    }
    params.x = 480;
    params.y = 300;
    ASSERT_EQ(KivInit(&params), 1);
    int x = 0, y = 0;
    KivWindowGetPos(&x, &y);
    EXPECT_EQ(x, c.x) << c.text;
    EXPECT_EQ(y, c.y < 0 ? 300 : c.y) << c.text;
    EXPECT_EQ(Window()->backend()->OuterRect().left, x);
    // The end request writes the position back.
    KivWindowSetPos(-640, 77);
    Window()->CallProc(plat::kMsgApp + 0x69, 0, 0);
    KivUninit();
    const std::string text = ReadText(ini);
    EXPECT_NE(text.find("x=-640"), std::string::npos) << text;
    EXPECT_NE(text.find("y=77"), std::string::npos) << text;
  }
  // Outside debug mode the file is neither read nor written.
  { std::ofstream(ini) << "[MainWindow]\nx=10\ny=20\n"; }
  params.debug = 0;
  params.x = 480;
  ASSERT_EQ(KivInit(&params), 1);
  int x = 0;
  KivWindowGetPos(&x, nullptr);
  EXPECT_EQ(x, 480);
  KivWindowSetPos(5, 5);
  Window()->CallProc(plat::kMsgApp + 0x69, 0, 0);
  KivUninit();
  EXPECT_EQ(ReadText(ini), "[MainWindow]\nx=10\ny=20\n");
  std::remove(ini.c_str());
  // A missing file leaves the start-up position.
  params.debug = 1;
  ASSERT_EQ(KivInit(&params), 1);
  KivWindowGetPos(&x, nullptr);
  EXPECT_EQ(x, 480);
  KivUninit();
  std::remove(ini.c_str());
}

// ---------------------------------------------------------------- requests through the running engine

// One step per frame: the step's request is made in frame k and its effect
// checked in frame k + 1 (the game thread carries it to the window at the
// end of frame k).
std::vector<std::function<void()>> g_steps;
int g_step = 0;

int RunSteps(void*) {
  if (g_step < static_cast<int>(g_steps.size())) g_steps[static_cast<size_t>(g_step)]();
  if (++g_step >= static_cast<int>(g_steps.size())) KivEnd();
  return 1;
}

// Counts the apply messages the window receives, and those that came while
// the worker was held and the render list locked (the observer sees each
// message right after the window procedure, while the sender still waits).
std::atomic<int> g_applied{0}, g_appliedHeld{0};
KivRenderList* g_list = nullptr;

void ObserveApply(void*, plat::Window*, uint32_t message, uintptr_t, intptr_t) {
  if (message != plat::kMsgApp + 0x66 && message != plat::kMsgApp + 0x6B && message != plat::kMsgApp + 0x6C) return;
  ++g_applied;
  KivRenderList* list = g_kiv->activeList.load();
  if (g_kiv->workerHeld.load() && list && list->lockFlag.load() &&
      list->owner.load() == g_kiv->gameThreadId.load())
    ++g_appliedHeld;
}

void RunEngine(KivSystemParameters* params) {
  g_step = 0;
  g_applied = 0;
  g_appliedHeld = 0;
  g_start = [] {
    g_list = KivRenderInit();
    KivRenderSetActive(g_list);
    return KivTaskCreate(RunSteps, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "steps") != nullptr;
  };
  g_end = [](void*) {
    KivRenderSetActive(nullptr);
    KivRenderUninit(g_list);
  };
  ASSERT_EQ(KivInit(params), 1);
  static_cast<plat::Window*>(KivGetWindowHandle())->SetObserver(ObserveApply, nullptr);
  EXPECT_EQ(KivRun(), 0);
}

KivSystemParameters Current() {
  KivSystemParameters p;
  KivGetSystemParameters(&p);
  return p;
}

TEST_F(WindowGeometryTest, ModeSizeAndAspectRequestsAreGatedAndApplied) {
  params.aspect = 1;
  params.x = 480;
  params.y = 300;
  static plat::WindowBackend* b;
  b = nullptr;
  g_steps = {
      [] {
        b = static_cast<plat::Window*>(KivGetWindowHandle())->backend();
        KivWindowChangeEnable(0);
        EXPECT_EQ(KivWindowChangeMode(1), 1);
      },
      [] {
        EXPECT_EQ(Current().fullScreen, 0) << "ignored while changes are off";
        EXPECT_FALSE(b->FullScreen());
        KivWindowChangeEnable(1);
        EXPECT_EQ(KivWindowChangeMode(1), 1);
      },
      [] {
        EXPECT_EQ(Current().fullScreen, 1);
        EXPECT_EQ(KivCheckWindowMode(), 1);
        EXPECT_TRUE(b->FullScreen());
        EXPECT_EQ(b->ClientRectOnScreen(), kThreeMonitors[0]) << "covers the monitor holding the window";
        // Mode 1 of a 320 x 180 screen on 1920 x 1200: bars above and below.
        EXPECT_EQ(g_kiv->view, (plat::Rect{0, 60, 1920, 1140}));
        EXPECT_EQ(KivChangeWindowSize(800, 450), 1) << "nothing to do in full screen";
        EXPECT_EQ(KivChangeAspectMode(4), 0) << "refused before anything is stored";
        EXPECT_EQ(KivChangeAspectMode(-1), 0);
        EXPECT_EQ(KivChangeAspectMode(3), 1);
      },
      [] {
        EXPECT_EQ(Current().clientWidth, 320);
        EXPECT_EQ(Current().aspect, 3);
        EXPECT_EQ(KivCheckAspectMode(), 3);
        EXPECT_EQ(g_kiv->soft->aspect, 3);
        // Mode 3 fills the monitor and cuts the sides (here 1020 / 9 rounds up
        // in single precision, so the bottom is the full 1200).
        EXPECT_EQ(g_kiv->view, (plat::Rect{-107, 0, 2026, 1200}));
        EXPECT_EQ(KivWindowChangeMode(1), 1);  // the current mode: nothing
      },
      [] {
        EXPECT_TRUE(b->FullScreen());
        EXPECT_EQ(KivWindowChangeMode(0), 1);
      },
      [] {
        EXPECT_EQ(Current().fullScreen, 0);
        EXPECT_FALSE(b->FullScreen());
        EXPECT_EQ(b->OuterRect(), (plat::Rect{480, 300, 800, 480})) << "back where it was";
        EXPECT_EQ(g_kiv->view, (plat::Rect{0, 0, 320, 180}));
        EXPECT_EQ(KivChangeWindowSize(800, 450), 1);
      },
      [] {
        EXPECT_EQ(Current().clientWidth, 800);
        EXPECT_EQ(Current().clientHeight, 450);
        EXPECT_EQ(b->ClientRectOnScreen(), (plat::Rect{480, 300, 1280, 750}));
        EXPECT_EQ(g_kiv->view, (plat::Rect{0, 0, 800, 450}));
      },
  };
  RunEngine(&params);
  EXPECT_EQ(g_step, static_cast<int>(g_steps.size()));
  // Two mode changes, the repeated mode (sent on, then found unchanged), the
  // aspect and the size: each applied with the worker held and the list locked.
  EXPECT_EQ(g_applied.load(), 5);
  EXPECT_EQ(g_appliedHeld.load(), 5);
  KivSystemParameters p = Current();
  EXPECT_EQ(p.aspect, 3);
  EXPECT_EQ(p.clientWidth, 800);
  // The game thread is gone: requests fail at once instead of waiting.
  EXPECT_EQ(KivWindowChangeMode(1), 0);
  EXPECT_EQ(KivChangeAspectMode(1), 0);
  EXPECT_EQ(KivChangeWindowSize(640, 360), 0);
  EXPECT_TRUE(plat::HeadlessBoxLog().empty());
}

TEST_F(WindowGeometryTest, NoModeChangeFlagRefusesEveryScreenModeChange) {
  params.flags |= KIV_FLAG_NO_MODE_CHANGE;
  g_steps = {
      [] { EXPECT_EQ(KivWindowChangeMode(1), 1); },
      [] {
        EXPECT_EQ(Current().fullScreen, 0);
        EXPECT_FALSE(static_cast<plat::Window*>(KivGetWindowHandle())->backend()->FullScreen());
      },
  };
  RunEngine(&params);
  KivUninit();
  // A host asking for full screen at start-up is held to the flag as well.
  params.fullScreen = 1;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivCheckWindowMode(), 0);
  EXPECT_FALSE(Window()->backend()->FullScreen());
}

TEST_F(WindowGeometryTest, FullScreenAtStartUpIsShown) {
  params.fullScreen = 1;
  params.x = -700;  // on the left monitor
  params.y = 100;
  params.aspect = 2;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivCheckWindowMode(), 1);
  EXPECT_TRUE(Window()->backend()->FullScreen());
  EXPECT_EQ(Window()->backend()->ClientRectOnScreen(), kThreeMonitors[1]);
  EXPECT_EQ(g_kiv->soft->monitorIndex, 1);
  EXPECT_EQ(g_kiv->view, (plat::Rect{480, 422, 800, 602}));
}

TEST_F(WindowGeometryTest, FailedResetKeepsTheOldSizeAndAFailedAspectChangeEndsTheEngine) {
  g_steps = {
      [] {
        KivFaultSet(static_cast<uint32_t>(KivFault::kRendererReset));
        EXPECT_EQ(KivChangeWindowSize(800, 450), 1);
      },
      [] {
        KivSystemParameters p = Current();
        EXPECT_EQ(p.clientWidth, 320) << "the engine's copy (and so config.dat) keeps what is shown";
        EXPECT_EQ(p.clientHeight, 180);
        EXPECT_EQ(static_cast<plat::Window*>(KivGetWindowHandle())->backend()->ClientRectOnScreen().width(), 320);
        EXPECT_EQ(KivChangeAspectMode(2), 1);
      },
  };
  // Frames to spare: the end comes from the window thread a little later.
  g_steps.resize(2000, [] {});
  RunEngine(&params);
  KivFaultSet(0);
  EXPECT_LT(g_step, 2000) << "the failed aspect change ends the engine";
  EXPECT_EQ(Current().aspect, 1);
  EXPECT_EQ(g_kiv->soft->aspect, 1);
  auto boxes = plat::HeadlessBoxLog();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, Sj("ウインドウサイズの変更に失敗しました。\n[80004005]"));
  EXPECT_EQ(boxes[0].caption, "Test");
  EXPECT_EQ(boxes[1].text, Sj("アスペクト処理の変更に失敗しました。\n[80004005]"));
}

TEST_F(WindowGeometryTest, ApplyRoutinesCheckBeforeStoring) {
  ASSERT_EQ(KivInit(&params), 1);
  std::string out;
  plat::SetDebugOutputSink([&](std::string_view s) { out.append(s); });
  EXPECT_EQ(KivApplyAspectMode(7), 1) << "logged and refused; the engine goes on";
  EXPECT_EQ(KivApplyWindowSize(0, 450), 1);
  EXPECT_EQ(KivApplyWindowSize(800, 100000), 1);
  plat::SetDebugOutputSink(nullptr);
  EXPECT_NE(out.find("SetAspectRect : Invalid Prameter"), std::string::npos);
  KivSystemParameters p = Current();
  EXPECT_EQ(p.aspect, 1);
  EXPECT_EQ(g_kiv->soft->aspect, 1);
  EXPECT_EQ(p.clientWidth, 320);
  EXPECT_EQ(p.clientHeight, 180);
  // Before KivRun there is no game thread to carry a request.
  EXPECT_EQ(KivWindowChangeMode(1), 0);
}

TEST(LibraryVersion, MajorTimesHundredPlusMinorOrWhyNot) {
  EXPECT_EQ(KivLibraryVersion(KIV_VERSION_PROBE), 602);
  EXPECT_EQ(KivLibraryVersion("libc.so.6"), -2) << "no version export";
  EXPECT_EQ(KivLibraryVersion("libkiv_no_such_library.so"), -1);
  EXPECT_EQ(KivLibraryVersion(nullptr), -1);
}

}  // namespace
