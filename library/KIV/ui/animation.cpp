// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Cell animations of a sprite, as tasks: "Animation" steps through the cells
// of a strip at a fixed time per cell; "KivAnimationEx" follows a caller's
// table of source rectangles, times and next indexes. The task's data is
// the state record; the calls below act only on live tasks of their kind.
#include <cstring>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "sprite/sprite.h"
#include "ui/ui.h"

namespace {

// The names are also the kinds: a task is an animation when its name is one
// of these very strings.
const char kAnimationName[] = "Animation";
const char kAnimationExName[] = "KivAnimationEx";

uint32_t FrameTime() { return g_kiv ? g_kiv->frameTime.load() : 0; }

// A task of the pool that is alive (not free, not a list head, not being
// released) and was made by the creator of `name`.
bool LiveOfKind(const KivTask* t, const char* name) {
  KivSystemState* s = g_kiv;
  if (!s || !t) return false;
  const KivTaskPool& p = s->tasks;
  if (!p.slots || p.size <= 0) return false;
  const auto at = reinterpret_cast<uintptr_t>(t), first = reinterpret_cast<uintptr_t>(p.slots);
  const uintptr_t bytes = static_cast<uintptr_t>(p.size) * sizeof(KivTask);
  if (at < first || at - first >= bytes || (at - first) % sizeof(KivTask) != 0) return false;
  if (t->state == 0 || t->state == 3 || t->state == 0xFE || t->releasing) return false;
  return t->name == name && t->data != nullptr;
}

KivAnimationState* CellState(KivTask* t) {
  return LiveOfKind(t, kAnimationName) ? static_cast<KivAnimationState*>(t->data) : nullptr;
}

KivAnimationExState* TableState(KivTask* t) {
  return LiveOfKind(t, kAnimationExName) ? static_cast<KivAnimationExState*>(t->data) : nullptr;
}

uint16_t CellCountOf(const KivAnimationState& a) {
  KivSpriteInfo info{};
  KivSpriteGetInfo(a.sprite, &info);
  const bool row = (a.direction & 1) != 0;
  const int64_t whole = row ? info.width : info.height;
  const int64_t cell = row ? info.cellWidth : info.cellHeight;
  // A cell size of 0 or a picture smaller than one cell still has one cell;
  // more cells than 16 bits hold stop at the largest count.
  int64_t n = cell > 0 ? whole / cell : 1;
  if (n < 1) n = 1;
  if (n > 0xFFFF) n = 0xFFFF;
  return static_cast<uint16_t>(n);
}

void SelectCell(const KivAnimationState& a) {
  if (a.direction & 1) KivSpriteRectSetPos(a.sprite, a.currentCell, 0);
  else KivSpriteRectSetPos(a.sprite, 0, a.currentCell);
}

int CellStep(void* data) {
  auto* a = static_cast<KivAnimationState*>(data);
  if (!a->running || !a->sprite) return 1;
  const uint32_t now = FrameTime();
  if (now - a->startTime < a->cellTime) return 1;
  a->currentCell = static_cast<uint16_t>(a->currentCell + 1);
  if (a->currentCell >= a->cellCount) {
    a->currentCell = 0;
    a->loopCompleted = 1;
  }
  SelectCell(*a);
  // The clock restarts at this frame: a late frame delays the next cell.
  a->startTime = now;
  return 1;
}

int CellFirst(void* data) {
  auto* a = static_cast<KivAnimationState*>(data);
  if (!a->sprite) return 1;  // the sprite was released before the first run
  a->cellCount = CellCountOf(*a);
  a->currentCell = 0;
  a->loopCompleted = 0;
  a->startTime = FrameTime();
  KivTaskChangeNext(CellStep);
  return 1;
}

int TableStep(void* data) {
  auto* a = static_cast<KivAnimationExState*>(data);
  if (!a->running || a->index < 0 || !a->sprite || !a->frames) return 1;
  const uint32_t now = FrameTime();
  if (now - a->startTime < a->displayTime) return 1;
  const int32_t next = a->frames[a->index].next;
  if (next < 0) {  // the end: the last rectangle stays
    a->index = -1;
    return 1;
  }
  a->index = next;
  const KivAnimationExFrame& f = a->frames[next];
  a->displayTime = f.time;
  const KivRect r{f.left, f.top, f.right, f.bottom};
  KivSpriteSetRect(a->sprite, &r);
  a->startTime = now;
  return 1;
}

int TableFirst(void* data) {
  auto* a = static_cast<KivAnimationExState*>(data);
  if (a->frames && a->index >= 0) a->displayTime = a->frames[a->index].time;
  a->startTime = FrameTime();
  KivTaskChangeNext(TableStep);
  return 1;
}

void ShowEntry(KivAnimationExState* a, int32_t index) {
  const KivAnimationExFrame& f = a->frames[index];
  const KivRect r{f.left, f.top, f.right, f.bottom};
  KivSpriteSetRect(a->sprite, &r);
}

}  // namespace

