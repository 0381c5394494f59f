// Fonts: the real faces through FreeType, glyph files written by our own
// writer and made by hand (including lying ones), the ExFont atlas, the
// plotting effects, the type setter, malformed text and two threads
// drawing at once.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "glyph_writer.h"
#include "platform/core/byte_io.h"
#include "platform/font/font.h"
#include "support/sprite_scene.h"

namespace {

using kivtest::Sj;

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};
Box Covered(const std::vector<uint32_t>& px, int w) {
  Box b;
  for (size_t i = 0; i < px.size(); ++i)
    if (px[i] >> 24) {
      const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
      ++b.count;
    }
  return b;
}

// A hand-made glyph file: a table of `entries` offsets all pointing at one
// record of a w x h glyph with advance 10, the bitmap size given, and a
// trailer of height 20, ascent 16, average width 10.
std::vector<uint8_t> HandMade(uint32_t entries, uint32_t w, uint32_t h, uint32_t bitmapBytes, uint32_t pointAt = 0) {
  plat::ByteWriter o;
  const uint32_t rec = entries * 4;
  for (uint32_t i = 0; i < entries; ++i) o.U32(pointAt && i == 65 ? pointAt : rec);
  o.U32(w);
  o.U32(h);
  o.I32(0);
  o.I32(static_cast<int32_t>(h));
  o.U16(10);
  o.U16(0);
  o.U32(bitmapBytes);
  const uint32_t real = ((w + 3) & ~3u) * h;
  for (uint32_t i = 0; i < real; ++i) o.Bytes("\x40", 1);
  const int32_t trailer[11] = {20, 16, 4, 0, 0, 10, 20, 400, 0, 96, 96};
  for (int32_t v : trailer) o.I32(v);
  const uint8_t tail[12] = {};
  o.Bytes(tail, 12);
  return std::move(o.bytes());
}

// An 8-bit grey TGA atlas of `cells` cells of side 8; cell n is grey
// 255 * n / (cells - 1) where it is not transparent. extra adds bytes.
std::vector<uint8_t> Atlas(int cells, int extra = 0) {
  const int w = 8 * cells, h = 8;
  std::vector<uint8_t> f(18, 0);
  f[2] = 3;
  f[12] = static_cast<uint8_t>(w);
  f[13] = static_cast<uint8_t>(w >> 8);
  f[14] = static_cast<uint8_t>(h);
  f[16] = 8;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f.push_back(static_cast<uint8_t>(255 * (x / 8) / (cells - 1)));
  f.resize(f.size() + 26 + extra, 0);
  return f;
}

class FontTest : public kivtest::SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    KivFontSetType(0);
    KivFontSetFontSize(24);
    KivFontSetEffect(0);
    KivFontSetColor(0xFFFFFF, 0);
  }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  KivSize Measure(const std::string& sj) {
    KivSize s{};
    KivFontGetSize(sj.c_str(), &s);
    return s;
  }
  std::vector<uint32_t> Draw(const std::string& sj, int w, int h, uint32_t fill = 0) {
    std::vector<uint32_t> px(static_cast<size_t>(w) * h, fill);
    KivFontDrawText(px.data(), sj.c_str(), 0, 0, w, h);
    return px;
  }
};

