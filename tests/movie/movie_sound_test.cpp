// A movie's sound through the engine's mixer, rendered offline by the
// headless sound device on the virtual clock: the 1 kHz tone of the movie
// maker's fixtures at its volume group's level, heard from a full-window
// movie, silenced when the movie stops or closes, and resumed with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/system_state.h"
#include "movie/movie.h"
#include "movie/movie_audio.h"
#include "movie_maker.h"
#include "platform/audio/audio.h"
#include "platform/core/clock.h"
#include "sound/sound.h"
#include "sprite/sprite.h"
#include "support/sprite_scene.h"
#include "task/render_list.h"

using namespace kivtest;

namespace {

class MemorySource final : public plat::MovieSource {
 public:
  explicit MemorySource(std::vector<uint8_t> b) : b_(std::move(b)) {}
  int Read(void* buf, int n) override {
    const int64_t k = std::min<int64_t>(n, static_cast<int64_t>(b_.size()) - pos_);
    std::memcpy(buf, b_.data() + pos_, static_cast<size_t>(k));
    pos_ += k;
    return static_cast<int>(k);
  }
  bool SetPointer(int64_t p) override {
    if (p < 0 || p > static_cast<int64_t>(b_.size())) return false;
    pos_ = p;
    return true;
  }
  int64_t Position() override { return pos_; }
  int64_t Size() override { return static_cast<int64_t>(b_.size()); }

