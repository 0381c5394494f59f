// Group 3's attribute and composition commands: a layer's position,
// rotation, scale, colour, filter, rectangle, render mode and priority, its
// shake, lock and links, and images composed into its sprite. Nothing is
// queued: values written into a sprite record reach the engine at the end of
// the frame (sprite_transform_frame); direct engine calls act at once.
//
// A layer without a record does nothing (queries give -1); a record whose
// sprite is gone (a layer cleared by transition) counts as empty too.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/layers.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
constexpr int32_t kFilterCount = 13;  // 0..12
constexpr int32_t kPriorityLimit = 5000;
constexpr int32_t kAspectTypes = 5;

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The layer's record with a live sprite, or null (after the range check,
// which sets *bad).
SpriteRecord* LayerRecordOf(VmContext* ctx, int32_t layer, bool* bad) {
  *bad = !layer_number_ok(layer);
  if (*bad) return nullptr;
  SpriteRecord* r = ctx->layers.layers[layer].record;
  return r && r->sprite ? r : nullptr;
}

// The record an image number names (a layer, a game image or a button
// item), when it holds a sprite.
SpriteRecord* ImageRecord(VmContext* ctx, uint32_t image_no) {
  const int32_t index = image_no_to_index(image_no);
  if (index < 0 || !index_in(index, kSpriteRecordCount, "image record")) return nullptr;
  SpriteRecord* r = &ctx->sprites.records[index];
  return r->linked && r->sprite ? r : nullptr;
}

// Commands that take a layer and act only on a filled one.
#define LAYER_OR_RETURN(layer, r)              \
  bool bad_##r = false;                        \
  SpriteRecord* r = LayerRecordOf(ctx, layer, &bad_##r); \
  if (bad_##r) return 0;

// ---- Position ----

int CmdSpSetPos(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t step = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_pos %d, %d", layer, step);
  if (!r) return 1;
  int32_t x = 0, y = 0;
  layer_position(r->sprite, step, 2, &x, &y);
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  r->t.aX = x;
  r->t.aY = kScreenHeight - info.height;
  return 1;
}

int CmdSpSetPosEx(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_pos_ex %d, %d, %d", layer, x, y);
  if (!r) return 1;
  r->t.aX = x;
  r->t.aY = y;
  return 1;
}

int CmdSpSetPosMove(VmContext* ctx) {
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t dx = value_stack_pop(ctx);
  const int32_t dy = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "sp_set_pos_move  %d, %d, %d", static_cast<int>(image), dx, dy);
  SpriteRecord* r = ImageRecord(ctx, image);
  if (!r) return 1;
  r->t.aX = Saturate(int64_t{r->t.aX} + dx);
  r->t.aY = Saturate(int64_t{r->t.aY} + dy);
  return 1;
}

int CmdSpGetPos(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t cellX = value_stack_pop(ctx);
  const int32_t cellY = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (!r) return 1;
  // Both cells are checked before either is written.
  if ((cellX != -1 && !index_in(cellX, kTempAreaWords, "sp_get_pos x cell")) ||
      (cellY != -1 && !index_in(cellY, kTempAreaWords, "sp_get_pos y cell")))
    return 0;
  const SpriteTransform& t = r->t;
  const int64_t x = int64_t{t.aX} + t.bX + t.frame.cX + t.frame.dX + t.delta.x + t.f.x;
  const int64_t y = int64_t{t.aY} + t.bY + t.frame.cY + t.frame.dY + t.delta.y + t.f.y;
  if (cellX != -1) ctx->tempArea[cellX] = Saturate(x);
  if (cellY != -1) ctx->tempArea[cellY] = Saturate(y);
  return 1;
}

// ---- Colour and alpha ----

int CmdSpSetAlpha(VmContext* ctx) {
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t alpha = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "sp_set_alpha  %d, %d", static_cast<int>(image), alpha);
  SpriteRecord* r = ImageRecord(ctx, image);
  if (!r) return 1;
  r->t.colour = (r->t.colour & 0x00FFFFFFu) | static_cast<uint32_t>(alpha) << 24;
  r->t.bAlpha = 0;
  return 1;
}

