// The GPU renderer's screen-mode change and its named texture loads, on the
// headless backend: the device's part on the thread that owns the context,
// the window's part on the window thread, a failing reset that leaves the
// window and the flags as they were, and images loaded through the slot
// table into power-of-two textures (with the box when memory runs out).
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "image_encoder.h"
#include "platform/core/error.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/display.h"
#include "platform/window/messages.h"
#include "platform/window/window.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "support/engine_fixture.h"
#include "support/gpu_fixture.h"
#include "task/render_list.h"

namespace {

using kivtest::Sj;
using kivtools::Image;

Image Gradient(int w, int h) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | static_cast<uint32_t>(40 + x * 180 / w) << 16 |
                                                   static_cast<uint32_t>(200 - y * 150 / h) << 8 |
                                                   static_cast<uint32_t>(90 + (x + y) * 100 / (w + h));
  return img;
}

// Debugger lines written while it lives.
class DebugLines {
 public:
  DebugLines() {
    plat::SetDebugOutputSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~DebugLines() { plat::SetDebugOutputSink(nullptr); }
  int Count(const std::string& line) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const std::string& l : lines_) n += l == line ? 1 : 0;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class GpuModeTest : public kivtest::GpuEngineTest {
 protected:
  void SetUp() override {
    GpuEngineTest::SetUp();
    plat::SetHeadlessMonitors({{0, 0, 640, 480}});
  }
  void TearDown() override {
    GpuEngineTest::TearDown();
    plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
  }
  plat::WindowBackend* Window() { return static_cast<plat::Window*>(g_kiv->window)->backend(); }
};

// ---- Screen mode ----

// A reset that never succeeds: after 10 rounds the change gives up; the
// window stays windowed, the context keeps its old flag and style, and the
// next frame draws as the last one did.
TEST_F(GpuModeTest, AModeChangeWhoseResetKeepsFailingLeavesEverythingAsItWas) {
  ASSERT_TRUE(Start());
  ASSERT_NE(Load(kivtools::EncodeTga(Gradient(320, 180), 32), 100), nullptr);
  ASSERT_EQ(KivRenderFrame(), 1);
  const plat::Frame before = Shown();
  const plat::Rect outer = Window()->OuterRect();
  const uint32_t style = Ctx()->style;
  EXPECT_EQ(style, g_kiv->params.style);

  DebugLines debug;
  plat::gpu::SetFaults(plat::gpu::kGpuResetFails);
  Ctx()->resetAttempts = 0;
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  EXPECT_EQ(Kiv3DChangeWindowMode(0, Ctx(), kKiv3DFullScreenStyle), 0);
  EXPECT_EQ(Ctx()->resetAttempts, 10);
  EXPECT_EQ(debug.Count("ChangeWindowMode Error\n"), 1);
  EXPECT_EQ(debug.Count("change fullscreen mode\n"), 0);
  EXPECT_EQ(Ctx()->windowed, 1);
  EXPECT_EQ(Ctx()->style, style);
  EXPECT_EQ(Ctx()->lost, 0) << "the device itself still works";
  EXPECT_EQ(g_kiv->params.fullScreen, 0);
  EXPECT_FALSE(Window()->FullScreen());
  EXPECT_EQ(Window()->OuterRect(), outer);

  // The game thread's request takes the same way: nothing changes.
  Ctx()->resetAttempts = 0;
  EXPECT_TRUE(Kiv3DScreenModeRequest(1));
  EXPECT_EQ(Ctx()->resetAttempts, 10);
  EXPECT_EQ(g_kiv->params.fullScreen, 0);
  EXPECT_FALSE(Window()->FullScreen());

  ASSERT_EQ(KivRenderFrame(), 1) << "the next frame still draws";
  EXPECT_EQ(Shown().width, before.width);
  EXPECT_EQ(Shown().pixels, before.pixels);
  plat::gpu::SetFaults(0);
}

// Full screen and back through the request's own path: the device is reset
// here, the window placed by the window procedure; full screen scales the
// picture into the aspect rectangle, windowed shows it 1:1 again.
TEST_F(GpuModeTest, FullScreenAndBackOnTheGpu) {
  params.aspect = 1;
  ASSERT_TRUE(Start());
  const Image g = Gradient(320, 180);
  ASSERT_NE(Load(kivtools::EncodeTga(g, 32), 100), nullptr);
  ASSERT_EQ(KivRenderFrame(), 1);
  const plat::Frame windowed = Shown();
  ASSERT_EQ(windowed.width, 320);
  const plat::Rect outer = Window()->OuterRect();

  DebugLines debug;
  Ctx()->resetAttempts = 0;
  ASSERT_TRUE(Kiv3DScreenModeRequest(1));
  Kiv3DFollowWindow();
  EXPECT_EQ(Ctx()->resetAttempts, 1);
  EXPECT_EQ(debug.Count("change fullscreen mode\n"), 1);
  EXPECT_EQ(g_kiv->params.fullScreen, 1);
  EXPECT_TRUE(Window()->FullScreen());
  EXPECT_EQ(Ctx()->windowed, 0);
  EXPECT_EQ(Ctx()->style, kKiv3DFullScreenStyle);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(Ctx()->aspectRect, (plat::Rect{0, 60, 640, 420}));
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 640);
  ASSERT_EQ(f.height, 480);
  EXPECT_EQ(f.pixels[static_cast<size_t>(59) * 640 + 320] & 0xFFFFFFu, 0u) << "bar above";
  EXPECT_EQ(f.pixels[static_cast<size_t>(420) * 640 + 320] & 0xFFFFFFu, 0u) << "bar below";
  // Twice the size: each 2 x 2 block is its source pixel (within the
  // smooth gradient's step for a filtering setting; the edges, where a
  // filter reaches the black around the picture, left out).
  int differ = 0;
  for (int y = 3; y < 178; y += 7)
    for (int x = 3; x < 318; x += 7) {
      const uint32_t want = g.pixels[static_cast<size_t>(y) * 320 + x];
      const uint32_t got = f.pixels[static_cast<size_t>(60 + 2 * y) * 640 + 2 * x];
      for (int sh = 0; sh < 24; sh += 8)
        if (std::abs(static_cast<int>((want >> sh) & 0xFF) - static_cast<int>((got >> sh) & 0xFF)) > 2) {
          ++differ;
          break;
        }
    }
  EXPECT_EQ(differ, 0);

