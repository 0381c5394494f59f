// Save-slot thumbnails of a 1280 x 720 picture at 80 x 60 and 320 x 180,
// plain and as a mosaic of 4, by the engine (KivThumbnailCreateEx and
// KivThumbnailCreateMosaicEx) beside pixman's nearest scaling doing the same
// copies (one composite for plain, two for the mosaic). Times are
// microseconds per thumbnail; the ratio is engine time / pixman time.
//
//   build/bench/thumbnail_bench
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <vector>

#include "image_encoder.h"
#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"

namespace {

constexpr int kW = 1280, kH = 720;
constexpr int kBlock = 4;

const std::vector<uint32_t>& Picture() {
  static const std::vector<uint32_t> px = kivtools::MakeTestPicture(kW, kH, 3).pixels;
  return px;
}

int Started() { return 1; }

// The thumbnail calls work while the engine runs: a headless one.
void EnsureEngine() {
  static const bool started = [] {
    plat::UseHeadless(true);
    plat::UseVirtualClock(true, 1000);
    KivSystemParameters p;
    KivDefaultCreate(&p);
    p.title = "bench";
    p.clientWidth = p.screenWidth = kW;
    p.clientHeight = p.screenHeight = kH;
    p.mode &= ~KIV_MODE_GPU;
    p.startCallback = Started;
    return KivInit(&p) == 1;
  }();
  if (!started) std::abort();
}

void BM_Engine(benchmark::State& state) {
  EnsureEngine();
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const bool mosaic = state.range(2) != 0;
  std::vector<uint32_t> dst(static_cast<size_t>(w) * h);
  const std::vector<uint32_t>& src = Picture();
  for (auto _ : state) {
    const int ok = mosaic ? KivThumbnailCreateMosaicEx(dst.data(), w, h, src.data(), kW, kH, kBlock)
                          : KivThumbnailCreateEx(dst.data(), w, h, src.data(), kW, kH);
    if (!ok) state.SkipWithError("refused");
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetLabel(mosaic ? "mosaic" : "plain");
}

// One nearest-neighbour composite of sw x sh into dw x dh.
void PixmanScale(uint32_t* src, int sw, int sh, uint32_t* dst, int dw, int dh) {
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, sw, sh, src, sw * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, dst, dw * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(static_cast<double>(sw) / dw),
                              pixman_double_to_fixed(static_cast<double>(sh) / dh));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void BM_Pixman(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const bool mosaic = state.range(2) != 0;
  std::vector<uint32_t> src = Picture();
  std::vector<uint32_t> dst(static_cast<size_t>(w) * h);
  const int w1 = w / kBlock, h1 = h / kBlock;
  std::vector<uint32_t> cells(static_cast<size_t>(w1) * h1);
  for (auto _ : state) {
    if (mosaic) {
      PixmanScale(src.data(), kW, kH, cells.data(), w1, h1);
      PixmanScale(cells.data(), w1, h1, dst.data(), w, h);
    } else {
      PixmanScale(src.data(), kW, kH, dst.data(), w, h);
    }
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetLabel(mosaic ? "mosaic" : "plain");
}

BENCHMARK(BM_Engine)->ArgsProduct({{80}, {60}, {0, 1}})->Args({320, 180, 0})->Args({320, 180, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixman)->ArgsProduct({{80}, {60}, {0, 1}})->Args({320, 180, 0})->Args({320, 180, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
