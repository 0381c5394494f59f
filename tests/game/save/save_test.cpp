// Save and load: every block reads back exactly what it wrote, a whole save
// goes through a file and back to the same bytes, damaged files are refused
// with the running game untouched, a snapshot that does not fit keeps the
// previous one, and a failed or killed write never leaves a broken slot.
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "motion/actions.h"
#include "motion_fixture.h"
#include "data/system_data.h"
#include "layers/layers.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "render/soft_screen.h"
#include "save/save.h"
#include "save/state_dump.h"
#include "sound/sound_shared.h"
#include "sound_fixture.h"
#include "support/golden_frame.h"
#include "system/system_commands.h"
#include "start/program_identity.h"

using motiontest::MotionTest;

namespace {

const char* kScript = R"(
.file "UNUSED"
    call sp_set_ex file"RED", 3, 100, 200
    call sp_set_ex file"BLUE", 7, 300, 40
    call run 0, 0, 0
    call action_move 0, 3, 60, 0, 1000
    call action_run 0, 2000
    call wait_frame
here:
    call wait_frame
back:
    call wait_frame
)";

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
// The first offset where two dumps differ, for the failure message.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a == b) return "same";
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ", first difference at " +
         std::to_string(i);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

class SaveTest : public MotionTest {
 protected:
  void SetUp() override {
    MotionTest::SetUp();
    program_identity().saveFolder = dir;
  }
  void TearDown() override {
    if (ctx) save_buffers_free(ctx);
    save_set_file_writer(nullptr);
    MotionTest::TearDown();
  }
  // A game with two pictures, a running action, machine state and two
  // return points, stopped at a line.
  void Play(const std::string& script = kScript) {
    Start(script);
    ASSERT_EQ(save_init(ctx), 1);
    Frame(0);
    Frame(100);
    Frame(100);
    ASSERT_TRUE(ctx->actions.slots[0].running);
    if (!keepActionRunning) Frame(2500);  // a running slot comes back restarted
    for (int i = 0; i < kUserMemoryWords; ++i) ctx->userMemory[i] = i * 7 - 300;
    std::strcpy(ctx->stringVariables[2], "\x83\x65\x83\x58\x83\x67");  // テスト
    ctx->valueStackDepth = 3;
    ctx->valueStack[0] = 11, ctx->valueStack[1] = 22, ctx->valueStack[2] = 33;
    ctx->framePointer = 5;
    ctx->frameSlots[4] = -9;
    ctx->memoryStackDepth = 1;
    ctx->memoryStackStore[100] = 1234;
    ctx->priorityBase = 40;
    ctx->keyCancelKeys = 0x12;
    ASSERT_TRUE(return_point_push(ctx, kGameListReturnPoints, m->Pc("back"), kReturnKindGosub));
    ASSERT_TRUE(return_point_push(ctx, kGameListReturnPoints, m->Pc("here"), kReturnKindGosub));
    std::strcpy(ctx->save.saveText, "line of the save");
    ctx->save.titleOperand = 0x10000000;
  }
  // The whole state as a save writes it: the dump that tests compare.
  std::vector<uint8_t> Dump(uint32_t pc) {
    std::vector<uint8_t> b(kSaveSnapshotBytes);
    uint32_t used = 0;
    EXPECT_TRUE(save_state_write(ctx, pc, b, &used));
    b.resize(used);
    return b;
  }
  bool keepActionRunning = false;
  std::string Path(const char* name) { return dir + "/" + name; }
};

// Each block alone: writer -> reader consumes exactly its bytes -> writer
// gives the same bytes; then the whole save through a file and back.
TEST_F(SaveTest, EveryBlockAndTheWholeFileRoundTripByteForByte) {
  keepActionRunning = true;
  ASSERT_NO_FATAL_FAILURE(Play());
  for (const SaveBlock& b : save_blocks()) {
    SCOPED_TRACE(b.name);
    std::vector<uint8_t> first(kSaveSnapshotBytes);
    uint32_t used = 0;
    ASSERT_TRUE(b.write(ctx, first, &used));
    first.resize(used);
    ASSERT_GT(used, 0u);
    if (std::string(b.name) == "return points") {
      // Restoring pushes onto the list: start from an empty key.
      while (void* p = reinterpret_cast<void*>(KivListPop(ctx->gameList, kGameListReturnPoints))) KivMemoryFree(p);
    }
    uint32_t cursor = 0;
    b.read(ctx, first, &cursor);
    EXPECT_EQ(cursor, used);
    // A running action slot starts again from its first step when it comes
    // back, so its words differ by design; its size must not.
    if (std::string(b.name) == "actions") continue;
    std::vector<uint8_t> again(kSaveSnapshotBytes);
    uint32_t used2 = 0;
    ASSERT_TRUE(b.write(ctx, again, &used2));
    again.resize(used2);
    EXPECT_TRUE(again == first) << FirstDifference(again, first);
  }

  Frame(2500);  // the action ends: the whole state comes back byte for byte
  ASSERT_FALSE(ctx->actions.slots[0].running);
  const uint32_t pc = ctx->script.pc;
  ASSERT_TRUE(save_snapshot_build(ctx, pc));
  const std::string path = Path("save003.dat");
  ASSERT_TRUE(save_file_write(ctx, path.c_str()));
  const std::vector<uint8_t> file = ReadFile(path);
  // Header offsets.
  ASSERT_GT(file.size(), 544u + 19200 + 4096);
  EXPECT_EQ(U32At(file, 0), 0x10000000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 4)), "line of the save");
  EXPECT_EQ(U32At(file, 520), pc);
  EXPECT_EQ(U32At(file, 524), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(file, 528), 80u);
  EXPECT_EQ(U32At(file, 532), 60u);
  EXPECT_EQ(U32At(file, 536), 19200u);
  EXPECT_EQ(U32At(file, 540), 1u);
  EXPECT_EQ(static_cast<int32_t>(U32At(file, 544 + 19200 + 4 * 10)), 10 * 7 - 300);  // user memory
  EXPECT_EQ(std::string(file.end() - 3, file.end()), "end");
  const std::vector<uint8_t> before = Dump(pc);

  // Another state, then the load brings the saved one back.
  ctx->userMemory[10] = 5;
  layer_release(ctx, 7);
  ctx->script.pc = m->Pc("back");
  ASSERT_TRUE(save_file_read(ctx, path.c_str()));
  EXPECT_EQ(ctx->script.pc, pc);
  EXPECT_EQ(ctx->userMemory[10], 10 * 7 - 300);
  ASSERT_NE(Rec(7).sprite, nullptr);
  EXPECT_EQ(Dump(pc), before);
  // Written again, the file is the same bytes.
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  ASSERT_TRUE(save_file_write(ctx, Path("save004.dat").c_str()));
  EXPECT_EQ(ReadFile(Path("save004.dat")), file);
}

