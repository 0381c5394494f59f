// Thumbnails: the screen of the reviewed sprite scene (tests/golden/
// soft_scene.png) at 80 x 60, plain and as a mosaic of 6, against reviewed
// golden pictures (KIV_UPDATE_GOLDEN=1 writes them anew); every destination
// pixel written at every size; the refusals that leave the destination as
// it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"
#include "support/sprite_scene.h"

using namespace kivtest;

namespace {

constexpr uint32_t kSentinel = 0x00ABCDEFu;  // no source pixel has alpha 0 here

class ThumbnailTest : public SpriteSceneTest {
 protected:
  // The reviewed scene as the screen's last frame.
  void ShowScene() {
    std::vector<uint32_t> px;
    int w = 0, h = 0;
    ASSERT_TRUE(plat::ReadPng(std::string(KIV_GOLDEN_DIR) + "/soft_scene.png", &px, &w, &h));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 180);
    KivSprite* s = KivSpriteCreate(list, w, h, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(KivSpriteSetBuffer(s, px.data(), w, h), 1);
    KivSpriteSetRenderMode(s, 0);
    ASSERT_EQ(KivRenderFrame(), 1);
    scene = px;
  }
  void Golden(const char* name, const std::vector<uint32_t>& got, int w, int h) {
    const std::string path = std::string(KIV_GOLDEN_DIR) + "/" + name;
    if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
      ASSERT_TRUE(plat::CapturePng(path, got.data(), w, h, w));
    }
    std::vector<uint32_t> want;
    int gw = 0, gh = 0;
    ASSERT_TRUE(plat::ReadPng(path, &want, &gw, &gh)) << path << " (KIV_UPDATE_GOLDEN=1 writes it)";
    ASSERT_EQ(gw, w);
    ASSERT_EQ(gh, h);
    int differ = 0;
    for (size_t i = 0; i < want.size(); ++i)
      if ((want[i] & 0xFFFFFFu) != (got[i] & 0xFFFFFFu)) ++differ;
    EXPECT_EQ(differ, 0) << "pixels differing from " << path;
  }
  std::vector<uint32_t> scene;
};

// The nearest source pixel of the pixel routines' rule: steps of 128 / f
// in 1/128 pixel, truncated, clamped to the last column and row.
uint32_t Nearest(const std::vector<uint32_t>& src, int sw, int sh, int dw, int dh, int x, int y) {
  const float fx = static_cast<float>(dw) / static_cast<float>(sw);
  const float fy = static_cast<float>(dh) / static_cast<float>(sh);
  const int64_t stepX = std::max<int64_t>(1, static_cast<int64_t>(128.0 / static_cast<double>(fx)));
  const int64_t stepY = std::max<int64_t>(1, static_cast<int64_t>(128.0 / static_cast<double>(fy)));
  const int64_t sx = std::min<int64_t>((x * stepX) >> 7, sw - 1), sy = std::min<int64_t>((y * stepY) >> 7, sh - 1);
  return src[static_cast<size_t>(sy) * sw + sx];
}

TEST_F(ThumbnailTest, SceneAtEightyBySixtyPlainAndMosaicMatchTheGoldenPictures) {
  ShowScene();
  std::vector<uint32_t> plain(80 * 60, kSentinel), mosaic(80 * 60, kSentinel);
  ASSERT_EQ(KivThumbnailCreate(plain.data(), 80 * 60 * 4, 80, 60), 1);
  ASSERT_EQ(KivThumbnailCreateMosaic(mosaic.data(), 80 * 60 * 4, 80, 60, 6), 1);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      ASSERT_EQ(plain[static_cast<size_t>(y) * 80 + x] & 0xFFFFFFu, Nearest(scene, 320, 180, 80, 60, x, y) & 0xFFFFFFu)
          << x << "," << y;
  Golden("thumbnail_plain_80x60.png", plain, 80, 60);
  Golden("thumbnail_mosaic6_80x60.png", mosaic, 80, 60);
  // The screen thumbnail is the picture thumbnail of the same pixels.
  std::vector<uint32_t> ex(80 * 60, kSentinel);
  ASSERT_EQ(KivThumbnailCreateMosaicEx(ex.data(), 80, 60, scene.data(), 320, 180, 6), 1);
  for (size_t i = 0; i < ex.size(); ++i) ASSERT_EQ(ex[i] & 0xFFFFFFu, mosaic[i] & 0xFFFFFFu);
}

