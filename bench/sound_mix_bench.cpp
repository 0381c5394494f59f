// One second of mixed output with 2 music streams (decoded from Ogg),
// 16 sound effects and 8 voices playing: our mixer, and SDL_mixer mixing
// the same decoded sounds at the same volumes (its mixing thread driven
// flat out by SDL's disk driver writing to /dev/null; the time is the CPU
// time of its mixing thread per second of output, counted callback by
// callback on the thread of this run and scaled to 44,100 frames; ours is the
// CPU column).
//   build/bench/sound_mix_bench
#include <benchmark/benchmark.h>

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <time.h>
#include <vector>

#include "platform/audio/audio.h"
#include "sound/sound.h"
#include "sound_fixture.h"

namespace {

struct Sound {
  std::vector<int16_t> pcm;  // 44,100 Hz stereo
  int db;                    // volume in hundredths of a dB
};

// Decodes an Ogg image made by our fixture writer, as the engine does.
std::vector<int16_t> DecodeOgg(const std::vector<uint8_t>& ogg) {
  auto* data = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(ogg.size()), 0));
  std::memcpy(data, ogg.data(), ogg.size());
  KivOggSource* s = KivOggOpenMemory(data, ogg.size());
  std::vector<int16_t> out(static_cast<size_t>(KivOggTotalBytes(s) / 2));
  size_t got = KivOggDecode(s, reinterpret_cast<uint8_t*>(out.data()), out.size() * 2);
  out.resize(got / 2);
  KivOggFree(s);
  return out;
}

const std::vector<Sound>& Sounds() {
  static std::vector<Sound> sounds = [] {
    std::vector<Sound> v;
    for (int i = 0; i < 2; ++i)
      v.push_back({DecodeOgg(fixture::Ogg(fixture::Sweep(100 + 50 * i, 4000, 4.0, 44100, 2, 0.4), 2, 44100, 0.4f)),
                   -310});
    for (int i = 0; i < 16; ++i) v.push_back({fixture::Sine(300 + 40 * i, 0.7, 44100, 2, 0.1), -602});
    for (int i = 0; i < 8; ++i) v.push_back({fixture::Sweep(200 + 20 * i, 900, 2.3, 44100, 2, 0.2), -194});
    return v;
  }();
  return sounds;
}

void OurMixer(benchmark::State& state) {
  plat::AudioMixer mixer;
  for (const Sound& s : Sounds()) {
    plat::AudioBuffer* b = mixer.CreateBuffer(plat::AudioFormat{2, 44100, 16}, static_cast<uint32_t>(s.pcm.size() * 2), 0);
    uint8_t *p1, *p2;
    uint32_t n1, n2;
    b->Lock(0, b->Size(), &p1, &n1, &p2, &n2);
    std::memcpy(p1, s.pcm.data(), n1);
    b->Unlock();
    b->SetVolume(s.db);
    b->Play(true);
  }
  std::vector<int16_t> out(1024 * 2);
  for (auto _ : state) {
    for (int done = 0; done < 44100; done += 1024) {
      mixer.Mix(out.data(), static_cast<size_t>(std::min(1024, 44100 - done)));
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetLabel("ms per second of output");
}
BENCHMARK(OurMixer)->Unit(benchmark::kMillisecond);

// Frames mixed and the mixing thread's CPU time spent on them. Each call of
// the benchmark opens SDL_mixer again on a new thread, so every callback
// adds only its own thread's CPU time since that thread's previous callback
// (the first callback of a thread sets its baseline and counts nothing).
std::atomic<uint64_t> g_mixed{0};
std::atomic<int64_t> g_cpu_ns{0};
std::atomic<int> g_callbacks{0};
void CountMixed(void*, Uint8*, int len) {
  thread_local int64_t last = -1;
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  const int64_t now = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  if (last >= 0) {
    g_cpu_ns.fetch_add(now - last);
    g_mixed.fetch_add(static_cast<uint64_t>(len) / 4);
  }
  last = now;
  g_callbacks.fetch_add(1);
}

void SdlMixer(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  if (SDL_Init(SDL_INIT_AUDIO) != 0 || Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 1024) != 0) {
    state.SkipWithError("SDL_mixer cannot open the disk driver");
    return;
  }
  const auto& sounds = Sounds();
  Mix_AllocateChannels(static_cast<int>(sounds.size()));
  std::vector<Mix_Chunk*> chunks;
  Mix_Pause(-1);
  for (size_t i = 0; i < sounds.size(); ++i) {
    Mix_Chunk* c = Mix_QuickLoad_RAW(reinterpret_cast<Uint8*>(const_cast<int16_t*>(sounds[i].pcm.data())),
                                     static_cast<Uint32>(sounds[i].pcm.size() * 2));
    chunks.push_back(c);
    // The same linear gain as the decibel volume, in SDL_mixer's 0..128.
    const int volume = static_cast<int>(std::lround(128.0 * plat::DecibelsToGain(sounds[i].db)));
    Mix_Volume(static_cast<int>(i), volume);
    Mix_PlayChannel(static_cast<int>(i), c, -1);
  }
  Mix_SetPostMix(CountMixed, nullptr);
  g_callbacks.store(0);
  Mix_Resume(-1);
  // The new thread's baseline first: its first two callbacks.
  while (g_callbacks.load() < 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
  for (auto _ : state) {
    const uint64_t start = g_mixed.load();
    const int64_t cpu0 = g_cpu_ns.load();
    while (g_mixed.load() < start + 44100) std::this_thread::sleep_for(std::chrono::microseconds(200));
    // Scaled to exactly 44,100 frames (the last callback overshoots).
    const double frames = static_cast<double>(g_mixed.load() - start);
    state.SetIterationTime(static_cast<double>(g_cpu_ns.load() - cpu0) * 1e-9 * 44100.0 / frames);
  }
  Mix_HaltChannel(-1);
  Mix_CloseAudio();
  for (Mix_Chunk* c : chunks) Mix_FreeChunk(c);
  SDL_Quit();
  state.SetLabel("ms per second of output");
}
BENCHMARK(SdlMixer)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
