// The machine's state outside the run loop: the value stack, results and the
// blocking contract, labels, return points and script points, the memory
// stack, the skip state, the display-queue post and the resets.
#include "vm/vm.h"

#include <algorithm>
#include <cstring>

#include "vm/checked_index.h"
#include "component_entries.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "kiv.h"
#include "platform/core/text_encoding.h"

void index_refused(const char* what, int64_t value, int64_t limit) {
  game_debug_log(kDebugWindowError, "%s out of range: %lld (limit %lld)", what, static_cast<long long>(value),
                 static_cast<long long>(limit));
}

void vm_context_attach(VmContext* ctx, int32_t* system_variables) { ctx->systemVariables = system_variables; }

void vm_context_attach(GameRecord* record) { vm_context_attach(&record->ctx, record->systemVariables); }

// ---- Value stack and handler helpers ----

int32_t value_stack_pop(VmContext* ctx) {
  int32_t& depth = ctx->valueStackDepth;
  if (depth <= 0) {
    game_debug_puts(kDebugWindowError, "not stack");
    depth = 0;
    return 0;
  }
  if (depth > kValueStackSize) {  // only a damaged save could leave this
    game_debug_log(kDebugWindowError, "value stack depth out of range: %d", depth);
    depth = kValueStackSize;
  }
  return ctx->valueStack[--depth];
}

void value_stack_push(VmContext* ctx, int32_t value) {
  int32_t& depth = ctx->valueStackDepth;
  if (depth < 0) depth = 0;
  if (depth >= kValueStackSize) {
    game_debug_puts(kDebugWindowError, "stack over");
    return;
  }
  ctx->valueStack[depth++] = value;
  if (depth >= kValueStackSize) game_debug_puts(kDebugWindowError, "stack over");
}

void command_set_result(VmContext* ctx, int32_t value) {
  if (index_in(ctx->resultIndex, kRegisterCount, "result register")) ctx->registers[ctx->resultIndex] = value;
}

void command_wait_again(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  s.yield = 1;
  if (s.pc >= 12) s.pc -= 12;
}

// ---- Labels ----

bool code_offset_pc(const VmContext* ctx, uint32_t offset, uint32_t* pc) {
  const ScriptRecord& s = ctx->script;
  const uint64_t at = uint64_t{s.codeBase} + offset;
  if (!s.code || at >= s.codeSize) return false;
  *pc = static_cast<uint32_t>(at);
  return true;
}

bool label_code_offset(const VmContext* ctx, uint32_t label, uint32_t* offset) {
  uint32_t at = 0;
  if (label != 0) {
    // Label L is the u32 at byte size - 4L of Point.dat, inside its body.
    const uint64_t size = ctx->data.pointSize;
    const uint64_t back = 4ull * label;
    if (!ctx->data.point || size < 16 + back) {
      index_refused("Point.dat label", label, size >= 16 ? static_cast<int64_t>((size - 16) / 4 + 1) : 0);
      return false;
    }
    std::memcpy(&at, ctx->data.point + (size - back), 4);
  }
  // The target may be the end of the code, not past it.
  const ScriptRecord& s = ctx->script;
  const uint64_t target = static_cast<uint64_t>(s.codeBase) + at;
  if (target > s.codeSize) {
    index_refused("label target pc", static_cast<int64_t>(target), s.codeSize);
    return false;
  }
  *offset = at;
  return true;
}

bool label_pc(const VmContext* ctx, uint32_t label, uint32_t* pc) {
  uint32_t offset;
  if (!label_code_offset(ctx, label, &offset)) return false;
  *pc = ctx->script.codeBase + offset;
  return true;
}

// ---- Return points and script points ----

int return_point_push(VmContext* ctx, int key, uint32_t pc, uint32_t kind) {
  auto* p = static_cast<ReturnPoint*>(KivMemoryAlloc(sizeof(ReturnPoint), 1));
  if (!p) return 0;
  p->pc = pc;
  p->kind = kind;
  if (!KivListPush(ctx->gameList, reinterpret_cast<intptr_t>(p), key)) {
    KivMemoryFree(p);
    return 0;
  }
  return 1;
}

void script_point_push(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  if (s.pointDepth < 0) s.pointDepth = 0;
  if (s.pointDepth >= kScriptPointDepth) {
    game_debug_log(kDebugWindowError, "[%d]script point push stack over", static_cast<int>(s.pc));
    return;
  }
  s.points[s.pointDepth++] = s.pc;
}

void script_point_pop(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  if (s.pointDepth <= 0) {
    s.pointDepth = 0;
    game_debug_log(kDebugWindowError, "[%d]script point pop stack none", static_cast<int>(s.pc));
    return;
  }
  s.pointDepth = std::min(s.pointDepth, kScriptPointDepth) - 1;
}

// ---- Memory stack ----