// Damaged files: each is refused and the running game is what it was.
TEST_F(SaveTest, DamagedFilesAreRefusedAndTheGameIsUntouched) {
  ASSERT_NO_FATAL_FAILURE(Play());
  const uint32_t pc = ctx->script.pc;
  ASSERT_TRUE(save_snapshot_build(ctx, pc));
  const std::string good = Path("good.dat");
  ASSERT_TRUE(save_file_write(ctx, good.c_str()));
  const std::vector<uint8_t> file = ReadFile(good);

  // Block boundaries, found by the writers themselves.
  std::vector<std::pair<std::string, uint32_t>> starts;
  {
    std::vector<uint8_t> b(kSaveSnapshotBytes);
    uint32_t used = 544 + 19200;
    for (const SaveBlock& blk : save_blocks()) {
      starts.emplace_back(blk.name, used);
      ASSERT_TRUE(blk.write(ctx, b, &used));
    }
    ASSERT_EQ(used + 3, file.size());
  }
  const uint32_t machine = 544 + 19200;
  const uint32_t valueDepthAt = machine + 4096 + 4 + 16384 + 2040 + 8;
  const uint32_t fpAt = valueDepthAt + 4 + 128 + 4;
  const uint32_t returnsAt = fpAt + 4 + 1024;

  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"543 bytes", {file.begin(), file.begin() + 543}});
  for (size_t i = 0; i < starts.size(); ++i) {
    const uint32_t end = i + 1 < starts.size() ? starts[i + 1].second : static_cast<uint32_t>(file.size() - 3);
    const uint32_t cut = starts[i].second + (end - starts[i].second) / 2;
    cases.push_back({"cut inside " + starts[i].first, {file.begin(), file.begin() + cut}});
  }
  auto patched = [&](const char* name, size_t at, uint32_t v) {
    std::vector<uint8_t> b = file;
    PutU32(b, at, v);
    cases.push_back({name, b});
  };
  patched("huge S", 536, 0xFFFFFFF0u);
  patched("S not w x h x 4", 536, 19204);
  patched("huge width", 528, 0x40000001u);
  patched("resume pc past the code", 520, 0x7FFFFFFF);
  patched("value stack depth 99", valueDepthAt, 99);
  patched("frame pointer 257", fpAt, 257);
  patched("memory stack depth 2", machine + 4096, 2);
  patched("huge return-point count", returnsAt, 0xFFFFFFFFu);
  patched("return point outside the code", returnsAt + 4, 0x7FFFFFF0);
  cases.push_back({"missing end", {file.begin(), file.end() - 3}});
  {
    std::vector<uint8_t> b = file;
    b[b.size() - 1] = 'x';
    cases.push_back({"wrong end", b});
    b = file;
    b.push_back(0);
    cases.push_back({"bytes after end", b});
  }

  const std::vector<uint8_t> before = Dump(pc);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path("bad.dat");
    WriteFile(path, c.bytes);
    EXPECT_FALSE(save_file_read(ctx, path.c_str()));
    EXPECT_EQ(ctx->script.pc, pc);
    EXPECT_EQ(ctx->save.snapshotPresent, 1);
    ASSERT_NE(Rec(7).sprite, nullptr);
    const std::vector<uint8_t> now = Dump(pc);
    EXPECT_TRUE(now == before) << FirstDifference(now, before);
  }
  // The good file still loads after all that.
  EXPECT_TRUE(save_file_read(ctx, good.c_str()));
  EXPECT_EQ(Dump(pc), before);
}

