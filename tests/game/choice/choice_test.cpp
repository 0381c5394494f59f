// Choice blocks as a player meets them: assembled blocks built on the
// headless engine, the mouse and the keys injected frame by frame, the
// script's landing label read back from the machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "choice/choices.h"
#include "support/game_frames.h"

namespace {

using kivtest::GameFrameTest;

// The background sheet: 300 x 60 cells, four rows (normal, selected, ...).
constexpr int kCellW = 300, kCellH = 60;

class ChoiceTest : public GameFrameTest {
 protected:
  void SetUp() override {
    GameFrameTest::SetUp();
    kivtools::Image img;
    img.width = kCellW;
    img.height = kCellH * 4;
    img.pixels.assign(static_cast<size_t>(img.width) * img.height, 0xFF808080u);
    ASSERT_NO_FATAL_FAILURE(WriteImage("CHOICE", img, kCellW, kCellH));
  }
  // A script: a block of the given entries, then a label per choice that
  // writes its number into r1 and stays.
  static std::string Script(const std::string& entries, bool end = true) {
    std::string s =
        ".file \"UNUSED\"\n"
        "start:\n"
        "    call select_init file\"CHOICE\", 0x404040, 0xFFD040, 0x123456\n"
        "    call select\n" +
        entries + (end ? "    call end_select\n" : "") +
        "    mov r1, 99\n"
        "stay: call wait_frame\n    jmp @stay\n";
    for (int i = 1; i <= 3; ++i)
      s += "l" + std::to_string(i) + ":\n    mov r1, " + std::to_string(i) + "\n    jmp @stay\n";
    return s;
  }
  static std::string Entry(int label, int y, int flags = 3, const char* text = "Choice") {
    return "    call select_next \"" + std::string(text) + "\", @l" + std::to_string(label) + ", 490, " +
           std::to_string(y) + ", " + std::to_string(flags) + ", 0\n";
  }
  static std::string Three() { return Entry(1, 200) + Entry(2, 300) + Entry(3, 400); }
  ChoiceState& C() { return ctx->choice; }
};

struct BlockCase {
  const char* name;
  std::string entries;
  bool end;
  int count;
  std::vector<std::string> targets;  // labels of the built choices
  const char* message;               // logged (UTF-8), or null
};

TEST_F(ChoiceTest, BlocksFromTheAssemblerAsATable) {
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += Entry(1 + i % 3, 40 * i);
  const BlockCase cases[] = {
      {"three valid choices", Entry(1, 200) + Entry(2, 300) + Entry(3, 400), true, 3, {"l1", "l2", "l3"}, nullptr},
      {"none enabled", Entry(1, 200, 0) + Entry(2, 300, 2), true, 0, {}, "意味のないend_select命令"},
      {"an unbuilt choice keeps no slot", Entry(1, 200, 0) + Entry(2, 300) + Entry(3, 400), true, 2, {"l2", "l3"},
       nullptr},
      {"sixteen entries", sixteen, true, 0, {}, "select命令が多すぎます"},
      {"a foreign call inside", Entry(1, 200) + "    call wait_frame\n" + Entry(2, 300), true, 0, {},
       "select命令の形式に誤りがあります"},
      {"a foreign word inside", Entry(1, 200) + "    .word 0x00060017\n" + Entry(2, 300), true, 0, {},
       "select命令の形式に誤りがあります"},
      {"a block running off the code", Entry(1, 200) + Entry(2, 300), false, 0, {},
       "select命令の形式に誤りがあります"},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string script = Script(c.entries, c.end);
    if (!c.end) {  // the block is the last thing in the code
      script = ".file \"UNUSED\"\nl1:\nl2:\nl3:\nstart:\n"
               "    call select_init file\"CHOICE\", 0x404040, 0xFFD040, 0x123456\n"
               "    call select\n" + c.entries;
    }
    Start(script);
    if (!c.end) ctx->script.pc = m->Pc("start");
    log.lines.clear();
    Frame();
    Frame();
    EXPECT_EQ(C().count, c.count);
    EXPECT_EQ(ctx->valueStackDepth, 0) << "every entry taken, the refused 16th too, leaves no argument behind";
    EXPECT_EQ(SpriteCount(), 2 * c.count) << "only the built choices hold sprites";
    ASSERT_EQ(c.targets.size(), static_cast<size_t>(c.count));
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(C().targets[i] + ctx->script.codeBase, m->Pc(c.targets[i])) << i;
      EXPECT_NE(C().choiceSprites[i], nullptr);
      EXPECT_NE(C().textSprites[i], nullptr);
    }
    if (c.message) {
      EXPECT_TRUE(log.HasAny(c.message)) << log.All();
    }
    if (c.count > 0 || !c.message || std::string(c.name) == "none enabled") {
      // The machine waits on end_select.
      EXPECT_EQ(C().active, 1);
      EXPECT_EQ(C().cursor, -1);
      uint32_t word;
      std::memcpy(&word, ctx->script.code + ctx->script.pc + 4, 4);
      EXPECT_EQ(word, 0x00060003u);
    } else {
      EXPECT_EQ(C().active, 0);
    }
    EXPECT_NE(m->Reg(1), 99) << "the script never passes the block";
    m.reset();
    EXPECT_EQ(SpriteCount(), 0);
  }
}

TEST_F(ChoiceTest, ANewBlockReleasesTheSpritesOfTheOldOne) {
  Start(Script(Three()));
  Frame();
  ASSERT_EQ(C().count, 3);
  ASSERT_EQ(SpriteCount(), 6);
  // The block runs again while the first one still holds its sprites.
  ctx->script.pc = m->Pc("start");
  Frame();
  EXPECT_EQ(C().count, 3);
  EXPECT_EQ(SpriteCount(), 6);
}

