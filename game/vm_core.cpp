// The run loop and the 33 core instructions (group 1).
//
// Arithmetic is that of a 32-bit machine, written in well-defined C++: add,
// sub, mul and neg wrap (computed in uint32_t); shift counts are masked to 5
// bits; div and mod by 0 leave the destination unchanged; the most negative
// value divided by -1 stays the most negative value (the wrapped quotient)
// and its remainder by -1 is 0. Comparisons and division are signed.
//
// Before an instruction runs, the loop checks that all its operand words lie
// inside the code, so decoding reads no further checks; a pc outside the
// code or an instruction cut off by the end of the file ends the run.
#include <climits>
#include <cstdint>

#include "component_stubs.h"
#include "game_debug_log.h"
#include "kiv.h"
#include "platform/text_encoding.h"
#include "vm.h"
#include "vm_operands.h"

using vm_detail::CodeWord;
using vm_detail::OperandCell;

namespace {

enum CoreOp : uint32_t {
  kMov = 1, kAdd, kSub, kMul, kDiv, kAnd, kOr, kXor, kJmp, kJz, kGosub,
  kEq, kNe, kLe, kGe, kLt, kGt, kLor, kLand, kNot, kEnd, kNop, kCall, kRet,
  kReset, kMod, kShl, kSar, kNeg, kPop, kPush, kFramePush, kFrameRelease,
};
constexpr uint32_t kCoreOpCount = 33;
constexpr uint32_t kCoreGroupWord = 0x00010000;

// Words after the command word, per opcode.
constexpr uint8_t kOperandWords[kCoreOpCount + 1] = {
    0,                       // (none)
    2, 2, 2, 2, 2, 2, 2, 2,  // mov add sub mul div and or xor
    1, 2, 1,                 // jmp jz gosub
    2, 2, 2, 2, 2, 2, 2, 2,  // eq ne le ge lt gt lor land
    1, 0, 0, 2, 0, 0,        // not end nop call ret reset
    2, 2, 2, 1,              // mod shl sar neg
    1, 1, 1, 1,              // pop push frame_push frame_release
};

inline int32_t Wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }

// The operand word at pc; pc moves past it.
inline int32_t* Operand(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  uint32_t w = CodeWord(s.code, s.pc);
  s.pc += 4;
  return OperandCell(ctx, w);
}

inline uint32_t RawWord(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  uint32_t w = CodeWord(s.code, s.pc);
  s.pc += 4;
  return w;
}

[[gnu::cold]] int JumpRefused(VmContext* ctx, uint32_t label) {
  game_debug_log(kDebugWindowError, "[%u]jump label error : %u", ctx->script.pc, label);
  return 0;
}

inline int JumpToLabel(VmContext* ctx, uint32_t label) {
  uint32_t pc;
  if (!label_pc(ctx, label, &pc)) return JumpRefused(ctx, label);
  ctx->script.pc = pc;
  return 1;
}

int OpGosub(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  uint32_t label = U(*Operand(ctx));
  uint32_t target;
  if (!label_pc(ctx, label, &target)) return JumpRefused(ctx, label);
  uint32_t back = s.pc;
  if (!return_point_push(ctx, kGameListReturnPoints, back, kReturnKindGosub))
    game_error_log(plat::Sjis("[%d]メモリ不足発生"), static_cast<int>(back));
  s.pc = target;
  game_debug_puts(kDebugWindowCommand, "");
  game_debug_log(kDebugWindowCommand, "gosub %d [%d]", static_cast<int>(back), static_cast<int>(target));
  if (!get_skip_state(ctx)) ctx->pauseTimer = PauseTimer{KivtimeGetTime(), 50};
  return 1;
}

