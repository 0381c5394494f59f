// Sprites: creation from every image format our encoder writes, the
// documented defaults, setters and the info record, cells, hit tests and the
// front-most sprite, the size tag, difference images, the cross-fade on the
// virtual clock, locked sprites, release while a frame is drawn, and bad
// input that must give NULL without leaking anything.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/blend_reference.h"
#include "support/engine_fixture.h"
#include "support/sprite_scene.h"
#include "image/image_decode.h"
#include "image_encoder.h"
#include "platform/window/display.h"
#include "platform/core/error.h"
#include "task/render_list.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

using namespace kivtest;
using kivtools::Image;
using Bytes = std::vector<uint8_t>;

namespace {



Image Solid(int w, int h, uint32_t px) { return Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, px)}; }

Image Pattern(int w, int h, bool alpha = true) {
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t a = alpha ? static_cast<uint32_t>((x * 29 + y * 13) & 0xFF) : 0xFFu;
      img.pixels[static_cast<size_t>(y) * w + x] = a << 24 | static_cast<uint32_t>((x * 7 + y) & 0xFF) << 16 |
                                                   static_cast<uint32_t>((y * 5) & 0xFF) << 8 |
                                                   static_cast<uint32_t>((x + 3 * y) & 0xFF);
    }
  return img;
}

struct DebugCapture {
  std::string text;
  DebugCapture() {
    plat::SetDebugOutputSink([this](std::string_view s) { text.append(s); });
  }
  ~DebugCapture() { plat::SetDebugOutputSink(nullptr); }
};

class SpriteTest : public SpriteSceneTest {
 protected:
  void Write(const std::string& name, const Bytes& data) {
    ASSERT_FALSE(data.empty()) << name;
    ASSERT_TRUE(kivtools::WriteFileBytes(folder + "/" + name, data));
  }
  KivSprite* FromGe(const Image& img, int priority = 0, int method = 1) {
    kivtools::GeOptions o;
    o.method = method;
    Bytes ge = kivtools::EncodeGe(img, o);
    return KivSpriteLoadMemory(list, "mem", ge.data(), static_cast<int>(ge.size()), priority);
  }
  std::vector<uint32_t> PixelsOf(KivSprite* s) {
    int w = 0, h = 0;
    uint32_t* px = KivSpriteLock(s, &w, &h);
    std::vector<uint32_t> out;
    if (px) out.assign(px, px + static_cast<size_t>(w) * h);
    KivSpriteUnlock(s);
    return out;
  }
  void Frame() { ASSERT_EQ(KivRenderFrame(), 1); }
  uint32_t At(int x, int y) const { return screen->backBuffer[static_cast<size_t>(y) * screen->width + x]; }
  // The live-allocation count once everything made since set-up is gone.
  void ExpectNothingLeft() { EXPECT_EQ(KivMemoryLive(), live); }

};

// ---------------------------------------------------------------- creation

TEST_F(SpriteTest, BlankSpriteHasTheDocumentedDefaults) {
  KivSprite* s = KivSpriteCreate(list, 30, 20, 7);
  ASSERT_NE(s, nullptr);
  KivSpriteInfo info;
  ASSERT_EQ(KivSpriteGetInfo(s, &info), 1);
  EXPECT_EQ(info.visible, 1);
  EXPECT_EQ(info.colour, 0xFFFFFFFFu);
  EXPECT_EQ(info.x, 0.0f);
  EXPECT_EQ(info.width, 30);
  EXPECT_EQ(info.height, 20);
  EXPECT_EQ(info.cellWidth, 30);
  EXPECT_EQ(info.cellHeight, 20);
  EXPECT_EQ(info.priority, 7);
  EXPECT_EQ(info.scale, 1.0f);
  EXPECT_EQ(info.rotationZ, 0.0f);
  EXPECT_EQ(info.renderMode, 1);
  EXPECT_EQ(info.offsetX, 0);
  EXPECT_EQ(info.centreX, 0);
  static_assert(sizeof(KivSpriteInfo) == 18 * 4);
  KivRect r;
  ASSERT_EQ(KivSpriteGetRect(s, &r), 1);
  EXPECT_EQ(r.right, 30);
  EXPECT_EQ(r.bottom, 20);
  EXPECT_EQ(PixelsOf(s), std::vector<uint32_t>(600, 0u));
  EXPECT_EQ(list->head.next->object, s);
  EXPECT_EQ(list->head.next->priority, 7);
  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteCreate(nullptr, 4, 4, 0), nullptr);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(KivSpriteCreate(list, -1, 4, 0), nullptr);
  EXPECT_EQ(KivSpriteRelease(list, s), 1);
  EXPECT_EQ(plat::GetLastError(), 0u);
  EXPECT_EQ(list->head.next, nullptr);
  ExpectNothingLeft();
}

