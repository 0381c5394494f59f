// The GPU renderer on the headless backend (EGL on Mesa, llvmpipe without a
// GPU): start-up and its fall-back, the render target's layout, surfaces in
// powers of two, the small rules (angles, filters, grid, effect gating,
// camera), parity with the software renderer, and device loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "support/gpu_fixture.h"
#include "image_encoder.h"
#include "platform/core/clock.h"
#include "platform/window/display.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/png_capture.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace {

using kivtest::Sj;
using kivtools::Image;

// Smooth colours, so a sample a texel off differs by little.
Image Gradient(int w, int h, uint32_t alpha = 0xFF) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.pixels[static_cast<size_t>(y) * w + x] = alpha << 24 | static_cast<uint32_t>(40 + x * 180 / w) << 16 |
                                                   static_cast<uint32_t>(200 - y * 150 / h) << 8 |
                                                   static_cast<uint32_t>(90 + (x + y) * 100 / (w + h));
  return img;
}

Image Disc(int n) {
  Image img{n, n, std::vector<uint32_t>(static_cast<size_t>(n) * n)};
  const int r = n / 2;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const int d2 = (x - r) * (x - r) + (y - r) * (y - r);
      const int a = d2 >= r * r ? 0 : d2 <= (r - 10) * (r - 10) ? 255 : 128;
      img.pixels[static_cast<size_t>(y) * n + x] = static_cast<uint32_t>(a) << 24 | 0xF0C080u;
    }
  return img;
}

class GpuTest : public kivtest::GpuEngineTest {};

TEST_F(GpuTest, StartsOnTheGpuAndDrawsASprite) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(Kiv3DIs(), KIV_MODE_GPU);
  EXPECT_TRUE(plat::HeadlessBoxLog().empty());
  KivSprite* s = Load(kivtools::EncodeBmp(Gradient(40, 20), 32));
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 10.0f, 30.0f);
  ASSERT_EQ(KivRenderFrame(), 1);
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 320);
  ASSERT_EQ(f.height, 180);
  const Image g = Gradient(40, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(f.pixels[static_cast<size_t>(30 + y) * 320 + 10 + x] & 0xFFFFFFu, g.pixels[y * 40 + x] & 0xFFFFFFu)
          << x << "," << y;
  EXPECT_EQ(f.pixels[0] & 0xFFFFFFu, 0u);
}

// Each failing step leaves the software renderer with its warning, and the
// engine's memory comes back whole.
TEST_F(GpuTest, CreationFailingAtEachStepFallsBackToSoftwareWithTheWarning) {
  struct Case {
    const char* what;
    uint32_t faults;
    int screenWidth;
  } cases[] = {
      {"device", plat::gpu::kGpuCreate, 320},
      {"render target larger than a texture", 0, 40000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::HeadlessBoxReset();
    plat::gpu::SetFaults(c.faults);
    params.screenWidth = params.clientWidth = c.screenWidth;
    params.screenHeight = params.clientHeight = 8;
    ASSERT_EQ(KivInit(&params), 1);
    EXPECT_EQ(Kiv3DIs(), 0);
    EXPECT_EQ(g_kiv->gpu, nullptr);
    auto boxes = plat::HeadlessBoxLog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, Sj("警告"));
    EXPECT_NE(boxes[0].text.find(Sj("DIB モードで起動")), std::string::npos);
    EXPECT_EQ(KivUninit(), 1);
    EXPECT_EQ(KivMemoryLive(), 0);
    plat::gpu::SetFaults(0);
  }
}

TEST_F(GpuTest, RenderTargetIsAPowerOfTwoWithTheScreenCentred) {
  struct Case {
    int w, h, rw, rh, left, top;
  } cases[] = {{1280, 720, 2048, 1024, 384, 152}, {320, 180, 512, 256, 96, 38}, {512, 512, 512, 512, 0, 0}};
  for (const Case& c : cases) {
    params.screenWidth = params.clientWidth = c.w;
    params.screenHeight = params.clientHeight = c.h;
    ASSERT_TRUE(Start());
    EXPECT_EQ(Ctx()->rtWidth, c.rw);
    EXPECT_EQ(Ctx()->rtHeight, c.rh);
    EXPECT_EQ((Ctx()->rtWidth - Ctx()->screenWidth) >> 1, c.left);
    EXPECT_EQ((Ctx()->rtHeight - Ctx()->screenHeight) >> 1, c.top);
    // The grid: RW/16 + 2 by RH/16 + 2 vertices, two triangles a cell.
    EXPECT_EQ(Ctx()->fx.gridColumns, c.rw / 16 + 2);
    EXPECT_EQ(Ctx()->fx.gridRows, c.rh / 16 + 2);
    EXPECT_EQ(Ctx()->fx.gridIndices.size(), static_cast<size_t>((c.rw / 16 + 1) * (c.rh / 16 + 1) * 6));
    Release();
    KivUninit();
  }
}

TEST_F(GpuTest, SurfacesArePowersOfTwoAndTheSlotTableRefusesWhenFull) {
  params.surfaceCapacity = 3;
  ASSERT_TRUE(Start());
  std::vector<uint8_t> tga = kivtools::EncodeTga(Gradient(300, 200), 32);
  KivSprite* s = Load(tga);
  ASSERT_NE(s, nullptr);
  auto* surface = static_cast<KivSoftSurface*>(s->surface);
  EXPECT_EQ(surface->width, 300);
  EXPECT_EQ(surface->height, 200);
  int w = 0, h = 0;
  uint32_t* px = KivSpriteLock(s, &w, &h);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(w, 512);
  EXPECT_EQ(h, 256);
  EXPECT_EQ(px[static_cast<size_t>(199) * 512 + 299] & 0xFFFFFFu, Gradient(300, 200).pixels[199 * 300 + 299] & 0xFFFFFFu);
  EXPECT_EQ(px[static_cast<size_t>(199) * 512 + 300], 0u) << "padding is zeroed";
  EXPECT_EQ(px[static_cast<size_t>(200) * 512], 0u);
  KivSpriteUnlock(s);
  ASSERT_NE(Load(tga), nullptr);
  ASSERT_NE(Load(tga), nullptr);
  EXPECT_EQ(Load(tga), nullptr) << "all 3 slots in use";
  EXPECT_EQ(g_kiv->soft->surfacesUsed, 3);
  // A lying image gives its slot back.
  std::vector<uint8_t> lying = tga;
  lying.resize(40);
  KivSpriteRelease(list, s);
  EXPECT_EQ(Load(lying), nullptr);
  EXPECT_EQ(g_kiv->soft->surfacesUsed, 2);
}

