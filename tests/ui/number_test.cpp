// Numbers drawn from a digit strip: which cell each entry shows, which
// entries are visible, positions, and bounds that hold for any value and
// count.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "support/sprite_scene.h"

using namespace kivtest;
using kivtools::Image;

namespace {

class NumberTest : public SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    // 14 cells of 8 x 8 in one row: 0-9, plus, minus, two symbols.
    Image strip{112, 8, std::vector<uint32_t>(112 * 8, 0xFFFFFFFFu)};
    kivtools::GeOptions o;
    o.cellWidth = 8;
    o.cellHeight = 8;
    std::vector<uint8_t> ge = kivtools::EncodeGe(strip, o);
    std::ofstream(folder + "/digits.ge", std::ios::binary)
        .write(reinterpret_cast<const char*>(ge.data()), static_cast<std::streamsize>(ge.size()));
  }
  // "cell" for each visible entry from 0 up, "-" for a hidden one.
  static std::string Shown(KivSprite** a, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      if (!out.empty()) out += ' ';
      if (!KivSpriteViewIs(a[i])) {
        out += '-';
        continue;
      }
      KivRect r{};
      KivSpriteGetRect(a[i], &r);
      out += std::to_string(r.left / 8);
    }
    return out;
  }
};

TEST_F(NumberTest, DrawShowsDigitsSymbolsAndNeverMoreThanCount) {
  KivSprite* a[6] = {};
  KivNumberCreate(list, "digits.ge", a, 6, 5);
  for (KivSprite* s : a) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(KivSpriteViewIs(s), 0) << "made hidden";
  }
  const struct {
    int value, count, flags;
    const char* shown;
  } cases[] = {
      {-305, 6, 0x1, "5 0 3 11 - -"},   // right to left 5, 0, 3, minus
      {305, 6, 0x1, "5 0 3 10 - -"},    // plus
      {42, 5, 0x2, "2 4 0 0 0 -"},      // the caller's count with leading zeros
      {42, 4, 0x3, "2 4 0 10 - -"},     // leading zeros, then the sign
      {42, 6, 0x4, "2 12 - - - -"},     // the symbol in place of the last digit
      {42, 6, 0x8, "2 13 - - - -"},
      {42, 6, 0xC, "2 12 - - - -"},     // 0x4 is tested first
      {0, 6, 0, "0 - - - - -"},
      {INT_MIN, 6, 0x1, "8 4 6 3 8 11"},  // 2147483648 needs 11 entries: six shown, the last the sign
      {INT_MIN, 6, 0, "8 4 6 3 8 4"},
      {12345, 2, 0, "5 4 - - - -"},     // only the two entries given
      {12345, 0, 0, "- - - - - -"},
      {7, -3, 0x2, "- - - - - -"},
  };
  for (const auto& c : cases) {
    KivNumberDrawCtrl(a, 6, 0);
    KivNumberDraw(a, c.value, c.count, c.flags);
    EXPECT_EQ(Shown(a, 6), c.shown) << c.value << " count " << c.count << " flags " << c.flags;
  }
  // Same-number draw: every entry with one cell.
  KivSameNumberDraw(a, 3, 13);
  EXPECT_EQ(Shown(a, 6), "13 13 13 - - -");
  KivSameNumberDraw(a, 2, 99);  // past the strip: the last cell
  EXPECT_EQ(Shown(a, 6), "13 13 13 - - -");

  KivNumberSetEx(a, 100, 20, 10, 3);
  KivSpriteInfo info{};
  KivSpriteGetInfo(a[0], &info);
  EXPECT_EQ(info.x, 120.0f);
  KivSpriteGetInfo(a[2], &info);
  EXPECT_EQ(info.x, 100.0f);
  EXPECT_EQ(info.y, 20.0f);
  KivNumberAlphaType(a, 6, 0x80FFFFFFu);
  KivSpriteGetInfo(a[5], &info);
  EXPECT_EQ(info.colour, 0x80FFFFFFu);
  KivSpriteReleaseArray(list, a, 6);
}

TEST_F(NumberTest, NullArraysAndEntriesAreSkippedWithTheHandleError) {
  KivSprite* a[4] = {};
  KivNumberCreate(list, "digits.ge", a + 1, 3, 5);
  a[2] = nullptr;  // a hole in the middle too (its sprite stays in the list)
  // Entry 0 missing: the step comes from the first entry there is.
  KivNumberSet(a, 10, 0, 4);
  KivSpriteInfo info{};
  KivSpriteGetInfo(a[1], &info);
  EXPECT_EQ(info.x, 10.0f + 8.0f * 2);
  EXPECT_EQ(KivGetLastError(), 6u);
  KivNumberDraw(a, -7, 4, 0x1);
  EXPECT_EQ(KivGetLastError(), 6u);
  EXPECT_EQ(KivSpriteViewIs(a[1]), 1);
  KivRect r{};
  KivSpriteGetRect(a[1], &r);
  EXPECT_EQ(r.left / 8, 11) << "the sign on entry 1; entry 0 was skipped";
  // A NULL array does nothing.
  for (auto call : {+[] { KivNumberDraw(nullptr, 5, 3, 0); }, +[] { KivNumberSet(nullptr, 0, 0, 3); },
                    +[] { KivNumberSetEx(nullptr, 0, 0, 1, 3); }, +[] { KivNumberDrawCtrl(nullptr, 3, 1); },
                    +[] { KivSameNumberDraw(nullptr, 3, 1); }, +[] { KivNumberAlphaType(nullptr, 3, 0); },
                    +[] { KivNumberCreate(nullptr, "digits.ge", nullptr, 3, 0); }}) {
    plat::SetLastError(0);
    call();
    EXPECT_EQ(KivGetLastError(), 6u);
  }
  KivSprite* none[2] = {};
  plat::SetLastError(0);
  KivNumberSet(none, 0, 0, 2);
  EXPECT_EQ(KivGetLastError(), 6u);
}

TEST(NumberPlaces, CountDigitsWithoutTheSign) {
  const struct {
    int value, places;
  } cases[] = {{0, 1}, {-10, 2}, {9, 1}, {10, 2}, {-305, 3}, {INT_MAX, 10}, {INT_MIN, 10}, {1000000000, 10}};
  for (const auto& c : cases) EXPECT_EQ(KivNumberGetPlace(c.value), c.places) << c.value;
}

}  // namespace
