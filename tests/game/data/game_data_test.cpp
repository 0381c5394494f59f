// The game program's own files: the command line, config.dat, system.dat and
// the save folder routines.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "start/command_line.h"
#include "data/config_dat.h"
#include "support/engine_fixture.h"
#include "start/game_task.h"
#include "platform/core/file.h"
#include "start/program_identity.h"
#include "data/save_folder.h"
#include "data/system_dat.h"

using namespace kivtest;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(CommandLine, Switches) {
  struct Case {
    const char* line;
    uint32_t mode;
    int pacing;
  } cases[] = {
      {"/DIB/VS", 0x4413, 0}, {"/dx", 0x441B, 2},  {"/DXIB", 0x441B, 2}, {"DIB", 0x441B, 2},
      {"/D", 0x441B, 2},      {"/NA /VS", 0x441A, 0}, {"", 0x441B, 2},     {"/", 0x441B, 2},
  };
  for (const Case& c : cases) {
    KivSystemParameters p{};
    p.mode = 0x441B;
    p.pacing = 2;
    command_line_parse(c.line, &p);
    EXPECT_EQ(p.mode, c.mode) << c.line;
    EXPECT_EQ(p.pacing, c.pacing) << c.line;
  }
  KivSystemParameters p{};
  p.mode = 0x4413;
  command_line_parse("x /DX", &p);
  EXPECT_EQ(p.mode, 0x441Bu);
}

TEST(ConfigDat, ShortFilesAndOutOfRangeWords) {
  KivSystemParameters base{};
  base.x = 10;
  base.y = 20;
  base.clientWidth = 1280;
  base.clientHeight = 720;
  base.mode = 0x441B;
  base.adapter = 0;
  base.aspect = 1;
  base.pacing = 2;

  KivSystemParameters p = base;
  config_apply(nullptr, 0, &p);
  EXPECT_EQ(std::memcmp(&p, &base, sizeof p), 0) << "0 bytes change nothing";

  uint8_t words[32];
  KivSystemParameters other = base;
  other.x = -5;
  other.y = 7;
  other.clientWidth = 960;
  other.clientHeight = 540;
  other.mode = 0x4413;
  other.adapter = 1;
  other.aspect = 3;
  other.pacing = 0;
  config_bytes(other, words);
  p = base;
  config_apply(words, 12, &p);  // x, y, width only
  EXPECT_EQ(p.x, -5);
  EXPECT_EQ(p.y, 7);
  EXPECT_EQ(p.clientWidth, 960);
  EXPECT_EQ(p.clientHeight, 720);
  EXPECT_EQ(p.mode, 0x441Bu);
  p = base;
  config_apply(words, 32, &p);
  EXPECT_EQ(p.clientHeight, 540);
  EXPECT_EQ(p.mode, 0x4413u);
  EXPECT_EQ(p.adapter, 1);
  EXPECT_EQ(p.aspect, 3);
  EXPECT_EQ(p.pacing, 0);

  // Width 0, aspect 7 and sync 9 keep the program's own values.
  other.clientWidth = 0;
  other.aspect = 7;
  other.pacing = 9;
  config_bytes(other, words);
  p = base;
  config_apply(words, 32, &p);
  EXPECT_EQ(p.clientWidth, 1280);
  EXPECT_EQ(p.aspect, 1);
  EXPECT_EQ(p.pacing, 2);
}

class SaveFolderTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    char tmpl[] = "/tmp/kivsaveXXXXXX";
    root = mkdtemp(tmpl);
    save = root + "/save";
    data = root + "/data";
    ::mkdir(save.c_str(), 0755);
    ::mkdir(data.c_str(), 0755);
    program_identity().saveFolder = save;
  }
  void TearDown() override {
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
  }
  // A data folder with a Script.src of the given stamp and small tables.
  void MakeData(uint32_t stamp, uint32_t text_words = 10, uint32_t file_records = 5) {
    std::vector<uint8_t> script(16, 0), text(16, 0), files(16, 0);
    for (int i = 0; i < 4; ++i) {
      script[4 + i] = static_cast<uint8_t>(stamp >> (8 * i));
      text[12 + i] = static_cast<uint8_t>(text_words >> (8 * i));
      files[12 + i] = static_cast<uint8_t>(file_records >> (8 * i));
    }
    WriteFile(data + "/Script.src", script);
    WriteFile(data + "/Text.dat", text);
    WriteFile(data + "/File.dat", files);
  }
  std::string root, save, data;
};

