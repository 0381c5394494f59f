// One script table from any bytes, over the base record's own: a refused
// file leaves the loaded table as it was; an accepted one is read through
// the table's own accessors, which stay inside it.
#pragma once
#include "game_fuzz_support.h"

namespace fuzzgame {

inline uint8_t*& TableImageOf(VmContext* ctx, DataTable which) {
  switch (which) {
    case DataTable::kFile: return ctx->data.file;
    case DataTable::kText: return ctx->data.text;
    case DataTable::kMem: return ctx->data.mem;
    default: return ctx->data.point;
  }
}
inline uint32_t& TableSizeOf(VmContext* ctx, DataTable which) {
  switch (which) {
    case DataTable::kFile: return ctx->data.fileSize;
    case DataTable::kText: return ctx->data.textSize;
    case DataTable::kMem: return ctx->data.memSize;
    default: return ctx->data.pointSize;
  }
}

// Reads what a script can read through the table.
inline void Exercise(VmContext* ctx, DataTable which, std::span<const uint8_t> input) {
  uint32_t probe[4] = {0, 1, 16, 0xFFFFFFFFu};
  for (size_t i = 0; i < 4 && i * 4 + 4 <= input.size(); ++i)
    std::memcpy(&probe[i], input.data() + input.size() - 4 - i * 4, 4);
  switch (which) {
    case DataTable::kText: {
      std::vector<uint8_t> out(64);
      for (uint32_t p : probe) get_string_operand(ctx, p & 0x0FFFFFFF, out);
      (void)text_word_count(ctx);
      break;
    }
    case DataTable::kFile: {
      uint8_t name[kFileRecordBytes];
      for (uint32_t p : probe) get_record_operand(ctx, p & 0xFFFF, name, true);
      (void)file_record_count(ctx);
      break;
    }
    case DataTable::kMem:
      for (uint32_t p : probe) {
        ctx->registers[1] = static_cast<int32_t>(p);
        (void)*operand_cell(ctx, 0x60000001u | ((p & 0xFFF) << 16));
        (void)*operand_cell(ctx, 0x70000001u | ((p & 0xFFF) << 16));
      }
      break;
    case DataTable::kPoint:
      for (uint32_t p : probe) {
        uint32_t at = 0;
        if (label_pc(ctx, p, &at) && at > ctx->script.codeSize) __builtin_trap();
      }
      break;
  }
}

inline int LoadTable(DataTable which, std::span<const uint8_t> bytes, std::span<const uint8_t> input) {
  Record r;
  const Snapshot before(TableImageOf(r.ctx, which), TableSizeOf(r.ctx, which));
  if (!table_load_image(r.ctx, which, bytes)) {
    if (!before.Same(TableImageOf(r.ctx, which), TableSizeOf(r.ctx, which))) __builtin_trap();
    return 0;
  }
  if (TableSizeOf(r.ctx, which) != bytes.size()) __builtin_trap();
  Exercise(r.ctx, which, input);
  return 0;
}

}  // namespace fuzzgame
