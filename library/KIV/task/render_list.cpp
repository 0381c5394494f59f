// Render lists and the render pass.
#include <chrono>
#include <thread>

#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "render/renderer.h"
#include "core/system_state.h"

void KivEffectTransitionPass(void);

bool KivRenderListTryLock(KivRenderList* list) {
  auto me = std::this_thread::get_id();
  if (list->owner.load() == me) {
    ++list->depth;
    return true;
  }
  std::lock_guard cs(list->cs);
  int expected = 0;
  if (!list->lockFlag.compare_exchange_strong(expected, 1)) return false;
  list->owner.store(me);
  list->depth = 1;
  return true;
}

void KivRenderListLock(KivRenderList* list) {
  while (!KivRenderListTryLock(list)) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void KivRenderListUnlock(KivRenderList* list) {
  if (list->owner.load() != std::this_thread::get_id()) return;  // not ours to release
  if (--list->depth > 0) return;
  list->owner.store(std::thread::id{});
  list->lockFlag.store(0);
}

extern "C" KIV_API KivRenderList* KivRenderInit(void) {
  void* block = KivMemoryAlloc(sizeof(KivRenderList), 1);
  if (!block) return nullptr;
  return new (block) KivRenderList;
}

extern "C" KIV_API void KivRenderUninit(KivRenderList* list) {
  if (!list) return;
  KivRenderNode* n = list->head.next;
  while (n) {
    KivRenderNode* next = n->next;
    KivMemoryFree(n);
    n = next;
  }
  if (KivSystemState* s = g_kiv) {
    KivRenderList* expected = list;
    s->activeList.compare_exchange_strong(expected, nullptr);
  }
  list->~KivRenderList();
  KivMemoryFree(list);
}

extern "C" KIV_API int KivRenderInsert(KivRenderList* list, void* object, KivDrawProc draw, int priority) {
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  auto* node = static_cast<KivRenderNode*>(KivMemoryAlloc(sizeof(KivRenderNode), 0));
  if (!node) return 0;
  node->object = object;
  node->draw = draw;
  node->priority = priority;
  node->lockFlag = 0;
  KivRenderNode* at = &list->head;  // the node to insert behind
  while (at->next && at->next->priority >= priority) at = at->next;
  node->next = at->next;
  node->prev = at;
  if (at->next) at->next->prev = node;
  at->next = node;
  return 1;
}

namespace {
void Unlink(KivRenderNode* n) {
  n->prev->next = n->next;
  if (n->next) n->next->prev = n->prev;
  KivMemoryFree(n);
}
}  // namespace

int KivRenderRemoveNode(KivRenderList* list, void* object) {
  if (!list) return 0;
  for (KivRenderNode* n = list->head.next; n; n = n->next) {
    if (n->object == object) {
      Unlink(n);
      return 1;
    }
  }
  return 0;
}

extern "C" KIV_API KivRenderList* KivRenderSetActive(KivRenderList* list) {
  if (g_kiv) g_kiv->activeList.store(list);
  return list;
}

extern "C" KIV_API KivRenderList* KivRenderGetActive(void) { return g_kiv ? g_kiv->activeList.load() : nullptr; }

extern "C" KIV_API int KivRenderLock(void) {
  KivRenderList* list = KivRenderGetActive();
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  KivRenderListLock(list);
  return 1;
}

extern "C" KIV_API int KivRenderUnlock(void) {
  KivRenderList* list = KivRenderGetActive();
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  KivRenderListUnlock(list);
  return 1;
}

void KivRenderListsReleaseHeldBy(std::thread::id id) {
  KivRenderList* list = KivRenderGetActive();
  if (!list || id == std::thread::id{} || list->owner.load() != id) return;
  list->depth = 0;
  list->owner.store(std::thread::id{});
  list->lockFlag.store(0);
}

extern "C" KIV_API int KivRenderLockWait(void) {
  KivRenderList* list = KivRenderGetActive();
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  if (list->owner.load() == std::this_thread::get_id()) return 1;
  while (list->lockFlag.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  return 1;
}

int KivRenderFrame(void) {
  KivSystemState* s = g_kiv;
  if (s->moviePlaying.load()) return 1;
  KivRenderList* list = s->activeList.load();
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return 0;
  }
  if (!KivRenderListTryLock(list)) return 0;  // someone changes the list: skip this frame
  void* core = KivGetCore();
  const KivRenderer* renderer = s->renderer;
  if (!renderer || !renderer->beginFrame(core, s->clearColour)) {
    KivRenderListUnlock(list);
    return 0;
  }
  KivRenderNode* n = list->head.next;
  while (n) {
    KivRenderNode* next = n->next;
    if (!n->draw || !n->draw(core, n->object)) Unlink(n);
    n = next;
  }
  KivEffectTransitionPass();
  if (!renderer->present(core)) {
    // The game thread has the window restore the device.
    KivPostRetry(s->gameThread.get(), plat::kMsgApp + 0x66, 0, 0);
  }
  KivRenderListUnlock(list);
  return 1;
}