TEST_F(FontTest, RealFacesHaveCoverageAndFullWidthAdvances) {
  plat::FontHandle* gothic = plat::FontOpen(plat::FontFace::kGothic, 24, false);
  ASSERT_NE(gothic, nullptr);
  EXPECT_NE(std::string(plat::FontFilePath(gothic)), "") << "fontconfig finds the Gothic face";
  // "あ" advances about the size, "A" about half of it; both draw.
  EXPECT_NEAR(Measure(Sj("あ")).cx - 2, 24, 1);
  EXPECT_NEAR(Measure("A").cx - 2, 12, 1);
  EXPECT_EQ(Measure(Sj("あ")).cy, 24 + 2);
  const std::vector<uint32_t> px = Draw(Sj("あA"), 48, 30);
  std::vector<uint32_t> left, right;
  int leftCount = 0, rightCount = 0, opaque = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 48; ++x) {
      const uint32_t a = px[y * 48 + x] >> 24;
      if (a) (x < 25 ? leftCount : rightCount)++;
      if (a == 255) ++opaque;
    }
  EXPECT_GT(leftCount, 40);
  EXPECT_GT(rightCount, 15);
  EXPECT_GT(opaque, 20);
  // The proportional face gives "i" less room than the fixed one; the
  // bold Mincho is a face of its own.
  const int fixedI = Measure("iiii").cx;
  KivFontSetType(2);
  EXPECT_LT(Measure("iiii").cx, fixedI);
  KivFontSetType(1);
  const std::vector<uint32_t> boldMincho = Draw(Sj("永"), 30, 30);
  KivFontSetType(0);
  EXPECT_NE(boldMincho, Draw(Sj("永"), 30, 30));
  // A second page of the same text renders no glyph anew.
  const uint64_t before = plat::FontGlyphsRendered();
  Draw(Sj("あA"), 48, 30);
  EXPECT_EQ(plat::FontGlyphsRendered(), before);
}

TEST_F(FontTest, GlyphFileScalesFromItsDesignSize) {
  kivtools::GlyphFileOptions o;
  o.size = 24;
  o.chars = Sj("あいA");
  Write("GLYPH24.FNT", kivtools::WriteGlyphFile(o));
  ASSERT_EQ(KivFontLoad("GLYPH24.FNT"), 1);
  ASSERT_EQ(KivFontSetType(4), 1);
  const KivSize s24 = Measure(Sj("あい"));
  EXPECT_EQ(s24.cy, 24 + 2);
  EXPECT_NEAR(s24.cx, 2 * 24 + 2, 2);
  const Box b24 = Covered(Draw(Sj("あ"), 64, 64), 64);
  KivFontSetFontSize(48);
  const KivSize s48 = Measure(Sj("あい"));
  EXPECT_EQ(s48.cy, 48 + 2) << "the text metrics double";
  EXPECT_NEAR(s48.cx, 2 * 48 + 2, 8);
  const Box b48 = Covered(Draw(Sj("あ"), 128, 128), 128);
  EXPECT_NEAR(b48.bottom - b48.top + 1, 2 * (b24.bottom - b24.top + 1), 3);
  EXPECT_NEAR(b48.right - b48.left + 1, 2 * (b24.right - b24.left + 1), 4);
  // The same text through the face it came from draws the same pixels.
  KivFontSetFontSize(24);
  const std::vector<uint32_t> fromFile = Draw(Sj("あいA"), 80, 30);
  KivFontSetType(0);
  const std::vector<uint32_t> fromFace = Draw(Sj("あいA"), 80, 30);
  for (size_t i = 0; i < fromFace.size(); ++i)
    ASSERT_EQ(fromFile[i], fromFace[i]) << "pixel " << i % 80 << "," << i / 80;
  KivFontUnload();
}

TEST_F(FontTest, MalformedGlyphFilesGiveBlankGlyphsThatStillAdvance) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* text;
    int size;
    int cx;       // measured width
    bool drawn;   // any pixel drawn
  } cases[] = {
      {"good", HandMade(66, 4, 2, 8), "A", 20, 10 + 2, true},
      {"index past the table", HandMade(66, 4, 2, 8), "B", 20, 10 + 2, false},
      {"double-byte past the table", HandMade(66, 4, 2, 8), "\x82\xA0", 20, 20 + 2, false},
      {"offset past the file", HandMade(66, 4, 2, 8, 0x7FFFFF00u), "A", 20, 10 + 2, false},
      {"bitmap size past the file", HandMade(66, 4, 2, 4000), "A", 20, 10 + 2, false},
      {"bitmap size short of its rows", HandMade(66, 4, 2, 4), "A", 20, 10 + 2, false},
      {"empty glyph scaled", HandMade(66, 0, 0, 0), "A", 40, 20 + 2, false},
      {"empty glyph height scaled", HandMade(66, 4, 0, 0), "A", 40, 20 + 2, false},
  };
  for (Case& c : cases) {
    Write("HAND.FNT", c.file);
    ASSERT_EQ(KivFontLoad("HAND.FNT"), 1) << c.name;
    KivFontSetType(4);
    KivFontSetFontSize(c.size);
    EXPECT_EQ(Measure(c.text).cx, c.cx) << c.name;
    EXPECT_EQ(Covered(Draw(c.text, 64, 64), 64).count > 0, c.drawn) << c.name;
  }
  // Files too short for a table and a trailer, or whose table points into
  // itself, are refused and the loaded one stays.
  Write("SHORT.FNT", std::vector<uint8_t>(40, 0));
  EXPECT_EQ(KivFontLoad("SHORT.FNT"), 0);
  std::vector<uint8_t> selfish = HandMade(66, 4, 2, 8);
  selfish[0] = selfish[1] = selfish[2] = selfish[3] = 0;
  Write("SELF.FNT", selfish);
  EXPECT_EQ(KivFontLoad("SELF.FNT"), 0);
  EXPECT_EQ(KivFontLoad("MISSING.FNT"), 0);
  EXPECT_EQ(Measure("A").cx, 20 + 2) << "the last good file is still in use";
}

