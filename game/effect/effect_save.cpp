// The screen-effect and layer-raster blocks of a save. Only effects that run
// are kept (one that is ending is left out); a restore starts them again
// with the arguments they were started with.
//
// Screen-effect block: u32 bits (1 shake, 4 snow, 8 sakura, 16 raster), then
// for each set bit in that order four u32: shake direction, amplitude,
// duration, targets; snow (sakura) image operand, mode, count, drift; raster
// layer, x amplitude, y amplitude, period.
// Layer-raster block: per slot from the newest, u32 state, and for a running
// one u32 layer, u32 kind (0) and {x amplitude, y amplitude, period}; then
// u32 0xFFFFFFFF.
#include <algorithm>
#include <cstring>
#include <vector>

#include "data/script_tables.h"
#include "effect/screen_effects.h"
#include "layers/layers.h"
#include "platform/core/byte_io.h"
#include "start/game_debug_log.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kSnapshotLimit = 0x100000;
constexpr uint32_t kSavedBits = kEffectShake | kEffectSnow | kEffectSakura | kEffectRaster;
constexpr uint32_t kEndMark = 0xFFFFFFFFu;

bool Append(const std::vector<uint8_t>& block, std::span<uint8_t> buffer, uint32_t* used) {
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSnapshotLimit);
  if (*used > limit || block.size() > limit - *used) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  std::memcpy(buffer.data() + *used, block.data(), block.size());
  *used += static_cast<uint32_t>(block.size());
  return true;
}

bool Refuse(const char* block, const char* what) {
  game_debug_log(kDebugWindowError, "%s block refused: %s", block, what);
  return false;
}

}  // namespace

bool effect_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const EffectState& fx = ctx->effects;
  uint32_t bits = 0;
  if ((fx.active & kEffectShake) && fx.shake.state == kEffectStateRunning) bits |= kEffectShake;
  if ((fx.active & kEffectSnow) && fx.snow.state == kEffectStateRunning) bits |= kEffectSnow;
  if ((fx.active & kEffectSakura) && fx.sakura.state == kEffectStateRunning) bits |= kEffectSakura;
  if ((fx.active & kEffectRaster) && fx.raster.state == kEffectStateRunning) bits |= kEffectRaster;
  plat::ByteWriter w;
  w.U32(bits);
  if (bits & kEffectShake) {
    w.I32(fx.shake.direction);
    w.I32(fx.shake.amplitude);
    w.U32(fx.shake.duration);
    w.U32(fx.shake.targets);
  }
  for (auto [bit, f] : {std::pair{kEffectSnow, &fx.snow}, std::pair{kEffectSakura, &fx.sakura}}) {
    if (!(bits & bit)) continue;
    w.U32(f->imageOperand);
    w.I32(f->mode);
    w.I32(f->count);
    w.I32(f->drift);
  }
  if (bits & kEffectRaster) {
    w.I32(fx.raster.layer);
    w.I32(fx.raster.amplitudeX);
    w.I32(fx.raster.amplitudeY);
    w.U32(fx.raster.period);
  }
  return Append(w.bytes(), buffer, used);
}

namespace {

bool ReadEffects(std::span<const uint8_t> data, uint32_t cursor, uint32_t* bitsOut, uint32_t (&words)[4][4],
                 size_t* size) {
  if (cursor > data.size()) return Refuse("effect", "cursor");
  plat::ByteReader r(data.subspan(cursor));
  const uint32_t bits = r.U32();
  if (!r.ok()) return Refuse("effect", "short");
  if (bits & ~kSavedBits) return Refuse("effect", "unknown bits");
  int groups = 0;
  for (uint32_t bit : {kEffectShake, kEffectSnow, kEffectSakura, kEffectRaster}) {
    if (!(bits & bit)) continue;
    for (uint32_t& v : words[groups]) v = r.U32();
    ++groups;
  }
  if (!r.ok()) return Refuse("effect", "short");
  *bitsOut = bits;
  *size = r.pos();
  return true;
}

struct FxEntry {
  int32_t layer, x, y;
  uint32_t period;
};

bool ReadFx(std::span<const uint8_t> data, uint32_t cursor, std::vector<FxEntry>* running, size_t* size) {
  if (cursor > data.size()) return Refuse("fx", "cursor");
  plat::ByteReader r(data.subspan(cursor));
  for (int n = 0;; ++n) {
    const uint32_t state = r.U32();
    if (!r.ok()) return Refuse("fx", "short");
    if (state == kEndMark) break;
    if (n >= kFxSlotCount) return Refuse("fx", "more than 8 entries");
    if (state == kEffectStateEnding) continue;
    if (state != kEffectStateRunning) return Refuse("fx", "unknown state");
    const int32_t layer = r.I32();
    const uint32_t kind = r.U32();
    FxEntry e{layer, r.I32(), r.I32(), r.U32()};
    if (!r.ok()) return Refuse("fx", "short");
    if (kind != 0) return Refuse("fx", "unknown kind");
    if (layer < 0 || layer >= kLayerCount) return Refuse("fx", "layer");
    running->push_back(e);
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool effect_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t bits, words[4][4];
  size_t size = 0;
  if (!ReadEffects(data, *cursor, &bits, words, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool fx_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<FxEntry> running;
  size_t size = 0;
  if (!ReadFx(data, *cursor, &running, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool effect_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t bits = 0, words[4][4] = {};
  size_t size = 0;
  if (!ReadEffects(data, *cursor, &bits, words, &size)) return false;
  // Everything read: each effect starts again from its own words.
  int g = 0;
  if (bits & kEffectShake) {
    const uint32_t* v = words[g++];
    effect_shake_start(ctx, v[3], v[2], static_cast<int32_t>(v[1]), static_cast<int32_t>(v[0]));
  }
  if (bits & kEffectSnow) {
    const uint32_t* v = words[g++];
    effect_snow_start(ctx, static_cast<int32_t>(v[2]), static_cast<int32_t>(v[3]), static_cast<int32_t>(v[1]), v[0]);
  }
  if (bits & kEffectSakura) {
    const uint32_t* v = words[g++];
    effect_sakura_start(ctx, static_cast<int32_t>(v[2]), static_cast<int32_t>(v[3]), static_cast<int32_t>(v[1]),
                        v[0]);
  }
  if (bits & kEffectRaster) {
    const uint32_t* v = words[g++];
    effect_raster_start(ctx, v[3], static_cast<int32_t>(v[2]), static_cast<int32_t>(v[1]),
                        static_cast<int32_t>(v[0]));
  }
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool fx_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const FxState& fx = ctx->fx;
  plat::ByteWriter w;
  int seen = 0;
  for (int at = fx.head; at > 0 && at <= kFxSlotCount && seen < kFxSlotCount; at = fx.slots[at - 1].next, ++seen) {
    const FxSlot& s = fx.slots[at - 1];
    w.U32(s.state);
    if (s.state != kEffectStateRunning) continue;
    w.I32(s.layer);
    w.U32(s.kind);
    w.I32(s.amplitudeX);
    w.I32(s.amplitudeY);
    w.U32(s.period);
  }
  w.U32(kEndMark);
  return Append(w.bytes(), buffer, used);
}

bool fx_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<FxEntry> running;
  size_t size = 0;
  if (!ReadFx(data, *cursor, &running, &size)) return false;
  // The list was written newest first: the oldest starts first, so that the
  // list comes back in its own order.
  for (auto it = running.rbegin(); it != running.rend(); ++it) fx_raster_start(ctx, it->period, it->y, it->x, it->layer);
  *cursor += static_cast<uint32_t>(size);
  return true;
}