TEST_F(SpriteTest, LoadsEveryFormatFromFilesExactly) {
  const Image img = Pattern(37, 23);
  const Image opaque = Pattern(37, 23, false);
  struct Case {
    const char* name;
    Bytes file;
    const Image* expect;
  };
  auto ge = [](const Image& i, int method, int bpp) {
    kivtools::GeOptions o;
    o.method = method;
    o.bpp = bpp;
    return kivtools::EncodeGe(i, o);
  };
  std::vector<Case> cases = {
      {"planar.ge", ge(img, 1, 32), &img},      {"line32.ge", ge(img, 3, 32), &img},
      {"line24.ge", ge(opaque, 3, 24), &opaque}, {"raw.ge", ge(img, 0, 32), &img},
      {"alpha.bmp", kivtools::EncodeBmp(img, 32), &img}, {"flat.bmp", kivtools::EncodeBmp(opaque, 24), &opaque},
      {"top.bmp", kivtools::EncodeBmp(img, 32, true), &img}, {"alpha.tga", kivtools::EncodeTga(img, 32), &img},
      {"flat.tga", kivtools::EncodeTga(opaque, 24), &opaque},
  };
  for (const Case& c : cases) {
    Write(c.name, c.file);
    KivSprite* s = KivSpriteLoad(list, c.name, 3);
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(PixelsOf(s), c.expect->pixels) << c.name;
    KivSpriteInfo info;
    KivSpriteGetInfo(s, &info);
    EXPECT_EQ(info.width, 37) << c.name;
    EXPECT_EQ(info.cellHeight, 23) << c.name;
    EXPECT_EQ(KivSpriteRelease(list, s), 1);
  }
  // The lossy method decodes to what the decoder makes of the same file.
  Bytes ycc = ge(opaque, 2, 32);
  Write("ycc.ge", ycc);
  KivSprite* s = KivSpriteLoad(list, "YCC.GE", 0);
  ASSERT_NE(s, nullptr);
  std::vector<uint32_t> want(37 * 23, 0);
  std::vector<uint8_t> work(kKivGeWorkSize);
  ASSERT_EQ(KivGeDecode(ycc, want, 37, work), 1);
  EXPECT_EQ(PixelsOf(s), want);
  KivSpriteRelease(list, s);
  ExpectNothingLeft();
}

TEST_F(SpriteTest, GeHeadGivesPositionAndCells) {
  kivtools::GeOptions o;
  o.method = 1;
  o.x = 12;
  o.y = -5;
  o.cellWidth = 8;
  o.cellHeight = 4;
  Bytes ge = kivtools::EncodeGe(Pattern(32, 8), o);
  KivSprite* s = KivSpriteLoadMemory(list, "cells", ge.data(), static_cast<int>(ge.size()), 0);
  ASSERT_NE(s, nullptr);
  KivSpriteInfo info;
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 12.0f);
  EXPECT_EQ(info.y, -5.0f);
  EXPECT_EQ(info.cellWidth, 8);
  EXPECT_EQ(info.cellHeight, 4);
  KivRect r;
  KivSpriteGetRect(s, &r);
  EXPECT_EQ(r.right, 8);
  EXPECT_EQ(r.bottom, 4);
  EXPECT_STREQ(static_cast<KivSoftSurface*>(s->surface)->entry->name, "cells");
  // BMP: position 0, cells the whole image.
  Bytes bmp = kivtools::EncodeBmp(Pattern(10, 6), 32);
  KivSprite* b = KivSpriteLoadMemory(list, "b", bmp.data(), static_cast<int>(bmp.size()), 0);
  ASSERT_NE(b, nullptr);
  KivSpriteGetInfo(b, &info);
  EXPECT_EQ(info.x, 0.0f);
  EXPECT_EQ(info.cellWidth, 10);
  EXPECT_EQ(info.cellHeight, 6);
}

// ---------------------------------------------------------------- setters

