// The software renderer as a player sees it: scenes of sprites decoded from
// our own encoder's images, drawn by the render pass into the headless
// window, checked pixel by pixel against the blend rules, plus the blitter
// variants, the rotate-and-scale path, the cross-fade combine, the Fx draw,
// present into the aspect rectangle, the focus watch and a golden frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/blend_reference.h"
#include "support/engine_fixture.h"
#include "image_encoder.h"
#include "platform/window/display.h"
#include "platform/core/error.h"
#include "platform/window/png_capture.h"
#include "support/golden_frame.h"
#include "support/release_render_list.h"
#include "task/render_list.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

using namespace kivtest;
using kivtools::Image;

namespace {

// ---------------------------------------------------------------- reference rules


uint32_t Ref(int mode, uint32_t d, uint32_t p, uint32_t k) {
  switch (mode) {
    case 0: return p;
    case 2: return RefAdd(d, p, k);
    case 3: return RefMultiply(d, p, k);
    default: return RefBlend(d, p, k);
  }
}

Image Solid(int w, int h, uint32_t px) { return Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, px)}; }

// A picture whose every pixel differs, with integer colours only.
Image Pattern(int w, int h, uint32_t alphaMask = 0xFF000000u) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.pixels[static_cast<size_t>(y) * w + x] =
          alphaMask | static_cast<uint32_t>((x * 7 + y * 3) & 0xFF) << 16 | static_cast<uint32_t>((y * 11) & 0xFF) << 8 |
          static_cast<uint32_t>((x * 5 + 9) & 0xFF);
  return img;
}

class SoftRenderTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Start();
  }
  void Start() {
    ASSERT_EQ(KivInit(&params), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    screen = g_kiv->soft;
    window = static_cast<plat::Window*>(KivGetWindowHandle());
  }
  void TearDown() override {
    if (g_kiv) {
      kivtest::ReleaseRenderList(list);  // sprites a test left in the list go with it
    }
    g_kivSpriteFx = KivSpriteFxHooks{nullptr, nullptr};
    EngineTest::TearDown();
  }
  // A sprite from a GE image (method 1: lossless).
  KivSprite* Sprite(const Image& img, int priority = 0) {
    kivtools::GeOptions o;
    o.method = 1;
    std::vector<uint8_t> ge = kivtools::EncodeGe(img, o);
    return KivSpriteLoadMemory(list, "test", ge.data(), static_cast<int>(ge.size()), priority);
  }
  void Frame() { ASSERT_EQ(KivRenderFrame(), 1); }
  uint32_t At(int x, int y) const { return screen->backBuffer[static_cast<size_t>(y) * screen->width + x]; }
  plat::Frame Shown() { return window->backend()->LastFrame(); }

  KivRenderList* list = nullptr;
  KivSoftScreen* screen = nullptr;
  plat::Window* window = nullptr;
};

// ---------------------------------------------------------------- blitters

TEST(SoftBlitters, EveryModeFollowsItsRuleAtChosenPoints) {
  // Blend of an opaque pixel over black with a white colour: o = 254.
  uint32_t d = 0xFF000000u;
  KivSoftBlitRect(1, std::vector<uint32_t>{0xFF804020u}.data(), 1, &d, 1, 1, 1, 0xFFFFFFFFu);
  EXPECT_EQ(d, 0xFF7E3E1Eu);
  // Half-transparent red, colour alpha 0x80: o = (0x80 * 0x80) >> 8 = 64.
  d = 0xFF0000FFu;
  const uint32_t red = 0x80FF0000u;
  KivSoftBlitRect(1, &red, 1, &d, 1, 1, 1, 0x80FFFFFFu);
  EXPECT_EQ(d, 0xFF3F00BFu);  // r = (254*64)>>8 = 63, b = (255*192)>>8 = 191
  // Add: 200 + 255*128/256*255/256 = 200 + 126 -> 255; alpha of the target stays.
  d = 0x40C8C8C8u;
  const uint32_t grey = 0x80FFFFFFu;
  KivSoftBlitRect(2, &grey, 1, &d, 1, 1, 1, 0xFF000000u);
  EXPECT_EQ(d, 0x40FFFFFFu);
  // Multiply: t = 255*255/256*255 >> 8 = 253; d = 253*200/256 = 197.
  d = 0x11C8C8C8u;
  const uint32_t white = 0xFFFFFFFFu;
  KivSoftBlitRect(3, &white, 1, &d, 1, 1, 1, 0xFF123456u);
  EXPECT_EQ(d, 0x11C5C5C5u);
  // A transparent source pixel changes nothing in modes 1-3.
  for (int mode = 1; mode <= 3; ++mode) {
    d = 0x12345678u;
    const uint32_t clear = 0x00FFFFFFu;
    KivSoftBlitRect(mode, &clear, 1, &d, 1, 1, 1, 0xFFFFFFFFu);
    EXPECT_EQ(d, 0x12345678u) << mode;
  }
}

