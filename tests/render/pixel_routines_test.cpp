// The pixel routines and the sprite options and copies built on them: the
// tables, each loop against its integer rule, the vector variants against
// the plain ones over random buffers, each option with its restore, copies
// and mixes clipped on all four sides, the tiny-image guards, a saved copy
// that cannot be allocated, the file-to-sprite blend from our own encoder's
// files, and a golden frame of one picture under every option.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/blend_reference.h"
#include "support/engine_fixture.h"
#include "support/sprite_scene.h"
#include "image_encoder.h"
#include "render/pixel_routines.h"
#include "platform/core/error.h"
#include "platform/window/png_capture.h"
#include "task/render_list.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

using namespace kivtest;
using kivtools::Image;
using Px = std::vector<uint32_t>;

namespace {


Px Random(size_t n, uint32_t seed, bool someTransparent = true) {
  std::mt19937 rng(seed);
  Px v(n);
  for (auto& p : v) {
    p = rng();
    if (someTransparent && rng() % 5 == 0) p &= 0x00FFFFFFu;
  }
  return v;
}

// A picture with every kind of pixel: gradients, texture, flat panels,
// transparent and soft-edged parts.
Image Picture(int w, int h, uint32_t seed = 3) { return kivtools::MakeTestPicture(w, h, seed); }

// The rule of the composition blend, written out per pixel.
uint32_t RefMix(uint32_t d, uint32_t s) {
  const uint32_t a = s >> 24;
  if (a == 0) return d;
  if (a == 255) return (d & 0xFF000000u) | (s & 0xFFFFFFu);
  uint32_t out = d & 0xFF000000u;
  for (int i = 0; i < 3; ++i) out |= ((Ch(s, i) * a + Ch(d, i) * (255 - a)) >> 8) << (8 * i);
  return out;
}

// ---------------------------------------------------------------- tables

TEST(PixelTables, SineSepiaAndBlurTablesHoldTheirDefiningRows) {
  EXPECT_EQ(KivSine16()[1], 804);
  EXPECT_EQ(KivSine16()[128], 65536);
  EXPECT_EQ(KivSine16()[(0 + 128) & 511], 65536) << "cosine of 0";
  EXPECT_EQ(KivSineFloat()[128], 1.0f);
  EXPECT_EQ(KivSineFloat()[256], 0.000001f);
  EXPECT_NEAR(KivSineFloat()[64], 0.7071068f, 1e-6f);
  const struct {
    int g, r, gr, b;
  } rows[] = {{0, 12, 0, 0},       {16, 43, 19, 8},     {32, 68, 39, 20},    {48, 91, 58, 33},
              {64, 112, 77, 47},   {80, 130, 95, 61},   {96, 148, 113, 77},  {112, 163, 130, 93},
              {128, 177, 146, 109}, {144, 190, 161, 126}, {160, 201, 176, 143}, {176, 212, 190, 162},
              {192, 221, 204, 180}, {208, 231, 217, 199}, {224, 239, 230, 218}, {240, 247, 243, 237},
              {254, 254, 254, 254}, {255, 255, 255, 255}};
  const KivSepiaTone* t = KivSepiaTable();
  for (auto& row : rows) {
    EXPECT_EQ(t[row.g].r, row.r) << row.g;
    EXPECT_EQ(t[row.g].g, row.gr) << row.g;
    EXPECT_EQ(t[row.g].b, row.b) << row.g;
  }
  for (int g = 1; g < 256; ++g) {
    EXPECT_GE(t[g].r, t[g - 1].r) << g;
    EXPECT_GE(t[g].g, t[g - 1].g) << g;
    EXPECT_GE(t[g].b, t[g - 1].b) << g;
  }
  for (int k = 0; k < 8; ++k) {
    int sum = 0;
    for (int i = 0; i < 16; ++i) sum += kKivBlurKernels[k][i];
    EXPECT_EQ(sum, 2 << k) << k;
  }
}

// ---------------------------------------------------------------- effects

TEST(PixelEffects, SepiaGreyAndNegativeFollowTheirRules) {
  Px src = Random(64, 1);
  src[0] = 0x00123456u;  // transparent
  Px sepia = src, grey = src, neg = src;
  KivPixelSepia(sepia.data(), 8, 8, 8);
  KivPixelGrey(grey.data(), 8, 8, 8);
  KivPixelNegative(neg.data(), 8, 8, 8);
  for (size_t i = 0; i < src.size(); ++i) {
    const uint32_t p = src[i];
    const uint32_t g = (Ch(p, 0) + 3 * Ch(p, 2) + 6 * Ch(p, 1)) / 10;
    const KivSepiaTone& t = KivSepiaTable()[g];
    EXPECT_EQ(sepia[i], (p & 0xFF000000u) | t.r << 16 | t.g << 8 | t.b) << i;
    EXPECT_EQ(grey[i], (p & 0xFF000000u) | g << 16 | g << 8 | g) << i;
    EXPECT_EQ(neg[i], (p >> 24) ? (0xFF000000u | (~p & 0xFFFFFFu)) : p) << i;
  }
  EXPECT_EQ(neg[0], 0x00123456u) << "a transparent pixel stays as it is";
}

TEST(PixelEffects, SoftFilterWorksInPlaceThenCopiesTheBorders) {
  // Inner pixels see their left and upper neighbours already filtered; with
  // the original neighbours three of the four inner values would differ.
  const Px in = {0x8000FA00u, 0x815AB425u, 0x82686E94u, 0x832A284Du,  //
                 0x8128C800u, 0x82828270u, 0x83903C2Au, 0x8452F62Eu,  //
                 0x82503200u, 0x83AAECBBu, 0x84B8A6C0u, 0x857A600Fu,  //
                 0x83783800u, 0x84D2F206u, 0x85E0AC56u, 0x86A266F0u};
  const Px want = {0x82789559u, 0x82789559u, 0x83857150u, 0x83857150u,  //
                   0x82789559u, 0x82789559u, 0x83857150u, 0x83857150u,  //
                   0x839FC181u, 0x839FC181u, 0x84AB9A86u, 0x84AB9A86u,  //
                   0x839FC181u, 0x839FC181u, 0x84AB9A86u, 0x84AB9A86u};
  for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
    Px px = in;
    KivPixelSoftFilter(px.data(), 4, 4, 4, v);
    EXPECT_EQ(px, want) << static_cast<int>(v);
  }
  // A pitch wider than the picture leaves the pixels beside it alone.
  Px wide(4 * 6, 0xDEADBEEFu);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) wide[y * 6 + x] = in[y * 4 + x];
  KivPixelSoftFilter(wide.data(), 4, 4, 6);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(wide[y * 6 + x], want[y * 4 + x]);
    EXPECT_EQ(wide[y * 6 + 4], 0xDEADBEEFu);
  }
}