TEST_F(SpriteTest, SettersWriteTheirFieldsAndNullHandlesFail) {
  KivSprite* s = KivSpriteCreate(list, 40, 30, 0);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 1.5f, 2.5f);
  KivSpriteMovePos(s, 1.0f, -1.0f);
  KivSpriteSetOffsetPos(s, 3, 4);
  KivSpriteMoveOffsetPos(s, 1, 1);
  KivSpriteSetScale(s, 0.5f);
  KivSpriteSetRotateEx(s, 1, 2, 3);
  KivSpriteSetCenterOffset(s, 9, 8);
  KivSpriteSetColor(s, 0x80112233u);
  KivSpriteSetRenderMode(s, 2);
  KivSpriteViewCtrl(s, 0);
  KivSpriteInfo info;
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 2.5f);
  EXPECT_EQ(info.y, 1.5f);
  EXPECT_EQ(info.offsetX, 4);
  EXPECT_EQ(info.offsetY, 5);
  EXPECT_EQ(info.scale, 0.5f);
  EXPECT_EQ(info.rotationX, 1.0f);
  EXPECT_EQ(info.rotationY, 2.0f);
  EXPECT_EQ(info.rotationZ, 3.0f);
  EXPECT_EQ(info.centreX, 9);
  EXPECT_EQ(info.centreY, 8);
  EXPECT_EQ(info.colour, 0x80112233u);
  EXPECT_EQ(info.renderMode, 2);
  EXPECT_EQ(KivSpriteViewIs(s), 0);
  KivSpriteSetRotate(s, 100);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.rotationZ, 100.0f);
  KivRect r{1, 2, 3, 4};
  KivSpriteSetRect(s, &r);
  KivRect got;
  KivSpriteGetRect(s, &got);
  EXPECT_EQ(got.left, 1);
  EXPECT_EQ(got.bottom, 4);
  KivSpriteSetRect(s, nullptr);
  KivSpriteGetRect(s, &got);
  EXPECT_EQ(got.right, 40);
  EXPECT_EQ(got.bottom, 30);

  // The info record round trip; the size reaches the surface's record only.
  info.width = 4000;
  info.height = 3000;
  info.priority = -3;
  ASSERT_EQ(KivSpriteSetInfo(s, &info), 1);
  KivSpriteInfo back;
  KivSpriteGetInfo(s, &back);
  EXPECT_EQ(std::memcmp(&back, &info, sizeof info), 0);
  EXPECT_EQ(static_cast<KivSoftSurface*>(s->surface)->width, 4000);
  EXPECT_EQ(list->head.next->priority, 0) << "the node keeps its place";
  ASSERT_EQ(KivSpritePaint(s, 0x12345678u), 1);
  int w = 0, h = 0;
  KivSpriteLock(s, &w, &h);
  KivSpriteUnlock(s);
  EXPECT_EQ(w, 40) << "the pixels keep the size they were made with";
  EXPECT_EQ(PixelsOf(s), std::vector<uint32_t>(1200, 0x12345678u));

  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteSetPos(nullptr, 0, 0), 0);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(KivSpriteMovePos(nullptr, 0, 0), 0);
  EXPECT_EQ(KivSpriteSetColor(nullptr, 0), 0);
  EXPECT_EQ(KivSpriteViewIs(nullptr), 0);
  EXPECT_EQ(KivSpriteGetRect(s, nullptr), 0);
  EXPECT_EQ(KivSpriteGetInfo(nullptr, &info), 0);
  EXPECT_EQ(KivSpriteSetInfo(s, nullptr), 0);
  EXPECT_EQ(KivSpritePaint(nullptr, 0), 0);
  EXPECT_EQ(KivSpriteLock(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(KivSpriteUnlock(nullptr), 0);
  EXPECT_EQ(KivSpriteRelease(list, nullptr), 0);
  KivSpriteSetCenterOffset(nullptr, 1, 1);  // ignored
  EXPECT_EQ(KivSpriteDraw(g_kiv->soft, nullptr), 0);
}

TEST_F(SpriteTest, CellsAreTakenOnlyWhenTheyDivideTheImage) {
  KivSprite* s = KivSpriteCreate(list, 250, 40, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(KivSpriteSetOffsetRect(s, 100, 100), 1);
  KivSpriteInfo info;
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.cellWidth, 250) << "unchanged, yet 1";
  EXPECT_EQ(KivSpriteSetOffsetRect(s, 0, 20), 1);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.cellWidth, 250);
  EXPECT_EQ(KivSpriteSetOffsetRect(s, 50, 20), 1);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.cellWidth, 50);
  EXPECT_EQ(info.cellHeight, 20);
  KivRect r;
  KivSpriteRectSetPos(s, 2, 1);
  KivSpriteGetRect(s, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 150);
  EXPECT_EQ(r.bottom, 40);
  KivSpriteRectSetPos(s, 9, 5);  // past the last cell: the last one
  KivSpriteGetRect(s, &r);
  EXPECT_EQ(r.left, 200);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 250);
  KivSpriteRectSetPos(s, 0xFFFFFFFFu, 0);  // wraps in unsigned arithmetic
  KivSpriteGetRect(s, &r);
  EXPECT_EQ(r.left, 200);
  EXPECT_EQ(KivSpriteSetOffsetRect(nullptr, 1, 1), 0);
}

// ---------------------------------------------------------------- hit tests

TEST_F(SpriteTest, HitTestsUseTheRectangleOffsetsAndAlpha) {
  Image img = Solid(20, 10, 0xFF808080u);
  img.pixels[3 * 20 + 4] = 0x00808080u;  // one transparent pixel
  img.pixels[3 * 20 + 5] = 0x01000000u;  // the least alpha that hits
  KivSprite* s = FromGe(img);
  ASSERT_NE(s, nullptr);
  KivSpriteSetPos(s, 10.7f, 20.2f);
  KivSpriteSetOffsetPos(s, 2, -1);
  // The sprite covers x 12..31, y 19..28.
  EXPECT_EQ(KivSpriteHit(s, 12, 19, 0), 1);
  EXPECT_EQ(KivSpriteHit(s, 31, 28, 1), 1);
  EXPECT_EQ(KivSpriteHit(s, 11, 19, 0), 0);
  EXPECT_EQ(KivSpriteHit(s, 32, 19, 0), 0);
  EXPECT_EQ(KivSpriteHit(s, 12, 29, 0), 0);
  EXPECT_EQ(KivSpriteHit(s, 16, 22, 0), 1);
  EXPECT_EQ(KivSpriteHit(s, 16, 22, 1), 0) << "transparent pixel";
  EXPECT_EQ(KivSpriteHit(s, 17, 22, 1), 1);
  // A source rectangle reaching past the pixels: inside the rectangle, outside
  // the picture, no pixel to hit.
  KivRect wide{10, 0, 30, 10};
  KivSpriteSetRect(s, &wide);
  EXPECT_EQ(KivSpriteHit(s, 12 + 15, 19, 0), 1);
  EXPECT_EQ(KivSpriteHit(s, 12 + 15, 19, 1), 0);
  KivSpriteViewCtrl(s, 0);
  EXPECT_EQ(KivSpriteHit(s, 12, 19, 0), 0);
  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteHit(nullptr, 0, 0, 0), 0);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
}

