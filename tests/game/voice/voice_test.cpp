// Voices as a player hears them: the headless engine mixes music and voices
// offline, frame by frame, and the rendered sound is measured (the music's
// level while a voice speaks and after, the balance of a panned voice);
// the ".mix" reader, the skip check and the checked indexes as tables; the
// save block written, read back and written again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "platform/audio/audio.h"
#include "platform/core/clock.h"
#include "layers/sprite_records.h"
#include "sound/sound.h"
#include "sound/sound_shared.h"
#include "sound_fixture.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "voice/voice.h"

namespace {

constexpr int kRate = 44100;
constexpr double kMusicHz = 440.0;
constexpr double kVoiceHz = 1000.0;
constexpr double kPart1Hz = 1500.0;
constexpr double kPart2Hz = 2200.0;

// Strength (0..1 of full scale) of one frequency in one channel (0 left).
double ToneLevel(const std::vector<int16_t>& s, double hz, int channel = 0) {
  const size_t n = s.size() / 2;
  if (n == 0) return 0;
  double re = 0, im = 0;
  for (size_t i = 0; i < n; ++i) {
    const double w = 2 * M_PI * hz * static_cast<double>(i) / kRate;
    re += s[2 * i + channel] * std::cos(w);
    im += s[2 * i + channel] * std::sin(w);
  }
  return 2 * std::sqrt(re * re + im * im) / static_cast<double>(n) / 32767.0;
}

std::vector<uint8_t> MixImage(std::initializer_list<const char*> names) {
  std::vector<uint8_t> out;
  for (const char* n : names) {
    uint8_t rec[32] = {};
    std::memcpy(rec, n, std::strlen(n));
    out.insert(out.end(), rec, rec + 32);
  }
  return out;
}

const char kFiles[] =
    ".stamp 1\n.file \"UNUSED\", \"MUSIC\", \"AB_0001\", \"A_0001\", \"DUO\", \"BAD\", \"AB\", "
    "\"ABCDEFGHIJKLMNOP\", \"ABCDEFGHIJKLMNOPQ\", \"SUB\"\nstart:\n";

class VoiceTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivvoiceXXXXXX";
    dir = mkdtemp(tmpl);
    auto tone = [&](const char* file, double hz, double seconds) {
      ASSERT_TRUE(fixture::WriteFile(dir + "/" + file, fixture::Wav(fixture::Sine(hz, seconds, kRate, 2, 0.4), 2, kRate)));
    };
    tone("MUSIC.WAV", kMusicHz, 4.0);
    tone("AB_0001.WAV", kVoiceHz, 0.5);
    tone("A_0001.WAV", kVoiceHz, 0.5);
    tone("PART1.WAV", kPart1Hz, 0.3);
    tone("PART2.WAV", kPart2Hz, 0.8);
    tone("SUB.WAV", kVoiceHz, 0.5);
    ASSERT_TRUE(fixture::WriteFile(dir + "/DUO.MIX", MixImage({"PART1", "PART2"})));
    ASSERT_TRUE(fixture::WriteFile(dir + "/BAD.MIX", MixImage({"NOPE1", "NOPE2"})));
    plat::HeadlessAudioCapture(true);
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    for (unsigned group : {1u, 2u}) KivSoundSetVolume(10000, group);
  }
  void TearDown() override {
    m.reset();
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
    }
    EngineTest::TearDown();
    plat::HeadlessAudioCapture(false);
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void Start(const std::string& body = "") {
    m = std::make_unique<vmtest::Machine>(std::string(kFiles) + body + "    nop\n");
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    sub_voice_start(ctx);
    m->RunToEnd();
  }
  // Frames of 10 ms: the clock moves, the mixer catches up, the game's sound
  // steps run.
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      plat::AdvanceVirtualClock(10);
      KivUpdateTime();
      ASSERT_TRUE(KivSoundSync());
      if (ctx) {
        voice_frame(ctx);
        bgm_frame(ctx);
      }
    }
  }
  std::vector<int16_t> Render(uint32_t ms) {
    plat::HeadlessAudioTake();
    Advance(ms);
    return plat::HeadlessAudioTake();
  }
  int Command(const char* name, std::initializer_list<int32_t> args) {
    const CommandInfo* info = command_find(name);
    EXPECT_NE(info, nullptr) << name;
    CommandHandler h = command_handler(command_word(info->group, info->index));
    EXPECT_NE(h, nullptr) << name;
    std::vector<int32_t> v(args);
    for (auto it = v.rbegin(); it != v.rend(); ++it) value_stack_push(ctx, *it);
    ctx->resultIndex = 200;
    return h(ctx);
  }
  int32_t MusicVolume() {
    int v = -1;
    KivSoundGetVolume(&v, 2);
    return v;
  }
  SystemData& Sys() { return m->record().system; }
  // Music at bgm 5000 with auto volume level 50 on.
  void MusicPlaying() {
    Start("    call bgm_play 0, file\"MUSIC\", 1, 0, 0, 0, 0\n");
    Sys().word[kSysBgmVolume] = 5000;
    Sys().word[kSysBgmAutoVolume] = 1;
    Sys().word[kSysBgmAutoLevel] = 50;
    KivSoundSetVolume(5000, 2);
    ASSERT_NE(ctx->sound.bgm[0].sound, 0);
  }

  std::string dir;
  KivRenderList* list = nullptr;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  vmtest::LogCapture log;
};