// A writer that marks the corner it wrote (a movie frame in its padded
// surface) has that corner shown, and only that corner goes to the texture;
// corners marked between two frames add up, and a whole mark among them
// sends the whole surface.
TEST_F(GpuTest, AMarkedCornerReachesTheTextureAndAWholeMarkSendsAll) {
  ASSERT_TRUE(Start());
  KivSprite* s = Load(kivtools::EncodeBmp(Gradient(40, 20), 32));
  ASSERT_NE(s, nullptr);
  KivRect all{0, 0, 64, 32};
  KivSpriteSetRect(s, &all);
  s->width = 64;
  s->height = 32;
  auto* surface = static_cast<KivSoftSurface*>(s->surface);
  int w = 0, h = 0;
  uint32_t* px = KivSoftSurfacePixelsToMark(surface, &w, &h);
  ASSERT_NE(px, nullptr);
  ASSERT_EQ(w, 64);
  ASSERT_EQ(h, 32);
  auto fill = [&](uint32_t colour) { std::fill(px, px + static_cast<size_t>(w) * h, colour); };
  // The colour shown at (x, y) of the surface (the sprite sits at the origin).
  auto at = [&](int x, int y) { return Shown().pixels[static_cast<size_t>(y) * 320 + x] & 0xFFFFFFu; };
  constexpr uint32_t kA = 0xFF102030u, kB = 0xFF405060u, kC = 0xFF708090u;

  fill(kA);
  KivSoftSurfaceTouch(surface->entry);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(at(63, 31), kA & 0xFFFFFFu);

  fill(kB);
  KivSoftSurfaceTouchCorner(surface->entry, 40, 20);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(at(0, 0), kB & 0xFFFFFFu);
  EXPECT_EQ(at(39, 19), kB & 0xFFFFFFu);
  EXPECT_EQ(at(40, 0), kA & 0xFFFFFFu) << "only the marked corner went up";
  EXPECT_EQ(at(0, 20), kA & 0xFFFFFFu);

  fill(kC);
  KivSoftSurfaceTouchCorner(surface->entry, 50, 4);
  KivSoftSurfaceTouchCorner(surface->entry, 4, 24);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(at(49, 23), kC & 0xFFFFFFu) << "two corners make one of both sides";
  EXPECT_EQ(at(50, 0), kA & 0xFFFFFFu);
  EXPECT_EQ(at(0, 24), kA & 0xFFFFFFu);

  fill(kB);
  KivSoftSurfaceTouchCorner(surface->entry, 8, 8);
  KivSoftSurfaceTouch(surface->entry);
  KivSoftSurfaceTouchCorner(surface->entry, 8, 8);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(at(63, 31), kB & 0xFFFFFFu) << "the whole mark stands";
}

TEST_F(GpuTest, SmallRules) {
  // Angles: truncated saturating, then modulo 512.
  EXPECT_EQ(Kiv3DAngleIndex(512.0f), 0);
  EXPECT_EQ(Kiv3DAngleIndex(-128.0f), 384);
  EXPECT_EQ(Kiv3DAngleIndex(128.9f), 128);
  const int nan = Kiv3DAngleIndex(std::numeric_limits<float>::quiet_NaN());
  EXPECT_TRUE(nan >= 0 && nan < 512);
  const int huge = Kiv3DAngleIndex(-1e30f);
  EXPECT_TRUE(huge >= 0 && huge < 512);
  // The sprite filter by scale: 1 point, 2 linear, 0 keep.
  struct F {
    int setting;
    float scale;
    int want;
  } filters[] = {{0, 2.0f, 1}, {1, 0.5f, 1}, {2, 1.0f, 1}, {2, 0.5f, 2}, {2, 1.5f, 2}, {3, 1.0f, 0}};
  for (const F& f : filters) EXPECT_EQ(Kiv3DSpriteFilter(f.setting, f.scale), f.want) << f.setting << " " << f.scale;
  // Grid positions: amplitude 0 is the flat grid.
  std::vector<Kiv3DGridVertex> v;
  Kiv3DGridPositions(5, 3, 0.3f, 0.0f, 0.0f, &v);
  ASSERT_EQ(v.size(), 15u);
  EXPECT_FLOAT_EQ(v[0].x, -1.0f);
  EXPECT_FLOAT_EQ(v[0].y, 1.0f);
  EXPECT_FLOAT_EQ(v[14].x, 1.0f);
  EXPECT_FLOAT_EQ(v[14].y, -1.0f);
  // A large target needs 32-bit indices: more than 65,536 vertices.
  int cols = 0, rows = 0;
  Kiv3DGridSize(8192, 8192, &cols, &rows);
  EXPECT_GT(cols * rows, 65536);
  // Shader flags of GL 3.3: the vertex bit and pixel flags from 2.0 up.
  uint32_t vs = 0, ps = 0;
  Kiv3DShaderFlags(3, 3, &vs, &ps);
  EXPECT_EQ(vs, 1u);
  EXPECT_TRUE(ps & 0x10);
  Kiv3DShaderFlags(1, 5, &vs, &ps);
  EXPECT_FALSE(ps & 0x10);
}

