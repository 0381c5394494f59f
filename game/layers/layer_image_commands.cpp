// Group 3's image commands: put images on layers, take them off, change
// them through transitions, faces, text, colour sprites and loads on the
// worker. A command prepares its sprite hidden and queues a display
// operation; the change shows at the next run or run_no_wait.
#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "layers/display_queue.h"
#include "start/game_debug_log.h"
#include "layers/layers.h"
#include "platform/core/clock.h"
#include "platform/core/text_encoding.h"
#include "data/script_tables.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
constexpr int32_t kKeepPosition = 0xFFFF;

// An image name operand resolved to its 32-byte name (flagged seen).
struct ImageName {
  char text[kFileRecordBytes + 1] = {};
  uint32_t operand = 0;
};

bool ResolveName(VmContext* ctx, uint32_t operand, ImageName* out) {
  if (!get_record_name(ctx, operand, out->text, true)) return false;
  out->operand = operand;
  return true;
}

// A command that takes the layer's current sprite first brings a pending
// load to its end; one that cannot end now is given up.
void SettleLoad(VmContext* ctx, int layer) {
  if (!layer_load_settle(ctx, layer, 3000)) layer_load_cancel(ctx, layer, false);
}

bool Skipping(const VmContext* ctx) { return get_skip_state(ctx) != 0 || !KivEffectEnableIs(); }

void StoreOperand(SpriteRecord* r, const ImageName& name) {
  if (name.operand & kStringVariableBit) std::memcpy(r->name, name.text, sizeof r->name);
  r->imageOperand = name.operand;
}

// Layer clearing before a new image: a layer whose transition is set up
// keeps its old sprite for that transition and loses only its record; any
// other layer is released at once.
void ClearForSet(VmContext* ctx, int layer) {
  LayerRecord* l = &ctx->layers.layers[layer];
  if (l->transitionArmed) {
    layer_load_cancel(ctx, layer, false);
    if (l->record) {
      if (l->incoming == l->record->sprite) l->incoming = nullptr;
      sprite_record_release(ctx, l->record);
    }
    l->record = nullptr;
  } else if (l->record) {
    layer_release(ctx, layer);
  }
}

// Image set-up: a fresh record with the image loaded hidden, its components
// from the sprite and the attributes, the layer pointing at it. The caller
// gives component A's position through place (after the sprite exists).
template <typename Place>
SpriteRecord* ImageSetUp(VmContext* ctx, int layer, const ImageName& name, int32_t priority,
                         const ImageAttributes* attrs, Place place) {
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, layer);
  if (!r) return nullptr;
  r->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(attrs, name.text), kScreenWidth, kScreenHeight,
                          priority);
  if (!r->sprite) {
    sprite_record_release(ctx, r);
    return nullptr;
  }
  KivSpriteViewCtrl(r->sprite, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  place(r, info);
  r->t.bX = attrs ? attrs->moveX : 0;
  r->t.bY = attrs ? attrs->moveY : 0;
  sprite_record_take_sprite_state(r, info, attrs);
  StoreOperand(r, name);
  if (attrs) sprite_attrs_apply(ctx, *attrs, r, kAttrAll);
  ctx->layers.layers[layer].record = r;
  sprite_transform_apply(ctx, r);
  return r;
}

// Makes the layer's transition handle on first use.
bool EnsureHandle(LayerRecord* l) {
  if (!l->transition) l->transition = KivSpriteCreateTransitionHandle();
  return l->transition != nullptr;
}

// ---- sp_set, sp_set_ex ----

int SetImage(VmContext* ctx, bool exact) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t layer = value_stack_pop(ctx);
  const int32_t a = value_stack_pop(ctx);
  const int32_t b = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  ClearForSet(ctx, layer);
  if (operand == kNoOperand) return 1;
  ImageName name;
  if (!ResolveName(ctx, operand, &name)) return 0;
  if (exact) game_debug_log(kDebugWindowCommand, "sp_set_ex  %s, %d, %d, %d", name.text, layer, a, b);
  else game_debug_log(kDebugWindowCommand, "sp_set  %s, %d, %d", name.text, layer, a);
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name.text, &attrs) ? &attrs : nullptr;
  SpriteRecord* r = ImageSetUp(ctx, layer, name, layer_priority(ctx, layer, at), at,
                               [&](SpriteRecord* rec, const KivSpriteInfo& info) {
                                 if (!exact) {
                                   layer_position(rec->sprite, a, b, &rec->t.aX, &rec->t.aY);
                                 } else if (a == kKeepPosition && b == kKeepPosition) {
                                   rec->t.aX = static_cast<int32_t>(info.x);
                                   rec->t.aY = static_cast<int32_t>(info.y);
                                 } else {
                                   rec->t.aX = a;
                                   rec->t.aY = b;
                                 }
                               });
  if (!r) return 0;
  display_queue_post_layer(ctx, exact ? kOpSpSetEx : kOpSpSet, layer);
  return 1;
}

