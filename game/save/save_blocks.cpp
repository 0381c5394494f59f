// The save image: header, the machine's fields and the ordered table of
// component blocks; the writer that lays them out and the reader that checks
// a whole image before any of it is used.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "component_entries.h"
#include "layers/layers.h"
#include "motion/actions.h"
#include "platform/core/byte_io.h"
#include "save/save.h"
#include "sound/sound_save.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"

namespace {

constexpr uint8_t kEnd[3] = {'e', 'n', 'd'};
// More return points than a script could nest is a damaged file.
constexpr uint32_t kMaxReturnPoints = 4096;
constexpr size_t kMachineBytes = 4 * kUserMemoryWords + 4 + kMemoryStackBytes +
                                 kStringVariableCount * kStringVariableBytes + 4 + 4 + 4 + 4 * kValueStackSize + 4 +
                                 4 + 4 * kFrameSlotCount;

bool Refuse(const char* what) {
  game_debug_log(kDebugWindowError, "load error : %s", what);
  return false;
}

// ---- The machine's fields ----

bool MachineSave(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  w.bytes().reserve(kMachineBytes);
  for (int32_t v : ctx->userMemory) w.I32(v);
  w.I32(ctx->memoryStackDepth);
  for (int32_t v : ctx->memoryStackStore) w.I32(v);
  w.Bytes(ctx->stringVariables, sizeof ctx->stringVariables);
  w.I32(ctx->priorityBase);
  w.U32(ctx->keyCancelKeys);
  w.I32(ctx->valueStackDepth);
  for (int32_t v : ctx->valueStack) w.I32(v);
  w.I32(ctx->baseRegister);
  w.I32(ctx->framePointer);
  for (int32_t v : ctx->frameSlots) w.I32(v);
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

bool MachineCheck(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  if (*cursor > data.size() || data.size() - *cursor < kMachineBytes) return Refuse("machine block short");
  plat::ByteReader r(data.subspan(*cursor, kMachineBytes));
  // The depths and the frame pointer index the machine's areas.
  r.Skip(4 * kUserMemoryWords);
  int32_t memDepth = r.I32();
  r.Skip(kMemoryStackBytes + kStringVariableCount * kStringVariableBytes + 8);
  int32_t valueDepth = r.I32();
  r.Skip(4 * kValueStackSize + 4);
  int32_t fp = r.I32();
  if (!r.ok()) return Refuse("machine block short");
  if (memDepth < 0 || memDepth > 1) return Refuse("memory stack depth");
  if (valueDepth < 0 || valueDepth > kValueStackSize) return Refuse("value stack depth");
  if (fp < 0 || fp > kFrameSlotCount) return Refuse("frame pointer");
  *cursor += kMachineBytes;
  return true;
}

bool MachineRestore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t end = *cursor;
  if (!MachineCheck(ctx, data, &end)) return false;
  plat::ByteReader r(data.subspan(*cursor, kMachineBytes));
  for (int32_t& v : ctx->userMemory) v = r.I32();
  ctx->memoryStackDepth = r.I32();
  for (int32_t& v : ctx->memoryStackStore) v = r.I32();
  r.Bytes(ctx->stringVariables, sizeof ctx->stringVariables);
  for (auto& s : ctx->stringVariables) s[kStringVariableBytes - 1] = 0;
  ctx->priorityBase = r.I32();
  ctx->keyCancelKeys = r.U32();
  // The restored bits are the engine's masks again, as key_canncel set them.
  KivInputKeyCancel(static_cast<int>(ctx->keyCancelKeys), static_cast<int>(ctx->keyCancelMouse));
  ctx->valueStackDepth = r.I32();
  for (int32_t& v : ctx->valueStack) v = r.I32();
  ctx->baseRegister = r.I32();
  ctx->framePointer = r.I32();
  for (int32_t& v : ctx->frameSlots) v = r.I32();
  *cursor = end;
  return true;
}

// ---- Return points under key 2, the deepest first; kinds are not kept ----

bool ReturnPointsSave(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  int n = ctx->gameList ? KivListGetDataCount(ctx->gameList, kGameListReturnPoints) : 0;
  w.U32(static_cast<uint32_t>(n));
  for (int i = n - 1; i >= 0; --i) {
    auto* p = reinterpret_cast<const ReturnPoint*>(
        KivListGetData(ctx->gameList, kGameListReturnPoints, static_cast<unsigned>(i)));
    w.U32(p ? p->pc : 0);
  }
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

bool PcInCode(const VmContext* ctx, uint32_t pc) {
  return ctx->script.code && pc >= kScriptCodeBase && pc < ctx->script.codeSize;
}

// The stored pcs, checked; *size the bytes they take.
bool ReturnPointsRead(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, std::vector<uint32_t>* pcs,
                      size_t* size) {
  if (cursor > data.size()) return Refuse("return points");
  plat::ByteReader r(data.subspan(cursor));
  uint32_t n = r.U32();
  if (!r.ok()) return Refuse("return points short");
  if (n > kMaxReturnPoints || n > r.left() / 4) return Refuse("return point count");
  pcs->resize(n);
  for (uint32_t& pc : *pcs) {
    pc = r.U32();
    if (!PcInCode(ctx, pc)) return Refuse("return point outside the code");
  }
  *size = r.pos();
  return true;
}

bool ReturnPointsCheck(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<uint32_t> pcs;
  size_t size = 0;
  if (!ReturnPointsRead(ctx, data, *cursor, &pcs, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool ReturnPointsRestore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<uint32_t> pcs;
  size_t size = 0;
  if (!ReturnPointsRead(ctx, data, *cursor, &pcs, &size)) return false;
  for (uint32_t pc : pcs)
    if (!return_point_push(ctx, kGameListReturnPoints, pc, kReturnKindGosub))
      game_debug_log(kDebugWindowError, "[%u]メモリ不足発生", pc);
  *cursor += static_cast<uint32_t>(size);
  return true;
}

const SaveBlock kBlocks[] = {
    {"machine", MachineSave, MachineRestore, MachineCheck},
    {"return points", ReturnPointsSave, ReturnPointsRestore, ReturnPointsCheck},
    {"layers", layer_save, layer_restore, layer_check},
    {"choice style", select_save, select_restore, select_check},
    {"bgm", bgm_save, bgm_restore, bgm_check},
    {"se", se_save, se_restore, se_check},
    {"voice", voice_save, voice_restore, voice_check},
    {"buttons", btn_save, btn_restore, btn_check},
    {"player name", player_name_save, player_name_restore, player_name_check},
    {"message window", text_save, text_restore, text_check},
    {"backlog", history_save, history_restore, history_check},
    {"script thread", script_thread_save, script_thread_restore, script_thread_check},
    {"screen effects", effect_save, effect_restore, effect_check},
    {"fx", fx_save, fx_restore, fx_check},
    {"actions", action_save, action_restore, action_check},
};

// ---- Header ----

struct Header {
  uint32_t title;
  char text[kSaveTextBytes];
  int32_t mosaic;
  uint32_t resumePc;
  int32_t loadAfter;
  int32_t width, height;
  uint32_t size;
  int32_t present;
};

bool ReadHeader(const VmContext* ctx, std::span<const uint8_t> data, Header* h) {
  plat::ByteReader r(data);
  h->title = r.U32();
  r.Bytes(h->text, sizeof h->text);
  h->text[kSaveTextBytes - 1] = 0;
  h->mosaic = r.I32();
  h->resumePc = r.U32();
  h->loadAfter = r.I32();
  h->width = r.I32();
  h->height = r.I32();
  h->size = r.U32();
  h->present = r.I32();
  if (!r.ok()) return Refuse("file shorter than its header");
  if (h->width < 0 || h->height < 0 || h->width > kSaveThumbMaxWidth || h->height > kSaveThumbMaxHeight ||
      uint64_t(h->width) * uint64_t(h->height) * 4 != h->size)
    return Refuse("thumbnail size");
  if (h->size > r.left()) return Refuse("thumbnail past the end of the file");
  // The resume pc may stand at the end of the code (a script that ended).
  if (!ctx->script.code || h->resumePc < kScriptCodeBase || h->resumePc > ctx->script.codeSize)
    return Refuse("resume pc outside the code");
  if (h->loadAfter != -1 &&
      (h->loadAfter < 0 || uint64_t(h->loadAfter) + kScriptCodeBase >= uint64_t(ctx->script.codeSize)))
    return Refuse("load-after target outside the code");
  return true;
}

constexpr size_t kBlockCount = std::size(kBlocks);

// Every block through its checker, then "end" and nothing after it;
// starts[i] is where block i begins, starts[kBlockCount] where "end" does.
bool CheckBlocks(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor,
                 uint32_t (&starts)[kBlockCount + 1]) {
  for (size_t i = 0; i < kBlockCount; ++i) {
    starts[i] = cursor;
    if (!kBlocks[i].check(ctx, data, &cursor) || cursor <= starts[i] || cursor > data.size()) {
      game_debug_log(kDebugWindowError, "load error : %s block refused", kBlocks[i].name);
      return false;
    }
  }
  starts[kBlockCount] = cursor;
  if (data.size() - cursor != sizeof kEnd || std::memcmp(data.data() + cursor, kEnd, sizeof kEnd) != 0)
    return Refuse("no \"end\" after the last block");
  return true;
}

void ApplyHeader(VmContext* ctx, const Header& h, std::span<const uint8_t> data) {
  SaveState& s = ctx->save;
  s.titleOperand = h.title;
  std::memcpy(s.saveText, h.text, sizeof s.saveText);
  s.mosaic = h.mosaic;
  s.resumePc = h.resumePc;
  s.loadAfter = h.loadAfter;
  if (s.thumbPixels && s.thumbPresent)
    std::memcpy(s.thumbPixels, data.data() + kSaveOffThumbPixels, std::min(h.size, s.thumbBytes));
}

}  // namespace

std::span<const SaveBlock> save_blocks() { return kBlocks; }

bool save_block_append(std::span<uint8_t> buffer, uint32_t* used, const void* bytes, size_t n) {
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSaveSnapshotBytes);
  if (*used > limit || n > limit - *used) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  if (n) std::memcpy(buffer.data() + *used, bytes, n);
  *used += static_cast<uint32_t>(n);
  return true;
}

bool save_state_write(VmContext* ctx, uint32_t resume_pc, std::span<uint8_t> buffer, uint32_t* used) {
  const SaveState& s = ctx->save;
  *used = 0;
  const bool thumb = s.thumbPixels && s.thumbPresent;
  plat::ByteWriter w;
  w.U32(s.titleOperand);
  w.Bytes(s.saveText, sizeof s.saveText);
  w.I32(s.mosaic);
  w.U32(resume_pc);
  w.I32(s.loadAfter);
  w.I32(thumb ? s.thumbWidth : 0);
  w.I32(thumb ? s.thumbHeight : 0);
  w.U32(thumb ? s.thumbBytes : 0);
  w.I32(thumb ? 1 : 0);
  if (!save_block_append(buffer, used, w.bytes().data(), w.bytes().size())) return false;
  if (thumb && !save_block_append(buffer, used, s.thumbPixels, s.thumbBytes)) return false;
  for (const SaveBlock& b : kBlocks)
    if (!b.write(ctx, buffer, used)) return false;
  return save_block_append(buffer, used, kEnd, sizeof kEnd);
}

bool save_state_load(VmContext* ctx, std::span<const uint8_t> data) {
  if (data.size() > kSaveSnapshotBytes) return Refuse("file larger than a snapshot");
  Header h;
  uint32_t starts[kBlockCount + 1];
  // The whole file is checked before anything changes: a refused one leaves
  // the running game, its screen and its music exactly as they were.
  if (!ReadHeader(ctx, data, &h) || !CheckBlocks(ctx, data, kSaveHeaderBytes + h.size, starts)) return false;
  game_reset(ctx);
  ApplyHeader(ctx, h, data);
  // Each block is read where the check found it, so one that cannot bring
  // everything back (a file gone from the game's data) never moves the
  // ones after it.
  for (size_t i = 0; i < kBlockCount; ++i) {
    uint32_t cursor = starts[i];
    if (!kBlocks[i].read(ctx, data, &cursor) || cursor != starts[i + 1])
      game_debug_log(kDebugWindowError, "load error : %s block partly restored", kBlocks[i].name);
  }
  ctx->script.pc = h.resumePc;
  // A running script thread skips the first frame after a load.
  if (ctx->thread.active) ctx->thread.countdown = 1;
  return true;
}