TEST_F(ChoiceTest, TextIsCentredOnItsCellWithHalvesTowardMinusInfinity) {
  // Odd text sizes: "<s25>" text is 25 high; the cell is 300 x 60.
  for (const char* text : {"<s25>A", "<s25>ABC", "<s31>Wide words"}) {
    SCOPED_TRACE(text);
    Start(Script(Entry(1, 201, 3, text)));
    Frame();
    ASSERT_EQ(C().count, 1);
    KivSpriteInfo b{}, t{};
    KivSpriteGetInfo(C().choiceSprites[0], &b);
    KivSpriteGetInfo(C().textSprites[0], &t);
    EXPECT_EQ(b.x, 490.0f);
    EXPECT_EQ(b.y, 201.0f);
    EXPECT_EQ(t.x, 490.0f + kCellW / 2 - t.cellWidth / 2);
    EXPECT_EQ(t.y, 201.0f + kCellH / 2 - t.cellHeight / 2);
    EXPECT_TRUE(t.cellWidth % 2 == 1 || t.cellHeight % 2 == 1) << t.cellWidth << " x " << t.cellHeight;
    m.reset();
  }
}

TEST_F(ChoiceTest, ClickingChoiceTwoLandsOnLabelTwo) {
  Start(Script(Three()));
  Frame();
  MouseTo(640, 330);
  Frame();
  KivSpriteInfo b{};
  KivSpriteGetInfo(C().choiceSprites[1], &b);
  EXPECT_EQ(b.colour, 0xFFFFD040u) << "the hovered choice takes colour 2";
  KivSpriteInfo other{};
  KivSpriteGetInfo(C().choiceSprites[0], &other);
  EXPECT_EQ(other.colour, 0xFF404040u);
  Key(plat::vk::kLButton);
  EXPECT_EQ(C().active, 0);
  EXPECT_EQ(SpriteCount(), 0);
  Frame();
  EXPECT_EQ(m->Reg(1), 2);
}

TEST_F(ChoiceTest, DownDownEnterTakesChoiceThree) {
  // The mouse rests on choice 1 and does not move: the keys lead from there,
  // and the system pointer is never needed.
  Start(Script(Three()));
  MouseTo(640, 230);
  Frame();
  Frame();
  EXPECT_EQ(C().cursor, 0);
  Key(plat::vk::kDown);
  Key(plat::vk::kDown);
  EXPECT_EQ(C().cursor, 2);
  Frame();
  EXPECT_EQ(C().cursor, 2) << "an unmoved mouse does not take the selection back";
  Key(plat::vk::kReturn);
  Frame();
  EXPECT_EQ(m->Reg(1), 3);
}

TEST_F(ChoiceTest, CursorKeysClampAndTheMouseTakesOverWhenItMoves) {
  Start(Script(Three()));
  MouseTo(5, 5);
  Frame();
  struct Step {
    int key;
    int cursor;
  } steps[] = {{plat::vk::kUp, 0}, {plat::vk::kDown, 1}, {plat::vk::kDown, 2}, {plat::vk::kDown, 2},
               {plat::vk::kUp, 1}, {plat::vk::kUp, 0},   {plat::vk::kUp, 0}};
  for (const Step& s : steps) {
    Key(s.key);
    EXPECT_EQ(C().cursor, s.cursor);
    KivSpriteInfo b{};
    KivSpriteGetInfo(C().choiceSprites[s.cursor], &b);
    EXPECT_EQ(b.colour, 0xFFFFD040u);
  }
  // The mouse moves onto choice 3: it leads again.
  MouseTo(640, 430);
  Frame();
  EXPECT_EQ(C().cursor, 2);
  EXPECT_EQ(C().keyboard, 0);
  // A decide over nothing does nothing.
  MouseTo(20, 700);
  Key(plat::vk::kLButton);
  Key(plat::vk::kReturn);
  EXPECT_EQ(C().active, 1);
  EXPECT_EQ(SpriteCount(), 6);
}

TEST_F(ChoiceTest, OverlappingChoicesTheFirstWinsAndAChoiceWithoutBitOneCannotBeTaken) {
  Start(Script(Entry(1, 200, 1) + Entry(2, 210) + Entry(3, 220)));
  Frame();
  MouseTo(640, 235);  // over all three
  Key(plat::vk::kLButton);
  Frame();
  EXPECT_EQ(m->Reg(1), 2) << "choice 1 has no bit 1; choice 2 comes before choice 3";
}

TEST_F(ChoiceTest, TheStyleComesBackFromASaveAndABadStyleIsRefused) {
  Start(Script(Three()));
  Frame();
  std::vector<uint8_t> b(64);
  uint32_t used = 0;
  ASSERT_TRUE(select_save(ctx, b, &used));
  ASSERT_EQ(used, 16u);
  const ChoiceState before = C();
  select_release(ctx);
  EXPECT_EQ(SpriteCount(), 0);
  uint32_t cursor = 0;
  ASSERT_TRUE(select_restore(ctx, std::span<const uint8_t>(b.data(), used), &cursor));
  EXPECT_EQ(cursor, 16u);
  EXPECT_EQ(C().styleImage, before.styleImage);
  EXPECT_EQ(C().colour[2], 0xFF123456u) << "the third colour is kept";
  // A style operand that names no File.dat record, and a short block.
  std::vector<uint8_t> bad(b.begin(), b.begin() + 16);
  bad[0] = 0x77;
  bad[1] = 0x77;
  cursor = 0;
  EXPECT_FALSE(select_restore(ctx, bad, &cursor));
  EXPECT_EQ(cursor, 0u);
  cursor = 0;
  EXPECT_FALSE(select_restore(ctx, std::span<const uint8_t>(b.data(), 12), &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(C().styleImage, before.styleImage);
}

}  // namespace