int CmdSpSet(VmContext* ctx) { return SetImage(ctx, false); }
int CmdSpSetEx(VmContext* ctx) { return SetImage(ctx, true); }

// ---- Clearing ----

int CmdSpCls(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (layer != -1 && !layer_number_ok(layer)) return 0;
  game_debug_log(kDebugWindowCommand, "sp_cls  %d", layer);
  const int first = layer == -1 ? 0 : layer, last = layer == -1 ? kLayerCount - 1 : layer;
  for (int i = first; i <= last; ++i) {
    const LayerRecord& l = ctx->layers.layers[i];
    // Every layer that holds anything: a record, a set-up transition or a handle.
    if (layer != -1 || l.record || l.transitionArmed || l.transitionState || l.transition)
      if (!layer_release(ctx, i)) game_debug_log(kDebugWindowError, "sprite cls error [%d]", i);
  }
  return 1;
}

int CmdSpClsEx(VmContext* ctx) {
  const int32_t first = value_stack_pop(ctx);
  const int32_t count = value_stack_pop(ctx);
  if (!layer_number_ok(first)) return 0;
  game_debug_log(kDebugWindowCommand, "sp_cls_ex  %d, %d", first, count);
  const int64_t end = std::min<int64_t>(int64_t{first} + count, kLayerCount);
  for (int64_t i = first; i < end; ++i) layer_release(ctx, static_cast<int>(i));
  return 1;
}

int CmdSpClsTransition(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t number = value_stack_pop(ctx);
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  if (!layer_number_ok(layer) || !transition_number_ok(number)) return 0;
  LayerRecord* l = &ctx->layers.layers[layer];
  if (!l->record || l->transitionState == kLayerTransitionClear) return 1;
  if (Skipping(ctx)) {
    if (!layer_release(ctx, layer)) game_debug_log(kDebugWindowError, "sprite cls error [%d]", layer);
  } else {
    if (!EnsureHandle(l)) {
      game_debug_log(kDebugWindowError, "sprite create transition handle error [cls]");
      return 0;
    }
    layer_transition_cancel(ctx, layer);
    l = &ctx->layers.layers[layer];
    if (!l->record) return 1;  // the cancel emptied it
    SettleLoad(ctx, layer);
    l->transitionState = kLayerTransitionClear;
    l->transitionArmed = 1;
    l->incoming = nullptr;
    l->outgoing = l->record->sprite;
    l->transitionCode = kTransitionCodes[number];
    l->transitionDuration = duration;
    l->record->sprite = nullptr;  // the sprite stays in the list as the outgoing one
    display_queue_post_layer(ctx, kOpClsTransition, layer);
  }
  game_debug_log(kDebugWindowCommand, "sp_cls_transition  %d, %d, %d", layer, number, duration);
  return 1;
}

// ---- Faces ----

int CmdFaceInit(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const int32_t layer = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  const int32_t step = value_stack_pop(ctx);
  FaceSlot* f = face_slot(ctx, slot);
  if (!f) return 0;
  if (layer != -1 && !layer_number_ok(layer)) return 0;
  *f = FaceSlot{layer, -kPriorityStep * step, x, y};
  game_debug_log(kDebugWindowCommand, "face_init  %d, %d, %d, %d, %d", slot, layer, x, y, step);
  return 1;
}

