// Action slots: starting, the once-a-frame walk of every running slot, the
// clear that puts every target at its end, push and pop of the active slot,
// and the resets.
#include "motion/actions.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "kiv.h"
#include "layers/sprite_records.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

ActionSlot& Slot(VmContext* ctx, int slot) { return ctx->actions.slots[slot]; }

void ZeroSlot(ActionSlot& s) { std::memset(static_cast<void*>(&s), 0, sizeof s); }

// Frees every run record a slot holds, without applying anything (a copy
// that is dropped).
void DropRunRecords(ActionSlot& s) {
  for (ActionLine& l : s.lines) {
    KivMemoryFree(l.handle);
    l.handle = nullptr;
  }
}

}  // namespace

void action_slot_start(VmContext* ctx, int slot, int32_t state, int32_t timeOrCount) {
  ActionSlot& s = Slot(ctx, slot);
  s.running = 1;
  s.state = state;
  s.timeOrCount = timeOrCount;
  s.passCompleted = 0;
  int used = 0;
  for (const ActionLine& l : s.lines) used += l.count > 0;
  s.linesInUse = used;
  s.startTime = KivtimeGetTime();
  for (ActionLineRun& r : s.runs) r = ActionLineRun{};
  s.holdsPoint = 0;
}

void action_slot_clear(VmContext* ctx, int slot) {
  ActionSlot& s = Slot(ctx, slot);
  game_debug_puts(kDebugWindowCommand, "action_uninit");
  for (int i = 0; i < kActionLineCount; ++i) {
    ActionLineRun& run = s.runs[i];
    ActionLine& line = s.lines[i];
    if (run.started && run.stepIndex >= 0 && run.stepIndex < line.count) {
      const int32_t type = line.steps[run.stepIndex].type;
      ++run.stepIndex;
      action_step_finish(ctx, type, line.handle);
      line.handle = nullptr;
      run.started = 0;
    }
  }
  for (int i = 0; i < kActionLineCount; ++i) {
    const ActionLine& line = s.lines[i];
    for (int k = std::max(s.runs[i].stepIndex, 0); k < line.count && k < kActionStepCount; ++k)
      action_step_cancel(ctx, line.steps[k]);
  }
  // A sync run pops the script point it pushed, and only one it holds.
  if (s.state == kActionSyncRun && s.holdsPoint) script_point_pop(ctx);
  DropRunRecords(s);  // none left but a started step's whose index was bad
  ZeroSlot(s);
  sprite_delta_fold(ctx);
}

bool action_step_append(VmContext* ctx, int line, const ActionStep& step) {
  if (line < 0 || line >= kActionLineCount) {
    game_debug_log(kDebugWindowError, "action line over [%d]", line);
    return false;
  }
  ActionLine& l = Slot(ctx, ctx->actions.active).lines[line];
  if (l.count < 0 || l.count >= kActionStepCount) {
    game_debug_log(kDebugWindowError, "action section over [%d]", line);
    return false;
  }
  ActionStep st = step;
  if (st.duration < 1) st.duration = 1;
  std::memset(st.reserved, 0, sizeof st.reserved);
  l.steps[l.count++] = st;
  return true;
}

