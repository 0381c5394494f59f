// The display queue and its apply, command group 22 (run, run_no_wait) and
// the per-frame poll of the layers: finished loads, shakes, the end of layer
// transitions and children following their parents.
#include "layers/display_queue.h"

#include <cstring>

#include "button/buttons.h"
#include "component_entries.h"
#include "start/game_debug_log.h"
#include "layers/layers.h"
#include "platform/core/text_encoding.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

void PutPointer(uint32_t* words, const void* p) {
  const auto v = reinterpret_cast<uintptr_t>(p);
  words[0] = static_cast<uint32_t>(v);
  words[1] = static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32);
}

KivSprite* GetPointer(const uint32_t* words) {
  const uint64_t v = uint64_t{words[0]} | uint64_t{words[1]} << 32;
  return reinterpret_cast<KivSprite*>(static_cast<uintptr_t>(v));
}

void LayerGone(int layer) {
  game_debug_log(kDebugWindowError,
                 plat::Sjis("run error : 既に消されたレイヤーを表示しようとしています。layer = %d"), layer);
}

// Shows the layer's sprite; visible is 1, or the message window's word for
// face layers.
void ShowLayer(VmContext* ctx, uint32_t layer, int visible) {
  LayerRecord* l = layer_get(ctx, static_cast<int>(layer));
  if (!l) return;  // only commands queue layers, and they check them; refuse anything else quietly
  if (!l->record) {
    LayerGone(static_cast<int>(layer));
    return;
  }
  if (l->record->sprite) KivSpriteViewCtrl(l->record->sprite, visible);
  if (l->record->motionSlot) motion_show(ctx, l->record->motionSlot);
}

// Starts a layer's set-up transition (a clear for 0x3000d, an image change
// for 0x30032).
void TransitionStart(VmContext* ctx, uint32_t word, uint32_t layer) {
  LayerRecord* l = layer_get(ctx, static_cast<int>(layer));
  if (!l || l->transitionState == kLayerTransitionNone || !l->transitionArmed) return;
  if (!l->record) {
    LayerGone(static_cast<int>(layer));
    if (l->outgoing) KivSpriteRelease(game_render_list(ctx), l->outgoing);
    l->transitionState = kLayerTransitionNone;
    l->transitionArmed = 0;
    l->incoming = l->outgoing = nullptr;
    return;
  }
  if (word == kOpTransition) {
    if (l->incoming) KivSpriteViewCtrl(l->incoming, 1);
    motion_start(ctx, l->record->motionSlot);
  }
  // Under run the screen transition carries the change, so the layer's own
  // one takes no time; run_no_wait gives it its own duration.
  const uint32_t duration = ctx->layers.applyNoWait ? l->transitionDuration : 0;
  const int started = KivSpriteSetTransition(game_render_list(ctx), l->incoming, l->outgoing, l->transitionCode,
                                             KivtimeGetTime(), duration, l->transition);
  if (!started) {
    // Nothing took the old sprite over: it goes now, and the change is a cut.
    if (l->outgoing && l->outgoing != l->record->sprite) KivSpriteRelease(game_render_list(ctx), l->outgoing);
    if (l->transitionState == kLayerTransitionClear) {
      l->outgoing = nullptr;
      l->transitionArmed = 0;
      layer_transition_release(ctx, static_cast<int>(layer));
      return;
    }
    l->transitionState = kLayerTransitionNone;
  }
  l->transitionArmed = 0;
  l->incoming = l->outgoing = nullptr;
}

void ApplyOne(VmContext* ctx, const DisplayOperation& op) {
  switch (op.word) {
    case kOpSpSet:
    case kOpSpSetEx:
    case kOpSpText:
    case kOpSpDraw:
    case kOpThumbnailSet:
    case kOpSaveGetTitle:
    case kOpSetSaveTime:
    case kOpSetSaveDay:
    case kOpGetSaveText:
      ShowLayer(ctx, op.arg[0], 1);
      break;
    case kOpFaceSet:
      ShowLayer(ctx, op.arg[0], text_face_visible(ctx));
      break;
    case kOpRelease:
      if (KivSprite* s = GetPointer(op.arg)) KivSpriteRelease(game_render_list(ctx), s);
      break;
    case kOpSpShow:
    case kOpSpHide: {
      // The sprite counts only while its layer still owns it.
      KivSprite* s = GetPointer(op.arg);
      const int layer = static_cast<int>(op.arg[3]);
      if (layer_owns_sprite(ctx, layer, s)) KivSpriteViewCtrl(s, static_cast<int>(op.arg[2]));
      break;
    }
    case kOpClsTransition:
    case kOpTransition:
      TransitionStart(ctx, op.word, op.arg[0]);
      break;
    case kOpBtnSet:
    case kOpBtnHide:
    case kOpBtnShow: {
      const uint32_t group = op.arg[0], item = op.arg[1];
      if (group >= 8 || item >= 128) break;
      SpriteRecord* r = sprite_record_get(ctx, kSpriteRecordButtonBase + static_cast<int>(group * 128 + item));
      if (!r || !r->sprite) break;
      if (op.word == kOpBtnSet) {
        if (static_cast<int>(group) != text_button_group(ctx)) KivSpriteViewCtrl(r->sprite, 1);
        if (r->motionSlot) motion_show(ctx, r->motionSlot);
      } else {
        KivSpriteViewCtrl(r->sprite, static_cast<int>(op.arg[2]));
      }
      break;
    }
    case kOpBtnSetToggle:
      btn_toggle_apply(ctx, op.arg[0], op.arg[1], op.arg[2]);
      break;
    default:
      break;
  }
}

}  // namespace

