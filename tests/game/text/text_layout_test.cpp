// Text layout driven by a stand-in font with fixed advances that logs every
// call: wrapping, hanging, the dropped leading full-width space, the cut at
// the box bottom, size tags, centring, ruby and colours; the conversion of
// names and numbers; the save list's plain copy; malformed text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "text/text_font.h"
#include "text/text_layout.h"

namespace {

std::string Sj(const char* utf8) { return plat::Utf8ToCp932(utf8); }

struct Drawn {
  std::string text;
  int x, y, size, type;
};

// The stand-in font: a single-byte character measures half the size plus
// 2 (as the engine's measure adds 2), drawing only logs.
struct FakeFont {
  static inline int size = 24, type = 0, begun = 0;
  static inline std::vector<Drawn> drawn;
  static inline std::vector<std::pair<int, int>> colours;
  static inline KivRect rect{};
  static inline uint32_t pixels[64 * 64];

  static int Begin() { return ++begun, 1; }
  static int End() { return begun = 0, 1; }
  static int GetSize(const char* t, KivSize* out) {
    out->cx = static_cast<int>(std::strlen(t)) * (size / 2) + 2;
    out->cy = size + 2;
    return 1;
  }
  static int Draw(uint32_t*, const char* t, int x, int y, int, int) {
    drawn.push_back({t, x, y, size, type});
    return 1;
  }
  static int SetColor(int c, int e) { return colours.emplace_back(c, e), 1; }
  static int GetFontSize() { return size; }
  static int SetFontSize(int s) { return size = s, 1; }
  static int GetType() { return type; }
  static int SetType(int t) { return type = t, 1; }
  static uint32_t* Lock(KivSprite*, int* w, int* h) { return *w = 64, *h = 64, pixels; }
  static int Unlock(KivSprite*) { return 1; }
  static int SetRect(KivSprite*, const KivRect* r) { return rect = *r, 1; }
};
const TextFontApi kFake = {FakeFont::Begin,       FakeFont::End,         FakeFont::GetSize, FakeFont::Draw,
                           FakeFont::SetColor,    FakeFont::GetFontSize, FakeFont::SetFontSize,
                           FakeFont::GetType,     FakeFont::SetType,     FakeFont::Lock,    FakeFont::Unlock,
                           FakeFont::SetRect};
KivSprite* const kSprite = reinterpret_cast<KivSprite*>(16);

class TextLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    text_font_api_set(&kFake);
    FakeFont::size = 24;
    FakeFont::type = 0;
    FakeFont::drawn.clear();
    FakeFont::colours.clear();
    game_debug_log_set_sink(
        [](int, std::string_view t, void* self) { static_cast<TextLayoutTest*>(self)->log += t; }, this);
  }
  void TearDown() override {
    text_font_api_set(nullptr);
    game_debug_log_set_sink(nullptr, nullptr);
  }
  // Lays text out and returns "text@x,y" for each character drawn.
  std::vector<std::string> Layout(const std::string& text, int w, int h, int ruby = 0, int* count = nullptr,
                                  TextRevealRecord* rev = nullptr) {
    int x = 0, y = 0;
    const int n = text_draw(kSprite, text.c_str(), &x, &y, w, h, 24, ruby, {0xFFFFFF, 0}, rev);
    if (count) *count = n;
    endX = x;
    endY = y;
    std::vector<std::string> out;
    for (const Drawn& d : FakeFont::drawn)
      out.push_back(plat::Cp932ToUtf8(d.text) + "@" + std::to_string(d.x) + "," + std::to_string(d.y));
    return out;
  }
  std::string log;
  int endX = 0, endY = 0;
};

using V = std::vector<std::string>;