void action_frame(VmContext* ctx) {
  ActionState& a = ctx->actions;
  if (a.active < 0 || a.active >= kActionSlotCount) a.active = 0;
  const uint32_t now = KivtimeGetTime();
  for (int n = 0; n < kActionSlotCount; ++n) {
    ActionSlot& s = a.slots[n];
    if (!s.running) continue;
    s.passCompleted = 0;
    const int64_t elapsed = static_cast<uint32_t>(now - s.startTime);
    if (s.state == kActionSyncRun && (get_skip_state(ctx) || elapsed >= s.timeOrCount)) {
      action_slot_clear(ctx, n);
      continue;
    }
    // A run whose time is up ends before its steps take this frame's share,
    // which the clear's end results would otherwise add on top for a frame.
    if (s.state == kActionRun && elapsed >= s.timeOrCount) {
      s.passCompleted = 1;
      action_slot_clear(ctx, n);
      continue;
    }
    for (int i = 0; i < kActionLineCount; ++i) {
      ActionLineRun& run = s.runs[i];
      ActionLine& line = s.lines[i];
      if (run.stepIndex < 0 || run.stepIndex >= line.count) continue;
      const ActionStep& st = line.steps[run.stepIndex];
      if (!run.started) {
        line.handle = action_step_start(ctx, st);
        run.stepEnd += std::max(st.duration, 1);
        run.started = 1;
      } else if (run.stepEnd - elapsed < 1) {
        action_step_finish(ctx, st.type, line.handle);
        line.handle = nullptr;
        ++run.stepIndex;
        run.started = 0;
      } else {
        action_step_update(ctx, st.type, line.handle);
      }
    }
    if (s.state == kActionLoopRun) {
      bool done = true;
      for (int i = 0; i < kActionLineCount && done; ++i) done = s.runs[i].stepIndex >= s.lines[i].count;
      if (!done) continue;
      // The last pass is cleared with its lines at their ends: rewinding
      // them first would make the clear apply every step once more.
      if (s.timeOrCount == 1) {
        s.passCompleted = 1;
        action_slot_clear(ctx, n);
        continue;
      }
      s.startTime = now;
      for (ActionLineRun& r : s.runs) r = ActionLineRun{};
      if (s.timeOrCount < 0) s.passCompleted = 1;
      else --s.timeOrCount;
    }
  }
}

int action_sync_running(VmContext* ctx) {
  for (const ActionSlot& s : ctx->actions.slots)
    if (s.running && s.state == kActionSyncRun) return 1;
  return 0;
}

void action_reset(VmContext* ctx) {
  ActionState& a = ctx->actions;
  for (int n = 0; n < kActionSlotCount; ++n) {
    if (!a.clearRequests[n]) continue;
    a.clearRequests[n] = 0;
    if (a.slots[n].running) action_slot_clear(ctx, n);
    else ZeroSlot(a.slots[n]);
  }
}

int action_push(VmContext* ctx) {
  ActionState& a = ctx->actions;
  if (!a.slots[a.active].running) return 1;
  // A copy already held goes back into its slot first, so no run record in
  // use is ever freed.
  if (a.pushed) action_pop(ctx);
  auto* copy = static_cast<ActionSlot*>(KivMemoryAlloc(sizeof(ActionSlot), 0));
  if (!copy) {
    plat::MessageBox(nullptr, plat::Sjis("メモリ不足の可能性があります。"), plat::Sjis("警告"),
                     plat::kMbOk | plat::kMbIconWarning);
    return 0;
  }
  std::memcpy(static_cast<void*>(copy), &a.slots[a.active], sizeof *copy);
  a.pushed = copy;
  a.pushedSlot = a.active;
  ZeroSlot(a.slots[a.active]);
  return 1;
}

void action_pop(VmContext* ctx) {
  ActionState& a = ctx->actions;
  if (!a.pushed) return;
  const int slot = a.pushedSlot >= 0 && a.pushedSlot < kActionSlotCount ? a.pushedSlot : 0;
  if (a.slots[slot].running) action_slot_clear(ctx, slot);
  std::memcpy(static_cast<void*>(&a.slots[slot]), a.pushed, sizeof *a.pushed);
  KivMemoryFree(a.pushed);
  a.pushed = nullptr;
  a.pushedSlot = 0;
}

void action_free(VmContext* ctx) {
  ActionState& a = ctx->actions;
  if (a.pushed) {
    DropRunRecords(*a.pushed);
    KivMemoryFree(a.pushed);
    a.pushed = nullptr;
  }
  for (int n = 0; n < kActionSlotCount; ++n)
    if (a.slots[n].running) action_slot_clear(ctx, n);
  std::memset(static_cast<void*>(&a), 0, sizeof a);
}