// ---- The music while voices speak ----

TEST_F(VoiceTest, MusicIsLoweredExactlyWhileTheVoicesOfAMixSpeak) {
  MusicPlaying();
  Advance(100);
  // What the music sounds like at the lowered level and at its own.
  KivSoundSetVolume(2499, 2);
  const double lowered = ToneLevel(Render(200), kMusicHz);
  KivSoundSetVolume(5000, 2);
  const double full = ToneLevel(Render(200), kMusicHz);
  ASSERT_GT(full, lowered * 1.5);

  // Two parts, 0.3 s and 0.8 s, played together.
  voice_play_file_ex(ctx, 0, "DUO", 0, true);
  ASSERT_NE(ctx->voice.channels[0].sound, 0);
  ASSERT_NE(ctx->voice.channels[1].sound, 0);
  EXPECT_EQ(MusicVolume(), 2499);
  std::vector<int16_t> both = Render(200);
  EXPECT_NEAR(ToneLevel(both, kMusicHz), lowered, lowered * 0.1);
  EXPECT_GT(ToneLevel(both, kPart1Hz), 0.1);
  EXPECT_GT(ToneLevel(both, kPart2Hz), 0.1);
  // The first part has ended; the second still speaks, so the music stays low.
  Advance(200);
  EXPECT_EQ(ctx->voice.channels[0].sound, 0);
  std::vector<int16_t> second = Render(300);
  EXPECT_EQ(MusicVolume(), 2499);
  EXPECT_NEAR(ToneLevel(second, kMusicHz), lowered, lowered * 0.1);
  EXPECT_LT(ToneLevel(second, kPart1Hz), 0.01);
  // The frame after the last part ends, the music is back.
  while (ctx->voice.channels[1].sound) Advance(10);
  EXPECT_EQ(MusicVolume(), 5000);
  EXPECT_NEAR(ToneLevel(Render(200), kMusicHz), full, full * 0.1);
  EXPECT_EQ(ctx->voice.musicLowered, 0u);
}