TEST_F(SaveFolderTest, SystemDatRoundTripAtItsOffsets) {
  ASSERT_EQ(KivInit(&params), 1);
  MakeData(0xABCD1234);
  KivSystemPathSet(data.c_str());
  auto* g = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  ASSERT_EQ(system_dat_create(g), 1);
  EXPECT_EQ(static_cast<uint32_t>(g->system.word[kSysScriptStamp]), 0xABCD1234u);
  EXPECT_EQ(g->system.word[kSysEffectsOn], 1);
  EXPECT_EQ(g->system.word[kSysNewestSlot], -1);
  EXPECT_EQ(g->textReadFlagsSize, kTextReadFlagsCreated);
  EXPECT_EQ(g->imageSeenFlagsSize, kImageSeenFlagsCreated);
  g->systemVariables[3] = 77;
  text_read_set(g, 9);
  set_image_seen(g, 6);
  ASSERT_EQ(system_dat_save(g), 1);

  std::vector<uint8_t> b = ReadFile(save + "/system.dat");
  ASSERT_EQ(b.size(), 3954u + kTextReadFlagsCreated + kImageSeenFlagsCreated);
  EXPECT_EQ(b[0] | b[1] << 8, 11);
  EXPECT_EQ(U32At(b, 2), 0xABCD1234u);                  // word 0
  EXPECT_EQ(U32At(b, 2 + 4 * kSysBgmVolume), 5000u);     // word 8
  EXPECT_EQ(U32At(b, 1898 + 4 * 3), 77u);               // system variable 3
  EXPECT_EQ(U32At(b, 3946), kTextReadFlagsCreated);     // n
  EXPECT_EQ(b[3950 + 1], 0x02);                         // word 9: bit 1 of byte 1
  EXPECT_EQ(U32At(b, 3950 + kTextReadFlagsCreated), kImageSeenFlagsCreated);  // m
  EXPECT_EQ(b[3954 + kTextReadFlagsCreated + 1], 0x30);  // record 6: bits 4 and 5, seen and newly seen

  auto* h = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  ASSERT_EQ(system_dat_load(h), 1);
  EXPECT_EQ(std::memcmp(&h->system, &g->system, sizeof g->system), 0);
  EXPECT_EQ(h->systemVariables[3], 77);
  EXPECT_TRUE(text_read_get(h, 9));
  EXPECT_FALSE(text_read_get(h, 8));
  EXPECT_TRUE(image_seen(h, 6));
  EXPECT_EQ(system_dat_bytes(*h), b) << "byte for byte";
  system_dat_release(g);
  system_dat_release(h);
  std::free(g);
  std::free(h);
}

TEST_F(SaveFolderTest, SystemDatKeepsItsOwnSizesAndRejectsLies) {
  auto* g = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  g->textReadFlags = static_cast<uint8_t*>(KivMemoryAlloc(3, 1));
  g->textReadFlagsSize = 3;
  g->imageSeenFlags = static_cast<uint8_t*>(KivMemoryAlloc(5, 1));
  g->imageSeenFlagsSize = 5;
  g->system.word[4] = 42;
  std::vector<uint8_t> b = system_dat_bytes(*g);
  auto* h = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  ASSERT_TRUE(system_dat_parse(b, h));
  EXPECT_EQ(h->textReadFlagsSize, 3u);
  EXPECT_EQ(h->imageSeenFlagsSize, 5u);
  EXPECT_EQ(h->system.word[4], 42);
  // Flags beyond a small block are refused, not written past it.
  text_read_set(h, 1000000);
  set_image_seen(h, 1000000);
  EXPECT_FALSE(text_read_get(h, 1000000));

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"under 6 bytes", std::vector<uint8_t>(b.begin(), b.begin() + 5)},
      {"inside the record", std::vector<uint8_t>(b.begin(), b.begin() + 1000)},
      {"before n", std::vector<uint8_t>(b.begin(), b.begin() + 3947)},
      {"inside the flags", std::vector<uint8_t>(b.begin(), b.end() - 2)},
  };
  std::vector<uint8_t> lying = b;
  lying[3946] = 0xFF;
  lying[3947] = 0xFF;
  lying[3948] = 0xFF;
  lying[3949] = 0x7F;  // n far past the end
  cases.push_back({"n past the end", lying});
  for (const Case& c : cases) {
    h->system.word[4] = 9;
    EXPECT_FALSE(system_dat_parse(c.bytes, h)) << c.what;
    EXPECT_EQ(h->system.word[4], 9) << c.what << ": nothing changed";
  }
  system_dat_release(g);
  system_dat_release(h);
  std::free(g);
  std::free(h);
}

