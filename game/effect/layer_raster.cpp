// Group 19: the raster wave on one layer. Eight slots, linked newest first;
// a layer holds at most one (its Fx slot word is slot + 1, 0 for none), and a
// new wave on a layer that has one takes that slot's place.
#include <cstring>

#include "component_entries.h"
#include "effect/screen_effects.h"
#include "layers/layers.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kAllFx = 0x0FFFFFFF;

KivSprite* LayerSprite(VmContext* ctx, int layer) {
  const LayerRecord& l = ctx->layers.layers[layer];
  return l.record ? l.record->sprite : nullptr;
}

// The layer's slot, or null when its word names none that is in use by it.
FxSlot* SlotOf(VmContext* ctx, int layer) {
  const int32_t word = ctx->layers.layers[layer].fxSlot;
  if (word <= 0 || word > kFxSlotCount) return nullptr;
  FxSlot* s = &ctx->fx.slots[word - 1];
  return s->state != 0 && s->layer == layer ? s : nullptr;
}

void Unlink(FxState& fx, int index) {
  FxSlot& s = fx.slots[index];
  if (s.prev) fx.slots[s.prev - 1].next = s.next;
  else if (fx.head == index + 1) fx.head = s.next;
  if (s.next) fx.slots[s.next - 1].prev = s.prev;
  s = FxSlot{};
}

void LinkHead(FxState& fx, int index) {
  FxSlot& s = fx.slots[index];
  s.prev = 0;
  s.next = fx.head;
  if (fx.head) fx.slots[fx.head - 1].prev = index + 1;
  fx.head = index + 1;
}

int CmdFxEffectCls(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  game_debug_log(kDebugWindowCommand, "fx_effect_cls %d", layer);
  fx_release(ctx, layer);
  return 1;
}

int CmdFxRasterStop(VmContext* ctx) {
  const uint32_t time = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  game_debug_log(kDebugWindowCommand, "fx_raster_stop %d, %d", layer, static_cast<int>(time));
  FxSlot* s = SlotOf(ctx, layer);
  KivSprite* sprite = LayerSprite(ctx, layer);
  if (!s || !sprite) return 1;
  s->state = kEffectStateEnding;
  KivSetFxEffect(sprite, 0, 2, time, nullptr);
  return 1;
}

int CmdFxEffectWait(VmContext* ctx) {
  FxState& fx = ctx->fx;
  if (!fx.waitPending) {
    fx.waitLayer = value_stack_pop(ctx);
    fx.waitPending = 1;
    game_debug_log(kDebugWindowCommand, "fx_effect_wait %d", fx.waitLayer);
    if (!layer_number_ok(fx.waitLayer)) {
      fx.waitPending = 0;
      return 0;
    }
  }
  KivSprite* sprite = LayerSprite(ctx, fx.waitLayer);
  if (sprite && get_skip_state(ctx) == 0 && KivGetFxEffectState(sprite, kAllFx) != 0) {
    command_wait_again(ctx);
    return 1;
  }
  fx.waitPending = 0;
  return 1;
}

int CmdFxRasterStart(VmContext* ctx) {
  const uint32_t period = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t y = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t layer = value_stack_pop(ctx);
  return fx_raster_start(ctx, period, y, x, layer);
}

}  // namespace

int fx_raster_start(VmContext* ctx, uint32_t period, int32_t y, int32_t x, int32_t layer) {
  if (!layer_number_ok(layer)) return 0;
  game_debug_log(kDebugWindowCommand, "fx_raster_start %d, %d, %d, %d", layer, x, y, static_cast<int>(period));
  KivSprite* sprite = LayerSprite(ctx, layer);
  if (!sprite) return 1;
  // A layer's new wave takes the place of its old one.
  fx_release(ctx, layer);
  FxState& fx = ctx->fx;
  int index = -1;
  for (int i = 0; i < kFxSlotCount && index < 0; ++i)
    if (fx.slots[i].state == 0) index = i;
  if (index < 0) {
    game_debug_log(kDebugWindowError, "fx_raster_start %d: all %d raster slots are in use", layer, kFxSlotCount);
    return 1;
  }
  const KivFxRaster params{period, static_cast<float>(x) / 100.0f, static_cast<float>(y) / 100.0f};
  if (!KivSetFxEffect(sprite, 0, 1, period, &params)) {
    game_debug_log(kDebugWindowError, "fx_raster_start %d: the engine refused the wave", layer);
    return 1;
  }
  FxSlot& s = fx.slots[index];
  s = FxSlot{layer, kEffectStateRunning, 0, x, y, period, 0, 0};
  LinkHead(fx, index);
  ctx->layers.layers[layer].fxSlot = index + 1;
  return 1;
}

void fx_release(VmContext* ctx, int layer) {
  if (!index_in(layer, kLayerCount, "fx layer")) return;
  LayerRecord& l = ctx->layers.layers[layer];
  if (FxSlot* s = SlotOf(ctx, layer)) {
    if (KivSprite* sprite = LayerSprite(ctx, layer)) KivReleaseFxEffect(sprite, kAllFx);
    Unlink(ctx->fx, static_cast<int>(s - ctx->fx.slots));
  }
  l.fxSlot = 0;
}

void fx_layer_release(VmContext* ctx, int layer) { fx_release(ctx, layer); }

void fx_free(VmContext* ctx) {
  for (LayerRecord& l : ctx->layers.layers) l.fxSlot = 0;
  std::memset(&ctx->fx, 0, sizeof ctx->fx);
}

void fx_commands_install() {
  static const CommandBinding kCommands[] = {
      {"fx_effect_cls", CmdFxEffectCls},
      {"fx_raster_stop", CmdFxRasterStop},
      {"fx_effect_wait", CmdFxEffectWait},
      {"fx_raster_start", CmdFxRasterStart},
  };
  command_bind_all(kCommands);
}