TEST_F(VoiceTest, AVoiceReleasedEarlyOrNeverLoadedLeavesTheMusicWhole) {
  MusicPlaying();
  // A line skipped: the next line's voice_stop releases the voice at once.
  voice_play_file_ex(ctx, 0, "AB_0001", 0, false);
  EXPECT_EQ(MusicVolume(), 2499);
  voice_stop(ctx);
  voice_frame(ctx);  // the same game frame
  EXPECT_EQ(MusicVolume(), 5000);
  // The next line's voice right after the stop: the music stays down.
  voice_play_file_ex(ctx, 0, "AB_0001", 0, false);
  voice_stop(ctx);
  EXPECT_EQ(MusicVolume(), 2499);
  voice_line_play(ctx, "A_0001", 1);
  voice_frame(ctx);
  EXPECT_EQ(MusicVolume(), 2499);
  voice_stop(ctx);
  voice_frame(ctx);
  // A replay over a speaking voice keeps it low, and game reset brings it back.
  voice_play_file_ex(ctx, 0, "AB_0001", 0, false);
  voice_play_file_ex(ctx, kVoiceNoAutopan, "A_0001", 0, false);
  EXPECT_EQ(MusicVolume(), 2499);
  voice_release(ctx);
  EXPECT_EQ(MusicVolume(), 5000);
  // Every part of a mix missing, or a missing file: nothing lowers.
  voice_play_file_ex(ctx, 0, "BAD", 0, false);
  voice_play_file_ex(ctx, 0, "NOSUCH", 0, false);
  EXPECT_EQ(MusicVolume(), 5000);
  EXPECT_TRUE(log.HasAny("voice file read : NOPE2"));
  EXPECT_TRUE(log.HasAny("voice file read : NOSUCH"));
  // While skipping the line's voice is only checked: nothing plays, a
  // missing part is still reported.
  log.lines.clear();
  voice_line_play(ctx, "DUO", 0);
  voice_line_play(ctx, "BAD", 0);
  EXPECT_EQ(ctx->voice.channels[0].sound, 0);
  EXPECT_FALSE(log.HasAny("voice file read : PART"));
  EXPECT_TRUE(log.HasAny("voice file read : NOPE1"));
  EXPECT_EQ(MusicVolume(), 5000);
  // With the check off, nothing is logged.
  log.lines.clear();
  Command("voice_check_enable", {0});
  voice_play_file_ex(ctx, 0, "NOSUCH", 0, false);
  EXPECT_FALSE(log.HasAny("voice file read"));
}

// ---- Per-character volumes ----

TEST_F(VoiceTest, ACharacterEntryIsAPrefixOfTheVoiceName) {
  Start(
      "    call voice_ex_volume_enable 1\n"
      "    call set_voice_info 0, file\"AB\", 50, 1\n"
      "    call set_voice_info -1, -1, 100, 1\n");
  KivSoundSetVolume(10000, 2);
  auto voiceLevel = [&](const char* name) {
    voice_play_file_ex(ctx, 0, name, 0, false);
    const double l = ToneLevel(Render(200), kVoiceHz);
    voice_stop(ctx);
    return l;
  };
  const double ab = voiceLevel("AB_0001");
  const double a = voiceLevel("A_0001");
  EXPECT_GT(a, 0.2);
  // 5000 against 10000 on the engine's volume scale: clearly quieter.
  EXPECT_LT(ab, a * 0.8);
  EXPECT_GT(ab, 0.01);
  // Turned off, the entry silences its voices.
  Command("voice_enable", {0, 0, 0});
  EXPECT_LT(voiceLevel("AB_0001"), 0.001);
}

// ---- Auto-pan ----