TEST_F(GpuTest, CameraRefusesWhatWouldDivideByZero) {
  ASSERT_TRUE(Start());
  Kiv3DContext* c = Ctx();
  const Kiv3DCamera before = c->camera;
  EXPECT_EQ(Kiv3DSetPerspective(c, 0.0f, 1.0f, 0.1f, 100.0f), 0);
  EXPECT_EQ(Kiv3DSetPerspective(c, 0.78f, 0.0f, 0.1f, 100.0f), 0);
  EXPECT_EQ(Kiv3DSetPerspective(c, 0.78f, 1.0f, 5.0f, 5.0f), 0);
  const float up[3] = {0, 1, 0}, at[3] = {1, 2, 3};
  EXPECT_EQ(Kiv3DCameraUpdate(c, up, at, at), 0);
  EXPECT_EQ(std::memcmp(&before, &c->camera, sizeof before), 0);
  EXPECT_EQ(Kiv3DSetPerspective(c, 0.78f, 1.0f, 0.1f, 100.0f), 1);
}

TEST_F(GpuTest, EffectsFollowTheShaderOptionAndTheModule) {
  params.mode |= KIV_MODE_SHADER;
  ASSERT_TRUE(Start());
  EXPECT_EQ(Ctx()->fx.available, kKiv3DFxDraw | kKiv3DFxRaster | kKiv3DFxRadialBlur);
  // Pixel shader flags below 2.0 (1.4 here) give the plain draw only; no
  // vertex bit, not even that.
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  Ctx()->overrideFlags = true;
  Ctx()->vertexFlags = 1;
  Ctx()->pixelFlags = 0x0F;
  Kiv3DCreateEffectResources(Ctx());
  EXPECT_EQ(Ctx()->fx.available, static_cast<uint32_t>(kKiv3DFxDraw));
  Ctx()->vertexFlags = 0;
  Ctx()->pixelFlags = 0x1F;
  Kiv3DCreateEffectResources(Ctx());
  EXPECT_EQ(Ctx()->fx.available, static_cast<uint32_t>(kKiv3DFxRaster));
  Ctx()->overrideFlags = false;
  Release();
  KivUninit();
  params.mode &= ~KIV_MODE_SHADER;
  ASSERT_TRUE(Start());
  EXPECT_EQ(Ctx()->fx.available, 0u) << "no shader option: no effect, the grid still waves";
  EXPECT_TRUE(Ctx()->fx.gridReady);
}

// ---- Parity with the software renderer ----

struct Scene {
  std::vector<uint8_t> bg, disc, sheet, grad;
};

Scene MakeScene() {
  Scene s;
  kivtools::GeOptions o3;
  o3.method = 3;
  s.bg = kivtools::EncodeGe(Gradient(320, 180), o3);
  s.disc = kivtools::EncodeBmp(Disc(64), 32);
  s.sheet = kivtools::EncodeTga(Gradient(96, 32), 32);
  // Gentle steps (at most 2 a texel): a sample a texel off stays within 4.
  Image gentle{60, 40, std::vector<uint32_t>(60 * 40)};
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      gentle.pixels[static_cast<size_t>(y) * 60 + x] = 0xFF000000u | static_cast<uint32_t>(60 + x * 100 / 60) << 16 |
                                                       static_cast<uint32_t>(180 - y * 60 / 40) << 8 |
                                                       static_cast<uint32_t>(100 + (x + y) / 2);
  s.grad = kivtools::EncodeTga(gentle, 32);
  return s;
}

class ParityTest : public GpuTest {
 protected:
  // The scene where both renderers agree: integer positions, white colour
  // in modes 2 and 3, mode 3 opaque, centre 0, turns about z only, nearest
  // filter.
  plat::Frame Draw(bool gpu, int angle) {
    if (gpu) params.mode |= KIV_MODE_GPU;
    else params.mode &= ~KIV_MODE_GPU;
    EXPECT_TRUE(Start());
    EXPECT_EQ(Kiv3DIs() != 0, gpu);
    Scene sc = MakeScene();
    KivSprite* b = Load(sc.bg, 100);
    KivSprite* d1 = Load(sc.disc, 50);
    KivSprite* d2 = Load(sc.disc, 40);
    KivSprite* m = Load(sc.sheet, 30);
    KivSprite* cell = Load(sc.sheet, 20);
    KivSprite* turned = Load(sc.grad, 10);
    EXPECT_TRUE(b && d1 && d2 && m && cell && turned);
    KivSpriteSetPos(d1, 20.0f, 30.0f);
    KivSpriteSetColor(d1, 0xD0FFC080u);
    KivSpriteSetPos(d2, 90.0f, 30.0f);
    KivSpriteSetRenderMode(d2, 2);
    KivSpriteSetPos(m, 160.0f, 40.0f);
    KivSpriteSetRenderMode(m, 3);
    KivSpriteSetOffsetRect(cell, 32, 32);
    KivSpriteRectSetPos(cell, 1, 0);
    KivSpriteSetPos(cell, 260.0f, 20.0f);
    KivSpriteSetPos(turned, 200.0f, 110.0f);
    KivSpriteSetRotate(turned, static_cast<float>(angle));
    EXPECT_EQ(KivRenderFrame(), 1);
    plat::Frame f = Shown();
    Release();
    KivUninit();
    return f;
  }
};

