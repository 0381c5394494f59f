// Script.src and its tables: round trips through the assembler (plain and
// scrambled), string and record operands, graphic.dat, archive.dat, and a
// table of short, lying and corrupt files that must be refused cleanly.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "data/archive_list.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"

using vmtest::LogCapture;
using vmtest::Machine;

namespace {

std::string Sj(const char* utf8) { return plat::Utf8ToCp932(utf8); }

std::vector<uint8_t> Le32(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return out;
}

const char* const kTablesSource = R"(
.stamp 77
main:
    push "太郎"
    push "こんにちは。"
    push file"bg01"
    push file"ev_a"
    jmp @main
.table tab 1, 2, 0x12345678
.graphic "BG01" move=10,20 scale=150 colour=0x80FFFFFF
.graphic "EV_A" file="ev_a_big" priority=2 render=1
.graphic "BG02"
)";

class TableRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(TableRoundTrip, TablesReadBackAsWritten) {
  const bool scrambled = GetParam();
  std::string source = std::string(scrambled ? ".scramble all\n" : "") + kTablesSource;
  Machine m(source);
  ASSERT_TRUE(m.ok);
  kasm::Output plain = vmtest::AssembleOrFail(kTablesSource);
  for (const auto* file : {&m.out.text, &m.out.file, &m.out.mem, &m.out.point, &m.out.graphic}) {
    EXPECT_EQ((*file)[0] == '$', scrambled);
  }
  if (scrambled) {
    EXPECT_NE(m.out.text, plain.text) << "a scrambled body differs from the plain one";
  }
  // The loaded images are the plain ones, whatever was on disk.
  EXPECT_EQ(std::memcmp(m.ctx->data.text + 16, plain.text.data() + 16, plain.text.size() - 16), 0);
  EXPECT_EQ(std::memcmp(m.ctx->data.mem + 16, plain.mem.data() + 16, plain.mem.size() - 16), 0);

  EXPECT_EQ(text_word_count(m.ctx), 2u);
  EXPECT_EQ(file_record_count(m.ctx), 2u);
  uint8_t entry[64];
  get_string_operand(m.ctx, m.out.textOffset.at("こんにちは。"), entry);
  EXPECT_EQ(entry[0], 1) << "text-word number";
  EXPECT_EQ(string_operand_text(entry), Sj("こんにちは。"));
  get_string_operand(m.ctx, m.out.textOffset.at("太郎"), entry);
  EXPECT_EQ(entry[0], 0);
  EXPECT_EQ(string_operand_text(entry), Sj("太郎"));

  uint8_t name[32];
  ASSERT_TRUE(get_record_operand(m.ctx, m.out.fileRecord.at("EV_A"), name, false));
  EXPECT_STREQ(reinterpret_cast<char*>(name), "EV_A") << "file names are upper-cased";

  const int32_t* mem = reinterpret_cast<const int32_t*>(m.ctx->data.mem + 16);
  EXPECT_EQ(mem[0], 1 << 16 | 3) << "the descriptor: first element, count";
  EXPECT_EQ(mem[3], 0x12345678);

  uint32_t offset = 99;
  ASSERT_TRUE(label_code_offset(m.ctx, m.out.labelNumber.at("main"), &offset));
  EXPECT_EQ(offset, 0u);

  uint8_t record[132];
  uint8_t key[32] = "BG01";
  ASSERT_TRUE(graphic_find(m.ctx, key, record));
  uint32_t words[25];
  std::memcpy(words, record + 32, sizeof words);
  EXPECT_EQ(words[0], 0x20000u | 0x40000u | 0x80000u | 0x100000u) << "flags from the attributes given";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 36)), "BG01") << "the file defaults to the name";
  EXPECT_EQ(words[19], 10u);
  EXPECT_EQ(words[20], 20u);
  EXPECT_EQ(words[21], 150u);
  EXPECT_EQ(words[22], 0x80FFFFFFu);
  uint8_t key2[32] = "EV_A";
  ASSERT_TRUE(graphic_find(m.ctx, key2, record));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 36)), "EV_A_BIG");
  std::memcpy(words, record + 32, sizeof words);
  EXPECT_EQ(words[17], 2u) << "priority step";
  uint8_t missing[32] = "BG03";
  EXPECT_FALSE(graphic_find(m.ctx, missing, record));
  EXPECT_EQ(record[0], 0) << "the caller's buffer is zeroed";
  uint8_t high[32] = {0x82, 0xA0};
  EXPECT_FALSE(graphic_find(m.ctx, high, record)) << "bytes of 0x80 and above have no bucket";
}

