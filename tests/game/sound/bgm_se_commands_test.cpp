// The bgm and se commands against a recording stand-in for the engine's
// sound exports: every call the game makes is kept, the files that "exist"
// load, the clock is the test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "component_entries.h"
#include "sound/bgm.h"
#include "sound/se.h"
#include "sound/sound_save.h"
#include "sound/sound_shared.h"
#include "support/vm_harness.h"

namespace {

struct Call {
  std::string what;
  int a = 0, b = 0, c = 0;
  std::string file;
};

// The recording engine.
struct FakeEngine {
  std::vector<Call> calls;
  std::set<std::string> files;        // names with extension that load
  std::map<int, bool> playing;        // live ids
  std::map<int, int> fadeState;       // id -> 0/1/2
  int nextSlot = 1;
  int freeStreams = 2;
  uint32_t now = 100000;
  std::map<unsigned, int> groupVolume;

  int Count(const std::string& what) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.what == what; }));
  }
  const Call* Last(const std::string& what) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
      if (it->what == what) return &*it;
    return nullptr;
  }
  bool Released(int id) const {
    return std::any_of(calls.begin(), calls.end(), [&](const Call& c) { return c.what == "release" && c.a == id; });
  }
};

FakeEngine* g_fake = nullptr;

KivSoundId FLoad(const char* file, int type, const int range[4]) {
  Call c{"load", type, range ? range[0] : -1, range ? range[1] : -1, file};
  g_fake->calls.push_back(c);
  if (!g_fake->files.count(file)) return 0;
  const int id = (type << 28) | g_fake->nextSlot++;
  g_fake->playing[id] = false;
  if (type == 2) --g_fake->freeStreams;
  return id;
}
int Rec(const char* what, int a, int b = 0, int c = 0) {
  g_fake->calls.push_back(Call{what, a, b, c, {}});
  return 1;
}
int FPlay(KivSoundId id, int loop) {
  Rec("play", id, loop);
  g_fake->playing[id] = true;
  return 1;
}
int FPlayFade(KivSoundId id, int loop, int ms) {
  Rec("playFade", id, loop, ms);
  g_fake->playing[id] = true;
  g_fake->fadeState[id] = ms ? 1 : 0;
  return 1;
}
int FStop(KivSoundId id) {
  g_fake->playing[id] = false;
  return Rec("stop", id);
}
int FStopFade(KivSoundId id, int ms) {
  g_fake->fadeState[id] = 2;
  return Rec("stopFade", id, ms);
}
int FPause(KivSoundId id) { return Rec("pause", id); }
int FRelease(KivSoundId id) {
  if (g_fake->playing.erase(id) && (static_cast<uint32_t>(id) >> 28) == 2) ++g_fake->freeStreams;
  return Rec("release", id);
}
int FReleaseEx(int type) { return Rec("releaseEx", type); }
int FPlayIs(KivSoundId id) {
  auto it = g_fake->playing.find(id);
  return it != g_fake->playing.end() && it->second;
}
int FGetState(KivSoundId id) { return g_fake->fadeState.count(id) ? g_fake->fadeState[id] : 0; }
int FSetVolume(int v, unsigned group) {
  g_fake->groupVolume[group] = v;
  return Rec("setVolume", v, static_cast<int>(group));
}
int FGetVolume(int* out, unsigned group) {
  *out = g_fake->groupVolume[group];
  return 1;
}
int FSetVolumeChannel(KivSoundId id, int v) { return Rec("setVolumeChannel", id, v); }
int FSetPanChannel(KivSoundId id, int pan) { return Rec("setPanChannel", id, pan); }
int FChannelCount(int type) { return type == 2 ? g_fake->freeStreams : 16; }
uint32_t FNow() { return g_fake->now; }

const SoundCalls kFakeCalls = {FLoad,        FPlay,      FPlayFade,  FStop,          FStopFade,
                               FPause,       FRelease,   FReleaseEx, FPlayIs,        FGetState,
                               FSetVolume,   FGetVolume, FSetVolumeChannel, FSetPanChannel, FChannelCount, FNow};

class SoundCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake;
    sound_calls_set(&kFakeCalls);
    fake.files = {"BGM_A.ogg", "BGM_B.wav", "SE_LOOP.ogg", "SE_SHOT.wav", "SE_KEPT.ogg"};
  }
  void TearDown() override {
    sound_calls_set(nullptr);
    g_fake = nullptr;
  }
  // Runs a script snippet to its end on a fresh machine kept in m.
  void Run(const std::string& body) {
    m = std::make_unique<vmtest::Machine>(
        ".stamp 1\n.file \"UNUSED\", \"BGM_A\", \"BGM_B\", \"SE_LOOP\", \"SE_SHOT\", \"SE_KEPT\", \"LONG\"\n"
        "start:\n" +
        body + "\n    nop\n");
    ASSERT_TRUE(m->ok);
    m->RunToEnd();
  }
  // Runs more code on the same machine (a second script image would reset it;
  // the commands are called directly through their handlers instead).
  int Command(const char* name, std::initializer_list<int32_t> args) {
    const CommandInfo* info = command_find(name);
    EXPECT_NE(info, nullptr) << name;
    CommandHandler h = command_handler(command_word(info->group, info->index));
    EXPECT_NE(h, nullptr) << name;
    // Arguments are pushed last to first, as the script does.
    std::vector<int32_t> v(args);
    for (auto it = v.rbegin(); it != v.rend(); ++it) value_stack_push(m->ctx, *it);
    m->ctx->resultIndex = 200;
    return h(m->ctx);
  }
  uint32_t File(const char* name) {
    // File.dat record of an existing name.
    for (uint32_t i = 0; i < file_record_count(m->ctx); ++i)
      if (std::strncmp(reinterpret_cast<const char*>(m->ctx->data.file + kTableHeaderBytes + i * kFileRecordBytes), name, 32) == 0) return i;
    ADD_FAILURE() << name;
    return 0;
  }
  SystemData& Sys() { return m->record().system; }
  SoundState& S() { return m->ctx->sound; }

  FakeEngine fake;
  std::unique_ptr<vmtest::Machine> m;
};

TEST_F(SoundCommands, BgmPlayFadeIsFourTimesTheArgumentAndASixteenthWhileSkipping) {
  struct Case {
    int flags, fade;
    bool skipping;
    int loop, expectFade;
  } cases[] = {{5, 250, false, 1, 1000}, {5, 250, true, 1, 60}, {1, 250, false, 1, 0}, {4, 250, false, 0, 1000},
               {4, 7, true, 0, 0}};
  for (const Case& c : cases) {
    fake.calls.clear();
    Run("    call bgm_play 0, file\"BGM_A\", " + std::to_string(c.flags) + ", " + std::to_string(c.fade) +
        ", 0, 0, 0");
    m->ctx->skipMode = c.skipping;
    // Runs again with the skip state of the case.
    ASSERT_EQ(Command("bgm_play", {0, static_cast<int32_t>(File("BGM_A")), c.flags, c.fade, 0, 0, 0}), 1);
    const Call* p = fake.Last("playFade");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->a, S().bgm[0].sound);
    EXPECT_EQ(p->b, c.loop) << c.flags;
    EXPECT_EQ(p->c, c.expectFade) << c.flags << " " << c.fade << " " << c.skipping;
    EXPECT_EQ(fake.Last("load")->file, "BGM_A.ogg");
    EXPECT_EQ(fake.Last("load")->a, 2);
    EXPECT_EQ(S().bgm[0].level, 100);
  }
}

TEST_F(SoundCommands, LoadTriesOggThenWav) {
  Run("    call bgm_play 1, file\"BGM_B\", 1, 0, 0, 0, 0\n    call bgm_play 0, file\"NOPE\", 1, 0, 0, 0, 0");
  std::vector<std::string> loads;
  for (const Call& c : fake.calls)
    if (c.what == "load") loads.push_back(c.file);
  EXPECT_EQ(loads, (std::vector<std::string>{"BGM_B.ogg", "BGM_B.wav", "NOPE.ogg", "NOPE.wav"}));
  EXPECT_NE(S().bgm[1].sound, 0);
  EXPECT_EQ(S().bgm[0].sound, 0);
}

