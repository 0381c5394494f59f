// Data files: search folders, loose files before archive members, newest
// folder first, Windows-style names, and archives that lie.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "support/engine_fixture.h"
#include "files/pac_archive.h"
#include "pac_writer.h"
#include "platform/core/file.h"

using namespace kivtest;

namespace {

std::string ReadAll(intptr_t f, const KivFileInfo& info) {
  std::string s(info.size, '\0');
  size_t got = 0;
  plat::FileRead(f, s.data(), s.size(), &got);
  s.resize(got);
  return s;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class FilesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    char tmpl[] = "/tmp/kivfilesXXXXXX";
    root = mkdtemp(tmpl);
    older = root + "/older";
    newer = root + "/newer";
    mkdir(older.c_str(), 0755);
    mkdir(newer.c_str(), 0755);
    ASSERT_EQ(KivInit(&params), 1);
  }
  void TearDown() override {
    EngineTest::TearDown();
    std::string cmd = "rm -rf '" + root + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void Pack(const std::string& folder, const std::vector<kivtools::PacInput>& members) {
    std::string error;
    ASSERT_TRUE(kivtools::WritePac(folder + ".pac", members, &error)) << error;
  }
  // Opens a name and returns its content, or "<none>".
  std::string Open(const char* name, KivFileInfo* out = nullptr) {
    KivFileInfo info;
    intptr_t f = KivFileCreate(name, &info);
    if (f == KIV_INVALID_FILE) return "<none>";
    std::string s = ReadAll(f, info);
    plat::FileClose(f);
    if (out) *out = info;
    return s;
  }
  std::string root, older, newer;
};

TEST_F(FilesTest, LooseBeforePackedNewestFolderFirst) {
  WriteFile(older + "/loose.txt", "older loose");
  Pack(older, {{"LOOSE.TXT", Bytes("older packed")}, {"only_old.bin", Bytes("old member")},
               {"shared.dat", Bytes("older shared")}});
  Pack(newer, {{"SHARED.DAT", Bytes("newer shared")}, {"b.dat", Bytes("B")}, {"a.dat", Bytes("A")}});
  ASSERT_EQ(KivSystemPathSet(older.c_str()), 1);
  ASSERT_EQ(KivSystemPathSet(newer.c_str()), 1);

  EXPECT_EQ(Open("loose.txt"), "older loose") << "the loose file wins within its folder";
  EXPECT_EQ(Open("shared.dat"), "newer shared") << "the newer folder wins";
  EXPECT_EQ(Open("a.dat"), "A");
  EXPECT_EQ(Open("B.DAT"), "B");
  KivFileInfo info{};
  EXPECT_EQ(Open("only_old.bin", &info), "old member");
  EXPECT_EQ(info.end - info.start, info.size);
  EXPECT_GE(info.start, kPacDirectoryOffset);
  EXPECT_EQ(Open("missing.bin"), "<none>");
  EXPECT_EQ(Open(""), "<none>");

  // A loose file gives {0, size, size}.
  Open("loose.txt", &info);
  EXPECT_EQ(info.start, 0u);
  EXPECT_EQ(info.size, 11u);
  EXPECT_EQ(info.end, 11u);

  ASSERT_EQ(KivSystemPathClear(), 1);
  EXPECT_EQ(Open("shared.dat"), "<none>");
}

TEST_F(FilesTest, WindowsStyleNames) {
  mkdir((newer + "/Mask").c_str(), 0755);
  WriteFile(newer + "/mask03.bmp", "mask three");
  WriteFile(older + "/bg.pgd", "background");
  Pack(older, {{"other.pgd", Bytes("packed")}});
  KivSystemPathSet(newer.c_str());
  // The folder part of a relative name is dropped; case does not matter.
  EXPECT_EQ(Open("Mask\\Mask03.bmp"), "mask three");
  // An absolute name searches only its own folder: loose, then its archive.
  std::string abs = older + "\\bg.pgd";
  EXPECT_EQ(Open(abs.c_str()), "background");
  abs = older + "\\other.pgd";
  EXPECT_EQ(Open(abs.c_str()), "packed");
  abs = older + "\\mask03.bmp";
  EXPECT_EQ(Open(abs.c_str()), "<none>");
}

TEST_F(FilesTest, RelativeSearchFolderAndShiftJisNames) {
  std::string base = KivGetFilePath();
  std::string sub = "kivfiles_rel_" + std::to_string(getpid());
  mkdir((base + "/" + sub).c_str(), 0755);
  WriteFile(base + "/" + sub + "/" + "背景.txt", "utf8 on disk");
  KivSystemPathSet(sub.c_str());
  EXPECT_EQ(Open(plat::Utf8ToCp932("背景.txt").c_str()), "utf8 on disk");
  // A name starting with a double-byte character is never found in an archive.
  Pack(older, {{"X.TXT", Bytes("x")}});
  KivSystemPathSet(older.c_str());
  std::vector<kivtools::PacInput> bad = {{plat::Utf8ToCp932("画像.txt"), Bytes("y")}};
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(kivtools::BuildPac(bad, &out, &error)) << "the writer refuses what the engine could not find";
  std::string cmd = "rm -rf '" + base + "/" + sub + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

TEST(PacArchive, LyingArchivesFindNothing) {
  std::vector<uint8_t> good;
  std::string error;
  ASSERT_TRUE(kivtools::BuildPac({{"A.BIN", {1, 2, 3}}, {"B.BIN", {4}}, {"BB.BIN", {5, 6}}}, &good, &error));
  auto find = [](const std::vector<uint8_t>& pac, const char* name, PacMember* m) {
    auto read = [&pac](uint64_t off, void* buf, size_t n) {
      if (off > pac.size() || n > pac.size() - off) return false;
      std::memcpy(buf, pac.data() + off, n);
      return true;
    };
    return KivPacFind(read, pac.size(), name, m);
  };
  PacMember m{};
  ASSERT_TRUE(find(good, "BB.BIN", &m));
  EXPECT_EQ(m.size, 2u);
  EXPECT_EQ(good[m.offset], 5);
  ASSERT_TRUE(find(good, "B.BIN", &m));
  EXPECT_FALSE(find(good, "C.BIN", &m));

  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"bucket count past the directory", 12 + 8 * 'B' + 4, 1000000},
      {"bucket first past the directory", 12 + 8 * 'B', 0x7FFFFFFF},
      {"member offset past the end", kPacDirectoryOffset + 40 * 1 + 36, 0xFFFFFF00u},
      {"member size past the end", kPacDirectoryOffset + 40 * 1 + 32, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    for (int i = 0; i < 4; ++i) bad[c.at + i] = static_cast<uint8_t>(c.value >> (8 * i));
    EXPECT_FALSE(find(bad, "B.BIN", &m)) << c.what;
  }
  // Truncated anywhere: never found past the cut, never a crash.
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    std::vector<uint8_t> shortened(good.begin(), good.begin() + cut);
    if (find(shortened, "BB.BIN", &m)) {
      EXPECT_LE(m.offset + m.size, cut);
    }
  }
}

TEST(PathNames, OggTest) {
  struct Case {
    const char* name;
    int ogg;
  } cases[] = {{"bgm01.ogg", 1}, {"BGM01.OGG", 1}, {"a.b.OgG", 1}, {"bgm.wav", 0}, {"ogg", 0}, {"x.ogg.wav", 0},
               {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(KivPathIsOgg(c.name), c.ogg) << c.name;
  EXPECT_EQ(KivPathIsOgg(nullptr), 0);
}

}  // namespace
