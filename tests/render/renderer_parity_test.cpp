// The software and the GPU renderer show one picture: each place where the
// two once drew a scene differently, drawn on both and measured in the
// captured frames (sprite copies out of a sheet, sub-pixel positions, the
// two-sprite cross-fade, text sprite sizes, filters on a padded picture,
// the capture after a full-window movie, the raster wave on a sprite and on the screen).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image_encoder.h"
#include "platform/window/png_capture.h"
#include "effect/effect.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "render/pixel_routines.h"
#include "sprite/sprite.h"
#include "support/gpu_fixture.h"
#include "task/render_list.h"

namespace {

using kivtools::Image;

enum class Side { kSoft, kGpuShader, kGpuGrid };
const char* Name(Side s) { return s == Side::kSoft ? "soft" : s == Side::kGpuShader ? "gpu-shader" : "gpu-grid"; }

Image Solid(int w, int h, uint32_t argb) { return Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, argb)}; }

uint32_t Px(const plat::Frame& f, int x, int y) { return f.pixels[static_cast<size_t>(y) * f.width + x] & 0xFFFFFFu; }

int Channel(uint32_t p, int sh) { return static_cast<int>((p >> sh) & 0xFF); }

int WorstChannel(uint32_t a, uint32_t b) {
  int w = 0;
  for (int sh = 0; sh < 24; sh += 8) w = std::max(w, std::abs(Channel(a, sh) - Channel(b, sh)));
  return w;
}

class RendererParityTest : public kivtest::GpuEngineTest {
 protected:
  // One frame of the scene that build() makes, drawn at frame time t on the
  // given side (the sprites go with the engine afterwards).
  plat::Frame Draw(Side side, const std::function<void()>& build, uint32_t t = 1000,
                   const std::function<void()>& before = nullptr, const std::function<void()>& after = nullptr) {
    if (side == Side::kSoft) params.mode &= ~KIV_MODE_GPU;
    else params.mode |= KIV_MODE_GPU;
    if (side == Side::kGpuGrid) params.mode &= ~KIV_MODE_SHADER;
    else params.mode |= KIV_MODE_SHADER;
    plat::Frame f;
    EXPECT_TRUE(Start());
    if (!g_kiv) return f;
    EXPECT_EQ(Kiv3DIs() != 0, side != Side::kSoft);
    if (side != Side::kSoft) {
      EXPECT_EQ((Ctx()->fx.available & kKiv3DFxRaster) != 0, side == Side::kGpuShader);
    }
    build();
    if (before) {
      g_kiv->frameTime = t - 100;
      before();
    }
    g_kiv->frameTime = t;
    EXPECT_EQ(KivRenderFrame(), 1);
    f = Shown();
    if (after) after();
    Release();
    KivUninit();
    return f;
  }
  KivSprite* Sprite(const Image& img, int priority = 0) { return Load(kivtools::EncodeTga(img, 32), priority); }
  // Writes both frames and a difference image when the test failed.
  void DumpOnFailure(const std::string& name, const plat::Frame& a, const plat::Frame& b) {
    if (!HasFailure() && !std::getenv("KIV_PARITY_DUMP")) return;
    const std::string dir = std::getenv("KIV_PARITY_DUMP") ? std::getenv("KIV_PARITY_DUMP") : "/tmp";
    std::vector<uint32_t> diff(a.pixels.size());
    for (size_t i = 0; i < diff.size() && i < b.pixels.size(); ++i) {
      const uint32_t d = static_cast<uint32_t>(std::min(255, WorstChannel(a.pixels[i], b.pixels[i]) * 8));
      diff[i] = 0xFF000000u | d << 16 | d << 8 | d;
    }
    plat::CapturePng(dir + "/" + name + "_a.png", a.pixels.data(), a.width, a.height, a.width);
    plat::CapturePng(dir + "/" + name + "_b.png", b.pixels.data(), b.width, b.height, b.width);
    plat::CapturePng(dir + "/" + name + "_diff.png", diff.data(), a.width, a.height, a.width);
  }
};