TEST(PixelEffects, TinyPicturesKeepToTheirOwnPixels) {
  // One pixel wide or high: no column (row) to take from; the filter and the
  // blur stay inside the picture (the sanitiser build checks every read).
  for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {1, 2}, {3, 1}}) {
    const Px in = Random(static_cast<size_t>(w) * h, 10 + w * 8 + h, false);
    Px px = in;
    KivPixelSoftFilter(px.data(), w, h, w);
    if (h == 1 && w == 1) {
      EXPECT_EQ(px, in);
    }
    if (w == 1 && h >= 2) {
      EXPECT_EQ(px[0], in[1]) << "the top row takes the row below";
    }
    if (h == 1 && w >= 2) {
      EXPECT_EQ(px[0], in[1]) << "the left column takes the one to its right";
    }
    for (int k = 0; k < 8; ++k) {
      Px blurred(static_cast<size_t>(w) * h, 0xFF336699u);
      Px work(KivPixelBlurWorkWords(w, h));
      ASSERT_EQ(work.size(), 2u * std::max(1, w / 2) * std::max(1, h / 2));
      KivPixelBlur(blurred.data(), w, h, w, k, work.data());
      EXPECT_EQ(blurred, Px(static_cast<size_t>(w) * h, 0xFF336699u)) << w << "x" << h << " k " << k;
    }
  }
}

TEST(PixelEffects, BlurOfAConstantPictureIsUnchangedAndAnEdgeCountsOnlyItsInsideTaps) {
  const int w = 50, h = 34;
  Px work(KivPixelBlurWorkWords(w, h));
  for (int k = 0; k < 8; ++k) {
    Px px(static_cast<size_t>(w) * h, 0xC8407090u);
    KivPixelBlur(px.data(), w, h, w, k, work.data());
    EXPECT_EQ(px, Px(static_cast<size_t>(w) * h, 0xC8407090u)) << k;
  }
  // One row of 12: [opaque 0x10 x 6][transparent 0xF0 x 6], kernel 1 (taps
  // -2..+1 of weight 1). Inside: every channel, alpha too, (sum) >> 2.
  Px row(12);
  for (int i = 0; i < 12; ++i) row[i] = i < 6 ? 0xFF101010u : 0x00F0F0F0u;
  Px out(12);
  KivPixelBlurPass(row.data(), out.data(), 12, 1, 1, false);
  EXPECT_EQ(out[5], ((255u * 3) >> 2) << 24 | (((0x10u * 3 + 0xF0) >> 2) * 0x010101u)) << "inside";
  EXPECT_EQ(out[0], 0xFF101010u) << "taps -2, -1 outside: only the inside ones count";
  // At the right edge (tap +1 outside, taps 9, 10, 11 transparent) alpha is
  // 0 / 3 and no tap gives colour.
  EXPECT_EQ(out[11], 0x00000000u);
  // Position 1: taps -1, 0, +1 inside (3 opaque): colour over their weights.
  EXPECT_EQ(out[1], 0xFF101010u);
  // Position 7 (taps 5..8): inside, alpha (255 + 0 + 0 + 0) >> 2.
  EXPECT_EQ(out[7], 63u << 24 | ((0x10u + 3 * 0xF0) >> 2) * 0x010101u);
}

