// Command group 17: the script's interface to actions. Slot arguments take
// 0..7 or -1 (the active slot); anything else is refused with the command's
// own message. Step commands append to a line of the active slot.
#include <cstring>

#include "data/script_tables.h"
#include "kiv.h"
#include "motion/actions.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"

namespace {

int32_t Pop(VmContext* ctx) { return value_stack_pop(ctx); }

// The slot a slot argument names, or -1 after "<message> [%d]".
int SlotArg(VmContext* ctx, int32_t slot, const char* message) {
  if (slot == -1) return ctx->actions.active;
  if (slot < 0 || slot >= kActionSlotCount) {
    game_debug_log(kDebugWindowError, "%s [%d]", message, slot);
    return -1;
  }
  return slot;
}

// A sprite id as the script gives it -> sprite-record number, -1 when it
// names none.
int32_t TargetOf(int32_t id) { return image_no_to_index(static_cast<uint32_t>(id)); }

int Append(VmContext* ctx, int32_t line, int32_t target, int32_t type, std::initializer_list<int32_t> p,
           int32_t duration) {
  ActionStep st{};
  st.target = target;
  int i = 0;
  for (int32_t v : p) st.p[i++] = v;
  st.type = type;
  st.duration = duration;
  action_step_append(ctx, line, st);
  return 1;
}

bool EffectsOff() { return KivEffectEnableIs() == 0; }

// ---- Running and clearing ----

int CmdRun(VmContext* ctx) {
  const int32_t slot = Pop(ctx), time = Pop(ctx);
  const int n = SlotArg(ctx, slot, "action_run count over");
  if (n < 0) return 1;
  if (!ctx->actions.slots[n].running) {
    KivUpdateTime();
    action_slot_start(ctx, n, kActionRun, time);
    if (EffectsOff()) action_slot_clear(ctx, n);
  }
  game_debug_log(kDebugWindowCommand, "action_run %d, %d", slot, time);
  return 1;
}

// Starts a sync run and stacks the script point the script waits at; the
// slot remembers whether the push was made, so its clear pops only its own.
void SyncStart(VmContext* ctx, int n, int32_t time) {
  action_slot_start(ctx, n, kActionSyncRun, time);
  const int32_t depth = ctx->script.pointDepth;
  script_point_push(ctx);
  ctx->actions.slots[n].holdsPoint = ctx->script.pointDepth > depth;
  if (EffectsOff() || get_skip_state(ctx)) action_slot_clear(ctx, n);
}

int CmdSyncRun(VmContext* ctx) {
  const int32_t slot = Pop(ctx), time = Pop(ctx);
  const int n = SlotArg(ctx, slot, "action_sync_run count over");
  if (n >= 0) {
    if (!ctx->actions.slots[n].running) {
      KivUpdateTime();
      SyncStart(ctx, n, time);
    }
    game_debug_log(kDebugWindowCommand, "action_sync_run %d, %d", slot, time);
  }
  command_yield(ctx);
  return 1;
}

// Passes below -1 would never report a pass: they count as endless.
int32_t Passes(int32_t passes) { return passes < -1 ? -1 : passes; }

int CmdLoopRun(VmContext* ctx) {
  const int32_t slot = Pop(ctx), passes = Pop(ctx);
  const int n = SlotArg(ctx, slot, "action_loop_run count over");
  if (n < 0) return 1;
  if (!ctx->actions.slots[n].running) action_slot_start(ctx, n, kActionLoopRun, Passes(passes));
  game_debug_log(kDebugWindowCommand, "action_loop_run %d, %d", slot, passes);
  return 1;
}

int CmdClear(VmContext* ctx) {
  const int32_t slot = Pop(ctx);
  const int n = SlotArg(ctx, slot, "action_clear count over");
  if (n < 0) return 1;
  game_debug_log(kDebugWindowCommand, "action_clear %d", slot);
  if (ctx->actions.slots[n].running) action_slot_clear(ctx, n);
  std::memset(static_cast<void*>(&ctx->actions.slots[n]), 0, sizeof(ActionSlot));
  return 1;
}

int CmdSyncWait(VmContext* ctx) {
  ActionState& a = ctx->actions;
  if (!a.syncWaitActive) {
    const int32_t slot = Pop(ctx);
    const int n = SlotArg(ctx, slot, "action_sync_wait count over");
    if (n < 0) return 1;
    a.syncWaitActive = 1;
    a.syncWaitSlot = n;
  }
  if (get_skip_state(ctx)) {
    a.syncWaitActive = 0;
    return 1;
  }
  // A wait on slot n also waits for every lower slot.
  const int last = a.syncWaitSlot >= 0 && a.syncWaitSlot < kActionSlotCount ? a.syncWaitSlot : 0;
  for (int i = 0; i <= last; ++i)
    if (a.slots[i].running && !a.slots[i].passCompleted) {
      command_wait_again(ctx);
      return 1;
    }
  a.syncWaitActive = 0;
  command_yield(ctx);
  return 1;
}

// ---- Steps ----

int CmdMove(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), dx = Pop(ctx), dy = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepMove, {dx, dy}, d);
}
int MoveCurve(VmContext* ctx, int32_t type) {
  const int32_t line = Pop(ctx), t = Pop(ctx), dx = Pop(ctx), dy = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), type, {dx, dy}, d);
}
int CmdMoveCurve1(VmContext* ctx) { return MoveCurve(ctx, kStepMoveCurve1); }
int CmdMoveCurve2(VmContext* ctx) { return MoveCurve(ctx, kStepMoveCurve2); }
int CmdMoveCurve3(VmContext* ctx) { return MoveCurve(ctx, kStepMoveCurve3); }
int CmdMoveGrid(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), column = Pop(ctx), curve = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepGrid, {column, curve}, d);
}
int CmdShake(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), mode = Pop(ctx), amp = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepShake, {mode, amp}, d);
}
int CmdAlpha(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), change = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepAlpha, {change}, d);
}
int CmdWait(VmContext* ctx) {
  const int32_t line = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, -1, kStepWait, {}, d);
}
int CmdRotate(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), rx = Pop(ctx), ry = Pop(ctx), rz = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepRotate, {rx, ry, rz}, d);
}
int CmdScale(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), p = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepScale, {p}, d);
}
int CmdSe(VmContext* ctx) {
  const int32_t line = Pop(ctx), channel = Pop(ctx), loop = Pop(ctx), fade = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, channel, kStepSound, {loop, fade}, d);
}
int CmdSwing(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), mode = Pop(ctx), amp = Pop(ctx), period = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepSwing, {mode, amp, period}, d);
}
int CmdCell(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), col = Pop(ctx), row = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepCell, {col, row}, d);
}
int CmdRect(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), x = Pop(ctx), y = Pop(ctx), w = Pop(ctx), h = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepRect, {x, y, w, h}, d);
}
int CmdScaleCurve(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), curve = Pop(ctx), p = Pop(ctx), d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepScaleCurve, {curve, p}, d);
}
int CmdRotateCurve(VmContext* ctx) {
  const int32_t line = Pop(ctx), t = Pop(ctx), curve = Pop(ctx), rx = Pop(ctx), ry = Pop(ctx), rz = Pop(ctx),
                d = Pop(ctx);
  return Append(ctx, line, TargetOf(t), kStepRotateCurve, {curve, rx, ry, rz}, d);
}

