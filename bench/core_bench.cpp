// Per-frame costs of the engine core: a task walk over a full pool, the
// counted allocator, and the keyed list as the game uses it (a queue).
#include <benchmark/benchmark.h>

#include "core/system_state.h"

namespace {

int Nop(void* data) {
  ++*static_cast<int*>(data);
  return 1;
}

void BM_TaskWalk256(benchmark::State& state) {
  KivSystemState s;
  g_kiv = &s;
  KivTaskInit();
  for (int i = 0; i < 256; ++i) KivTaskCreate(Nop, nullptr, sizeof(int), nullptr, KIV_TASK_BEHIND, nullptr, "n");
  for (auto _ : state) KivTaskWalkRoot();
  state.SetItemsProcessed(state.iterations() * 256);
  KivTaskUninit();
  g_kiv = nullptr;
}
BENCHMARK(BM_TaskWalk256);

void BM_MemoryAllocFree(benchmark::State& state) {
  KivSystemState s;
  g_kiv = &s;
  for (auto _ : state) {
    void* p = KivMemoryAlloc(64, 0);
    benchmark::DoNotOptimize(p);
    KivMemoryFree(p);
  }
  g_kiv = nullptr;
}
BENCHMARK(BM_MemoryAllocFree);

void BM_ListQueue(benchmark::State& state) {
  KivSystemState s;
  g_kiv = &s;
  KivList* l = KivListCreate();
  for (auto _ : state) {
    for (int i = 1; i <= 16; ++i) KivListPushLast(l, i, 1);
    for (int i = 1; i <= 16; ++i) benchmark::DoNotOptimize(KivListPop(l, 1));
  }
  KivListRelease(l);
  g_kiv = nullptr;
}
BENCHMARK(BM_ListQueue);

}  // namespace