TEST(SoftBlitters, PlainAndVectorVariantsMatchTheRulesExactly) {
  std::mt19937 rng(7);
  const int w = 37, h = 5;  // odd width: vector bodies and their tails
  for (int round = 0; round < 60; ++round) {
    std::vector<uint32_t> src(w * h), dst(w * h);
    for (auto& p : src) {
      p = rng();
      if (rng() % 4 == 0) p &= 0x00FFFFFFu;  // transparent
      if (rng() % 4 == 0) p |= 0xFF000000u;  // opaque
    }
    for (auto& p : dst) p = rng();
    const uint32_t k = round % 3 == 0 ? 0xFFFFFFFFu : rng();
    for (int mode = 0; mode <= 3; ++mode) {
      std::vector<uint32_t> expect = dst;
      for (size_t i = 0; i < expect.size(); ++i) expect[i] = Ref(mode, dst[i], src[i], k);
      for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
        std::vector<uint32_t> got = dst;
        KivSoftBlitRect(mode, src.data(), w, got.data(), w, w, h, k, v);
        ASSERT_EQ(got, expect) << "mode " << mode << " variant " << static_cast<int>(v) << " round " << round;
      }
    }
  }
}

TEST(SoftBlitters, RippleShiftsRowsByTheSineOfTheirIndex) {
  const int w = 100, h = 400;
  std::vector<uint32_t> src(w * h);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint32_t>(i);
  std::vector<uint32_t> dst = src;
  // hx = trunc(1 * 100 * 0.1) = 10; row 128 has sine 1, row 384 sine -1.
  KivPixelRipple(src.data(), dst.data(), w, h, 0.0f, 1.0f, 0.0f);
  for (int j = 0; j < w; ++j) {
    EXPECT_EQ(dst[0 * w + j], src[0 * w + j]);
    EXPECT_EQ(dst[128 * w + j], j + 10 < w ? src[128 * w + j + 10] : src[128 * w + j]) << j;
    EXPECT_EQ(dst[384 * w + j], j - 10 >= 0 ? src[384 * w + j - 10] : src[384 * w + j]) << j;
  }
  EXPECT_EQ(KivSine16()[1], 804);
  EXPECT_EQ(KivSine16()[128], 65536);
  EXPECT_EQ(KivSine16()[384], -65536);
}

// ---------------------------------------------------------------- the plain path

TEST_F(SoftRenderTest, OpaqueSpriteBlendsAtItsPositionAndClipsAtTheEdges) {
  Image img = Pattern(300, 60);
  KivSprite* s = Sprite(img);
  ASSERT_NE(s, nullptr);
  KivRect r{100, 0, 200, 50};
  KivSpriteSetRect(s, &r);
  KivSpriteSetPos(s, -10.0f, 20.0f);
  Frame();
  // Columns 110..199 of the picture land at x = 0..89.
  for (int x = 0; x < 95; ++x) {
    for (int y : {19, 20, 45, 69, 70}) {
      uint32_t expect = 0xFF000000u;
      if (x < 90 && y >= 20 && y < 70) expect = RefBlend(0xFF000000u, img.pixels[(y - 20) * 300 + 110 + x], 0xFFFFFFFFu);
      ASSERT_EQ(At(x, y), expect) << x << "," << y;
    }
  }
  // Off the bottom-right corner: only the part inside is drawn.
  KivSpriteSetPos(s, 300.0f, 170.0f);
  KivSpriteSetOffsetPos(s, 5, 0);
  Frame();
  EXPECT_EQ(At(304, 175), 0xFF000000u);
  EXPECT_EQ(At(305, 170), RefBlend(0xFF000000u, img.pixels[0 * 300 + 100], 0xFFFFFFFFu));
  EXPECT_EQ(At(319, 179), RefBlend(0xFF000000u, img.pixels[9 * 300 + 114], 0xFFFFFFFFu));
  // A source rectangle past the picture draws only the pixels that exist.
  KivRect past{280, 50, 400, 90};
  KivSpriteSetRect(s, &past);
  KivSpriteSetPos(s, 0.0f, 0.0f);
  KivSpriteSetOffsetPos(s, 0, 0);
  Frame();
  EXPECT_EQ(At(19, 9), RefBlend(0xFF000000u, img.pixels[59 * 300 + 299], 0xFFFFFFFFu));
  EXPECT_EQ(At(20, 9), 0xFF000000u);
  EXPECT_EQ(At(0, 10), 0xFF000000u);
}

