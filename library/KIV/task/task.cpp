// Tasks, waits and render lists: what runs each frame and what the render
// pass draws, in which order. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Tasks and waits. A fixed pool of records; each live task takes two slots,
// itself and the head of its child list. The game thread walks the tree
// once a frame, children before their parent.
#include <cstring>
#include <new>

#include "core/fault_inject.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "core/system_state.h"

namespace {

constexpr uint8_t kFree = 0, kRunning = 1, kReleasing = 2, kChildHead = 3;
constexpr uint8_t kInRelease = 0xFE;  // release procedure running; not a walkable state

KivTaskPool& Pool() { return g_kiv->tasks; }

KivTask* TakeSlot() {
  KivTaskPool& p = Pool();
  for (int step = 0; step < p.size; ++step) {
    KivTask* t = &p.slots[p.cursor];
    if (++p.cursor >= p.size) p.cursor = 0;
    if (t->state == kFree) return t;
  }
  return nullptr;
}

KivTask* Resolve(KivTask* t) { return t ? t : Pool().current; }

bool IsPoolSlot(const KivTask* t) {
  const KivTaskPool& p = Pool();
  return t >= p.slots && t < p.slots + p.size;
}

void MarkFreed(KivTask* t) {
  if (t->state == kInRelease) return;
  t->releasing = true;
  t->state = kReleasing;
  if (t->children)
    for (KivTask* c = t->children->next; c; c = c->next) MarkFreed(c);
}

void Unlink(KivTask* t) {
  if (t->prev) t->prev->next = t->next;
  if (t->next) t->next->prev = t->prev;
  t->next = t->prev = nullptr;
}

void ClearSlots(KivTask* t) {
  KivTask* head = t->children;
  if (head) std::memset(static_cast<void*>(head), 0, sizeof *head);
  std::memset(static_cast<void*>(t), 0, sizeof *t);
}

void EndNow(KivTask* t);

// Releases T: its release procedure runs while T is still linked and its slot
// still taken, so a task created by that procedure can never be handed T's
// own slot. Returns the task that followed T.
KivTask* Release(KivTask* t) {
  KivTaskPool& p = Pool();
  t->state = kInRelease;
  p.current = t;
  if (t->releaseProc) t->releaseProc(t->data);
  // Children created after the release began are ended with their parent.
  while (t->children && t->children->next) EndNow(t->children->next);
  KivTask* next = t->next;
  Unlink(t);
  KivMemoryFree(t->data);
  ClearSlots(t);
  --p.live;
  return next;
}

void EndNow(KivTask* t) {
  while (t->children && t->children->next) EndNow(t->children->next);
  Release(t);
}

// Releases only, for the part of a list behind a blocking task.
void ReleasesOnly(KivTask* t) {
  KivTaskPool& p = Pool();
  while (t) {
    if (t->state == kReleasing) {
      if (t->children) ReleasesOnly(t->children->next);
      p.current = t;
      t = Release(t);
    } else {
      t = t->next;
    }
  }
}

void WalkFrom(KivTask* t) {
  KivTaskPool& p = Pool();
  while (t) {
    if (t->children && t->children->next) WalkFrom(t->children->next);
    p.current = t;
    KivTask* next;
    if (t->state == kRunning) {
      if (t->proc && !t->releasing) t->proc(t->data);
      next = t->next;
    } else if (t->state == kReleasing) {
      t = Release(t);
      continue;
    } else {
      next = t->next;
    }
    if (t->mode & KIV_TASK_BLOCKING) {
      ReleasesOnly(next);
      return;
    }
    t = next;
  }
}

}  // namespace

