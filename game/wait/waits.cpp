// Group 7, the waits. A blocking wait pops its arguments on its first run,
// then runs again every frame (command_wait_again) until it ends; which run
// it is follows from its own timer word (0: the first run).
#include "wait/waits.h"

#include <cstring>

#include "component_entries.h"
#include "kiv.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/vm.h"

namespace {

WaitTimers& Timers(VmContext* ctx) { return ctx->waits; }

// The pc of the running call's own call word (a call is three words).
uint32_t CallPc(const VmContext* ctx) { return ctx->script.pc >= 12 ? ctx->script.pc - 12 : 0; }

// A first run of the wait whose call wait_clear cut: it ends without popping
// (its arguments were popped on its real first run). The flag belongs to
// that call alone, so a fresh wait elsewhere pops and runs as usual.
bool CutWaitEnds(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  if (!w.cancel || w.cancelPc != CallPc(ctx)) return false;
  w.cancel = 0;
  w.cancelPc = 0;
  return true;
}

void Begin(VmContext* ctx, uint32_t ms) {
  WaitTimers& w = Timers(ctx);
  w.duration = ms == 0 ? 1 : ms;
  w.start = KivtimeGetTime();
  w.waitPc = CallPc(ctx);
  command_wait_again(ctx);
}

void End(WaitTimers& w) {
  w.start = 0;
  w.duration = 0;
}

int CmdWait(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  command_yield(ctx);
  if (w.duration == 0) {
    if (CutWaitEnds(ctx)) return 1;
    const auto ms = static_cast<uint32_t>(value_stack_pop(ctx));
    const auto skippable = static_cast<uint32_t>(value_stack_pop(ctx));
    game_debug_log(kDebugWindowCommand, "wait %d, %d", static_cast<int>(ms), static_cast<int>(skippable));
    w.skippable = skippable;
    Begin(ctx, ms);
    return 1;
  }
  const uint32_t elapsed = KivtimeGetTime() - w.start;
  if ((w.skippable && get_skip_state(ctx)) || (w.duration != kWaitEndless && elapsed >= w.duration)) {
    End(w);
    return 1;
  }
  command_wait_again(ctx);
  return 1;
}

int CmdWaitClick(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  command_yield(ctx);
  if (w.duration == 0) {
    if (CutWaitEnds(ctx)) return 1;
    const auto ms = static_cast<uint32_t>(value_stack_pop(ctx));
    game_debug_log(kDebugWindowCommand, "wait_click %d", static_cast<int>(ms));
    if (ms == kWaitEndless) {
      // Until the window's click: its icon when nothing shows, else the
      // line stops going on by itself; the click pops the script point.
      MessageWindow& t = text_window(ctx);
      if (t.stateFlags == 0)
        text_wait_begin(ctx);
      else
        t.stateFlags &= ~kTextKindNoWait;
      script_point_push(ctx);
      w.duration = 0;
      return 1;
    }
    Begin(ctx, ms);
    return 1;
  }
  const uint32_t elapsed = get_skip_state(ctx) ? w.duration : KivtimeGetTime() - w.start;
  if (elapsed >= w.duration) {
    End(w);
    return 1;
  }
  command_wait_again(ctx);
  return 1;
}

int CmdWaitClickNoAnim(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  if (w.duration == 0) {
    if (CutWaitEnds(ctx)) return 1;
    const auto ms = static_cast<uint32_t>(value_stack_pop(ctx));
    game_debug_log(kDebugWindowCommand, "wait_click_no_anim %d", static_cast<int>(ms));
    Begin(ctx, ms);
    return 1;
  }
  const uint32_t elapsed = KivtimeGetTime() - w.start;
  const bool clicked = text_input_pending(ctx) != 0;
  const bool ends = get_skip_state(ctx) || clicked ||
                    (w.duration != kWaitEndless && elapsed >= w.duration) ||
                    (w.duration == kWaitEndless && ctx->autoMode && !voice_is_playing(ctx));
  if (ends) {
    // The click that ended the wait is used up.
    if (clicked) text_input_clear(ctx);
    End(w);
    command_yield(ctx);
    return 1;
  }
  command_wait_again(ctx);
  return 1;
}

int CmdSyncBegin(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  w.syncBase = KivtimeGetTime();
  w.syncSet = 1;
  w.syncDuration = 0;
  game_debug_puts(kDebugWindowCommand, "wait_sync_begin");
  return 1;
}

int CmdSyncRelease(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  if (w.syncDuration == 0) {
    if (CutWaitEnds(ctx)) return 1;
    const auto ms = static_cast<uint32_t>(value_stack_pop(ctx));
    game_debug_log(kDebugWindowCommand, "wait_sync %d", static_cast<int>(ms));
    w.syncDuration = ms == 0 ? 1 : ms;
    w.waitPc = CallPc(ctx);
    command_wait_again(ctx);
    return 1;
  }
  // Without a sync base there is nothing to wait for: the release ends.
  const uint32_t elapsed = w.syncSet ? KivtimeGetTime() - w.syncBase : w.syncDuration;
  if (elapsed >= w.syncDuration) {
    w.syncDuration = 0;
    game_debug_log(kDebugWindowCommand, "wait_sync_release %d", static_cast<int>(elapsed));
    return 1;
  }
  command_wait_again(ctx);
  return 1;
}

int CmdSyncEnd(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  w.syncBase = 0;
  w.syncSet = 0;
  w.syncDuration = 0;
  game_debug_puts(kDebugWindowCommand, "wait_sync_end");
  return 1;
}

int CmdWaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

int CmdWaitClear(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  if (w.duration != 0 || w.syncDuration != 0) {
    w.cancel = 1;
    w.cancelPc = w.waitPc;
  }
  w.duration = 0;
  w.syncDuration = 0;
  w.syncBase = 0;
  w.syncSet = 0;
  w.pushedDuration = 0;
  ScriptRecord& s = ctx->script;
  std::memset(s.points, 0, sizeof s.points);
  s.pointDepth = 0;
  game_debug_puts(kDebugWindowCommand, "wait_clear");
  return 1;
}

int CmdSyncGetTime(VmContext* ctx) {
  const WaitTimers& w = Timers(ctx);
  // Without a sync base there is no time to measure: 0.
  const uint32_t elapsed = w.syncSet ? KivtimeGetTime() - w.syncBase : 0;
  command_set_result(ctx, static_cast<int32_t>(elapsed));
  game_debug_log(kDebugWindowCommand, "[%d] wait_sync_get_time", static_cast<int>(elapsed));
  return 1;
}

int CmdTimePush(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  w.pushedDuration = w.duration;
  w.pushedStart = w.start;
  w.pushedSkippable = w.skippable;
  w.pushedWaitPc = w.waitPc;
  // The wait put aside no longer runs: a wait of the event routine starts
  // fresh and pops its own arguments.
  w.duration = w.start = w.skippable = w.waitPc = 0;
  game_debug_puts(kDebugWindowCommand, "wait_time_push");
  return 1;
}

int CmdTimePop(VmContext* ctx) {
  WaitTimers& w = Timers(ctx);
  w.duration = w.pushedDuration;
  w.start = w.pushedStart;
  w.skippable = w.pushedSkippable;
  w.waitPc = w.pushedWaitPc;
  w.pushedDuration = w.pushedStart = w.pushedSkippable = w.pushedWaitPc = 0;
  game_debug_puts(kDebugWindowCommand, "wait_time_pop");
  return 1;
}

}  // namespace

void wait_timers_clear(VmContext* ctx) { std::memset(&ctx->waits, 0, sizeof ctx->waits); }

namespace script_thread_detail {
int CmdCreateThread(VmContext* ctx);
int CmdClearThread(VmContext* ctx);
int CmdEnableThread(VmContext* ctx);
}  // namespace script_thread_detail

void wait_thread_commands_install() {
  using namespace script_thread_detail;
  static const CommandBinding kCommands[] = {
      {"wait", CmdWait},
      {"wait_click", CmdWaitClick},
      {"wait_sync_begin", CmdSyncBegin},
      {"wait_sync_release", CmdSyncRelease},
      {"wait_sync_end", CmdSyncEnd},
      {"wait_frame", CmdWaitFrame},
      {"wait_clear", CmdWaitClear},
      {"wait_click_no_anim", CmdWaitClickNoAnim},
      {"wait_sync_get_time", CmdSyncGetTime},
      {"wait_time_push", CmdTimePush},
      {"wait_time_pop", CmdTimePop},
      {"create_thread", CmdCreateThread},
      {"clear_thread", CmdClearThread},
      {"enable_thread", CmdEnableThread},
  };
  command_bind_all(kCommands);
}