int CmdSpSetColor(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const uint32_t colour = static_cast<uint32_t>(value_stack_pop(ctx));
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_color  %d, 0x%08X", layer, colour);
  if (!r) return 1;
  // Alpha bits in the argument add to the alpha that is there.
  r->t.colour = (r->t.colour & 0xFF000000u) | colour;
  r->t.bAlpha = 0;
  return 1;
}

int CmdSpGetColor(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (!r) {
    game_debug_log(kDebugWindowCommand, "not image : sp_get_color %d", layer);
    command_set_result(ctx, -1);
    return 1;
  }
  const uint32_t colour = r->t.colour & 0x00FFFFFFu;
  game_debug_log(kDebugWindowCommand, "[0x%08X]sp_get_color %d", colour, layer);
  command_set_result(ctx, static_cast<int32_t>(colour));
  return 1;
}

int CmdSpGetAlpha(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (!r) {
    game_debug_log(kDebugWindowCommand, "not image : sp_get_alpha %d", layer);
    command_set_result(ctx, -1);
    return 1;
  }
  const int32_t alpha = static_cast<int32_t>(r->t.colour >> 24);
  game_debug_log(kDebugWindowCommand, "sp_get_alpha %d, %d", layer, alpha);
  command_set_result(ctx, alpha);
  return 1;
}

int CmdSpPaint(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  LAYER_OR_RETURN(layer, r);
  uint32_t value = 0;
  uint8_t raw[kFileRecordBytes];
  if (operand != kNoOperand && get_record_operand(ctx, operand, raw, false)) {
    char text[kFileRecordBytes + 1] = {};
    std::memcpy(text, raw, kFileRecordBytes);
    value = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
  }
  game_debug_log(kDebugWindowCommand, "sp_paint %d, 0x%08X", layer, value);
  if (r) KivSpritePaint(r->sprite, value);
  return 1;
}

// ---- Rotation, scale ----

int CmdSpSetScale(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t percent = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_scale  %d, %d", layer, percent);
  if (!r) return 1;
  r->t.aScale = static_cast<float>(percent / 100.0);
  r->t.bScale = 0.0f;
  return 1;
}

int CmdSpGetScale(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (!r) {
    game_debug_log(kDebugWindowCommand, "not image : sp_get_scale %d", layer);
    command_set_result(ctx, -1);
    return 1;
  }
  const SpriteTransform& t = r->t;
  const double sum = double{t.aScale} + t.bScale + t.frame.cScale + t.frame.dScale + t.delta.scale + t.f.scale;
  const double percent = sum * 100.0;
  // Truncated toward zero and held inside the result's range (NaN gives 0).
  command_set_result(ctx, percent == percent
                              ? static_cast<int32_t>(std::clamp(percent, double{INT32_MIN}, double{INT32_MAX}))
                              : 0);
  return 1;
}

int CmdSpSetRotate(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  const int32_t z = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_rotate  %d, %d, %d, %d", layer, x, y, z);
  if (!r) return 1;
  r->t.aRot[0] = x;
  r->t.aRot[1] = y;
  r->t.aRot[2] = z;
  r->t.bRot[0] = r->t.bRot[1] = r->t.bRot[2] = 0;
  return 1;
}

int CmdSpGetRotate(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t axis = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (!r) {
    game_debug_log(kDebugWindowCommand, "not image : sp_get_rotate %d", layer);
    command_set_result(ctx, -1);
    return 1;
  }
  if (!index_in(axis, 3, "sp_get_rotate axis")) {
    command_set_result(ctx, -1);
    return 1;
  }
  const int32_t v = Saturate(int64_t{r->t.aRot[axis]} + r->t.bRot[axis]);
  static const char* const kAxis[3] = {"x", "y", "z"};
  game_debug_log(kDebugWindowCommand, "sp_get_rotate [%s] %d, %d", kAxis[axis], layer, v);
  command_set_result(ctx, v);
  return 1;
}

// ---- Engine state set at once ----