TEST_F(ParityTest, BothRenderersDrawTheSceneAlikeAtAnyTurn) {
  for (int angle : {0, 128, 256, 40, -70}) {
    SCOPED_TRACE(angle);
    plat::Frame soft = Draw(false, angle);
    plat::Frame gpu = Draw(true, angle);
    ASSERT_EQ(soft.width, gpu.width);
    ASSERT_EQ(soft.height, gpu.height);
    // The turned sprite's edges may fall a pixel apart: the band around
    // its outline is left out; inside and everywhere else within 4.
    const double cx = 230.0, cy = 130.0, ang = angle * 2 * M_PI / 512;
    int bad = 0, edge = 0;
    for (int y = 0; y < soft.height; ++y)
      for (int x = 0; x < soft.width; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        // Into the sprite's own axes (counter-clockwise turn on screen).
        const double u = dx * std::cos(ang) - dy * std::sin(ang), v = dx * std::sin(ang) + dy * std::cos(ang);
        const double du = std::fabs(std::fabs(u) - 30), dv = std::fabs(std::fabs(v) - 20);
        const bool nearEdge = (du < 2.0 && std::fabs(v) < 22) || (dv < 2.0 && std::fabs(u) < 32);
        const uint32_t a = soft.pixels[static_cast<size_t>(y) * soft.width + x];
        const uint32_t b = gpu.pixels[static_cast<size_t>(y) * gpu.width + x];
        bool close = true;
        for (int sh = 0; sh < 24; sh += 8)
          if (std::abs(static_cast<int>((a >> sh) & 0xFF) - static_cast<int>((b >> sh) & 0xFF)) > 4) close = false;
        if (close) continue;
        int worst = 0;
        for (int sh = 0; sh < 24; sh += 8)
          worst = std::max(worst, std::abs(static_cast<int>((a >> sh) & 0xFF) - static_cast<int>((b >> sh) & 0xFF)));
        const bool inTurned = std::fabs(u) < 30 && std::fabs(v) < 20;
        (void)inTurned;
        // The software multiply truncates three times (about 1.6% low): one
        // level more there.
        const bool multiplied = x >= 160 && x < 256 && y >= 40 && y < 72;
        if (multiplied && worst <= 5) continue;
        if (nearEdge) ++edge;
        else if (++bad < 5) ADD_FAILURE() << "pixel " << x << "," << y << " soft " << std::hex << a << " gpu " << b;
      }
    EXPECT_EQ(bad, 0);
    if (const char* dump = std::getenv("KIV_PARITY_DUMP")) {
      plat::CapturePng(std::string(dump) + "/soft_" + std::to_string(angle) + ".png", soft.pixels.data(), soft.width,
                       soft.height, soft.width);
      plat::CapturePng(std::string(dump) + "/gpu_" + std::to_string(angle) + ".png", gpu.pixels.data(), gpu.width,
                       gpu.height, gpu.width);
    }
  }
}

// ---- Device loss ----

TEST_F(GpuTest, ALostDeviceSkipsFramesAndTheNextFrameEqualsTheOneBefore) {
  ASSERT_TRUE(Start());
  Scene sc = MakeScene();
  KivSprite* b = Load(sc.bg, 100);
  KivSprite* d = Load(sc.disc, 50);
  ASSERT_TRUE(b && d);
  KivSpriteSetPos(d, 40.0f, 40.0f);
  ASSERT_EQ(KivRenderFrame(), 1);
  const plat::Frame before = Shown();
  plat::gpu::SetFaults(plat::gpu::kGpuLost);
  EXPECT_EQ(KivRenderFrame(), 0) << "lost: nothing is drawn";
  EXPECT_EQ(Shown().pixels, before.pixels) << "the screen keeps the last frame";
  EXPECT_EQ(Ctx()->lost, 1);
  plat::gpu::SetFaults(0);
  EXPECT_EQ(KivRenderFrame(), 0) << "asked again only after 100 ms";
  plat::AdvanceVirtualClock(100);
  ASSERT_EQ(KivRenderFrame(), 1) << "the next ask restores the device";
  EXPECT_EQ(Ctx()->lost, 0);
  EXPECT_EQ(Shown().pixels, before.pixels) << "every texture came back from its CPU pixels";
}

TEST_F(GpuTest, ARestoreThatKeepsFailingStopsAfterTenRounds) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  plat::gpu::SetFaults(plat::gpu::kGpuLost);
  EXPECT_EQ(Kiv3DDeviceTest(Ctx()), 1);
  plat::gpu::SetFaults(plat::gpu::kGpuResetFails);
  Ctx()->resetAttempts = 0;
  EXPECT_EQ(Kiv3DDeviceRestore(Ctx()), 0);
  EXPECT_EQ(Ctx()->resetAttempts, 10);
  EXPECT_EQ(Ctx()->lost, 1) << "the lost flag stays for the next request";
  plat::gpu::SetFaults(0);
  EXPECT_EQ(Kiv3DDeviceRestore(Ctx()), 1);
  EXPECT_EQ(Ctx()->lost, 0);
}

}  // namespace

namespace {

// ---- Screen transitions and the screen wave on both renderers ----

// Soft vertical stripes, unlike the gradient behind them.
Image Stripes(int w, int h) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.05));
      img.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | v << 16 | (255 - v) << 8 | static_cast<uint32_t>(y);
    }
  return img;
}