TEST_F(SoundCommands, VolumesAsTheProgramComputesThem) {
  Run("    call bgm_set_volume 50\n    call bgm_get_volume -> r1\n    call se_set_volume 50, 0\n"
      "    call se_get_volume 0 -> r2\n    call se_set_volume 30, 2");
  EXPECT_EQ(Sys().word[kSysBgmVolume], 4999);
  EXPECT_EQ(fake.groupVolume[2], 4999);
  EXPECT_EQ(m->Reg(1), 49);
  EXPECT_EQ(Sys().word[kSysSe0Volume], 5000);
  EXPECT_EQ(fake.groupVolume[4], 5000);
  EXPECT_EQ(m->Reg(2), 50);
  EXPECT_EQ(Sys().word[kSysSe2Volume], 3000);
  EXPECT_EQ(fake.groupVolume[5], 3000);
}

TEST_F(SoundCommands, PanFromStep) {
  Run("");
  Sys().word[kSysPanWidth] = 5000;
  const int cases[][2] = {{10, 0}, {0, -5000}, {21, 5000}, {-1, -5000}, {20, 5000}, {5, -2500}};
  for (const auto& c : cases) EXPECT_EQ(sound_pan_from_step(m->ctx, c[0]), c[1]) << c[0];
  Sys().word[kSysPanWidth] = 0;
  EXPECT_EQ(sound_pan_from_step(m->ctx, 0), 0);  // no width yet: every pan is 0
  // The pending pan goes to the next play with bit 5, then is gone.
  Sys().word[kSysPanWidth] = 5000;
  ASSERT_EQ(Command("se_set_pan", {0}), 1);
  EXPECT_EQ(S().pendingPan, -5000);
  ASSERT_EQ(Command("se_play_ex", {4, static_cast<int32_t>(File("SE_SHOT")), 0x20, 0, 1}), 1);
  const Call* pan = fake.Last("setPanChannel");
  ASSERT_NE(pan, nullptr);
  EXPECT_EQ(pan->a, S().se[4].sound);
  EXPECT_EQ(pan->b, -5000);
  EXPECT_EQ(S().se[4].pan, -5000);
  EXPECT_EQ(S().pendingPan, 0);
  EXPECT_EQ(fake.Last("load")->a, 3);  // kind 1: type 3
}

TEST_F(SoundCommands, OneShotWhileSkippingIsDropped) {
  Run("");
  m->ctx->skipMode = 1;
  struct Case {
    int flags;
    bool plays;
  } cases[] = {{0, false}, {8, true}, {1, true}};
  for (const Case& c : cases) {
    fake.calls.clear();
    EXPECT_EQ(Command("se_play_ex", {-1, static_cast<int32_t>(File("SE_SHOT")), c.flags, 0, 0}), 1);
    EXPECT_EQ(fake.Count("play"), c.plays ? 1 : 0) << c.flags;
    EXPECT_EQ(fake.Count("load") > 0, c.plays) << c.flags;
  }
  // se_play of a loaded one-shot: dropped too.
  ASSERT_EQ(Command("se_load", {static_cast<int32_t>(File("SE_KEPT")), 9, 0}), 1);
  fake.calls.clear();
  EXPECT_EQ(Command("se_play", {9, 0, 0}), 1);
  EXPECT_EQ(fake.Count("play"), 0);
}

TEST_F(SoundCommands, ChannelMinusOneMovesTheMusicToChannelOne) {
  Run("    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0\n    call bgm_stop 0, 500\n"
      "    call bgm_play -1, file\"BGM_B\", 1, 0, 0, 0, 0\n    call get_bgm_filename 1 -> r3");
  ASSERT_EQ(fake.freeStreams, 0);
  EXPECT_NE(S().bgm[1].sound, 0);
  EXPECT_NE(S().bgm[0].sound, 0);
  EXPECT_NE(S().bgm[0].sound, S().bgm[1].sound);
  EXPECT_FALSE(fake.Released(S().bgm[1].sound));  // the old music goes on fading on channel 1
  EXPECT_EQ(fake.Last("stopFade")->a, S().bgm[1].sound);
  EXPECT_EQ(fake.Last("stopFade")->b, 500);
  EXPECT_EQ(fake.Count("releaseEx"), 0);
  EXPECT_EQ(S().bgmFile[0], std::string("BGM_B"));
  EXPECT_EQ(m->Reg(3), 0);  // bgm_stop cleared the old channel's name
  // Once it has faded out the frame update releases it.
  const int moved = S().bgm[1].sound;
  fake.playing[moved] = false;
  bgm_frame(m->ctx);
  EXPECT_TRUE(fake.Released(moved));
  EXPECT_EQ(S().bgm[1].sound, 0);
  EXPECT_NE(S().bgm[0].sound, 0);
  // With no free stream both are released.
  fake.freeStreams = 0;
  ASSERT_EQ(Command("bgm_play", {-1, static_cast<int32_t>(File("BGM_A")), 1, 0, 0, 0, 0}), 1);
  EXPECT_EQ(fake.Count("releaseEx"), 1);
}

