// The string, image-seen and player-name commands on the script machine,
// as a table of short scripts and what each leaves in the string variables,
// the result register and the flags; the format expansions and the small
// text routines; the player-name save block read back, sound and damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "component_entries.h"
#include "platform/core/byte_io.h"
#include "platform/core/backend.h"
#include "platform/window/message_box.h"
#include "save/save.h"
#include "strings/strings.h"
#include "support/vm_harness.h"

using vmtest::LogCapture;
using vmtest::Machine;

namespace {

std::string Sj(const char* utf8) { return plat::Utf8ToCp932(utf8); }
std::string Var(Machine& m, int n) { return std::string(m.ctx->stringVariables[n], strnlen(m.ctx->stringVariables[n], 255)); }
void SetVar(Machine& m, int n, const std::string& s) {
  std::memset(m.ctx->stringVariables[n], 0, 255);
  std::memcpy(m.ctx->stringVariables[n], s.data(), std::min<size_t>(s.size(), 254));
}

struct Case {
  const char* name;
  const char* script;
  const char* preset;  // str1 before the run ("" none)
  int var;             // string variable to read after (-1 none)
  std::string want;    // its text
  int32_t r1;          // expected r1 (INT32_MIN: not checked)
};

const std::string kLong(300, 'z');

std::vector<Case> Cases() {
  return {
      {"string_clears_and_names_slot", "call string 3 -> r1", "", 3, "", 0x10000003},
      {"string_outside_slots_refused", "call string 8 -> r1", "", -1, "", 0x0FFFFFFF},
      {"strcpyf_minus_one_whole", "call strcpyf str1, \"abc\", -1", "", 1, "abc", INT32_MIN},
      // As strncpy: a text as long as the length gets no terminator.
      {"strcpyf_minus_one_no_terminator", "call strcpyf str1, \"abc\", -1", "zzzzz", 1, "abczz", INT32_MIN},
      {"strcpyf_two_keeps_rest", "call strcpyf str1, \"abc\", 2", "xyzw", 1, "abzw", INT32_MIN},
      {"strcpyf_length_clamped", "call strcpyf str1, \"abc\", 9999", "xyzw", 1, "abc", INT32_MIN},
      {"strcpyf_length_below_minus_one", "call strcpyf str1, \"abc\", -7", "xyzw", 1, "xyzw", INT32_MIN},
      {"wsprint_decimal_and_percent", "call wsprint str1, \"%d%%\", 5, 0, 0, 0, 0, 0, 0, 0", "", 1, "5%", INT32_MIN},
      {"wsprint_width_hex", "call wsprint str1, \"%5X\", 255, 0, 0, 0, 0, 0, 0, 0", "", 1, "   FF", INT32_MIN},
      {"wsprint_long_prefix", "call wsprint str1, \"%ld|%lx|%-4lX|%05ld\", -12, 255, 171, 42, 0, 0, 0, 0", "", 1,
       "-12|ff|AB  |00042", INT32_MIN},
      {"wsprint_s_is_literal", "call wsprint str1, \"%s%d\", 7, 0, 0, 0, 0, 0, 0, 0", "", 1, "%s7", INT32_MIN},
      {"wsprint_n_is_literal", "call wsprint str1, \"%n|%999d\", 7, 0, 0, 0, 0, 0, 0, 0", "", 1, "%n|%999d", INT32_MIN},
      {"wsprint_nine_escapes_last_zero", "call wsprint str1, \"%d%d%d%d%d%d%d%d%d\", 1, 2, 3, 4, 5, 6, 7, 8", "", 1,
       "123456780", INT32_MIN},
      {"wsprint_text_of_variable", "call wsprint str1, \"<%t>\", str2, 0, 0, 0, 0, 0, 0, 0", "", 1, "<two>", INT32_MIN},
      {"wsprint_cut_at_254", nullptr, "", 1, std::string(254, 'z'), INT32_MIN},
      {"strcatf_appends", "call strcatf str1, \"def\"", "abc", 1, "abcdef", INT32_MIN},
      {"strreplace_in_place", "call strreplace str1, \"cd\", \"XYZW\"", "abcdefgh", 1, "abXYZWgh", INT32_MIN},
      {"strreplace_absent_nothing", "call strreplace str1, \"q\", \"X\"", "abc", 1, "abc", INT32_MIN},
      {"strstrf_found", "call strstrf \"hello\", \"ll\" -> r1", "", -1, "", 1},
      {"strstrf_absent", "call strstrf \"hello\", \"lx\" -> r1", "", -1, "", 0},
      {"strgetcf_middle", "call strgetcf \"12345\", 1, 3 -> r1", "", -1, "", 234},
      {"strgetcf_start_outside", "call strgetcf \"12345\", 10, 3 -> r1", "", -1, "", 0},
      {"strgetcf_count_past_end", "call strgetcf \"12345\", 3, 99 -> r1", "", -1, "", 45},
      {"strgetcf_negative", "call strgetcf \"12345\", -4, -2 -> r1", "", -1, "", 0},
      {"destination_not_variable", "call strcatf 5, \"x\"", "abc", 1, "abc", INT32_MIN},
      {"ret_one", "call ret_one -> r1", "", -1, "", 1},
      {"base_register_get", "mov base, 9\ncall base_register_get -> r1", "", -1, "", 9},
      {"is_debug_off", "call is_debug -> r1", "", -1, "", 0},
      {"is_playername_unchanged", "call is_playername -> r1", "", -1, "", 0},
  };
}

class StringCommand : public ::testing::TestWithParam<Case> {};

TEST_P(StringCommand, LeavesWhatTheScriptAsked) {
  const Case& c = GetParam();
  std::string script = c.script ? c.script : "call wsprint str1, \"%t\", str2, 0, 0, 0, 0, 0, 0, 0";
  Machine m(std::string("main:\n    ") + script + "\n");
  ASSERT_TRUE(m.ok);
  LogCapture log;
  for (int i = 0; i < 8; ++i) SetVar(m, i, "old");
  SetVar(m, 1, c.preset);
  SetVar(m, 2, c.script ? "two" : kLong);
  m.Reg(1) = 0x5555;
  m.RunToEnd();
  if (c.var >= 0) {
    EXPECT_EQ(Var(m, c.var), c.want);
    EXPECT_EQ(m.ctx->stringVariables[c.var][254], 0) << "every variable ends inside its 255 bytes";
  }
  if (c.r1 != INT32_MIN) {
    EXPECT_EQ(m.Reg(1), c.r1) << log.All();
  }
  // No command writes outside the eight variables.
  for (int i = 4; i < 8; ++i) {
    if (i != c.var) {
      EXPECT_EQ(Var(m, i), "old") << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StringCommand, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringCommands, DestinationOfOtherKindLogsAndKeeps) {
  Machine m("main:\n    call wsprint 3, \"x\", 0, 0, 0, 0, 0, 0, 0, 0\n    call strreplace 0x10000009, \"a\", \"b\"\n");
  LogCapture log;
  m.RunToEnd();
  EXPECT_TRUE(log.Has(0, "wsprint : string型以外の型を指定しました。")) << log.All();
  EXPECT_TRUE(log.HasAny("string variable out of range")) << log.All();
}

TEST(StringCommands, ReplaceNeverWritesPastByte253) {
  Machine m("main:\n    call strreplace str1, \"e\", \"XYZ\"\n");
  SetVar(m, 1, std::string(250, 'a') + "bcde");
  SetVar(m, 2, "keep");
  m.RunToEnd();
  EXPECT_EQ(Var(m, 1), std::string(250, 'a') + "bcdX");
  EXPECT_EQ(Var(m, 2), "keep");
}

TEST(StringCommands, WsprintCutsOnWholeCharacters) {
  // 127 two-byte characters are 254 bytes; one more byte pushes the last
  // character out whole instead of splitting it.
  std::string kana;
  for (int i = 0; i < 130; ++i) kana += Sj("あ");
  Machine m("main:\n    call wsprint str1, \"x%t\", str2, 0, 0, 0, 0, 0, 0, 0\n");
  SetVar(m, 2, kana);
  m.RunToEnd();
  const std::string v = Var(m, 1);
  EXPECT_EQ(v.size(), 253u);
  EXPECT_EQ(v.substr(v.size() - 2), Sj("あ"));
}

TEST(ImageSeen, SetClearAndOutside) {
  Machine m(R"(main:
    call is_image_seen 5, none, none, none, none, none, none, none -> r1
    call image_seen_set 5
    call is_image_seen 5, none, none, none, none, none, none, none -> r2
    call image_seen_clear 5
    call is_image_seen none, 5, none, none, none, none, none, none -> r3
    call image_seen_set 4000
    call is_image_seen 4000, 9999999, none, none, none, none, none, none -> r4
    call image_seen_set 5
    call is_image_seen 5, none, none, none, none, none, none, none -> r5
)");
  uint8_t flags[4] = {};
  m.record().imageSeenFlags = flags;
  m.record().imageSeenFlagsSize = sizeof flags;
  m.RunToEnd();
  m.record().imageSeenFlags = nullptr;
  m.record().imageSeenFlagsSize = 0;
  EXPECT_EQ(m.Reg(1), 0);
  EXPECT_EQ(m.Reg(2), 3);
  EXPECT_EQ(m.Reg(3), 1);
  EXPECT_EQ(m.Reg(4), 0) << "outside the flags reads 0";
  EXPECT_EQ(m.Reg(5), 1) << "seen again: 01 stays 01";
  EXPECT_EQ(flags[1], 0x04);
  EXPECT_EQ(flags[0] | flags[2] | flags[3], 0) << "nothing written outside";
}

TEST(ImageSeen, FillSetsEveryFlag) {
  Machine m("main:\n    call image_seen_fill\n    call is_image_seen 3, none, none, none, none, none, none, none -> r1\n");
  uint8_t flags[3] = {};
  m.record().imageSeenFlags = flags;
  m.record().imageSeenFlagsSize = sizeof flags;
  m.RunToEnd();
  m.record().imageSeenFlags = nullptr;
  m.record().imageSeenFlagsSize = 0;
  EXPECT_EQ(m.Reg(1), 3);
  EXPECT_EQ(flags[0] & flags[1] & flags[2], 0xFF);
}

TEST(FormatExpansion, DebugOutputEscapes) {
  Machine m("main:\n    end\n");
  SetVar(m, 0, "name");
  const int32_t v[7] = {42, 255, 0x10000000, 1, 2, 3, 4};
  EXPECT_EQ(debug_output_expand(m.ctx, "a%d b%x c%t d%q e%%", v), "a42 b000000FF cname d e%");
  EXPECT_EQ(debug_output_expand(m.ctx, "%s%n", v), "") << "other escapes print nothing";
}

TEST(FormatExpansion, DebugOutputSevenLongTextsStayInTheBuffer) {
  Machine m("main:\n    push \"" + std::string(400, 'q') + "\"\n");
  const int32_t t = static_cast<int32_t>(m.out.textOffset.at(std::string(400, 'q')));
  const int32_t v[7] = {t, t, t, t, t, t, t};
  std::string fmt = std::string(300, 'f') + "%t%t%t%t%t%t%t";
  const std::string out = debug_output_expand(m.ctx, fmt.c_str(), v);
  // 300 + 7 x 259 bytes would overflow the 2048-byte buffer: cut there.
  EXPECT_EQ(out.size(), kDebugOutputMax);
  EXPECT_EQ(out.substr(0, 300), std::string(300, 'f'));
  EXPECT_EQ(out.find_first_not_of('q', 300), std::string::npos);
}

TEST(TextRoutines, Table) {
  char t[300] = " a,b\tc \r\n";
  EXPECT_EQ(str_token(t, " \t\r\n"), 4);
  EXPECT_STREQ(t, "a,bc");
  char empty[4] = "";
  EXPECT_EQ(str_token(empty, "x"), 0);

  int used = -1;
  EXPECT_EQ(str_format("0x1Fzz", &used), 0x1Fu);
  EXPECT_EQ(used, 4);
  EXPECT_EQ(str_format("ff", nullptr), 0xFFu);
  EXPECT_EQ(str_format("zz", &used), 0u);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(str_format("123456789abcdef", nullptr), 0xFFFFFFFFu) << "saturates";

  int digits = -1;
  EXPECT_EQ(str_to_int("-123x", &digits), -123);
  EXPECT_EQ(digits, 3);
  EXPECT_EQ(str_to_int("+", &digits), 0);
  EXPECT_EQ(digits, 0);
  EXPECT_EQ(str_to_int("99999999999", nullptr), INT32_MAX);
  EXPECT_EQ(str_to_int("-99999999999", nullptr), INT32_MIN);

  char field[4];
  EXPECT_EQ(str_token_next("aa|bbbbbb|c", 1, '|', field, sizeof field), 1);
  EXPECT_STREQ(field, "bbb") << "bounded by the destination";
  EXPECT_EQ(str_token_next("aa|b", 2, '|', field, sizeof field), 0);
  EXPECT_EQ(str_token_next("aa|b|", 2, '|', field, sizeof field), 1);
  EXPECT_STREQ(field, "");

  const char* abc = "abc";
  EXPECT_EQ(str_find_char(abc, 'c'), abc + 2);
  EXPECT_EQ(str_find_char(abc, 'x'), nullptr);

  const int32_t r0[4] = {0, 0, 100, 100}, r1[4] = {100, 0, 300, 200};
  MonitorSearch find{7, 0, {}, kMonitorFindHandle};
  EXPECT_TRUE(monitor_enum_proc(5, r0, &find));
  EXPECT_FALSE(monitor_enum_proc(7, r1, &find));
  EXPECT_EQ(find.index, 1);
  EXPECT_EQ(find.rect[2], 300);
  MonitorSearch pick{0, 1, {}, 0x2};
  EXPECT_TRUE(monitor_enum_proc(5, r0, &pick));
  EXPECT_FALSE(monitor_enum_proc(7, r1, &pick));
  EXPECT_EQ(pick.monitor, 7);
  EXPECT_EQ(pick.index, 2);
}

TEST(PlayerName, NegativeCountSetsAtOnceWithoutTagCharacters) {
  Machine m("main:\n    call set_playername \"<ユ&ウ%キ>\", -1 -> r1\n    mov r2, 1\n");
  m.Reg(1) = 77;
  m.Run();
  EXPECT_EQ(std::string(m.ctx->playerName.name), Sj("ユウキ>"));
  EXPECT_EQ(m.ctx->playerName.nameLength, 7);
  EXPECT_EQ(m.Reg(2), 1) << "no wait: the script went on in the same frame";
  EXPECT_EQ(m.Reg(1), 1) << "an accepted name";
}

TEST(PlayerName, DefaultOver32BytesFails) {
  Machine m("main:\n    call set_playername \"" + std::string(33, 'a') + "\", 3\n");
  LogCapture log;
  plat::UseHeadless(true);
  plat::HeadlessBoxReset();
  m.RunToEnd();
  EXPECT_EQ(m.ctx->playerName.state, 0);
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].text, Sj("バッファオーバー"));
  EXPECT_TRUE(log.HasAny("内部エラー")) << "the handler failed";
}

std::vector<uint8_t> NameBlock(const std::string& name, uint32_t length, uint32_t changed) {
  plat::ByteWriter w;
  std::string n = name;
  n.resize(32, '\0');
  w.Bytes(n.data(), 32);
  w.U32(length);
  w.U32(changed);
  return w.bytes();
}

TEST(PlayerName, SaveBlockRoundTripAndDamagedBlocks) {
  Machine m("main:\n    end\n");
  player_name_set_direct(m.ctx, Sj("ユウキ").c_str());
  m.ctx->playerName.changed = 1;
  std::vector<uint8_t> buf(64);
  uint32_t used = 0;
  ASSERT_TRUE(player_name_save(m.ctx, buf, &used));
  ASSERT_EQ(used, 40u);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 40), NameBlock(Sj("ユウキ"), 6, 1));

  struct Damaged {
    std::vector<uint8_t> block;
    std::string name;
    int length;
  } damaged[] = {
      {NameBlock(std::string(32, 'n'), 999, 1), std::string(32, 'n'), 32},  // no zero, lying length
      {NameBlock("abc", 2, 0), "ab", 2},                                      // the length cuts
      {NameBlock(Sj("ユウキ").substr(0, 5), 5, 0), Sj("ユウ"), 4},           // half a character
  };
  for (const Damaged& d : damaged) {
    uint32_t cursor = 0;
    ASSERT_TRUE(player_name_restore(m.ctx, d.block, &cursor));
    EXPECT_EQ(cursor, 40u);
    EXPECT_EQ(std::string(m.ctx->playerName.name), d.name);
    EXPECT_EQ(m.ctx->playerName.nameLength, d.length);
  }
  std::vector<uint8_t> shortBlock(39);
  uint32_t cursor = 0;
  EXPECT_FALSE(player_name_restore(m.ctx, shortBlock, &cursor));
  EXPECT_EQ(cursor, 0u) << "a short block is refused where it stands";
}

}  // namespace