int CmdFaceSet(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t slot = value_stack_pop(ctx);
  const int32_t dx = value_stack_pop(ctx);
  const int32_t dy = value_stack_pop(ctx);
  FaceSlot* f = face_slot(ctx, slot);
  if (!f) return 0;
  const FaceSlot face = *f;
  if (!layer_number_ok(face.layer)) return 0;
  ClearForSet(ctx, face.layer);
  if (operand == kNoOperand) return 1;
  ImageName name;
  if (!ResolveName(ctx, operand, &name)) return 0;
  game_debug_log(kDebugWindowCommand, "face_set  %s, %d, %d, %d", name.text, slot, dx, dy);
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name.text, &attrs) ? &attrs : nullptr;
  int64_t priority = int64_t{ctx->priorityBase} - face.priorityOffset - face.layer + kLayerPriorityTop;
  if (at) priority += int64_t{kPriorityStep} * at->priorityStep;
  SpriteRecord* r = ImageSetUp(ctx, face.layer, name, static_cast<int32_t>(std::clamp<int64_t>(priority, INT32_MIN, INT32_MAX)),
                               at, [&](SpriteRecord* rec, const KivSpriteInfo& info) {
                                 if (face.x != -1 && face.y != -1) {
                                   // The face stands on the slot's point, centred.
                                   rec->t.aX = face.x - info.cellWidth / 2 + dx;
                                   rec->t.aY = face.y - info.cellHeight + dy;
                                 } else {
                                   rec->t.aX = static_cast<int32_t>(info.x) + dx;
                                   rec->t.aY = static_cast<int32_t>(info.y) + dy;
                                 }
                               });
  if (!r) return 0;
  display_queue_post_layer(ctx, kOpFaceSet, face.layer);
  return 1;
}

int CmdFaceCls(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  FaceSlot* f = face_slot(ctx, slot);
  if (!f) return 0;
  if (f->layer >= 0 && f->layer < kLayerCount) layer_release(ctx, f->layer);
  game_debug_log(kDebugWindowCommand, "face_cls  %d", slot);
  return 1;
}

// ---- Text ----

int CmdSpText(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const uint32_t textOperand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  uint8_t entry[4 + 261];
  get_string_operand(ctx, textOperand, entry);
  const char* text = string_operand_text(entry);
  game_debug_log(kDebugWindowCommand, "sp_text  %d, %s, %d, %d", layer, text, x, y);
  LayerRecord* l = &ctx->layers.layers[layer];
  if (l->record) {
    if (!l->record->sprite || !KivSpriteCreateTextEx(l->record->sprite, text, x, y, 0xFFFFFFFFu)) {
      game_debug_puts(kDebugWindowError, "sprite create error");
      return 0;
    }
    return 1;
  }
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, layer);
  if (!r) return 0;
  r->sprite = KivSpriteCreateText(game_render_list(ctx), text, layer_priority(ctx, layer, nullptr), 0xFFFFFFFFu);
  if (!r->sprite) {
    game_debug_puts(kDebugWindowError, "sprite create error");
    sprite_record_release(ctx, r);
    return 0;
  }
  KivSpriteViewCtrl(r->sprite, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  r->t.aX = x;
  r->t.aY = y;
  sprite_record_take_sprite_state(r, info, nullptr);
  r->imageOperand = 0;
  l->record = r;
  sprite_transform_apply(ctx, r);
  display_queue_post_layer(ctx, kOpSpText, layer);
  return 1;
}

// ---- sp_create: a sprite shown at once ----

int CmdSpCreate(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  const int32_t w = value_stack_pop(ctx);
  const int32_t h = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  if (ctx->layers.layers[layer].record) layer_release(ctx, layer);
  if (operand == kNoOperand) return 1;
  ImageName name;
  if (!ResolveName(ctx, operand, &name)) return 0;
  game_debug_log(kDebugWindowCommand, "sp_create %d, %s, %d, %d, %d, %d", layer, name.text, x, y, w, h);
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name.text, &attrs) ? &attrs : nullptr;
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, layer);
  if (!r) return 0;
  r->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name.text), w, h, layer_priority(ctx, layer, at));
  if (!r->sprite) {
    sprite_record_release(ctx, r);
    return 0;
  }
  KivSpriteSetPos(r->sprite, static_cast<float>(x), static_cast<float>(y));
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  r->t.aX = static_cast<int32_t>(info.x);
  r->t.aY = static_cast<int32_t>(info.y);
  sprite_record_take_sprite_state(r, info, nullptr);
  StoreOperand(r, name);
  ctx->layers.layers[layer].record = r;
  return 1;
}

// ---- Loads on the worker ----

int CmdSpLoad(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t layer = value_stack_pop(ctx);
  const int32_t sync = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  if (operand == kNoOperand) return 1;
  if (ctx->layers.layers[layer].record || ctx->layers.layers[layer].transitionArmed) layer_release(ctx, layer);
  return layer_load_start(ctx, layer, operand, sync);
}