TEST_F(SpriteTest, ForegroundIsTheLowestPriorityAndTheLaterOfEquals) {
  KivSprite* back = KivSpriteCreate(list, 50, 50, 10);
  KivSprite* a = KivSpriteCreate(list, 50, 50, 5);
  KivSprite* b = KivSpriteCreate(list, 50, 50, 5);
  KivSprite* front = KivSpriteCreate(list, 10, 10, 1);
  ASSERT_TRUE(back && a && b && front);
  KivSpriteSetPos(front, 40.0f, 40.0f);
  EXPECT_EQ(KivSpriteGetForeground(5, 5, 0), b) << "equal priorities: the later in the list";
  EXPECT_EQ(KivSpriteGetForeground(45, 45, 0), front);
  EXPECT_EQ(KivSpriteGetForeground(5, 5, 1), nullptr) << "blank pixels have no alpha";
  KivSpriteViewCtrl(b, 0);
  EXPECT_EQ(KivSpriteGetForeground(5, 5, 0), a);
  EXPECT_EQ(KivSpriteGetForeground(60, 60, 0), nullptr);
  // Other drawables in the list are not hit-tested.
  KivTransition* t = KivSpriteCreateTransitionHandle();
  ASSERT_EQ(KivSpriteSetTransition(list, a, nullptr, 2, 0, 100, t), 1);
  EXPECT_EQ(KivSpriteGetForeground(5, 5, 0), a);
  KivSpriteReleaseTransitionHandle(t);
  KivRenderSetActive(nullptr);
  EXPECT_EQ(KivSpriteGetForeground(5, 5, 0), nullptr);
  KivRenderSetActive(list);
}

// ---------------------------------------------------------------- text