TEST_F(SaveTest, ASnapshotThatDoesNotFitKeepsThePreviousOne) {
  ASSERT_NO_FATAL_FAILURE(Play());
  ASSERT_TRUE(save_snapshot_build(ctx, m->Pc("here")));
  const std::vector<uint8_t> kept(ctx->save.snapshot, ctx->save.snapshot + ctx->save.used);
  // A screen-sized thumbnail alone is 3.6 MB: the snapshot cannot fit.
  ASSERT_TRUE(save_thumbnail_resize(ctx, 1280, 720));
  EXPECT_FALSE(save_snapshot_build(ctx, m->Pc("back")));
  EXPECT_TRUE(log.Has(kDebugWindowError, "save buffer over")) << log.All();
  EXPECT_EQ(ctx->save.resumePc, m->Pc("here"));
  EXPECT_EQ(std::vector<uint8_t>(ctx->save.snapshot, ctx->save.snapshot + ctx->save.used), kept);
}

bool FailingWriter(const std::string&, const void*, size_t) { return false; }

TEST_F(SaveTest, AFailedWriteKeepsTheOldSlot) {
  ASSERT_NO_FATAL_FAILURE(Play());
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  const std::string path = Path("save001.dat");
  ASSERT_TRUE(save_file_write(ctx, path.c_str()));
  const std::vector<uint8_t> old = ReadFile(path);
  ctx->userMemory[0] = 999;
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  save_set_file_writer(FailingWriter);
  EXPECT_FALSE(save_file_write(ctx, path.c_str()));
  EXPECT_TRUE(log.Has(kDebugWindowError, "save error")) << log.All();
  EXPECT_EQ(ReadFile(path), old);
  // A folder that cannot be written to: the real writer fails the same way.
  save_set_file_writer(nullptr);
  const std::string missing = dir + "/no such folder/save001.dat";
  EXPECT_FALSE(save_file_write(ctx, missing.c_str()));
}

// A real full disk: a small filesystem holds one save but not a second
// beside it, so the next save fails and the old slot is kept whole.
// Needs the right to mount; skipped without it.
TEST_F(SaveTest, AFullDiskKeepsTheOldSlot) {
  ASSERT_NO_FATAL_FAILURE(Play());
  const std::string small = dir + "/small";
  ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  const uint32_t bytes = ctx->save.used;
  const std::string size = "size=" + std::to_string((bytes + bytes / 2) / 4096 * 4096 + 4096);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  const std::string path = small + "/save001.dat";
  EXPECT_TRUE(save_file_write(ctx, path.c_str()));
  const std::vector<uint8_t> old = ReadFile(path);
  EXPECT_EQ(old.size(), bytes);
  ctx->userMemory[0] = 4242;
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  EXPECT_FALSE(save_file_write(ctx, path.c_str()));
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(access((path + ".tmp").c_str(), F_OK), -1);  // no leftover
}

// Killed at any moment during a loop of saves, the slot holds one whole
// save: the old one or the new one, never a part.
TEST_F(SaveTest, KillDuringSavesNeverLeavesATruncatedSlot) {
  ASSERT_NO_FATAL_FAILURE(Play());
  const std::string path = Path("save002.dat");
  std::vector<std::vector<uint8_t>> versions;
  for (int v = 0; v < 2; ++v) {
    ctx->userMemory[1] = v;
    ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
    ASSERT_TRUE(save_file_write(ctx, path.c_str()));
    versions.push_back(ReadFile(path));
  }
  for (int round = 0; round < 12; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        ctx->userMemory[1] = i & 1;
        save_file_write(ctx, path.c_str());  // the snapshot as built: version 1
      }
    }
    usleep(2000 + round * 1500);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::vector<uint8_t> now = ReadFile(path);
    EXPECT_TRUE(now == versions[0] || now == versions[1]) << "round " << round << ": " << now.size() << " bytes";
    // And it loads.
    EXPECT_TRUE(save_file_read(ctx, path.c_str())) << "round " << round;
  }
}

}  // namespace

namespace {

// Group 10 through its handlers, arguments given in pop order.
class SaveCommandTest : public SaveTest {
 protected:
  int Call(const char* name, std::initializer_list<int32_t> args) {
    const uint32_t word = CommandWord(name);
    CommandHandler h = command_handler(word);
    EXPECT_NE(h, nullptr) << name;
    if (!h) return -1;
    std::vector<int32_t> a(args);
    for (auto it = a.rbegin(); it != a.rend(); ++it) value_stack_push(ctx, *it);
    ctx->resultIndex = 200;
    ctx->registers[200] = -77;
    return h(ctx);
  }
  static uint32_t CommandWord(const char* name) {
    static const std::pair<const char*, uint32_t> kWords[] = {
        {"save", 0}, {"load", 1}, {"GetSaveTime", 3}, {"GetSaveDay", 8}, {"save_is", 9},
        {"save_get_usermemory", 10}, {"save_point", 11}, {"get_new_savefile", 17}, {"is_autosave", 19},
        {"autosave_load", 20}, {"delete_file", 28}, {"thumbnail_set", 5}, {"save_get_title", 6},
        {"SetSaveTime", 13}, {"SetSaveDay", 14}, {"get_save_text", 16}, {"move_file", 29}, {"copy_file", 30},
        {"load_thumbnail", 31}};
    for (auto& [n, i] : kWords)
      if (std::strcmp(n, name) == 0) return 0x000A0000u | i;
    return 0;
  }
  int32_t Result() const { return ctx->registers[200]; }
  bool Exists(const char* name) { return access(Path(name).c_str(), F_OK) == 0; }
};

TEST_F(SaveCommandTest, SaveLoadAndTheSlotFiles) {
  ASSERT_NO_FATAL_FAILURE(Play());
  const uint32_t resume = m->Pc("here");
  ctx->script.pc = resume;
  EXPECT_EQ(Call("save_point", {}), 1);
  const std::vector<uint8_t> saved = Dump(resume);

  EXPECT_EQ(Call("save", {-1, 0}), 1);  // autosave is off: nothing
  EXPECT_FALSE(Exists("continue.dat"));
  EXPECT_EQ(Call("save", {1000, 0}), 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "caution : save file no [1000]")) << log.All();
  EXPECT_EQ(Call("save", {3, 1}), 1);
  ASSERT_TRUE(Exists("save003.dat"));
  Call("save_is", {3});
  EXPECT_EQ(Result(), 1);
  Call("save_is", {4});
  EXPECT_EQ(Result(), 0);
  Call("save_is", {-1});
  EXPECT_EQ(Result(), 1);
  Call("save_get_usermemory", {3, 10});
  EXPECT_EQ(Result(), 10 * 7 - 300);
  Call("save_get_usermemory", {3, 5000});  // outside user memory: 0, logged
  EXPECT_EQ(Result(), 0);
  // Cells outside the temporary area are refused, the others written.
  EXPECT_EQ(Call("GetSaveDay", {3, 0, 1, 2, 99999}), 1);
  EXPECT_GE(ctx->tempArea[0], 2000);
  EXPECT_GE(ctx->tempArea[1], 1);

