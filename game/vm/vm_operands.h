// Operand decoding, inline for the run loop. The public entry points are in
// vm.h (operand_decode, operand_cell); this header is the machine's own.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "vm/checked_index.h"
#include "vm/vm_context.h"

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

// Every tag but registers and immediates.
int32_t* OperandCellMemory(VmContext* ctx, uint32_t w);  // vm_core.cpp

// Registers and immediates, the operands of most instructions, inline; the
// memory tags out of line.
[[gnu::always_inline]] inline int32_t* OperandCell(VmContext* ctx, uint32_t w) {
  const uint32_t tag = w >> 28;
  if (tag == 4 && (w & 0xFFFF) < kRegisterCount) [[likely]]
    return &ctx->registers[w & 0xFFFF];
  if (tag - 1 >= 9) {  // 0 and 10..15
    ctx->immediate = static_cast<int32_t>(w);
    return &ctx->immediate;
  }
  return OperandCellMemory(ctx, w);
}

}  // namespace vm_detail