TEST_F(VoiceTest, AutoPanFollowsTheSpeakersLayerAndOnlyOnAMatch) {
  Start(
      "    call voice_autopan_initialize 100\n"
      "    call voice_autopan_enable 1\n"
      "    call set_voice_autopan 0, 0x00000000, file\"AB_0001\", 0\n");
  KivSoundSetVolume(10000, 2);
  // The speaker: layer 0, 100 pixels wide, its centre at x = 0.
  SpriteRecord* rec = sprite_record_init(ctx, kSpriteKindLayer, 0);
  ASSERT_NE(rec, nullptr);
  rec->sprite = KivSpriteCreate(list, 100, 100, 10);
  ASSERT_NE(rec->sprite, nullptr);
  KivSpriteSetPos(rec->sprite, -50, 0);
  voice_play_file_ex(ctx, 0, "AB_0001", 0, false);
  std::vector<int16_t> left = Render(100);
  EXPECT_GT(ToneLevel(left, kVoiceHz, 0), 0.1);
  EXPECT_LT(ToneLevel(left, kVoiceHz, 1), 0.01);
  // The layer moves to the right edge: the voice follows.
  KivSpriteSetPos(rec->sprite, 1230, 0);
  Advance(20);
  std::vector<int16_t> right = Render(100);
  EXPECT_LT(ToneLevel(right, kVoiceHz, 0), 0.01);
  EXPECT_GT(ToneLevel(right, kVoiceHz, 1), 0.1);
  // A replay asks for no auto-pan and a voice without an entry has none:
  // both stay centred (sprite record 0 plays no part).
  for (uint32_t flags : {kVoiceNoAutopan, 0u}) {
    voice_play_file_ex(ctx, flags, flags ? "AB_0001" : "A_0001", 0, false);
    std::vector<int16_t> centre = Render(100);
    const double l = ToneLevel(centre, kVoiceHz, 0), r = ToneLevel(centre, kVoiceHz, 1);
    EXPECT_GT(l, 0.05);
    EXPECT_NEAR(l, r, l * 0.05);
    EXPECT_EQ(ctx->voice.channels[0].panActive, 0);
  }
  sprite_record_release(ctx, rec);
}

// ---- Skipping ----

TEST_F(VoiceTest, SkippingMutesVoicePlayButNotTheLineVoiceOrTheReplay) {
  Start();
  ctx->skipMode = 1;
  ASSERT_NE(get_skip_state(ctx) & kSkipStateMode, 0u);
  struct Case {
    const char* what;
    std::function<void()> play;
    bool plays;
  } cases[] = {
      {"voice_play", [&] { Command("voice_play", {3, 0, 0}); }, false},
      {"text_voice_play", [&] { voice_play_file(ctx, "AB_0001", 0, 0); }, true},
      {"replay", [&] { voice_play_file_ex(ctx, kVoiceNoAutopan, "AB_0001", 0, false); }, true},
  };
  for (const Case& c : cases) {
    voice_stop(ctx);
    c.play();
    EXPECT_EQ(ctx->voice.channels[0].sound != 0, c.plays) << c.what;
  }
}

// ---- The sub voice ----

TEST_F(VoiceTest, SubVoiceSkipsOneShotsWhileSkippingAndWhenDisabled) {
  Start();
  const int32_t sub = 9;  // File.dat record of "SUB"
  struct Case {
    const char* what;
    uint8_t skip;
    int32_t enabled;
    int32_t flags;
    bool plays;
  } cases[] = {
      {"one-shot", 0, 1, 0, true},           {"one-shot while skipping", 1, 1, 0, false},
      {"loop while skipping", 1, 1, 1, true}, {"disabled", 0, 0, 1, false},
  };
  for (const Case& c : cases) {
    ctx->skipMode = c.skip;
    Command("sub_voice_enable", {0, c.enabled});
    EXPECT_EQ(Command("sub_voice_play", {sub, c.flags, 0}), 1) << c.what;
    EXPECT_EQ(ctx->voice.sub.sound != 0, c.plays) << c.what;
    EXPECT_EQ(ctx->voice.sub.name, static_cast<uint32_t>(sub)) << c.what;
  }
  // A stop with a fade while skipping releases at once; channel 1 is no channel.
  Command("sub_voice_enable", {0, 1});
  Command("sub_voice_play", {sub, 1, 0});
  ctx->skipMode = 1;
  EXPECT_EQ(Command("sub_voice_stop", {1, 1, 500}), 0);
  EXPECT_NE(ctx->voice.sub.sound, 0);
  EXPECT_EQ(Command("sub_voice_stop", {-1, 1, 500}), 1);
  EXPECT_EQ(ctx->voice.sub.sound, 0);
  EXPECT_EQ(ctx->voice.sub.name, 0u);
  // A one-shot ends and is let go by the frame step.
  ctx->skipMode = 0;
  Command("sub_voice_enable", {0, 1});
  Command("sub_voice_play", {sub, 0, 0});
  ASSERT_NE(ctx->voice.sub.sound, 0);
  Advance(700);
  EXPECT_EQ(ctx->voice.sub.sound, 0);
}