// ---------------------------------------------------------------- vector variants

TEST(PixelVariants, VectorLoopsGiveThePlainBytesOverRandomBuffers) {
  std::mt19937 rng(99);
  for (int round = 0; round < 24; ++round) {
    const int w = 1 + static_cast<int>(rng() % 61), h = 1 + static_cast<int>(rng() % 37);
    const Px src = Random(static_cast<size_t>(w) * h, 1000 + round);
    {
      Px a = src, b = src;
      KivPixelSoftFilter(a.data(), w, h, w, KivLoopVariant::kPlain);
      KivPixelSoftFilter(b.data(), w, h, w, KivLoopVariant::kSimd);
      ASSERT_EQ(a, b) << "soft filter " << w << "x" << h;
    }
    for (int k = 0; k < 8; ++k)
      for (bool columns : {false, true}) {
        Px a(src.size()), b(src.size());
        KivPixelBlurPass(src.data(), a.data(), w, h, k, columns, KivLoopVariant::kPlain);
        KivPixelBlurPass(src.data(), b.data(), w, h, k, columns, KivLoopVariant::kSimd);
        ASSERT_EQ(a, b) << "blur pass k " << k << (columns ? " columns " : " rows ") << w << "x" << h;
      }
    {
      Px a = src, b = src, work(KivPixelBlurWorkWords(w, h));
      const int k = static_cast<int>(rng() % 8);
      KivPixelBlur(a.data(), w, h, w, k, work.data(), KivLoopVariant::kPlain);
      KivPixelBlur(b.data(), w, h, w, k, work.data(), KivLoopVariant::kSimd);
      ASSERT_EQ(a, b) << "blur k " << k;
    }
    for (float f : {2.0f, 0.5f, 1.0f, 3.3f, 0.37f}) {
      const int dw = 1 + static_cast<int>(rng() % 70), dh = 1 + static_cast<int>(rng() % 40);
      Px a(static_cast<size_t>(dw) * dh, 1), b = a;
      KivPixelScale(src.data(), w, h, w, f, f * 1.1f, a.data(), dw, dh, dw, KivLoopVariant::kPlain);
      KivPixelScale(src.data(), w, h, w, f, f * 1.1f, b.data(), dw, dh, dw, KivLoopVariant::kSimd);
      ASSERT_EQ(a, b) << "bilinear " << f;
    }
    {
      const Px mask = Random(src.size(), 2000 + round, false);
      const int t = static_cast<int>(rng() % 256);
      Px a = src, b = src;
      KivPixelMaskAlpha(a.data(), w, mask.data(), w, w, h, t, KivLoopVariant::kPlain);
      KivPixelMaskAlpha(b.data(), w, mask.data(), w, w, h, t, KivLoopVariant::kSimd);
      ASSERT_EQ(a, b) << "mask alpha " << t;
    }
  }
}

// ---------------------------------------------------------------- mask alpha, ripple

TEST(PixelMask, ThresholdTablesAndOnlyTheAlphaByteChanges) {
  Px mask(256), target(256);
  for (int d = 0; d < 256; ++d) {
    mask[d] = 0xAB00CD00u | static_cast<uint32_t>(d);  // only the blue byte counts
    target[d] = 0x5A000000u | static_cast<uint32_t>(d * 0x010203);
  }
  struct {
    int t;
    std::vector<std::pair<int, uint32_t>> at;
  } tables[] = {
      {240, {{0, 255}, {239, 255}, {240, 120}, {241, 112}, {254, 8}, {255, 0}}},
      {100, {{99, 255}, {100, 248}, {101, 240}, {130, 8}, {131, 0}, {255, 0}}},
      {255, {{0, 255}, {254, 255}, {255, 0}}},
      {0, {{0, 248}, {30, 8}, {31, 0}, {255, 0}}},
      {224, {{223, 255}, {224, 248}, {254, 8}, {255, 0}}},
  };
  for (auto& table : tables) {
    Px px = target;
    KivPixelMaskAlpha(px.data(), 16, mask.data(), 16, 16, 16, table.t);
    for (int d = 0; d < 256; ++d) {
      EXPECT_EQ(px[d] >> 24, KivMaskAlpha(table.t, d)) << table.t << " " << d;
      EXPECT_EQ(px[d] & 0xFFFFFFu, target[d] & 0xFFFFFFu);
    }
    for (auto [d, a] : table.at) EXPECT_EQ(px[d] >> 24, a) << "threshold " << table.t << " d " << d;
  }
}

