// The real SDL window going full screen and back under a virtual X display:
// the full-screen window covers the display it is on, a 4:3 screen in
// aspect mode 1 shows black bars at the sides, and the window gets its old
// rectangle back. The X server's own picture of the screen is taken with
// ImageMagick's import and checked pixel by pixel (and kept as a PNG beside
// the test for people to look at).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/window/display.h"
#include "platform/window/message_box.h"
#include "core/system_state.h"
#include "render/soft_screen.h"

namespace {

constexpr uint32_t kScene = 0xFF3366CCu;

struct Shot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return 0xFF000000u | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  }
};

// Reads a binary PPM (P6, maxval 255).
bool ReadPpm(const std::string& path, Shot* out) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(f >> magic >> out->width >> out->height >> maxval) || magic != "P6" || maxval != 255) return false;
  f.get();
  out->rgb.resize(static_cast<size_t>(out->width) * out->height * 3);
  f.read(reinterpret_cast<char*>(out->rgb.data()), static_cast<std::streamsize>(out->rgb.size()));
  return static_cast<size_t>(f.gcount()) == out->rgb.size();
}

std::atomic<int> g_frame{0};
std::atomic<bool> g_shotWanted{false}, g_shotTaken{false};
int g_shotFrame = -1;
plat::Rect g_fullClient, g_display, g_windowedAfter, g_view;
int g_fullMode = -1, g_windowedMode = -1;
KivRenderList* g_list = nullptr;

int Frames(void*) {
  const int f = g_frame++;
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  if (f == 5) KivWindowChangeMode(1);
  // The X server takes its time to place the window (longer on a busy
  // machine): measure ten frames after full screen has settled on the display.
  static int settled = -1;
  if (f >= 10 && settled < 0 && !g_shotWanted && KivCheckWindowMode() == 1 &&
      w->backend()->ClientRectOnScreen() == g_kiv->soft->monitor && g_kiv->view.right > g_kiv->view.left)
    settled = f;
  if (!g_shotWanted && ((settled >= 0 && f == settled + 10) || f == 1500)) {
    g_fullMode = KivCheckWindowMode();
    g_fullClient = w->backend()->ClientRectOnScreen();
    g_display = g_kiv->soft->monitor;
    g_view = g_kiv->view;
    g_shotWanted = true;
  }
  if (g_shotTaken && g_shotFrame < 0) {
    g_shotFrame = f;
    KivWindowChangeMode(0);
  }
  if (g_shotFrame >= 0 && f == g_shotFrame + 60) {
    g_windowedMode = KivCheckWindowMode();
    g_windowedAfter = w->backend()->OuterRect();
    KivEnd();
  }
  if (f > 2000) KivEnd();  // no screenshot came: give up
  return 1;
}

int Start() {
  g_kiv->clearColour = kScene;
  g_list = KivRenderInit();
  KivRenderSetActive(g_list);
  return KivTaskCreate(Frames, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "frames") != nullptr;
}

void End(void*) {
  KivRenderSetActive(nullptr);
  KivRenderUninit(g_list);
}

TEST(WindowModesSmoke, FullScreenFillsTheDisplayAndModeOneShowsBars) {
  plat::SetWindowBackendKind(plat::Backend::kReal);
  plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  std::vector<plat::Rect> displays = plat::Monitors();
  ASSERT_FALSE(displays.empty());
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.title = "window modes";
  p.clientWidth = p.screenWidth = 640;
  p.clientHeight = p.screenHeight = 480;
  p.x = displays[0].left + 100;
  p.y = displays[0].top + 100;
  p.aspect = 1;
  p.mode &= ~KIV_MODE_GPU;
  p.startCallback = Start;
  p.endCallback = End;
  ASSERT_EQ(KivInit(&p), 1);
  const std::string ppm = std::string(WINDOW_SMOKE_DIR) + "/window_modes_fullscreen.ppm";
  const std::string png = std::string(WINDOW_SMOKE_DIR) + "/window_modes_fullscreen.png";
  std::remove(ppm.c_str());
  std::thread shooter([&] {
    while (!g_shotWanted && g_frame < 2000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (g_shotWanted) {
      // The kept PNG shows the display the window is on.
      const plat::Rect& d = displays[0];
      std::string crop = std::to_string(d.width()) + "x" + std::to_string(d.height()) + "+" +
                         std::to_string(d.left) + "+" + std::to_string(d.top);
      std::string cmd = "import -window root -depth 8 '" + ppm + "' && convert '" + ppm + "' -crop " + crop +
                        " +repage '" + png + "'";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    g_shotTaken = true;
  });
  EXPECT_EQ(KivRun(), 0);
  shooter.join();
  EXPECT_EQ(KivUninit(), 1);

  // Full screen: the window covers the display holding it.
  EXPECT_EQ(g_fullMode, 1);
  EXPECT_EQ(g_display, displays[0]);
  EXPECT_EQ(g_fullClient, displays[0]);
  // A 4:3 screen in mode 1 on the display: the height fills, the sides are bars.
  const int dw = displays[0].width(), dh = displays[0].height();
  const int fitW = dh * 4 / 3;
  const int barW = (dw - fitW) / 2;
  EXPECT_EQ(g_view, (plat::Rect{barW, 0, barW + fitW, dh}));
  // Back to the window where it was.
  EXPECT_EQ(g_windowedMode, 0);
  EXPECT_EQ(g_windowedAfter.width(), 640);
  EXPECT_EQ(g_windowedAfter.height(), 480);

  Shot shot;
  ASSERT_TRUE(ReadPpm(ppm, &shot)) << ppm;
  ASSERT_GE(shot.width, displays[0].right);
  ASSERT_GE(shot.height, displays[0].bottom);
  const int ox = displays[0].left, oy = displays[0].top;
  // Bars: every sampled pixel black (the bare root window is patterned).
  std::vector<int> rows;
  for (int y = 0; y < dh; y += 7) rows.push_back(y);
  rows.push_back(dh - 1);  // the picture reaches the display's bottom row
  for (int y : rows) {
    for (int x : {0, barW / 2, barW - 1, barW + fitW, dw - 1}) {
      if (x < barW || x >= barW + fitW) {
        EXPECT_EQ(shot.At(ox + x, oy + y), 0xFF000000u) << x << "," << y;
      }
    }
    // The picture: the scene colour from edge to edge of the fitted rectangle.
    for (int x : {barW, barW + fitW / 2, barW + fitW - 1})
      EXPECT_EQ(shot.At(ox + x, oy + y), kScene) << x << "," << y;
  }
}

}  // namespace
