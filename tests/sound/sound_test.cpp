// Sound, heard as a player hears it: sounds made by our own fixture writer,
// played through the engine's channels and rendered offline by the headless
// device in lockstep with the virtual clock, then measured sample by sample.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/system_state.h"
#include "platform/audio/audio.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "sound/sound.h"
#include "sound_fixture.h"

namespace {

constexpr int kRate = 44100;

// A stereo ramp whose every frame is different: left counts 1..30000 over
// and over, right counts the rounds. Any gap, repeat or skip shows.
std::vector<int16_t> Ramp(size_t frames) {
  std::vector<int16_t> s(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<int16_t>(i % 30000 + 1);
    s[2 * i + 1] = static_cast<int16_t>(i / 30000 + 1);
  }
  return s;
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetAudioBackendKind(plat::Backend::kHeadless);
    plat::UseVirtualClock(true, 1000);
    plat::HeadlessAudioCapture(true);
    state_ = std::make_unique<KivSystemState>();
    state_->active.store(1);
    state_->frameTime.store(plat::TimeGetMs());
    g_kiv = state_.get();
    char tmpl[] = "/tmp/kiv_sound_XXXXXX";
    dir_ = mkdtemp(tmpl);
    ASSERT_EQ(KivSoundInit(), 1);
    plat::HeadlessAudioTake();
  }
  void TearDown() override {
    KivSoundUninit();
    g_kiv = nullptr;
    plat::HeadlessAudioCapture(false);
    plat::UseVirtualClock(false);
    std::string cmd = "rm -rf " + dir_;
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup";
  }
  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir_ + "/" + name;
    EXPECT_TRUE(fixture::WriteFile(path, bytes));
    return path;
  }
  // Moves the clock and the frame time on in 10 ms steps, each rendered and
  // handled by the sound thread before the next.
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      plat::AdvanceVirtualClock(10);
      state_->frameTime.store(plat::TimeGetMs());
      ASSERT_TRUE(KivSoundSync());
    }
  }
  // Renders ms of output and returns it (interleaved stereo).
  std::vector<int16_t> Render(uint32_t ms) {
    plat::HeadlessAudioTake();
    Advance(ms);
    return plat::HeadlessAudioTake();
  }
  static double Peak(const std::vector<int16_t>& s, int channel, size_t from = 0, size_t to = SIZE_MAX) {
    int peak = 0;
    for (size_t i = from; i < std::min(to, s.size() / 2); ++i) peak = std::max(peak, std::abs(int(s[2 * i + channel])));
    return peak / 32767.0;
  }
  std::unique_ptr<KivSystemState> state_;
  std::string dir_;
};

TEST(SoundVolume, DecibelTable) {
  const int cases[][2] = {{0, -10000}, {1, -8000},   {10, -6000}, {2500, -1204}, {5000, -602},
                          {7071, -301}, {9999, 0},    {10000, 0},  {-5, -10000},  {20000, 0}};
  for (const auto& c : cases) EXPECT_EQ(KivVolumeToDecibels(c[0]), c[1]) << c[0];
}

