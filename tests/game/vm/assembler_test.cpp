// The script assembler: the words each source form becomes, the messages
// for mistakes, and the table files it writes.
#include <gtest/gtest.h>

#include <cstring>

#include "assembler.h"
#include "platform/core/text_encoding.h"
#include "data/script_format.h"

namespace {

std::vector<uint32_t> CodeWords(const kasm::Output& out) {
  std::vector<uint32_t> words;
  for (size_t at = 12; at + 4 <= out.script.size(); at += 4) {
    uint32_t w;
    std::memcpy(&w, out.script.data() + at, 4);
    words.push_back(w);
  }
  return words;
}

struct EncodingCase {
  const char* name;
  const char* source;
  std::vector<uint32_t> words;
};

class Encodings : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, GiveTheirWords) {
  const EncodingCase& c = GetParam();
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(c.source, "t.kas", &out, &error)) << error;
  EXPECT_EQ(CodeWords(out), c.words) << c.source;
}

constexpr uint32_t R = 0x40000000;
constexpr uint32_t kScratch = R | 254;

const EncodingCase kEncodings[] = {
    {"MovRegisterImmediate", "mov r1, 5", {0x10001, R | 1, 5}},
    {"NegativeImmediate", "mov u[r5], -1", {0x10001, 0x10000005, 0xFFFFFFFF}},
    {"MemoryForms", "mov t[r1 + 3], s[r2]\nmov r1, m[r2 + 7]\nmov r1, mt[4][r2]\nmov f[2], base\nmov stack[3], r0",
     {0x10001, 0x50030001, 0x20000002, 0x10001, R | 1, 0x60070002, 0x10001, R | 1, 0x70040002, 0x10001,
      0x80000002, 0x90000000, 0x10001, 0x30000003, R}},
    {"ConstantExpressions", ".define KIND 2\nmov r1, KIND << 24 | 3 << 20 | 5\nmov r2, (1 + 2) * -3",
     {0x10001, R | 1, 0x02300005, 0x10001, R | 2, static_cast<uint32_t>(-9)}},
    {"RegisterAlias", ".define counter r7\nadd counter, 1\nmov u[counter], counter",
     {0x10002, R | 7, 1, 0x10001, 0x10000007, R | 7}},
    {"LargeConstantThroughTheScratch", "mov r1, 0x12345678",
     {0x10001, kScratch, 0x1234, 0x1001B, kScratch, 16, 0x10007, kScratch, 0x5678, 0x10001, R | 1, kScratch}},
    {"RawForms", "not r7\nneg r8\njz 5, r1", {0x10014, 7, 0x1001D, 8, 0x1000A, 5, R | 1}},
    {"NoOperands", "end\nnop\nret\nreset", {0x10015, 0x10016, 0x10018, 0x10019}},
    {"StackAndFrame", "push 3\npop r2\nframe_push 2\nframe_release 2",
     {0x1001F, 3, 0x1001E, R | 2, 0x10020, 2, 0x10021, 2}},
    {"Labels", "a:\njmp @b\nb: gosub @a", {0x10009, 2, 0x1000B, 1}},
    {"CallPushesLastArgumentFirst", "call random 1, 6 -> r3", {0x1001F, 6, 0x1001F, 1, 0x10017, 0x00140000, 3}},
    {"CallByGroupName", "call string.end", {0x10017, 0x00120011, 254}},
    {"CallWithAStringVariable", "call strcatf str3, \"x\"",
     {0x1001F, 16, 0x10001, kScratch, 0x1000, 0x1001B, kScratch, 16, 0x10007, kScratch, 3, 0x1001F, kScratch,
      0x10017, 0x00120004, 254}},
    {"NoneAndFiles", "call sp_set file\"bg\", 0, none, file\"BG\"",
     {0x1001F, 0, 0x1001F, 0x0FFFFFFF, 0x1001F, 0, 0x1001F, 0, 0x10017, 0x00030002, 254}},
    {"RawWords", ".word 0x00010017, 0x00030000, 5", {0x10017, 0x30000, 5}},
};

INSTANTIATE_TEST_SUITE_P(Assembler, Encodings, ::testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  const char* source;
  const char* message;
};