class GpuEffectTest : public GpuTest {
 protected:
  void SetUp() override {
    GpuTest::SetUp();
    if (IsSkipped()) return;
    char tmpl[] = "/tmp/kivgpuXXXXXX";
    folder = mkdtemp(tmpl);
    Image mask{320, 180, std::vector<uint32_t>(320 * 180)};
    for (int y = 0; y < 180; ++y)
      for (int x = 0; x < 320; ++x) {
        const int dx = x - 160, dy = y - 90;
        const int d = std::min(255, (dx * dx + dy * dy) * 255 / (160 * 160 + 90 * 90));
        mask.pixels[static_cast<size_t>(y) * 320 + x] = 0xFF000000u | static_cast<uint32_t>(255 - d) * 0x010101u;
      }
    ASSERT_TRUE(kivtools::WriteFileBytes(folder + "/Mask00.bmp", kivtools::EncodeBmp(mask, 8)));
  }
  void TearDown() override {
    if (g_kiv) KivReleaseFxEffect(nullptr, KIV_FX_SCREEN);
    GpuTest::TearDown();
    if (!folder.empty()) {
      EXPECT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
    }
  }
  void FrameAt(uint32_t t) {
    g_kiv->frameTime = t;
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  // The frames of one transition kind at 0, 500 and 1000 ms of 1000.
  std::vector<plat::Frame> Transition(bool gpu, unsigned kind) {
    if (gpu) params.mode |= KIV_MODE_GPU;
    else params.mode &= ~KIV_MODE_GPU;
    std::vector<plat::Frame> out;
    EXPECT_TRUE(Start());
    EXPECT_EQ(KivSystemPathSet(folder.c_str()), 1);
    Scene sc = MakeScene();
    KivSprite* old = Load(sc.bg, 100);
    KivSprite* fresh = Load(kivtools::EncodeTga(Stripes(320, 180), 32), 100);
    EXPECT_TRUE(old && fresh);
    KivSpriteViewCtrl(fresh, 0);
    FrameAt(1000);
    FrameAt(1000);
    KivSpriteViewCtrl(old, 0);
    KivSpriteViewCtrl(fresh, 1);
    EXPECT_EQ(KivEffectEx(kind, 1000, 0, 0), 1);
    for (uint32_t at : {0u, 500u, 1000u}) {
      FrameAt(1016 + at);
      out.push_back(Shown());
    }
    Release();
    KivUninit();
    return out;
  }
  std::string folder;
};

// The largest difference of a channel, leaving out a border of that width
// and anything right of maxX or below maxY.
int WorstChannel(const plat::Frame& a, const plat::Frame& b, int border = 0, int maxX = 1 << 30, int maxY = 1 << 30) {
  int worst = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const int x = static_cast<int>(i % static_cast<size_t>(a.width)), y = static_cast<int>(i / static_cast<size_t>(a.width));
    if (x < border || y < border || x >= a.width - border || y >= a.height - border) continue;
    if (x >= maxX || y >= maxY) continue;
    for (int sh = 0; sh < 24; sh += 8)
      worst = std::max(worst, std::abs(static_cast<int>((a.pixels[i] >> sh) & 0xFF) -
                                       static_cast<int>((b.pixels[i] >> sh) & 0xFF)));
  }
  return worst;
}

// Cross-fade, blurring fade, shrinking box, white fade, mosaic and the mask
// wipe. The blurring
// fade's power-of-two capture blurs its zero padding into the edges: a
// border of 16 pixels is left out there.
TEST_F(GpuEffectTest, TransitionKindsMatchTheSoftwareFrames) {
  for (unsigned kind : {1u, 2u, 3u, 5u, 6u, 10u}) {
    SCOPED_TRACE(kind);
    const int border = kind == 2 ? 16 : 0;
    std::vector<plat::Frame> soft = Transition(false, kind), gpu = Transition(true, kind);
    ASSERT_EQ(soft.size(), gpu.size());
    for (size_t i = 0; i < soft.size(); ++i) {
      ASSERT_EQ(soft[i].pixels.size(), gpu[i].pixels.size());
      // Two blends on the way (the captured frame, then the fade over the
      // new one): twice the single blend's tolerance... less one.
      // The mosaic lays its blocks over the capture, which is a power of two
      // on the GPU: from the third column of blocks on they fall apart from
      // the software's, so the middle frame is compared on the first two.
      const bool cutBlocks = kind == 6 && i == 1;
      EXPECT_LE(WorstChannel(soft[i], gpu[i], border, cutBlocks ? 256 : 1 << 30, cutBlocks ? 128 : 1 << 30), 6)
          << "frame " << i;
      if (const char* dump = std::getenv("KIV_PARITY_DUMP")) {
        const std::string n = std::to_string(kind) + "_" + std::to_string(i) + ".png";
        plat::CapturePng(std::string(dump) + "/tsoft_" + n, soft[i].pixels.data(), soft[i].width, soft[i].height,
                         soft[i].width);
        plat::CapturePng(std::string(dump) + "/tgpu_" + n, gpu[i].pixels.data(), gpu[i].width, gpu[i].height,
                         gpu[i].width);
      }
    }
    EXPECT_NE(soft[0].pixels, soft[1].pixels) << "the transition moved";
  }
}

// The screen wave with amplitude 0 leaves the frame as it is, by the RASTER
// effect and by the grid alike; with amplitude it moves pixels.
TEST_F(GpuEffectTest, ScreenWaveAtAmplitudeZeroIsTheFrameItself) {
  for (bool shaders : {true, false}) {
    SCOPED_TRACE(shaders);
    if (shaders) {
      params.mode |= KIV_MODE_SHADER;
    } else {
      params.mode &= ~KIV_MODE_SHADER;
    }
    ASSERT_TRUE(Start());
    EXPECT_EQ((Ctx()->fx.available & kKiv3DFxRaster) != 0, shaders);
    Scene sc = MakeScene();
    ASSERT_NE(Load(sc.bg, 100), nullptr);
    FrameAt(6000);
    const plat::Frame plain = Shown();
    int priority = 50;
    const KivFxRaster flat{400, 0.0f, 0.0f};
    ASSERT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &flat), 1);
    FrameAt(6100);
    EXPECT_EQ(Shown().pixels, plain.pixels);
    ASSERT_EQ(KivSetFxEffect(nullptr, KIV_FX_SCREEN, 0, 0, nullptr), 1);
    KivReleaseFxEffect(nullptr, KIV_FX_SCREEN);
    const KivFxRaster wave{400, 1.0f, 1.0f};
    ASSERT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 1);
    FrameAt(6200);
    FrameAt(6300);
    EXPECT_NE(Shown().pixels, plain.pixels);
    KivReleaseFxEffect(nullptr, KIV_FX_SCREEN);
    Release();
    KivUninit();
  }
}

}  // namespace