extern "C" KIV_API KivTask* KivAnimation(KivSprite* s, int direction, uint32_t cellTime) {
  if (!s) return nullptr;
  void* data = nullptr;
  KivTask* t = KivTaskCreate(CellFirst, nullptr, sizeof(KivAnimationState), &data, KIV_TASK_CHILD, nullptr,
                             kAnimationName);
  if (!t || !data) return t;
  auto* a = static_cast<KivAnimationState*>(data);
  a->sprite = s;
  a->cellTime = cellTime;
  a->direction = (direction & 3) ? static_cast<uint8_t>(direction & 3) : 1;  // neither bit: a row
  a->running = 1;
  return t;
}

extern "C" KIV_API KivTask* KivAnimationEx(KivSprite* s, const KivAnimationExFrame* frames) {
  // A table is what the task reads every step; without one there is nothing
  // to animate.
  if (!s || !frames) {
    plat::SetLastError(plat::kErrorInvalidParameter);
    return nullptr;
  }
  void* data = nullptr;
  KivTask* t = KivTaskCreate(TableFirst, nullptr, sizeof(KivAnimationExState), &data, KIV_TASK_CHILD, nullptr,
                             kAnimationExName);
  if (!t || !data) return t;
  auto* a = static_cast<KivAnimationExState*>(data);
  a->sprite = s;
  a->frames = frames;
  a->index = 0;
  a->running = 1;
  ShowEntry(a, 0);
  return t;
}

extern "C" KIV_API int KivAnimationStart(KivTask* task) {
  KivAnimationState* a = CellState(task);
  if (!a) return 0;
  a->running = 1;
  return 1;
}

extern "C" KIV_API int KivAnimationStartEx(KivTask* task) {
  KivAnimationExState* a = TableState(task);
  if (!a) return 0;
  a->running = 1;
  return 1;
}

extern "C" KIV_API int KivAnimationStop(KivTask* task) {
  KivAnimationState* a = CellState(task);
  if (!a) return 0;
  a->running = 0;
  return 1;
}

extern "C" KIV_API int KivAnimationStopEx(KivTask* task) {
  KivAnimationExState* a = TableState(task);
  if (!a) return 0;
  a->running = 0;
  return 1;
}

extern "C" KIV_API int KivAnimationReset(KivTask* task) {
  KivAnimationState* a = CellState(task);
  if (!a) return 0;
  if (a->sprite) KivSpriteRectSetPos(a->sprite, 0, 0);
  a->currentCell = 0;
  a->loopCompleted = 0;
  a->startTime = FrameTime();
  return 1;
}

extern "C" KIV_API int KivAnimationResetEx(KivTask* task, const KivAnimationExFrame* frames) {
  KivAnimationExState* a = TableState(task);
  if (!a || !frames) return 0;
  a->frames = frames;
  a->index = 0;
  a->running = 1;
  if (a->sprite) ShowEntry(a, 0);
  a->displayTime = frames[0].time;
  a->startTime = FrameTime();
  return 1;
}

extern "C" KIV_API int KivAnimationGetTime(KivTask* task) {
  KivAnimationState* a = CellState(task);
  return a ? static_cast<int>(a->cellTime) : -1;
}

extern "C" KIV_API int KivAnimationSetTime(KivTask* task, uint32_t ms) {
  KivAnimationState* a = CellState(task);
  if (!a) return 0;
  a->cellTime = ms;
  a->startTime = FrameTime();
  return 1;
}

extern "C" KIV_API int KivAnimationLoopIs(KivTask* task) {
  KivAnimationState* a = CellState(task);
  if (!a || !a->loopCompleted) return 0;
  a->loopCompleted = 0;
  return 1;
}

extern "C" KIV_API int KivAnimationGetAnimationPoint(KivTask* task) {
  KivAnimationExState* a = TableState(task);
  return a ? a->index : -1;
}

extern "C" KIV_API int KivAnimationRelease(KivTask* task) {
  if (!task) return 0;
  // Ends any live task as KivTaskFree does (its children with it); a task
  // already free or ending is left as it is.
  KivTaskFree(task);
  return 1;
}

void KivAnimationForgetSprite(KivSprite* s) {
  KivSystemState* st = g_kiv;
  if (!st || !s || !st->tasks.slots) return;
  for (int i = 0; i < st->tasks.size; ++i) {
    KivTask* t = &st->tasks.slots[i];
    if (t->state == 0 || t->state == 3 || !t->data) continue;
    if (t->name == kAnimationName) {
      auto* a = static_cast<KivAnimationState*>(t->data);
      if (a->sprite == s) {
        a->sprite = nullptr;
        a->running = 0;
      }
    } else if (t->name == kAnimationExName) {
      auto* a = static_cast<KivAnimationExState*>(t->data);
      if (a->sprite == s) {
        a->sprite = nullptr;
        a->running = 0;
      }
    }
  }
}

void KivUiForgetSprite(KivSprite* s) {
  KivAnimationForgetSprite(s);
  KivButtonForgetSprite(s);
}