TEST(PixelRipple, ZeroAmplitudeIsTheIdentityAndAShiftFollowsTheSine) {
  const Px src = Random(90 * 70, 5);
  Px dst(src.size(), 0x12345678u);
  KivPixelRipple(src.data(), dst.data(), 90, 70, 0.37f, 0.0f, 0.0f);
  EXPECT_EQ(dst, src);
  // A vertical wave: column j moves by (hy * S[(t + j) & 511]) >> 16, hy =
  // trunc(1 * 70 * 0.1) = 7, t = trunc(0.25 * 511) = 127.
  dst = src;
  KivPixelRipple(src.data(), dst.data(), 90, 70, 0.25f, 0.0f, 1.0f);
  for (int j = 0; j < 90; ++j) {
    const int shift = static_cast<int>((7 * static_cast<int64_t>(KivSine16()[(127 + j) & 511])) >> 16);
    for (int i = 0; i < 70; ++i) {
      const int si = i + shift;
      ASSERT_EQ(dst[i * 90 + j], (si >= 0 && si < 70) ? src[si * 90 + j] : src[i * 90 + j]) << i << "," << j;
    }
  }
}

// ---------------------------------------------------------------- scales

TEST(PixelScale, NearestStepsIn128thsOfAPixel) {
  const int w = 4, h = 2;
  Px src(w * h);
  for (int i = 0; i < w * h; ++i) src[i] = static_cast<uint32_t>(i);
  // 0.5: step 256, every second pixel; the output is trunc(w * 0.5).
  Px half(10, 99);
  int ow = 0, oh = 0;
  KivPixelScaleCopy(src.data(), w, h, w, 0.5f, 0.5f, half.data(), 5, 2, 5, &ow, &oh);
  EXPECT_EQ(ow, 2);
  EXPECT_EQ(oh, 1);
  EXPECT_EQ((Px{half[0], half[1], half[2], half[5]}), (Px{0, 2, 99, 99}));
  // 3.0: step trunc(128 / 3) = 42; source x = (x * 42) >> 7.
  Px big(12 * 6, 99);
  KivPixelScaleCopy(src.data(), w, h, w, 3.0f, 3.0f, big.data(), 12, 6, 12, &ow, &oh);
  EXPECT_EQ(ow, 12);
  EXPECT_EQ(oh, 6);
  const int cols[12] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3};
  const int rows[6] = {0, 0, 0, 0, 1, 1};
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(big[y * 12 + x], static_cast<uint32_t>(rows[y] * w + cols[x])) << x << "," << y;
  // The output is cut to the destination.
  Px cut(5 * 2, 99);
  KivPixelScaleCopy(src.data(), w, h, w, 3.0f, 3.0f, cut.data(), 5, 2, 5, &ow, &oh);
  EXPECT_EQ(ow, 5);
  EXPECT_EQ(oh, 2);
  // A step below one 128th would stand still; it is one 128th at least.
  Px wide(300, 99);
  KivPixelScaleCopy(src.data(), 2, 1, w, 150.0f, 1.0f, wide.data(), 300, 1, 300, &ow, &oh);
  EXPECT_EQ(ow, 300);
  EXPECT_EQ(wide[127], 0u);
  EXPECT_EQ(wide[128], 1u);
  EXPECT_EQ(wide[299], 1u);
}

TEST(PixelScale, BilinearMixesSevenBitFractionsAndRepeatsTheEdge) {
  const uint32_t a = 0x10203040u, b = 0x90A0B0C0u, c = 0x00FF0080u, d = 0xFF00FF00u;
  const Px src = {a, b, c, d};
  Px out(16);
  KivPixelScale(src.data(), 2, 2, 2, 2.0f, 2.0f, out.data(), 4, 4, 4);
  auto mix = [](uint32_t p, uint32_t q, uint32_t f) {
    uint32_t o = 0;
    for (int i = 0; i < 4; ++i) o |= ((Ch(p, i) * (128 - f) + Ch(q, i) * f) >> 7) << (8 * i);
    return o;
  };
  const Px top = {a, mix(a, b, 64), b, b};  // column 3 repeats column 1
  const Px bottom = {c, mix(c, d, 64), d, d};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(out[x], top[x]) << x;
    EXPECT_EQ(out[4 + x], mix(top[x], bottom[x], 64)) << x;
    EXPECT_EQ(out[8 + x], bottom[x]) << x;
    EXPECT_EQ(out[12 + x], bottom[x]) << "row 3 repeats row 1";
  }
}

TEST(PixelScale, GreyBytesUseEighthBitFractionsAndZeroPastTheEdge) {
  const uint8_t src[4] = {200, 100, 50, 0};  // 2 x 2
  uint8_t out[16] = {};
  int ow = 0, oh = 0;
  KivPixelScaleGrey(src, 2, 2, 2, 2.0f, out, 4, 4, 4, &ow, &oh);
  EXPECT_EQ(ow, 4);
  EXPECT_EQ(oh, 4);
  EXPECT_EQ(out[0], 200);
  EXPECT_EQ(out[1], (200 * 128 + 100 * 128) * 256 >> 16);
  EXPECT_EQ(out[3], (100 * 128) * 256 >> 16) << "0 beyond the last column";
  EXPECT_EQ(out[4 * 3 + 3], (0 * 128 * 128) >> 16);
  EXPECT_EQ(out[4 * 2], 50);
  EXPECT_EQ(out[4 * 3], (50 * 256 * 128) >> 16) << "0 beyond the last row";
}

