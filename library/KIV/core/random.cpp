// The random table: pre-drawn numbers that debug mode hands out in order so
// a run's random choices can be saved and replayed. Numbers come from the
// 15-bit linear congruential sequence the game data expects of rand().
#include <atomic>
#include <ctime>

#include "core/fault_inject.h"
#include "platform/core/wall_clock.h"
#include "core/system_state.h"

namespace {
std::atomic<uint32_t> g_seed{1};

int Rand15() {
  uint32_t s = g_seed.load(std::memory_order_relaxed), n;
  do {
    n = s * 214013u + 2531011u;
  } while (!g_seed.compare_exchange_weak(s, n, std::memory_order_relaxed));
  return static_cast<int>((n >> 16) & 0x7FFF);
}

int NextFromTable(KivSystemState* s) {
  if (!s->randomTable || s->randomSize <= 0) return 0;
  if (s->randomCursor < 0 || s->randomCursor >= s->randomSize) s->randomCursor = 0;
  int v = s->randomTable[s->randomCursor];
  if (++s->randomCursor >= s->randomSize) s->randomCursor = 0;
  return v;
}
}  // namespace

void KivSeedRand(uint32_t seed) { g_seed.store(seed); }
int KivRand(void) { return Rand15(); }

int KivRandomInit(void) {
  if (KivFaultHit(KivFault::kRandom)) return 0;
  KivSystemState* s = g_kiv;
  // The wall clock's seconds: a scripted run's own day gives every run the
  // same draws.
  KivSeedRand(static_cast<uint32_t>(plat::WallClockSeconds()));
  int size = s->params.randomTableSize;
  if (size <= 0) return 0;
  s->randomTable = static_cast<int*>(KivMemoryAlloc(size * static_cast<int>(sizeof(int)), 0));
  if (!s->randomTable) return 0;
  for (int i = 0; i < size; ++i) s->randomTable[i] = Rand15();
  s->randomSize = size;
  s->randomCursor = 0;
  return 1;
}

void KivRandomRelease(void) {
  KivSystemState* s = g_kiv;
  KivMemoryFree(s->randomTable);
  s->randomTable = nullptr;
  s->randomSize = 0;
}

extern "C" KIV_API int KivRandom(void) {
  KivSystemState* s = g_kiv;
  if (s && s->params.debug) return NextFromTable(s);
  return Rand15();
}

extern "C" KIV_API int KivRandomEx(void) {
  KivSystemState* s = g_kiv;
  return s ? NextFromTable(s) : 0;
}

extern "C" KIV_API void KivRandomReset(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->randomTable) return;
  s->randomCursor = 0;
  for (int i = 0; i < s->randomSize; ++i) s->randomTable[i] = Rand15();
}

extern "C" KIV_API int KivRandomSetSeed(const int* values, int count) {
  KivSystemState* s = g_kiv;
  // A count of 0 or less would read past the caller's buffer: refuse it.
  if (!s || !s->randomTable || !values || count <= 0) return -1;
  int n = count < s->randomSize ? count : s->randomSize;
  s->randomCursor = 0;
  for (int i = 0; i < n; ++i) s->randomTable[i] = values[i];
  return n - 1;
}

extern "C" KIV_API int KivRandomGetSeed(int* out, int count) {
  KivSystemState* s = g_kiv;
  if (!s || !s->randomTable || !out || count <= 0) return 0;
  int n = count < s->randomSize ? count : s->randomSize;
  for (int i = 0; i < n; ++i) out[i] = s->randomTable[i];
  return n;
}