TEST_F(FontTest, ExFontCellsDrawScaledAndCellsBeyondTheAtlasAreIgnored) {
  Write("EXFONT.TGA", Atlas(3));
  Write("BADSIZE.TGA", Atlas(3, 1));
  EXPECT_EQ(KivExFontLoad("BADSIZE.TGA"), 0);
  EXPECT_EQ(KivExFontLoad("NONE.TGA"), 0);
  ASSERT_EQ(KivExFontLoad("EXFONT.TGA"), 1);
  KivFontSetFontSize(8);
  KivFontSetColor(0x102030, 0);
  EXPECT_EQ(Measure("%2").cx, 8 + 2 + 2);
  EXPECT_EQ(Measure("%3").cx, 2) << "cell 3 lies beyond a 3-cell atlas";
  std::vector<uint32_t> px = Draw("%2", 16, 16);
  EXPECT_EQ(px[1 * 16 + 1], 0xFF102030u) << "grey 255 is full coverage";
  EXPECT_EQ(px[8 * 16 + 8], 0xFF102030u);
  EXPECT_EQ(px[9 * 16 + 9], 0u);
  EXPECT_EQ(Covered(Draw("%3%9", 64, 16), 64).count, 0);
  // At size 16 the cell is drawn at 16 x 16 and the pen moves by 16.
  KivFontSetFontSize(16);
  const Box b = Covered(Draw("%2%2", 64, 32), 64);
  EXPECT_EQ(b.right - b.left + 1, 32);
  KivExFontUnload();
  EXPECT_EQ(Measure("%2").cx, 2);
}

TEST_F(FontTest, EffectsAndFullCoverage) {
  Write("EXFONT.TGA", Atlas(2));
  ASSERT_EQ(KivExFontLoad("EXFONT.TGA"), 1);
  KivFontSetFontSize(8);
  KivFontSetColor(0xFF0000, 0x0000FF);
  // Full coverage is opaque in the text colour whatever lay below.
  std::vector<uint32_t> px = Draw("%1", 16, 16, 0x80123456u);
  EXPECT_EQ(px[4 * 16 + 4], 0xFFFF0000u);
  // Drop shadow: one pixel right and below the glyph.
  KivFontSetEffect(2);
  px = Draw("%1", 16, 16);
  EXPECT_EQ(px[9 * 16 + 9], 0xFF0000FFu);
  EXPECT_EQ(px[0 * 16 + 0], 0u);
  EXPECT_EQ(px[1 * 16 + 9], 0u);
  EXPECT_EQ(px[2 * 16 + 9], 0xFF0000FFu);
  // Outline: the four neighbours of every covered pixel.
  KivFontSetEffect(1);
  px = Draw("%1", 16, 16);
  EXPECT_EQ(px[4 * 16 + 0], 0xFF0000FFu);
  EXPECT_EQ(px[0 * 16 + 4], 0xFF0000FFu);
  EXPECT_EQ(px[4 * 16 + 9], 0xFF0000FFu);
  EXPECT_EQ(px[0 * 16 + 0], 0u);
  EXPECT_EQ(px[4 * 16 + 4], 0xFFFF0000u);
  // Drawing off the surface's edges is clipped.
  std::vector<uint32_t> small(4 * 4, 0);
  KivFontDrawText(small.data(), "%1", -5, -5, 4, 4);
  KivFontDrawText(small.data(), "%1", 3, 3, 4, 4);
  SUCCEED();
}