// ---- Slots, push and pop ----

int CmdPush(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "action_push");
  return action_push(ctx);
}
int CmdPop(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "action_pop");
  action_pop(ctx);
  return 1;
}

int CmdGetStep(VmContext* ctx) {
  const int32_t line = Pop(ctx);
  if (line < 0 || line >= kActionLineCount) {
    game_debug_log(kDebugWindowError, "action line over [%d]", line);
    command_set_result(ctx, 0);
    return 1;
  }
  const ActionSlot& s = ctx->actions.slots[ctx->actions.active];
  command_set_result(ctx, s.running ? s.runs[line].stepIndex : 0);
  return 1;
}

int CmdSetActive(VmContext* ctx) {
  const int32_t slot = Pop(ctx);
  if (slot < 0 || slot >= kActionSlotCount) {
    game_debug_log(kDebugWindowError, "action count over [%d]", slot);
    return 1;
  }
  command_set_result(ctx, ctx->actions.active);
  ctx->actions.active = slot;
  game_debug_log(kDebugWindowCommand, "set_active_action %d", slot);
  return 1;
}

int CmdGetActive(VmContext* ctx) {
  command_set_result(ctx, ctx->actions.active);
  game_debug_log(kDebugWindowCommand, "[%d]get_active_action", ctx->actions.active);
  return 1;
}