TEST_F(SpriteTest, SizeTagSetsTheFontSizeAndRefusesBadTags) {
  struct Case {
    const char* text;
    int ok;
    int size;  // font size afterwards (starts at 24)
    const char* body;
  } cases[] = {
      {"plain", 1, 24, "plain"},     {"<s30>text", 1, 30, "text"},   {"<s>text", 1, 0, "text"},
      {"<s12s40>t", 1, 40, "t"},     {"<x12>text", 0, 24, nullptr},  {"<s12>", 0, 12, nullptr},
      {"<s12", 0, 12, nullptr},      {"<s1 2>t", 0, 1, nullptr},     {"<>t", 1, 24, "t"},
      {"", 1, 24, ""},
  };
  for (const Case& c : cases) {
    g_kiv->font.size = 24;
    const char* body = nullptr;
    EXPECT_EQ(KivSpriteSizeTag(c.text, &body), c.ok) << c.text;
    EXPECT_EQ(g_kiv->font.size, c.size) << c.text;
    if (c.ok) {
      EXPECT_STREQ(body, c.body) << c.text;
    }
  }
  // Text sprites take the tag's size; the surface holds the measured size
  // plus 2, raised to powers of two (the GPU renderer's sizes, on either
  // renderer), the cell is the measured size; a bad tag or a missing list
  // fails.
  g_kiv->font.size = 24;
  KivSprite* t = KivSpriteCreateText(list, "<s18>hello", 0, 0xFFFFFFFFu);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(g_kiv->font.size, 18);
  KivSize measured{};
  KivFontGetSize("hello", &measured);
  KivSpriteInfo info{};
  KivSpriteGetInfo(t, &info);
  EXPECT_EQ(info.width, KivPowerOfTwo(measured.cx + 2));
  EXPECT_EQ(info.height, KivPowerOfTwo(measured.cy + 2));
  EXPECT_EQ(info.cellWidth, measured.cx);
  EXPECT_EQ(info.cellHeight, measured.cy);
  KivSpriteRelease(list, t);
  EXPECT_EQ(KivSpriteCreateText(list, "<q>hello", 0, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(KivSpriteCreateText(nullptr, "x", 0, 0), nullptr);
  KivSprite* s = KivSpriteCreate(list, 8, 8, 0);
  EXPECT_EQ(KivSpriteCreateTextEx(s, "<s9>x", 0, 0, 0xFF000000u), 1);
  EXPECT_EQ(KivSpriteCreateTextEx(s, "<q>x", 0, 0, 0xFF000000u), 0);
  EXPECT_EQ(KivSpriteCreateTextEx(nullptr, "x", 0, 0, 0), 0);
  KivSpriteRelease(list, s);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------- release

TEST_F(SpriteTest, ReleaseArraySkipsNullEntriesAndClearsThemAll) {
  KivSprite* a = KivSpriteCreate(list, 4, 4, 0);
  KivSprite* b = KivSpriteCreate(list, 4, 4, 0);
  KivSprite* arr[3] = {a, nullptr, b};
  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteReleaseArray(list, arr, 3), 1);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(arr[0], nullptr);
  EXPECT_EQ(arr[2], nullptr);
  EXPECT_EQ(list->head.next, nullptr);
  ExpectNothingLeft();
  KivSprite* c = KivSpriteCreate(list, 4, 4, 0);
  KivSprite* two[1] = {c};
  EXPECT_EQ(KivSpriteReleaseArray(list, two, 1), 0);
  EXPECT_EQ(KivSpriteReleaseArray(list, nullptr, 1), 0);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------- difference images

TEST_F(SpriteTest, DifferenceImagesApplyToTheirBaseAtEveryDepth) {
  const Image base = Pattern(40, 30, false);
  Image changed = base;
  for (int y = 5; y < 12; ++y)
    for (int x = 8; x < 30; ++x) changed.pixels[y * 40 + x] ^= 0x00A5C3E1u;
  kivtools::GeOptions o;
  o.method = 1;
  Write("base.ge", kivtools::EncodeGe(base, o));
  for (int version : {2, 3}) {
    for (int bpp : {24, 32}) {
      kivtools::PgdOptions po;
      po.version = version;
      po.bpp = bpp;
      po.baseName = "BASE.GE";
      Bytes pgd;
      std::string error;
      ASSERT_TRUE(kivtools::EncodePgd(base, changed, po, &pgd, &error)) << error;
      Write("diff.pgd", pgd);
      KivSprite* s = KivSpriteLoad(list, "diff.pgd", 0);
      ASSERT_NE(s, nullptr) << version << "/" << bpp;
      EXPECT_EQ(PixelsOf(s), changed.pixels) << version << "/" << bpp;
      EXPECT_EQ(s->locked.load(), 0);
      KivSpriteRelease(list, s);
    }
  }
  // A base image that is not there gives NULL.
  kivtools::PgdOptions po;
  po.baseName = "MISSING.GE";
  Bytes pgd;
  std::string error;
  ASSERT_TRUE(kivtools::EncodePgd(base, changed, po, &pgd, &error)) << error;
  Write("orphan.pgd", pgd);
  EXPECT_EQ(KivSpriteLoad(list, "orphan.pgd", 0), nullptr);
  // A truncated one too.
  Write("short.pgd", Bytes(pgd.begin(), pgd.begin() + 60));
  EXPECT_EQ(KivSpriteLoad(list, "short.pgd", 0), nullptr);
  ExpectNothingLeft();
}

TEST_F(SpriteTest, DifferenceImageLargerThanItsBaseIsRefused) {
  // The difference was made against a 40x30 picture, but the base it names
  // is 12x9: its rectangle (8..30, 5..12) does not fit.
  const Image big = Pattern(40, 30, false);
  Image changed = big;
  for (int y = 5; y < 12; ++y)
    for (int x = 8; x < 30; ++x) changed.pixels[y * 40 + x] ^= 0x00102030u;
  kivtools::GeOptions o;
  o.method = 1;
  Write("small.ge", kivtools::EncodeGe(Pattern(12, 9, false), o));
  const int used = screen->surfacesUsed;
  for (int bpp : {24, 32}) {
    kivtools::PgdOptions po;
    po.bpp = bpp;
    po.baseName = "SMALL.GE";
    Bytes pgd;
    std::string error;
    ASSERT_TRUE(kivtools::EncodePgd(big, changed, po, &pgd, &error)) << error;
    Write("wide.pgd", pgd);
    DebugCapture cap;
    plat::SetLastError(0);
    EXPECT_EQ(KivSpriteLoad(list, "wide.pgd", 0), nullptr) << bpp;
    EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidParameter) << bpp;
    EXPECT_NE(cap.text.find("rectangle outside the base image"), std::string::npos) << cap.text;
    EXPECT_EQ(screen->surfacesUsed, used) << "the base sprite's surface is given back";
    EXPECT_EQ(list->head.next, nullptr) << "no sprite is left in the list";
    ExpectNothingLeft();
  }
}

// ---------------------------------------------------------------- bad input

TEST_F(SpriteTest, BadImagesGiveNullAndLeakNothing) {
  kivtools::GeOptions o;
  o.method = 1;
  const Bytes good = kivtools::EncodeGe(Pattern(30, 20), o);
  Bytes lying = kivtools::EncodeBmp(Pattern(30, 20), 32);
  lying[18] = 0x10;  // width 16 + ... far more than the file holds
  lying[19] = 0x27;
  std::vector<Bytes> bad = {
      Bytes{'G', 'E'},
      Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
      Bytes(100, 0xFF),
      lying,
      Bytes{'B', 'M', 0, 0},
  };
  Bytes ge = good;
  ge[12] = 0xFF;  // width
  ge[13] = 0xFF;
  bad.push_back(ge);
  const int used = screen->surfacesUsed;
  for (size_t i = 0; i < bad.size(); ++i) {
    DebugCapture cap;
    EXPECT_EQ(KivSpriteLoadMemory(list, "bad", bad[i].data(), static_cast<int>(bad[i].size()), 0), nullptr) << i;
    EXPECT_NE(cap.text.find("error LoadMemory \n"), std::string::npos) << i;
    EXPECT_EQ(screen->surfacesUsed, used) << i;
    EXPECT_EQ(KivMemoryLive(), live) << i;
    Write("bad.img", bad[i]);
    EXPECT_EQ(KivSpriteLoad(list, "bad.img", 0), nullptr) << i;
    EXPECT_EQ(KivMemoryLive(), live) << i;
  }
  EXPECT_EQ(KivSpriteLoadMemory(list, "x", good.data(), 0, 0), nullptr);
  EXPECT_EQ(KivSpriteLoadMemory(list, "x", nullptr, 10, 0), nullptr);
  EXPECT_EQ(KivSpriteLoadMemory(nullptr, "x", good.data(), static_cast<int>(good.size()), 0), nullptr);
  EXPECT_EQ(KivSpriteLoad(list, "nothing.ge", 0), nullptr);
  EXPECT_EQ(KivSpriteLoad(nullptr, "nothing.ge", 0), nullptr);
  EXPECT_EQ(list->head.next, nullptr);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------- copy, lock

TEST_F(SpriteTest, CopyTakesARectangleAtItsOwnOrAScaledSize) {
  const Image img = Pattern(40, 20);
  KivSprite* src = FromGe(img);
  ASSERT_NE(src, nullptr);
  KivSpriteSetPos(src, 7.0f, 9.0f);
  KivSpriteSetOffsetRect(src, 20, 10);
  KivRect part{10, 5, 30, 15};
  KivSprite* same = KivSpriteCopy(list, src, &part, &part, 0);
  ASSERT_NE(same, nullptr);
  std::vector<uint32_t> want;
  for (int y = 5; y < 15; ++y)
    for (int x = 10; x < 30; ++x) want.push_back(img.pixels[y * 40 + x]);
  EXPECT_EQ(PixelsOf(same), want);
  KivSpriteInfo info;
  KivSpriteGetInfo(same, &info);
  EXPECT_EQ(info.x, 7.0f);
  EXPECT_EQ(info.width, 20);
  EXPECT_EQ(info.cellWidth, 20);
  // Twice the size: every pixel twice in each direction.
  KivRect big{0, 0, 40, 20};
  KivSprite* twice = KivSpriteCopy(list, src, &part, &big, 0);
  ASSERT_NE(twice, nullptr);
  std::vector<uint32_t> got = PixelsOf(twice);
  ASSERT_EQ(got.size(), 800u);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(got[y * 40 + x], want[(y / 2) * 20 + x / 2]) << x << "," << y;
  KivSpriteGetInfo(twice, &info);
  EXPECT_EQ(info.cellWidth, 40);
  EXPECT_EQ(info.cellHeight, 20);
  KivRect empty{3, 3, 3, 9};
  EXPECT_EQ(KivSpriteCopy(list, src, &empty, &big, 0), nullptr);
  EXPECT_EQ(KivSpriteCopy(list, nullptr, &part, &big, 0), nullptr);
  EXPECT_EQ(KivSpriteCopy(nullptr, src, &part, &big, 0), nullptr);
}

TEST_F(SpriteTest, ALockedSpriteIsDrawnOnlyOnceItsWriterUnlocks) {
  KivSprite* s = KivSpriteCreate(list, 16, 16, 0);
  ASSERT_NE(s, nullptr);
  int w = 0, h = 0;
  uint32_t* px = KivSpriteLock(s, &w, &h);
  ASSERT_NE(px, nullptr);
  ASSERT_EQ(w, 16);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (int i = 0; i < w * h; ++i) px[i] = 0xFF00FF00u;
    KivSpriteUnlock(s);
  });
  Frame();  // waits for the writer
  writer.join();
  EXPECT_EQ(At(0, 0), RefBlend(0xFF000000u, 0xFF00FF00u, ~0u));
  EXPECT_EQ(At(15, 15), RefBlend(0xFF000000u, 0xFF00FF00u, ~0u));
}

TEST_F(SpriteTest, ReleaseFromAnotherThreadWaitsForTheFrameBeingDrawn) {
  KivSprite* a = FromGe(Solid(8, 8, 0xFFFF0000u), 10);
  KivSprite* b = FromGe(Solid(8, 8, 0xFF0000FFu), 5);
  ASSERT_TRUE(a && b);
  KivSpriteSetPos(b, 20.0f, 0.0f);
  ASSERT_NE(KivSpriteLock(a, nullptr, nullptr), nullptr);  // holds the frame at a
  std::thread other([&] {
    while (list->lockFlag.load() == 0) std::this_thread::yield();  // the frame has begun
    KivSpriteUnlock(a);
    KivRenderLock();  // waits for the frame to end
    KivSpriteRelease(list, b);
    KivRenderUnlock();
  });
  Frame();
  EXPECT_EQ(At(20, 0), RefBlend(0xFF000000u, 0xFF0000FFu, ~0u)) << "b was still drawn in that frame";
  other.join();
  Frame();
  EXPECT_EQ(At(20, 0), 0xFF000000u);
  EXPECT_EQ(At(0, 0), RefBlend(0xFF000000u, 0xFFFF0000u, ~0u));
  KivSpriteRelease(list, a);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------- transitions

class TransitionTest : public SpriteTest {
 protected:
  void At(uint32_t ms) {
    plat::AdvanceVirtualClock(ms - (KivUpdateTime() - start));
    KivUpdateTime();
  }
  uint32_t start = 0;
};

TEST_F(TransitionTest, CrossFadeRunsOnTheFrameClockAndCancelReleasesTheOutgoing) {
  KivSprite* in = FromGe(Solid(8, 8, 0xFFFF0000u), 4);
  KivSprite* out = FromGe(Solid(8, 8, 0xFF0000FFu), 4);
  ASSERT_TRUE(in && out);
  KivTransition* t = KivSpriteCreateTransitionHandle();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(KivSpriteGetTransitionState(t), 0);
  start = KivUpdateTime();
  ASSERT_EQ(KivSpriteSetTransition(list, in, out, 1, start, 1000, t), 1);
  EXPECT_EQ(in->transitionCode, 1);
  EXPECT_EQ(out->transitionCode, 1);
  for (uint32_t ms : {0u, 250u, 500u, 999u}) {
    At(ms);
    Frame();
    const float p = static_cast<float>(ms) / 1000.0f;
    const uint32_t ai = static_cast<uint32_t>(p * 255.0f), ao = 255 - ai;
    const uint32_t c = RefCombine(0xFFFF0000u, 0xFF0000FFu, ai, ao);
    EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, c, 0xFFFFFFFFu)) << ms;
    EXPECT_EQ(KivSpriteGetTransitionState(t), 1) << ms;
  }
  At(1500);
  Frame();
  EXPECT_EQ(KivSpriteGetTransitionState(t), 2);
  // Full progress: the incoming picture with the outgoing at alpha 0.
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, RefCombine(0xFFFF0000u, 0xFF0000FFu, 255, 0), ~0u));
  // Hidden: nothing at all.
  KivSpriteViewCtrl(out, 0);
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), 0xFF000000u);
  KivSpriteViewCtrl(out, 1);
  const int before = KivMemoryLive();
  ASSERT_EQ(KivSpriteCancelTransition(t), 1);
  EXPECT_EQ(KivSpriteGetTransitionState(t), 0);
  EXPECT_EQ(in->transitionCode, 0);
  EXPECT_LT(KivMemoryLive(), before) << "the outgoing sprite and the node are gone";
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, 0xFFFF0000u, ~0u)) << "the incoming sprite draws itself";
  EXPECT_EQ(KivSpriteReleaseTransitionHandle(t), 1);
  KivSpriteRelease(list, in);
  ExpectNothingLeft();
}