// A petal strip copied out of a sheet (as the sakura does, scaled and not)
// holds the sheet's pixels on both renderers: on a power-of-two surface the
// copy's rows lie the surface's width apart.
TEST_F(RendererParityTest, SpriteCopiesHoldTheSheetsPixelsOnBothRenderers) {
  // 8 cells of 24 x 24 in two rows, each cell its own colour, a diagonal in it.
  Image sheet{192, 48, std::vector<uint32_t>(192 * 48)};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 192; ++x) {
      const uint32_t cell = static_cast<uint32_t>(x / 24 + 8 * (y / 24));
      const bool line = (x % 24) == (y % 24);
      sheet.pixels[static_cast<size_t>(y) * 192 + x] =
          line ? 0xFFFFFFFFu : 0xFF000000u | (cell * 30 % 256) << 16 | (200 - cell * 11) << 8 | 60;
    }
  plat::Frame frames[2];
  int side = 0;
  for (Side s : {Side::kSoft, Side::kGpuShader}) {
    SCOPED_TRACE(Name(s));
    frames[side++] = Draw(s, [&] {
      KivSprite* src = Sprite(sheet, 10);
      ASSERT_NE(src, nullptr);
      KivSpriteSetOffsetRect(src, 24, 24);
      KivSpriteViewCtrl(src, 0);
      const KivRect strip{0, 24, 192, 48};
      const KivRect same{0, 0, 192, 24}, half{0, 0, 96, 12};
      KivSprite* whole = KivSpriteCopy(list, src, &strip, &same, 5);
      KivSprite* small = KivSpriteCopy(list, src, &strip, &half, 5);
      ASSERT_TRUE(whole && small);
      KivSpriteInfo info{};
      KivSpriteGetInfo(small, &info);
      EXPECT_EQ(info.cellWidth, 12) << "the sheet's cells scale with the copy";
      EXPECT_EQ(info.cellHeight, 12);
      KivSpriteSetRect(whole, nullptr);
      KivSpriteSetRect(small, nullptr);
      KivSpriteSetPos(whole, 10, 20);
      KivSpriteSetPos(small, 10, 100);
    });
  }
  for (const plat::Frame& f : frames) {
    ASSERT_EQ(f.width, 320);
    int wrong = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 192; ++x)
        wrong += WorstChannel(Px(f, 10 + x, 20 + y), sheet.pixels[static_cast<size_t>(24 + y) * 192 + x]) > 4;
    // (The software blend of an opaque white-coloured sprite loses up to 3 levels.)
    EXPECT_EQ(wrong, 0) << "the unscaled copy is the strip itself";
    // The half-size copy: every second pixel of the strip, within the scale copy's rounding.
    int far = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 96; ++x) {
        const uint32_t want = sheet.pixels[static_cast<size_t>(24 + 2 * y) * 192 + 2 * x] & 0xFFFFFFu;
        const bool line = want == 0xFFFFFFu;
        if (!line && WorstChannel(Px(f, 10 + x, 100 + y), want) > 40) ++far;
      }
    EXPECT_EQ(far, 0) << "the scaled copy shows the strip's cells in order";
  }
  int differ = 0;
  for (size_t i = 0; i < frames[0].pixels.size(); ++i) differ += WorstChannel(frames[0].pixels[i], frames[1].pixels[i]) > 8;
  EXPECT_EQ(differ, 0);
  DumpOnFailure("parity_copy", frames[0], frames[1]);
}

