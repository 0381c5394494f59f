// Text layout on the real engine and the real Gothic face: a message line
// with ruby and a colour tag against a reviewed golden frame, and a text of
// four automatically wrapped lines that a full reveal uncovers completely.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"
#include "support/sprite_scene.h"
#include "text/text_layout.h"

namespace {

using kivtest::Sj;

class TextFrameTest : public kivtest::SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    KivFontSetType(0);
    KivFontSetFontSize(24);
    KivFontSetEffect(0);
  }
  void TearDown() override {
    KivFontSetEffect(0);
    SpriteSceneTest::TearDown();
  }
  std::vector<uint32_t> Pixels(KivSprite* s) {
    int w = 0, h = 0;
    uint32_t* px = KivSpriteLock(s, &w, &h);
    std::vector<uint32_t> out(px, px + static_cast<size_t>(w) * h);
    KivSpriteUnlock(s);
    return out;
  }
};

TEST_F(TextFrameTest, MessageLineWithRubyAndColourMatchesTheGoldenFrame) {
  KivSprite* back = KivSpriteCreate(list, 320, 180, 100);
  ASSERT_NE(back, nullptr);
  KivSpritePaint(back, 0xFF203048u);
  KivSprite* text = KivSpriteCreate(list, 512, 64, 10);
  ASSERT_NE(text, nullptr);
  KivSpritePaint(text, 0);
  KivSpriteSetPos(text, 12.0f, 60.0f);
  KivFontSetEffect(1);
  int x = 0, y = 0;
  const int n = text_draw(text, Sj("<c#ffd040#402000>夜</c>の<rとばり>帳</r>が下りる。").c_str(), &x,
                          &y, 296, 60, 24, 10, {0xFFFFFF, 0x000000}, nullptr);
  EXPECT_EQ(n, 64 + 8 * 24);
  EXPECT_EQ(y, 0) << "one line";
  ASSERT_EQ(KivRenderFrame(), 1);
  ASSERT_EQ(KivRenderFrame(), 1);
  const int w = screen->width, h = screen->height;
  std::vector<uint32_t> frame(screen->backBuffer, screen->backBuffer + static_cast<size_t>(w) * h);
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/text_message_line.png";
  if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    ASSERT_TRUE(plat::CapturePng(golden, frame.data(), w, h, w));
  }
  std::vector<uint32_t> want;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &want, &gw, &gh)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(gw, w);
  ASSERT_EQ(gh, h);
  int differ = 0;
  for (size_t i = 0; i < want.size(); ++i)
    if ((want[i] & 0xFFFFFFu) != (frame[i] & 0xFFFFFFu)) ++differ;
  EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
}

TEST_F(TextFrameTest, AFullRevealOfFourWrappedLinesUncoversEveryDrawnPixel) {
  KivSprite* text = KivSpriteCreate(list, 256, 128, 10);
  ASSERT_NE(text, nullptr);
  KivSpritePaint(text, 0);
  TextRevealRecord rev{};
  ASSERT_TRUE(text_reveal_alloc(&rev, 168, 24, 128, 26));
  EXPECT_EQ(rev.rowWidth, 192);
  KivFontSetEffect(1);
  int x = 0, y = 0;
  const std::string line = Sj("春夏秋冬東西南北上下左右前後天地人山川海空月日星花鳥風雲");
  const int n = text_draw(text, line.c_str(), &x, &y, 168, 128, 24, 0, {0xFFFFFF, 0}, &rev);
  // Seven characters a line; the count is the unit of the pen at the end.
  EXPECT_EQ(n - 64, 3 * 192 + 7 * 24);
  EXPECT_EQ(y, 3 * 26) << "four lines, every break automatic";
  const std::vector<uint32_t> drawn = Pixels(text);
  text_reveal_capture(&rev, text);
  for (uint32_t p : Pixels(text)) ASSERT_EQ(p >> 24, 0u);
  // Half way the last line is still hidden.
  text_reveal_apply(&rev, text, (n + 64) / 2);
  int hiddenLast = 0;
  std::vector<uint32_t> half = Pixels(text);
  for (int yy = 78; yy < 104; ++yy)
    for (int xx = 0; xx < 192; ++xx)
      if ((drawn[yy * 256 + xx] >> 24) && !(half[yy * 256 + xx] >> 24)) ++hiddenLast;
  EXPECT_GT(hiddenLast, 50);
  // The reveal's last threshold (reveal length + 64) restores every pixel.
  text_reveal_apply(&rev, text, n + 64);
  const std::vector<uint32_t> full = Pixels(text);
  int wrong = 0;
  for (size_t i = 0; i < full.size(); ++i)
    if ((full[i] >> 24) != (drawn[i] >> 24)) ++wrong;
  EXPECT_EQ(wrong, 0);
  text_reveal_free(&rev);
}

}  // namespace
