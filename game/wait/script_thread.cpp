// Group 21, the script thread: a routine the frame driver enters once a
// frame before the buttons and the main script, the way gosub enters one,
// with its return point under game-list key 3; its ret stops the run for
// the frame and the main script goes on from where it stood.
#include <cstring>

#include "component_entries.h"
#include "kiv.h"
#include "platform/core/byte_io.h"
#include "platform/core/text_encoding.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"
#include "wait/waits.h"

namespace {

// The routine's pc, checked against the code.
bool TargetPc(const VmContext* ctx, uint32_t target, uint32_t* pc) {
  if (code_offset_pc(ctx, target, pc)) return true;
  const ScriptRecord& s = ctx->script;
  index_refused("script thread target", static_cast<int64_t>(uint64_t{s.codeBase} + target), s.codeSize);
  return false;
}

}  // namespace

namespace script_thread_detail {

int CmdCreateThread(VmContext* ctx) {
  const auto label = static_cast<uint32_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "create_thread %d", static_cast<int>(label));
  uint32_t pc;
  if (!label_pc(ctx, label, &pc)) return 0;
  ScriptThread& t = ctx->thread;
  t.active = 1;
  t.enabled = 1;
  t.target = pc - ctx->script.codeBase;
  return 1;
}

int CmdClearThread(VmContext* ctx) {
  script_thread_clear(ctx);
  return 1;
}

int CmdEnableThread(VmContext* ctx) {
  ctx->thread.enabled = value_stack_pop(ctx);
  return 1;
}

}  // namespace script_thread_detail

void script_thread_clear(VmContext* ctx) { std::memset(&ctx->thread, 0, sizeof ctx->thread); }

int script_thread_poll(VmContext* ctx) {
  ScriptThread& t = ctx->thread;
  if (!t.active || !t.enabled) return 0;
  // A run that has not come back yet (it waits inside the routine) is not
  // entered again: the main run carries it on from where it stands.
  if (ctx->gameList && KivListGetDataCount(ctx->gameList, kGameListThreadReturns) > 0) return 0;
  if (t.countdown != 0) {
    t.countdown -= 1;
    return 0;
  }
  uint32_t pc;
  if (!TargetPc(ctx, t.target, &pc)) return 0;
  ScriptRecord& s = ctx->script;
  if (!return_point_push(ctx, kGameListThreadReturns, s.pc, kReturnKindGosub)) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%d]メモリ不足発生"), static_cast<int>(s.pc));
    return 0;
  }
  s.pc = pc;
  return 1;
}

bool script_thread_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const ScriptThread& t = ctx->thread;
  plat::ByteWriter w;
  w.I32(t.active);
  w.I32(t.enabled);
  w.I32(t.countdown);
  w.U32(t.target);
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

namespace {

bool ReadThread(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, ScriptThread* out, size_t* size) {
  if (cursor > data.size()) return false;
  plat::ByteReader r(data.subspan(cursor));
  ScriptThread& t = *out;
  t = ScriptThread{};
  t.active = r.I32();
  t.enabled = r.I32();
  t.countdown = r.I32();
  t.target = r.U32();
  if (!r.ok()) {
    game_debug_puts(kDebugWindowError, "load error : script thread block short");
    return false;
  }
  uint32_t pc;
  if (t.active && !TargetPc(ctx, t.target, &pc)) {
    game_debug_puts(kDebugWindowError, "load error : script thread target outside the code");
    return false;
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool script_thread_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  ScriptThread t;
  size_t size = 0;
  if (!ReadThread(ctx, data, *cursor, &t, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool script_thread_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  ScriptThread t;
  size_t size = 0;
  if (!ReadThread(ctx, data, *cursor, &t, &size)) return false;
  ctx->thread = t;
  *cursor += static_cast<uint32_t>(size);
  return true;
}
