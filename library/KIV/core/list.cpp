// KivList: a keyed singly linked list of integer values (usually pointers
// the caller owns). A NULL list reads as empty.
#include "core/system_state.h"

namespace {
KivListNode* NewNode(intptr_t value, int key) {
  auto* n = static_cast<KivListNode*>(KivMemoryAlloc(sizeof(KivListNode), 1));
  if (n) {
    n->value = value;
    n->key = key;
  }
  return n;
}
}  // namespace

extern "C" KIV_API KivList* KivListCreate(void) {
  return static_cast<KivList*>(KivMemoryAlloc(sizeof(KivList), 1));
}

extern "C" KIV_API int KivListPush(KivList* list, intptr_t value, int key) {
  if (!list) return 0;
  KivListNode* n = NewNode(value, key);
  if (!n) return 0;
  n->next = list->next;
  list->next = n;
  return 1;
}

extern "C" KIV_API int KivListPushLast(KivList* list, intptr_t value, int key) {
  if (!list) return 0;
  KivListNode* n = NewNode(value, key);
  if (!n) return 0;
  KivListNode* at = list;
  while (at->next) at = at->next;
  at->next = n;
  return 1;
}

extern "C" KIV_API intptr_t KivListPop(KivList* list, int key) {
  if (!list) return 0;
  for (KivListNode* prev = list; prev->next; prev = prev->next) {
    KivListNode* n = prev->next;
    if (n->key == key) {
      prev->next = n->next;
      intptr_t v = n->value;
      KivMemoryFree(n);
      return v;
    }
  }
  return 0;
}

extern "C" KIV_API intptr_t KivListGetData(KivList* list, int key, unsigned n) {
  if (!list) return 0;
  for (KivListNode* at = list->next; at; at = at->next) {
    if (at->key != key) continue;
    if (n == 0) return at->value;
    --n;
  }
  return 0;
}

extern "C" KIV_API int KivListGetDataCount(KivList* list, int key) {
  if (!list) return 0;
  int count = 0;
  for (KivListNode* at = list->next; at; at = at->next) count += at->key == key;
  return count;
}

extern "C" KIV_API void KivListRelease(KivList* list) {
  if (!list) return;
  KivListNode* at = list->next;
  while (at) {
    KivListNode* next = at->next;
    KivMemoryFree(at);
    at = next;
  }
  KivMemoryFree(list);
}