int KivTaskInit(void) {
  KivSystemState* s = g_kiv;
  KivTaskPool& p = s->tasks;
  p.size = kKivTaskPoolSize;
  p.cursor = 0;
  p.live = 0;
  if (!KivFaultHit(KivFault::kTaskPool)) {
    p.root = static_cast<KivTask*>(KivMemoryAlloc(sizeof(KivTask), 1));
    p.slots = static_cast<KivTask*>(KivMemoryAlloc(static_cast<int>(sizeof(KivTask)) * p.size, 1));
  }
  if (!p.root || !p.slots) {
    KivMemoryFree(p.root);
    KivMemoryFree(p.slots);
    p.root = p.slots = nullptr;
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  p.root->state = kRunning;
  p.root->mode = KIV_TASK_BEHIND;
  p.root->name = "Root";
  p.current = p.root;
  p.defaultTask = nullptr;
  plat::SetLastError(0);
  return 1;
}

void KivTaskWalk(KivTask* head) {
  if (head) WalkFrom(head->next);
}

void KivTaskWalkRoot(void) {
  KivTaskPool& p = Pool();
  if (!p.root) return;
  WalkFrom(p.root->next);
  p.current = p.root;
}

void KivTaskUninit(void) {
  KivSystemState* s = g_kiv;
  if (!s) return;
  KivTaskPool& p = s->tasks;
  if (p.root) {
    if (p.root->next) {
      for (KivTask* t = p.root->next; t; t = t->next) MarkFreed(t);
      WalkFrom(p.root->next);
      while (p.root->next) EndNow(p.root->next);
    }
    p.current = p.root;
  }
  KivMemoryFree(p.root);
  KivMemoryFree(p.slots);
  p.root = p.slots = p.current = p.defaultTask = nullptr;
  p.live = 0;
}

void* KivTaskFirstRootData(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->tasks.root) return nullptr;
  // The debug tools are not the game: the first other task's data.
  for (KivTask* t = s->tasks.root->next; t; t = t->next) {
    if (t == s->debugTask || (t->name && (std::strcmp(t->name, "KivSpriteCtrlTask") == 0 ||
                                          std::strcmp(t->name, "KivCameraCtrlTask") == 0 ||
                                          std::strcmp(t->name, "KivEffectTest") == 0)))
      continue;
    return t->data;
  }
  return nullptr;
}

extern "C" KIV_API KivTask* KivTaskCreate(KivTaskProc proc, KivTaskReleaseProc releaseProc, int dataSize,
                                          void** dataOut, int mode, KivTask* where, const char* name) {
  if (dataOut) *dataOut = nullptr;
  if (!proc || !g_kiv || !Pool().slots || dataSize < 0) return nullptr;
  KivTaskPool& p = Pool();
  where = Resolve(where);
  int placement = mode & 0xFFFF;
  if (!where || where->state == kFree || where->state == kChildHead) return nullptr;
  if (placement == KIV_TASK_CHILD && !where->children) return nullptr;  // the root has no child list
  if (placement != KIV_TASK_BEHIND && placement != KIV_TASK_CHILD) return nullptr;

  KivTask* t = TakeSlot();
  if (!t) return nullptr;
  t->state = kChildHead;  // reserve it while the head slot is searched
  KivTask* head = TakeSlot();
  void* data = head ? KivMemoryAlloc(dataSize, 1) : nullptr;
  if (!head || !data) {
    t->state = kFree;
    return nullptr;
  }
  std::memset(static_cast<void*>(t), 0, sizeof *t);
  std::memset(static_cast<void*>(head), 0, sizeof *head);
  head->state = kChildHead;
  t->data = data;
  t->dataSize = dataSize;
  t->proc = proc;
  t->releaseProc = releaseProc;
  t->name = name;
  t->mode = static_cast<uint32_t>(mode);
  t->state = kRunning;
  t->children = head;

  KivTask* behind = placement == KIV_TASK_BEHIND ? where : where->children;
  t->next = behind->next;
  t->prev = behind;
  if (behind->next) behind->next->prev = t;
  behind->next = t;

  if (dataOut) *dataOut = data;
  ++p.live;
  if (++p.cursor >= p.size) p.cursor = 0;
  return t;
}

extern "C" KIV_API int KivTaskFree(KivTask* task) {
  if (!g_kiv || !Pool().slots) return 0;
  KivTask* t = Resolve(task);
  // The root and list heads are not tasks that can end.
  if (!t || !IsPoolSlot(t) || t->state == kFree || t->state == kChildHead) return 0;
  if (t->state == kInRelease) return 1;
  MarkFreed(t);
  return 1;
}

extern "C" KIV_API int KivTaskGetMessage(KivTask* task) {
  KivTask* t = g_kiv ? Resolve(task) : nullptr;
  if (!t) return 0;
  int m = t->message;
  t->message = 0;
  return m;
}

extern "C" KIV_API KivTask* KivTaskSetMessage(KivTask* task, int message) {
  KivTask* t = g_kiv ? Resolve(task) : nullptr;
  if (t) t->message = message;
  return t;
}

extern "C" KIV_API void* KivTaskGetTaskData(KivTask* task) {
  if (!g_kiv) return nullptr;
  KivTask* t = task ? task : Pool().defaultTask;
  return t ? t->data : nullptr;
}

extern "C" KIV_API void KivTaskSetTaskData(KivTask* task) {
  if (g_kiv) Pool().defaultTask = Resolve(task);
}

extern "C" KIV_API void KivTaskChangeNext(KivTaskProc proc) {
  if (g_kiv && Pool().current) Pool().current->proc = proc;
}