  // The game moves on; a damaged slot is refused and changes nothing.
  ctx->userMemory[10] = 1;
  ctx->script.pc = m->Pc("back");
  value_stack_push(ctx, 5);  // what the call leaves in the stack's free slot
  value_stack_pop(ctx);
  const std::vector<uint8_t> moved = Dump(ctx->script.pc);
  std::vector<uint8_t> cut = ReadFile(Path("save003.dat"));
  cut.resize(cut.size() - 100);
  WriteFile(Path("save005.dat"), cut);
  ctx->script.yield = 0;
  EXPECT_EQ(Call("load", {5}), 1);
  EXPECT_EQ(ctx->script.pc, m->Pc("back"));
  EXPECT_EQ(ctx->script.yield, 0);
  EXPECT_TRUE(Dump(ctx->script.pc) == moved) << FirstDifference(Dump(ctx->script.pc), moved);

  // The good slot: the saved state at the saved line, resumed next frame.
  EXPECT_EQ(Call("load", {3}), 1);
  EXPECT_EQ(ctx->script.pc, resume);
  EXPECT_EQ(ctx->script.yield, 1);
  EXPECT_EQ(ctx->save.snapshotPresent, 1);
  EXPECT_TRUE(Dump(resume) == saved) << FirstDifference(Dump(resume), saved);

  // Exchange with an empty slot moves the file; copy is whole; delete.
  const std::vector<uint8_t> file3 = ReadFile(Path("save003.dat"));
  EXPECT_EQ(Call("move_file", {3, 7}), 1);
  EXPECT_FALSE(Exists("save003.dat"));
  EXPECT_EQ(ReadFile(Path("save007.dat")), file3);
  EXPECT_EQ(Call("move_file", {7, 5}), 1);  // both exist: exchanged
  EXPECT_EQ(ReadFile(Path("save005.dat")), file3);
  EXPECT_EQ(ReadFile(Path("save007.dat")), cut);
  EXPECT_EQ(Call("move_file", {-1, 5}), 1);  // refused
  EXPECT_EQ(ReadFile(Path("save005.dat")), file3);
  EXPECT_EQ(Call("copy_file", {8, 5}), 1);
  EXPECT_EQ(ReadFile(Path("save008.dat")), file3);
  EXPECT_EQ(Call("delete_file", {8}), 1);
  EXPECT_FALSE(Exists("save008.dat"));

  // autosave_load: a damaged continue.dat stays on disk and changes
  // nothing; a good one loads and is then deleted.
  WriteFile(Path("continue.dat"), cut);
  Call("is_autosave", {});
  EXPECT_EQ(Result(), 1);
  EXPECT_EQ(Call("autosave_load", {}), 1);
  EXPECT_TRUE(Exists("continue.dat"));
  WriteFile(Path("continue.dat"), file3);
  EXPECT_EQ(Call("autosave_load", {}), 1);
  EXPECT_FALSE(Exists("continue.dat"));
  EXPECT_EQ(ctx->script.pc, resume);
}