TEST_F(ThumbnailTest, EveryDestinationPixelIsWrittenAtEverySize) {
  const int sw = 320, sh = 180;
  std::vector<uint32_t> src(static_cast<size_t>(sw) * sh);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) src[static_cast<size_t>(y) * sw + x] = 0xFF000000u | static_cast<uint32_t>(x << 12 | y);
  const int sizes[] = {1, 2, 3, 5, 7, 13, 59, 60, 61, 79, 80, 81, 97, 127, 160, 179, 180, 213, 319, 320};
  std::vector<uint32_t> dst;
  for (int w : sizes)
    for (int h : sizes) {
      if (h > 180) continue;
      dst.assign(static_cast<size_t>(w) * h, kSentinel);
      ASSERT_EQ(KivThumbnailCreateEx(dst.data(), w, h, src.data(), sw, sh), 1);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(dst[static_cast<size_t>(y) * w + x], Nearest(src, sw, sh, w, h, x, y)) << w << "x" << h;
      const int most = std::min(w, h);
      for (int block : {1, 2, 3, 6, most}) {
        if (block > most) continue;
        dst.assign(static_cast<size_t>(w) * h, kSentinel);
        ASSERT_EQ(KivThumbnailCreateMosaicEx(dst.data(), w, h, src.data(), sw, sh, block), 1);
        for (uint32_t p : dst) ASSERT_NE(p, kSentinel) << w << "x" << h << " block " << block;
      }
    }
}

// A block of w (or h) gives an intermediate of one pixel, also where the
// float product of the sizes falls just short of 1.
TEST_F(ThumbnailTest, TheLargestBlockIsOneCellForAnySourceWidth) {
  for (int sw : {41, 47, 83, 320, 1280}) {
    std::vector<uint32_t> src(static_cast<size_t>(sw) * 9, 0xFF336699u);
    for (int w : {1, 2, 3, 5, 9}) {
      std::vector<uint32_t> dst(static_cast<size_t>(w) * 9, kSentinel);
      ASSERT_EQ(KivThumbnailCreateMosaicEx(dst.data(), w, 9, src.data(), sw, 9, w), 1) << sw << " " << w;
      for (uint32_t p : dst) ASSERT_EQ(p, 0xFF336699u) << sw << " " << w;
    }
  }
}

TEST_F(ThumbnailTest, RefusalsLeaveTheDestinationUntouched) {
  ShowScene();
  std::vector<uint32_t> src(64 * 64, 0xFF102030u);
  std::vector<uint32_t> dst(80 * 60, kSentinel);
  const int full = 80 * 60 * 4;
  uint32_t* d = dst.data();
  const uint32_t* s = src.data();
  const struct {
    const char* what;
    int result;
  } cases[] = {
      {"screen: null destination", KivThumbnailCreate(nullptr, full, 80, 60)},
      {"screen: width 0", KivThumbnailCreate(d, full, 0, 60)},
      {"screen: height -1", KivThumbnailCreate(d, full, 80, -1)},
      {"screen: a byte size short of w x h x 4", KivThumbnailCreate(d, full - 1, 80, 60)},
      {"screen: a negative byte size", KivThumbnailCreate(d, -1, 80, 60)},
      {"screen: size overflowing 32 bits", KivThumbnailCreate(d, full, 65536, 65536)},
      {"mosaic: block 0", KivThumbnailCreateMosaic(d, full, 80, 60, 0)},
      {"mosaic: block -2", KivThumbnailCreateMosaic(d, full, 80, 60, -2)},
      {"mosaic: block past the smaller side", KivThumbnailCreateMosaic(d, full, 80, 60, 61)},
      {"mosaic: short buffer", KivThumbnailCreateMosaic(d, 16, 80, 60, 4)},
      {"ex: null source", KivThumbnailCreateEx(d, 80, 60, nullptr, 64, 64)},
      {"ex: null destination", KivThumbnailCreateEx(nullptr, 80, 60, s, 64, 64)},
      {"ex: source width 0", KivThumbnailCreateEx(d, 80, 60, s, 0, 64)},
      {"ex: source height -5", KivThumbnailCreateEx(d, 80, 60, s, 64, -5)},
      {"ex: width 0", KivThumbnailCreateEx(d, 0, 60, s, 64, 64)},
      {"mosaic ex: block 0", KivThumbnailCreateMosaicEx(d, 80, 60, s, 64, 64, 0)},
      {"mosaic ex: block 61", KivThumbnailCreateMosaicEx(d, 80, 60, s, 64, 64, 61)},
      {"mosaic ex: null source", KivThumbnailCreateMosaicEx(d, 80, 60, nullptr, 64, 64, 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, 0) << c.what;
  for (uint32_t p : dst) ASSERT_EQ(p, kSentinel);
  // Not running: nothing at all.
  g_kiv->running = 0;
  EXPECT_EQ(KivThumbnailCreate(d, full, 80, 60), 0);
  EXPECT_EQ(KivThumbnailCreateEx(d, 80, 60, s, 64, 64), 0);
  g_kiv->running = 1;
  for (uint32_t p : dst) ASSERT_EQ(p, kSentinel);
  EXPECT_EQ(KivThumbnailCreateMosaic(d, full, 80, 60, 60), 1) << "the largest block";
  const int live = KivMemoryLive();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(KivThumbnailCreateMosaic(d, full, 80, 60, 1 + i), 1);
  EXPECT_EQ(KivMemoryLive(), live) << "the intermediate is freed";
}

}  // namespace
