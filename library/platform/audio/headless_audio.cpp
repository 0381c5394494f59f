// Headless sound device: the mixer rendered offline, as far as the
// millisecond clock has moved since the device opened. On the virtual clock
// nothing plays until a test advances time, and then exactly that much is
// rendered. What is rendered can be kept in memory and written to a WAV file.
// Lacks: any audible output.
#include <cstdio>
#include <mutex>

#include "platform/audio/audio.h"
#include "platform/core/clock.h"
#include "platform/core/scripted_run.h"

namespace plat {

namespace {

std::mutex g_capture_lock;
bool g_capturing = false;
std::vector<int16_t> g_capture;
FILE* g_wav = nullptr;
uint32_t g_wav_bytes = 0;

void PatchWavSizes() {
  if (!g_wav) return;
  std::vector<uint8_t> head = WavImage(nullptr, 0, kMixChannels, kMixRate);
  std::fseek(g_wav, 0, SEEK_SET);
  head[4] = head[40] = 0;
  uint32_t riff = 36 + g_wav_bytes;
  for (int i = 0; i < 4; ++i) {
    head[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    head[40 + i] = static_cast<uint8_t>(g_wav_bytes >> (8 * i));
  }
  std::fwrite(head.data(), 1, head.size(), g_wav);
  std::fseek(g_wav, 0, SEEK_END);
  std::fflush(g_wav);
}

void Keep(const int16_t* samples, size_t count) {
  std::lock_guard<std::mutex> g(g_capture_lock);
  if (g_capturing) g_capture.insert(g_capture.end(), samples, samples + count);
  if (g_wav && std::fwrite(samples, sizeof(int16_t), count, g_wav) == count)
    g_wav_bytes += static_cast<uint32_t>(count * sizeof(int16_t));
}

class HeadlessAudio : public AudioDevice {
 public:
  HeadlessAudio() : start_(TimeGetMs()) {}
  ~HeadlessAudio() override {
    std::lock_guard<std::mutex> g(g_capture_lock);
    PatchWavSizes();
  }
  const char* Name() const override { return "headless"; }
  void Pump() override {
    std::lock_guard<std::mutex> g(pump_lock_);
    const uint64_t elapsed = static_cast<uint32_t>(TimeGetMs() - start_);
    const uint64_t target = elapsed * kMixRate / 1000;
    while (rendered_ < target) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(target - rendered_, kChunk));
      mixer_.Mix(chunk_, n);
      Keep(chunk_, n * 2);
      rendered_ += n;
    }
  }

 private:
  static constexpr size_t kChunk = 441;
  std::mutex pump_lock_;
  uint32_t start_;
  uint64_t rendered_ = 0;
  int16_t chunk_[kChunk * 2];
};

}  // namespace

std::unique_ptr<AudioDevice> HeadlessAudioOpen() {
  // A scripted run's sound capture: the whole run's mix, from the device's
  // first sample to its close.
  static bool started = false;
  const std::string& wav = ScriptedRunSettings().captureSound;
  if (!wav.empty() && !started) {
    started = true;
    HeadlessAudioWavFile(wav);
    std::lock_guard<std::mutex> g(g_capture_lock);
    if (!g_wav) std::fprintf(stderr, "scripted run: the sound cannot be written to %s\n", wav.c_str());
  }
  return std::make_unique<HeadlessAudio>();
}

void HeadlessAudioCapture(bool on) {
  std::lock_guard<std::mutex> g(g_capture_lock);
  g_capturing = on;
  if (!on) g_capture.clear();
}

std::vector<int16_t> HeadlessAudioTake() {
  std::lock_guard<std::mutex> g(g_capture_lock);
  std::vector<int16_t> out;
  out.swap(g_capture);
  return out;
}

void HeadlessAudioWavFile(const std::string& path) {
  std::lock_guard<std::mutex> g(g_capture_lock);
  if (g_wav) {
    PatchWavSizes();
    std::fclose(g_wav);
    g_wav = nullptr;
  }
  g_wav_bytes = 0;
  if (path.empty()) return;
  g_wav = std::fopen(path.c_str(), "wb");
  if (!g_wav) return;
  std::vector<uint8_t> head = WavImage(nullptr, 0, kMixChannels, kMixRate);
  std::fwrite(head.data(), 1, head.size(), g_wav);
}

}  // namespace plat
