// Operand decoding, inline for the run loop. The public entry points are in
// vm.h (operand_decode, operand_cell); this header is the machine's own.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "checked_index.h"
#include "vm_context.h"

static_assert(std::endian::native == std::endian::little,
              "Mem.dat elements are used in place as little-endian words");

namespace vm_detail {

constexpr uint32_t kMemHeaderBytes = 16;

// A word of the code at a byte offset the caller has checked.
inline uint32_t CodeWord(const uint8_t* code, uint32_t at) {
  uint32_t w;
  std::memcpy(&w, code + at, 4);
  return w;
}

// The stand-in cell of a refused operand: reads 0, writes go nowhere.
[[gnu::cold]] int32_t* Refused(VmContext* ctx, const char* what, int64_t value, int64_t limit);

inline bool RegisterValue(VmContext* ctx, uint32_t index, int64_t* value) {
  if (!index_in(index, kRegisterCount, "operand register")) return false;
  *value = ctx->registers[index];
  return true;
}

// Mem.dat element k of the loaded image, or null (logged) when outside it.
inline int32_t* MemElement(VmContext* ctx, int64_t k) {
  const uint32_t size = ctx->data.memSize;
  const uint64_t elements = size >= kMemHeaderBytes ? (size - kMemHeaderBytes) / 4 : 0;
  if (!ctx->data.mem || !index_in(k, static_cast<int64_t>(elements), "Mem.dat element")) return nullptr;
  // The image comes from the allocator, so every element is 4-byte aligned.
  return reinterpret_cast<int32_t*>(ctx->data.mem + kMemHeaderBytes + 4 * static_cast<uint64_t>(k));
}

inline int32_t* OperandCell(VmContext* ctx, uint32_t w) {
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

}  // namespace vm_detail
