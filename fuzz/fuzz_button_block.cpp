// The button block of a save on any input, read back with no engine
// running (every button image load fails, as when the files are gone): the
// block must be refused cleanly, or read whole and never past its end; what
// a refused rebuild made must go again, and what a read kept must save and
// be released cleanly.
#include <cstdint>
#include <span>
#include <vector>

#include "button/buttons.h"
#include "component_entries.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* record = new fuzzgame::Record();
  VmContext* ctx = record->ctx;
  std::vector<uint8_t> copy(data, data + size);  // exact size: a read past it is caught
  uint32_t cursor = 0;
  const bool ok = btn_restore(ctx, copy, &cursor);
  if (cursor > size || (!ok && cursor != 0)) __builtin_trap();
  if (!ok)
    for (const ButtonGroup& g : ctx->buttons.groups)
      if (g.initialised || g.engine) __builtin_trap();
  std::vector<uint8_t> out(1 << 20);
  uint32_t used = 0;
  btn_save(ctx, out, &used);
  if (used > out.size()) __builtin_trap();
  btn_release_all(ctx);
  return 0;
}