// ---------------------------------------------------------------- clipping

TEST(PixelClip, RectanglesAreClippedOnAllFourSides) {
  struct Case {
    int sx, sy, dx, dy, w, h;
    bool any;
    KivPixelClip c;
  } cases[] = {
      {0, 0, 0, 0, 5, 5, true, {0, 0, 0, 0, 5, 5}},
      {-3, -2, 4, 4, 6, 6, true, {0, 0, 7, 6, 3, 4}},    // negative source: shifted, not moved to -sx
      {2, 1, -4, -3, 8, 8, true, {6, 4, 0, 0, 4, 5}},    // negative destination
      {8, 8, 18, 10, 10, 10, true, {8, 8, 18, 10, 2, 2}},  // past the far edges of both
      {0, 0, 0, 0, -1, -1, true, {0, 0, 0, 0, 10, 10}},  // whole source
      {-20, 0, 0, 0, 10, 10, false, {}},
      {0, 0, 20, 0, 10, 10, false, {}},
      {10, 0, 0, 0, 5, 5, false, {}},
  };
  for (const Case& k : cases) {
    KivPixelClip c{};
    ASSERT_EQ(KivPixelClipRect(10, 10, 20, 12, k.sx, k.sy, k.dx, k.dy, k.w, k.h, &c), k.any) << k.sx << "," << k.dx;
    if (!k.any) continue;
    EXPECT_EQ((std::vector<int>{c.sx, c.sy, c.dx, c.dy, c.w, c.h}),
              (std::vector<int>{k.c.sx, k.c.sy, k.c.dx, k.c.dy, k.c.w, k.c.h}));
  }
}

// ---------------------------------------------------------------- sprites

class OptionsTest : public SpriteSceneTest {
 protected:
  Px PixelsOf(KivSprite* s) {
    int w = 0, h = 0;
    uint32_t* px = KivSpriteLock(s, &w, &h);
    Px out;
    if (px) out.assign(px, px + static_cast<size_t>(w) * h);
    KivSpriteUnlock(s);
    return out;
  }
  void Write(const std::string& name, const std::vector<uint8_t>& data) {
    ASSERT_FALSE(data.empty()) << name;
    ASSERT_TRUE(kivtools::WriteFileBytes(folder + "/" + name, data));
  }

};

// What each option makes of a picture, by the routines' rules.
Px Applied(const Px& in, int w, int h, unsigned option) {
  Px px = in;
  switch (option) {
    case 1: KivPixelSepia(px.data(), w, h, w); break;
    case 2: KivPixelGrey(px.data(), w, h, w); break;
    case 3: KivPixelSoftFilter(px.data(), w, h, w, KivLoopVariant::kPlain); break;
    case 4: KivPixelNegative(px.data(), w, h, w); break;
    default:
      if ((option & 0xFF) == 5) {
        Px work(KivPixelBlurWorkWords(w, h));
        KivPixelBlur(px.data(), w, h, w, static_cast<int>(option >> 8) - 1, work.data(), KivLoopVariant::kPlain);
      }
  }
  return px;
}

TEST_F(OptionsTest, EachOptionAppliesAndOptionZeroGivesBackTheOriginal) {
  const Image img = Picture(45, 31);
  KivSprite* s = FromImage(img);
  ASSERT_NE(s, nullptr);
  for (unsigned option : {1u, 2u, 3u, 4u, 0x105u, 0x205u, 0x305u, 0x405u, 0x505u, 0x605u, 0x705u, 0x805u, 7u, 0x905u}) {
    ASSERT_EQ(KivSpriteSetOption(s, option), 1) << option;
    EXPECT_EQ(s->option, static_cast<int>(option));
    const Px want = option == 7u || option == 0x905u ? img.pixels : Applied(img.pixels, 45, 31, option);
    EXPECT_EQ(PixelsOf(s), want) << std::hex << option;
    if (option != 7u && option != 0x905u) {
      EXPECT_NE(PixelsOf(s), img.pixels) << option;
    }
    EXPECT_EQ(s->locked.load(), 0);
    ASSERT_EQ(KivSpriteSetOption(s, 0), 1);
    EXPECT_EQ(PixelsOf(s), img.pixels) << "option 0 after " << std::hex << option;
    EXPECT_EQ(s->savedPixels, nullptr);
  }
  // Stacked options: 0 goes back to the picture from before the first.
  ASSERT_EQ(KivSpriteSetOption(s, 1), 1);
  ASSERT_EQ(KivSpriteSetOption(s, 2), 1);
  EXPECT_EQ(PixelsOf(s), Applied(Applied(img.pixels, 45, 31, 1), 45, 31, 2));
  ASSERT_EQ(KivSpriteSetOption(s, 0), 1);
  EXPECT_EQ(PixelsOf(s), img.pixels);
  EXPECT_EQ(KivSpriteSetOption(s, 0), 1) << "nothing saved: nothing to do";
  EXPECT_EQ(PixelsOf(s), img.pixels);
  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteSetOption(nullptr, 1), 0);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(KivSpriteRelease(list, s), 1);
  EXPECT_EQ(KivMemoryLive(), live);
}

