// Start-up: the renderer set-up record, each start-up step failing in turn,
// the GPU fallback, and the window's placement.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "platform/window/display.h"
#include "platform/window/messages.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "platform/core/file.h"
#include "platform/core/module.h"

using namespace kivtest;

TEST(RendererSetup, ModeBitsMapToOptionsAndFilters) {
  struct Case {
    uint32_t mode;
    int pacing;
    uint32_t options;
    int fullScreenFilter;
    int textureFilter;
  } cases[] = {
      {0x441B, 2, 0x1 | 0x4, 2, 2},
      {0x441B, 1, 0x1 | 0x2 | 0x4, 2, 2},
      {0x2, 2, 0x1, 2, 2},
      {0x800 | 0x200, 2, 0, 3, 0},
      {0x6000, 2, 0, 0, 2},
      {0x2000, 2, 0, 0, 1},
      {0x100 | 0x1000 | 0x2, 2, 0x1, 2, 2},
      {0, 2, 0, 0, 0},
  };
  for (const Case& c : cases) {
    KivSystemParameters p{};
    p.mode = c.mode;
    p.pacing = c.pacing;
    p.aspect = 3;
    p.adapter = 1;
    KivRendererSetup r = KivRendererSetupFrom(p, nullptr);
    EXPECT_EQ(r.options, c.options) << std::hex << c.mode;
    EXPECT_EQ(r.fullScreenFilter, c.fullScreenFilter) << std::hex << c.mode;
    EXPECT_EQ(r.textureFilter, c.textureFilter) << std::hex << c.mode;
    EXPECT_EQ(r.aspect, 3);
    EXPECT_EQ(r.adapter, 1);
  }
}

TEST(DefaultParameters, MatchTheDocumentedDefaults) {
  plat::UseHeadless(true);
  plat::SetHeadlessMonitors({plat::Rect{0, 0, 1920, 1080}});
  KivSystemParameters p;
  KivDefaultCreate(&p);
  EXPECT_STREQ(p.title, "WindowTitle");
  EXPECT_STREQ(p.className, "CLASS");
  EXPECT_EQ(p.style, 0x02CB0000u);
  EXPECT_EQ(p.frameRate, 60u);
  EXPECT_EQ(p.x, (1920 - 960) >> 1);
  EXPECT_EQ(p.y, (1080 - 600) >> 1);
  EXPECT_EQ(p.clientWidth, 960);
  EXPECT_EQ(p.clientHeight, 600);
  EXPECT_EQ(p.surfaceCapacity, 200);
  EXPECT_EQ(p.reserved, 500);
  EXPECT_EQ(p.randomTableSize, 2000);
  EXPECT_EQ(p.mode, 0x441Bu);
  EXPECT_EQ(p.pacing, 2);
  EXPECT_EQ(p.aspect, 1);
  EXPECT_EQ(p.startCallback, nullptr);
}

class StartUpTest : public EngineTest {};

TEST_F(StartUpTest, EachFailingStepShowsItsBoxAndFails) {
  struct Case {
    KivFault fault;
    uint32_t mode;
    const char* text;  // nullptr: no box
    const char* caption;
  } cases[] = {
      {KivFault::kWindow, 0, "システムの初期化時に問題が生じました。", "警告"},
      {KivFault::kRecord, 0, nullptr, nullptr},
      {KivFault::kLoadBuffer, 0, "メモリ確保に失敗。\n0x00", "initialize error"},
      {KivFault::kSoftScreen, KIV_MODE_GPU, "システムの初期化に失敗。\n0x01", "initialize error"},
      {KivFault::kSoftScreen, 0, "システムの初期化に失敗。\n0x02", "initialize error"},
      {KivFault::kSoftSurfaces, 0, "システムの初期化に失敗。\n0x05", "initialize error"},
      {KivFault::kEffects, 0, "エフェクトの初期化に失敗。\n0x07", "initialize error"},
      {KivFault::kInput, 0, "入力処理の初期化に失敗。\n0x03", "initialize error"},
      {KivFault::kTaskPool, 0, "システムの初期化に失敗。\n0x06", "initialize error"},
      {KivFault::kSound, 0, "サウンドの初期化に失敗\nスピーカー等の再生環境を確認してください。\n0x09",
       "initialize error"},
      {KivFault::kRandom, 0, "システムの初期化に失敗。\n0x0A", "initialize error"},
  };
  for (const Case& c : cases) {
    plat::HeadlessBoxReset();
    KivFaultSet(static_cast<uint32_t>(c.fault));
    KivSystemParameters p = params;
    p.mode = (p.mode & ~KIV_MODE_GPU) | c.mode;
    EXPECT_EQ(KivInit(&p), 0) << c.text;
    EXPECT_EQ(g_kiv, nullptr) << "a failed start-up leaves no engine behind";
    auto boxes = plat::HeadlessBoxLog();
    if (!c.text) {
      EXPECT_TRUE(boxes.empty());
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u) << c.text;
    EXPECT_EQ(boxes[0].text, Sj(c.text));
    EXPECT_EQ(boxes[0].caption, Sj(c.caption));
  }
  // After all of that, a clean start still works.
  KivFaultSet(0);
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivUninit(), 1);
}

TEST_F(StartUpTest, MissingStartCallbackIsRefused) {
  params.startCallback = nullptr;
  EXPECT_EQ(KivInit(&params), 0);
  auto boxes = plat::HeadlessBoxLog();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "first func error");
  EXPECT_EQ(boxes[0].caption, "initialize error");
  EXPECT_EQ(KivInit(nullptr), 0);
}

