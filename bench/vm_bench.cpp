// Core instructions per second of the script machine on a long assembled
// loop (arithmetic, memory operands, a compare and two jumps per turn), and
// command calls per second through the dispatch tables:
//   build/bench/vm_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "assembler.h"
#include "start/game_record.h"
#include "kiv.h"
#include "data/script_tables.h"
#include "vm/vm.h"

namespace {

constexpr int kTurns = 100000;
constexpr int kInstructionsPerTurn = 11;

const std::string kLoop = R"(
    mov r1, 0
    mov r4, 10
loop:
    add r1, 1
    mov r2, r1
    and r2, 15
    add u[r4], r2
    mov t[r2 + 3], r1
    xor r3, r2
    mul r3, 3
    mov r5, r1
    lt r5, )" + std::to_string(kTurns) + R"(
    jz @done, r5
    jmp @loop
done:
)";

const std::string kCalls = R"(
    mov r1, 0
loop:
    call ret_one -> r2
    add r1, r2
    mov r5, r1
    lt r5, )" + std::to_string(kTurns) + R"(
    jz @done, r5
    jmp @loop
done:
)";

struct Loaded {
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  explicit Loaded(const std::string& source) {
    kasm::Output out;
    std::string error;
    if (!kasm::Assemble(source, "bench.kas", &out, &error)) std::abort();
    vm_context_attach(record.get());
    ctx->gameList = KivListCreate();
    if (!script_load_image(ctx, out.script) || !table_load_image(ctx, DataTable::kFile, out.file) ||
        !table_load_image(ctx, DataTable::kText, out.text) || !table_load_image(ctx, DataTable::kMem, out.mem) ||
        !table_load_image(ctx, DataTable::kPoint, out.point))
      std::abort();
  }
  ~Loaded() {
    game_reset(ctx);
    KivListRelease(ctx->gameList);
    script_free(ctx);
    data_tables_free(ctx);
  }
};

void BM_CoreInstructions(benchmark::State& state) {
  Loaded m(kLoop);
  for (auto _ : state) {
    m.ctx->script.pc = m.ctx->script.entryPc;
    script_run(m.ctx);
    benchmark::DoNotOptimize(m.ctx->registers[3]);
  }
  if (m.ctx->registers[1] != kTurns) state.SkipWithError("the loop did not run to its end");
  state.SetItemsProcessed(state.iterations() * (2 + int64_t{kTurns} * kInstructionsPerTurn));
  state.counters["instructions/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * (2 + double{kTurns} * kInstructionsPerTurn),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CoreInstructions)->Unit(benchmark::kMillisecond);

int RetOne(VmContext* ctx) {
  command_set_result(ctx, 1);
  return 1;
}

void BM_CommandCalls(benchmark::State& state) {
  vm_commands_install();
  command_bind("ret_one", RetOne);
  Loaded m(kCalls);
  for (auto _ : state) {
    m.ctx->script.pc = m.ctx->script.entryPc;
    m.ctx->registers[1] = 0;
    script_run(m.ctx);
  }
  if (m.ctx->registers[1] != kTurns) state.SkipWithError("the loop did not run to its end");
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kTurns, benchmark::Counter::kIsRate);
  command_bind("ret_one", nullptr);
}
BENCHMARK(BM_CommandCalls)->Unit(benchmark::kMillisecond);

}  // namespace