TEST_F(OptionsTest, ASavedCopyThatCannotBeMadeChangesNothing) {
  const Image img = Picture(20, 12);
  KivSprite* s = FromImage(img);
  ASSERT_NE(s, nullptr);
  KivFaultSet(static_cast<uint32_t>(KivFault::kPixelWork));
  for (unsigned option : {1u, 4u, 0x305u, 9u}) {
    plat::SetLastError(0);
    EXPECT_EQ(KivSpriteSetOption(s, option), 0) << option;
    EXPECT_EQ(plat::GetLastError(), 5u);
    EXPECT_EQ(PixelsOf(s), img.pixels);
    EXPECT_EQ(s->savedPixels, nullptr);
    EXPECT_EQ(s->option, 0);
    EXPECT_EQ(s->locked.load(), 0);
  }
  // With the copy already kept, a stacked option needs no new copy; a blur
  // still needs its work block and is refused whole.
  KivFaultSet(0);
  ASSERT_EQ(KivSpriteSetOption(s, 1), 1);
  KivFaultSet(static_cast<uint32_t>(KivFault::kPixelWork));
  EXPECT_EQ(KivSpriteSetOption(s, 4), 1);
  const Px stacked = Applied(Applied(img.pixels, 20, 12, 1), 20, 12, 4);
  EXPECT_EQ(PixelsOf(s), stacked);
  EXPECT_EQ(KivSpriteSetOption(s, 0x205), 0);
  EXPECT_EQ(PixelsOf(s), stacked);
  EXPECT_EQ(s->option, 4);
  KivFaultSet(0);
  // A kept copy of another size than the picture is not put back.
  s->savedWords[1] += 1;
  EXPECT_EQ(KivSpriteSetOption(s, 0), 1);
  EXPECT_EQ(PixelsOf(s), stacked);
  EXPECT_EQ(s->savedPixels, nullptr);
}

TEST_F(OptionsTest, SetBufferCopiesRowsIntoTheSurfaceOnlyWhenTheyFit) {
  KivSprite* s = KivSpriteCreate(list, 6, 4, 0);
  ASSERT_NE(s, nullptr);
  const Px rows = Random(4 * 3, 8);
  ASSERT_EQ(KivSpriteSetBuffer(s, rows.data(), 4, 3), 1);
  Px px = PixelsOf(s);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(px[y * 6 + x], (x < 4 && y < 3) ? rows[y * 4 + x] : 0u) << x << "," << y;
  const Px big = Random(7 * 4, 9);
  EXPECT_EQ(KivSpriteSetBuffer(s, big.data(), 7, 4), 0) << "wider than the surface";
  EXPECT_EQ(KivSpriteSetBuffer(s, big.data(), 6, 5), 0) << "higher than the surface";
  EXPECT_EQ(KivSpriteSetBuffer(s, nullptr, 1, 1), 0);
  EXPECT_EQ(PixelsOf(s), px);
  EXPECT_EQ(KivSpriteSetBuffer(nullptr, big.data(), 1, 1), 0);
}

TEST_F(OptionsTest, BackBufferCopyIsClippedToTheSprite) {
  const Image bg = Picture(320, 180, 4);
  Image opaque = bg;
  for (auto& p : opaque.pixels) p |= 0xFF000000u;
  KivSprite* b = FromImage(opaque, 10);
  ASSERT_NE(b, nullptr);
  KivSpriteSetRenderMode(b, 0);
  ASSERT_EQ(KivRenderFrame(), 1);  // the first draw of a screen copies
  ASSERT_EQ(std::vector<uint32_t>(screen->backBuffer, screen->backBuffer + 320 * 180), opaque.pixels);
  KivSprite* small = KivSpriteCreate(list, 50, 40, 0);
  KivSprite* large = KivSpriteCreate(list, 400, 200, 0);
  ASSERT_TRUE(small && large);
  KivSpriteViewCtrl(small, 0);
  KivSpriteViewCtrl(large, 0);
  ASSERT_EQ(KivSpriteBackBafferCopy(small), 1);
  ASSERT_EQ(KivSpriteBackBafferCopy(large), 1);
  const Px sp = PixelsOf(small), lp = PixelsOf(large);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(sp[y * 50 + x], opaque.pixels[y * 320 + x]);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x)
      ASSERT_EQ(lp[y * 400 + x], (x < 320 && y < 180) ? opaque.pixels[y * 320 + x] : 0u) << x << "," << y;
  EXPECT_EQ(KivSpriteBackBafferCopy(nullptr), 0);
}