// A large sprite drawn over the clear colour again comes out the same from
// the kept result, and follows its pixels, its colour, its place and the
// clear colour as soon as any of them changes.
TEST_F(SoftRenderTest, ALargeSpriteRedrawnOverTheClearColourFollowsEveryChange) {
  Image img = Pattern(300, 160);
  KivSprite* s = Sprite(img);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 10.0f, 5.0f);
  auto expectFrame = [&](uint32_t clear, uint32_t colour, int px, int py, const std::vector<uint32_t>& pixels) {
    for (int y = 0; y < 180; y += 7)
      for (int x = 0; x < 320; x += 3) {
        uint32_t expect = clear;
        if (x >= px && x < px + 300 && y >= py && y < py + 160)
          expect = RefBlend(clear, pixels[(y - py) * 300 + (x - px)], colour);
        ASSERT_EQ(At(x, y), expect) << x << "," << y;
      }
  };
  for (int round = 0; round < 2; ++round) {
    Frame();
    expectFrame(0xFF000000u, 0xFFFFFFFFu, 10, 5, img.pixels);
  }
  int w = 0, h = 0;
  uint32_t* px = KivSpriteLock(s, &w, &h);
  ASSERT_NE(px, nullptr);
  px[0] = 0xFF10E020u;
  KivSpriteUnlock(s);
  img.pixels[0] = 0xFF10E020u;
  Frame();
  expectFrame(0xFF000000u, 0xFFFFFFFFu, 10, 5, img.pixels);
  KivSpriteSetColor(s, 0xC080FF40u);
  Frame();
  expectFrame(0xFF000000u, 0xC080FF40u, 10, 5, img.pixels);
  KivSpriteSetPos(s, 12.0f, 9.0f);
  Frame();
  expectFrame(0xFF000000u, 0xC080FF40u, 12, 9, img.pixels);
  g_kiv->clearColour = 0xFF203040u;
  Frame();
  expectFrame(0xFF203040u, 0xC080FF40u, 12, 9, img.pixels);
  g_kiv->clearColour = 0xFF000000u;
}

TEST_F(SoftRenderTest, ColourAndModesGiveTheRuleAtEveryPixel) {
  // Background, then three sprites over it in modes 1, 2 and 3.
  Image bg = Pattern(320, 180);
  Image fg = Pattern(64, 32, 0);
  for (size_t i = 0; i < fg.pixels.size(); ++i) fg.pixels[i] |= static_cast<uint32_t>((i * 37) & 0xFF) << 24;
  KivSprite* back = Sprite(bg, 100);
  KivSprite* blend = Sprite(fg, 50);
  KivSprite* add = Sprite(fg, 40);
  KivSprite* mul = Sprite(fg, 30);
  ASSERT_TRUE(back && blend && add && mul);
  KivSpriteSetColor(blend, 0xC080FF40u);
  KivSpriteSetPos(blend, 10.0f, 10.0f);
  KivSpriteSetColor(add, 0x90000000u);
  KivSpriteSetRenderMode(add, 2);
  KivSpriteSetPos(add, 100.0f, 10.0f);
  KivSpriteSetColor(mul, 0xFF00FF00u);
  KivSpriteSetRenderMode(mul, 3);
  KivSpriteSetPos(mul, 200.0f, 10.0f);
  Frame();
  Frame();  // the first frame of a screen copies its first sprite (below)
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 300; ++x) {
      uint32_t expect = RefBlend(0xFF000000u, bg.pixels[y * 320 + x], 0xFFFFFFFFu);
      struct {
        int x0, mode;
        uint32_t k;
      } layers[] = {{10, 1, 0xC080FF40u}, {100, 2, 0x90000000u}, {200, 3, 0xFF00FF00u}};
      for (auto& l : layers)
        if (x >= l.x0 && x < l.x0 + 64 && y >= 10 && y < 42)
          expect = Ref(l.mode, expect, fg.pixels[(y - 10) * 64 + (x - l.x0)], l.k);
      ASSERT_EQ(At(x, y), expect) << x << "," << y;
    }
  }
  // The presented frame is the back buffer (same size, no scaling).
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 320);
  EXPECT_EQ(f.pixels[15 * 320 + 20], At(20, 15));
}

TEST_F(SoftRenderTest, RenderModeZeroCopiesOnlyUntilTheFirstSpriteDraw) {
  KivSprite* s = Sprite(Solid(4, 4, 0x80FF0000u));
  ASSERT_NE(s, nullptr);
  KivSpriteSetRenderMode(s, 0);
  Frame();
  EXPECT_EQ(At(0, 0), 0x80FF0000u) << "a fresh screen's blit mode is the copy";
  Frame();
  EXPECT_EQ(At(0, 0), RefBlend(0xFF000000u, 0x80FF0000u, 0xFFFFFFFFu)) << "then every mode-0 sprite blends";
  KivSpriteSetRenderMode(s, 7);  // any other value also draws as the blend
  Frame();
  EXPECT_EQ(At(0, 0), RefBlend(0xFF000000u, 0x80FF0000u, 0xFFFFFFFFu));
}

