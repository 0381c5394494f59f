// config.dat from any bytes: each word is taken or the parameter keeps its
// own value; sizes, adapter, aspect and sync stay in their ranges, and what
// is written back reads back to the same parameters.
#include <cstdint>
#include <cstring>

#include "data/config_dat.h"

namespace {

bool Same(const KivSystemParameters& a, const KivSystemParameters& b) {
  return a.x == b.x && a.y == b.y && a.clientWidth == b.clientWidth && a.clientHeight == b.clientHeight &&
         a.mode == b.mode && a.adapter == b.adapter && a.aspect == b.aspect && a.pacing == b.pacing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KivSystemParameters p{};
  p.clientWidth = 1280;
  p.clientHeight = 720;
  p.mode = 0x441B;
  p.aspect = 1;
  p.pacing = 2;
  const KivSystemParameters before = p;
  config_apply(data, size, &p);
  if (size < 4 && !Same(p, before)) __builtin_trap();
  if (p.clientWidth < 1 || p.clientWidth > 16384 || p.clientHeight < 1 || p.clientHeight > 16384 ||
      p.adapter < 0 || p.adapter > 63 || p.aspect < 0 || p.aspect > 3 || p.pacing < 0 || p.pacing > 2)
    __builtin_trap();
  uint8_t out[32];
  config_bytes(p, out);
  KivSystemParameters back{};
  config_apply(out, sizeof out, &back);
  if (!Same(p, back)) __builtin_trap();
  return 0;
}