int CmdSpSetRenderMode(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t mode = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  if (r) KivSpriteSetRenderMode(r->sprite, Saturate(int64_t{mode} + 1));
  return 1;
}

int CmdSpSetRect(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  KivRect rect;
  rect.left = value_stack_pop(ctx);
  rect.top = value_stack_pop(ctx);
  rect.right = value_stack_pop(ctx);
  rect.bottom = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_rect  %d, %d, %d, %d, %d", layer, rect.left, rect.top, rect.right,
                 rect.bottom);
  if (!r) return 1;
  KivSpriteSetRect(r->sprite, &rect);
  ctx->layers.layers[layer].flags |= kLayerFlagRect;
  return 1;
}

void ApplyFilter(VmContext* ctx, int layer, int32_t filter) {
  LayerRecord& l = ctx->layers.layers[layer];
  const unsigned option = static_cast<unsigned>(kTransitionCodes[filter + 2]);
  KivSpriteSetOption(l.record->sprite, option);
  l.flags |= 1u << filter;
  if (option == 0) l.flags = 0;  // the saved pixels are back: every mark goes with them
}

int CmdSetFilter(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  int32_t filter = value_stack_pop(ctx);
  if (layer != -1 && !layer_number_ok(layer)) return 0;
  if (filter < 0 || filter >= kFilterCount) filter = 0;
  game_debug_log(kDebugWindowCommand, "set_filter  %d, %d", layer, filter);
  const int first = layer == -1 ? 0 : layer, last = layer == -1 ? kLayerCount - 1 : layer;
  for (int i = first; i <= last; ++i) {
    const SpriteRecord* r = ctx->layers.layers[i].record;
    if (r && r->sprite) ApplyFilter(ctx, i, filter);
  }
  return 1;
}

int CmdSetPriority(VmContext* ctx) {
  const int32_t step = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_priority %d", step);
  const int64_t move = int64_t{kPriorityStep} * step;
  if (kPriorityLimit - int64_t{ctx->priorityBase} + move < 0) {
    game_debug_puts(kDebugWindowError, plat::Sjis("set_priorityで一番手前に設定されています"));
    return 0;
  }
  ctx->priorityBase = Saturate(int64_t{ctx->priorityBase} + move);
  return 1;
}

int CmdSetAspectPositionType(VmContext* ctx) {
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t type = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_aspect_position_type %d, %d", static_cast<int>(image), type);
  SpriteRecord* r = ImageRecord(ctx, image);
  if (!r) return 1;
  if (!index_in(type, kAspectTypes, "aspect position type")) return 1;
  r->t.aspectType = type;
  return 1;
}

// ---- Layer words ----

int CmdSpAnimClear(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_anim_clear %d", layer);
  SpriteRecord* rec = ctx->layers.layers[layer].record;
  if (rec && rec->motionSlot) motion_free(ctx, rec->motionSlot);
  (void)r;
  return 1;
}

int CmdSpSetValue(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t value = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  ctx->layers.layers[layer].userWord = value;
  return 1;
}

int CmdSpGetValue(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (!layer_number_ok(layer)) return 0;
  command_set_result(ctx, ctx->layers.layers[layer].userWord);
  return 1;
}

int CellSize(VmContext* ctx, bool width) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  KivSpriteInfo info{};
  if (!r || !KivSpriteGetInfo(r->sprite, &info)) {
    command_set_result(ctx, -1);
    return 1;
  }
  command_set_result(ctx, width ? info.cellWidth : info.cellHeight);
  return 1;
}
int CmdSpGetCellWidth(VmContext* ctx) { return CellSize(ctx, true); }
int CmdSpGetCellHeight(VmContext* ctx) { return CellSize(ctx, false); }

int LockFlag(VmContext* ctx, bool lock) {
  const int32_t layer = value_stack_pop(ctx);
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, lock ? "sp_lock %d" : "sp_unlock %d", layer);
  if (!ctx->layers.layers[layer].record) return 1;
  (void)r;
  if (lock) ctx->layers.layers[layer].flags |= kLayerFlagLocked;
  else ctx->layers.layers[layer].flags &= ~kLayerFlagLocked;
  return 1;
}
int CmdSpLock(VmContext* ctx) { return LockFlag(ctx, true); }
int CmdSpUnlock(VmContext* ctx) { return LockFlag(ctx, false); }

