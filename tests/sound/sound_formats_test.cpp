// Sound files as a game maker brings them: tones written by our own fixture
// writer and, where installed, by sox and oggenc, in every sample layout
// and rate, played as music (the streamed path) and as effects (the static
// path), rendered offline and measured: pitch by an FFT of the mix,
// duration and level against the source. What cannot be played is refused
// with the file's name and the reason. A second test bounds the largest
// sample-to-sample step at a music start, a fade and a stop.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "core/system_state.h"
#include "platform/audio/audio.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "sound/sound.h"
#include "sound_fixture.h"

namespace {

constexpr int kRate = 44100;
constexpr double kTone = 440.0, kSeconds = 2.0, kAmplitude = 0.5;

bool Have(const char* tool) {
  const std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// The strongest frequency of a mono signal: Hann window, radix-2 FFT,
// parabolic interpolation between bins.
double PeakHz(const std::vector<double>& x, int rate) {
  size_t n = 1;
  while (n * 2 <= x.size()) n *= 2;
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = x[i] * (0.5 - 0.5 * std::cos(2 * M_PI * i / (n - 1)));
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * M_PI / len);
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> u = 1;
      for (size_t k = 0; k < len / 2; ++k, u *= w) {
        const auto t = a[i + k + len / 2] * u;
        a[i + k + len / 2] = a[i + k] - t;
        a[i + k] += t;
      }
    }
  }
  size_t best = 1;
  for (size_t k = 1; k < n / 2; ++k)
    if (std::abs(a[k]) > std::abs(a[best])) best = k;
  const double l = std::log(std::abs(a[best - 1]) + 1e-12), c = std::log(std::abs(a[best])),
               r = std::log(std::abs(a[best + 1]) + 1e-12);
  const double shift = 0.5 * (l - r) / (l - 2 * c + r);
  return (best + shift) * rate / n;
}

class SoundFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetAudioBackendKind(plat::Backend::kHeadless);
    plat::UseVirtualClock(true, 1000);
    plat::HeadlessAudioCapture(true);
    state_ = std::make_unique<KivSystemState>();
    state_->active.store(1);
    state_->frameTime.store(plat::TimeGetMs());
    g_kiv = state_.get();
    char tmpl[] = "/tmp/kiv_soundfmt_XXXXXX";
    dir_ = mkdtemp(tmpl);
    ASSERT_EQ(KivSoundInit(), 1);
    KivSoundSetVolume(10000, 1);
    plat::HeadlessAudioTake();
  }
  void TearDown() override {
    KivSoundUninit();
    g_kiv = nullptr;
    plat::HeadlessAudioCapture(false);
    plat::UseVirtualClock(false);
    Shell("rm -rf " + dir_);
  }
  std::vector<int16_t> Render(uint32_t ms) {
    plat::HeadlessAudioTake();
    for (uint32_t t = 0; t < ms; t += 10) {
      plat::AdvanceVirtualClock(10);
      state_->frameTime.store(plat::TimeGetMs());
      EXPECT_TRUE(KivSoundSync());
    }
    return plat::HeadlessAudioTake();
  }
  std::unique_ptr<KivSystemState> state_;
  std::string dir_;
};

struct Heard {
  double hz = 0, seconds = 0, rmsDb = 0, peak = 0;
};

// Pitch, duration (first to last frame above a tenth of the source's
// amplitude) and the level of the steady middle, left channel (both
// channels carry the same tone).
Heard Measure(const std::vector<int16_t>& out) {
  Heard h;
  const size_t frames = out.size() / 2;
  size_t first = frames, last = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double v = std::abs(out[2 * i]) / 32768.0;
    h.peak = std::max(h.peak, v);
    if (v > kAmplitude / 10) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first >= last) return h;
  h.seconds = static_cast<double>(last - first + 1) / kRate;
  std::vector<double> mid;
  for (size_t i = first + kRate / 4; i + kRate / 4 < last; ++i) mid.push_back(out[2 * i] / 32768.0);
  double sum = 0;
  for (double v : mid) sum += v * v;
  h.rmsDb = 10 * std::log10(sum / std::max<size_t>(mid.size(), 1) + 1e-20);
  h.hz = PeakHz(mid, kRate);
  return h;
}

struct Fixture {
  Fixture(std::string n, std::string t, std::string m, std::vector<uint8_t> b = {}, double tol = 0.15,
          std::string r = "")
      : name(std::move(n)), tool(std::move(t)), make(std::move(m)), bytes(std::move(b)), levelTolDb(tol),
        refusal(std::move(r)) {}
  std::string name;  // the file made, in the test's folder
  std::string tool;  // "" our writer, else the program that must exist
  std::string make;  // shell command (tools), %s = path
  std::vector<uint8_t> bytes;  // our writer's image
  double levelTolDb = 0.15;
  std::string refusal;  // non-empty: must be refused with this in the message
};

