// Decoding a 1280x720 picture: GE in every method and difference images,
// beside libpng decoding the same picture from PNG into the same pixel
// layout, all into preallocated buffers.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <vector>

#include "image/image_decode.h"
#include "image_encoder.h"

namespace {

using kivtools::Image;
using Bytes = std::vector<uint8_t>;

constexpr int kW = 1280, kH = 720;

struct Fixture {
  Image picture;  // the base picture
  Image tinted;   // the same scene in another light: changes every pixel
  Image blink;    // a 320 x 300 region redrawn, as for a changed expression
  Bytes png, tintedPng, blinkPng;
  Bytes ge1, ge2, ge3_24, ge3_32, geRaw;
  Bytes pgdTint24, pgdTint32, pgdBlink32;
};

Image Tint(const Image& src) {
  Image out = src;
  for (auto& p : out.pixels) {
    const uint32_t r = ((p >> 16) & 255) * 7 / 8, g = ((p >> 8) & 255) * 3 / 4, b = (p & 255) * 5 / 8 + 20;
    p = (p & 0xFF000000u) | r << 16 | g << 8 | (b > 255 ? 255 : b);
  }
  return out;
}

const Fixture& F() {
  static const Fixture f = [] {
    Fixture x;
    x.picture = kivtools::MakeTestPicture(kW, kH, 1);
    x.tinted = Tint(x.picture);
    x.blink = x.picture;
    const Image other = Tint(kivtools::MakeTestPicture(kW, kH, 2));
    for (int y = 200; y < 500; ++y)
      for (int i = 640; i < 960; ++i) x.blink.pixels[y * kW + i] = other.pixels[y * kW + i];
    kivtools::EncodePng(x.picture, &x.png);
    kivtools::EncodePng(x.tinted, &x.tintedPng);
    kivtools::EncodePng(x.blink, &x.blinkPng);
    auto ge = [&](int method, int bpp) {
      kivtools::GeOptions o;
      o.method = method;
      o.bpp = bpp;
      return kivtools::EncodeGe(x.picture, o);
    };
    x.ge1 = ge(1, 32);
    x.ge2 = ge(2, 32);
    x.ge3_24 = ge(3, 24);
    x.ge3_32 = ge(3, 32);
    x.geRaw = ge(0, 32);
    auto pgd = [&](const Image& changed, int bpp) {
      Bytes out;
      std::string err;
      kivtools::PgdOptions o;
      o.bpp = bpp;
      o.baseName = "BASE.GE";
      kivtools::EncodePgd(x.picture, changed, o, &out, &err);
      return out;
    };
    x.pgdTint24 = pgd(x.tinted, 24);
    x.pgdTint32 = pgd(x.tinted, 32);
    x.pgdBlink32 = pgd(x.blink, 32);
    return x;
  }();
  return f;
}

Bytes& Work() {
  static Bytes work(kKivGeWorkSize);
  return work;
}

void GeDecode(benchmark::State& state, const Bytes& file, KivLoopVariant v) {
  std::vector<uint32_t> dest(static_cast<size_t>(kW) * kH);
  for (auto _ : state) {
    if (!KivGeDecode(file, dest, kW, Work(), v)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(dest.data());
  }
  state.counters["file_KiB"] = static_cast<double>(file.size()) / 1024;
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}

void PgdApply(benchmark::State& state, const Bytes& file, KivLoopVariant v) {
  static Bytes load(2 * kKivPgdWorkSize + 1);
  std::vector<uint32_t> pixels = F().picture.pixels;
  for (auto _ : state) {
    KivPgdHeader head;
    if (!KivPgdReadHeader(file, &head) ||
        !KivPgdUnpack(file, head, {load.data() + kKivPgdWorkOffset, kKivPgdWorkSize}) ||
        !KivPgdApply(head, {load.data() + kKivPgdWorkOffset, head.unpackedSize}, {load.data(), kKivPgdWorkOffset},
                     pixels, kW, kH, kW, v))
      state.SkipWithError("apply failed");
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["file_KiB"] = static_cast<double>(file.size()) / 1024;
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}

// The LZ unpack alone, to see what the pixel loops add.
void GeUnpackOnly(benchmark::State& state, const Bytes& file) {
  KivGeHeader h;
  KivGeReadHeader(file, &h);
  const std::span<const uint8_t> stream = std::span<const uint8_t>(file).subspan(h.headSize + 8);
  for (auto _ : state) {
    if (!KivGeUnpack(std::span<uint8_t>(Work()).first(h.unpackedSize), stream)) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(Work().data());
  }
  state.SetBytesProcessed(state.iterations() * h.unpackedSize);
}

// libpng's simplified reader straight into B, G, R, A words.
void PngDecode(benchmark::State& state, const Bytes& file) {
  std::vector<uint32_t> dest(static_cast<size_t>(kW) * kH);
  for (auto _ : state) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, file.data(), file.size())) state.SkipWithError("png head");
    img.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&img, nullptr, dest.data(), 0, nullptr)) state.SkipWithError("png data");
    benchmark::DoNotOptimize(dest.data());
  }
  state.counters["file_KiB"] = static_cast<double>(file.size()) / 1024;
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}

void Register() {
  const Fixture& f = F();
  struct Ge {
    const char* name;
    const Bytes* file;
  };
  for (Ge g : {Ge{"planar", &f.ge1}, Ge{"ycbcr", &f.ge2}, Ge{"line24", &f.ge3_24}, Ge{"line32", &f.ge3_32},
               Ge{"raw", &f.geRaw}}) {
    const Bytes* file = g.file;
    benchmark::RegisterBenchmark((std::string("GE/") + g.name + "/plain").c_str(),
                                 [file](benchmark::State& s) { GeDecode(s, *file, KivLoopVariant::kPlain); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("GE/") + g.name + "/simd").c_str(),
                                 [file](benchmark::State& s) { GeDecode(s, *file, KivLoopVariant::kSimd); })
        ->Unit(benchmark::kMillisecond);
  }
  for (Ge g : {Ge{"planar", &f.ge1}, Ge{"ycbcr", &f.ge2}, Ge{"line24", &f.ge3_24}, Ge{"line32", &f.ge3_32}}) {
    const Bytes* file = g.file;
    benchmark::RegisterBenchmark((std::string("LZ/") + g.name).c_str(),
                                 [file](benchmark::State& s) { GeUnpackOnly(s, *file); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("PNG/picture", [](benchmark::State& s) { PngDecode(s, F().png); })
      ->Unit(benchmark::kMillisecond);
  for (Ge g : {Ge{"tint24", &f.pgdTint24}, Ge{"tint32", &f.pgdTint32}, Ge{"blink32", &f.pgdBlink32}}) {
    const Bytes* file = g.file;
    benchmark::RegisterBenchmark((std::string("PGD/") + g.name + "/plain").c_str(),
                                 [file](benchmark::State& s) { PgdApply(s, *file, KivLoopVariant::kPlain); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("PGD/") + g.name + "/simd").c_str(),
                                 [file](benchmark::State& s) { PgdApply(s, *file, KivLoopVariant::kSimd); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("PNG/tinted", [](benchmark::State& s) { PngDecode(s, F().tintedPng); })
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PNG/blink", [](benchmark::State& s) { PngDecode(s, F().blinkPng); })
      ->Unit(benchmark::kMillisecond);
}

const int kRegistered = (Register(), 0);

}  // namespace