TEST_F(OptionsTest, MixAndCopyClipOnAllFourSides) {
  const Image si = Picture(23, 17, 6), di = Picture(31, 19, 7);
  KivSprite* src = FromImage(si);
  KivSprite* dst = FromImage(di);
  ASSERT_TRUE(src && dst);
  struct Case {
    int dx, dy, w, h, sx, sy;
  } cases[] = {{3, 2, 10, 8, 1, 1},    {-5, -4, 20, 15, 2, 3}, {25, 14, 20, 20, 0, 0}, {4, 5, 30, 30, -6, -3},
               {-2, 3, 9, 9, -4, -5},  {0, 0, -1, -1, 0, 0},   {10, 10, -1, 5, 19, 2}, {0, 0, 5, 5, 30, 0},
               {40, 0, 5, 5, 0, 0},    {-30, 0, 5, 5, 0, 0}};
  for (const Case& k : cases) {
    for (bool mix : {true, false}) {
      KivSpriteSetBuffer(dst, di.pixels.data(), 31, 19);
      const int r = mix ? KivMixSpriteToSprite(dst, k.dx, k.dy, k.w, k.h, src, k.sx, k.sy)
                        : KivCopySpriteToSpriteRGB(dst, k.dx, k.dy, src, k.sx, k.sy, k.w, k.h);
      EXPECT_EQ(r, 1);
      // Source pixel (sx + i, sy + j) lands at (dx + i, dy + j) where both exist.
      Px want = di.pixels;
      const int w = k.w < 0 ? 23 : k.w, h = k.h < 0 ? 17 : k.h;
      for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
          const int sx = k.sx + i, sy = k.sy + j, dx = k.dx + i, dy = k.dy + j;
          if (sx < 0 || sy < 0 || sx >= 23 || sy >= 17 || dx < 0 || dy < 0 || dx >= 31 || dy >= 19) continue;
          uint32_t& d = want[dy * 31 + dx];
          d = mix ? RefMix(d, si.pixels[sy * 23 + sx]) : si.pixels[sy * 23 + sx];
        }
      ASSERT_EQ(PixelsOf(dst), want) << (mix ? "mix " : "copy ") << k.dx << "," << k.dy << " " << k.sx << ","
                                     << k.sy;
    }
  }
  EXPECT_EQ(KivMixSpriteToSprite(dst, 0, 0, 0, 5, src, 0, 0), 0);
  EXPECT_EQ(KivCopySpriteToSpriteRGB(dst, 0, 0, src, 0, 0, 5, 0), 0);
  EXPECT_EQ(KivMixSpriteToSprite(nullptr, 0, 0, 5, 5, src, 0, 0), 0);
  EXPECT_EQ(KivCopySpriteToSpriteRGB(dst, 0, 0, nullptr, 0, 0, 5, 5), 0);
  // Within one sprite every pixel reads the picture as it was.
  KivSpriteSetBuffer(dst, di.pixels.data(), 31, 19);
  ASSERT_EQ(KivMixSpriteToSprite(dst, 2, 1, 20, 12, dst, 0, 0), 1);
  ASSERT_EQ(KivCopySpriteToSpriteRGB(src, 1, 1, src, 0, 0, 20, 14), 1);
  Px wantMix = di.pixels, wantCopy = si.pixels;
  for (int j = 0; j < 12; ++j)
    for (int i = 0; i < 20; ++i) wantMix[(1 + j) * 31 + 2 + i] = RefMix(di.pixels[(1 + j) * 31 + 2 + i], di.pixels[j * 31 + i]);
  for (int j = 0; j < 14; ++j)
    for (int i = 0; i < 20; ++i) wantCopy[(1 + j) * 23 + 1 + i] = si.pixels[j * 23 + i];
  EXPECT_EQ(PixelsOf(dst), wantMix);
  EXPECT_EQ(PixelsOf(src), wantCopy);
  // The cell copy: src's cell at src's position.
  KivSpriteSetBuffer(src, si.pixels.data(), 23, 17);
  KivSpriteSetBuffer(dst, di.pixels.data(), 31, 19);
  KivSpriteSetOffsetRect(src, 23, 17);
  KivRect cell{3, 2, 10, 9};
  KivSpriteSetRect(src, &cell);
  KivSpriteSetPos(src, 4.7f, -1.2f);
  ASSERT_EQ(KivCopySpriteToSpriteRectRGB(dst, src), 1);
  Px wantCell = di.pixels;
  for (int j = 0; j < 17; ++j)
    for (int i = 0; i < 23; ++i) {
      const int sx = 3 + i, sy = 2 + j, dx = 4 + i, dy = -1 + j;
      if (sx < 23 && sy < 17 && dx < 31 && dy >= 0 && dy < 19) wantCell[dy * 31 + dx] = si.pixels[sy * 23 + sx];
    }
  EXPECT_EQ(PixelsOf(dst), wantCell);
}