INSTANTIATE_TEST_SUITE_P(Tables, TableRoundTrip, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Scrambled" : "Plain"; });

// ---- String and record operands ----

TEST(StringOperands, EdgesOfTextDat) {
  LogCapture log;
  Machine m("push \"abcdefgh\"\npush \"xyz\"");
  ASSERT_TRUE(m.ok);
  const uint32_t first = m.out.textOffset.at("abcdefgh"), last = m.out.textOffset.at("xyz");
  uint8_t out[16];
  // Cut by the maximum length: still ends inside the buffer.
  uint8_t small[8];
  get_string_operand(m.ctx, first, small);
  EXPECT_STREQ(reinterpret_cast<char*>(small + 4), "abc");
  // Near the end of the file only what remains is copied.
  get_string_operand(m.ctx, last + 6, out);
  EXPECT_EQ(out[0], 'z');
  EXPECT_EQ(out[1], 0);
  // At or beyond the end: word 0 and no text.
  get_string_operand(m.ctx, m.ctx->data.textSize, out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), std::string(5, '\0'));
  // No string at all.
  std::memset(out, 0x55, sizeof out);
  get_string_operand(m.ctx, kNoOperand, out);
  for (uint8_t b : out) EXPECT_EQ(b, 0);
  // A string variable: word 0 and its text.
  std::strcpy(m.ctx->stringVariables[3], "var");
  get_string_operand(m.ctx, kStringVariableBit | 3, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_STREQ(reinterpret_cast<char*>(out + 4), "var");
  // A variable that does not exist.
  get_string_operand(m.ctx, kStringVariableBit | 9, out);
  EXPECT_EQ(out[4], 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "string variable out of range: 9")) << log.All();
}

TEST(RecordOperands, StringVariablesAreUpperCasedInAToZOnly) {
  Machine m("push file\"a\"");
  ASSERT_TRUE(m.ok);
  std::string text = "ab" + Sj("あ") + "_cd";
  std::strcpy(m.ctx->stringVariables[1], text.c_str());
  uint8_t out[32];
  ASSERT_TRUE(get_record_operand(m.ctx, kStringVariableBit | 1, out, true));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "AB" + Sj("あ") + "_CD");
  std::string longer(40, 'q');
  std::strcpy(m.ctx->stringVariables[2], longer.c_str());
  ASSERT_TRUE(get_record_operand(m.ctx, kStringVariableBit | 2, out, false));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), std::string(31, 'Q'));
  LogCapture log;
  EXPECT_FALSE(get_record_operand(m.ctx, 1, out, false)) << "File.dat holds one record";
  EXPECT_TRUE(log.Has(kDebugWindowError, "File.dat record out of range: 1")) << log.All();
}

TEST(ImageNumbers, MapToSlots) {
  LogCapture log;
  EXPECT_EQ(image_no_to_index(0x00000005), 21);
  EXPECT_EQ(image_no_to_index(0x01000007), 7);
  EXPECT_EQ(image_no_to_index(0x02300005), 533);
  EXPECT_EQ(image_no_to_index(0x05000000), -1);
  EXPECT_TRUE(log.Has(kDebugWindowError, "fail original image no : 0x05000000"));
}

// ---- The scrambler ----

// The unscrambling rule written out word by word, to check the loader's.
std::vector<uint8_t> UnscrambleByTheRule(std::vector<uint8_t> body) {
  unsigned c = 4;
  for (size_t at = 0; at + 4 <= body.size(); at += 4) {
    unsigned r = c % 8;
    body[at] = static_cast<uint8_t>(((body[at] << r) | (body[at] >> (8 - r))) & 0xFF);
    uint32_t w = body[at] | body[at + 1] << 8 | body[at + 2] << 16 | uint32_t(body[at + 3]) << 24;
    w = (w ^ 0x2C71B5E9u) ^ 0x6D0A93F4u;
    for (int i = 0; i < 4; ++i) body[at + i] = static_cast<uint8_t>(w >> (8 * i));
    c = (c + 1) % 256;
  }
  return body;
}