std::vector<Fixture> Fixtures() {
  using fixture::WavPcm;
  const double s = kSeconds, f = kTone, a = kAmplitude;
  const std::string synth = " synth 2 sine 440 vol 0.5";
  std::vector<Fixture> v = {
      {"T16S44.WAV", "", "", WavPcm(f, s, 44100, 2, a, 16, false, false)},
      {"T16S48.WAV", "", "", WavPcm(f, s, 48000, 2, a, 16, false, false)},
      {"T16M22.WAV", "", "", WavPcm(f, s, 22050, 1, a, 16, false, false)},
      {"T08M11.WAV", "", "", WavPcm(f, s, 11025, 1, a, 8, false, false), 0.3},
      {"T24S48X.WAV", "", "", WavPcm(f, s, 48000, 2, a, 24, false, true)},
      {"T32S96.WAV", "", "", WavPcm(f, s, 96000, 2, a, 32, false, false)},
      {"TF32M22.WAV", "", "", WavPcm(f, s, 22050, 1, a, 32, true, false)},
      {"TF32S8X.WAV", "", "", WavPcm(f, s, 8000, 2, a, 32, true, true)},
      {"SOX16S48.WAV", "sox", "sox -n -r 48000 -c 2 -b 16 %s" + synth},
      {"SOX24M32.WAV", "sox", "sox -n -r 32000 -c 1 -b 24 %s" + synth},
      {"SOXF32S22.WAV", "sox", "sox -n -r 22050 -c 2 -b 32 -e floating-point %s" + synth},
      {"SOX08M11.WAV", "sox", "sox -n -r 11025 -c 1 -b 8 %s" + synth, {}, 0.3},
      {"SOX16M96.WAV", "sox", "sox -n -r 96000 -c 1 -b 16 %s" + synth},
      {"OGGS48.OGG", "oggenc", "sox -n -r 48000 -c 2 -b 16 %s.wav" + synth + " && oggenc -Q -q 6 -o %s %s.wav", {}, 0.5},
      {"OGGM22.OGG", "oggenc", "sox -n -r 22050 -c 1 -b 16 %s.wav" + synth + " && oggenc -Q -q 6 -o %s %s.wav", {}, 0.5},
      {"OGGS44.OGG", "oggenc", "sox -n -r 44100 -c 2 -b 16 %s.wav" + synth + " && oggenc -Q -q 6 -o %s %s.wav", {}, 0.5},
      {"ADPCM.WAV", "sox", "sox -n -r 22050 -c 1 -e ima-adpcm %s" + synth, {}, 0, "ADPCM"},
      {"SIX.WAV", "sox", "sox -n -r 44100 -c 6 -b 16 %s" + synth, {}, 0, "more than two channels"},
  };
  // A lying header: the format chunk says 12 bits a sample.
  std::vector<uint8_t> odd = WavPcm(f, 0.1, 44100, 2, a, 16, false, false);
  odd[34] = 12;
  v.push_back({"ODD.WAV", "", "", odd, 0, "integer samples other than"});
  std::vector<uint8_t> cut = WavPcm(f, 0.1, 44100, 2, a, 16, false, false);
  cut.resize(30);
  v.push_back({"CUT.WAV", "", "", cut, 0, "beyond the end"});
  return v;
}

std::string Expand(std::string cmd, const std::string& path) {
  for (size_t at; (at = cmd.find("%s")) != std::string::npos;) cmd.replace(at, 2, path);
  return cmd;
}