TEST_F(SoftRenderTest, HiddenSpritesAndNodeOrderFollowTheList) {
  KivSprite* a = Sprite(Solid(8, 8, 0xFFFF0000u), 5);
  KivSprite* b = Sprite(Solid(8, 8, 0xFF0000FFu), 1);
  ASSERT_TRUE(a && b);
  Frame();
  EXPECT_EQ(At(0, 0), RefBlend(RefBlend(0xFF000000u, 0xFFFF0000u, ~0u), 0xFF0000FFu, ~0u)) << "5 drawn first, 1 over it";
  KivSpriteViewCtrl(b, 0);
  Frame();
  EXPECT_EQ(At(0, 0), RefBlend(0xFF000000u, 0xFFFF0000u, ~0u));
}

// ---------------------------------------------------------------- the transform path

// Pixels that are not the clear colour, as (x, y) -> pixel.
std::vector<std::pair<int, int>> Drawn(const KivSoftScreen* s) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < s->height; ++y)
    for (int x = 0; x < s->width; ++x)
      if (s->backBuffer[static_cast<size_t>(y) * s->width + x] != 0xFF000000u) out.emplace_back(x, y);
  return out;
}

TEST_F(SoftRenderTest, HalfAndQuarterTurnsMoveEveryPixelExactly) {
  const int w = 12, h = 6;
  Image img = Pattern(w, h);
  KivSprite* s = Sprite(img);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 100.0f, 80.0f);
  // D = trunc(sqrt(144 + 36)) = 13, box 13 x 13 at (100 - 0, 80 - 3), centre 6.
  KivSpriteSetRotate(s, 256);
  Frame();
  auto drawn = Drawn(screen);
  ASSERT_EQ(drawn.size(), static_cast<size_t>(w * h));
  // Half turn: box (bx, by) shows source (12 - bx, 6 - by) + ... = (w/2 - (bx - 6), h/2 - (by - 6)).
  for (auto [x, y] : drawn) {
    const int bx = x - 100, by = y - 77;
    const int sx = 6 - (bx - 6), sy = 3 - (by - 6);
    ASSERT_TRUE(sx >= 0 && sx < w && sy >= 0 && sy < h) << x << "," << y;
    ASSERT_EQ(At(x, y), RefBlend(0xFF000000u, img.pixels[sy * w + sx], ~0u));
  }
  // Quarter turn (128), counter-clockwise on screen: a box step right is a
  // source step down.
  KivSpriteSetRotate(s, 128);
  Frame();
  drawn = Drawn(screen);
  ASSERT_EQ(drawn.size(), static_cast<size_t>(w * h));
  for (auto [x, y] : drawn) {
    const int bx = x - 100 - 6, by = y - 77 - 6;
    const int sx = 6 - by, sy = 3 + bx;
    ASSERT_TRUE(sx >= 0 && sx < w && sy >= 0 && sy < h) << x << "," << y;
    ASSERT_EQ(At(x, y), RefBlend(0xFF000000u, img.pixels[sy * w + sx], ~0u));
  }
}

TEST_F(SoftRenderTest, DoubleScaleMakesEachPixelATwoByTwoBlockAndZeroDrawsNothing) {
  const int w = 8, h = 6;
  Image img = Pattern(w, h);
  KivSprite* s = Sprite(img);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 50.0f, 50.0f);
  KivSpriteSetScale(s, 2.0f);
  Frame();
  // D = 10, S = 20, box at (50 - 6, 50 - 7); source = floor((b - 10) / 2) + (4, 3).
  auto drawn = Drawn(screen);
  EXPECT_EQ(drawn.size(), static_cast<size_t>(4 * w * h));
  for (int by = 0; by < 20; ++by)
    for (int bx = 0; bx < 20; ++bx) {
      const int sx = ((bx - 10) >> 1) + 4, sy = ((by - 10) >> 1) + 3;
      const uint32_t expect = (sx >= 0 && sx < w && sy >= 0 && sy < h) ? RefBlend(0xFF000000u, img.pixels[sy * w + sx], ~0u)
                                                                      : 0xFF000000u;
      ASSERT_EQ(At(44 + bx, 43 + by), expect) << bx << "," << by;
    }
  for (float zero : {0.0f, 0.01f, -1.0f, NAN}) {
    KivSpriteSetScale(s, zero);
    Frame();
    EXPECT_TRUE(Drawn(screen).empty()) << zero;
  }
}

TEST_F(SoftRenderTest, TransformCopyModeWritesTheTransparentCornersToo) {
  KivSprite* first = Sprite(Solid(4, 4, 0xFFFFFFFFu));
  ASSERT_NE(first, nullptr);
  KivSpriteSetRenderMode(first, 0);
  KivSpriteSetRotate(first, 64);
  KivSpriteSetPos(first, 10.0f, 10.0f);
  Frame();
  // The box (5 x 5 at (10 - 0, 10 - 0)) is copied whole: its corners are 0.
  EXPECT_EQ(At(10, 10), 0x00000000u);
  EXPECT_EQ(At(12, 12), 0xFFFFFFFFu);
}