TEST(SoundVolume, EffectiveVolumeTable) {
  const int cases[][3] = {{10000, 3333, 3332}, {10000, 9999, 9998}, {5000, 5000, 2500},
                          {10000, 10000, 10000}, {0, 10000, 0},     {10000, 20000, 10000}, {10000, -1, 0}};
  for (const auto& c : cases) EXPECT_EQ(KivSoundEffective(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST_F(SoundTest, IdsGroupsAndChannelCounts) {
  std::string wav = File("A.WAV", fixture::Wav(fixture::Sine(1000, 0.1, kRate, 2, 0.5), 2, kRate));
  struct Case {
    int type, tag, storedGroupCount;
  } cases[] = {{1, 3, 8}, {0, 3, 8}, {7, 3, 8}, {3, 4, 16}, {4, 5, 32}, {5, 6, 16}, {2, 2, 2}};
  for (const Case& c : cases) {
    int before = KivSoundGetChannelCount(c.type >= 1 && c.type <= 5 ? c.type : 1);
    KivSoundId id = KivSoundLoad(wav.c_str(), c.type, nullptr);
    ASSERT_NE(id, 0) << c.type;
    EXPECT_EQ(static_cast<uint32_t>(id) >> 28, static_cast<uint32_t>(c.tag)) << c.type;
    EXPECT_EQ(KivSoundGroupSize(c.tag), c.storedGroupCount);
    if (c.type >= 1 && c.type <= 5) {
      EXPECT_EQ(KivSoundGetChannelCount(c.type), before - 1) << c.type;
    }
    EXPECT_EQ(KivSoundGetVolumeChannel(id), 10000);
    EXPECT_EQ(KivSoundRelease(id), 1);
    EXPECT_EQ(KivSoundGetVolumeChannel(id), -1);  // free
  }
  // Ids naming no channel are refused like 0.
  for (KivSoundId bad : {0, int(0x70000000), int(0x10000002), int(0x30000008), int(0x00000001)}) {
    EXPECT_EQ(KivSoundPlay(bad, 0), 0);
    EXPECT_EQ(KivSoundGetVolumeChannel(bad), 0);
    EXPECT_EQ(KivSoundGetState(bad), 0);
    EXPECT_EQ(KivSoundPlayIs(bad), 0);
  }
  // A ninth type-1 load finds no channel.
  std::vector<KivSoundId> ids;
  for (int i = 0; i < 8; ++i) ids.push_back(KivSoundLoad(wav.c_str(), 1, nullptr));
  for (KivSoundId id : ids) EXPECT_NE(id, 0);
  EXPECT_EQ(KivSoundGetChannelCount(1), 0);
  EXPECT_EQ(KivSoundLoad(wav.c_str(), 1, nullptr), 0);
  KivSoundReleaseEx(1);
  EXPECT_EQ(KivSoundGetChannelCount(1), 8);
  // Group volumes: clamped, 6 refused, 4 and 5 silent at start.
  int v = -1;
  EXPECT_EQ(KivSoundGetVolume(&v, 4), 0);
  EXPECT_EQ(KivSoundSetVolume(12000, 2), 1);
  EXPECT_EQ(KivSoundGetVolume(&v, 2), 10000);
  EXPECT_EQ(KivSoundSetVolume(5000, 6), 0);
  EXPECT_EQ(KivSoundGetVolume(nullptr, 2), -1);
}

TEST_F(SoundTest, StaticToneAtHalfVolumeAndPan) {
  std::string wav = File("TONE.WAV", fixture::Wav(fixture::Sine(1000, 0.5, kRate, 2, 1.0), 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 1, nullptr);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundSetVolumeChannel(id, 5000), 1);
  ASSERT_EQ(KivSoundPlay(id, 1), 1);
  EXPECT_EQ(KivSoundPlayIs(id), 1);
  std::vector<int16_t> out = Render(200);
  EXPECT_NEAR(Peak(out, 0), 0.5, 0.0025);
  EXPECT_NEAR(Peak(out, 1), 0.5, 0.0025);
  struct Pan {
    int pan;
    bool left, right;
  } pans[] = {{-10000, true, false}, {10000, false, true}, {0, true, true}};
  for (const Pan& p : pans) {
    ASSERT_EQ(KivSoundSetPanChannel(id, p.pan), 1);
    out = Render(100);
    EXPECT_EQ(Peak(out, 0) > 0.4, p.left) << p.pan;
    EXPECT_EQ(Peak(out, 1) > 0.4, p.right) << p.pan;
    if (!p.right) {
      EXPECT_EQ(Peak(out, 1), 0.0) << p.pan;
    }
    if (!p.left) {
      EXPECT_EQ(Peak(out, 0), 0.0) << p.pan;
    }
  }
  // Above full volume is held at full, never refused.
  ASSERT_EQ(KivSoundSetVolumeChannel(id, 20000), 1);
  out = Render(100);
  EXPECT_NEAR(Peak(out, 0), 1.0, 0.001);
  // Inactive window: sounds without global focus fall silent.
  state_->active.store(0);
  out = Render(100);
  EXPECT_EQ(Peak(out, 0), 0.0);
  state_->active.store(1);
  EXPECT_EQ(KivSoundStop(id), 1);
  EXPECT_EQ(KivSoundPlayIs(id), 0);
  EXPECT_EQ(KivSoundStop(id), 0);  // loaded, not playing: nothing
}

TEST_F(SoundTest, CopiesShareSamplesAndStreamsAreNotCopied) {
  std::string wav = File("TONE.WAV", fixture::Wav(fixture::Sine(1000, 0.5, kRate, 2, 0.5), 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 4, nullptr);
  ASSERT_NE(id, 0);
  KivSoundSetVolume(10000, 4);
  KivSoundId copy = KivSoundCopy(id, 4);
  ASSERT_NE(copy, 0);
  EXPECT_NE(copy, id);
  EXPECT_EQ(KivSoundGetVolumeChannel(copy), 10000);
  EXPECT_EQ(KivSoundRelease(id), 1);  // the copy keeps the samples
  ASSERT_EQ(KivSoundPlay(copy, 0), 1);
  std::vector<int16_t> out = Render(100);
  EXPECT_NEAR(Peak(out, 0), 0.5, 0.01);
  EXPECT_EQ(KivSoundCopy(copy, 2), 0);
  KivSoundId music = KivSoundLoad(wav.c_str(), 2, nullptr);
  ASSERT_NE(music, 0);
  EXPECT_EQ(KivSoundCopy(music, 4), 0);
  EXPECT_EQ(KivSoundCopy(0, 4), 0);
}

// The stream's output from the first frame after the start's 32 silent
// frames, found by its unique value, must follow `expect` exactly.
void ExpectFollows(const std::vector<int16_t>& out, const std::vector<int16_t>& expect, size_t frames) {
  size_t first = 0;
  while (first < out.size() / 2 && out[2 * first] == 0 && out[2 * first + 1] == 0) ++first;
  ASSERT_LT(first, out.size() / 2) << "silent";
  ASSERT_GE(out.size() / 2 - first, frames);
  for (size_t i = 0; i < frames; ++i) {
    ASSERT_EQ(out[2 * (first + i)], expect[2 * i]) << "frame " << i;
    ASSERT_EQ(out[2 * (first + i) + 1], expect[2 * i + 1]) << "frame " << i;
  }
}

TEST_F(SoundTest, LoopingStreamRangeIsExactWithoutGap) {
  const size_t frames = 60000;  // 1.36 s of data
  std::vector<int16_t> data = Ramp(frames);
  std::string wav = File("BGM.WAV", fixture::Wav(data, 2, kRate));
  const int start = 1000 * 4, loop = 20000 * 4, end = 50000 * 4;  // a loop shorter than one half
  const int range[4] = {1, start, loop, end};
  KivSoundId id = KivSoundLoad(wav.c_str(), 2, range);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundPlayFade(id, 1, 0), 1);
  std::vector<int16_t> out = Render(5000);
  std::vector<int16_t> expect;
  for (int f = start / 4 + 32; f < end / 4; ++f) expect.insert(expect.end(), {data[2 * f], data[2 * f + 1]});
  while (expect.size() / 2 < 4 * kRate)
    for (int f = loop / 4; f < end / 4; ++f) expect.insert(expect.end(), {data[2 * f], data[2 * f + 1]});
  ExpectFollows(out, expect, 4 * kRate);
  EXPECT_EQ(KivSoundPlayIs(id), 1);
  EXPECT_EQ(KivSoundRelease(id), 1);
}

TEST_F(SoundTest, RawPcmSoundFileLoopsWithoutGap) {
  const size_t frames = 50000;
  std::vector<int16_t> data = Ramp(frames);
  // 10 entries: a unit is 20,000 bytes (5,000 frames). Loop units 2..9.
  std::string raw = File("VOICE.DAT", fixture::RawPcm(data, 10, 2, 9));
  KivSoundId id = KivSoundLoadVerEpeg(raw.c_str());
  ASSERT_NE(id, 0);
  EXPECT_EQ(static_cast<uint32_t>(id) >> 28, 1u);
  ASSERT_EQ(KivSoundPlayFade(id, 0, 0), 1);
  std::vector<int16_t> out = Render(4000);
  std::vector<int16_t> expect;
  for (int f = 32; f < 45000; ++f) expect.insert(expect.end(), {data[2 * f], data[2 * f + 1]});
  while (expect.size() / 2 < 3 * kRate)
    for (int f = 10000; f < 45000; ++f) expect.insert(expect.end(), {data[2 * f], data[2 * f + 1]});
  ExpectFollows(out, expect, 3 * kRate);
}

TEST_F(SoundTest, NonLoopingStreamPlaysEverySampleThenFreesItsChannel) {
  const size_t frames = kRate * 5 / 2;  // 2.5 s
  std::vector<int16_t> data = Ramp(frames);
  std::string wav = File("BGM.WAV", fixture::Wav(data, 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 2, nullptr);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundGetChannelCount(2), 1);
  ASSERT_EQ(KivSoundPlayFade(id, 0, 0), 1);
  std::vector<int16_t> out = Render(5000);
  std::vector<int16_t> expect(data.begin() + 64, data.end());
  ExpectFollows(out, expect, frames - 32);
  EXPECT_EQ(KivSoundPlayIs(id), 0);
  EXPECT_EQ(KivSoundGetVolumeChannel(id), -1);
  EXPECT_EQ(KivSoundGetChannelCount(2), 2);
}

TEST_F(SoundTest, FadeInReachesHalfLevelHalfWay) {
  std::string wav = File("TONE.WAV", fixture::Wav(fixture::Sine(1000, 0.5, kRate, 2, 1.0), 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 3, nullptr);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundPlayFade(id, 1, 1000), 1);
  EXPECT_EQ(KivSoundGetState(id), 1);
  std::vector<int16_t> out = Render(1200);
  // The volume steps every 10 ms pass: the pass at 500 ms sets 5000, that is
  // -6.02 dB, heard in the 10 ms after it.
  EXPECT_NEAR(Peak(out, 0, kRate * 500 / 1000 + 10, kRate * 510 / 1000), 0.5, 0.011);
  EXPECT_LT(Peak(out, 0, kRate * 100 / 1000, kRate * 110 / 1000), 0.11);
  EXPECT_NEAR(Peak(out, 0, kRate * 1100 / 1000, kRate * 1200 / 1000), 1.0, 0.001);
  EXPECT_EQ(KivSoundGetState(id), 0);
  ASSERT_EQ(KivSoundStopFade(id, 300), 1);
  EXPECT_EQ(KivSoundGetState(id), 2);
  out = Render(400);
  EXPECT_EQ(KivSoundGetState(id), 0);
  EXPECT_EQ(KivSoundPlayIs(id), 0);
  EXPECT_EQ(Peak(out, 0, kRate * 310 / 1000), 0.0);
}

TEST_F(SoundTest, StopThenPlayAtOncePlays) {
  std::string wav = File("BGM.WAV", fixture::Wav(fixture::Sine(440, 3.0, kRate, 2, 0.5), 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 2, nullptr);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundPlay(id, 1), 1);
  Render(300);
  ASSERT_EQ(KivSoundStop(id), 1);
  ASSERT_EQ(KivSoundPlay(id, 1), 1);
  std::vector<int16_t> out = Render(500);
  EXPECT_EQ(KivSoundPlayIs(id), 1);
  EXPECT_NEAR(Peak(out, 0, kRate / 10), 0.5, 0.01);
  // Pause holds the sound and resume takes it up again.
  ASSERT_EQ(KivSoundPause(id), 1);
  out = Render(100);
  EXPECT_EQ(Peak(out, 0, kRate / 100), 0.0);
  ASSERT_EQ(KivSoundPause(id), 1);
  out = Render(100);
  EXPECT_NEAR(Peak(out, 0, kRate / 100), 0.5, 0.01);
}

TEST_F(SoundTest, RequestNotTakenIsReportedAndWithdrawn) {
  std::string wav = File("BGM.WAV", fixture::Wav(fixture::Sine(440, 3.0, kRate, 2, 0.5), 2, kRate));
  KivSoundId id = KivSoundLoad(wav.c_str(), 2, nullptr);
  ASSERT_NE(id, 0);
  ASSERT_EQ(KivSoundPlay(id, 1), 1);
  KivSoundHoldSteps(true);
  EXPECT_EQ(KivSoundStop(id), 0);  // after the bounded wait
  KivSoundHoldSteps(false);
  std::vector<int16_t> out = Render(200);
  EXPECT_EQ(KivSoundPlayIs(id), 1);  // the withdrawn stop never happens
  EXPECT_NEAR(Peak(out, 0), 0.5, 0.01);
  EXPECT_EQ(KivSoundStop(id), 1);
}

TEST_F(SoundTest, OggStreamedAndStatic) {
  std::vector<int16_t> tone = fixture::Sine(1000, 2.0, kRate, 2, 0.5);
  std::string ogg = File("BGM.OGG", fixture::Ogg(tone, 2, kRate, 0.5f));
  KivSoundId music = KivSoundLoad(ogg.c_str(), 2, nullptr);
  ASSERT_NE(music, 0);
  ASSERT_EQ(KivSoundPlay(music, 1), 1);
  std::vector<int16_t> out = Render(3000);
  EXPECT_NEAR(Peak(out, 0, kRate / 10), 0.5, 0.03);
  EXPECT_EQ(KivSoundPlayIs(music), 1);
  EXPECT_EQ(KivSoundRelease(music), 1);

  std::string mono = File("SE.OGG", fixture::Ogg(fixture::Sine(500, 0.5, 22050, 1, 0.5), 1, 22050, 0.5f));
  KivSoundId se = KivSoundLoad(mono.c_str(), 5, nullptr);
  ASSERT_NE(se, 0);
  KivSoundSetVolume(10000, 5);
  ASSERT_EQ(KivSoundPlay(se, 0), 1);
  out = Render(700);
  EXPECT_NEAR(Peak(out, 0), 0.5, 0.03);
  EXPECT_NEAR(Peak(out, 1), 0.5, 0.03);
  EXPECT_EQ(KivSoundPlayIs(se), 0);  // ended after 0.5 s

  // A damaged middle ends the decode there; nothing breaks.
  std::vector<uint8_t> bad = fixture::Ogg(tone, 2, kRate, 0.5f);
  for (size_t i = bad.size() / 2; i < bad.size() / 2 + 400; ++i) bad[i] ^= 0x5A;
  std::string broken = File("BAD.OGG", bad);
  KivSoundId b = KivSoundLoad(broken.c_str(), 3, nullptr);
  if (b) {
    EXPECT_EQ(KivSoundPlay(b, 0), 1);
    Render(100);
  }
  KivSoundId bs = KivSoundLoad(broken.c_str(), 2, nullptr);
  if (bs) {
    EXPECT_EQ(KivSoundPlay(bs, 1), 1);
    Render(2500);
  }
}

TEST(SoundSource, WavAndRawPcmRobustness) {
  std::vector<int16_t> s = fixture::Sine(1000, 0.01, kRate, 2, 0.5);
  std::vector<uint8_t> good = fixture::Wav(s, 2, kRate);
  std::vector<uint8_t> list = fixture::Wav(s, 2, kRate, {{"LIST", std::vector<uint8_t>(27, 'x')}});
  std::vector<uint8_t> short_file(good.begin(), good.begin() + 30);
  std::vector<uint8_t> bad_magic = good;
  bad_magic[8] = 'X';
  std::vector<uint8_t> beyond = good;
  beyond[40] = 0xFF;  // data size far past the end
  beyond[41] = 0xFF;
  std::vector<uint8_t> no_fmt = good;
  std::memcpy(no_fmt.data() + 12, "junk", 4);
  struct Case {
    const char* name;
    const std::vector<uint8_t>* bytes;
    bool ok;
    uint64_t dataOffset;
  } wavs[] = {{"good", &good, true, 44},       {"LIST before data", &list, true, 44 + 8 + 28},
              {"short", &short_file, false, 0}, {"bad magic", &bad_magic, false, 0},
              {"size beyond", &beyond, false, 0}, {"no fmt", &no_fmt, false, 0}};
  for (const Case& c : wavs) {
    const auto& b = *c.bytes;
    auto read = [&b](uint64_t off, void* out, size_t n) {
      if (off > b.size() || n > b.size() - off) return false;
      std::memcpy(out, b.data() + off, n);
      return true;
    };
    KivWavInfo w;
    const char* why = nullptr;
    EXPECT_EQ(KivWavParse(read, b.size(), &w, &why), c.ok) << c.name << " " << (why ? why : "");
    if (c.ok) {
      EXPECT_EQ(w.dataOffset, c.dataOffset) << c.name;
      EXPECT_EQ(w.dataSize, s.size() * 2) << c.name;
      EXPECT_EQ(w.channels, 2);
      EXPECT_EQ(w.rate, kRate);
    }
  }
  std::vector<int16_t> pcm = Ramp(1000);
  struct Raw {
    const char* name;
    std::vector<uint8_t> bytes;
    bool ok;
  } raws[] = {{"good", fixture::RawPcm(pcm, 10, 2, 9), true},
              {"no entries", fixture::RawPcm(pcm, 0, 0, 1), false},
              {"loop start = end", fixture::RawPcm(pcm, 10, 5, 5), false},
              {"loop start > end", fixture::RawPcm(pcm, 10, 7, 3), false},
              {"loop end past data", fixture::RawPcm(pcm, 10, 2, 11), false},
              {"huge entry count", fixture::RawPcm(pcm, 10, 2, 9), false}};
  raws[5].bytes[4] = raws[5].bytes[5] = raws[5].bytes[6] = 0xFF;
  for (const Raw& r : raws) {
    const auto& b = r.bytes;
    auto read = [&b](uint64_t off, void* out, size_t n) {
      if (off > b.size() || n > b.size() - off) return false;
      std::memcpy(out, b.data() + off, n);
      return true;
    };
    KivRawPcmInfo info;
    const char* why = nullptr;
    EXPECT_EQ(KivRawPcmParse(read, b.size(), &info, &why), r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ(info.dataOffset, 58u + 80u);
      EXPECT_EQ(info.loopStart, 800u);
      EXPECT_EQ(info.loopEnd, 3600u);
    }
  }
}

TEST_F(SoundTest, BadFilesAndRangesAreRefusedAndLoseNothing) {
  std::vector<int16_t> s = Ramp(20000);
  std::string good = File("GOOD.WAV", fixture::Wav(s, 2, kRate));
  std::vector<uint8_t> bytes = fixture::Wav(s, 2, kRate);
  bytes[40] = bytes[41] = bytes[42] = 0xFF;
  std::string lying = File("LIE.WAV", bytes);
  std::string missing = dir_ + "/NONE.WAV";
  std::string rawBad = File("BAD.DAT", fixture::RawPcm(s, 0, 0, 1));
  const int count = KivSoundGetChannelCount(1);
  EXPECT_EQ(KivSoundLoad(lying.c_str(), 1, nullptr), 0);
  EXPECT_EQ(KivSoundLoad(lying.c_str(), 2, nullptr), 0);
  EXPECT_EQ(KivSoundLoad(missing.c_str(), 1, nullptr), 0);
  EXPECT_EQ(KivSoundLoadVerEpeg(rawBad.c_str()), 0);
  EXPECT_EQ(KivSoundGetChannelCount(1), count);
  EXPECT_EQ(KivSoundGetChannelCount(2), 2);
  const int ranges[][4] = {{1, 0, 4000, 4000}, {1, 0, 8000, 4000}, {1, -4, 0, 400}, {1, 0, 0, 80004}, {1, 2, 0, 400}};
  for (const auto& r : ranges) EXPECT_EQ(KivSoundLoad(good.c_str(), 2, r), 0) << r[1] << " " << r[2] << " " << r[3];
  EXPECT_EQ(KivSoundGetChannelCount(2), 2);
  KivSoundId id = KivSoundLoad(good.c_str(), 2, nullptr);
  ASSERT_NE(id, 0);
  // Loop points in file positions: the data starts at byte 44.
  EXPECT_EQ(KivSoundSetStartEnd(id, 44 + 400, 44 + 400), 0);
  EXPECT_EQ(KivSoundSetStartEnd(id, 40, 44 + 400), 0);
  EXPECT_EQ(KivSoundSetStartEnd(id, 44, 44 + 80004), 0);
  EXPECT_EQ(KivSoundSetStartEnd(id, 44 + 2, 44 + 400), 0);
  EXPECT_EQ(KivSoundSetStartEnd(id, 44 + 400, 44 + 4000), 1);
}

TEST(SoundOggMemory, SeekFollowsFseek) {
  uint8_t data[100] = {};
  struct Case {
    int64_t from, offset;
    int whence;
    int result;
    int64_t pos;
  } cases[] = {{10, 50, SEEK_SET, 0, 50},  {10, 100, SEEK_SET, 0, 100}, {10, 101, SEEK_SET, -1, 10},
               {10, -1, SEEK_SET, -1, 10}, {10, 20, SEEK_CUR, 0, 30},   {10, -10, SEEK_CUR, 0, 0},
               {10, -11, SEEK_CUR, -1, 10}, {10, 91, SEEK_CUR, -1, 10}, {10, 0, SEEK_END, 0, 100},
               {10, -30, SEEK_END, 0, 70}, {10, 1, SEEK_END, -1, 10},   {10, -101, SEEK_END, -1, 10},
               {10, INT64_MAX, SEEK_CUR, -1, 10}};
  for (const Case& c : cases) {
    KivOggMemory m{data, 100, c.from};
    EXPECT_EQ(KivOggSeek(&m, c.offset, c.whence), c.result) << c.offset << " " << c.whence;
    EXPECT_EQ(m.pos, c.pos) << c.offset << " " << c.whence;
  }
  KivOggMemory m{data, 100, 95};
  uint8_t out[16];
  EXPECT_EQ(KivOggRead(out, 1, 16, &m), 5u);
  EXPECT_EQ(KivOggRead(out, 1, 16, &m), 0u);
  EXPECT_EQ(KivOggTell(&m), 100);
}

}  // namespace
