// Counted heap blocks: every engine allocation goes through here so that the
// end of the run can report what was never freed.
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "platform/core/error.h"
#include "core/system_state.h"

void KivMemoryKeepLargeBlocks(void);
void KivMemoryKeepLargeBlocks(void) {
  // Pixel buffers of a few hundred KiB (text rows, a backlog page, load
  // buffers) are made and freed again and again: kept in the heap instead
  // of handed back to the system, a new one costs no page faults. Blocks of
  // 32 MiB and more still come from the system and go back to it.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

extern "C" KIV_API void* KivMemoryAlloc(int size, int flags) {
  if (size < 0) {
    plat::DebugOutput("MemoryAllocFail...\n");
    return nullptr;
  }
  void* p = (flags & 1) ? std::calloc(1, static_cast<size_t>(size ? size : 1))
                        : std::malloc(static_cast<size_t>(size ? size : 1));
  if (!p) {
    plat::DebugOutput("MemoryAllocFail...\n");
    return nullptr;
  }
  if (KivSystemState* s = g_kiv) s->liveAllocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

extern "C" KIV_API void KivMemoryFree(void* block) {
  if (!block) return;
  std::free(block);
  if (KivSystemState* s = g_kiv) s->liveAllocations.fetch_sub(1, std::memory_order_relaxed);
}

int KivMemoryLive(void) {
  KivSystemState* s = g_kiv;
  return s ? s->liveAllocations.load() : 0;
}

void KivLeakReport(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return;
  int live = s->liveAllocations.load();
  if (live > 0) KivErrorLogPrintf(KivText("メモリの解放忘れが %d 個あります"), live);
}