 private:
  std::vector<uint8_t> b_;
  int64_t pos_ = 0;
};

void IntoStream(void* user, const int16_t* samples, int frames, int, int) {
  KivMovieSoundWrite(static_cast<KivMovieAudioStream*>(user), samples, frames);
}

class MovieSoundTest : public SpriteSceneTest {
 protected:
  void SetUp() override {
    plat::HeadlessAudioCapture(true);
    SpriteSceneTest::SetUp();
    ASSERT_NE(KivSoundDevice(), nullptr);
    kivtools::MovieSpec spec;
    spec.frames = 50;  // two seconds at 25 frames a second
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(kivtools::MakeMovie(spec, &bytes, &error)) << error;
    tone = bytes;
    std::ofstream f(folder + "/TONE.MPG", std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    baseBuffers = KivSoundDevice()->mixer().BufferCount();
    plat::HeadlessAudioTake();
  }
  void TearDown() override {
    for (KivRenderNode* n = list->head.next; n;) {
      KivRenderNode* next = n->next;
      if (n->draw == KivMSpriteDrawProc) KivSpriteRelease(list, static_cast<KivSprite*>(n->object));
      n = next;
    }
    KivVideoClose(0);
    KivSoundSetVolume(10000, 2);
    KivSoundSetVolume(10000, 3);
    SpriteSceneTest::TearDown();
    plat::HeadlessAudioCapture(false);
  }
  // ms of the game's frames in 10 ms steps: the clock moves, the movies take
  // their step, the sound thread renders up to the clock. Returns what was
  // rendered meanwhile (interleaved stereo).
  std::vector<int16_t> Run(uint32_t ms, bool fullWindow = false) {
    plat::HeadlessAudioTake();
    for (uint32_t t = 0; t < ms; t += 10) {
      plat::AdvanceVirtualClock(10);
      g_kiv->frameTime.store(plat::TimeGetMs());
      if (fullWindow) KivVideoStep();
      KivMovieSpritesStep();
      EXPECT_TRUE(KivSoundSync());
    }
    return plat::HeadlessAudioTake();
  }
  // RMS of the left channel over [from, to) in ms, of full scale.
  static double Rms(const std::vector<int16_t>& s, uint32_t fromMs, uint32_t toMs) {
    const size_t a = fromMs * 44100 / 1000, b = std::min<size_t>(toMs * 44100 / 1000, s.size() / 2);
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += static_cast<double>(s[2 * i]) * s[2 * i];
    return b > a ? std::sqrt(sum / static_cast<double>(b - a)) / 32767.0 : 0.0;
  }
  static int Peak(const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
  }
  int baseBuffers = 0;
  std::vector<uint8_t> tone;
};

}  // namespace

// The maker's tone (half of full scale) through a movie sprite: at volume
// group 3 = 10000 it arrives whole, at 5000 with half its level.
TEST_F(MovieSoundTest, ToneAtHalfGroupVolumeHasHalfItsLevel) {
  double level[2] = {};
  const int volumes[2] = {10000, 5000};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(KivSoundSetVolume(volumes[i], 3), 1);
    KivSprite* s = KivMSpriteLoad(list, "TONE.MPG", 0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(KivMSpritePlay(s, 0), 1);
    const std::vector<int16_t> out = Run(1500);
    // Away from the encoder's start-up and the stream's lead.
    level[i] = Rms(out, 400, 1400);
    KivSpriteRelease(list, s);
    EXPECT_EQ(KivSoundDevice()->mixer().BufferCount(), baseBuffers) << "the stream goes with the movie";
  }
  EXPECT_NEAR(level[0], 0.5 / std::sqrt(2.0), 0.5 / std::sqrt(2.0) * 0.02);
  EXPECT_NEAR(level[1] / level[0], 0.5, 0.005);
}

// A full-window movie is heard on group 2; closing it silences it at once.
TEST_F(MovieSoundTest, FullWindowMovieIsHeardAndClosingSilencesIt) {
  ASSERT_EQ(KivSoundSetVolume(5000, 2), 1);
  ASSERT_EQ(KivSoundSetVolume(0, 3), 1);  // group 3 is not the full window's
  ASSERT_EQ(KivVideoPlay("TONE.MPG"), 1);
  const std::vector<int16_t> heard = Run(800, true);
  EXPECT_NEAR(Rms(heard, 300, 800), 0.25 / std::sqrt(2.0), 0.25 / std::sqrt(2.0) * 0.02);
  KivVideoClose(0);
  EXPECT_EQ(KivSoundDevice()->mixer().BufferCount(), baseBuffers);
  EXPECT_EQ(Peak(Run(300, true)), 0);
}

// A stopped movie sprite is silent at once and resumes with the movie; a
// looping one keeps sounding past its end with one stream; a finished one
// falls silent.
TEST_F(MovieSoundTest, StopSilencesPlayResumesLoopKeepsSounding) {
  KivSprite* s = KivMSpriteLoad(list, "TONE.MPG", 0);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(KivMSpritePlay(s, 1), 1);
  EXPECT_GT(Rms(Run(600), 300, 600), 0.3);
  ASSERT_EQ(KivMSpriteStop(s), 1);
  EXPECT_EQ(Peak(Run(300)), 0);
  ASSERT_EQ(KivMSpritePlay(s, 1), 1);
  EXPECT_GT(Rms(Run(400), 200, 400), 0.3);
  // Past the end (two seconds) and round again.
  const std::vector<int16_t> round = Run(2500);
  EXPECT_EQ(KivMSpriteGetState(s), 1);
  EXPECT_GT(Rms(round, 2000, 2500), 0.3);
  EXPECT_EQ(KivSoundDevice()->mixer().BufferCount(), baseBuffers + 1);
  ASSERT_EQ(KivMSpriteSetLoop(s, 0), 1);
  Run(2500);
  EXPECT_EQ(KivMSpriteGetState(s), 6);
  EXPECT_EQ(Peak(Run(300)), 0);
  KivSpriteRelease(list, s);
  EXPECT_EQ(KivSoundDevice()->mixer().BufferCount(), baseBuffers);
}

// The real backend's decode thread writes the sound while the game thread
// tends the stream: the tone arrives whole.
TEST_F(MovieSoundTest, DecodeThreadFeedsTheStreamTheGameThreadTends) {
  KivMovieAudioStream* stream = KivMovieSoundOpen(44100, 2, 3);
  ASSERT_NE(stream, nullptr);
  std::string error;
  auto movie = plat::OpenMovie(std::make_unique<MemorySource>(tone), IntoStream, stream, &error,
                               plat::MovieDecoding::kDecodeThread);
  ASSERT_TRUE(movie) << error;
  plat::HeadlessAudioTake();
  for (int t = 10; t <= 1000; t += 10) {
    plat::AdvanceVirtualClock(10);
    const int64_t due = t / 40;
    for (int tries = 0; tries < 400 && !(movie->Advance(due) == 1 && movie->CurrentIndex() == due); ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    KivMovieSoundTend(stream, 1);
    ASSERT_TRUE(KivSoundSync());
  }
  const std::vector<int16_t> out = plat::HeadlessAudioTake();
  EXPECT_NEAR(Rms(out, 400, 950), 0.5 / std::sqrt(2.0), 0.5 / std::sqrt(2.0) * 0.02);
  movie.reset();
  KivMovieSoundClose(stream);
  EXPECT_EQ(KivSoundDevice()->mixer().BufferCount(), baseBuffers);
}