class BigScreenTest : public SoftRenderTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 2100;
    params.clientHeight = params.screenHeight = 2100;
    Start();
  }
};

TEST_F(BigScreenTest, ARotatedSpriteWiderThanTheBoxIsCutAt2048) {
  KivSprite* s = Sprite(Solid(1500, 1500, 0xFFFFFFFFu));
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 300.0f, 300.0f);
  KivSpriteSetRotate(s, 64);  // an eighth of a turn: diagonal 2121 > 2048
  Frame();
  int minX = INT32_MAX, maxX = -1, minY = INT32_MAX, maxY = -1;
  for (auto [x, y] : Drawn(screen)) {
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  // The 2048 box starts at 300 - (2048 - 1500) / 2 = 26.
  EXPECT_EQ(minX, 26);
  EXPECT_EQ(maxX, 26 + 2047);
  EXPECT_EQ(minY, 26);
  EXPECT_EQ(maxY, 26 + 2047);
  EXPECT_EQ(At(26, 26), 0xFF000000u) << "the box corner is outside the turned square";
  EXPECT_EQ(At(26, 26 + 1024), RefBlend(0xFF000000u, 0xFFFFFFFFu, ~0u)) << "the square's corner is cut";
}

// ---------------------------------------------------------------- cross-fade combine

TEST_F(SoftRenderTest, CrossFadeCombinesTwoPicturesCentredOnTheIncoming) {
  Image in = Pattern(20, 10);
  Image out = Solid(10, 10, 0xFF204060u);
  for (int x = 0; x < 10; ++x) out.pixels[x] &= 0x00FFFFFFu;  // a transparent top row
  KivSprite* a = Sprite(in, 3);
  KivSprite* b = Sprite(out, 3);
  ASSERT_TRUE(a && b);
  KivSpriteSetPos(a, 40.0f, 20.0f);
  KivSpriteSetPos(b, 0.0f, 0.0f);  // the outgoing position is not used
  KivTransition* t = KivSpriteCreateTransitionHandle();
  g_kiv->frameTime = 1000;
  ASSERT_EQ(KivSpriteSetTransition(list, a, b, 1, 1000, 1000, t), 1);
  g_kiv->frameTime = 1250;  // p = 0.25: alphas 63 and 192
  Frame();
  EXPECT_EQ(KivSpriteGetTransitionState(t), 1);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      const uint32_t pi = in.pixels[y * 20 + x];
      const bool hasOut = x >= 5 && x < 15;  // centred in the wider picture
      const uint32_t po = hasOut ? out.pixels[y * 10 + x - 5] : 0u;
      ASSERT_EQ(At(40 + x, 20 + y), RefBlend(0xFF000000u, RefCombine(pi, po, 63, 192), 0xFFFFFFFFu)) << x << "," << y;
    }
  }
  // Different heights are combined too: the outgoing picture 10 x 6 is
  // centred on the incoming one at (45, 22), by halves rounded down.
  KivRect shorter{0, 4, 10, 10};
  KivSpriteSetRect(b, &shorter);
  Frame();
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      const uint32_t pi = in.pixels[y * 20 + x];
      const bool hasOut = x >= 5 && x < 15 && y >= 2 && y < 8;
      const uint32_t po = hasOut ? out.pixels[(y - 2 + 4) * 10 + x - 5] : 0u;
      ASSERT_EQ(At(40 + x, 20 + y), RefBlend(0xFF000000u, RefCombine(pi, po, 63, 192), 0xFFFFFFFFu)) << x << "," << y;
    }
  }
  KivSpriteReleaseTransitionHandle(t);  // releases the outgoing sprite
  KivSpriteRelease(list, a);
}

// ---------------------------------------------------------------- Fx draw

float g_wave[3] = {0.0f, 0.0f, 0.0f};
const KivFxRequest* WaveProgress(void*, KivFxRequest* out) {
  out->kind = 1;
  out->work = g_wave;
  return out;
}