TEST_F(SoundCommands, FadeStep) {
  Run("");
  struct Case {
    uint32_t length, elapsed;
    int volume, level;
    bool running;
  } cases[] = {{1000, 0, 10000, 100, true},  {1000, 500, 5000, 100, true}, {1000, 1000, 0, 0, false},
               {1000, 5000, 0, 0, false},    {0, 0, 0, 0, false},          {1000, 250, 7500, 100, true}};
  for (const Case& c : cases) {
    BgmChannel ch{};
    ch.sound = 0x20000005;
    ch.flags = kBgmFading;
    ch.level = 100;
    ch.fadeDelta = -100;
    ch.fadeLength = c.length;
    ch.fadeStart = fake.now - c.elapsed;
    bgm_fade_step(&ch);
    const Call* v = fake.Last("setVolumeChannel");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->b, c.volume) << c.length << " " << c.elapsed;
    EXPECT_EQ(ch.level, c.level) << c.length << " " << c.elapsed;
    EXPECT_EQ((ch.flags & kBgmFading) != 0, c.running) << c.length << " " << c.elapsed;
  }
}

TEST_F(SoundCommands, VolumeFadeRunsEachFrameAndFoldsARunningFade) {
  Run("    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0\n    call bgm_set_volume_users 0, 0, 1000");
  BgmChannel& ch = S().bgm[0];
  EXPECT_EQ(fake.Last("setVolumeChannel")->b, 10000);  // one step at once
  fake.now += 500;
  bgm_frame(m->ctx);
  EXPECT_EQ(fake.Last("setVolumeChannel")->b, 5000);
  // A new target half way: the level is folded to 50 first.
  ASSERT_EQ(Command("bgm_set_volume_users", {0, 100, 1000}), 1);
  EXPECT_EQ(ch.level, 50);
  EXPECT_EQ(ch.fadeDelta, 50);
  fake.now += 1000;
  bgm_frame(m->ctx);
  EXPECT_EQ(fake.Last("setVolumeChannel")->b, 10000);
  EXPECT_EQ(ch.flags & kBgmFading, 0u);
  // While skipping the fade is immediate.
  m->ctx->skipMode = 1;
  ASSERT_EQ(Command("bgm_set_volume_users", {0, 20, 1000}), 1);
  EXPECT_EQ(fake.Last("setVolumeChannel")->b, 2000);
}

TEST_F(SoundCommands, ChannelNumbersAreChecked) {
  Run("");
  EXPECT_EQ(Command("bgm_play", {2, static_cast<int32_t>(File("UNUSED")), 1, 0, 0, 0, 0}), 0);
  EXPECT_EQ(Command("bgm_load", {-1, 0, 0, 0, 0}), 0);
  EXPECT_EQ(Command("se_play", {16, 0, 0}), 0);
  EXPECT_EQ(Command("se_load", {0, -1, 0}), 0);
  EXPECT_EQ(Command("se_load", {0, 0, 3}), 0);
  EXPECT_EQ(Command("set_se_info", {4, 0, 0, 0}), 0);
  EXPECT_EQ(fake.Count("load"), 0);
  // An undefined info entry: logged, result untouched, command goes on.
  m->Reg(200) = 77;
  vmtest::LogCapture log;
  EXPECT_EQ(Command("get_se_ex_volume", {2}), 1);
  EXPECT_EQ(m->Reg(200), 77);
  EXPECT_TRUE(log.Has(0, "initialize error : _se_enable [2]"));
}

// ---- Faults mended ----