// The save menu: a slot's thumbnail comes back as its pixels; sizes in the
// file that do not agree are refused; text sprites appear in their layers.
TEST_F(SaveCommandTest, SaveMenuSpritesShowTheSlotAndRefuseLyingSizes) {
  ASSERT_NO_FATAL_FAILURE(Play());
  for (uint32_t i = 0; i < ctx->save.thumbBytes / 4; ++i) ctx->save.thumbPixels[i] = 0xFF000000u | i;
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  for (uint32_t i = 0; i < ctx->save.thumbBytes / 4; ++i) ctx->save.thumbPixels[i] = 0xFF000000u | i;
  ASSERT_TRUE(save_file_write(ctx, Path("save010.dat").c_str()));

  EXPECT_EQ(Call("thumbnail_set", {20, 10, 5, 6}), 1);
  ASSERT_NE(Rec(20).sprite, nullptr);
  int w = 0, h = 0;
  const uint32_t* px = KivSpriteLock(Rec(20).sprite, &w, &h);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(w, 80);
  EXPECT_EQ(h, 60);
  EXPECT_EQ(px[0], 0xFF000000u);
  EXPECT_EQ(px[80 * 60 - 1], 0xFF000000u | (80 * 60 - 1));
  KivSpriteUnlock(Rec(20).sprite);

  std::vector<uint8_t> lie = ReadFile(Path("save010.dat"));
  PutU32(lie, 528, 0x40000000u);  // width x height x 4 overflows 32 bits
  PutU32(lie, 532, 0x40000000u);
  WriteFile(Path("save011.dat"), lie);
  EXPECT_EQ(Call("thumbnail_set", {21, 11, 0, 0}), 1);
  EXPECT_EQ(Rec(21).sprite, nullptr);
  EXPECT_TRUE(log.Has(kDebugWindowError, "ThumbnailSet error")) << log.All();

  EXPECT_EQ(Call("thumbnail_set", {22, 12, 0, 0}), 1);  // no such slot
  EXPECT_EQ(Rec(22).sprite, nullptr);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "No SaveData. Therefore disregards")) << log.All();

  EXPECT_EQ(Call("get_save_text", {23, 10, 0, 0}), 1);
  EXPECT_NE(Rec(23).sprite, nullptr);
  EXPECT_EQ(Call("SetSaveTime", {24, 10, 0, 0, 1}), 1);
  EXPECT_NE(Rec(24).sprite, nullptr);
  EXPECT_EQ(Call("SetSaveDay", {25, 10, 0, 0, 1}), 1);
  EXPECT_NE(Rec(25).sprite, nullptr);
  EXPECT_EQ(Call("save_get_title", {26, 10, 0, 0}), 1);
}

int PriorityOf(KivSprite* s) {
  KivSpriteInfo info{};
  KivSpriteGetInfo(s, &info);
  return info.priority;
}

// The save-menu texts are made in front of every layer, at the priority
// base + 4866 wherever set_priority has moved the base; a thumbnail stays a
// picture of its layer.
TEST_F(SaveCommandTest, SaveMenuTextsDrawInFrontOfEveryLayerAtTheMovedBase) {
  ASSERT_NO_FATAL_FAILURE(Play());
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  ASSERT_TRUE(save_file_write(ctx, Path("save010.dat").c_str()));
  for (int32_t base : {0, 134 * 3, -134 * 2}) {
    ctx->priorityBase = base;
    const struct {
      const char* command;
      std::initializer_list<int32_t> args;
      int layer;
    } kTexts[] = {{"get_save_text", {60, 10, 0, 0}, 60},
                  {"save_get_title", {61, 10, 0, 0}, 61},
                  {"SetSaveTime", {62, 10, 0, 0, 0}, 62},
                  {"SetSaveDay", {63, 10, 0, 0, 1}, 63}};
    for (const auto& t : kTexts) {
      layer_release(ctx, t.layer);
      EXPECT_EQ(Call(t.command, t.args), 1) << t.command;
      ASSERT_NE(Rec(t.layer).sprite, nullptr) << t.command;
      EXPECT_EQ(PriorityOf(Rec(t.layer).sprite), base + 4866) << t.command << " at base " << base;
    }
    layer_release(ctx, 64);
    EXPECT_EQ(Call("thumbnail_set", {64, 10, 0, 0}), 1);
    ASSERT_NE(Rec(64).sprite, nullptr);
    EXPECT_EQ(PriorityOf(Rec(64).sprite), layer_priority(ctx, 64, nullptr));
  }
}

// What the player sees after set_priority moved the base 37 steps back: a
// full-screen panel on layer 100 would then draw in front of a button at a
// fixed priority and of a save text at its own layer's priority; both are
// made at base + 4866 and stay in front of it.
TEST_F(SaveCommandTest, AButtonAndASaveTextStayInFrontOfAPanelAfterSetPriority) {
  WriteImage("PANEL.PGD", motiontest::Solid(1280, 720, 0xFF2040A0u));
  WriteImage("BTN.PGD", motiontest::Solid(100, 120, 0xFF30C040u));
  Start(R"(
.file "UNUSED"
    call set_priority -37
    call sp_set_ex file"PANEL", 100, 0, 0
    call btn_set 0, 0, file"BTN", 0, 0, 0, 0
    call get_save_text 20, 10, 600, 400
    call run 0, 0, 0
done:
    call wait_frame
    jmp @done
)");
  ASSERT_EQ(save_init(ctx), 1);
  std::strcpy(ctx->save.saveText, "SAVE TEXT");
  ctx->save.fontColor = 0xFFFFFF;
  ctx->save.textRectWidth = 400;
  ctx->save.textRectHeight = 100;
  ASSERT_TRUE(save_snapshot_build(ctx, ctx->script.pc));
  ASSERT_TRUE(save_file_write(ctx, Path("save010.dat").c_str()));
  Frame(0);
  Frame(16);
  ASSERT_EQ(ctx->priorityBase, -37 * 134);
  const uint32_t* px = g_kiv->soft->backBuffer;
  ASSERT_NE(px, nullptr);
  // Colours as the picture encoder and the screen keep them: within a few
  // steps of each channel.
  auto near = [](uint32_t a, uint32_t b) {
    for (int c = 0; c < 24; c += 8)
      if (std::abs(int((a >> c) & 0xFF) - int((b >> c) & 0xFF)) > 8) return false;
    return true;
  };
  const uint32_t panel = px[1280 * 300 + 300];
  EXPECT_TRUE(near(panel, 0x2040A0u)) << std::hex << panel << ": the panel fills the screen";
  EXPECT_TRUE(near(px[1280 * 20 + 50], 0x30C040u)) << std::hex << px[1280 * 20 + 50] << ": the button shows over the panel";
  int textPixels = 0;
  for (int y = 390; y < 450; ++y)
    for (int x = 600; x < 800; ++x) textPixels += near(px[1280 * y + x], 0xFFFFFFu);
  EXPECT_GT(textPixels, 100) << "the save text shows over the panel";
  expect_golden_frame("save_text_button_over_panel.png", px);
}