// A sprite at a fractional place shows on the nearest pixel on both
// renderers (a sub-pixel motion steps where the GPU's pixel centres step).
TEST_F(RendererParityTest, FractionalPlacesLandOnTheNearestPixelOnBothRenderers) {
  struct Case {
    float x, y;
    int offset;
    int left, top;
  } cases[] = {{40.0f, 30.0f, 0, 40, 30}, {40.3f, 30.2f, 0, 40, 30}, {40.7f, 30.8f, 0, 41, 31},
               {-0.7f, 60.6f, 5, 4, 61}, {100.45f, 20.55f, -3, 97, 21}};
  for (Side s : {Side::kSoft, Side::kGpuShader}) {
    SCOPED_TRACE(Name(s));
    const plat::Frame f = Draw(s, [&] {
      ASSERT_NE(Sprite(Solid(320, 180, 0xFF000000u), 100), nullptr);
      int i = 0;
      for (const Case& c : cases) {
        KivSprite* m = Sprite(Solid(6, 4, 0xFF00FF00u | static_cast<uint32_t>(40 * i) << 16), 10);
        ASSERT_NE(m, nullptr);
        KivSpriteSetPos(m, c.x, c.y);
        KivSpriteSetOffsetPos(m, c.offset, 0);
        // Each case on a row of its own.
        KivSpriteMovePos(m, 0, static_cast<float>(i++ * 20));
      }
    });
    ASSERT_EQ(f.width, 320);
    int i = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(i);
      const int rowTop = c.top + i * 20;
      ++i;
      int left = -1, top = -1;
      for (int y = std::max(0, rowTop - 3); y < rowTop + 4 && top < 0; ++y)
        for (int x = 0; x < 320; ++x)
          if (Px(f, x, y) & 0x00FF00u) {
            top = y;
            break;
          }
      for (int x = 0; x < 320 && left < 0; ++x)
        if (Px(f, x, rowTop + 1) & 0x00FF00u) left = x;
      EXPECT_EQ(left, c.left);
      EXPECT_EQ(top, rowTop);
    }
  }
}

// The cross-fade centres the outgoing picture on the incoming one on both
// renderers, also when the two differ in height.
TEST_F(RendererParityTest, CrossFadeCentresTheOutgoingPictureOnBothRenderers) {
  plat::Frame frames[2];
  int n = 0;
  for (Side s : {Side::kSoft, Side::kGpuShader}) {
    SCOPED_TRACE(Name(s));
    KivTransition* t = nullptr;
    frames[n++] = Draw(
        s,
        [&] {
          ASSERT_NE(Sprite(Solid(320, 180, 0xFF000000u), 100), nullptr);
          KivSprite* in = Sprite(Solid(80, 60, 0xFF0000FFu), 10);
          KivSprite* out = Sprite(Solid(30, 20, 0xFFFF0000u), 10);
          ASSERT_TRUE(in && out);
          KivSpriteSetPos(in, 100, 50);
          KivSpriteSetPos(out, 250, 140);  // its own place is not where it is drawn
          t = KivSpriteCreateTransitionHandle();
          ASSERT_EQ(KivSpriteSetTransition(list, in, out, 1, 1000, 1000, t), 1);
        },
        1500, nullptr, [&] { KivSpriteReleaseTransitionHandle(t); });
  }
  for (const plat::Frame& f : frames) {
    ASSERT_EQ(f.width, 320);
    // The outgoing red half-way, inside the incoming block at (125, 70)-(155, 90).
    EXPECT_GT(Channel(Px(f, 140, 80), 16), 90) << std::hex << Px(f, 140, 80);
    EXPECT_GT(Channel(Px(f, 140, 80), 0), 90);
    EXPECT_GT(Channel(Px(f, 126, 71), 16), 90);
    EXPECT_LT(Channel(Px(f, 123, 80), 16), 10) << "left of the centred picture";
    EXPECT_LT(Channel(Px(f, 140, 68), 16), 10) << "above the centred picture";
    EXPECT_EQ(Px(f, 260, 150), 0u) << "nothing at the outgoing sprite's own place";
    // Where the incoming picture stands alone the composite lays it over the
    // frame twice by its alpha: a quarter of its colour half-way.
    EXPECT_NEAR(Channel(Px(f, 110, 60), 0), 64, 6) << "the incoming picture fades in";
  }
  int differ = 0;
  for (size_t i = 0; i < frames[0].pixels.size(); ++i) differ += WorstChannel(frames[0].pixels[i], frames[1].pixels[i]) > 8;
  EXPECT_EQ(differ, 0);
  DumpOnFailure("parity_crossfade", frames[0], frames[1]);
}