TEST_F(OptionsTest, FileBlendDecodesEveryFormatThroughTheCommonDecoders) {
  const Image pic = Picture(40, 30, 11);
  Image opaque = pic;
  for (auto& p : opaque.pixels) p |= 0xFF000000u;
  const Image base = Picture(50, 40, 12);
  auto ge = [](const Image& i, int method) {
    kivtools::GeOptions o;
    o.method = method;
    return kivtools::EncodeGe(i, o);
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const Image* want;
  } cases[] = {{"planar.ge", ge(pic, 1), &pic},        {"line.ge", ge(pic, 3), &pic},
               {"raw.ge", ge(pic, 0), &pic},           {"alpha.bmp", kivtools::EncodeBmp(pic, 32), &pic},
               {"flat.bmp", kivtools::EncodeBmp(opaque, 24), &opaque}, {"alpha.tga", kivtools::EncodeTga(pic, 32), &pic},
               {"flat.tga", kivtools::EncodeTga(opaque, 24), &opaque}};
  KivSprite* s = FromImage(base);
  ASSERT_NE(s, nullptr);
  for (const Case& c : cases) {
    Write(c.name, c.bytes);
    KivSpriteSetBuffer(s, base.pixels.data(), 50, 40);
    ASSERT_EQ(KivCopyFileToSpriteRGB(s, 15, -4, c.name, 3, 2, 100, 100), 1) << c.name;
    Px want = base.pixels;
    for (int y = 2; y < 30; ++y)
      for (int x = 3; x < 40; ++x) {
        const int dx = 15 + x - 3, dy = -4 + y - 2;
        if (dx < 50 && dy >= 0) want[dy * 50 + dx] = RefMix(want[dy * 50 + dx], c.want->pixels[y * 40 + x]);
      }
    EXPECT_EQ(PixelsOf(s), want) << c.name;
  }
  KivSpriteSetBuffer(s, base.pixels.data(), 50, 40);
  Write("grey.bmp", kivtools::EncodeBmp(Picture(8, 8), 8));
  Write("grey.tga", kivtools::EncodeTga(Picture(8, 8), 8));
  Write("broken.ge", std::vector<uint8_t>{'G', 'E', 1, 2, 3});
  const int liveBefore = KivMemoryLive();
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "grey.bmp", 0, 0, 8, 8), 0) << "8 bits";
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "grey.tga", 0, 0, 8, 8), 0) << "8 bits";
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "broken.ge", 0, 0, 8, 8), 0);
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "missing.ge", 0, 0, 8, 8), 0);
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "planar.ge", -1, 0, 8, 8), 0) << "GE: sx below 0";
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "planar.ge", 0, 31, 8, 8), 0) << "GE: sy beyond the height";
  EXPECT_EQ(KivCopyFileToSpriteRGB(s, 0, 0, "planar.ge", 0, 0, 0, 8), 0);
  EXPECT_EQ(KivCopyFileToSpriteRGB(nullptr, 0, 0, "planar.ge", 0, 0, 8, 8), 0);
  EXPECT_EQ(KivMemoryLive(), liveBefore) << "every early return frees what it took";
  EXPECT_EQ(PixelsOf(s), base.pixels);
  EXPECT_EQ(s->locked.load(), 0);
}

// ---------------------------------------------------------------- golden frame

// One picture under every option, thirteen tiles of 64 x 60 over black:
// the original, sepia, grey, soft filter, negative and the eight blurs.
// KIV_UPDATE_GOLDEN=1 writes the reviewed picture anew.
TEST_F(OptionsTest, EveryOptionMatchesTheGoldenFrame) {
  const Image pic = Picture(64, 60, 21);
  const unsigned options[13] = {0, 1, 2, 3, 4, 0x105, 0x205, 0x305, 0x405, 0x505, 0x605, 0x705, 0x805};
  for (int i = 0; i < 13; ++i) {
    KivSprite* s = FromImage(pic);
    ASSERT_NE(s, nullptr);
    KivSpriteSetPos(s, static_cast<float>(i % 5 * 64), static_cast<float>(i / 5 * 60));
    if (options[i]) {
      ASSERT_EQ(KivSpriteSetOption(s, options[i]), 1);
    }
  }
  ASSERT_EQ(KivRenderFrame(), 1);
  ASSERT_EQ(KivRenderFrame(), 1);
  plat::Frame f = static_cast<plat::Window*>(KivGetWindowHandle())->backend()->LastFrame();
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/options.png";
  if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    ASSERT_TRUE(plat::CapturePng(golden, f.pixels.data(), f.width, f.height, f.width));
  }
  Px want;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &want, &gw, &gh)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(gw, f.width);
  ASSERT_EQ(gh, f.height);
  int differ = 0;
  for (size_t i = 0; i < want.size(); ++i)
    if ((want[i] & 0xFFFFFFu) != (f.pixels[i] & 0xFFFFFFu)) ++differ;
  EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
}

}  // namespace
