// Two renderers' frames of one scene compared within the tolerance the
// parity tests hold them to, with a difference image for a frame that fails.
//
// A frame passes when at most 0.5 % of its pixels differ by more than 8 in
// any colour channel and no 16 x 16 block differs by more than 6 on average
// (the mean of the three channels' absolute differences). Why these: the
// software blend loses up to 3 levels per blended layer (p * 255 >> 8, then
// its alpha the same way), so a few stacked layers part by up to 8 levels
// everywhere they cover, and a full-screen transition lays two blended
// pictures over each other (4.7 on average over a block, measured); turned,
// scaled and waved edges fall a pixel apart, which is a thin line of
// pixels, far below 0.5 %; anything drawn in the wrong place, size or
// colour moves whole blocks by far more, which the block mean sees.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"

namespace kivtest {

struct FrameParity {
  bool ok = false;
  double farShare = 0;    // share of pixels differing by more than 8 in a channel
  double worstBlock = 0;  // largest mean difference of a 16 x 16 block
  int worstBlockX = 0, worstBlockY = 0;
  std::string Describe() const {
    return "pixels off by more than 8: " + std::to_string(farShare * 100) + " %, worst 16x16 block mean " +
           std::to_string(worstBlock) + " at (" + std::to_string(worstBlockX) + ", " + std::to_string(worstBlockY) +
           ")";
  }
};

inline int ParityChannelDiff(uint32_t a, uint32_t b, int sh) {
  return std::abs(static_cast<int>((a >> sh) & 0xFF) - static_cast<int>((b >> sh) & 0xFF));
}

// a and b: w x h frames (only the colour is compared). On failure (or
// always, with KIV_PARITY_DUMP=1) the two frames and a difference image
// (grey: 8 times the largest channel difference) go to dumpBase + "_soft.png",
// "_gpu.png" and "_diff.png".
inline FrameParity CompareFrames(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int w, int h,
                                 const std::string& dumpBase) {
  FrameParity r;
  if (w <= 0 || h <= 0 || a.size() != static_cast<size_t>(w) * h || b.size() != a.size()) return r;
  size_t far = 0;
  std::vector<uint32_t> diff(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    int worst = 0;
    for (int sh = 0; sh < 24; sh += 8) worst = std::max(worst, ParityChannelDiff(a[i], b[i], sh));
    far += worst > 8;
    const uint32_t g = static_cast<uint32_t>(std::min(255, worst * 8));
    diff[i] = 0xFF000000u | g << 16 | g << 8 | g;
  }
  r.farShare = static_cast<double>(far) / static_cast<double>(a.size());
  for (int by = 0; by < h; by += 16)
    for (int bx = 0; bx < w; bx += 16) {
      double sum = 0;
      int n = 0;
      for (int y = by; y < std::min(h, by + 16); ++y)
        for (int x = bx; x < std::min(w, bx + 16); ++x) {
          const size_t i = static_cast<size_t>(y) * w + x;
          for (int sh = 0; sh < 24; sh += 8) sum += ParityChannelDiff(a[i], b[i], sh);
          n += 3;
        }
      const double mean = sum / n;
      if (mean > r.worstBlock) {
        r.worstBlock = mean;
        r.worstBlockX = bx;
        r.worstBlockY = by;
      }
    }
  r.ok = r.farShare <= 0.005 && r.worstBlock <= 6.0;
  const char* always = std::getenv("KIV_PARITY_DUMP");
  if (!r.ok || (always && std::string(always) == "1")) {
    plat::CapturePng(dumpBase + "_soft.png", a.data(), w, h, w);
    plat::CapturePng(dumpBase + "_gpu.png", b.data(), w, h, w);
    plat::CapturePng(dumpBase + "_diff.png", diff.data(), w, h, w);
  }
  return r;
}

}  // namespace kivtest
