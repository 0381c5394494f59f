// The cost of converting one second of music to the mixer's 44,100 Hz:
// our windowed-sinc resampler (the path every non-44.1 kHz stream and
// effect takes) beside libswresample converting the same float samples with
// its default filter. Each iteration converts one second of input, in the
// 4096-frame slices the stream fill reads.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <vector>

#include "platform/audio/resampler.h"

namespace {

constexpr int kSlice = 4096;

std::vector<float> Music(int rate, int channels) {
  std::vector<float> s(static_cast<size_t>(rate) * channels);
  for (int i = 0; i < rate; ++i)
    for (int c = 0; c < channels; ++c)
      s[static_cast<size_t>(i) * channels + c] =
          static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * i / rate) + 0.2 * std::sin(2 * M_PI * 3100 * i / rate + c));
  return s;
}

void Ours(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0)), channels = static_cast<int>(state.range(1));
  const std::vector<float> in = Music(rate, channels);
  plat::Resampler r(rate, 44100, channels);
  std::vector<float> out;
  out.reserve(44100 * 2 + 8192);
  for (auto _ : state) {
    out.clear();
    for (int at = 0; at < rate; at += kSlice)
      r.Push(in.data() + static_cast<size_t>(at) * channels, static_cast<size_t>(std::min(kSlice, rate - at)), &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["taps"] = r.taps();
  state.SetLabel("one second of music per iteration");
}

void Swr(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0)), channels = static_cast<int>(state.range(1));
  const std::vector<float> in = Music(rate, channels);
  AVChannelLayout layout;
  av_channel_layout_default(&layout, channels);
  SwrContext* swr = nullptr;
  swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLT, 44100, &layout, AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
  if (!swr || swr_init(swr) < 0) {
    state.SkipWithError("swr_init");
    return;
  }
  std::vector<float> out(static_cast<size_t>(44100 + 8192) * channels);
  for (auto _ : state) {
    int made = 0;
    for (int at = 0; at < rate; at += kSlice) {
      const uint8_t* src = reinterpret_cast<const uint8_t*>(in.data() + static_cast<size_t>(at) * channels);
      uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + static_cast<size_t>(made) * channels);
      const int n = swr_convert(swr, &dst, 44100 + 8192 - made, &src, std::min(kSlice, rate - at));
      if (n > 0) made += n;
      if (made > 44100) made = 0;
    }
    benchmark::DoNotOptimize(out.data());
  }
  swr_free(&swr);
  state.SetLabel("one second of music per iteration");
}

}  // namespace

// {input rate, channels}: the common music rates.
BENCHMARK(Ours)->Args({48000, 2})->Args({22050, 2})->Args({32000, 1})->Args({96000, 2})->Unit(benchmark::kMicrosecond);
BENCHMARK(Swr)->Args({48000, 2})->Args({22050, 2})->Args({32000, 1})->Args({96000, 2})->Unit(benchmark::kMicrosecond);