TEST_F(SoftRenderTest, FxDrawWavesTheSpriteThroughTheScreenBuffers) {
  Image img = Pattern(100, 140, 0xC0000000u);
  KivSprite* s = Sprite(img);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 10.0f, 5.0f);
  s->fx = KivMemoryAlloc(sizeof(KivFxEffect), 1);  // an idle record of the effect module; freed with the sprite
  g_kivSpriteFx.progress = WaveProgress;
  // Without amplitude the effect draw equals the plain draw.
  g_wave[0] = g_wave[1] = g_wave[2] = 0.0f;
  Frame();
  Frame();
  std::vector<uint32_t> plain(screen->backBuffer, screen->backBuffer + 320 * 180);
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 320; ++x) {
      const bool in = x >= 10 && x < 110 && y >= 5 && y < 145;
      ASSERT_EQ(plain[y * 320 + x], in ? RefBlend(0xFF000000u, img.pixels[(y - 5) * 100 + x - 10], ~0u) : 0xFF000000u);
    }
  // A horizontal wave at phase 0, amplitude 1: each row moves by the GPU
  // renderer's grid over its 512 x 256 render target (the screen at (96,
  // 38) in it; rows of vertices 16 pixels apart, 28 steps of the sine from
  // one to the next, a tenth of half the target's width at the sine's top),
  // linear between the rows of vertices; what comes in from outside the
  // screen is the background.
  g_wave[1] = 1.0f;
  Frame();
  int rowsChecked = 0, largest = 0;
  for (int y = 0; y < 180; ++y) {
    const double v = (y + 38 + 0.5) / 256.0 * 17;
    const int j = static_cast<int>(v);
    const double f = v - j;
    auto shift = [](int row) { return 0.05 * 512 * std::sin(2 * M_PI * (((row + 1) * 28) & 511) / 512.0); };
    const double S = shift(j) * (1 - f) + shift(j + 1) * f;
    if (std::fabs(S - std::floor(S) - 0.5) < 0.05) continue;  // a pixel centre on the edge
    const int k = static_cast<int>(std::lround(S));
    largest = std::max(largest, std::abs(k));
    ++rowsChecked;
    for (int x = 0; x < 320; ++x) {
      const int from = x - k;
      ASSERT_EQ(At(x, y), from >= 0 && from < 320 ? plain[y * 320 + from] : 0xFF000000u) << x << "," << y;
    }
  }
  EXPECT_GT(rowsChecked, 150);
  EXPECT_GE(largest, 20) << "the wave moved the rows";
  // Effects switched off: no request is asked for.
  KivEffectEnable(0);
  Frame();
  EXPECT_EQ(std::vector<uint32_t>(screen->backBuffer, screen->backBuffer + 320 * 180), plain);
  KivEffectEnable(1);
}

// ---------------------------------------------------------------- surfaces

TEST_F(SoftRenderTest, SurfaceTableCountsEntriesAndRefusesWhenFull) {
  const int live = KivMemoryLive();
  std::vector<KivSoftSurface*> made;
  for (int i = 0; i < screen->surfaceCapacity; ++i) {
    made.push_back(KivSoftSurfaceCreate(screen, 2, 2));
    ASSERT_NE(made.back(), nullptr);
  }
  EXPECT_EQ(screen->surfacesUsed, screen->surfaceCapacity);
  EXPECT_EQ(KivSoftSurfaceCreate(screen, 2, 2), nullptr);
  EXPECT_EQ(KivSpriteCreate(list, 2, 2, 0), nullptr);
  EXPECT_EQ(KivSoftSurfaceRelease(screen, made[3]), 1);
  KivSoftSurface* again = KivSoftSurfaceCreate(screen, 3, 1);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->entry, &screen->surfaces[3]) << "the first free entry is taken";
  made[3] = again;
  // Pixel reads outside give -1; copies go by the smaller size.
  KivSoftFill(KivSoftSurfacePixels(made[0], nullptr, nullptr), 4, 0x01020304u);
  EXPECT_EQ(KivSoftSurfaceReadPixel(made[0], 1, 1), 0x01020304);
  EXPECT_EQ(KivSoftSurfaceReadPixel(made[0], 2, 0), -1);
  EXPECT_EQ(KivSoftSurfaceReadPixel(made[0], 0, -1), -1);
  EXPECT_EQ(KivSoftSurfaceCopyPixels(made[0], made[3]), 1);
  EXPECT_EQ(KivSoftSurfaceReadPixel(made[3], 2, 0), 0x01020304);
  for (auto* s : made) EXPECT_EQ(KivSoftSurfaceRelease(screen, s), 1);
  EXPECT_EQ(screen->surfacesUsed, 0);
  EXPECT_EQ(KivMemoryLive(), live);
}

// ---------------------------------------------------------------- present, aspect, focus