TEST_F(SoundCommands, SeInfoNameIsBoundedToItsField) {
  Run("");
  int32_t* entries = &Sys().word[kSysSeInfo];
  for (int i = 0; i < kSeInfoWords; ++i) entries[kSeInfoWords + i] = 0x11111111;  // entry 1
  std::strcpy(m->ctx->stringVariables[2], "a_very_long_sound_name_x");
  ASSERT_EQ(Command("set_se_info", {0, 0x10000002, 4000, 1}), 1);
  EXPECT_EQ(entries[0], 1);
  EXPECT_EQ(entries[1], 1);
  EXPECT_EQ(entries[2], 4000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries + 3), 16), "A_VERY_LONG_SOUN");
  for (int i = 0; i < kSeInfoWords; ++i) EXPECT_EQ(entries[kSeInfoWords + i], 0x11111111) << i;
  // A named file gets its entry's volume when it loads.
  ASSERT_EQ(Command("set_se_info", {3, static_cast<int32_t>(File("SE_SHOT")), 2500, 0}), 1);
  ASSERT_EQ(Command("se_play_ex", {1, static_cast<int32_t>(File("SE_SHOT")), 0, 0, 0}), 1);
  EXPECT_EQ(fake.Last("setVolumeChannel")->a, S().se[1].sound);
  EXPECT_EQ(fake.Last("setVolumeChannel")->b, 2500);
  ASSERT_EQ(Command("get_se_ex_volume", {3}), 1);
  EXPECT_EQ(m->Reg(200), 2500);
}

TEST_F(SoundCommands, SePlayExOverALoadedChannelReleasesIt) {
  Run("    call se_load file\"SE_KEPT\", 3, 0\n    call se_play_ex 3, file\"SE_SHOT\", 0, 0, 0");
  const Call* load = fake.calls.data();
  ASSERT_EQ(load->what, "load");
  const int kept = (4 << 28) | 1;
  EXPECT_TRUE(fake.Released(kept));
  EXPECT_NE(S().se[3].sound, kept);
  EXPECT_EQ(S().se[3].flags & kSeLoaded, 0u);
}