int OpRet(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  if (auto* p = reinterpret_cast<ReturnPoint*>(KivListPop(ctx->gameList, kGameListThreadReturns))) {
    s.yield = 1;
    s.pc = p->pc;
    KivMemoryFree(p);
    return 1;
  }
  if (auto* p = reinterpret_cast<ReturnPoint*>(KivListPop(ctx->gameList, kGameListReturnPoints))) {
    if (p->kind == kReturnKindButton || p->kind == kReturnKindKeyMessage) s.yield = 1;
    s.pc = p->pc;
    KivMemoryFree(p);
    game_debug_log(kDebugWindowCommand, "ret [%d]", static_cast<int>(s.pc));
    game_debug_puts(kDebugWindowCommand, "");
    return 1;
  }
  // Nothing to return to: the script starts again from its entry.
  game_reset(ctx);
  s.pc = s.entryPc;
  system_btn_table_clear(ctx);
  game_debug_puts(kDebugWindowCommand, plat::Sjis("ret [戻り先がないので始めから開始します]"));
  game_debug_puts(kDebugWindowCommand, "");
  return 1;
}

int OpCall(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  uint32_t word = RawWord(ctx);
  uint32_t result = RawWord(ctx);
  s.commandWord = word;
  ctx->resultIndex = static_cast<int32_t>(result);
  CommandHandler handler = command_handler(word);
  return handler ? handler(ctx) : 0;
}

int OpFramePush(VmContext* ctx) {
  int32_t n = *Operand(ctx);
  for (int32_t i = 0; i < n; ++i) {
    if (!index_in(ctx->framePointer, kFrameSlotCount, "frame_push slot")) break;
    int32_t v = value_stack_pop(ctx);
    ctx->frameSlots[ctx->framePointer++] = v;
  }
  return 1;
}

int OpFrameRelease(VmContext* ctx) {
  int64_t fp = static_cast<int64_t>(ctx->framePointer) - *Operand(ctx);
  if (index_in(fp, kFrameSlotCount + 1, "frame_release frame pointer")) ctx->framePointer = static_cast<int32_t>(fp);
  return 1;
}

// not / neg: the register is in bits 0-15 of a raw word.
inline int32_t* RawRegister(VmContext* ctx) {
  uint32_t index = RawWord(ctx) & 0xFFFF;
  if (!index_in(index, kRegisterCount, "register")) {
    ctx->refused = 0;
    return &ctx->refused;
  }
  return &ctx->registers[index];
}

// One core instruction; the operands lie inside the code. 0 = failed.
inline int Execute(VmContext* ctx, uint32_t op) {
  int32_t* d;
  int32_t b;
  switch (op) {
#define BINARY(expr)  \
  d = Operand(ctx);   \
  b = *Operand(ctx);  \
  *d = (expr);        \
  return 1;
    case kMov: BINARY(b)
    case kAdd: BINARY(Wrap(U(*d) + U(b)))
    case kSub: BINARY(Wrap(U(*d) - U(b)))
    case kMul: BINARY(Wrap(U(*d) * U(b)))
    case kAnd: BINARY(*d & b)
    case kOr: BINARY(*d | b)
    case kXor: BINARY(*d ^ b)
    case kEq: BINARY(*d == b)
    case kNe: BINARY(*d != b)
    case kLe: BINARY(*d <= b)
    case kGe: BINARY(*d >= b)
    case kLt: BINARY(*d < b)
    case kGt: BINARY(*d > b)
    case kLor: BINARY(*d != 0 || b != 0)
    case kLand: BINARY(*d != 0 && b != 0)
    case kShl: BINARY(Wrap(U(*d) << (U(b) & 31)))
    case kSar: BINARY(*d >> (U(b) & 31))
#undef BINARY
    case kDiv:
      d = Operand(ctx);
      b = *Operand(ctx);
      if (b != 0) *d = (*d == INT32_MIN && b == -1) ? INT32_MIN : *d / b;
      return 1;
    case kMod:
      d = Operand(ctx);
      b = *Operand(ctx);
      if (b != 0) *d = (*d == INT32_MIN && b == -1) ? 0 : *d % b;
      return 1;
    case kJmp:
      return JumpToLabel(ctx, U(*Operand(ctx)));
    case kJz: {
      uint32_t label = RawWord(ctx);
      if (*Operand(ctx) != 0) return 1;
      return JumpToLabel(ctx, label);
    }
    case kGosub:
      return OpGosub(ctx);
    case kNot:
      d = RawRegister(ctx);
      *d = *d == 0;
      return 1;
    case kNeg:
      d = RawRegister(ctx);
      *d = Wrap(0u - U(*d));
      return 1;
    case kEnd:
      KivEnd();
      ctx->script.yield = 1;
      return 1;
    case kNop:
      return 1;
    case kCall:
      return OpCall(ctx);
    case kRet:
      return OpRet(ctx);
    case kReset:
      display_queue_apply(ctx);
      game_reset(ctx);
      return 1;
    case kPop:
      d = Operand(ctx);
      *d = value_stack_pop(ctx);
      return 1;
    case kPush:
      value_stack_push(ctx, *Operand(ctx));
      return 1;
    case kFramePush:
      return OpFramePush(ctx);
    case kFrameRelease:
      return OpFrameRelease(ctx);
    default:
      return 0;
  }
}

