// A ".ani" file of arbitrary bytes loaded for a sprite record and run for
// 600 frames of 16 ms: no read outside the file, no hang, and everything
// freed at the end.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_motion_common.h"
#include "motion/motions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VmContext* ctx = fuzzmotion::Context();
  uint32_t t = 5000;
  fuzzmotion::SetTime(t);
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, 3);
  motion_load_image(ctx, r, std::span<const uint8_t>(data, size), "fuzz");
  for (int i = 0; i < 600 && ctx->motions.live; ++i) {
    t += 16;
    fuzzmotion::SetTime(t);
    std::memset(&r->t.frame, 0, sizeof r->t.frame);
    motion_frame(ctx);
  }
  motion_reset(ctx);
  sprite_record_release(ctx, r);
  if (motion_live_count(ctx) != 0 || ctx->motions.live) std::abort();
  return 0;
}
