// Script.src from any bytes: a refused file leaves the loaded script as it
// was; an accepted one has its entry inside the code and its labels
// resolve inside it or are refused.
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzgame::Record r;
  ScriptRecord& s = r.ctx->script;
  const fuzzgame::Snapshot before(s.code, s.codeSize);
  const uint32_t pc = s.pc;
  if (!script_load_image(r.ctx, std::span<const uint8_t>(data, size))) {
    if (!before.Same(s.code, s.codeSize) || s.pc != pc) __builtin_trap();
    return 0;
  }
  if (s.codeSize != size || s.pc > s.codeSize || s.pc < 12) __builtin_trap();
  for (uint32_t label = 0; label < 8; ++label) {
    uint32_t at = 0;
    if (label_pc(r.ctx, label, &at) && at > s.codeSize) __builtin_trap();
  }
  return 0;
}