TEST(Scrambler, FollowsTheRuleAcrossTheCounterWrapAndKeepsTheTail) {
  std::mt19937 random(7);
  std::vector<uint8_t> body(4 * 300 + 3);  // the counter wraps at word 252
  for (uint8_t& b : body) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> expect = UnscrambleByTheRule(body);
  std::vector<uint8_t> got = body;
  data_unscramble(got.data(), got.size());
  EXPECT_EQ(got, expect);
  EXPECT_EQ(std::vector<uint8_t>(got.end() - 3, got.end()), std::vector<uint8_t>(body.end() - 3, body.end()));
  data_scramble(got.data(), got.size());
  EXPECT_EQ(got, body) << "scrambling undoes unscrambling";
  std::vector<uint8_t> tiny = {1, 2, 3};
  data_unscramble(tiny.data(), tiny.size());
  EXPECT_EQ(tiny, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Scrambler, APlainTableIsUsedAsRead) {
  Machine m("nop");
  std::vector<uint8_t> mem = kasm::TableFile(0, Le32({0x2C71B5E9, 5}), false);
  ASSERT_TRUE(table_load_image(m.ctx, DataTable::kMem, mem));
  EXPECT_EQ(std::memcmp(m.ctx->data.mem, mem.data(), mem.size()), 0);
  std::vector<uint8_t> scrambled = kasm::TableFile(0, Le32({0x2C71B5E9, 5}), true);
  ASSERT_TRUE(table_load_image(m.ctx, DataTable::kMem, scrambled));
  EXPECT_EQ(std::memcmp(m.ctx->data.mem + 16, mem.data() + 16, 8), 0);
}

// ---- Files that lie ----

enum class Target { kScript, kFile, kText, kMem, kPoint, kGraphic };

struct CorruptCase {
  const char* name;
  Target target;
  std::vector<uint8_t> bytes;
  const char* line;
};

std::vector<uint8_t> Script(std::initializer_list<uint32_t> words) { return Le32(words); }

std::vector<uint8_t> GraphicWithBucket(uint8_t byte, uint16_t count, uint32_t offset, size_t records) {
  std::vector<uint8_t> g(2056 + records * 132, 0);
  uint8_t* b = g.data() + 16 + 8 * byte;
  b[0] = static_cast<uint8_t>(count), b[1] = static_cast<uint8_t>(count >> 8);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(offset >> (8 * i));
  return g;
}

const CorruptCase kCorrupt[] = {
    {"EmptyScript", Target::kScript, {}, "Script.src: 0 bytes, shorter than its 12-byte header"},
    {"ScriptHeaderCut", Target::kScript, {0x53, 0x76, 0x32, 0x30, 0, 0, 0, 0, 12, 0, 0}, "shorter than its 12-byte header"},
    {"WrongMagic", Target::kScript, Script({0x30327654, 0, 12}), "magic 0x30327654"},
    {"EntryInTheHeader", Target::kScript, Script({0x30327653, 0, 8, 0x00010016}), "entry pc 8 is not a code word"},
    {"EntryBeyondTheCode", Target::kScript, Script({0x30327653, 0, 20, 0x00010016}), "entry pc 20 is not a code word"},
    {"EntryBetweenWords", Target::kScript, Script({0x30327653, 0, 14, 0x00010016}), "entry pc 14 is not a code word"},
    {"CodeNotWholeWords", Target::kScript, {0x53, 0x76, 0x32, 0x30, 0, 0, 0, 0, 12, 0, 0, 0, 0x16, 0, 1},
     "its code of 3 bytes is not whole words"},
    {"FileHeaderCut", Target::kFile, std::vector<uint8_t>(15), "File.dat: 15 bytes, shorter than its 16-byte header"},
    {"FileCountLies", Target::kFile, kasm::TableFile(3, std::vector<uint8_t>(64), false),
     "File.dat: 3 records need 112 bytes, the file has 80"},
    {"FileCountTooLarge", Target::kFile, kasm::TableFile(65537, {}, false), "65537 records, more than 65536"},
    {"FileCountHuge", Target::kFile, kasm::TableFile(0xFFFFFFFF, {}, true), "4294967295 records"},
    {"TextHeaderCut", Target::kText, std::vector<uint8_t>(3), "Text.dat: 3 bytes"},
    {"TextWordsTooMany", Target::kText, kasm::TableFile(200001, {}, false), "200001 text words, more than 200000"},
    {"MemNotWholeWords", Target::kMem, kasm::TableFile(0, std::vector<uint8_t>(5), false),
     "Mem.dat: its body of 5 bytes is not whole 32-bit words"},
    {"PointNotWholeWords", Target::kPoint, kasm::TableFile(0, std::vector<uint8_t>(6), true),
     "Point.dat: its body of 6 bytes is not whole 32-bit words"},
    {"GraphicCut", Target::kGraphic, std::vector<uint8_t>(2055), "graphic.dat: 2055 bytes"},
    {"GraphicBucketBeyond", Target::kGraphic, GraphicWithBucket('B', 2, 0, 1), "bucket 66 (2 records at 0)"},
    {"GraphicBucketOffsetHuge", Target::kGraphic, GraphicWithBucket('C', 1, 0xFFFFFFF0u, 1),
     "bucket 67 (1 records at 4294967280)"},
};

class CorruptFiles : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptFiles, AreRefusedWithTheirReason) {
  const CorruptCase& c = GetParam();
  Machine m("nop");
  ASSERT_TRUE(m.ok);
  LogCapture log;
  // What is loaded now, to show that a refused file changes none of it.
  const ScriptRecord script = m.ctx->script;
  const DataFiles data = m.ctx->data;
  const uint8_t* graphic = m.ctx->graphic.image;
  bool loaded = true;
  switch (c.target) {
    case Target::kScript: loaded = script_load_image(m.ctx, c.bytes); break;
    case Target::kFile: loaded = table_load_image(m.ctx, DataTable::kFile, c.bytes); break;
    case Target::kText: loaded = table_load_image(m.ctx, DataTable::kText, c.bytes); break;
    case Target::kMem: loaded = table_load_image(m.ctx, DataTable::kMem, c.bytes); break;
    case Target::kPoint: loaded = table_load_image(m.ctx, DataTable::kPoint, c.bytes); break;
    case Target::kGraphic: loaded = graphic_dat_load_image(m.ctx, c.bytes); break;
  }
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(log.Has(kDebugWindowError, c.line)) << log.All();
  EXPECT_EQ(m.ctx->script.code, script.code);
  EXPECT_EQ(m.ctx->script.codeSize, script.codeSize);
  EXPECT_EQ(m.ctx->script.pc, script.pc);
  EXPECT_EQ(std::memcmp(&m.ctx->data, &data, sizeof data), 0);
  EXPECT_EQ(m.ctx->graphic.image, graphic);
  // The script that was loaded still runs.
  script_run(m.ctx);
  EXPECT_EQ(m.ctx->script.pc, m.ctx->script.codeSize);
}