TEST(AspectRect, FitsTheLogicalScreenToTheMonitorInEveryMode) {
  // A 1280 x 720 screen; the quotients k and m are single precision, so 9 x m
  // on a 1920 x 1200 monitor truncates to 479 (bottom 1199, not 1200).
  struct Row {
    plat::Rect monitor;
    plat::Rect view[4];  // modes 0-3
  } rows[] = {
      {{0, 0, 1920, 1200}, {{0, 0, 1920, 1200}, {0, 60, 1920, 1140}, {320, 240, 1600, 960}, {-107, 0, 2026, 1199}}},
      {{0, 0, 1280, 1024}, {{0, 0, 1280, 1024}, {0, 152, 1280, 872}, {0, 152, 1280, 872}, {-270, 0, 1550, 1024}}},
      {{0, 0, 1024, 768}, {{0, 0, 1024, 768}, {0, 96, 1024, 672}, {-128, 24, 1152, 744}, {-171, 0, 1194, 768}}},
      {{0, 0, 800, 600}, {{0, 0, 800, 600}, {0, 75, 800, 525}, {-240, -60, 1040, 660}, {-134, -1, 933, 600}}},
      {{0, 0, 2560, 1080}, {{0, 0, 2560, 1080}, {320, 0, 2240, 1080}, {640, 180, 1920, 900}, {0, -180, 2560, 1260}}},
  };
  struct Case {
    plat::Rect monitor;
    int mode;
    plat::Rect view;
  };
  std::vector<Case> cases;
  for (const Row& r : rows)
    for (int mode = 0; mode < 4; ++mode) cases.push_back({r.monitor, mode, r.view[mode]});
  for (const Case& c : cases) {
    plat::Rect v;
    ASSERT_TRUE(KivAspectRect(1280, 720, c.monitor, c.mode, true, 640, 360, &v));
    EXPECT_EQ(v, c.view) << c.monitor.width() << "x" << c.monitor.height() << " mode " << c.mode;
  }
  plat::Rect v{1, 2, 3, 4};
  ASSERT_TRUE(KivAspectRect(1280, 720, {0, 0, 1920, 1200}, 3, false, 640, 360, &v));
  EXPECT_EQ(v, (plat::Rect{0, 0, 640, 360})) << "windowed: the client area";
  std::string out;
  plat::SetDebugOutputSink([&](std::string_view s) { out.append(s); });
  EXPECT_FALSE(KivAspectRect(1280, 720, {0, 0, 1920, 1200}, 4, true, 640, 360, &v));
  plat::SetDebugOutputSink(nullptr);
  EXPECT_EQ(out, "SetAspectRect : Invalid Prameter");
  EXPECT_EQ(v, (plat::Rect{0, 0, 640, 360}));
  EXPECT_EQ(KivGcd(1280, 720), 80);
  EXPECT_EQ(KivGcd(7, 0), 7);
}

TEST_F(SoftRenderTest, FullScreenPresentsIntoTheAspectRectangle) {
  plat::SetHeadlessMonitors({{0, 0, 640, 480}});
  KivSprite* s = Sprite(Solid(320, 180, 0xFF3366CCu));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(KivPlaceFullScreenWindow(screen, 1), 1);
  EXPECT_TRUE(window->backend()->FullScreen());
  EXPECT_EQ(window->backend()->ClientRectOnScreen(), (plat::Rect{0, 0, 640, 480})) << "covers the monitor";
  screen->aspect = 1;
  KivSoftSetAspectRect(screen, 1);
  EXPECT_EQ(screen->view, (plat::Rect{0, 60, 640, 420}));
  EXPECT_EQ(screen->wholeClient, 0);
  EXPECT_EQ(g_kiv->view, screen->view);
  Frame();
  plat::Frame f = Shown();
  ASSERT_EQ(f.width, 640);
  ASSERT_EQ(f.height, 480);
  const uint32_t shown = RefBlend(0xFF000000u, 0xFF3366CCu, ~0u);
  EXPECT_EQ(f.pixels[59 * 640 + 320], 0xFF000000u) << "bars above";
  EXPECT_EQ(f.pixels[60 * 640 + 0], shown);
  EXPECT_EQ(f.pixels[419 * 640 + 639], shown);
  EXPECT_EQ(f.pixels[420 * 640 + 320], 0xFF000000u) << "and below";
  // Back to the window: the whole client area again.
  ASSERT_EQ(KivPlaceFullScreenWindow(screen, 0), 1);
  EXPECT_FALSE(window->backend()->FullScreen());
  EXPECT_EQ(screen->wholeClient, 1);
  EXPECT_EQ(screen->view, (plat::Rect{0, 0, 320, 180})) << "the windowed client size comes back";
  plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
}

TEST_F(SoftRenderTest, FocusWatchLeavesFullScreenWhenSwitchedAwayAndReturns) {
  plat::WindowBackend* b = window->backend();
  ASSERT_EQ(KivSoftChangeDisplayMode(screen, 1920, 1080, 1), 1);
  EXPECT_TRUE(b->FullScreen());
  EXPECT_EQ(screen->displayModeChanged.load(), 1);
  EXPECT_EQ(KivSoftChangeDisplayMode(screen, 0, 1080, 1), 0) << "no display shows a 0-wide mode";
  // The window thread handles the switch away (this test is its thread).
  window->CallProc(plat::kMsgActivate, 0, 0);
  EXPECT_TRUE(b->Iconic());
  EXPECT_FALSE(b->FullScreen());
  EXPECT_EQ(screen->displayModeChanged.load(), 0);
  EXPECT_EQ(screen->minimisedByWatch.load(), 1);
  window->CallProc(plat::kMsgActivate, 1, 0);
  EXPECT_FALSE(b->Iconic());
  EXPECT_TRUE(b->FullScreen());
  EXPECT_EQ(screen->displayModeChanged.load(), 1);
  EXPECT_EQ(screen->minimisedByWatch.load(), 0);
  // A windowed screen is left alone.
  KivSoftChangeDisplayMode(screen, 1920, 1080, 0);
  window->CallProc(plat::kMsgActivate, 0, 0);
  EXPECT_FALSE(b->Iconic());
  EXPECT_EQ(screen->minimisedByWatch.load(), 0);
}