namespace {

// ---- The final pass into the aspect rectangle ----

// A sharp pattern: squares of 8 with a gradient and a bright diagonal.
Image Checker(int w, int h) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool on = ((x / 8) + (y / 8)) % 2 == 0;
      uint32_t c = on ? 0xFF000000u | static_cast<uint32_t>(x * 255 / w) << 16 | 0x40u << 8 |
                            static_cast<uint32_t>(y * 255 / h)
                      : 0xFF202020u;
      if (x == y) c = 0xFFFFFFF0u;
      img.pixels[static_cast<size_t>(y) * w + x] = c;
    }
  return img;
}

class FinalPassTest : public GpuTest {
 protected:
  // The scene full screen on a monitor of mw x mh, aspect 1, by the filter.
  plat::Frame FullScreen(int mw, int mh, int filter) {
    plat::SetHeadlessMonitors({{0, 0, mw, mh}});
    EXPECT_TRUE(Start());
    EXPECT_NE(Load(kivtools::EncodeTga(Checker(320, 180), 32)), nullptr);
    Kiv3DContext* c = Ctx();
    EXPECT_EQ(KivPlaceFullScreenWindow(g_kiv->soft, 1), 1);
    g_kiv->params.fullScreen = 1;
    g_kiv->soft->aspect = 1;
    KivSoftSetAspectRect(g_kiv->soft, 1);
    EXPECT_TRUE(Kiv3DCurrent(c));
    c->fullScreenFilter = filter;
    EXPECT_EQ(Kiv3DLoadBicubic(c), 1);
    Kiv3DSetAspectRect(c);
    EXPECT_EQ(KivRenderFrame(), 1);
    plat::Frame f = Shown();
    Release();
    KivUninit();
    plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
    return f;
  }
};

TEST_F(FinalPassTest, ScaledIntoTheAspectRectangleByEachFilter) {
  // 320 x 180 on 1920 x 1200, aspect 1: (0, 60, 1920, 1140), bars above and below.
  const int cw = 240, ch = 160;
  Image sheet{4 * cw, ch, std::vector<uint32_t>(static_cast<size_t>(4) * cw * ch)};
  for (int filter = 0; filter < 4; ++filter) {
    SCOPED_TRACE(filter);
    plat::Frame f = FullScreen(1920, 1200, filter);
    ASSERT_EQ(f.width, 1920);
    ASSERT_EQ(f.height, 1200);
    EXPECT_EQ(f.pixels[59 * 1920 + 960] & 0xFFFFFFu, 0u) << "bar above";
    EXPECT_EQ(f.pixels[1140 * 1920 + 960] & 0xFFFFFFu, 0u) << "bar below";
    EXPECT_NE(f.pixels[60 * 1920 + 0] & 0xFFFFFFu, 0u);
    // Inside a big square every filter shows the square's colour.
    const Image src = Checker(320, 180);
    const uint32_t want = src.pixels[static_cast<size_t>(20) * 320 + 4];  // square (0, 2), column 4
    const uint32_t got = f.pixels[static_cast<size_t>(60 + 20 * 6 + 3) * 1920 + 4 * 6 + 3];
    for (int sh = 0; sh < 24; sh += 8)
      EXPECT_NEAR(static_cast<int>((got >> sh) & 0xFF), static_cast<int>((want >> sh) & 0xFF), 2);
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x)
        sheet.pixels[static_cast<size_t>(y) * 4 * cw + filter * cw + x] =
            f.pixels[static_cast<size_t>(20 + y) * 1920 + x] | 0xFF000000u;
  }
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/gpu_final_pass.png";
  if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    ASSERT_TRUE(plat::CapturePng(golden, sheet.pixels.data(), sheet.width, sheet.height, sheet.width));
  }
  std::vector<uint32_t> want;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &want, &gw, &gh)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(gw, sheet.width);
  ASSERT_EQ(gh, sheet.height);
  int differ = 0;
  for (size_t i = 0; i < want.size(); ++i)
    for (int sh = 0; sh < 24; sh += 8)
      if (std::abs(static_cast<int>((want[i] >> sh) & 0xFF) - static_cast<int>((sheet.pixels[i] >> sh) & 0xFF)) > 2) {
        ++differ;
        break;
      }
  EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
}

TEST_F(FinalPassTest, BicubicAndPointAtOneToOneAreTheSourceItself) {
  const Image src = Checker(320, 180);
  for (int filter : {1, 3}) {
    SCOPED_TRACE(filter);
    plat::Frame f = FullScreen(320, 180, filter);
    ASSERT_EQ(f.width, 320);
    ASSERT_EQ(f.height, 180);
    int differ = 0;
    for (size_t i = 0; i < src.pixels.size(); ++i)
      if ((f.pixels[i] & 0xFFFFFFu) != (src.pixels[i] & 0xFFFFFFu)) ++differ;
    EXPECT_EQ(differ, 0);
  }
}

}  // namespace

