// The script machine on a fuzzed Script.src, Point.dat and Mem.dat (with
// the base File.dat and Text.dat), run for a bounded number of frames and
// instructions per frame. Every command is bound to a stand-in that pops
// its fixed arguments and now and then yields, so only the machine itself
// runs: no crash, no hang, no sanitizer report.
//
// Input: u32 script length, u32 Point.dat length, then Script.src,
// Point.dat and Mem.dat (the rest).
#include "game_fuzz_support.h"

namespace {

constexpr int kFrames = 32;
constexpr uint32_t kStepsPerFrame = 2048;

int StandIn(VmContext* ctx) {
  static uint32_t calls = 0;
  const CommandInfo* info = command_info(ctx->script.commandWord);
  const int argc = info ? info->argc : 0;
  uint32_t sum = 0;  // wraps, as the machine's own arithmetic does
  for (int i = 0; i < argc; ++i) sum += static_cast<uint32_t>(value_stack_pop(ctx));
  command_set_result(ctx, static_cast<int32_t>(sum));
  if (++calls % 5 == 0) command_yield(ctx);
  return 1;
}

void BindStandIns() {
  for (const CommandGroupInfo& g : command_groups())
    for (uint16_t i = 0; i < g.slots; ++i)
      if (g.commands[i].name) command_bind_word(command_word(g.group, i), StandIn);
}

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint64_t script_len = U32(data), point_len = U32(data + 4);
  if (script_len + point_len > size - 8) return 0;
  const std::span<const uint8_t> rest(data + 8, size - 8);
  fuzzgame::Record r;
  if (!script_load_image(r.ctx, rest.subspan(0, script_len))) return 0;
  if (!table_load_image(r.ctx, DataTable::kPoint, rest.subspan(script_len, point_len))) return 0;
  if (!table_load_image(r.ctx, DataTable::kMem, rest.subspan(script_len + point_len))) return 0;
  BindStandIns();
  for (int frame = 0; frame < kFrames && r.ctx->script.pc != r.ctx->script.codeSize; ++frame) {
    r.ctx->script.stepLimit = kStepsPerFrame;
    script_run(r.ctx);
  }
  return 0;
}