TEST_F(TextLayoutTest, WrapsHangsDropsTheLeadingSpaceAndCutsAtTheBottom) {
  struct Case {
    const char* name;
    const char* text;
    int w, h;
    V want;
  } cases[] = {
      {"wrap at the edge", "あいうえお", 96, 200, {"あ@0,0", "い@24,0", "う@48,0", "え@72,0", "お@0,26"}},
      {"。 hangs", "あいうえ。か", 96, 200,
       {"あ@0,0", "い@24,0", "う@48,0", "え@72,0", "。@96,0", "か@0,26"}},
      {"too far to hang", "あいうえ。、か", 96, 200,
       {"あ@0,0", "い@24,0", "う@48,0", "え@72,0", "。@96,0", "、@0,26", "か@24,26"}},
      {"leading full-width space dropped", "あいうえ。　か", 96, 200,
       {"あ@0,0", "い@24,0", "う@48,0", "え@72,0", "。@96,0", "か@0,26"}},
      {"cut at the bottom", "あいうえおかきくけこ", 48, 52, {"あ@0,0", "い@24,0", "う@0,26", "え@24,26"}},
      {"br", "あ<br>い", 96, 200, {"あ@0,0", "い@0,26"}},
      {"single-byte advance", "ab", 96, 200, {"a@0,0", "b@14,0"}},
      {"unknown tags are skipped", "あ<wait 3>い<>う", 96, 200, {"あ@0,0", "い@24,0", "う@48,0"}},
  };
  for (const Case& c : cases) {
    FakeFont::drawn.clear();
    EXPECT_EQ(Layout(Sj(c.text), c.w, c.h), c.want) << c.name;
  }
}

TEST_F(TextLayoutTest, SizeTagRaisesTheLineUntilResetAndSmallerTextSitsLow) {
  // 24-pixel lines are 26 high; <s32> makes them 34 until <reset>.
  EXPECT_EQ(Layout(Sj("あ<s32>い<br>う<reset><br>え<br>お"), 400, 400),
            (V{"あ@0,0", "い@24,0", "う@0,34", "え@0,60", "お@0,86"}));
  EXPECT_EQ(FakeFont::drawn[1].size, 32);
  EXPECT_EQ(FakeFont::size, 24) << "the base size is set back at the end";
  FakeFont::drawn.clear();
  // A smaller size draws lower by the difference; </s> goes back.
  EXPECT_EQ(Layout(Sj("あ<s16>い</s>う"), 400, 400), (V{"あ@0,0", "い@24,8", "う@40,0"}));
  // Sizes of 0 or below are ignored (they would divide by zero later).
  FakeFont::drawn.clear();
  EXPECT_EQ(Layout(Sj("<s0>あ<s-5>い"), 400, 400), (V{"あ@0,0", "い@24,0"}));
  EXPECT_EQ(FakeFont::drawn[0].size, 24);
}

TEST_F(TextLayoutTest, CenterCentresOneLineBothWays) {
  EXPECT_EQ(Layout(Sj("<center>あいう"), 240, 100), (V{"あ@84,38", "い@108,38", "う@132,38"}));
  const TextExtent e = text_line_layout(Sj("あ<s32>いab").c_str(), 24, 400);
  EXPECT_EQ(e.width, 24 + 32 + 16 + 16);
  EXPECT_EQ(e.height, 32);
}