// A text sprite has the GPU renderer's sizes on both renderers: width and
// height the power of two of the measured size + 2, cells the measured size;
// its pixels are drawn alike.
TEST_F(RendererParityTest, TextSpritesHaveOneSizeOnBothRenderers) {
  const char* texts[] = {"A", "<s20>Parity", "<s32>WWWWWWWWWWWW"};
  plat::Frame frames[2];
  std::vector<KivSpriteInfo> infos[2];
  int n = 0;
  for (Side s : {Side::kSoft, Side::kGpuShader}) {
    SCOPED_TRACE(Name(s));
    std::vector<KivSpriteInfo>& got = infos[n];
    frames[n++] = Draw(s, [&] {
      ASSERT_NE(Sprite(Solid(320, 180, 0xFF203040u), 100), nullptr);
      int y = 5;
      for (const char* text : texts) {
        KivSprite* sp = KivSpriteCreateText(list, text, 10, 0xFFFFFFFFu);
        ASSERT_NE(sp, nullptr) << text;
        const char* body = text;
        if (text[0] == '<') body = std::strchr(text, '>') + 1;
        KivSize m{};
        KivFontGetSize(body, &m);
        KivSpriteInfo info{};
        KivSpriteGetInfo(sp, &info);
        EXPECT_EQ(info.width, KivPowerOfTwo(m.cx + 2)) << text;
        EXPECT_EQ(info.height, KivPowerOfTwo(m.cy + 2)) << text;
        EXPECT_EQ(info.cellWidth, m.cx) << text;
        EXPECT_EQ(info.cellHeight, m.cy) << text;
        KivRect r{};
        KivSpriteGetRect(sp, &r);
        EXPECT_EQ(r.right, info.width);
        EXPECT_EQ(r.bottom, info.height);
        got.push_back(info);
        KivSpriteSetPos(sp, 4, static_cast<float>(y));
        y += m.cy + 8;
      }
    });
  }
  ASSERT_EQ(infos[0].size(), infos[1].size());
  for (size_t i = 0; i < infos[0].size(); ++i) {
    EXPECT_EQ(infos[0][i].width, infos[1][i].width);
    EXPECT_EQ(infos[0][i].cellWidth, infos[1][i].cellWidth);
  }
  int differ = 0;
  for (size_t i = 0; i < frames[0].pixels.size(); ++i) differ += WorstChannel(frames[0].pixels[i], frames[1].pixels[i]) > 8;
  EXPECT_EQ(differ, 0);
  DumpOnFailure("parity_text", frames[0], frames[1]);
}

// A filter on a picture that does not fill its GPU texture (200 x 100 in a
// 256 x 128 one) works on the picture alone: the blurred and softened
// edges are the software renderer's, not darkened by the texture's padding.
TEST_F(RendererParityTest, FiltersStopAtThePicturesEdgeOnBothRenderers) {
  // Two colours in bands, so a blur has something to mix.
  Image picture{200, 100, std::vector<uint32_t>(200 * 100)};
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      picture.pixels[static_cast<size_t>(y) * 200 + x] = (x / 10 + y / 10) % 2 ? 0xFFE0B070u : 0xFF406080u;
  for (unsigned option : {3u, 5u | 4u << 8, 5u | 8u << 8}) {
    SCOPED_TRACE(option);
    plat::Frame frames[2];
    int n = 0;
    for (Side s : {Side::kSoft, Side::kGpuShader}) {
      SCOPED_TRACE(Name(s));
      frames[n++] = Draw(s, [&] {
        ASSERT_NE(Sprite(Solid(320, 180, 0xFF000000u), 100), nullptr);
        KivSprite* sp = Sprite(picture, 10);
        ASSERT_NE(sp, nullptr);
        ASSERT_EQ(KivSpriteSetOption(sp, option), 1);
        KivSpriteSetPos(sp, 20, 30);
      });
    }
    ASSERT_EQ(frames[0].width, frames[1].width);
    int differ = 0;
    for (size_t i = 0; i < frames[0].pixels.size(); ++i)
      differ += WorstChannel(frames[0].pixels[i], frames[1].pixels[i]) > 8;
    EXPECT_EQ(differ, 0);
    DumpOnFailure("parity_filter", frames[0], frames[1]);
  }
}