// ---- The ".mix" reader ----

TEST(VoiceMixParts, RecordsBecomePartsUpToEight) {
  std::vector<uint8_t> unterminated(32, 'X');
  struct Case {
    size_t bytes;
    size_t parts;
  } cases[] = {{0, 0}, {31, 0}, {32, 1}, {40, 1}, {320, 8}, {352, 8}};
  for (const Case& c : cases) {
    std::vector<uint8_t> image(c.bytes, 0);
    for (size_t i = 0; i + 32 <= image.size(); i += 32) image[i] = 'P';
    EXPECT_EQ(voice_mix_parts(image).size(), c.parts) << c.bytes;
  }
  // A record without a zero byte gives a name cut to 31 bytes.
  std::vector<std::string> parts = voice_mix_parts(unterminated);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0], std::string(31, 'X'));
}

// ---- Checked indexes and names ----

TEST_F(VoiceTest, CharacterAndEntryNumbersAreCheckedBeforeAnythingIsWritten) {
  Start();
  const SystemData before = Sys();
  struct Case {
    int32_t index;
    bool character_ok;
    bool entry_ok;
  } cases[] = {{-2, false, false}, {-1, true, false}, {15, true, true}, {16, true, false}, {31, true, false},
               {32, false, false}};
  const uint32_t ab = 6;  // File.dat record of "AB"
  for (const Case& c : cases) {
    EXPECT_EQ(Command("set_voice_info", {c.index, static_cast<int32_t>(ab), 70, 1}), c.character_ok ? 1 : 0) << c.index;
    EXPECT_EQ(Command("voice_enable", {c.index, 1, 0}), c.character_ok ? 1 : 0) << c.index;
    EXPECT_EQ(Command("is_voice_enable", {c.index}), c.character_ok ? 1 : 0) << c.index;
    EXPECT_EQ(Command("get_voice_ex_volume", {c.index}), c.character_ok ? 1 : 0) << c.index;
    EXPECT_EQ(Command("set_voice_ex_volume", {c.index, 40, 0}), c.character_ok ? 1 : 0) << c.index;
    EXPECT_EQ(Command("set_voice_autopan", {c.index, 3, static_cast<int32_t>(ab), 1}), c.entry_ok ? 1 : 0) << c.index;
  }
  // Only the entries named were written; the words after the table are untouched.
  for (int w = 0; w < kSystemDataWords; ++w) {
    const bool table = w >= kSysVoiceInfo && w < kSysVoiceInfoDefault + kVoiceInfoWords;
    if (!table) {
      EXPECT_EQ(Sys().word[w], before.word[w]) << w;
    }
  }
  EXPECT_EQ(Sys().word[kSysVoiceInfo + 31 * kVoiceInfoWords + 2], 40);
  EXPECT_EQ(ctx->voice.autopan[15].target, 3u);
}