  ASSERT_TRUE(Kiv3DScreenModeRequest(0));
  Kiv3DFollowWindow();
  EXPECT_EQ(debug.Count("change window mode\n"), 1);
  EXPECT_EQ(g_kiv->params.fullScreen, 0);
  EXPECT_FALSE(Window()->FullScreen());
  EXPECT_EQ(Window()->OuterRect(), outer) << "back at the recorded rectangle";
  EXPECT_EQ(Ctx()->windowed, 1);
  EXPECT_EQ(Ctx()->style, g_kiv->params.style);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(Shown().width, 320);
  EXPECT_EQ(Shown().pixels, windowed.pixels);

  // A request for the mode in force touches no GL.
  Ctx()->resetAttempts = 0;
  EXPECT_TRUE(Kiv3DScreenModeRequest(0));
  EXPECT_EQ(Ctx()->resetAttempts, 0);
}

// A game that starts full screen: the context carries the full-screen style
// from its first frame, so a failed change back restores that style.
TEST_F(GpuModeTest, AContextStartedFullScreenCarriesTheFullScreenStyle) {
  params.fullScreen = 1;
  ASSERT_TRUE(Start());
  ASSERT_EQ(KivRenderFrame(), 1);
  ASSERT_EQ(g_kiv->params.fullScreen, 1);
  EXPECT_EQ(Ctx()->windowed, 0);
  EXPECT_EQ(Ctx()->style, kKiv3DFullScreenStyle);
  plat::gpu::SetFaults(plat::gpu::kGpuResetFails);
  EXPECT_TRUE(Kiv3DScreenModeRequest(0)) << "taken by the GPU path";
  plat::gpu::SetFaults(0);
  EXPECT_EQ(Ctx()->windowed, 0);
  EXPECT_EQ(Ctx()->style, kKiv3DFullScreenStyle);
  EXPECT_EQ(g_kiv->params.fullScreen, 1);
}

