// The pixel routines that run every frame of a transition (or once per
// option), on a 1280 x 720 picture, plain and vector variants side by side:
// the blur at three strengths, the soft filter, mask alpha, and the nearest
// and bilinear scales (the mosaic's down and up copies, the blur's up-scale).
// Times are milliseconds per call.
//
//   build/bench/pixel_bench
#include <benchmark/benchmark.h>

#include <vector>

#include "image_encoder.h"
#include "render/pixel_routines.h"

namespace {

constexpr int kW = 1280, kH = 720;

const std::vector<uint32_t>& Picture() {
  static const std::vector<uint32_t> px = kivtools::MakeTestPicture(kW, kH, 7).pixels;
  return px;
}

KivLoopVariant Variant(const benchmark::State& state) {
  return state.range(0) ? KivLoopVariant::kSimd : KivLoopVariant::kPlain;
}

void Report(benchmark::State& state) { state.SetLabel(state.range(0) ? "vector" : "plain"); }

void BM_Blur(benchmark::State& state) {
  std::vector<uint32_t> px = Picture();
  std::vector<uint32_t> work(KivPixelBlurWorkWords(kW, kH));
  const int k = static_cast<int>(state.range(1));
  for (auto _ : state) {
    KivPixelBlur(px.data(), kW, kH, kW, k, work.data(), Variant(state));
    benchmark::DoNotOptimize(px.data());
  }
  Report(state);
}
BENCHMARK(BM_Blur)->ArgsProduct({{0, 1}, {0, 3, 7}})->Unit(benchmark::kMillisecond);

void BM_SoftFilter(benchmark::State& state) {
  std::vector<uint32_t> px = Picture();
  for (auto _ : state) {
    KivPixelSoftFilter(px.data(), kW, kH, kW, Variant(state));
    benchmark::DoNotOptimize(px.data());
  }
  Report(state);
}
BENCHMARK(BM_SoftFilter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_MaskAlpha(benchmark::State& state) {
  std::vector<uint32_t> px = Picture();
  const std::vector<uint32_t> mask = kivtools::MakeTestPicture(kW, kH, 8).pixels;
  int t = 0;
  for (auto _ : state) {
    KivPixelMaskAlpha(px.data(), kW, mask.data(), kW, kW, kH, t, Variant(state));
    t = (t + 7) & 255;
    benchmark::DoNotOptimize(px.data());
  }
  Report(state);
}
BENCHMARK(BM_MaskAlpha)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The mosaic's pair of nearest copies at block 8: down by 1/8, up by 8.
void BM_ScaleCopyMosaic(benchmark::State& state) {
  const std::vector<uint32_t>& src = Picture();
  std::vector<uint32_t> small(static_cast<size_t>(kW) * kH), out(static_cast<size_t>(kW) * kH);
  for (auto _ : state) {
    int sw = 0, sh = 0;
    KivPixelScaleCopy(src.data(), kW, kH, kW, 1.0f / 8, 1.0f / 8, small.data(), kW, kH, kW / 8, &sw, &sh);
    KivPixelScaleCopy(small.data(), sw, sh, kW / 8, 8.0f, 8.0f, out.data(), kW, kH, kW);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state);
}
BENCHMARK(BM_ScaleCopyMosaic)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ScaleCopyHalf(benchmark::State& state) {
  const std::vector<uint32_t>& src = Picture();
  std::vector<uint32_t> out(static_cast<size_t>(kW / 2) * (kH / 2));
  for (auto _ : state) {
    KivPixelScaleCopy(src.data(), kW, kH, kW, 0.5f, 0.5f, out.data(), kW / 2, kH / 2, kW / 2);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state);
}
BENCHMARK(BM_ScaleCopyHalf)->Arg(0)->Unit(benchmark::kMillisecond);

// The blur's way back: a 640 x 360 picture over 1280 x 720.
void BM_BilinearDouble(benchmark::State& state) {
  const std::vector<uint32_t> src = kivtools::MakeTestPicture(kW / 2, kH / 2, 9).pixels;
  std::vector<uint32_t> out(static_cast<size_t>(kW) * kH);
  for (auto _ : state) {
    KivPixelScale(src.data(), kW / 2, kH / 2, kW / 2, 2.0f, 2.0f, out.data(), kW, kH, kW, Variant(state));
    benchmark::DoNotOptimize(out.data());
  }
  Report(state);
}
BENCHMARK(BM_BilinearDouble)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