TEST_F(TransitionTest, DurationZeroCodeTwoAndSingleSprites) {
  KivSprite* in = FromGe(Solid(8, 8, 0xFFFF0000u), 4);
  KivSprite* out = FromGe(Solid(8, 8, 0xFF0000FFu), 4);
  KivTransition* t = KivSpriteCreateTransitionHandle();
  start = KivUpdateTime();
  // Duration 0: the incoming sprite alone at full alpha, finished at once.
  ASSERT_EQ(KivSpriteSetTransition(list, in, out, 1, start, 0, t), 1);
  Frame();
  EXPECT_EQ(KivSpriteGetTransitionState(t), 2);
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, 0xFFFF0000u, ~0u));
  // A new start cancels the running one first (releasing its outgoing sprite).
  KivSprite* other = FromGe(Solid(8, 8, 0xFF00FF00u), 4);
  ASSERT_EQ(KivSpriteSetTransition(list, in, other, 2, start, 100, t), 1);
  for (int i = 0; i < 3; ++i) {
    At(static_cast<uint32_t>(i * 80));
    Frame();
    EXPECT_EQ(SpriteTest::At(3, 3), 0xFF000000u) << "code 2 hides both sprites";
  }
  EXPECT_EQ(KivSpriteGetTransitionState(t), 2) << "code 2 finishes on time too";
  ASSERT_EQ(KivSpriteCancelTransition(t), 1);
  // The incoming sprite alone fades in with trunc(p * A).
  KivSpriteSetColor(in, 0xC0FFFFFFu);
  start = KivUpdateTime();
  ASSERT_EQ(KivSpriteSetTransition(list, in, nullptr, 1, start, 200, t), 1);
  At(100);
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, 0xFFFF0000u, 0x60FFFFFFu));  // trunc(0.5 * 192) = 96
  KivSpriteCancelTransition(t);
  // The outgoing sprite alone fades out with trunc((1 - p) * its alpha).
  KivSprite* leaving = FromGe(Solid(8, 8, 0xFF0000FFu), 4);
  KivSpriteSetPos(in, 100.0f, 0.0f);
  start = KivUpdateTime();
  ASSERT_EQ(KivSpriteSetTransition(list, nullptr, leaving, 1, start, 400, t), 1);
  At(100);
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, 0xFF0000FFu, 0xBFFFFFFFu));  // trunc(0.75 * 255) = 191
  EXPECT_EQ(KivSpriteReleaseTransitionHandle(t), 1) << "a running handle is cancelled first";
  EXPECT_EQ(KivSpriteGetTransitionState(nullptr), 3);
  plat::SetLastError(0);
  KivTransition* u = KivSpriteCreateTransitionHandle();
  EXPECT_EQ(KivSpriteSetTransition(list, nullptr, nullptr, 1, 0, 10, u), 0);
  EXPECT_EQ(plat::GetLastError(), 1u);
  EXPECT_EQ(KivSpriteGetTransitionState(u), 0);
  EXPECT_EQ(KivSpriteSetTransition(list, in, nullptr, 1, 0, 10, nullptr), 0);
  EXPECT_EQ(KivSpriteCancelTransition(u), 0) << "an idle handle has no list";
  EXPECT_EQ(KivSpriteReleaseTransitionHandle(nullptr), 0);
  KivSpriteReleaseTransitionHandle(u);
  KivSpriteRelease(list, in);
  EXPECT_EQ(KivSpriteTransitionDraw(g_kiv->soft, nullptr), 0);
  ExpectNothingLeft();
}