class Mistakes : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Mistakes, AreReportedWithTheirLine) {
  const ErrorCase& c = GetParam();
  kasm::Output out;
  std::string error;
  EXPECT_FALSE(kasm::Assemble(c.source, "t.kas", &out, &error));
  EXPECT_NE(error.find(c.message), std::string::npos) << error;
}

const ErrorCase kMistakes[] = {
    {"UnknownInstruction", "nop\nfrob r1", "t.kas:2: unknown instruction frob"},
    {"UnknownCommand", "call no_such", "no command named no_such"},
    {"WrongArgumentCount", "call text_init 1, 2", "text_init takes 8 arguments, not 2"},
    {"UndefinedLabel", "jmp @nowhere", "label nowhere is used but never defined"},
    {"LabelTwice", "a:\na:", "label a is defined twice"},
    {"ConstantDestination", "mov 5, r1", "the destination cannot be a constant"},
    {"RegisterBeyond254", "mov r255, 1", "there is no register r255"},
    {"MemoryWithoutRegister", "mov u[5], 1", "memory is addressed through a register"},
    {"OffsetTooLarge", "mov r1, t[r2 + 4096]", "an offset runs from 0 to 4095"},
    {"StackSlotTooLarge", "mov r1, stack[32]", "stack[...] runs from 0 to 31"},
    {"UnknownTable", "mov r1, m[r2 + nothing]", "unknown name nothing"},
    {"NoShiftJis", "push \"\xF0\x9F\x98\x80\"", "no Shift-JIS form"},
    {"TextNotClosed", "push \"abc", "text not closed"},
    {"ValueTooLarge", "mov r1, 0x1FFFFFFFF", "does not fit 32 bits"},
    {"ScratchClash", "mov u[r254], 0x20000000", "scratch register"},
    {"EntryMissing", ".entry start\nnop", "entry label start is not defined"},
    {"FileNameTooLong", "push file\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\"", "must be 1 to 31 bytes"},
    {"HighGraphicName", ".graphic \"\xE7\x94\xBB\"", "never looked up"},
    {"UnknownDirective", ".frob", "unknown directive .frob"},
    {"IncludeMissing", ".include \"nope.kas\"", "cannot read"},
};

INSTANTIATE_TEST_SUITE_P(Assembler, Mistakes, ::testing::ValuesIn(kMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
  uint32_t w;
  std::memcpy(&w, b.data() + at, 4);
  return w;
}

TEST(Assembler, ScriptHeaderAndPointDat) {
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(".stamp 0x1234\n.entry second\nfirst: nop\nsecond: nop\nthird: jmp @first", "t.kas",
                             &out, &error))
      << error;
  EXPECT_EQ(Le32At(out.script, 0), kScriptMagic);
  EXPECT_EQ(Le32At(out.script, 4), 0x1234u);
  EXPECT_EQ(Le32At(out.script, 8), 16u) << "entry pc counts from byte 0";
  EXPECT_EQ(out.labelNumber.at("first"), 1u);
  EXPECT_EQ(out.labelNumber.at("third"), 3u);
  // Label L is the u32 at size - 4L: offsets from the code base.
  const size_t size = out.point.size();
  ASSERT_EQ(size, 16u + 12u);
  EXPECT_EQ(Le32At(out.point, size - 4 * 1), 0u);
  EXPECT_EQ(Le32At(out.point, size - 4 * 2), 4u);
  EXPECT_EQ(Le32At(out.point, size - 4 * 3), 8u);
}

TEST(Assembler, TextsAreSharedAndConvertedToShiftJis) {
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble("push \"あ\\n\"\npush \"b\"\npush \"あ\\n\"\npush \"\\x82\\xA0\"", "t.kas", &out, &error))
      << error;
  EXPECT_EQ(Le32At(out.text, 12), 3u) << "three different texts";
  EXPECT_EQ(out.textOffset.at("あ\\n"), 16u);
  EXPECT_EQ(Le32At(out.text, 16), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.text.data() + 20)), plat::Utf8ToCp932("あ\n"));
  std::vector<uint32_t> words = CodeWords(out);
  EXPECT_EQ(words[1], words[5]) << "the same text is one entry";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.text.data() + out.textOffset.at("\\x82\\xA0") + 4)),
            plat::Utf8ToCp932("あ"));
}