static_assert(sizeof(VmContext::tempArea) <= sizeof(VmContext::memoryStackStore));

void memory_stack_push(VmContext* ctx) {
  if (ctx->memoryStackDepth != 0) {
    game_debug_puts(kDebugWindowError, "push memory stack over");
    return;
  }
  std::memcpy(ctx->memoryStackStore, ctx->tempArea, sizeof ctx->tempArea);
  ctx->memoryStackDepth = 1;
}

void memory_stack_pop(VmContext* ctx) {
  if (ctx->memoryStackDepth == 0) {
    game_debug_puts(kDebugWindowError, "pop memory stack none");
    return;
  }
  std::memcpy(ctx->tempArea, ctx->memoryStackStore, sizeof ctx->tempArea);
  ctx->memoryStackDepth = 0;
}

// ---- Skip state ----

uint32_t get_skip_state(const VmContext* ctx) {
  uint32_t state = 0;
  if (ctx->skipMode) state |= kSkipStateMode;
  // Space, Enter or the left button pushed without Alt; Ctrl held.
  const auto on = static_cast<uint32_t>(KivInputGetKeyOn());
  const auto pushed = static_cast<uint32_t>(KivInputGetKeyPush());
  if (KivInputGetWheel() > 0 || ((pushed & 0x800006u) && !(on & 0x20u))) state |= kSkipStatePushed;
  if (on & 0x8u) state |= kSkipStateCtrl;
  return state;
}

// ---- Display queue ----

int display_queue_post(VmContext* ctx, const void* operation, size_t size) {
  uint32_t first = 0;
  if (size >= 4) std::memcpy(&first, operation, 4);
  const size_t bytes = std::max(size, kDisplayOperationBytes);
  void* copy = size >= 4 && bytes < 0x10000 ? KivMemoryAlloc(static_cast<int>(bytes), 1) : nullptr;
  if (copy) {
    std::memcpy(copy, operation, size);
    if (KivListPushLast(ctx->gameList, reinterpret_cast<intptr_t>(copy), kGameListDisplayOps)) return 1;
    KivMemoryFree(copy);
  }
  game_error_log(plat::Sjis("メモリ不足発生 : code[0x%08X]"), first);
  return 0;
}

// ---- Resets ----

void vm_reset(VmContext* ctx) {
  std::memset(ctx->valueStack, 0, sizeof ctx->valueStack);
  ctx->valueStackDepth = 0;
  std::memset(ctx->frameSlots, 0, sizeof ctx->frameSlots);
  ctx->framePointer = 0;
  ctx->baseRegister = 0;
  std::memset(ctx->registers, 0, sizeof ctx->registers);
  std::memset(ctx->userMemory, 0, sizeof ctx->userMemory);
  ctx->memoryStackDepth = 0;
  std::memset(ctx->memoryStackStore, 0, sizeof ctx->memoryStackStore);
}

namespace {
void FreeListKey(KivList* list, int key) {
  while (void* p = reinterpret_cast<void*>(KivListPop(list, key))) KivMemoryFree(p);
}
}  // namespace

void game_reset(VmContext* ctx) {
  // 1. Switches.
  ctx->skipMode = 0;
  ctx->autoMode = 0;
  ctx->priorityBase = 0;
  // The key bits go; the engine's masks follow the stored bits, so a key
  // the script had cancelled works again after a restart.
  ctx->keyCancelKeys = 0;
  KivInputKeyCancel(0, static_cast<int>(ctx->keyCancelMouse));
  // 2. Motions, layer rasters, the message window.
  motion_reset(ctx);
  fx_free(ctx);
  text_reveal_task_free(ctx);
  text_release(ctx);
  text_window_reset_words(ctx);
  // 3-5. Buttons, save state, sound, layers, choices, actions.
  btn_release_all(ctx);
  save_state_reset(ctx);
  se_release(ctx);
  bgm_release(ctx);
  voice_release(ctx);
  layer_release_all(ctx);
  select_release(ctx);
  action_free(ctx);
  // 6-9. Backlog, script thread, screen effects, player-name entry.
  history_reset(ctx);
  script_thread_clear(ctx);
  effect_release(ctx);
  player_name_release(ctx);
  // 10. Wait timers and script points.
  wait_timers_clear(ctx);
  std::memset(ctx->script.points, 0, sizeof ctx->script.points);
  ctx->script.pointDepth = 0;
  // 11. The machine.
  vm_reset(ctx);
  // 12. Key messages and the player-name record.
  key_message_clear(ctx);
  player_name_record_clear(ctx);
  // 13. Everything left on the game list.
  FreeListKey(ctx->gameList, kGameListDisplayOps);
  FreeListKey(ctx->gameList, kGameListReturnPoints);
  FreeListKey(ctx->gameList, kGameListThreadReturns);
}