int CmdRunAll(VmContext* ctx) {
  const int32_t time = Pop(ctx);
  KivUpdateTime();
  for (int n = 0; n < kActionSlotCount; ++n)
    if (!ctx->actions.slots[n].running) action_slot_start(ctx, n, kActionRun, time);
  game_debug_log(kDebugWindowCommand, "action_run_all %d", time);
  return 1;
}

int CmdSyncRunAll(VmContext* ctx) {
  const int32_t time = Pop(ctx);
  for (int n = 0; n < kActionSlotCount; ++n)
    if (!ctx->actions.slots[n].running) SyncStart(ctx, n, time);
  command_yield(ctx);
  game_debug_log(kDebugWindowCommand, "action_sync_run_all %d", time);
  return 1;
}

int CmdLoopRunAll(VmContext* ctx) {
  const int32_t passes = Pop(ctx);
  for (int n = 0; n < kActionSlotCount; ++n)
    if (!ctx->actions.slots[n].running) action_slot_start(ctx, n, kActionLoopRun, Passes(passes));
  game_debug_log(kDebugWindowCommand, "action_loop_run_all %d", passes);
  return 1;
}

int CmdClearAll(VmContext* ctx) {
  for (int n = 0; n < kActionSlotCount; ++n) {
    if (ctx->actions.slots[n].running) action_slot_clear(ctx, n);
    std::memset(static_cast<void*>(&ctx->actions.slots[n]), 0, sizeof(ActionSlot));
  }
  game_debug_puts(kDebugWindowCommand, "action_clear_all");
  return 1;
}

int CmdSetClear(VmContext* ctx) {
  const int32_t slot = Pop(ctx);
  const int n = SlotArg(ctx, slot, "set_action_clear count over");
  if (n < 0) return 1;
  ctx->actions.clearRequests[n] = 1;
  game_debug_log(kDebugWindowCommand, "set_action_clear %d", slot);
  return 1;
}

}  // namespace

void action_commands_install() {
  static const CommandBinding kCommands[] = {
      {"action_run", CmdRun},
      {"action_sync_run", CmdSyncRun},
      {"action_loop_run", CmdLoopRun},
      {"action_clear", CmdClear},
      {"action_sync_wait", CmdSyncWait},
      {"action_move", CmdMove},
      {"action_move_grid", CmdMoveGrid},
      {"action_shake", CmdShake},
      {"action_alpha", CmdAlpha},
      {"action_wait", CmdWait},
      {"action_rotate", CmdRotate},
      {"action_scale", CmdScale},
      {"action_push", CmdPush},
      {"action_pop", CmdPop},
      {"action_move_curve2", CmdMoveCurve2},
      {"action_move_curve1", CmdMoveCurve1},
      {"action_se", CmdSe},
      {"action_swing", CmdSwing},
      {"action_cell", CmdCell},
      {"action_rect", CmdRect},
      {"action_scale_curve", CmdScaleCurve},
      {"action_rotate_curve", CmdRotateCurve},
      {"action_get_step", CmdGetStep},
      {"set_active_action", CmdSetActive},
      {"get_active_action", CmdGetActive},
      {"action_run_all", CmdRunAll},
      {"action_sync_run_all", CmdSyncRunAll},
      {"action_loop_run_all", CmdLoopRunAll},
      {"action_clear_all", CmdClearAll},
      {"action_move_curve3", CmdMoveCurve3},
      {"set_action_clear", CmdSetClear},
  };
  command_bind_all(kCommands);
}