// ---- Shake ----

int CmdSpSetShake(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t mode = value_stack_pop(ctx);
  int32_t amplitude = value_stack_pop(ctx);
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  LAYER_OR_RETURN(layer, r);
  game_debug_log(kDebugWindowCommand, "sp_set_shake %d, %d, %d, %d", layer, mode, amplitude,
                 static_cast<int>(duration));
  if (!r) return 1;
  LayerRecord& l = ctx->layers.layers[layer];
  if (duration == 0) {
    l.shakeMode = l.shakeAmplitude = 0;
    l.shakeDuration = l.shakeStart = 0;
    l.flags &= ~kLayerFlagShake;
    r->t.frame.eX = r->t.frame.eY = 0;
    return 1;
  }
  if (duration != kShakeEndless && (get_skip_state(ctx) != 0 || !KivEffectEnableIs())) return 1;
  if (amplitude == 0) amplitude = 1;
  l.flags |= kLayerFlagShake;
  l.shakeMode = mode;
  l.shakeAmplitude = amplitude;
  l.shakeDuration = duration;
  l.shakeStart = KivtimeGetTime();
  return 1;
}

// ---- Links and compositions ----

bool SlotOk(int32_t slot) { return index_in(slot, kLinkSlotCount, "link slot"); }

int CmdSpSetChild(VmContext* ctx) {
  const int32_t parent = value_stack_pop(ctx);
  const int32_t child = value_stack_pop(ctx);
  const int32_t dx = value_stack_pop(ctx);
  const int32_t dy = value_stack_pop(ctx);
  const int32_t slot = value_stack_pop(ctx);
  if (!layer_number_ok(parent) || (child != -1 && !layer_number_ok(child)) || !SlotOk(slot)) return 0;
  LayerRecord& p = ctx->layers.layers[parent];
  if (!p.record) return 1;
  game_debug_log(kDebugWindowCommand, "sp_set_child %d, %d, %d, %d, %d", parent, child, dx, dy, slot);
  LinkSlot& s = p.links[slot];
  if (child == -1) {
    s = LinkSlot{};
    s.operand = static_cast<uint32_t>(-1);
    bool any = false;
    for (const LinkSlot& o : p.links) any |= o.control != 0;
    if (!any) p.flags &= ~kLayerFlagLinks;
    return 1;
  }
  s.control |= kLinkChild;
  s.operand = static_cast<uint32_t>(child);
  s.dstX = dx;
  s.dstY = dy;
  p.flags |= kLayerFlagLinks;
  return 1;
}

void RecordComposition(LayerRecord& l, int32_t slot, uint32_t kind, uint32_t operand, int32_t dx, int32_t dy,
                       int32_t sx, int32_t sy, int32_t width, int32_t height) {
  LinkSlot& s = l.links[slot];
  s.control |= kind;
  s.operand = operand;
  s.dstX = dx;
  s.dstY = dy;
  s.srcX = sx;
  s.srcY = sy;
  s.width = width;
  s.height = height;
  l.flags |= kLayerFlagLinks;
}

int CmdSpBitblt(VmContext* ctx) {
  const int32_t dst = value_stack_pop(ctx);
  const int32_t dx = value_stack_pop(ctx);
  const int32_t dy = value_stack_pop(ctx);
  const int32_t width = value_stack_pop(ctx);
  const int32_t height = value_stack_pop(ctx);
  const int32_t src = value_stack_pop(ctx);
  const int32_t sx = value_stack_pop(ctx);
  const int32_t sy = value_stack_pop(ctx);
  const int32_t slot = value_stack_pop(ctx);
  if (!layer_number_ok(dst) || !layer_number_ok(src) || !SlotOk(slot)) return 0;
  game_debug_log(kDebugWindowCommand, "sp_bitblt %d, %d, %d, %d, %d, %d, %d, %d, %d", dst, dx, dy, width, height,
                 src, sx, sy, slot);
  LayerRecord& d = ctx->layers.layers[dst];
  const LayerRecord& s = ctx->layers.layers[src];
  if (!d.record || !d.record->sprite || !s.record || !s.record->sprite) return 1;
  KivCopySpriteToSpriteRGB(d.record->sprite, dx, dy, s.record->sprite, sx, sy, width, height);
  RecordComposition(d, slot, kLinkCopyLayer, static_cast<uint32_t>(src), dx, dy, sx, sy, width, height);
  return 1;
}

