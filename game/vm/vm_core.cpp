// The run loop and the 33 core instructions (group 1).
//
// Arithmetic is that of a 32-bit machine, written in well-defined C++: add,
// sub, mul and neg wrap (computed in uint32_t); shift counts are masked to 5
// bits; div and mod by 0 leave the destination unchanged; the most negative
// value divided by -1 stays the most negative value (the wrapped quotient)
// and its remainder by -1 is 0. Comparisons and division are signed.
//
// Before an instruction runs, the loop checks that all its operand words lie
// inside the code, so decoding needs no further checks; a pc outside the
// code or an instruction cut off by the end of the file ends the run.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "component_entries.h"
#include "start/game_debug_log.h"
#include "start/game_task.h"
#include "kiv.h"
#include "platform/core/text_encoding.h"
#include "vm/vm.h"
#include "vm/vm_operands.h"

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

// Where the run loop reads: kept in locals while instructions run inline,
// and written back to the script record before anything out of line runs.
struct Cursor {
  const uint8_t* code;
  uint32_t pc;
};

inline uint32_t Next(Cursor& c) {
  uint32_t w = CodeWord(c.code, c.pc);
  c.pc += 4;
  return w;
}

inline int32_t* Operand(VmContext* ctx, Cursor& c) { return OperandCell(ctx, Next(c)); }

// The same on the script record's pc, for the out-of-line instructions.
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

// A jump to a label Point.dat does not hold: going on with the next
// instruction would run code the script never meant to reach (its saves
// among it), so the script stops at the end of its code and the game ends
// with an error box.
[[gnu::cold]] int JumpRefused(VmContext* ctx, uint32_t pc, uint32_t label) {
  game_debug_log(kDebugWindowError, "[%u]jump label error : %u", pc, label);
  char detail[160];
  std::snprintf(detail, sizeof detail, "Script.src: a jump at pc %u to label %u, which Point.dat does not hold", pc,
                label);
  ctx->script.stopped = 1;
  ctx->script.yield = 1;
  game_end_for_data_error(detail);
  return 0;
}

// The pc of a label: the common case inline, anything doubtful through the
// checked (and logging) label_pc.
inline bool LabelPc(const VmContext* ctx, uint32_t label, uint32_t* pc) {
  const ScriptRecord& s = ctx->script;
  const uint64_t back = 4ull * label;
  if (label != 0 && ctx->data.point && ctx->data.pointSize >= 16 + back) {
    uint32_t offset;
    std::memcpy(&offset, ctx->data.point + (ctx->data.pointSize - back), 4);
    const uint64_t target = uint64_t{s.codeBase} + offset;
    if (target <= s.codeSize) {
      *pc = static_cast<uint32_t>(target);
      return true;
    }
  }
  return label_pc(ctx, label, pc);
}

inline int JumpToLabel(VmContext* ctx, Cursor& c, uint32_t label) {
  uint32_t target;
  if (!LabelPc(ctx, label, &target)) return JumpRefused(ctx, c.pc, label);
  c.pc = target;
  return 1;
}