TEST_F(SoundCommands, FullLengthFileNameIsTerminated) {
  Run("");
  // A record that fills all 32 bytes, as a File.dat may hold.
  std::memcpy(m->ctx->data.file + kTableHeaderBytes + File("LONG") * kFileRecordBytes,
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 32);
  fake.files.insert("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.wav");
  ASSERT_EQ(Command("se_play_ex", {0, 6, 0, 0, 0}), 1);
  ASSERT_NE(fake.Last("load"), nullptr);
  EXPECT_EQ(fake.Last("load")->file, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.wav");
  // A name operand past File.dat loads nothing.
  fake.calls.clear();
  EXPECT_EQ(Command("se_play_ex", {0, 999, 0, 0, 0}), 0);
  EXPECT_EQ(fake.Count("load"), 0);
}

TEST_F(SoundCommands, SeWaitBlocksUntilTheEffectEnds) {
  Run("");
  ASSERT_EQ(Command("se_play_ex", {2, static_cast<int32_t>(File("SE_SHOT")), 2, 0, 0}), 1);
  EXPECT_EQ(S().seWait, 3);
  EXPECT_EQ(m->ctx->pauseTimer.duration, 0xFFFFFFFFu);
  const int32_t depth = m->ctx->valueStackDepth;
  ASSERT_EQ(Command("se_play_ex", {}), 1);  // runs again: still waiting, pops nothing
  EXPECT_EQ(S().seWait, 3);
  EXPECT_EQ(m->ctx->valueStackDepth, depth);
  fake.playing[S().se[2].sound] = false;
  const int id = S().se[2].sound;
  ASSERT_EQ(Command("se_play_ex", {}), 1);
  EXPECT_EQ(S().seWait, 0);
  EXPECT_EQ(m->ctx->pauseTimer.duration, 0u);
  EXPECT_TRUE(fake.Released(id));
}

// ---- Save blocks ----

class SoundSaveBlocks : public SoundCommands {
 protected:
  std::vector<uint8_t> Save() {
    std::vector<uint8_t> buffer(4096);
    uint32_t used = 0;
    EXPECT_TRUE(bgm_save(m->ctx, buffer, &used));
    bgmBytes = used;
    EXPECT_TRUE(se_save(m->ctx, buffer, &used));
    buffer.resize(used);
    return buffer;
  }
  // A restart: the engine forgets its sounds, the machine its channels.
  void Restart() {
    game_reset(m->ctx);
    fake.playing.clear();
    fake.fadeState.clear();
    fake.freeStreams = 2;
    fake.calls.clear();
  }
  bool Restore(const std::vector<uint8_t>& block, uint32_t* cursor) {
    const bool a = bgm_restore(m->ctx, block, cursor);
    const bool b = se_restore(m->ctx, block, cursor);
    return a && b;
  }
  uint32_t bgmBytes = 0;
};

TEST_F(SoundSaveBlocks, LoopingEffectsFadeBackOneShotsDoNotLoadedStayLoaded) {
  Run("    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0\n"
      "    call se_play_ex 0, file\"SE_LOOP\", 1, 0, 2\n"
      "    call se_play_ex 1, file\"SE_SHOT\", 0, 0, 0\n"
      "    call se_load file\"SE_KEPT\", 5, 1\n"
      "    call se_set_pan 21");
  Sys().word[kSysPanWidth] = 5000;
  ASSERT_EQ(Command("se_set_pan", {21}), 1);
  std::vector<uint8_t> block = Save();
  EXPECT_EQ(block.size(), 120u + 4 + 16 * 32);
  Restart();
  uint32_t cursor = 0;
  ASSERT_TRUE(Restore(block, &cursor));
  EXPECT_EQ(cursor, block.size());
  std::vector<std::string> loads;
  for (const Call& c : fake.calls)
    if (c.what == "load") loads.push_back(c.file + "/" + std::to_string(c.a));
  EXPECT_EQ(loads, (std::vector<std::string>{"BGM_A.ogg/2", "SE_LOOP.ogg/5", "SE_KEPT.ogg/3"}));
  // Music and the looping effect fade in over 2000 ms; the loaded one waits.
  std::vector<std::pair<int, int>> fades;
  for (const Call& c : fake.calls)
    if (c.what == "playFade") fades.emplace_back(c.a, c.c);
  EXPECT_EQ(fades, (std::vector<std::pair<int, int>>{{S().bgm[0].sound, 2000}, {S().se[0].sound, 2000}}));
  EXPECT_EQ(S().se[1].sound, 0);
  EXPECT_EQ(S().se[1].name, 0u);
  EXPECT_NE(S().se[5].sound, 0);
  EXPECT_EQ(S().se[5].flags, kSeLoaded);
  EXPECT_EQ(fake.Count("play"), 0);
  EXPECT_EQ(S().pendingPan, 5000);
  EXPECT_EQ(S().bgm[0].level, 100);
}

TEST_F(SoundSaveBlocks, AMissingFileIsLoggedAndTheBlocksStayAligned) {
  Run("    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0\n"
      "    call se_play_ex 2, file\"SE_LOOP\", 1, 0, 0\n"
      "    call se_play_ex 7, file\"SE_KEPT\", 1, 0, 0");
  std::vector<uint8_t> block = Save();
  block.push_back(0xAB);  // the next block's first byte
  Restart();
  fake.files.erase("BGM_A.ogg");
  fake.files.erase("SE_LOOP.ogg");
  vmtest::LogCapture log;
  uint32_t cursor = 0;
  EXPECT_FALSE(Restore(block, &cursor));
  EXPECT_EQ(cursor, block.size() - 1);  // every record consumed
  EXPECT_TRUE(log.Has(0, "bgm load error [BGM_A]"));
  EXPECT_TRUE(log.Has(0, "load error : SE_LOOP"));
  EXPECT_EQ(S().bgm[0].sound, 0);
  EXPECT_EQ(S().se[2].sound, 0);
  EXPECT_NE(S().se[7].sound, 0);  // the channel after the missing one still comes back
  // The saved ids of the other run are never used: the frame update
  // releases nothing.
  bgm_frame(m->ctx);
  se_frame(m->ctx);
  EXPECT_EQ(fake.Count("release"), 0);
}

TEST_F(SoundSaveBlocks, StringVariableNamesFollowTheRecordWritten) {
  Run("");
  std::strcpy(m->ctx->stringVariables[1], "bgm_b");
  ASSERT_EQ(Command("bgm_play", {0, 0x10000001, 1, 0, 0, 0, 0}), 1);
  std::strcpy(m->ctx->stringVariables[1], "changed");  // the save holds what plays
  ASSERT_EQ(Command("bgm_load", {1, 0x10000001, 0, 0, 0}), 0);
  EXPECT_EQ(S().bgm[1].sound, 0);  // CHANGED does not exist
  std::vector<uint8_t> block = Save();
  // Channel 0 plays: record and name; channel 1 failed: 60 zero bytes, no name.
  ASSERT_EQ(bgmBytes, 60u + 32 + 60);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 60)), "BGM_B");
  // Fading out: written empty, and then without its name.
  fake.fadeState[S().bgm[0].sound] = 2;
  block = Save();
  EXPECT_EQ(bgmBytes, 120u);
  fake.fadeState.clear();
  // Round trip through a restart: the saved name is loaded, not the variable.
  block = Save();
  Restart();
  std::strcpy(m->ctx->stringVariables[1], "nothing");
  uint32_t cursor = 0;
  ASSERT_TRUE(Restore(block, &cursor));
  EXPECT_EQ(fake.Last("load")->file, "BGM_B.wav");
  EXPECT_EQ(S().bgmFile[0], std::string("BGM_B"));
}