INSTANTIATE_TEST_SUITE_P(Tables, CorruptFiles, ::testing::ValuesIn(kCorrupt),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Labels, TargetsOutsideTheCodeAreRefused) {
  LogCapture log;
  Machine m("jmp 1\nmov r1, 1");
  ASSERT_TRUE(m.ok);
  // Point.dat with one label whose offset lies beyond the code: refused at
  // load, the loaded one stays.
  EXPECT_FALSE(table_load_image(m.ctx, DataTable::kPoint, kasm::TableFile(1, Le32({1000}), false)));
  EXPECT_TRUE(log.Has(kDebugWindowError, "Point.dat: label 1 points at 1012, outside the code")) << log.All();
  // Header and body must agree: a header naming 6 labels over 1.
  EXPECT_FALSE(table_load_image(m.ctx, DataTable::kPoint, kasm::TableFile(6, Le32({0}), false)));
  EXPECT_TRUE(log.Has(kDebugWindowError, "Point.dat: its header names 6 labels, its body holds 1")) << log.All();
  // The jump to the label that is not there stops the script: it never
  // falls through to what follows.
  m.RunToEnd();
  EXPECT_EQ(m.Reg(1), 0) << "the jump is refused and the script stops";
  EXPECT_TRUE(log.Has(kDebugWindowError, "jump label error : 1")) << log.All();
  EXPECT_EQ(m.ctx->script.pc, m.ctx->script.codeSize);
  script_run(m.ctx);
  EXPECT_EQ(m.Reg(1), 0) << "and stays stopped";
  uint32_t pc = 0;
  EXPECT_FALSE(label_pc(m.ctx, 2, &pc));
  EXPECT_TRUE(label_pc(m.ctx, 0, &pc));
  EXPECT_EQ(pc, 12u) << "label 0 is the first code word";
}

TEST(DebugData, AreasAreRegisteredInTheirOrder) {
  LogCapture log;
  Machine m("nop");
  ASSERT_TRUE(m.ok);
  debug_data_register(m.ctx);
  EXPECT_EQ(m.ctx->debugData.area[0], m.ctx->userMemory);
  EXPECT_EQ(m.ctx->debugData.area[1], m.ctx->tempArea);
  EXPECT_EQ(m.ctx->debugData.area[2], m.record().systemVariables);
  EXPECT_EQ(m.ctx->debugData.area[3], &m.ctx->baseRegister);
  EXPECT_EQ(m.ctx->debugData.area[4], &m.ctx->framePointer);
  // Without debug mode there are no windows to bind: nothing is logged.
  EXPECT_TRUE(log.lines.empty()) << log.All();
}

// ---- archive.dat sets ----