int OpGosub(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  uint32_t label = U(*Operand(ctx));
  uint32_t target;
  if (!LabelPc(ctx, label, &target)) return JumpRefused(ctx, s.pc, label);
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

int OpEnd(VmContext* ctx) {
  KivEnd();
  ctx->script.yield = 1;
  return 1;
}

int OpReset(VmContext* ctx) {
  display_queue_apply(ctx);
  game_reset(ctx);
  return 1;
}

// not / neg: the register is in bits 0-15 of a raw word.
inline int32_t* RawRegister(VmContext* ctx, Cursor& c) {
  uint32_t index = Next(c) & 0xFFFF;
  if (!index_in(index, kRegisterCount, "register")) {
    ctx->refused = 0;
    return &ctx->refused;
  }
  return &ctx->registers[index];
}

// Runs an instruction that lives out of line on the script record's pc.
inline int OutOfLine(VmContext* ctx, Cursor& c, int (*op)(VmContext*)) {
  ctx->script.pc = c.pc;
  int result = op(ctx);
  c.pc = ctx->script.pc;
  return result;
}

// One core instruction; its operands lie inside the code. 0 = failed.
[[gnu::always_inline]] inline int Execute(VmContext* ctx, Cursor& c, uint32_t op) {
  int32_t* d;
  int32_t b;
  switch (op) {
#define BINARY(expr)    \
  d = Operand(ctx, c);  \
  b = *Operand(ctx, c); \
  *d = (expr);          \
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
      d = Operand(ctx, c);
      b = *Operand(ctx, c);
      if (b != 0) *d = (*d == INT32_MIN && b == -1) ? INT32_MIN : *d / b;
      return 1;
    case kMod:
      d = Operand(ctx, c);
      b = *Operand(ctx, c);
      if (b != 0) *d = (*d == INT32_MIN && b == -1) ? 0 : *d % b;
      return 1;
    case kJmp:
      return JumpToLabel(ctx, c, U(*Operand(ctx, c)));
    case kJz: {
      uint32_t label = Next(c);
      if (*Operand(ctx, c) != 0) return 1;
      return JumpToLabel(ctx, c, label);
    }
    case kNot:
      d = RawRegister(ctx, c);
      *d = *d == 0;
      return 1;
    case kNeg:
      d = RawRegister(ctx, c);
      *d = Wrap(0u - U(*d));
      return 1;
    case kNop:
      return 1;
    case kPop:
      d = Operand(ctx, c);
      *d = value_stack_pop(ctx);
      return 1;
    case kPush:
      b = *Operand(ctx, c);
      if (ctx->valueStackDepth >= 0 && ctx->valueStackDepth < kValueStackSize - 1) [[likely]]
        ctx->valueStack[ctx->valueStackDepth++] = b;
      else
        value_stack_push(ctx, b);  // the full stack and its log lines
      return 1;
    case kGosub: return OutOfLine(ctx, c, OpGosub);
    case kEnd: return OutOfLine(ctx, c, OpEnd);
    case kCall: return OutOfLine(ctx, c, OpCall);
    case kRet: return OutOfLine(ctx, c, OpRet);
    case kReset: return OutOfLine(ctx, c, OpReset);
    case kFramePush: return OutOfLine(ctx, c, OpFramePush);
    case kFrameRelease: return OutOfLine(ctx, c, OpFrameRelease);
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
  if (!s.code || s.pc == s.codeSize || s.stopped) return;
  Cursor c{s.code, s.pc};
  uint32_t steps = 0;
  for (;;) {
    if (s.stepLimit != 0 && steps++ == s.stepLimit) [[unlikely]] break;
    if (s.pointDepth > 0 && s.pointDepth <= kScriptPointDepth && c.pc == s.points[s.pointDepth - 1]) break;
    s.yield = 0;
    if (c.pc > s.codeSize || s.codeSize - c.pc < 4) [[unlikely]] {
      s.pc = c.pc;
      LogOutsideCode(s, "pc outside the code");
      return;
    }
    const uint32_t word = Next(c);
    s.commandWord = word;
    const uint32_t op = word - kCoreGroupWord;
    if (op - 1 >= kCoreOpCount) [[unlikely]] {
      s.pc = c.pc;
      LogBadWord(s, word);
    } else if (s.codeSize - c.pc < 4u * kOperandWords[op]) [[unlikely]] {
      s.pc = c.pc;
      LogOutsideCode(s, "instruction cut off by the end of the code");
      return;
    } else if (!Execute(ctx, c, op)) [[unlikely]] {
      s.pc = c.pc;
      LogFailed(s);
      if (s.stopped) {
        s.pc = s.codeSize;  // the machine stays at the end of the code
        return;
      }
    }
    if (s.yield || c.pc == s.codeSize) break;
  }
  s.pc = c.pc;
}

int vm_execute_core(VmContext* ctx, uint32_t word) {
  ScriptRecord& s = ctx->script;
  const uint32_t op = word & 0xFF;
  if (op - 1 >= kCoreOpCount) {
    LogBadWord(s, word);
    return 0;
  }
  if (!s.code || s.pc > s.codeSize || s.codeSize - s.pc < 4u * kOperandWords[op]) {
    LogOutsideCode(s, "instruction cut off by the end of the code");
    return 0;
  }
  Cursor c{s.code, s.pc};
  const int result = Execute(ctx, c, op);
  s.pc = c.pc;
  return result;
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

int32_t* OperandCellMemory(VmContext* ctx, uint32_t w) {
  const uint32_t index = w & 0xFFFF;
  const uint32_t offset = (w >> 16) & 0xFFF;
  int64_t r;
  switch (w >> 28) {
    case 4:
      if (index < kRegisterCount) [[likely]]
        return &ctx->registers[index];
      return Refused(ctx, "operand register", index, kRegisterCount);
    case 1:
      if (!RegisterValue(ctx, index, &r)) break;
      if (!index_in(r, kUserMemoryWords, "user memory")) break;
      return &ctx->userMemory[r];
    case 2:
      if (!RegisterValue(ctx, index, &r)) break;
      if (!ctx->systemVariables) return Refused(ctx, "system variables (not attached)", r, 0);
      if (!index_in(r, 512, "system variable")) break;
      return &ctx->systemVariables[r];
    case 3:
      if (!index_in(index, kValueStackSize, "value stack slot")) break;
      return &ctx->valueStack[index];
    case 5:
      if (!RegisterValue(ctx, index, &r)) break;
      r += offset;
      if (offset != 0) r += ctx->baseRegister;
      if (!index_in(r, kTempAreaWords, "temporary area")) break;
      return &ctx->tempArea[r];
    case 6: {
      if (!RegisterValue(ctx, index, &r)) break;
      if (int32_t* cell = MemElement(ctx, r + offset)) return cell;
      break;
    }
    case 7: {
      if (!RegisterValue(ctx, index, &r)) break;
      const int32_t* table = MemElement(ctx, offset);
      if (!table) break;
      const int64_t first = (static_cast<uint32_t>(*table) >> 16) & 0xFFF;
      if (int32_t* cell = MemElement(ctx, r + first)) return cell;
      break;
    }
    case 8:
      r = static_cast<int64_t>(ctx->framePointer) - index;
      if (!index_in(r, kFrameSlotCount, "frame slot")) break;
      return &ctx->frameSlots[r];
    case 9:
      return &ctx->baseRegister;
    default:
      ctx->immediate = static_cast<int32_t>(w);
      return &ctx->immediate;
  }
  ctx->refused = 0;
  return &ctx->refused;
}

int32_t* Refused(VmContext* ctx, const char* what, int64_t value, int64_t limit) {
  index_refused(what, value, limit);
  ctx->refused = 0;
  return &ctx->refused;
}
}  // namespace vm_detail