TEST_F(SaveFolderTest, FailedSaveKeepsTheOldFile) {
  ASSERT_EQ(KivInit(&params), 1);
  auto* g = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  g->system.word[4] = 1;
  ASSERT_EQ(system_dat_save(g), 1);
  std::vector<uint8_t> before = ReadFile(save + "/system.dat");
  // The temporary file cannot be made: the save fails and says so.
  ::mkdir((save + "/system.dat.tmp").c_str(), 0755);
  g->system.word[4] = 2;
  EXPECT_EQ(system_dat_save(g), 0);
  EXPECT_EQ(ReadFile(save + "/system.dat"), before);
  std::free(g);
}

TEST_F(SaveFolderTest, StampCheckAndDeletion) {
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(system_dat_is_current(), StampCheck::kNoScript) << "no Script.src: not a reason to delete saves";
  MakeData(5);
  KivSystemPathSet(data.c_str());
  EXPECT_EQ(system_dat_is_current(), StampCheck::kCurrent) << "no system.dat yet";
  auto* g = static_cast<GameRecord*>(std::calloc(1, sizeof(GameRecord)));
  g->system.word[0] = 5;
  system_dat_save(g);
  EXPECT_EQ(system_dat_is_current(), StampCheck::kCurrent);
  MakeData(6);
  EXPECT_EQ(system_dat_is_current(), StampCheck::kStale);

  WriteFile(save + "/save001.dat", {1});
  WriteFile(save + "/config.dat", {1});
  WriteFile(save + "/log.txt", {1});
  WriteFile(save + "/dat", {1});
  WriteFile(save + "/notes.DAT", {1});
  ::mkdir((save + "/folder.dat").c_str(), 0755);
  EXPECT_EQ(folder_files_delete(), 1);
  EXPECT_EQ(file_exists(save + "/system.dat"), 0);
  EXPECT_EQ(file_exists(save + "/save001.dat"), 0);
  EXPECT_EQ(file_exists(save + "/config.dat"), 0);
  EXPECT_EQ(::access((save + "/log.txt").c_str(), F_OK), 0);
  EXPECT_EQ(::access((save + "/dat").c_str(), F_OK), 0);
  EXPECT_EQ(::access((save + "/notes.DAT").c_str(), F_OK), 0) << "the match is case-sensitive";
  EXPECT_EQ(file_exists(save + "/folder.dat"), 2);
  std::free(g);
}

TEST_F(SaveFolderTest, ConfigWrittenBackWithTheRendererBit) {
  params.mode = 0x4413;
  ASSERT_EQ(config_load(&params), 1);  // created from the parameters as they stand
  std::vector<uint8_t> fresh = ReadFile(save + "/config.dat");
  ASSERT_EQ(fresh.size(), 32u);
  EXPECT_EQ(U32At(fresh, 16), 0x4413u);
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(config_save(), 1);
  std::vector<uint8_t> back = ReadFile(save + "/config.dat");
  ASSERT_EQ(back.size(), 32u);
  EXPECT_EQ(U32At(back, 16), 0x441Bu) << "bit 3 always set at exit";
  EXPECT_EQ(U32At(back, 8), 320u);
  EXPECT_EQ(U32At(back, 28), 2u);
}

TEST_F(SaveFolderTest, FolderRoutines) {
  std::string two = root + "\\made\\deeper";
  EXPECT_EQ(folder_path_create(two), 1);
  EXPECT_EQ(file_exists(root + "/made/deeper"), 2);
  EXPECT_EQ(folder_path_create("relative\\path"), 0);
  EXPECT_EQ(folder_path_create(std::string(300, 'a').insert(0, "/")), 0);
  std::string p = root + "\\made\\file.txt";
  EXPECT_EQ(path_join(&p), 1);
  EXPECT_EQ(p, root + "\\made");
}

}  // namespace