// SetSaveDay prints the year in full; format 1 adds the day of the week.
TEST(SaveDayText, YearMonthDayAndTheDayOfTheWeek) {
  const struct {
    int year, month, day, wday, format;
    const char* want;
  } kCases[] = {
      {2026, 12, 11, 5, 0, "2026/12/11"},     {2026, 12, 11, 5, 1, "2026/12/11 (金)"},
      {2001, 1, 2, 2, 1, "2001/01/02 (火)"},  {1999, 7, 4, 0, 1, "1999/07/04 (日)"},
      {2030, 3, 9, 6, 7, "2030/03/09"},
  };
  for (const auto& c : kCases) {
    std::tm t{};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_wday = c.wday;
    char out[64];
    save_day_text(t, c.format, out, sizeof out);
    EXPECT_EQ(std::string(out), plat::Sjis(c.want)) << c.want;
  }
}

// move_file exchanges two slots whole, in one step or, where the file
// system cannot, through save_tmp.dat, which it leaves behind in neither
// case; the newest-slot mark follows its file.
TEST_F(SaveCommandTest, MoveFileExchangesWithAndWithoutTheAtomicExchange) {
  ASSERT_NO_FATAL_FAILURE(Play());
  const std::vector<uint8_t> one(300, 0x11), two(500, 0x22);
  for (bool atomic : {true, false}) {
    save_set_atomic_exchange(atomic);
    WriteFile(Path("save040.dat"), one);
    WriteFile(Path("save041.dat"), two);
    EXPECT_EQ(Call("move_file", {40, 41}), 1);
    EXPECT_EQ(ReadFile(Path("save040.dat")), two) << "atomic " << atomic;
    EXPECT_EQ(ReadFile(Path("save041.dat")), one) << "atomic " << atomic;
    EXPECT_FALSE(Exists("save_tmp.dat")) << "atomic " << atomic;
    // A slot and an empty one: the file moves.
    EXPECT_EQ(Call("move_file", {42, 40}), 1);
    EXPECT_FALSE(Exists("save040.dat"));
    EXPECT_EQ(ReadFile(Path("save042.dat")), two) << "atomic " << atomic;
    ASSERT_EQ(::unlink(Path("save042.dat").c_str()), 0);
  }
  save_set_atomic_exchange(true);
}

// load_thumbnail makes a mosaic when either the menu's mosaic flag or the
// system data's "every thumbnail a mosaic" word is on, else a plain one.
TEST_F(SaveCommandTest, LoadThumbnailFollowsBothMosaicSwitches) {
  kivtools::Image grad{320, 180, std::vector<uint32_t>(320 * 180)};
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 320; ++x) grad.pixels[y * 320 + x] = 0xFF000000u | uint32_t(x * 255 / 319) << 16 | uint32_t(y);
  WriteImage("GRAD.PGD", grad);
  const struct {
    int flag, allWord;
    bool mosaic;
  } kCases[] = {{0, 0, false}, {1, 0, true}, {0, 1, true}, {1, 1, true}};
  for (const auto& c : kCases) {
    if (ctx) save_buffers_free(ctx);
    Start(R"(
.file "UNUSED"
    call load_thumbnail file"GRAD"
done:
    call wait_frame
    jmp @done
)");
    ASSERT_EQ(save_init(ctx), 1);
    ctx->save.mosaic = c.flag;
    system_words(ctx)[kSysAllMosaicThumbnails] = c.allWord;
    Frame(0);
    const SaveState& st = ctx->save;
    ASSERT_EQ(st.thumbWidth, 80);
    ASSERT_EQ(st.thumbHeight, 60);
    // What the engine makes of the picture as the game loads it.
    KivSprite* picture = KivSpriteLoad(list, "GRAD.PGD", 0);
    ASSERT_NE(picture, nullptr);
    int w = 0, h = 0;
    const uint32_t* px = KivSpriteLock(picture, &w, &h);
    ASSERT_NE(px, nullptr);
    std::vector<uint32_t> work(px, px + size_t(w) * h), plain(80 * 60), mosaic(80 * 60);
    KivSpriteUnlock(picture);
    KivSpriteRelease(list, picture);
    ASSERT_NE(KivThumbnailCreateEx(plain.data(), 80, 60, work.data(), w, h), 0);
    ASSERT_NE(KivThumbnailCreateMosaicEx(mosaic.data(), 80, 60, work.data(), w, h, 6), 0);
    ASSERT_NE(plain, mosaic);
    const std::vector<uint32_t> got(st.thumbPixels, st.thumbPixels + 80 * 60);
    EXPECT_EQ(got, c.mosaic ? mosaic : plain) << "flag " << c.flag << ", word " << c.allWord;
  }
}