// A full-window movie shows its frames from the CPU screen; the transition
// that follows it starts from the movie's last frame on both renderers (on
// the GPU one the render target still holds the scene from before).
TEST_F(RendererParityTest, ATransitionAfterAFullWindowMovieStartsFromItsLastFrame) {
  for (Side s : {Side::kSoft, Side::kGpuShader}) {
    SCOPED_TRACE(Name(s));
    Draw(
        s, [&] { ASSERT_NE(Sprite(Solid(320, 180, 0xFF0000FFu), 100), nullptr); }, 1000, nullptr,
        [&] {
          // The movie's frame, as the player's step lays it into the screen and shows it.
          KivSoftScreen* screen = g_kiv->soft;
          ASSERT_TRUE(screen && screen->backBuffer);
          for (int y = 0; y < screen->height; ++y)
            for (int x = 0; x < screen->width; ++x)
              screen->backBuffer[static_cast<size_t>(y) * screen->width + x] =
                  0xFF000000u | static_cast<uint32_t>(x % 256) << 16 | static_cast<uint32_t>(y % 256) << 8;
          KivSoftPresent(screen);
          ASSERT_TRUE(KivEffectCapture(&g_kivEffect));
          int w = 0, h = 0, pitch = 0;
          const uint32_t* px = KivEffectOps()->lockSurface(KivGetCore(), g_kivEffect.capture, &w, &h, &pitch);
          ASSERT_NE(px, nullptr);
          ASSERT_GE(w, 320);
          ASSERT_GE(h, 180);
          int wrong = 0;
          for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 320; ++x)
              wrong += (px[static_cast<size_t>(y) * pitch + x] & 0xFFFFFFu) !=
                       (static_cast<uint32_t>(x % 256) << 16 | static_cast<uint32_t>(y % 256) << 8);
          KivEffectOps()->unlockSurface(KivGetCore(), g_kivEffect.capture);
          EXPECT_EQ(wrong, 0) << "the capture is the movie's last frame";
        });
  }
}

// ---- The raster wave ----

// The wave's sideways shift at screen row y, in pixels, as the GPU
// renderer's vertex grid gives it: rows of vertices 16 pixels apart over the
// render target (the screen in its middle), each shifted by its angle's sine
// times the amplitude in tenths of half the target, linear between rows.
double GridShiftX(int screenH, int rtW, int rtH, float phase, float ampX, int y) {
  int cols = 0, rows = 0;
  KivRasterGridSize(rtW, rtH, &cols, &rows);
  const int rowStep = 511 / rows, e0 = static_cast<int>(phase * 511.0f);
  const double v = (y + (rtH - screenH) / 2 + 0.5) / rtH * (rows - 1);
  const int j = std::min(static_cast<int>(v), rows - 2);
  const double f = v - j;
  auto at = [&](int row) { return ampX * 0.1 * 0.5 * rtW * std::sin(2 * M_PI * ((e0 + (row + 1) * rowStep) & 511) / 512); };
  return at(j) * (1 - f) + at(j + 1) * f;
}

// The column of the bright line in row y, or -1.
int LineAt(const plat::Frame& f, int y, int from, int to) {
  int best = -1, bestV = 128;
  for (int x = std::max(0, from); x < std::min(f.width, to); ++x)
    if (Channel(Px(f, x, y), 8) > bestV) {
      bestV = Channel(Px(f, x, y), 8);
      best = x;
    }
  return best;
}