namespace {

// Lost in the middle of a screen transition: the capture is CPU pixels, so
// the frame after the restore is the frame before the loss.
TEST_F(GpuEffectTest, ALossMidTransitionRedrawsTheSameFrame) {
  ASSERT_TRUE(Start());
  Scene sc = MakeScene();
  KivSprite* old = Load(sc.bg, 100);
  KivSprite* fresh = Load(kivtools::EncodeTga(Gradient(320, 180), 32), 100);
  ASSERT_TRUE(old && fresh);
  KivSpriteViewCtrl(fresh, 0);
  FrameAt(1000);
  KivSpriteViewCtrl(old, 0);
  KivSpriteViewCtrl(fresh, 1);
  ASSERT_EQ(KivEffectEx(1, 1000, 0, 0), 1);
  FrameAt(1016);
  FrameAt(1400);
  const plat::Frame before = Shown();
  plat::gpu::SetFaults(plat::gpu::kGpuLost);
  g_kiv->frameTime = 1400;
  EXPECT_EQ(KivRenderFrame(), 0);
  plat::gpu::SetFaults(0);
  plat::AdvanceVirtualClock(100);
  FrameAt(1400);
  EXPECT_EQ(Shown().pixels, before.pixels);
  Release();
  KivUninit();
}

}  // namespace

namespace {

// The whole engine running: the context is made on a helper thread, drawn
// by the game thread, let go as that thread ends and released at shut-down
// (under ThreadSanitizer, no GL object is touched by two threads at once).
TEST_F(GpuTest, TheGameThreadDrawsAndTheEngineEndsInOrder) {
  static int frames = 0;
  static KivRenderList* runList = nullptr;
  static KivSprite* sprite = nullptr;
  static std::vector<uint8_t> file;
  frames = 0;
  file = kivtools::EncodeBmp(Gradient(40, 20), 32);
  kivtest::g_start = [] {
    runList = KivRenderInit();
    KivRenderSetActive(runList);
    sprite = KivSpriteLoadMemory(runList, "img", file.data(), static_cast<int>(file.size()), 0);
    return KivTaskCreate(kivtest::TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr &&
           sprite != nullptr;
  };
  kivtest::g_task = [](void*) {
    KivSpriteSetPos(sprite, static_cast<float>(frames), 10.0f);
    if (++frames == 10) KivEnd();
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
  EXPECT_GE(frames, 10);
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 320);
  const uint32_t want = Gradient(40, 20).pixels[0] & 0xFFFFFFu;
  bool seen = false;
  for (int x = 0; x < 40 && !seen; ++x) seen = (f.pixels[10 * 320 + x] & 0xFFFFFFu) == want;
  EXPECT_TRUE(seen) << "the sprite shows in the last presented frame";
  EXPECT_EQ(KivUninit(), 1);
}

}  // namespace

namespace {

// Render mode 5 keeps the blend as it is: after any other sprite that is
// alpha blending again, so it draws as mode 1 does.
TEST_F(GpuTest, RenderModeFiveKeepsTheBlendAlphaAfterAnAdditiveSprite) {
  ASSERT_TRUE(Start());
  Scene sc = MakeScene();
  ASSERT_NE(Load(sc.bg, 100), nullptr);
  KivSprite* add = Load(sc.disc, 50);
  KivSprite* five = Load(sc.disc, 40);
  ASSERT_TRUE(add && five);
  KivSpriteSetPos(add, 10.0f, 10.0f);
  KivSpriteSetRenderMode(add, 2);
  KivSpriteSetPos(five, 150.0f, 60.0f);
  KivSpriteSetRenderMode(five, 1);
  ASSERT_EQ(KivRenderFrame(), 1);
  const plat::Frame asOne = Shown();
  KivSpriteSetRenderMode(five, 5);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(Shown().pixels, asOne.pixels);
}

// Without the effect module there is neither an effect nor the grid: the
// screen wave leaves the frame as it is.
TEST_F(GpuEffectTest, WithoutTheEffectModuleTheWaveDrawsTheFrameUnchanged) {
  params.mode |= KIV_MODE_SHADER;
  ASSERT_TRUE(Start());
  Scene sc = MakeScene();
  ASSERT_NE(Load(sc.bg, 100), nullptr);
  FrameAt(6000);
  const plat::Frame plain = Shown();
  std::snprintf(g_kiv->baseFolder, sizeof g_kiv->baseFolder, "%s", "/nonexistent");
  ASSERT_TRUE(Kiv3DCurrent(Ctx()));
  EXPECT_EQ(Kiv3DCreateEffectResources(Ctx()), 0);
  EXPECT_EQ(Ctx()->fx.available, 0u);
  EXPECT_FALSE(Ctx()->fx.gridReady);
  int priority = 50;
  const KivFxRaster wave{400, 1.0f, 1.0f};
  ASSERT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 1);
  FrameAt(6100);
  FrameAt(6200);
  EXPECT_EQ(Shown().pixels, plain.pixels);
  KivReleaseFxEffect(nullptr, KIV_FX_SCREEN);
}

// Full screen on a monitor away from the desktop's corner: the aspect
// rectangle is where it is on a monitor at (0, 0).
TEST_F(GpuTest, FullScreenOnAnOffsetMonitorKeepsTheAspectRectangle) {
  plat::SetHeadlessMonitors({{640, 100, 1280, 580}});
  ASSERT_TRUE(Start());
  ASSERT_NE(Load(kivtools::EncodeTga(Gradient(320, 180), 32), 100), nullptr);
  ASSERT_EQ(KivPlaceFullScreenWindow(g_kiv->soft, 1), 1);
  EXPECT_EQ(g_kiv->soft->monitor, (plat::Rect{640, 100, 1280, 580}));
  g_kiv->params.fullScreen = 1;
  g_kiv->soft->aspect = 1;
  KivSoftSetAspectRect(g_kiv->soft, 1);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(Ctx()->aspectRect, (plat::Rect{0, 60, 640, 420}));
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 640);
  ASSERT_EQ(f.height, 480);
  EXPECT_EQ(f.pixels[static_cast<size_t>(59) * 640 + 320] & 0xFFFFFFu, 0u);
  EXPECT_NE(f.pixels[static_cast<size_t>(60) * 640] & 0xFFFFFFu, 0u);
  plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
}