TEST_F(SoundFormatsTest, EveryLayoutPlaysAtItsPitchLengthAndLevelOrIsRefused) {
  const double sourceDb = 20 * std::log10(kAmplitude / std::sqrt(2.0));
  for (const Fixture& fx : Fixtures()) {
    SCOPED_TRACE(fx.name);
    const std::string path = dir_ + "/" + fx.name;
    if (!fx.tool.empty()) {
      if (!Have(fx.tool.c_str()) || !Have("sox")) {
        std::printf("[ skipped ] %s: %s is not installed\n", fx.name.c_str(), fx.tool.c_str());
        continue;
      }
      ASSERT_TRUE(Shell(Expand(fx.make, path))) << Expand(fx.make, path);
    } else {
      ASSERT_TRUE(fixture::WriteFile(path, fx.bytes));
    }
    for (int type : {2, 1}) {
      SCOPED_TRACE(type == 2 ? "streamed" : "static");
      std::string said;
      plat::SetDebugOutputSink([&said](std::string_view s) { said.append(s); });
      const KivSoundId id = KivSoundLoad(path.c_str(), type, nullptr);
      plat::SetDebugOutputSink(nullptr);
      if (!fx.refusal.empty()) {
        EXPECT_EQ(id, 0);
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_NE(said.find(fx.refusal), std::string::npos) << said;
        continue;
      }
      ASSERT_NE(id, 0) << said;
      ASSERT_EQ(KivSoundPlay(id, 0), 1);
      const Heard h = Measure(Render(static_cast<uint32_t>(kSeconds * 1000) + 700));
      std::printf("%-14s %-8s %8.3f Hz %6.3f s %7.2f dB (source %7.2f dB) peak %.3f\n", fx.name.c_str(),
                  type == 2 ? "streamed" : "static", h.hz, h.seconds, h.rmsDb, sourceDb, h.peak);
      EXPECT_NEAR(h.hz, kTone, 0.5);
      EXPECT_NEAR(h.seconds, kSeconds, 0.02);
      EXPECT_NEAR(h.rmsDb, sourceDb, fx.levelTolDb);
      EXPECT_LT(h.peak, kAmplitude * 1.06);  // never noise
      KivSoundRelease(id);
    }
  }
}

// The largest step between two neighbouring output samples, over the whole
// render, for a low tone whose own largest step is 0.36 % of full scale:
// starts, fades, volume changes, stops and a resampled effect's end add
// at most the mixer's ramp (1/256 of the sound's level).
TEST_F(SoundFormatsTest, StartsFadesStopsAndEndsDoNotClick) {
  const double ownStep = kAmplitude * 2 * M_PI * 50 / kRate;
  const double bound = 0.01;  // of full scale
  ASSERT_LT(ownStep + kAmplitude / 256, bound);
  const std::string music = dir_ + "/LOW48.WAV", effect = dir_ + "/LOW22.WAV";
  ASSERT_TRUE(fixture::WriteFile(music, fixture::WavPcm(50, 3.0, 48000, 2, kAmplitude, 16, false, false)));
  ASSERT_TRUE(fixture::WriteFile(effect, fixture::WavPcm(50, 0.515, 22050, 1, kAmplitude, 16, false, false)));
  std::vector<int16_t> all;
  auto keep = [&all](const std::vector<int16_t>& s) { all.insert(all.end(), s.begin(), s.end()); };
  const KivSoundId bgm = KivSoundLoad(music.c_str(), 2, nullptr);
  ASSERT_NE(bgm, 0);
  ASSERT_EQ(KivSoundPlay(bgm, 1), 1);  // the 10 ms play fade
  keep(Render(300));
  ASSERT_EQ(KivSoundSetVolumeChannel(bgm, 2000), 1);
  keep(Render(100));
  ASSERT_EQ(KivSoundSetVolumeChannel(bgm, 10000), 1);
  keep(Render(100));
  ASSERT_EQ(KivSoundStopFade(bgm, 200), 1);
  keep(Render(300));
  ASSERT_EQ(KivSoundPlayFade(bgm, 1, 100), 1);
  keep(Render(300));
  ASSERT_EQ(KivSoundStop(bgm), 1);
  keep(Render(100));
  const KivSoundId se = KivSoundLoad(effect.c_str(), 1, nullptr);
  ASSERT_NE(se, 0);
  ASSERT_EQ(KivSoundPlay(se, 0), 1);
  keep(Render(300));  // plays to its end
  ASSERT_EQ(KivSoundPlay(se, 0), 1);
  keep(Render(100));
  ASSERT_EQ(KivSoundStop(se), 1);  // stopped in the middle
  keep(Render(100));
  double worst = 0, loudest = 0;
  size_t at = 0;
  for (size_t i = 2; i < all.size(); ++i) {
    const double step = std::abs(all[i] - all[i - 2]) / 32768.0;
    loudest = std::max(loudest, std::abs(all[i]) / 32768.0);
    if (step > worst) {
      worst = step;
      at = i / 2;
    }
  }
  std::printf("largest step %.4f of full scale at frame %zu (tone's own %.4f, bound %.4f)\n", worst, at, ownStep, bound);
  EXPECT_GT(loudest, kAmplitude * 0.95);  // the sound was heard
  EXPECT_LT(worst, bound) << "at frame " << at;
}

}  // namespace