// The script itself: a save point, a save, the game changes, a load; the
// script resumes after the save point with the saved pictures and memory.
TEST_F(SaveCommandTest, AScriptSavesChangesLoadsAndResumesAtTheSavedLine) {
  Start(R"(
.file "UNUSED"
    call sp_set_ex file"RED", 3, 100, 200
    call run 0, 0, 0
    mov r4, 10
    mov u[r4], 5
    call save_point
line:
    mov r6, 0
    mov r5, t[r6 + 0]
    jz @first, r5
    mov r4, 11
    mov u[r4], 77
    jmp @done
first:
    mov t[r6 + 0], 1
    call save 1, 1
    mov r4, 10
    mov u[r4], 6
    call sp_set_ex file"BLUE", 3, 0, 0
    call run 0, 0, 0
    call load 1
done:
    call wait_frame
    jmp @done
)");
  ASSERT_EQ(save_init(ctx), 1);
  Frame(0);
  const uint32_t red = Rec(3).imageOperand;
  for (int i = 0; i < 6; ++i) Frame(20);
  ASSERT_TRUE(Exists("save001.dat"));
  EXPECT_EQ(ctx->userMemory[11], 77) << log.All();
  EXPECT_EQ(ctx->userMemory[10], 5);
  EXPECT_EQ(Rec(3).imageOperand, red);
  EXPECT_EQ(Rec(3).t.aX, 100);
}

}  // namespace

namespace {

// The game of SaveTest, then an idle loop and a routine that moves it on.
const std::string kFullScript = std::string(kScript) + R"(
idle:
    call wait_frame
    jmp @idle
more:
    call bgm_play 0, file"MUSIC", 1, 0, 0, 0, 0
    call btn_init 5, 0x0FFFFFFF, 0x0FFFFFFF
    call btn_set 5, 2, file"BLUE", 0, 0, 0, 0
    call run 0, 0, 0
    call sp_set_ex file"BLUE", 9, 10, 20
    jmp @idle
)";

// A running game holding, beside what a save keeps, everything a save does
// not: registers, skip and auto mode, a button group past 3 with its lock
// and hover words, a queued display change, a script-thread return point,
// return-point kinds, and music that has played for a while.
class RefusedLoadTest : public SaveCommandTest {
 protected:
  void PlayFull() {
    ASSERT_TRUE(fixture::WriteFile(dir + "/MUSIC.OGG",
                                   fixture::Ogg(fixture::Sine(440, 3.0, 44100, 2, 0.4), 2, 44100, 0.4f)));
    ASSERT_NO_FATAL_FAILURE(Play(kFullScript));
    ctx->script.pc = m->Pc("here");
    ASSERT_EQ(Call("save_point", {}), 1);
    ASSERT_EQ(Call("save", {3, 1}), 1);
    good = ReadFile(Path("save003.dat"));
    ASSERT_FALSE(good.empty());
    // The game moves on past the save.
    ctx->script.pc = m->Pc("more");
    ctx->script.yield = 0;
    for (int i = 0; i < 5; ++i) Frame(100);
    ASSERT_NE(ctx->sound.bgm[0].sound, 0) << log.All();
    ASSERT_TRUE(ctx->buttons.groups[5].initialised) << log.All();
    ASSERT_GT(KivListGetDataCount(ctx->gameList, kGameListDisplayOps), 0);
    ctx->registers[7] = 1234;
    ctx->skipMode = 1;
    ctx->autoMode = 1;
    ctx->buttons.groups[5].locked = 1;
    ctx->buttons.groups[5].lastOn = 2;
    ASSERT_TRUE(return_point_push(ctx, kGameListThreadReturns, m->Pc("back"), kReturnKindGosub));
    ASSERT_TRUE(return_point_push(ctx, kGameListReturnPoints, m->Pc("back"), kReturnKindButton));
    ctx->script.pc = m->Pc("back");
    ctx->script.yield = 0;
    // What every Call leaves behind, so that the dumps compare the load alone.
    ctx->resultIndex = 200;
    ctx->registers[200] = -77;
  }
  std::vector<uint8_t> good;
};