TEST_F(TransitionTest, ASpriteReleasedDuringATransitionLeavesIt) {
  KivSprite* in = FromGe(Solid(8, 8, 0xFFFF0000u), 4);
  KivSprite* out = FromGe(Solid(8, 8, 0xFF0000FFu), 4);
  KivTransition* t = KivSpriteCreateTransitionHandle();
  start = KivUpdateTime();
  ASSERT_EQ(KivSpriteSetTransition(list, in, out, 1, start, 400, t), 1);
  At(100);
  Frame();
  // The outgoing sprite goes first: the incoming one fades in alone.
  ASSERT_EQ(KivSpriteRelease(list, out), 1);
  EXPECT_EQ(t->outgoing, nullptr);
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), RefBlend(0xFF000000u, 0xFFFF0000u, 0x3FFFFFFFu));  // trunc(0.25 * 255) = 63
  KivSprite* arr[1] = {in};
  EXPECT_EQ(KivSpriteReleaseArray(list, arr, 1), 0);
  EXPECT_EQ(t->incoming, nullptr);
  Frame();
  EXPECT_EQ(SpriteTest::At(3, 3), 0xFF000000u);
  EXPECT_EQ(KivSpriteReleaseTransitionHandle(t), 1);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------- aspect correction

TEST_F(SpriteTest, AspectCorrectionMovesPositionsForTheCutFullScreen) {
  plat::SetHeadlessMonitors({{0, 0, 1280, 1024}});
  KivSprite* s = KivSpriteCreate(list, 4, 4, 0);
  KivSpriteSetPos(s, 300.0f, 20.0f);
  KivSpriteConvertAspectPosition(s, 1);  // windowed: nothing
  KivSpriteInfo info;
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 300.0f);
  g_kiv->params.fullScreen = 1;
  g_kiv->params.aspect = 3;
  g_kiv->params.x = g_kiv->params.y = 0;
  screen->view = plat::Rect{-270, 0, 1550, 1024};  // 320 x 180 fills 1280 x 1024 cut
  // sx = 1280 / 1820; dx = 160 - trunc(160 * sx) = 48; sy = 1, dy = 0.
  KivSpriteConvertAspectPosition(s, 2);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 252.0f);
  EXPECT_EQ(info.y, 20.0f);
  KivSpriteSetPos(s, 10.0f, 20.0f);
  KivSpriteConvertAspectPosition(s, 1);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 58.0f);
  EXPECT_EQ(info.y, 20.0f);
  KivSpriteSetPos(s, 300.0f, 20.0f);
  KivSpriteConvertAspectPosition(s, 4);
  KivSpriteGetInfo(s, &info);
  const float sx = 1280.0f / 1820.0f;
  EXPECT_FLOAT_EQ(info.x, 160.0f + (300.0f - 160.0f) * sx);
  KivSpriteConvertAspectPosition(s, 0);
  KivSpriteConvertAspectPosition(s, 9);
  KivSpriteGetInfo(s, &info);
  EXPECT_FLOAT_EQ(info.x, 160.0f + (300.0f - 160.0f) * sx);
  g_kiv->params.aspect = 1;
  KivSpriteSetPos(s, 300.0f, 20.0f);
  KivSpriteConvertAspectPosition(s, 1);
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 300.0f);
  g_kiv->params.fullScreen = 0;
  KivSpriteConvertAspectPosition(nullptr, 1);
  plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
}

}  // namespace
