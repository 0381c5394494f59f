// Save and load: a full snapshot (taken at every shown line, so it must stay
// well under a frame), a slot write with its flush and rename, and a load
// checked whole and restored, of a small state and of a large one (every
// action slot running all its lines, a full backlog: 440 KB of blocks).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "assembler.h"
#include "component_entries.h"
#include "data/script_tables.h"
#include "history/history.h"
#include "kiv.h"
#include "motion/actions.h"
#include "save/save.h"
#include "start/game_record.h"
#include "vm/vm.h"

namespace {

struct Game {
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  std::string dir;
  Game() {
    kasm::Output out;
    std::string error;
    if (!kasm::Assemble("line:\n    mov r1, 1\nmore:\n    mov r2, 2\n", "bench.kas", &out, &error)) std::abort();
    vm_context_attach(record.get());
    ctx->gameList = KivListCreate();
    if (!script_load_image(ctx, out.script) || !table_load_image(ctx, DataTable::kFile, out.file) ||
        !table_load_image(ctx, DataTable::kText, out.text) || !table_load_image(ctx, DataTable::kMem, out.mem) ||
        !table_load_image(ctx, DataTable::kPoint, out.point) || !save_init(ctx))
      std::abort();
    for (int i = 0; i < kUserMemoryWords; ++i) ctx->userMemory[i] = i * 3;
    for (int i = 0; i < 8; ++i) return_point_push(ctx, kGameListReturnPoints, out.labelPc.at("more"), 0);
    char tmpl[] = "/tmp/kivsavebenchXXXXXX";
    dir = mkdtemp(tmpl);
  }
  ~Game() {
    game_reset(ctx);
    save_buffers_free(ctx);
    KivListRelease(ctx->gameList);
    script_free(ctx);
    data_tables_free(ctx);
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) std::perror("rm");
  }
};

void BM_Snapshot(benchmark::State& state) {
  Game g;
  for (auto _ : state) {
    if (!save_snapshot_build(g.ctx, g.ctx->script.pc)) state.SkipWithError("snapshot failed");
    benchmark::DoNotOptimize(g.ctx->save.used);
  }
  state.counters["bytes"] = g.ctx->save.used;
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond);

void BM_SlotWrite(benchmark::State& state) {
  Game g;
  save_snapshot_build(g.ctx, g.ctx->script.pc);
  const std::string path = g.dir + "/save000.dat";
  for (auto _ : state)
    if (!save_file_write(g.ctx, path.c_str())) state.SkipWithError("write failed");
}
BENCHMARK(BM_SlotWrite)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
  Game g;
  save_snapshot_build(g.ctx, g.ctx->script.pc);
  const std::string path = g.dir + "/save000.dat";
  save_file_write(g.ctx, path.c_str());
  for (auto _ : state)
    if (!save_file_read(g.ctx, path.c_str())) state.SkipWithError("load failed");
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The largest state a save holds: 8 running action slots of 32 lines of 32
// steps and 128 backlog lines.
void FillLarge(VmContext* ctx) {
  for (int n = 0; n < kActionSlotCount; ++n) {
    ActionSlot& s = ctx->actions.slots[n];
    s.running = 1;
    s.state = kActionRun;
    s.timeOrCount = 60000;
    s.linesInUse = kActionLineCount;
    for (ActionLine& l : s.lines) {
      l.count = kActionStepCount;
      for (ActionStep& st : l.steps) {
        st.type = kStepWait;
        st.target = -1;
        st.duration = 1000;
      }
    }
  }
  for (int i = 0; i < 128; ++i)
    history_entry_add(&ctx->history, "\x83\x41\x83\x49\x83\x43", std::string(200, 'a' + i % 26).c_str(), "V001");
}

void BM_LoadLargeState(benchmark::State& state) {
  Game g;
  FillLarge(g.ctx);
  save_snapshot_build(g.ctx, g.ctx->script.pc);
  const std::string path = g.dir + "/save000.dat";
  save_file_write(g.ctx, path.c_str());
  for (auto _ : state)
    if (!save_file_read(g.ctx, path.c_str())) state.SkipWithError("load failed");
  state.counters["bytes"] = g.ctx->save.used;
}
BENCHMARK(BM_LoadLargeState)->Unit(benchmark::kMillisecond);

}  // namespace