// The whole engine running: the game thread asks for full screen and back;
// its device part runs there and the window's part on the window thread
// (under ThreadSanitizer no GL object or window field is shared unguarded).
TEST_F(GpuModeTest, ModeRequestsFromTheGameThreadReachTheWindow) {
  params.aspect = 1;
  static int frames = 0;
  static KivRenderList* runList = nullptr;
  static KivSprite* sprite = nullptr;
  static std::vector<uint8_t> file;
  static plat::Rect fullRect, backRect;
  static int fullWidth = 0, resets = 0;
  frames = 0;
  fullWidth = resets = 0;
  fullRect = backRect = plat::Rect{};
  file = kivtools::EncodeTga(Gradient(320, 180), 32);
  kivtest::g_start = [] {
    runList = KivRenderInit();
    KivRenderSetActive(runList);
    sprite = KivSpriteLoadMemory(runList, "img", file.data(), static_cast<int>(file.size()), 0);
    return KivTaskCreate(kivtest::TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr &&
           sprite != nullptr;
  };
  kivtest::g_task = [](void*) {
    auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
    switch (++frames) {
      case 2: KivWindowChangeMode(1); break;
      case 6:
        fullRect = c->aspectRect;
        fullWidth = c->outputWidth;
        KivWindowChangeMode(0);
        break;
      case 10:
        backRect = c->aspectRect;
        resets = c->resetAttempts;
        break;
      case 12: KivEnd(); break;
      default: break;
    }
    return 1;
  };
  kivtest::g_end = [](void*) {
    KivSpriteRelease(runList, sprite);
    KivRenderSetActive(nullptr);
    KivRenderUninit(runList);
  };
  ASSERT_EQ(KivInit(&params), 1);
  ASSERT_EQ(Kiv3DIs(), KIV_MODE_GPU);
  EXPECT_EQ(KivRun(), 0);
  EXPECT_GE(frames, 12);
  EXPECT_EQ(fullRect, (plat::Rect{0, 60, 640, 420}));
  EXPECT_EQ(fullWidth, 640);
  EXPECT_EQ(backRect, (plat::Rect{0, 0, 320, 180}));
  EXPECT_EQ(resets, 2) << "one device reset for each change, on the game thread";
  EXPECT_EQ(g_kiv->params.fullScreen, 0);
  EXPECT_FALSE(Window()->FullScreen());
  plat::Frame f = Shown();
  EXPECT_EQ(f.width, 320);
  EXPECT_EQ(f.pixels[0] & 0xFFFFFFu, Gradient(320, 180).pixels[0] & 0xFFFFFFu);
  EXPECT_EQ(KivUninit(), 1);
}

// ---- Named textures ----

// BMP, TGA and GE through the slot table: power-of-two pixels (padding
// zeroed) with the image size recorded, the texture made at load on the
// drawing thread; names cut at 31 bytes; lying images give their slot back;
// a free slot is not released again.
TEST_F(GpuModeTest, NamedLoadsFillPowerOfTwoSlotsAndGiveFailedOnesBack) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  const Image g = Gradient(300, 200);
  kivtools::GeOptions ge;
  ge.method = 3;
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {{"bmp", kivtools::EncodeBmp(g, 32)}, {"tga", kivtools::EncodeTga(g, 32)}, {"ge", kivtools::EncodeGe(g, ge)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int used = g_kiv->soft->surfacesUsed;
    KivSoftSurfaceEntry* e =
        Kiv3DImageDecode("a-name-that-runs-well-past-thirty-one-bytes", c.file.data(), Ctx(), c.file.size());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(g_kiv->soft->surfacesUsed, used + 1);
    EXPECT_EQ(std::string(e->name), std::string("a-name-that-runs-well-past-thirty-one-bytes").substr(0, 31));
    EXPECT_EQ(e->imageWidth, 300);
    EXPECT_EQ(e->imageHeight, 200);
    EXPECT_EQ(e->width, 512);
    EXPECT_EQ(e->height, 256);
    const uint32_t* px = e->buffer->pixels;
    EXPECT_EQ(px[static_cast<size_t>(199) * 512 + 299] & 0xFFFFFFu, g.pixels[199 * 300 + 299] & 0xFFFFFFu);
    EXPECT_EQ(px[static_cast<size_t>(199) * 512 + 300], 0u) << "padding is zeroed";
    EXPECT_EQ(px[static_cast<size_t>(200) * 512], 0u);
    if (c.what[0] != 'g') {
      EXPECT_EQ(Ctx()->cache.count(e), 1u) << "texture made at load";
    }
    EXPECT_EQ(Kiv3DSurfaceRelease(Ctx(), e), 1);
    EXPECT_EQ(Ctx()->cache.count(e), 0u);
    EXPECT_EQ(g_kiv->soft->surfacesUsed, used);
    EXPECT_EQ(Kiv3DSurfaceRelease(Ctx(), e), 0) << "a free slot is refused";
    EXPECT_EQ(g_kiv->soft->surfacesUsed, used);
  }

  // Lying or short images: no read past the bytes, the slot comes back.
  std::vector<uint8_t> bmp = kivtools::EncodeBmp(g, 32), tga = kivtools::EncodeTga(g, 32);
  std::vector<uint8_t> huge = tga;
  huge[12] = huge[13] = 0xFF;  // 65535 wide: past the largest texture
  const std::vector<std::vector<uint8_t>> lies = {
      {'B', 'M', 1, 2, 3}, {0, 0, 2}, std::vector<uint8_t>(bmp.begin(), bmp.begin() + 60), huge};
  const int used = g_kiv->soft->surfacesUsed;
  for (const std::vector<uint8_t>& lie : lies) {
    EXPECT_EQ(Kiv3DImageDecode("lie", lie.data(), Ctx(), lie.size()), nullptr);
    EXPECT_EQ(g_kiv->soft->surfacesUsed, used);
  }

  // Sprites load through the same slots and draw.
  KivSprite* s = Load(tga);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(static_cast<KivSoftSurface*>(s->surface)->width, 300);
  EXPECT_EQ(static_cast<KivSoftSurface*>(s->surface)->height, 200);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(Shown().pixels[static_cast<size_t>(100) * 320 + 100] & 0xFFFFFFu,
            g.pixels[100 * 300 + 100] & 0xFFFFFFu);
  KivSpriteRelease(list, s);
  EXPECT_EQ(g_kiv->soft->surfacesUsed, used);
}

// Out of video memory: one box a failure, no image, the slot given back and
// nothing left allocated; once memory is there the same image loads.
TEST_F(GpuModeTest, OutOfVideoMemoryShowsTheBoxAndGivesTheSlotBack) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  const Image g = Gradient(300, 200);
  const std::vector<uint8_t> files[] = {kivtools::EncodeBmp(g, 32), kivtools::EncodeTga(g, 24)};
  plat::HeadlessBoxReset();
  const int used = g_kiv->soft->surfacesUsed;
  const int live = KivMemoryLive();
  plat::gpu::SetFaults(plat::gpu::kGpuOutOfMemory);
  size_t boxes = 0;
  for (const std::vector<uint8_t>& file : files) {
    EXPECT_EQ(Load(file), nullptr);
    const auto log = plat::HeadlessBoxLog();
    ASSERT_EQ(log.size(), ++boxes);
    EXPECT_EQ(log.back().text, Sj("ディスプレイメモリが不足しています。"));
    EXPECT_EQ(log.back().caption, Sj("警告"));
    EXPECT_EQ(log.back().type, plat::kMbOk);
    EXPECT_EQ(g_kiv->soft->surfacesUsed, used);
    EXPECT_EQ(KivMemoryLive(), live);
  }
  plat::gpu::SetFaults(0);
  for (const std::vector<uint8_t>& file : files) {
    KivSprite* s = Load(file);
    ASSERT_NE(s, nullptr);
    auto* surface = static_cast<KivSoftSurface*>(s->surface);
    EXPECT_EQ(surface->width, 300);
    EXPECT_EQ(surface->entry->width, 512);
    EXPECT_EQ(surface->entry->height, 256);
  }
  EXPECT_EQ(plat::HeadlessBoxLog().size(), boxes) << "no box without the shortage";
  EXPECT_EQ(g_kiv->soft->surfacesUsed, used + 2);
}

}  // namespace