int CmdSpMixFileToSprite(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t dx = value_stack_pop(ctx);
  const int32_t dy = value_stack_pop(ctx);
  const int32_t width = value_stack_pop(ctx);
  const int32_t height = value_stack_pop(ctx);
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t sx = value_stack_pop(ctx);
  const int32_t sy = value_stack_pop(ctx);
  const int32_t slot = value_stack_pop(ctx);
  if (!layer_number_ok(layer) || !SlotOk(slot)) return 0;
  LayerRecord& l = ctx->layers.layers[layer];
  if (operand == kNoOperand || !l.record || !l.record->sprite) return 1;
  uint8_t raw[kFileRecordBytes];
  if (!get_record_operand(ctx, operand, raw, true)) return 1;
  char name[kFileRecordBytes + 1] = {};
  std::memcpy(name, raw, kFileRecordBytes);
  game_debug_log(kDebugWindowCommand, "sp_mix_file_to_sprite %d, %d, %d, %d, %d, %s, %d, %d, %d", layer, dx, dy,
                 width, height, name, sx, sy, slot);
  KivRenderList* list = game_render_list(ctx);
  KivSprite* temp = sprite_load(list, name, kScreenWidth, kScreenHeight, 0);
  if (!temp) return 0;
  KivSpriteViewCtrl(temp, 0);
  KivMixSpriteToSprite(l.record->sprite, dx, dy, width, height, temp, sx, sy);
  KivSpriteRelease(list, temp);
  RecordComposition(l, slot, kLinkMixFile, operand, dx, dy, sx, sy, width, height);
  return 1;
}

}  // namespace

void layer_attribute_commands_install() {
  static const CommandBinding kCommands[] = {
      {"sp_set_pos", CmdSpSetPos},
      {"sp_set_alpha", CmdSpSetAlpha},
      {"set_priority", CmdSetPriority},
      {"set_filter", CmdSetFilter},
      {"sp_set_pos_ex", CmdSpSetPosEx},
      {"sp_set_render_mode", CmdSpSetRenderMode},
      {"sp_set_scale", CmdSpSetScale},
      {"sp_set_rotate", CmdSpSetRotate},
      {"sp_get_color", CmdSpGetColor},
      {"sp_set_rect", CmdSpSetRect},
      {"sp_set_pos_move", CmdSpSetPosMove},
      {"sp_get_alpha", CmdSpGetAlpha},
      {"sp_get_rotate", CmdSpGetRotate},
      {"sp_get_pos", CmdSpGetPos},
      {"sp_get_cell_width", CmdSpGetCellWidth},
      {"sp_get_cell_height", CmdSpGetCellHeight},
      {"sp_mix_file_to_sprite", CmdSpMixFileToSprite},
      {"sp_anim_clear", CmdSpAnimClear},
      {"sp_set_value", CmdSpSetValue},
      {"sp_get_value", CmdSpGetValue},
      {"sp_get_scale", CmdSpGetScale},
      {"sp_set_color", CmdSpSetColor},
      {"sp_bitblt", CmdSpBitblt},
      {"sp_set_shake", CmdSpSetShake},
      {"sp_paint", CmdSpPaint},
      {"sp_lock", CmdSpLock},
      {"sp_unlock", CmdSpUnlock},
      {"sp_set_child", CmdSpSetChild},
      {"set_aspect_position_type", CmdSetAspectPositionType},
  };
  command_bind_all(kCommands);
}
