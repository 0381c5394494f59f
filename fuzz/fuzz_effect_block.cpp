// The screen-effect and layer-raster blocks of a save on any input, read
// back with no engine running (every sprite load and wave is refused, as in
// a failed load), stepped a frame, saved again and released. A block must
// be refused cleanly or consumed whole, never read past.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "component_entries.h"
#include "effect/screen_effects.h"
#include "start/game_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  std::vector<uint8_t> copy(data, data + size);  // exact size: a read past it is caught
  std::span<const uint8_t> block(copy);
  uint32_t cursor = 0;
  effect_restore(ctx, block, &cursor);
  if (cursor > size) __builtin_trap();
  const uint32_t mid = cursor;
  fx_restore(ctx, block, &cursor);
  if (cursor > size || cursor < mid) __builtin_trap();
  effect_frame(ctx);
  std::vector<uint8_t> out(4096);
  uint32_t used = 0;
  effect_save(ctx, out, &used);
  fx_save(ctx, out, &used);
  effect_release(ctx);
  fx_free(ctx);
  return 0;
}