int CmdSpLoadWait(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  if (!ctx->layers.layers[layer].record) return 1;
  const uint32_t start = plat::TimeGetMs();
  layer_load_settle(ctx, layer, 3000);  // gives up after 3 s; the load stays pending
  game_debug_log(kDebugWindowCommand, "sp_load_wait  %d : time %d", layer,
                 static_cast<int>(plat::TimeGetMs() - start));
  return 1;
}

// ---- Showing ----

int CmdSpDraw(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  const LayerRecord& l = ctx->layers.layers[layer];
  if (l.record && l.record->sprite) {
    display_queue_post_layer(ctx, kOpSpDraw, layer);
    game_debug_log(kDebugWindowCommand, "sp_draw  %d", layer);
  } else {
    game_debug_puts(kDebugWindowCommand, "sp_draw skip");
  }
  return 1;
}

int ShowHide(VmContext* ctx, bool show) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  const LayerRecord& l = ctx->layers.layers[layer];
  if (l.record) display_queue_post_view(ctx, show ? kOpSpShow : kOpSpHide, layer, l.record->sprite, show ? 1 : 0);
  game_debug_log(kDebugWindowCommand, show ? "sp_show %d" : "sp_hide %d", layer);
  return 1;
}

int CmdSpShow(VmContext* ctx) { return ShowHide(ctx, true); }
int CmdSpHide(VmContext* ctx) { return ShowHide(ctx, false); }

int CmdIsSp(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  const int32_t result = ctx->layers.layers[layer].record ? 1 : 0;
  command_set_result(ctx, result);
  game_debug_log(kDebugWindowCommand, "[%d]is_sp %d", result, layer);
  return 1;
}

// ---- Changes by transition ----

int CmdSpSetTransition(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t layer = value_stack_pop(ctx);
  const int32_t number = value_stack_pop(ctx);
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  if (!layer_number_ok(layer) || !transition_number_ok(number)) return 0;
  LayerRecord* l = &ctx->layers.layers[layer];
  l->movieLoop = 0;
  for (LinkSlot& s : l->links) s.control &= 0xF0000000u;
  if (operand == kNoOperand) return 1;
  if (!l->record) {
    game_debug_log(kDebugWindowError, "sprite transition error : no image [%d]", layer);
    return 0;
  }
  ImageName name;
  if (!ResolveName(ctx, operand, &name)) return 0;
  game_debug_log(kDebugWindowCommand, "sp_set_transition  %s, %d, %d, %d", name.text, layer, number, duration);
  if (!EnsureHandle(l)) {
    game_debug_log(kDebugWindowError, "sprite create transition handle error [%s]", name.text);
    return 0;
  }
  SettleLoad(ctx, layer);
  layer_transition_cancel(ctx, layer);
  if (!l->record) {
    // It was being cleared and is empty now: the new image fades in alone.
    l->record = sprite_record_init(ctx, kSpriteKindLayer, layer);
    if (!l->record || !EnsureHandle(l)) return 0;
  }
  SpriteRecord* r = l->record;
  KivRect oldRect{};
  const bool hadOld = r->sprite && KivSpriteGetRect(r->sprite, &oldRect);
  l->transitionArmed = 1;
  l->outgoing = r->sprite;
  r->sprite = nullptr;  // the old sprite belongs to the transition from here on
  l->transitionCode = kTransitionCodes[number];
  l->transitionDuration = duration;
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name.text, &attrs) ? &attrs : nullptr;
  KivSprite* s = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name.text), kScreenWidth, kScreenHeight,
                             layer_priority(ctx, layer, at));
  if (!s) return 0;  // the layer stays set up with its old sprite; the next change or clear releases it
  KivSpriteViewCtrl(s, 0);
  l->incoming = s;
  r->sprite = s;
  StoreOperand(r, name);
  if (hadOld) {
    // The new image is centred on the old one.
    KivRect newRect{};
    KivSpriteGetRect(s, &newRect);
    const int64_t dw = (int64_t{newRect.right} - newRect.left) - (int64_t{oldRect.right} - oldRect.left);
    const int64_t dh = (int64_t{newRect.bottom} - newRect.top) - (int64_t{oldRect.bottom} - oldRect.top);
    r->t.aX = static_cast<int32_t>(r->t.aX - (dw >> 1));
    r->t.aY = static_cast<int32_t>(r->t.aY - (dh >> 1));
  }
  sprite_transform_apply(ctx, r);
  if (at) sprite_attrs_apply(ctx, *at, r, r->motionSlot ? kAttrAll & ~kAttrMotion : kAttrAll);
  if (!Skipping(ctx)) {
    l->transitionState = kLayerTransitionChange;
    display_queue_post_layer(ctx, kOpTransition, layer);
  } else {
    if (l->outgoing) KivSpriteRelease(game_render_list(ctx), l->outgoing);
    l->outgoing = l->incoming = nullptr;
    l->transitionArmed = 0;
    l->transitionState = kLayerTransitionNone;
    display_queue_post_layer(ctx, kOpSpSet, layer);
  }
  return 1;
}

