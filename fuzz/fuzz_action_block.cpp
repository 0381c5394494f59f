// The action block of a save from arbitrary bytes: the reader refuses what
// no save could hold, and what it accepts runs for 200 frames and is freed
// with every run record.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_motion_common.h"
#include "motion/actions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VmContext* ctx = fuzzmotion::Context();
  uint32_t t = 5000;
  fuzzmotion::SetTime(t);
  const int live = KivMemoryLive();
  uint32_t cursor = 0;
  if (action_restore(ctx, std::span<const uint8_t>(data, size), &cursor)) {
    if (cursor > size) std::abort();
    for (int i = 0; i < 200; ++i) {
      t += 16;
      fuzzmotion::SetTime(t);
      action_frame(ctx);
    }
  }
  action_free(ctx);
  ctx->script.pointDepth = 0;
  if (KivMemoryLive() != live) std::abort();
  return 0;
}