TEST_F(VoiceTest, NamesOfSixteenCharactersFitSeventeenAreRefusedWhole) {
  Start();
  struct Case {
    int32_t record;
    bool ok;
  } cases[] = {{7, true}, {8, false}};
  for (const Case& c : cases) {
    ctx->voice.autopan[2] = VoiceAutopanEntry{};
    std::memset(&Sys().word[kSysVoiceInfo + 2 * kVoiceInfoWords], 0, 4 * kVoiceInfoWords);
    std::memset(&Sys().word[kSysVoiceInfo + 3 * kVoiceInfoWords], 0, 4 * kVoiceInfoWords);
    EXPECT_EQ(Command("set_voice_autopan", {2, 5, c.record, 1}), c.ok ? 1 : 0);
    EXPECT_EQ(Command("set_voice_info", {2, c.record, 80, 1}), c.ok ? 1 : 0);
    EXPECT_EQ(ctx->voice.autopan[2].mode, c.ok ? 1u : 0u);
    EXPECT_EQ(ctx->voice.autopan[2].target, c.ok ? 5u : 0u);
    EXPECT_EQ(Sys().word[kSysVoiceInfo + 2 * kVoiceInfoWords], c.ok ? 1 : 0);
    // The next entry is never written over.
    EXPECT_EQ(Sys().word[kSysVoiceInfo + 3 * kVoiceInfoWords], 0);
  }
  EXPECT_TRUE(log.HasAny("set_voice_autopan : size over[ABCDEFGHIJKLMNOPQ]"));
}

TEST_F(VoiceTest, TheVoiceCheckIsItsOwnWordAndStartsOn) {
  Start();
  const SystemData before = Sys();
  EXPECT_EQ(ctx->voice.checkOff, 0u);
  Command("voice_check_enable", {0});
  EXPECT_EQ(ctx->voice.checkOff, 1u);
  EXPECT_EQ(std::memcmp(&before, &Sys(), sizeof before), 0);
  EXPECT_EQ(m->record().startFlag, 0);
}

// ---- Save block ----

TEST_F(VoiceTest, SaveBlockRoundTripsAndALoopingSubVoiceComesBack) {
  Start(
      "    call set_voice_autopan 0, 0x00000001, file\"ABCDEFGHIJKLMNOP\", 0\n"
      "    call set_voice_autopan 15, 7, file\"AB_0001\", 1\n"
      "    call sub_voice_play file\"SUB\", 1, 0\n");
  ASSERT_NE(ctx->voice.sub.sound, 0);
  std::vector<uint8_t> a(0x100000), b(0x100000);
  uint32_t ua = 0, ub = 0, cursor = 0;
  ASSERT_TRUE(voice_save(ctx, a, &ua));
  ASSERT_EQ(ua, kVoiceSaveBytes);
  voice_release(ctx);
  EXPECT_EQ(ctx->voice.sub.sound, 0);
  ASSERT_TRUE(voice_restore(ctx, std::span<const uint8_t>(a.data(), ua), &cursor));
  EXPECT_EQ(cursor, ua);
  EXPECT_NE(ctx->voice.sub.sound, 0);  // fading in again
  EXPECT_EQ(std::memcmp(ctx->voice.autopan[0].name, "ABCDEFGHIJKLMNOP", 16), 0);
  ASSERT_TRUE(voice_save(ctx, b, &ub));
  ASSERT_EQ(ub, ua);
  // The sound word is the only one that may differ (a new engine sound).
  std::memset(a.data() + 384, 0, 4);
  std::memset(b.data() + 384, 0, 4);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), ua), 0);
  // A damaged target is harmless: it names no sprite record and pans nothing.
  ctx->voice.autopan[0] = {5000, 0, "AB_0001"};
  Sys().word[kSysVoiceAutopan] = 1;
  voice_play_file_ex(ctx, 0, "AB_0001", 0, false);
  Advance(30);
  EXPECT_EQ(ctx->voice.channels[0].lastPan, 0);
  // A short block is refused, nothing read.
  cursor = 0;
  EXPECT_FALSE(voice_restore(ctx, std::span<const uint8_t>(a.data(), 100), &cursor));
  EXPECT_EQ(cursor, 0u);
}

}  // namespace