// An aspect change made on the window's side shows from the next frame on.
TEST_F(GpuTest, FullScreenAspectChangesFollowAtTheNextFrame) {
  plat::SetHeadlessMonitors({{0, 0, 640, 480}});
  ASSERT_TRUE(Start());
  ASSERT_NE(Load(kivtools::EncodeTga(Gradient(320, 180), 32), 100), nullptr);
  ASSERT_EQ(KivPlaceFullScreenWindow(g_kiv->soft, 1), 1);
  g_kiv->params.fullScreen = 1;
  struct Case {
    int aspect;
    plat::Rect rect;
  } cases[] = {{1, {0, 60, 640, 420}}, {2, {160, 150, 480, 330}}, {0, {0, 0, 640, 480}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.aspect);
    g_kiv->soft->aspect = c.aspect;
    KivSoftSetAspectRect(g_kiv->soft, 1);
    ASSERT_EQ(KivRenderFrame(), 1);
    EXPECT_EQ(Ctx()->aspectRect, c.rect);
    plat::Frame f = Shown();
    ASSERT_EQ(f.width, 640);
    ASSERT_EQ(f.height, 480);
    if (c.rect.top > 0) {
      EXPECT_EQ(f.pixels[static_cast<size_t>(c.rect.top - 1) * 640 + 320] & 0xFFFFFFu, 0u);
    }
    EXPECT_NE(f.pixels[static_cast<size_t>(c.rect.top) * 640 + c.rect.left] & 0xFFFFFFu, 0u);
  }
  plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
}

}  // namespace

namespace {

// Effects drawn over the screen by a node of the render list.
float g_fxWork[3];
int g_fxKind = 2;
int FxNode(void* core, void*) {
  Kiv3DSpriteFxDraw(static_cast<Kiv3DContext*>(core), g_fxKind, g_fxWork);
  return 1;
}

plat::Frame WithFx(GpuTest* t, KivRenderList* list, int kind, float a, float b, float c) {
  g_fxKind = kind;
  g_fxWork[0] = a;
  g_fxWork[1] = b;
  g_fxWork[2] = c;
  int token = 0;
  EXPECT_EQ(KivRenderInsert(list, &token, FxNode, 1), 1);
  EXPECT_EQ(KivRenderFrame(), 1);
  KivRenderRemoveNode(list, &token);
  return static_cast<plat::Window*>(g_kiv->window)->backend()->LastFrame();
}

// Radial blur: level 0 is the frame itself; a level blurs towards the centre.
TEST_F(GpuEffectTest, RadialBlurLevelZeroIsTheFrameItself) {
  params.mode |= KIV_MODE_SHADER;
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Ctx()->fx.available & kKiv3DFxRadialBlur);
  ASSERT_NE(Load(kivtools::EncodeTga(Checker(320, 180), 32), 100), nullptr);
  ASSERT_EQ(KivRenderFrame(), 1);
  const plat::Frame plain = Shown();
  const float cx = static_cast<float>((Ctx()->rtWidth - 320) / 2 + 160);
  const float cy = static_cast<float>((Ctx()->rtHeight - 180) / 2 + 90);
  EXPECT_EQ(WithFx(this, list, 2, cx, cy, 0.0f).pixels, plain.pixels);
  const plat::Frame blurred = WithFx(this, list, 2, cx, cy, 0.3f);
  EXPECT_NE(blurred.pixels, plain.pixels);
  // The centre itself does not move.
  EXPECT_EQ(blurred.pixels[90 * 320 + 160], plain.pixels[90 * 320 + 160]);
}

// The RASTER effect moves pixels as the vertex grid does: the two frames of
// one wave are near each other (and both far from the unwaved frame).
TEST_F(GpuEffectTest, RasterEffectIsNearTheGridWave) {
  std::vector<plat::Frame> frames;
  for (bool shaders : {true, false}) {
    if (shaders) {
      params.mode |= KIV_MODE_SHADER;
    } else {
      params.mode &= ~KIV_MODE_SHADER;
    }
    ASSERT_TRUE(Start());
    EXPECT_EQ((Ctx()->fx.available & kKiv3DFxRaster) != 0, shaders);
    ASSERT_NE(Load(kivtools::EncodeTga(Gradient(320, 180), 32), 100), nullptr);
    ASSERT_EQ(KivRenderFrame(), 1);
    if (frames.empty()) frames.push_back(Shown());
    frames.push_back(WithFx(this, list, 1, 0.25f, 0.3f, 0.2f));
    Release();
    KivUninit();
  }
  auto meanDiff = [](const plat::Frame& a, const plat::Frame& b) {
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
      for (int sh = 0; sh < 24; sh += 8)
        sum += std::abs(static_cast<int>((a.pixels[i] >> sh) & 0xFF) - static_cast<int>((b.pixels[i] >> sh) & 0xFF));
    return sum / (a.pixels.size() * 3.0);
  };
  const double shaderToGrid = meanDiff(frames[1], frames[2]);
  const double gridToPlain = meanDiff(frames[2], frames[0]);
  std::printf("raster: shader to grid %.2f, grid to plain %.2f\n", shaderToGrid, gridToPlain);
  if (const char* dump = std::getenv("KIV_PARITY_DUMP")) {
    for (int i = 0; i < 3; ++i)
      plat::CapturePng(std::string(dump) + "/raster_" + std::to_string(i) + ".png", frames[i].pixels.data(),
                       frames[i].width, frames[i].height, frames[i].width);
  }
  EXPECT_GT(gridToPlain, 1.0) << "the wave moved the frame";
  EXPECT_LT(shaderToGrid, gridToPlain / 2) << "the shader waves as the grid does";
}

}  // namespace