struct ArchiveCase {
  const char* name;
  std::string text;
  int set;
  bool found;
  std::vector<std::string> names;
};

class ArchiveSets : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(ArchiveSets, SplitAsWritten) {
  const ArchiveCase& c = GetParam();
  std::vector<std::string> names;
  EXPECT_EQ(archive_set_names(c.text, c.set, &names), c.found);
  EXPECT_EQ(names, c.names);
}

const ArchiveCase kArchiveCases[] = {
    {"TwoNamesWithBlanks", "bg | ev\r\n,voice", 0, true, {"bg", "ev"}},
    {"SecondSet", "bg | ev\r\n,voice\t", 1, true, {"voice"}},
    {"BarsInARow", "a||b", 0, true, {"a", "b"}},
    {"FewerSets", "a,b", 2, false, {}},
    {"EmptySet", "a,,b", 1, true, {}},
    {"StopsAtANul", std::string("a,b\0,c", 6), 2, false, {}},
    {"SetOf259Bytes", std::string(259, 'x'), 0, true, {std::string(259, 'x')}},
    {"SetTooLong", std::string(260, 'x') + ",a", 0, false, {}},
};

INSTANTIATE_TEST_SUITE_P(Tables, ArchiveSets, ::testing::ValuesIn(kArchiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Through the engine's file layer ----

class TableFiles : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    char tmpl[] = "/tmp/kivtablesXXXXXX";
    folder = mkdtemp(tmpl);
    ASSERT_EQ(KivInit(&params), 1);
  }
  void TearDown() override {
    EngineTest::TearDown();
    std::string cmd = "rm -rf '" + folder + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string folder;
};

TEST_F(TableFiles, LoadInStartUpOrderAndNameTheFirstFailure) {
  kasm::Output out = vmtest::AssembleOrFail(std::string(".scramble text point\n") + kTablesSource);
  std::string error;
  ASSERT_TRUE(kasm::WriteOutput(out, folder, &error)) << error;
  ASSERT_EQ(KivSystemPathSet(folder.c_str()), 1);
  auto record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  {
    LogCapture log;
    ASSERT_TRUE(script_data_load(ctx)) << log.All();
    ASSERT_TRUE(graphic_dat_load(ctx));
  }
  EXPECT_EQ(ctx->script.entryPc, 12u);
  EXPECT_EQ(text_word_count(ctx), 2u);
  uint8_t entry[32];
  get_string_operand(ctx, out.textOffset.at("太郎"), entry);
  EXPECT_EQ(string_operand_text(entry), Sj("太郎"));
  script_free(ctx);
  data_tables_free(ctx);
  graphic_dat_free(ctx);

  ASSERT_EQ(unlink((folder + "/Mem.dat").c_str()), 0);
  LogCapture log;
  EXPECT_FALSE(script_data_load(ctx));
  EXPECT_TRUE(log.Has(kDebugWindowError, "Mem.dat: cannot be opened")) << log.All();
  EXPECT_TRUE(log.Has(kDebugWindowError, "tablelist load error")) << log.All();
  EXPECT_FALSE(log.HasAny("pointlist load error")) << "loading stops at the first failure";
  script_free(ctx);
  data_tables_free(ctx);
}

TEST_F(TableFiles, ArchiveSetsBecomeSearchPaths) {
  const std::string data = std::string(KivGetFilePath()) + "/data";
  mkdir(data.c_str(), 0755);
  const std::string file = data + "/archive.dat";
  std::ofstream(file, std::ios::binary) << "bg | ev\r\n,voice";
  EXPECT_EQ(archive_list_load(0), 1);
  std::vector<std::string> paths;
  for (KivListNode* n = g_kiv->searchPaths->next; n; n = n->next) paths.push_back(reinterpret_cast<const char*>(n->value));
  ASSERT_EQ(paths.size(), 3u);
  const std::string base = KivGetFilePath();
  EXPECT_EQ(paths[0], base + "\\ev") << "the newest first";
  EXPECT_EQ(paths[1], base + "\\bg");
  EXPECT_EQ(paths[2], base + "\\data");

  EXPECT_EQ(archive_list_load(4), 0);
  ASSERT_FALSE(plat::HeadlessBoxLog().empty());
  EXPECT_EQ(plat::HeadlessBoxLog().back().text, "ArchiveData Read Fail");
  EXPECT_EQ(plat::HeadlessBoxLog().back().caption, "error");
  unlink(file.c_str());
  rmdir(data.c_str());
  EXPECT_EQ(archive_list_load(0), 0);
  EXPECT_EQ(plat::HeadlessBoxLog().back().text, "ArchiveData Fail");
}

}  // namespace
