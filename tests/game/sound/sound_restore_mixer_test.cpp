// A save brought back as a player hears it: music and a looping effect play
// through the engine, their blocks are saved, the game restarts (every
// sound gone), the blocks are restored, and the offline mixer's output
// holds the same two tones again, fading in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "core/system_state.h"
#include "platform/audio/audio.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "sound/sound.h"
#include "sound/sound_records.h"
#include "sound/sound_save.h"
#include "sound/sound_shared.h"
#include "sound_fixture.h"
#include "support/vm_harness.h"

namespace {

constexpr int kRate = 44100;
constexpr double kMusicHz = 440.0;
constexpr double kEffectHz = 2500.0;

// Strength (0..1 of full scale) of one frequency in the left channel.
double ToneLevel(const std::vector<int16_t>& s, double hz) {
  const size_t n = s.size() / 2;
  if (n == 0) return 0;
  double re = 0, im = 0;
  for (size_t i = 0; i < n; ++i) {
    const double w = 2 * M_PI * hz * static_cast<double>(i) / kRate;
    re += s[2 * i] * std::cos(w);
    im += s[2 * i] * std::sin(w);
  }
  return 2 * std::sqrt(re * re + im * im) / static_cast<double>(n) / 32767.0;
}

const char kScript[] =
    ".stamp 1\n.file \"UNUSED\"\nstart:\n"
    "    call bgm_play 0, file\"MUSIC\", 1, 0, 0, 0, 0\n"
    "    call se_play_ex -1, file\"CHIME\", 1, 0, 2\n"
    "    call se_play_ex -1, file\"CLICK\", 0, 0, 0\n"
    "    nop\n";

class SoundRestoreMixer : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetAudioBackendKind(plat::Backend::kHeadless);
    plat::UseVirtualClock(true, 1000);
    plat::HeadlessAudioCapture(true);
    state_ = std::make_unique<KivSystemState>();
    state_->active.store(1);
    state_->frameTime.store(plat::TimeGetMs());
    char tmpl[] = "/tmp/game_sound_XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::snprintf(state_->baseFolder, sizeof state_->baseFolder, "%s", dir_.c_str());
    g_kiv = state_.get();
    ASSERT_EQ(KivSoundInit(), 1);
    ASSERT_TRUE(fixture::WriteFile(dir_ + "/MUSIC.OGG", fixture::Ogg(fixture::Sine(kMusicHz, 3.0, kRate, 2, 0.4), 2,
                                                                     kRate, 0.4f)));
    ASSERT_TRUE(fixture::WriteFile(dir_ + "/CHIME.WAV", fixture::Wav(fixture::Sine(kEffectHz, 0.5, kRate, 2, 0.4), 2,
                                                                     kRate)));
    ASSERT_TRUE(fixture::WriteFile(dir_ + "/CLICK.WAV", fixture::Wav(fixture::Sine(1000, 0.05, kRate, 2, 0.4), 2,
                                                                     kRate)));
    for (unsigned group : {2u, 3u, 4u, 5u}) KivSoundSetVolume(10000, group);
    plat::HeadlessAudioTake();
  }
  void TearDown() override {
    machine_.reset();
    KivSoundUninit();
    g_kiv = nullptr;
    plat::HeadlessAudioCapture(false);
    plat::UseVirtualClock(false);
    std::string cmd = "rm -rf " + dir_;
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup";
  }
  // A started game: its machine with the script loaded and full volumes in
  // its system data.
  void StartGame() {
    machine_ = std::make_unique<vmtest::Machine>(kScript);
    ASSERT_TRUE(machine_->ok);
    SystemData& sys = machine_->record().system;
    sys.word[kSysBgmVolume] = 10000;
  }
  // Frames of 10 ms: the clock moves, the sound thread catches up, and the
  // game task's sound steps run (se first, then bgm).
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      plat::AdvanceVirtualClock(10);
      state_->frameTime.store(plat::TimeGetMs());
      ASSERT_TRUE(KivSoundSync());
      if (machine_) {
        se_frame(machine_->ctx);
        bgm_frame(machine_->ctx);
      }
    }
  }
  std::vector<int16_t> Render(uint32_t ms) {
    plat::HeadlessAudioTake();
    Advance(ms);
    return plat::HeadlessAudioTake();
  }

  std::unique_ptr<KivSystemState> state_;
  std::string dir_;
  std::unique_ptr<vmtest::Machine> machine_;
};

TEST_F(SoundRestoreMixer, SavedMusicAndLoopingEffectPlayAgainAfterARestart) {
  StartGame();
  machine_->RunToEnd();
  VmContext* ctx = machine_->ctx;
  ASSERT_NE(ctx->sound.bgm[0].sound, 0);
  ASSERT_NE(ctx->sound.se[0].sound, 0);
  ASSERT_NE(ctx->sound.se[1].sound, 0);
  Advance(200);  // the click has ended and is gone
  EXPECT_EQ(ctx->sound.se[1].sound, 0);
  std::vector<int16_t> before = Render(300);
  const double music = ToneLevel(before, kMusicHz), effect = ToneLevel(before, kEffectHz);
  EXPECT_GT(music, 0.3);
  EXPECT_GT(effect, 0.3);

  std::vector<uint8_t> snapshot(0x100000);
  uint32_t used = 0;
  ASSERT_TRUE(bgm_save(ctx, snapshot, &used));
  ASSERT_TRUE(se_save(ctx, snapshot, &used));
  snapshot.resize(used);

  // Restart: the old game is gone, and so is every sound.
  machine_.reset();
  Advance(50);
  std::vector<int16_t> silent = Render(200);
  EXPECT_LT(ToneLevel(silent, kMusicHz), 0.001);
  EXPECT_LT(ToneLevel(silent, kEffectHz), 0.001);

  StartGame();
  ctx = machine_->ctx;
  uint32_t cursor = 0;
  ASSERT_TRUE(bgm_restore(ctx, snapshot, &cursor));
  ASSERT_TRUE(se_restore(ctx, snapshot, &cursor));
  EXPECT_EQ(cursor, used);
  EXPECT_EQ(ctx->sound.se[1].sound, 0);  // the one-shot stays gone
  // Both fade in over 2000 ms: quiet early, then as loud as before.
  std::vector<int16_t> early = Render(200);
  EXPECT_LT(ToneLevel(early, kMusicHz), music * 0.5);
  EXPECT_LT(ToneLevel(early, kEffectHz), effect * 0.5);
  Advance(2000);
  std::vector<int16_t> after = Render(300);
  EXPECT_NEAR(ToneLevel(after, kMusicHz), music, 0.05);
  EXPECT_NEAR(ToneLevel(after, kEffectHz), effect, 0.05);
  EXPECT_LT(ToneLevel(after, 1000), 0.01);  // and nothing else
}

}  // namespace