int CmdSpCopyImage(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  LayerRecord* l = &ctx->layers.layers[layer];
  if (!layer_transition_cancel(ctx, layer)) {
    game_debug_log(kDebugWindowError, "sp_copy_image fail : entry layer_no miss [%d]", layer);
    return 0;
  }
  SettleLoad(ctx, layer);
  l->transitionArmed = 1;
  if (l->record) {
    l->outgoing = l->record->sprite;
    l->record->sprite = nullptr;  // the image stays on screen as the outgoing one
  } else {
    l->outgoing = nullptr;
  }
  game_debug_log(kDebugWindowCommand, "sp_copy_image %d", layer);
  return 1;
}

int CmdSpTransition(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t number = value_stack_pop(ctx);
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  if (!layer_number_ok(layer) || !transition_number_ok(number)) return 0;
  LayerRecord* l = &ctx->layers.layers[layer];
  if (!EnsureHandle(l)) {
    game_debug_puts(kDebugWindowError, "sprite create transition handle error");
    return 0;
  }
  if (!l->record) return 1;
  SettleLoad(ctx, layer);
  l->incoming = l->record->sprite;
  l->transitionCode = kTransitionCodes[number];
  l->transitionDuration = duration;
  l->transitionArmed = 1;
  if (!Skipping(ctx)) {
    l->transitionState = kLayerTransitionChange;
    display_queue_post_layer(ctx, kOpTransition, layer);
    game_debug_log(kDebugWindowCommand, "sp_transition %d, %d, %d", layer, number, duration);
  } else {
    if (l->outgoing) KivSpriteRelease(game_render_list(ctx), l->outgoing);
    l->outgoing = l->incoming = nullptr;
    l->transitionArmed = 0;
    l->transitionState = kLayerTransitionNone;
    display_queue_post_layer(ctx, kOpSpSet, layer);
    game_debug_log(kDebugWindowCommand, "[skip]sp_transition %d, %d, %d", layer, number, duration);
  }
  return 1;
}

// ---- The screen into a layer ----

int CmdGetBackbuffer(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  game_debug_log(kDebugWindowCommand, "get_backbuffer %d", layer);
  const LayerRecord& l = ctx->layers.layers[layer];
  if (l.record && l.record->sprite) KivSpriteBackBafferCopy(l.record->sprite);
  return 1;
}

}  // namespace

void layer_image_commands_install() {
  static const CommandBinding kCommands[] = {
      {"sp_set", CmdSpSet},
      {"sp_set_ex", CmdSpSetEx},
      {"sp_cls", CmdSpCls},
      {"sp_cls_ex", CmdSpClsEx},
      {"sp_cls_transition", CmdSpClsTransition},
      {"face_init", CmdFaceInit},
      {"face_set", CmdFaceSet},
      {"sp_text", CmdSpText},
      {"face_cls", CmdFaceCls},
      {"sp_create", CmdSpCreate},
      {"sp_load", CmdSpLoad},
      {"sp_load_wait", CmdSpLoadWait},
      {"sp_draw", CmdSpDraw},
      {"sp_show", CmdSpShow},
      {"sp_hide", CmdSpHide},
      {"is_sp", CmdIsSp},
      {"sp_set_transition", CmdSpSetTransition},
      {"sp_copy_image", CmdSpCopyImage},
      {"sp_transition", CmdSpTransition},
      {"get_backbuffer", CmdGetBackbuffer},
  };
  command_bind_all(kCommands);
  movie_commands_install();
}

int layer_cmd_sp_set_ex(VmContext* ctx) { return CmdSpSetEx(ctx); }
int layer_cmd_sp_cls(VmContext* ctx) { return CmdSpCls(ctx); }