int display_queue_post_layer(VmContext* ctx, uint32_t word, int layer) {
  DisplayOperation op{};
  op.word = word;
  op.arg[0] = static_cast<uint32_t>(layer);
  return display_queue_post(ctx, &op, sizeof op);
}

int display_queue_post_release(VmContext* ctx, KivSprite* sprite) {
  if (!ctx->gameList) return 0;
  DisplayOperation op{};
  op.word = kOpRelease;
  PutPointer(op.arg, sprite);
  return display_queue_post(ctx, &op, sizeof op);
}

int display_queue_post_view(VmContext* ctx, uint32_t word, int layer, KivSprite* sprite, int visible) {
  DisplayOperation op{};
  op.word = word;
  PutPointer(op.arg, sprite);
  op.arg[2] = static_cast<uint32_t>(visible);
  op.arg[3] = static_cast<uint32_t>(layer);
  return display_queue_post(ctx, &op, sizeof op);
}

int display_queue_apply(VmContext* ctx) {
  if (ctx->gameList) {
    while (void* p = reinterpret_cast<void*>(KivListPop(ctx->gameList, kGameListDisplayOps))) {
      DisplayOperation op;
      std::memcpy(&op, p, sizeof op);
      KivMemoryFree(p);
      ApplyOne(ctx, op);
    }
  }
  text_display_applied(ctx);
  ctx->layers.applyNoWait = 0;
  return 1;
}

void display_queue_discard(VmContext* ctx) {
  if (!ctx->gameList) return;
  while (void* p = reinterpret_cast<void*>(KivListPop(ctx->gameList, kGameListDisplayOps))) {
    DisplayOperation op;
    std::memcpy(&op, p, sizeof op);
    KivMemoryFree(p);
    if (op.word == kOpRelease)
      if (KivSprite* s = GetPointer(op.arg)) KivSpriteRelease(game_render_list(ctx), s);
  }
}

// ---- The per-frame poll ----

namespace {

void ShakeStep(LayerRecord* l) {
  SpriteFrameTerms& e = l->record->t.frame;
  if (l->shakeDuration != kShakeEndless && KivtimeGetTime() - l->shakeStart >= l->shakeDuration) {
    l->flags &= ~kLayerFlagShake;
    l->shakeMode = l->shakeAmplitude = 0;
    l->shakeDuration = l->shakeStart = 0;
    e.eX = e.eY = 0;
    return;
  }
  const int32_t a = l->shakeAmplitude;
  if (a <= 0) return;  // no amplitude, no movement
  auto offset = [a] { return static_cast<int32_t>(static_cast<uint32_t>(KivRandomEx()) % static_cast<uint32_t>(a)) - a / 2; };
  if (l->shakeMode == 1 || l->shakeMode == 2) e.eX += offset();
  if (l->shakeMode == 0 || l->shakeMode == 2) e.eY += offset();
}

void TransitionEndPoll(VmContext* ctx, int layer) {
  LayerRecord* l = &ctx->layers.layers[layer];
  if (l->transitionState == kLayerTransitionNone || l->transitionArmed || !l->transition) return;
  if (KivSpriteGetTransitionState(l->transition) != 2) return;
  KivSpriteCancelTransition(l->transition);  // releases the old sprite
  if (l->transitionState == kLayerTransitionClear) {
    if (l->record) l->record->sprite = nullptr;
    layer_transition_release(ctx, layer);
    return;
  }
  l->transitionState = kLayerTransitionNone;
}

void ChildrenFollow(VmContext* ctx) {
  for (int p = 0; p < kLayerChildParents; ++p) {
    const LayerRecord& parent = ctx->layers.layers[p];
    if (!parent.record || !(parent.flags & kLayerFlagLinks)) continue;
    for (const LinkSlot& slot : parent.links) {
      if (!(slot.control & kLinkChild)) continue;
      LayerRecord* child = layer_get(ctx, static_cast<int>(slot.operand));
      if (!child || child == &parent || !child->record) continue;
      child->record->t = parent.record->t;
      child->record->t.aX += slot.dstX;
      child->record->t.aY += slot.dstY;
    }
  }
}

}  // namespace

void sprite_transition_poll(VmContext* ctx, int first) {
  layer_loads_poll(ctx);
  for (int i = first < 0 ? 0 : first; i < kLayerCount; ++i) {
    LayerRecord* l = &ctx->layers.layers[i];
    if (!l->record) continue;
    if (l->flags & kLayerFlagShake) ShakeStep(l);
    TransitionEndPoll(ctx, i);
  }
  ChildrenFollow(ctx);
}

// ---- Group 22 ----

namespace {

int CmdRun(VmContext* ctx) {
  const int32_t number = value_stack_pop(ctx);
  const int32_t time = value_stack_pop(ctx);
  const int32_t extra = value_stack_pop(ctx);
  if (number < 0 || number > 100) {
    game_debug_log(kDebugWindowError, plat::Sjis("run error : 範囲外の値を指定しています。no = %d"), number);
    return 0;
  }
  game_debug_log(kDebugWindowCommand, "run  %d, %d", number, time);
  KivUpdateTime();
  display_queue_apply(ctx);
  if (!get_skip_state(ctx)) {
    ctx->pauseTimer = PauseTimer{KivtimeGetTime(), 100};
    KivEffectEx(static_cast<unsigned>(number), static_cast<unsigned>(time), extra, 0);
  }
  command_yield(ctx);
  return 1;
}

int CmdRunNoWait(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "run_no_wait");
  ctx->layers.applyNoWait = 1;
  display_queue_apply(ctx);
  return 1;
}

}  // namespace

void run_commands_install() {
  static const CommandBinding kCommands[] = {{"run", CmdRun}, {"run_no_wait", CmdRunNoWait}};
  command_bind_all(kCommands);
}