// Two sprites of different widths (64 and 256 texels once made powers of
// two) under one wave move by the same pixels, by the amplitude of the
// render target, on the software renderer, the RASTER effect and the grid.
TEST_F(RendererParityTest, ASpriteWavesByTheRenderTargetsAmplitudeOnEveryPath) {
  const float ampX = 0.5f;
  auto lined = [](int w, int h, int at) {
    Image img = Solid(w, h, 0xFF400000u);
    for (int y = 0; y < h; ++y) img.pixels[static_cast<size_t>(y) * w + at] = 0xFF40FF40u;
    return img;
  };
  std::vector<plat::Frame> frames;
  float phase = -1;
  for (Side s : {Side::kSoft, Side::kGpuShader, Side::kGpuGrid}) {
    SCOPED_TRACE(Name(s));
    KivSprite* a = nullptr;
    KivSprite* b = nullptr;
    float p = -2;
    frames.push_back(Draw(
        s,
        [&] {
          ASSERT_NE(Sprite(Solid(320, 180, 0xFF000000u), 100), nullptr);
          a = Sprite(lined(60, 160, 30), 10);
          b = Sprite(lined(200, 160, 100), 10);
          ASSERT_TRUE(a && b);
          KivSpriteSetPos(a, 20, 10);
          KivSpriteSetPos(b, 110, 10);
          const KivFxRaster wave{1000, ampX, 0.0f};
          ASSERT_EQ(KivSetFxEffect(a, 0, 1, 0, &wave), 1);
          ASSERT_EQ(KivSetFxEffect(b, 0, 1, 0, &wave), 1);
        },
        1250,
        [&] {
          // One frame first starts the phase clock; the measured frame is 100 ms on.
          ASSERT_EQ(KivRenderFrame(), 1);
        },
        [&] { p = static_cast<const float*>(static_cast<KivFxEffect*>(a->fx)->work)[0]; }));
    if (phase < 0) phase = p;
    EXPECT_FLOAT_EQ(p, phase) << "one phase on every path";
  }
  const int rtW = KivPowerOfTwo(320), rtH = KivPowerOfTwo(180);
  double largest = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const Side s = k == 0 ? Side::kSoft : k == 1 ? Side::kGpuShader : Side::kGpuGrid;
    SCOPED_TRACE(Name(s));
    ASSERT_EQ(frames[k].width, 320);
    int off = 0;
    for (int y = 20; y < 160; y += 7) {
      const double want = GridShiftX(180, rtW, rtH, phase, ampX, y);
      largest = std::max(largest, std::fabs(want));
      const int la = LineAt(frames[k], y, 0, 105), lb = LineAt(frames[k], y, 105, 320);
      // The grid moves its vertices, the others look back from each pixel:
      // within a pixel and a half of the grid's shift.
      if (std::fabs(la - (50 + want)) > 1.5) ++off;
      if (std::fabs(lb - (210 + want)) > 1.5) ++off;
      if (off && off < 3) ADD_FAILURE() << "row " << y << " want " << want << " lines " << la << ", " << lb;
    }
    EXPECT_EQ(off, 0);
  }
  EXPECT_GT(largest, 6.0) << "the wave moved the sprites";
  DumpOnFailure("parity_wave_soft_shader", frames[0], frames[1]);
  DumpOnFailure("parity_wave_soft_grid", frames[0], frames[2]);
}

// The screen wave: the frame drawn so far shifts alike on both renderers.
TEST_F(RendererParityTest, TheScreenWavesAlikeOnBothRenderers) {
  Image bars = Solid(320, 180, 0xFF000000u);
  for (int y = 0; y < 180; ++y)
    for (int x = 40; x < 320; x += 60) bars.pixels[static_cast<size_t>(y) * 320 + x] = 0xFF40FF40u;
  std::vector<plat::Frame> frames;
  for (Side s : {Side::kSoft, Side::kGpuShader, Side::kGpuGrid}) {
    SCOPED_TRACE(Name(s));
    frames.push_back(Draw(
        s,
        [&] {
          ASSERT_NE(Sprite(bars, 100), nullptr);
          int priority = 50;
          const KivFxRaster wave{1000, 0.4f, 0.0f};
          ASSERT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 1);
        },
        1300, [&] { ASSERT_EQ(KivRenderFrame(), 1); }, [] { KivReleaseFxEffect(nullptr, KIV_FX_SCREEN); }));
  }
  int off = 0;
  for (size_t k = 1; k < frames.size(); ++k)
    for (int y = 10; y < 170; y += 5) {
      const int a = LineAt(frames[0], y, 60, 130), b = LineAt(frames[k], y, 60, 130);
      if (a < 0 || b < 0 || std::abs(a - b) > 1) ++off;
    }
  EXPECT_EQ(off, 0);
  int moved = 0;
  for (int y = 10; y < 170; y += 5) moved += LineAt(frames[0], y, 60, 130) != 100;
  EXPECT_GT(moved, 10) << "the wave moved the frame";
  DumpOnFailure("parity_screen_wave", frames[0], frames[1]);
}

}  // namespace