[[gnu::cold]] void LogBadWord(const ScriptRecord& s, uint32_t word) {
  game_debug_log(kDebugWindowError, plat::Sjis("[%d]内部コマンドエラー。code = [0x%08X]"), static_cast<int>(s.pc), word);
}

[[gnu::cold]] void LogFailed(const ScriptRecord& s) {
  game_debug_log(kDebugWindowError, plat::Sjis("[%d]内部エラー。code = [0x%08X]"), static_cast<int>(s.pc),
                 s.commandWord);
}

// A pc with no whole instruction left in front of it: the run ends there,
// and the machine stays at the end of the code until something moves it.
[[gnu::cold]] void LogOutsideCode(ScriptRecord& s, const char* what) {
  game_debug_log(kDebugWindowError, "[%u]%s (code size %u)", s.pc, what, s.codeSize);
  s.pc = s.codeSize;
}

}  // namespace

void script_run(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  if (!s.code || s.pc == s.codeSize) return;
  for (;;) {
    if (s.pointDepth > 0 && s.pointDepth <= kScriptPointDepth && s.pc == s.points[s.pointDepth - 1]) return;
    s.yield = 0;
    if (s.pc > s.codeSize || s.codeSize - s.pc < 4) [[unlikely]] {
      LogOutsideCode(s, "pc outside the code");
      return;
    }
    const uint32_t word = CodeWord(s.code, s.pc);
    s.pc += 4;
    s.commandWord = word;
    const uint32_t op = word - kCoreGroupWord;
    if (op - 1 >= kCoreOpCount) [[unlikely]] {
      LogBadWord(s, word);
    } else if (s.codeSize - s.pc < 4u * kOperandWords[op]) [[unlikely]] {
      LogOutsideCode(s, "instruction cut off by the end of the code");
      return;
    } else if (!Execute(ctx, op)) [[unlikely]] {
      LogFailed(s);
    }
    if (s.yield || s.pc == s.codeSize) return;
  }
}

int32_t* operand_cell(VmContext* ctx, uint32_t operand) { return OperandCell(ctx, operand); }

int32_t* operand_decode(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  if (!s.code || s.pc > s.codeSize || s.codeSize - s.pc < 4) {
    index_refused("operand at pc", s.pc, s.codeSize);
    ctx->refused = 0;
    return &ctx->refused;
  }
  return Operand(ctx);
}

namespace vm_detail {
int32_t* Refused(VmContext* ctx, const char* what, int64_t value, int64_t limit) {
  index_refused(what, value, limit);
  ctx->refused = 0;
  return &ctx->refused;
}
}  // namespace vm_detail