TEST_F(StartUpTest, ThreadCreationFailureEndsRunWithItsBox) {
  struct Case {
    KivFault fault;
    const char* text;
  } cases[] = {
      {KivFault::kWorkerThread, "スレッドの作成に失敗しました。[0x0A]"},
      {KivFault::kGameThread, "スレッドの作成に失敗しました。[0x0B]"},
  };
  for (const Case& c : cases) {
    plat::HeadlessBoxReset();
    ASSERT_EQ(KivInit(&params), 1);
    KivFaultSet(static_cast<uint32_t>(c.fault));
    EXPECT_EQ(KivRun(), -1);
    KivFaultSet(0);
    auto boxes = plat::HeadlessBoxLog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Sj(c.text));
    EXPECT_EQ(boxes[0].caption, Sj("実行エラー"));
    EXPECT_EQ(KivUninit(), 1);  // stops the worker that did start
    EXPECT_EQ(g_end_calls.load(), 0);
  }
}

TEST_F(StartUpTest, NoGpuFallsBackToSoftwareWithWarning) {
  params.mode = 0x441B;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(Kiv3DIs(), 0);
  KivSystemParameters copy;
  KivGetSystemParameters(&copy);
  EXPECT_EQ(copy.mode, 0x441Bu & ~KIV_MODE_GPU);
  EXPECT_EQ(params.mode, 0x441Bu) << "the host's own record keeps the bit";
  EXPECT_NE(KivGetCore(), nullptr);
  auto boxes = plat::HeadlessBoxLog();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, Sj("警告"));
  EXPECT_NE(boxes[0].text.find(Sj("DIB モードで起動")), std::string::npos);
  EXPECT_EQ(boxes[0].type, plat::kMbOk | plat::kMbIconWarning);
}

TEST_F(StartUpTest, HiddenFlagLeavesWindowHidden) {
  params.flags = KIV_FLAG_HIDDEN;
  ASSERT_EQ(KivInit(&params), 1);
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  EXPECT_FALSE(w->backend()->Visible());
  KivUninit();
  params.flags = 0;
  ASSERT_EQ(KivInit(&params), 1);
  w = static_cast<plat::Window*>(KivGetWindowHandle());
  EXPECT_TRUE(w->backend()->Visible());
}

// The window as the window system gets it: its frame from the style bits,
// the screen saver from mode bit 0x4, and the icon picture from the
// program's folder (the one named, or icon.png for a numbered icon).
TEST_F(StartUpTest, StyleScreenSaverAndIconReachTheWindow) {
  const std::string folder = plat::FolderOf(plat::ModuleFileName(nullptr));
  const std::string name = "icon_test_" + std::to_string(::getpid()) + ".png";
  std::vector<uint32_t> icon(24 * 16);
  for (size_t i = 0; i < icon.size(); ++i) icon[i] = 0xFF000000u | static_cast<uint32_t>(i * 977);
  ASSERT_TRUE(plat::CapturePng(folder + "/" + name, icon.data(), 24, 16, 24));
  const struct {
    uint32_t style, mode;
    const char* icon;
    bool decorated, resizable, screenSaver, hasIcon;
  } kCases[] = {
      {0x02CB0000u, 0x441B, name.c_str(), true, false, false, true},   // the default: caption, fixed size
      {0x02CF0000u, 0x441F, name.c_str(), true, true, true, true},     // a sizing frame; screen saver allowed
      {0x80000000u, 0x0004, nullptr, false, false, true, false},       // a bare pop-up, no icon
      {0x80C00000u, 0x0000, "missing.png", true, false, false, false}, // a pop-up with a caption
      {0x00000000u, 0x0000, "", true, false, false, false},            // overlapped: always a caption
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.style << " " << c.mode);
    params.style = c.style;
    params.mode = c.mode;
    params.icon = c.icon;
    ASSERT_EQ(KivInit(&params), 1);
    plat::WindowBackend* b = static_cast<plat::Window*>(KivGetWindowHandle())->backend();
    EXPECT_EQ(b->Decorated(), c.decorated);
    EXPECT_EQ(b->Resizable(), c.resizable);
    EXPECT_EQ(b->ScreenSaverAllowed(), c.screenSaver);
    const plat::Frame f = b->Icon();
    if (c.hasIcon) {
      EXPECT_EQ(f.width, 24);
      EXPECT_EQ(f.height, 16);
      EXPECT_EQ(f.pixels, icon);
    } else {
      EXPECT_TRUE(f.pixels.empty());
    }
    KivUninit();
  }
  ::unlink((folder + "/" + name).c_str());
}

TEST_F(StartUpTest, OffScreenPositionIsCentredInCallersRecord) {
  plat::SetHeadlessMonitors({plat::Rect{0, 0, 1920, 1080}});
  params.x = 5000;
  params.y = -3000;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(params.x, (1920 - 320) >> 1);
  EXPECT_EQ(params.y, (1080 - 180) >> 1);
  KivUninit();
  params.x = 100;
  params.y = 50;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(params.x, 100);
  EXPECT_EQ(params.y, 50);
}

TEST_F(StartUpTest, GettersReflectTheEngineCopy) {
  params.cmdLine = "/DIB";
  params.debug = 0;
  params.aspect = 2;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_STREQ(KivGetCmdLine(), "/DIB");
  EXPECT_EQ(KivDebugIs(), 0);
  EXPECT_EQ(KivCheckAspectMode(), 2);
  EXPECT_EQ(KivCheckWindowMode(), 0);
  EXPECT_EQ(IsMovie(), 0);
  EXPECT_NE(KivGetFilePath(), nullptr);
  EXPECT_GT(std::strlen(KivGetFilePath()), 0u);
  EXPECT_NE(KivGetFilePath()[std::strlen(KivGetFilePath()) - 1], '/');
  EXPECT_EQ(KivUninit(), 1);
  EXPECT_EQ(KivUninit(), 0) << "no record left";
}