TEST_F(SoundSaveBlocks, ASavedNameThatFillsItsFieldIsTerminated) {
  Run("");
  // bgm channel 0 names string variable 0 and its 32 saved bytes hold no NUL.
  std::vector<uint8_t> block(60 + 32 + 60);
  const uint32_t name = 0x10000000;
  std::memcpy(block.data() + 4, &name, 4);
  const int32_t level = 100;
  std::memcpy(block.data() + 12, &level, 4);
  std::memset(block.data() + 60, 'Q', 32);
  const std::string file(32, 'Q');
  fake.files.insert(file + ".ogg");
  uint32_t cursor = 0;
  ASSERT_TRUE(bgm_restore(m->ctx, block, &cursor));
  EXPECT_EQ(cursor, block.size());
  EXPECT_EQ(fake.Last("load")->file, file + ".ogg");
  EXPECT_NE(S().bgm[0].sound, 0);
  EXPECT_EQ(fake.Last("playFade")->c, 2000);
}

TEST_F(SoundSaveBlocks, BadBlocksAreRefusedWithNothingChanged) {
  Run("    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0");
  std::vector<uint8_t> block = Save();
  const int playing = S().bgm[0].sound;
  struct Case {
    size_t cut;
    size_t at;
    uint32_t value;
  } cases[] = {{50, 0, 0}, {0, 4, 999}, {0, 4, 0x10000009}, {0, 124 + 4, 5000}, {0, 124 + 28, 7}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = block;
    if (c.cut) bad.resize(c.cut);
    if (c.at) std::memcpy(bad.data() + c.at, &c.value, 4);
    // se record 0: name 5000 (past File.dat), or kind 7 with a name.
    if (c.at == 124 + 28) std::memcpy(bad.data() + 124 + 4, "\x01\0\0\0", 4);
    uint32_t cursor = c.at >= 124 ? 120 : 0;
    const uint32_t before = cursor;
    fake.calls.clear();
    EXPECT_FALSE(c.at >= 124 ? se_restore(m->ctx, bad, &cursor) : bgm_restore(m->ctx, bad, &cursor)) << c.at;
    EXPECT_EQ(cursor, before);
    EXPECT_EQ(fake.calls.size(), 0u);
    EXPECT_EQ(S().bgm[0].sound, playing);
  }
}

TEST_F(SoundSaveBlocks, ReleaseOnResetRestoresTheMusicVolume) {
  Run("    call bgm_set_volume 80\n    call bgm_play 0, file\"BGM_A\", 1, 0, 0, 0, 0\n"
      "    call se_play_ex -1, file\"SE_LOOP\", 1, 0, 0");
  const int music = S().bgm[0].sound, effect = S().se[0].sound;
  fake.calls.clear();
  game_reset(m->ctx);
  EXPECT_TRUE(fake.Released(music));
  EXPECT_TRUE(fake.Released(effect));
  EXPECT_EQ(fake.Last("setVolume")->a, 7999);  // 80 x 0.01f x 10000, truncated
  EXPECT_EQ(fake.Last("setVolume")->b, 2);
  EXPECT_EQ(S().bgm[0].sound, 0);
  EXPECT_EQ(S().se[0].sound, 0);
}

}  // namespace