// The centring measure counts the character that passes the box edge, and
// goes on past it only for characters that may not start a line.
TEST_F(TextLayoutTest, LineMeasureIncludesTheCharacterThatOverflows) {
  const struct {
    const char* text;
    int box;
    int width;
  } kCases[] = {
      {"あいう", 72, 72},        // exactly full
      {"あいうえ", 60, 72},      // the third passes the edge and is counted, the fourth is not
      {"あいab", 50, 60},        // a single-byte character passing the edge counts half the size
      {"あい。う", 48, 96},      // "。" may not start a line: the walk goes on, and "う" is the last counted
      {"あいう。え", 48, 72},    // "う" passes the edge first and ends the walk
      {"abcdef", 30, 36},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(text_line_layout(Sj(c.text).c_str(), 24, c.box).width, c.width) << c.text << " in " << c.box;
  // An over-long centred line starts where the measure puts it.
  EXPECT_EQ(Layout(Sj("<center>あいうえ"), 60, 100).front(), "あ@-6,38");
}

TEST_F(TextLayoutTest, RubyIsCentredAboveItsBaseInTypeZeroAtTheRubySize) {
  FakeFont::type = 2;
  int count = 0;
  EXPECT_EQ(Layout(Sj("あ<rかんじ>漢字</r>だ"), 400, 400, 10, &count),
            (V{"あ@0,8", "かんじ@33,0", "漢@24,8", "字@48,8", "だ@72,8"}));
  EXPECT_EQ(FakeFont::drawn[1].size, 10);
  EXPECT_EQ(FakeFont::drawn[1].type, 0);
  EXPECT_EQ(FakeFont::type, 2) << "type restored after the ruby";
  EXPECT_EQ(FakeFont::drawn[2].size, 24);
  EXPECT_EQ(count, 4 * 24 + 64);
  // Without </r> the ruby is left out and the base is laid out.
  FakeFont::drawn.clear();
  EXPECT_EQ(Layout(Sj("<rかな>仮名"), 400, 400, 10), (V{"仮@0,8", "名@24,8"}));
  EXPECT_NE(log.find("ruby error : not </r>"), std::string::npos);
  // A ruby that does not fit the rest of the line starts the next one.
  FakeFont::drawn.clear();
  EXPECT_EQ(Layout(Sj("あいう<rかんじ>漢</r>"), 96, 400, 10),
            (V{"あ@0,8", "い@24,8", "う@48,8", "かんじ@0,34", "漢@0,42"}));
}

TEST_F(TextLayoutTest, ColourTagsSetAndRestoreTheColours) {
  Layout(Sj("<c#FF0000>あ</c><c#00ff00#0000ff>い<reset>"), 400, 400);
  using P = std::pair<int, int>;
  ASSERT_GE(FakeFont::colours.size(), 4u);
  EXPECT_EQ(FakeFont::colours[0], (P{0xFF0000, 0}));
  EXPECT_EQ(FakeFont::colours[1], (P{0xFFFFFF, 0}));
  EXPECT_EQ(FakeFont::colours[2], (P{0x00FF00, 0x0000FF}));
  EXPECT_EQ(FakeFont::colours[3], (P{0xFFFFFF, 0}));
  // The "#" search stays inside the tag.
  FakeFont::colours.clear();
  FakeFont::drawn.clear();
  EXPECT_EQ(Layout("<c>#123456", 400, 400).size(), 7u);
  EXPECT_EQ(FakeFont::colours.size(), 1u) << "only the pair at the end";
}

TEST_F(TextLayoutTest, EmptyTextReturns64AndMalformedEndingsStopAtTheEnd) {
  int count = -1;
  EXPECT_TRUE(Layout("", 96, 96, 0, &count).empty());
  EXPECT_EQ(count, 64);
  EXPECT_EQ(FakeFont::rect.right, 96 + 2 + 24);
  EXPECT_EQ(FakeFont::rect.bottom, 26 + 2);
  // Each must stop at the zero byte (ASan watches the reads): the strings
  // are copied into exact-size buffers.
  const char* endings[] = {"<", "<s", "<s24", "<s2\0", "<r", "<rabc", "<rabc>d", "<c", "<c#12", "<c#123456",
                           "\x82", "a\x82", "%", "%1", "</", "<center", "<br", "<reset"};
  for (const char* e : endings) {
    std::vector<char> exact(e, e + std::strlen(e) + 1);
    FakeFont::drawn.clear();
    int x = 0, y = 0;
    const int n = text_draw(kSprite, exact.data(), &x, &y, 96, 96, 24, 10, {0, 0}, nullptr);
    EXPECT_GE(n, 64) << e;
    EXPECT_EQ(text_line_layout(exact.data(), 24, 96).height, 24) << e;
    char plain[kTextBufferBytes];
    text_wrap_plain(exact.data(), plain, 96, 96, 24);
    char conv[kTextBufferBytes];
    text_convert(TextConvertSources{}, conv, exact.data());
  }
}

TEST_F(TextLayoutTest, RevealCountFollowsThePenAcrossEveryBreak) {
  // Row width 120 (box 96 + size 24); bands 26 high. After four lines the
  // count is the unit of the pen: 3 x 120 + its x.
  TextRevealRecord rev{};
  rev.rowWidth = 120;
  rev.bandHeight = rev.bandHeightInitial = 26;
  int count = 0;
  Layout(Sj("あいうえおかきく<br>けこさしす"), 96, 400, 0, &count, &rev);
  EXPECT_EQ(endY, 78);
  EXPECT_EQ(count - 64, 3 * 120 + endX);
}

TEST(TextConvertTest, ExpandsNamesAndNumbersAndCopiesMalformedReferences) {
  int32_t user[1024] = {}, sys[512] = {}, temp[4095] = {};
  user[5] = -12;
  sys[511] = 7;
  temp[4094] = 305;
  const std::string name = Sj("ア<b&c%1");
  const TextConvertSources s{name.c_str(), sys, user, temp};
  struct Case {
    const char* src;
    const char* want;
  } cases[] = {
      {"a&m,5]b", "a－１２b"},        {"&f:511]", "７"},
      {"&t 4094]", "３０５"},          {"&x,5]", "&x,5]"},
      {"&m,1024]", "&m,1024]"},        {"&f,512]", "&f,512]"},
      {"&t,4095]", "&t,4095]"},        {"&m,5", "&m,5"},
      {"&m,]", "&m,]"},                {"&", "&"},
      {"/nさん", "アbc1さん"},        {"<c#ff0000>/n</c>", "<c#ff0000>アbc1</c>"},
      {"%1あ", "%1あ"},
  };
  char out[kTextBufferBytes];
  for (const Case& c : cases) {
    text_convert(s, out, Sj(c.src).c_str());
    EXPECT_EQ(plat::Cp932ToUtf8(out), c.want) << c.src;
  }
  // The destination holds 511 bytes: cut at a whole character.
  text_convert(s, out, std::string(600, 'a').c_str());
  EXPECT_EQ(std::strlen(out), 511u);
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += Sj("あ");
  text_convert(s, out, wide.c_str());
  EXPECT_EQ(std::strlen(out), 510u);
  std::string many;
  for (int i = 0; i < 200; ++i) many += "&m,5]";
  text_convert(s, out, many.c_str());
  EXPECT_EQ(std::strlen(out) % 2, 0u);
  EXPECT_LE(std::strlen(out), 511u);
}

TEST_F(TextLayoutTest, PlainWrapBreaksLinesAndEndsInAWholeEllipsis) {
  char out[kTextBufferBytes];
  text_wrap_plain(Sj("<c#ff0000>あいう</c>えお").c_str(), out, 70, 200, 24);
  EXPECT_EQ(plat::Cp932ToUtf8(out), "あい\nうえ\nお");
  // Two lines fit; the third is cut with "…" over whole characters.
  text_wrap_plain(Sj("あいうえおかき").c_str(), out, 70, 52, 24);
  EXPECT_EQ(plat::Cp932ToUtf8(out), "あい\nう…");
  text_wrap_plain(Sj("あいうabcdefgh").c_str(), out, 70, 52, 24);
  EXPECT_EQ(plat::Cp932ToUtf8(out), "あい\nうa…");
  // A long text never passes 511 bytes.
  text_wrap_plain(std::string(2000, 'a').c_str(), out, 100000, 100000, 24);
  EXPECT_EQ(std::strlen(out), 511u);
}

TEST(TextNameTest, SanitizeStripsTagAndReferenceBytesOnly) {
  std::string n = Sj("<ア&%名>");
  text_name_sanitize(n.data());
  EXPECT_EQ(plat::Cp932ToUtf8(n.c_str()), "ア名>");
}

}  // namespace