// Damaged slots loaded over the running game, as a player picks them: each
// is refused with one box in the system's own words, the game (state,
// screen, music) is exactly as it was, the slot file is untouched; the good
// slot still loads.
TEST_F(RefusedLoadTest, ADamagedSlotChangesNothingAndTellsThePlayerOnce) {
  ASSERT_NO_FATAL_FAILURE(PlayFull());
  // Block boundaries of the good file, found by the writers themselves.
  std::vector<std::pair<std::string, uint32_t>> starts;
  {
    uint32_t at = kSaveHeaderBytes + U32At(good, kSaveOffThumbSize);
    for (const SaveBlock& blk : save_blocks()) {
      starts.emplace_back(blk.name, at);
      ASSERT_TRUE(blk.check(ctx, good, &at)) << blk.name;
    }
    ASSERT_EQ(at + 3, good.size());
  }
  auto start = [&](const std::string& name) {
    for (auto& [n, at] : starts)
      if (n == name) return at;
    ADD_FAILURE() << name;
    return 0u;
  };
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty file", {}});
  for (const char* block : {"return points", "layers", "bgm", "buttons", "backlog", "actions"})
    cases.push_back({std::string("cut where the ") + block + " block starts",
                     {good.begin(), good.begin() + start(block)}});
  cases.push_back({"cut before \"end\"", {good.begin(), good.end() - 3}});
  {
    std::vector<uint8_t> noise(good.size());
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    cases.push_back({"random bytes", noise});
    std::vector<uint8_t> tail = good;
    for (size_t i = kSaveHeaderBytes + U32At(good, kSaveOffThumbSize); i < tail.size(); ++i)
      tail[i] = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    cases.push_back({"a good header over random blocks", tail});
  }
  auto patched = [&](const std::string& name, size_t at, uint32_t v) {
    std::vector<uint8_t> b = good;
    PutU32(b, at, v);
    cases.push_back({name, b});
  };
  patched("huge thumbnail size", kSaveOffThumbSize, 0xFFFFFFF0u);
  patched("huge return-point count", start("return points"), 0xFFFFFFFFu);
  patched("huge backlog count", start("backlog"), 0xFFFFFFFFu);
  auto flipped = [&](const std::string& name, size_t at) {
    std::vector<uint8_t> b = good;
    b[at] ^= 0xFF;
    cases.push_back({name, b});
  };
  flipped("a flipped byte in the choice style", start("choice style") + 3);
  flipped("a flipped byte in the face table", start("layers") + 3);
  flipped("a flipped byte in the fx block", start("fx"));
  flipped("a flipped byte in the last block", start("actions"));

  const std::string path = Path("save005.dat");
  const std::string before = game_state_dump(ctx);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.bytes);
    plat::HeadlessBoxReset();
    EXPECT_EQ(Call("load", {5}), 1);
    const std::string after = game_state_dump(ctx);
    EXPECT_TRUE(after == before) << FirstDifference(std::vector<uint8_t>(after.begin(), after.end()),
                                                    std::vector<uint8_t>(before.begin(), before.end()));
    EXPECT_EQ(ReadFile(path), c.bytes) << "the slot file is left as it was";
    const std::vector<plat::LoggedBox> boxes = plat::HeadlessBoxLog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, plat::Sjis("セーブデータが壊れているため、ロードできませんでした。"));
    EXPECT_EQ(boxes[0].caption, program_identity().productName);
  }
  // The music played on through all of that, and the game runs on.
  Frame(100);
  EXPECT_NE(ctx->sound.bgm[0].sound, 0);

  // A missing slot only logs; the good one loads without a box.
  plat::HeadlessBoxReset();
  ctx->resultIndex = 200;
  ctx->registers[200] = -77;
  const std::string running = game_state_dump(ctx);
  EXPECT_EQ(Call("load", {6}), 1);
  EXPECT_EQ(game_state_dump(ctx), running);
  EXPECT_TRUE(plat::HeadlessBoxLog().empty());
  EXPECT_TRUE(log.HasAny("save006.dat")) << log.All();
  EXPECT_EQ(Call("load", {3}), 1);
  EXPECT_TRUE(plat::HeadlessBoxLog().empty());
  EXPECT_EQ(ctx->script.pc, m->Pc("here"));
  EXPECT_EQ(ctx->registers[7], 0) << "a load starts from the reset game";
  EXPECT_FALSE(ctx->buttons.groups[5].initialised);
  EXPECT_EQ(ReadFile(Path("save003.dat")), good);
}

// The dump sees each thing a save does not hold, so the test above could
// not pass on a dump blind to it.
TEST_F(RefusedLoadTest, TheStateDumpShowsWhatASaveDoesNotHold) {
  ASSERT_NO_FATAL_FAILURE(PlayFull());
  const std::string before = game_state_dump(ctx);
  EXPECT_EQ(game_state_dump(ctx), before) << "a dump changes nothing";
  struct Change {
    const char* name;
    std::function<void()> change, undo;
  };
  ButtonGroup& g5 = ctx->buttons.groups[5];
  int32_t r = 0;
  const Change changes[] = {
      {"register", [&] { r = ctx->registers[7]; ctx->registers[7] = 5; }, [&] { ctx->registers[7] = r; }},
      {"skip mode", [&] { ctx->skipMode = 0; }, [&] { ctx->skipMode = 1; }},
      {"auto mode", [&] { ctx->autoMode = 0; }, [&] { ctx->autoMode = 1; }},
      {"group 5 lock", [&] { g5.locked = 0; }, [&] { g5.locked = 1; }},
      {"group 5 hover", [&] { g5.hovered = &g5.entries[2]; }, [&] { g5.hovered = nullptr; }},
      {"a button sprite", [&] { KivSpriteViewCtrl(g5.entries[2].record->sprite, 0); },
       [&] { KivSpriteViewCtrl(g5.entries[2].record->sprite, 1); }},
      {"the display queue", [&] { display_queue_apply(ctx); }, [] {}},
      {"the music", [&] { sound_calls().stopFade(ctx->sound.bgm[0].sound, 500); }, [] {}},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    const std::string was = game_state_dump(ctx);
    c.change();
    EXPECT_NE(game_state_dump(ctx), was);
    c.undo();
  }
  // Written to a file, the same text.
  const std::string file = Path("state.txt");
  ASSERT_TRUE(game_state_dump_write(ctx, file));
  const std::vector<uint8_t> bytes = ReadFile(file);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), game_state_dump(ctx));
}

}  // namespace