TEST(Assembler, FileDatRecordsAreUpperCasedAndPadded) {
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(".file \"se01\", \"Bg_02\"\npush file\"bg_02\"", "t.kas", &out, &error)) << error;
  EXPECT_EQ(Le32At(out.file, 12), 2u);
  ASSERT_EQ(out.file.size(), 16u + 64u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.file.data() + 16)), "SE01");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.file.data() + 48)), "BG_02");
  EXPECT_EQ(out.file[48 + 31], 0);
  EXPECT_EQ(CodeWords(out)[1], 1u);
}

TEST(Assembler, GraphicBucketsPointAtTheirRecords) {
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(".graphic \"bb\"\n.graphic \"AA\"\n.graphic \"BC\" scale=50", "t.kas", &out, &error))
      << error;
  const auto& g = out.graphic;
  ASSERT_EQ(g.size(), kGraphicRecordsOffset + 3 * kGraphicRecordSize);
  auto bucket = [&](uint8_t b) {
    return std::pair<uint32_t, uint32_t>(g[16 + 8 * b] | g[17 + 8 * b] << 8, Le32At(g, 16 + 8 * b + 4));
  };
  EXPECT_EQ(bucket('A'), (std::pair<uint32_t, uint32_t>(1, 0)));
  EXPECT_EQ(bucket('B'), (std::pair<uint32_t, uint32_t>(2, kGraphicRecordSize)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.data() + kGraphicRecordsOffset + kGraphicRecordSize)), "BB");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.data() + kGraphicRecordsOffset + 2 * kGraphicRecordSize)),
            "BC");
}

TEST(Assembler, ScrambledTablesUnscrambleToThePlainOnes) {
  const char* source = ".table t 1, 2, 3\npush \"text\"\npush file\"f\"\nl: jmp @l\n.graphic \"G\" scale=5";
  kasm::Output plain, scrambled;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(source, "t.kas", &plain, &error)) << error;
  ASSERT_TRUE(kasm::Assemble(std::string(".scramble all\n") + source, "t.kas", &scrambled, &error)) << error;
  for (auto [p, s] : {std::pair{&plain.text, &scrambled.text}, {&plain.file, &scrambled.file},
                      {&plain.mem, &scrambled.mem}, {&plain.point, &scrambled.point},
                      {&plain.graphic, &scrambled.graphic}}) {
    ASSERT_EQ(p->size(), s->size());
    EXPECT_EQ((*s)[0], kScrambledMark);
    EXPECT_NE(*p, *s);
    std::vector<uint8_t> back = *s;
    data_unscramble(back.data() + 16, back.size() - 16);
    EXPECT_TRUE(std::equal(back.begin() + 16, back.end(), p->begin() + 16));
  }
  EXPECT_EQ(plain.script, scrambled.script) << "Script.src is never scrambled";
}

TEST(Assembler, ArchiveSetsAndIncludes) {
  kasm::Options options;
  options.readFile = [](const std::string& path, std::string* content) {
    if (path != "dir/part.kas") return false;
    *content = "inner: nop\n.archive \"voice\"";
    return true;
  };
  kasm::Output out;
  std::string error;
  ASSERT_TRUE(kasm::Assemble(".archive \"bg | ev\"\n.include \"part.kas\"\njmp @inner", "dir/main.kas", &out, &error,
                             options))
      << error;
  EXPECT_TRUE(out.hasArchive);
  EXPECT_EQ(out.archive, "bg | ev,\r\nvoice\r\n");
  EXPECT_EQ(out.labelPc.at("inner"), 12u);
}

TEST(Assembler, TheReadmeExampleAssembles) {
  kasm::Output out;
  std::string error;
  EXPECT_TRUE(kasm::Assemble(R"(
.stamp 1
.entry start
.define speaker "太郎"
start:
    call text_init 24, 100, 500, 1080, 200, 120, 460, 12
    call text none, speaker, "こんにちは。", 0
    call random 1, 6 -> r3
    jz @start, r3
    call string.end
)",
                             "readme.kas", &out, &error))
      << error;
  EXPECT_EQ(out.textOffset.size(), 2u);
}

}  // namespace