TEST_F(FontTest, TypeSetterRefusesUnknownTypesAndTypeFourFallsBack) {
  EXPECT_EQ(KivFontSetType(5), 0);
  EXPECT_EQ(KivFontSetType(-1), 0);
  EXPECT_EQ(KivFontSetType(0x10000), 0);
  EXPECT_EQ(KivFontGetType(), 0);
  const std::vector<uint32_t> type0 = Draw(Sj("字"), 30, 30);
  ASSERT_EQ(KivFontSetType(4), 1);
  EXPECT_EQ(Draw(Sj("字"), 30, 30), type0) << "no glyph file: the Gothic face";
  int c = 0, e = 0;
  KivFontSetColor(0x123456, 0x654321);
  KivFontGetColor(&c, &e);
  EXPECT_EQ(c, 0x123456);
  EXPECT_EQ(e, 0x654321);
  KivFontGetColor(nullptr, nullptr);
  KivFontSetEffect(2);
  EXPECT_EQ(KivFontGetEffect(), 2);
}

TEST_F(FontTest, TextRulesAndMalformedEndings) {
  const int H = 24;
  EXPECT_EQ(Measure(" ").cx, H / 2 + 2);
  EXPECT_EQ(Measure(Sj("　")).cx, H + 2);
  EXPECT_EQ(Measure("<tag>").cx, 2);
  EXPECT_EQ(Measure(Sj("あ<br>あ")).cy, 2 * H + 2);
  EXPECT_EQ(Measure(Sj("あ<BR>あ\nあ\rあ")).cy, 4 * H + 2);
  EXPECT_EQ(Measure(Sj("あ<br>")).cx, Measure(Sj("あ")).cx);
  // Every scan stops at the zero byte: exact-size copies under ASan.
  const char* endings[] = {"<", "<br", "ab<c", "\x82", "a\x82", "%", "a%", "<%1"};
  for (const char* e : endings) {
    std::vector<char> exact(e, e + std::strlen(e) + 1);
    KivSize s{};
    KivFontGetSize(exact.data(), &s);
    std::vector<uint32_t> px(64 * 32, 0);
    KivFontDrawText(px.data(), exact.data(), 0, 0, 64, 32);
  }
  EXPECT_EQ(Measure("\x82").cx, 2) << "a lead byte before the end is no character";
  EXPECT_EQ(Measure("ab<c").cx, Measure("ab").cx) << "an unclosed tag ends the text";
  // Sizes no face has draw nothing and do not fail.
  KivFontSetFontSize(0);
  EXPECT_EQ(Covered(Draw(Sj("あ"), 30, 30), 30).count, 0);
  KivFontSetFontSize(-3);
  EXPECT_EQ(Covered(Draw(Sj("あ"), 30, 30), 30).count, 0);
}

TEST_F(FontTest, TwoThreadsDrawingAtOnceGetWhatEachWouldAlone) {
  const std::string a = Sj("あいうえお漢字"), b = Sj("かきくけこABC");
  KivFontBegin();
  KivFontEnd();
  const std::vector<uint32_t> refA = Draw(a, 200, 30), refB = Draw(b, 200, 30);
  std::atomic<int> bad{0};
  auto worker = [&](const std::string& text, const std::vector<uint32_t>& ref, int size) {
    for (int i = 0; i < 40; ++i) {
      KivFontBegin();
      std::vector<uint32_t> px(200 * 30, 0);
      KivSize s{};
      KivFontGetSize(text.c_str(), &s);
      KivFontDrawText(px.data(), text.c_str(), 0, 0, 200, 30);
      KivFontEnd();
      if (px != ref) bad.fetch_add(1);
      (void)size;
    }
  };
  std::thread t1(worker, std::cref(a), std::cref(refA), 24);
  std::thread t2(worker, std::cref(b), std::cref(refB), 24);
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