TEST_F(SoftRenderTest, APresentToAClosedWindowIsReportedAsFailure) {
  std::string out;
  plat::SetDebugOutputSink([&](std::string_view s) { out.append(s); });
  plat::Window* w = screen->window;
  screen->window = nullptr;
  EXPECT_EQ(KivSoftPresent(screen), 1);
  screen->window = w;
  plat::SetDebugOutputSink(nullptr);
  EXPECT_EQ(screen->presentFailed, 1);
  EXPECT_NE(out.find("Present : Error"), std::string::npos);
  EXPECT_EQ(KivSoftPresent(screen), 0);
}

// ---------------------------------------------------------------- golden frame

// A small scene of every path: a background, alpha, additive and
// multiplicative sprites, colour, offsets, a cell, scale and rotation. Set
// KIV_UPDATE_GOLDEN=1 to write the reviewed picture anew.
TEST_F(SoftRenderTest, SceneMatchesTheGoldenFrame) {
  Image bg{320, 180, std::vector<uint32_t>(320 * 180)};
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 320; ++x)
      bg.pixels[y * 320 + x] = 0xFF000000u | static_cast<uint32_t>(40 + x * 150 / 319) << 16 |
                               static_cast<uint32_t>(60 + y * 120 / 179) << 8 | static_cast<uint32_t>(200 - y * 90 / 179);
  Image disc{64, 64, std::vector<uint32_t>(64 * 64)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const int d2 = (x - 32) * (x - 32) + (y - 32) * (y - 32);
      const int a = d2 >= 900 ? 0 : d2 <= 400 ? 255 : 255 * (900 - d2) / 500;
      disc.pixels[y * 64 + x] = static_cast<uint32_t>(a) << 24 | (0xF0C080u ^ static_cast<uint32_t>(x * 3 << 8));
    }
  kivtools::GeOptions o3;
  o3.method = 3;
  std::vector<uint8_t> bgFile = kivtools::EncodeGe(bg, o3);
  std::vector<uint8_t> discFile = kivtools::EncodeBmp(disc, 32);
  std::vector<uint8_t> sheetFile = kivtools::EncodeTga(Pattern(96, 32), 32);
  KivSprite* b = KivSpriteLoadMemory(list, "bg", bgFile.data(), static_cast<int>(bgFile.size()), 100);
  KivSprite* d1 = KivSpriteLoadMemory(list, "disc", discFile.data(), static_cast<int>(discFile.size()), 50);
  KivSprite* d2 = KivSpriteLoadMemory(list, "disc", discFile.data(), static_cast<int>(discFile.size()), 40);
  KivSprite* d3 = KivSpriteLoadMemory(list, "disc", discFile.data(), static_cast<int>(discFile.size()), 30);
  KivSprite* cell = KivSpriteLoadMemory(list, "sheet", sheetFile.data(), static_cast<int>(sheetFile.size()), 20);
  KivSprite* turned = KivSpriteLoadMemory(list, "sheet", sheetFile.data(), static_cast<int>(sheetFile.size()), 10);
  ASSERT_TRUE(b && d1 && d2 && d3 && cell && turned);
  KivSpriteSetPos(d1, 20.0f, 30.0f);
  KivSpriteSetColor(d1, 0xD0FFC080u);
  KivSpriteSetPos(d2, 90.0f, 30.0f);
  KivSpriteSetRenderMode(d2, 2);
  KivSpriteSetPos(d3, 160.0f, 30.0f);
  KivSpriteSetRenderMode(d3, 3);
  KivSpriteSetOffsetRect(cell, 32, 32);
  KivSpriteRectSetPos(cell, 1, 0);
  KivSpriteSetPos(cell, 240.0f, 20.0f);
  KivSpriteSetOffsetPos(cell, 4, 4);
  KivSpriteSetPos(turned, 200.0f, 120.0f);
  KivSpriteSetRotate(turned, 40);
  KivSpriteSetScale(turned, 1.25f);
  KivSpriteSetColor(turned, 0xC0FFFFFFu);
  Frame();
  Frame();
  plat::Frame f = Shown();
  expect_golden_frame("soft_scene.png", f.pixels.data(), f.width, f.height);
  // The capture round trip itself is exact in colour.
  const std::string tmp = ::testing::TempDir() + "/kiv_capture_check.png";
  ASSERT_TRUE(plat::CapturePng(tmp, f.pixels.data(), f.width, f.height, f.width));
  std::vector<uint32_t> back;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(tmp, &back, &gw, &gh));
  for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], f.pixels[i] | 0xFF000000u);
  std::remove(tmp.c_str());
}

}  // namespace