extern "C" KIV_API int KivTaskChangeNextImm(KivTaskProc proc) {
  if (!g_kiv || !Pool().current) return 0;
  KivTask* t = Pool().current;
  t->proc = proc;
  return proc ? proc(t->data) : 0;
}

extern "C" KIV_API int KivTaskGetState(KivTask* task) {
  KivTask* t = g_kiv ? Resolve(task) : nullptr;
  if (!t) return 0;
  if (t->releasing) return kReleasing;
  return t->state;
}

extern "C" KIV_API KivTask* KivTaskChangeState(KivTask* task, int state) {
  KivTask* t = g_kiv ? Resolve(task) : nullptr;
  if (!t) return nullptr;
  uint8_t v = static_cast<uint8_t>(state & 0xFF);
  // 0 would free a slot that is still linked; 3 would disguise the task as a
  // list head. Tasks in release keep their state.
  if (v == kFree || v == kChildHead || v == kInRelease || t->state == kFree || t->state == kChildHead ||
      t->state == kInRelease)
    return nullptr;
  t->state = v;
  return t;
}

extern "C" KIV_API void KivTaskReProcess(KivTask* task) {
  if (!g_kiv) return;
  KivTaskPool& p = Pool();
  KivTask* t = Resolve(task);
  if (!t || !IsPoolSlot(t) || t->state == kFree || t->state == kChildHead) return;
  KivTask* saved = p.current;
  WalkFrom(t);
  p.current = saved;
}

extern "C" KIV_API void KivTaskReset(void) {
  if (!g_kiv || !Pool().root) return;
  KivTaskPool& p = Pool();
  KivTask* first = p.root->next;
  if (!first) return;
  for (KivTask* t = first->next; t; t = t->next) MarkFreed(t);
  KivTask* saved = p.current;
  WalkFrom(first->next);
  while (first->next) EndNow(first->next);
  p.current = saved;
}

// ---- Waits: blocking tasks that hold the tasks behind them ----

namespace {

struct WaitFrames {
  int count;
};
struct WaitTimeData {
  uint32_t duration;
  uint32_t start;
};
struct WaitTimeExData {
  uint32_t unused;
  uint32_t duration;
  uint32_t start;
};

int WaitFramesCheck(void* data) {
  auto* d = static_cast<WaitFrames*>(data);
  if (d->count == -1) return 1;  // waits until freed
  if (d->count <= 1) {           // 0 or less ends at once instead of never
    KivTaskFree(nullptr);
    return 1;
  }
  --d->count;
  return 1;
}

int WaitFramesFirst(void*) {
  KivTaskChangeNext(WaitFramesCheck);
  return 1;
}

int WaitTimeCheck(void* data) {
  auto* d = static_cast<WaitTimeData*>(data);
  if (KivtimeGetTime() - d->start >= d->duration) KivTaskFree(nullptr);
  return 1;
}

int WaitTimeFirst(void* data) {
  static_cast<WaitTimeData*>(data)->start = KivtimeGetTime();
  KivTaskChangeNext(WaitTimeCheck);
  return 1;
}

int WaitTimeExCheck(void* data) {
  auto* d = static_cast<WaitTimeExData*>(data);
  if (KivtimeGetTime() - d->start >= d->duration) KivTaskFree(nullptr);
  return 1;
}

int WaitTimeExFirst(void* data) {
  static_cast<WaitTimeExData*>(data)->start = KivtimeGetTime();
  KivTaskChangeNext(WaitTimeExCheck);
  return 1;
}

constexpr int kWaitMode = KIV_TASK_BLOCKING | KIV_TASK_BEHIND;

}  // namespace

extern "C" KIV_API KivTask* KivWait(int frames) {
  void* data = nullptr;
  KivTask* t = KivTaskCreate(WaitFramesFirst, nullptr, sizeof(WaitFrames), &data, kWaitMode, nullptr, "KivWait");
  if (t) static_cast<WaitFrames*>(data)->count = frames;
  return t;
}

extern "C" KIV_API KivTask* KivWaitTime(uint32_t ms) {
  void* data = nullptr;
  KivTask* t = KivTaskCreate(WaitTimeFirst, nullptr, sizeof(WaitTimeData), &data, kWaitMode, nullptr, "KivWait");
  if (t) static_cast<WaitTimeData*>(data)->duration = ms;
  return t;
}

extern "C" KIV_API KivTask* KivWaitTimeEx(uint32_t ms, KivTask* where) {
  void* data = nullptr;
  KivTask* t =
      KivTaskCreate(WaitTimeExFirst, nullptr, sizeof(WaitTimeExData), &data, kWaitMode, where, "KivWaitTimeEx");
  if (t) static_cast<WaitTimeExData*>(data)->duration = ms;
  return t;
}
