// The end of a test's render list: sprites the test left in it are released,
// then the list itself (no longer active).
#pragma once
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace kivtest {

inline void ReleaseRenderList(KivRenderList* list) {
  if (!list) return;
  for (KivRenderNode* n = list->head.next; n;) {
    KivRenderNode* next = n->next;
    if (n->draw == KivSpriteDraw) KivSpriteRelease(list, static_cast<KivSprite*>(n->object));
    n = next;
  }
  KivRenderSetActive(nullptr);
  KivRenderUninit(list);
}

}  // namespace kivtest
