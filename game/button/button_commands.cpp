// Command groups 8 (btn: button groups and their buttons) and 12
// (system_btn: the 32 key bindings). Every group, button index, system
// index and memory cell a script names is checked before it is used; a
// refused command changes nothing and returns 0.
#include <algorithm>
#include <cstring>

#include "button/buttons.h"
#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/display_queue.h"
#include "layers/layers.h"
#include "layers/sprite_records.h"
#include "platform/core/text_encoding.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kButtonSoundType = 4;
constexpr int kFallbackWidth = 1280;
constexpr int kFallbackHeight = 720;
constexpr int32_t kAllButtons = -1;
constexpr int32_t kAllSystemButtons = 65535;
constexpr uint32_t kLeftButton = 1u << 23;

int32_t Pop(VmContext* ctx) { return value_stack_pop(ctx); }

ButtonGroup& Group(VmContext* ctx, int32_t g) { return ctx->buttons.groups[g]; }

bool GroupOk(int32_t group, const char* what) { return index_in(group, kButtonGroupCount, what); }
bool IndexOk(int32_t index, const char* what) { return index_in(index, kButtonsPerGroup, what); }
bool IndexOrAllOk(int32_t index, const char* what) { return index == kAllButtons || IndexOk(index, what); }

// btn_set and btn_release name a group or index above the range with their
// own messages; everything else out of range goes through the one check.
bool GroupChecked(int32_t group, const char* what) {
  if (group > kButtonGroupCount - 1) {
    game_debug_log(kDebugWindowError, "btn group over error : %d", group);
    return false;
  }
  return GroupOk(group, what);
}
bool IndexChecked(int32_t index, bool allowAll, const char* what) {
  if (index > kButtonsPerGroup - 1) {
    game_debug_log(kDebugWindowError, "btn count over error : %d", index);
    return false;
  }
  return allowAll ? IndexOrAllOk(index, what) : IndexOk(index, what);
}

// The sprite record of an existing button (group and index checked).
SpriteRecord* Button(VmContext* ctx, int32_t g, int32_t i) {
  SpriteRecord* r = Group(ctx, g).entries[i].record;
  return r && r->sprite ? r : nullptr;
}

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Takes a button out of its group at once: engine item gone, sprite record
// reset (the sprite leaves with the next run).
void RemoveButton(VmContext* ctx, ButtonGroup& g, ButtonEntry& e) {
  if (e.record) {
    if (g.engine && e.record->sprite) KivButtonDelete(g.engine, e.record->sprite);
    sprite_record_reset(ctx, e.record);
  }
  e = ButtonEntry{};
}

bool LabelOffset(VmContext* ctx, int32_t label, uint32_t* out) {
  return label_code_offset(ctx, static_cast<uint32_t>(label), out);
}

// A sound-name operand loaded as a button sound; 0 for none, false when it
// names a sound that does not load.
bool LoadSound(VmContext* ctx, uint32_t operand, KivSoundId* out) {
  *out = 0;
  if (operand == 0 || operand == kNoOperand) return true;
  char name[kSoundNameBytes + 1];
  if (!sound_operand_name(ctx, operand, name)) return false;
  *out = sound_load_by_name(name, kButtonSoundType, nullptr);
  if (*out) return true;
  game_debug_log(kDebugWindowError, "sound load error [%s]", name);
  return false;
}

void ReleaseSound(KivSoundId id) {
  if (id) sound_calls().release(id);
}

// ---- Group 8 ----

int CmdInit(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  const auto hover = static_cast<uint32_t>(Pop(ctx));
  const auto click = static_cast<uint32_t>(Pop(ctx));
  if (!GroupOk(group, "btn_init group")) return 0;
  ButtonGroup& g = Group(ctx, group);
  if (g.initialised) return 1;
  KivSoundId hoverId = 0, clickId = 0;
  if (!LoadSound(ctx, hover, &hoverId)) return 0;
  if (!LoadSound(ctx, click, &clickId)) {
    ReleaseSound(hoverId);
    return 0;
  }
  KivButton* engine = KivButtonCreateEx(hoverId, clickId);
  if (!engine) {
    ReleaseSound(hoverId);
    ReleaseSound(clickId);
    game_debug_log(kDebugWindowError, "btn_init error : %d", group);
    return 0;
  }
  // No sound is recorded as 0, which a load reads back as none.
  g.hoverSound = hover == kNoOperand ? 0 : hover;
  g.clickSound = click == kNoOperand ? 0 : click;
  g.engine = engine;
  g.initialised = 1;
  g.locked = 0;
  std::fill(std::begin(g.expansion), std::end(g.expansion), -1);
  game_debug_log(kDebugWindowCommand, "btn_init %d, %d, %d", group, static_cast<int32_t>(hover),
                 static_cast<int32_t>(click));
  return 1;
}

int CmdUninit(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn_uninit group")) return 0;
  ButtonGroup& g = Group(ctx, group);
  if (g.initialised) {
    for (ButtonEntry& e : g.entries) {
      if (e.record) sprite_record_reset(ctx, e.record);
      e = ButtonEntry{};
    }
    KivButtonRelease(g.engine);
    g.hovered = nullptr;
    g.engine = nullptr;
    g.initialised = 0;
  }
  game_debug_log(kDebugWindowCommand, "btn_uninit  %d", group);
  return 1;
}

int CmdSet(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  const int32_t index = Pop(ctx);
  const auto image = static_cast<uint32_t>(Pop(ctx));
  const int32_t clickLabel = Pop(ctx);
  const int32_t onLabel = Pop(ctx);
  const int32_t offLabel = Pop(ctx);
  const int32_t repeat = Pop(ctx);
  if (!GroupChecked(group, "btn_set group") || !IndexChecked(index, false, "btn_set index")) return 0;
  uint32_t click = 0, on = 0, off = 0;
  if (!LabelOffset(ctx, clickLabel, &click) || !LabelOffset(ctx, onLabel, &on) || !LabelOffset(ctx, offLabel, &off))
    return 0;
  char name[kFileRecordBytes + 1];
  if (!get_record_name(ctx, image, name, true)) return 0;

  ButtonGroup& g = Group(ctx, group);
  ButtonEntry& e = g.entries[index];
  if (e.record) RemoveButton(ctx, g, e);

  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name, &attrs) ? &attrs : nullptr;
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindButton, group * kButtonsPerGroup + index);
  if (!r) return 0;
  r->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name), kFallbackWidth, kFallbackHeight,
                          front_priority(ctx));
  if (!r->sprite) {
    sprite_record_release(ctx, r);
    return 0;
  }
  KivSpriteViewCtrl(r->sprite, 0);
  KivButtonEntryEx(g.engine, r->sprite, repeat ? KIV_BUTTON_CLICK_REPEAT : KIV_BUTTON_CLICK_PUSH);
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  r->t.aX = static_cast<int32_t>(info.x);
  r->t.aY = static_cast<int32_t>(info.y);
  r->t.bX = at ? at->moveX : 0;
  r->t.bY = at ? at->moveY : 0;
  sprite_record_take_sprite_state(r, info, at);
  r->imageOperand = image;
  if (image & kStringVariableBit) std::memcpy(r->name, name, sizeof r->name);
  if (at) sprite_attrs_apply(ctx, *at, r, kAttrRenderMode | kAttrMotion);
  sprite_transform_apply(ctx, r);
  e = ButtonEntry{r, click, on, off};

  DisplayOperation op{};
  op.word = kOpBtnSet;
  op.arg[0] = static_cast<uint32_t>(group);
  op.arg[1] = static_cast<uint32_t>(index);
  display_queue_post(ctx, &op, sizeof op);
  game_debug_log(kDebugWindowCommand, "btn_set  %d, %d, %s, %d, %d, %d, %d", group, index, name, clickLabel, onLabel,
                 offLabel, repeat);
  return 1;
}

int HideShow(VmContext* ctx, bool show) {
  const int32_t group = Pop(ctx);
  const int32_t index = Pop(ctx);
  const char* what = show ? "btn_show" : "btn_hide";
  if (!GroupOk(group, what) || !IndexOk(index, what)) return 0;
  DisplayOperation op{};
  op.word = show ? kOpBtnShow : kOpBtnHide;
  op.arg[0] = static_cast<uint32_t>(group);
  op.arg[1] = static_cast<uint32_t>(index);
  op.arg[2] = show ? 1 : 0;
  if (!display_queue_post(ctx, &op, sizeof op))
    game_debug_log(kDebugWindowError, plat::Sjis("メモリ不足発生 : code[0x%08X]"), op.word);
  game_debug_log(kDebugWindowCommand, show ? "btn_show  %d, %d" : "btn_hide  %d, %d", group, index);
  return 1;
}
int CmdHide(VmContext* ctx) { return HideShow(ctx, false); }
int CmdShow(VmContext* ctx) { return HideShow(ctx, true); }

int CmdSetPos(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), x = Pop(ctx), y = Pop(ctx);
  if (!GroupOk(group, "btn_set_pos group") || !IndexOk(index, "btn_set_pos index")) return 0;
  if (SpriteRecord* r = Button(ctx, group, index)) {
    r->t.aX = x;
    r->t.aY = y;
  }
  game_debug_log(kDebugWindowCommand, "btn_set_pos  %d, %d, %d, %d", group, index, x, y);
  return 1;
}

int CmdSetRect(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), w = Pop(ctx), h = Pop(ctx), x = Pop(ctx), y = Pop(ctx);
  if (!GroupOk(group, "btn_set_rect group") || !IndexOk(index, "btn_set_rect index")) return 0;
  if (SpriteRecord* r = Button(ctx, group, index)) {
    const KivRect rect{0, 0, w, h};
    KivSpriteSetRect(r->sprite, &rect);
    KivSpriteSetOffsetRect(r->sprite, static_cast<unsigned>(x), static_cast<unsigned>(y));
  }
  game_debug_log(kDebugWindowCommand, "btn_set_rect %d, %d, %d, %d, %d, %d", group, index, w, h, x, y);
  return 1;
}

void ReleaseOne(VmContext* ctx, int32_t group, int32_t index) {
  ButtonGroup& g = Group(ctx, group);
  ButtonEntry& e = g.entries[index];
  if (!e.record) return;
  if (g.engine && e.record->sprite) KivButtonDelete(g.engine, e.record->sprite);
  sprite_record_reset(ctx, e.record);
  e.record = nullptr;
  if (g.hovered == &e) {
    g.hovered = nullptr;
    btn_event_post(ctx, group, &e);
  }
  e = ButtonEntry{};
}

int CmdRelease(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx);
  if (!GroupChecked(group, "btn_release group") || !IndexChecked(index, true, "btn_release index")) return 0;
  if (index == kAllButtons) {
    for (int i = 0; i < kButtonsPerGroup; ++i) ReleaseOne(ctx, group, i);
  } else {
    ReleaseOne(ctx, group, index);
  }
  game_debug_log(kDebugWindowCommand, "btn_release  %d, %d", group, index);
  return 1;
}

int CmdDrag(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), range = Pop(ctx), axis = Pop(ctx), snap = Pop(ctx);
  if (!GroupOk(group, "btn_drag group") || !IndexOk(index, "btn_drag index")) return 0;
  SpriteRecord* r = Button(ctx, group, index);
  if (!r || (axis != 0 && axis != 1)) return 1;
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  const bool vertical = axis == 1;
  int32_t& offset = vertical ? r->t.bY : r->t.bX;
  const int m = vertical ? KivInputGetMouseY() : KivInputGetMouseX();
  if (m == -1) {  // the mouse is outside the window: nothing moves
    command_set_result(ctx, offset);
    return 1;
  }
  const int32_t cell = vertical ? info.cellHeight : info.cellWidth;
  const int64_t stored = vertical ? r->t.aY : r->t.aX;
  int64_t v = int64_t{m} - (cell >> 1) - stored;
  if (v > range) v = range;
  if (v < 0) v = 0;
  command_set_result(ctx, static_cast<int32_t>(v));
  if (vertical && snap) {
    // Down to a whole hundredth of the range; the end of the range stays.
    const int64_t effective = std::max<int64_t>(range, 100);
    const int64_t step = effective / 100;
    if (v != effective) v -= v % step;
  }
  offset = static_cast<int32_t>(v);
  return 1;
}

int CmdSetDrag(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), range = Pop(ctx), axis = Pop(ctx), percent = Pop(ctx);
  if (!GroupOk(group, "btn_set_drag group") || !IndexOk(index, "btn_set_drag index")) return 0;
  SpriteRecord* r = Button(ctx, group, index);
  if (!r) return 1;
  const int32_t v = Clamp32(int64_t{percent} * range / 100);
  if (axis == 0) r->t.bX = v;
  else if (axis == 1) r->t.bY = v;
  return 1;
}

bool LeftReleased() { return (static_cast<uint32_t>(KivInputGetKeyPull()) & kLeftButton) != 0; }
bool LeftHeld() {
  return ((static_cast<uint32_t>(KivInputGetKeyOn()) | static_cast<uint32_t>(KivInputGetKeyPush())) & kLeftButton) !=
         0;
}

int CmdDragBegin(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn_drag_begin group")) return 0;
  Group(ctx, group).dragLatch = (!LeftHeld() || LeftReleased()) ? 1 : 0;
  return 1;
}

int CmdDragWait(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn_drag_wait group")) return 0;
  ButtonGroup& g = Group(ctx, group);
  if (LeftReleased() || g.dragLatch) {
    g.dragLatch = 1;
    command_set_result(ctx, -1);
    return 1;
  }
  // The script goes on after this call next frame; it asks again itself.
  command_set_result(ctx, 0);
  command_yield(ctx);
  return 1;
}

int CmdSetToggle(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), state = Pop(ctx);
  if (!GroupOk(group, "btn_set_toggle group") || !IndexOk(index, "btn_set_toggle index")) return 0;
  DisplayOperation op{};
  op.word = kOpBtnSetToggle;
  op.arg[0] = static_cast<uint32_t>(group);
  op.arg[1] = static_cast<uint32_t>(index);
  op.arg[2] = static_cast<uint32_t>(state);
  if (!display_queue_post(ctx, &op, sizeof op))
    game_debug_log(kDebugWindowError, plat::Sjis("メモリ不足発生 : code[0x%08X]"), op.word);
  game_debug_log(kDebugWindowCommand, "btn_set_toggle  %d, %d, %d", group, index, state);
  return 1;
}

int CmdGetPos(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), xVar = Pop(ctx), yVar = Pop(ctx);
  if (!GroupOk(group, "btn_get_pos group") || !IndexOk(index, "btn_get_pos index")) return 0;
  if ((xVar != -1 && !index_in(xVar, kUserMemoryWords, "btn_get_pos x cell")) ||
      (yVar != -1 && !index_in(yVar, kUserMemoryWords, "btn_get_pos y cell")))
    return 0;
  SpriteRecord* r = Button(ctx, group, index);
  if (!r) return 1;
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  if (xVar != -1) ctx->userMemory[xVar] = Clamp32(int64_t{static_cast<int32_t>(info.x)} + info.offsetX);
  if (yVar != -1) ctx->userMemory[yVar] = Clamp32(int64_t{static_cast<int32_t>(info.y)} + info.offsetY);
  return 1;
}

int CmdEnable(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), enabled = Pop(ctx);
  if (!GroupOk(group, "btn_enable group") || !IndexOrAllOk(index, "btn_enable index")) return 0;
  ButtonGroup& g = Group(ctx, group);
  for (int i = 0; i < kButtonsPerGroup; ++i) {
    if (index != kAllButtons && i != index) continue;
    if (SpriteRecord* r = Button(ctx, group, i)) KivButtonCtrl(g.engine, r->sprite, enabled);
  }
  game_debug_log(kDebugWindowCommand, "btn_enable  %d, %d, %d", group, index, enabled);
  return 1;
}

int CmdSetAlpha(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx), alpha = Pop(ctx);
  game_debug_log(kDebugWindowCommand, "btn_set_alpha  %d, %d, %d", group, index, alpha);
  if (!GroupOk(group, "btn_set_alpha group") || !IndexOk(index, "btn_set_alpha index")) return 0;
  if (SpriteRecord* r = Button(ctx, group, index))
    r->t.colour = (r->t.colour & 0x00FFFFFFu) | (static_cast<uint32_t>(alpha) & 0xFFu) << 24;
  return 1;
}

// btn_get_push, btn_get_onmouse, btn_get_offmouse.
template <int32_t ButtonGroup::*Field>
int GetLast(VmContext* ctx, const char* fmt) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn group")) return 0;
  const int32_t v = Group(ctx, group).*Field;
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, fmt, v, group);
  return 1;
}
int CmdGetPush(VmContext* ctx) { return GetLast<&ButtonGroup::lastClicked>(ctx, "[%d] btn_get_push %d"); }
int CmdGetOnMouse(VmContext* ctx) { return GetLast<&ButtonGroup::lastOn>(ctx, "[%d] btn_get_onmouse %d"); }
int CmdGetOffMouse(VmContext* ctx) { return GetLast<&ButtonGroup::lastOff>(ctx, "[%d] btn_get_offmouse %d"); }

int CmdExpansion(VmContext* ctx) {
  const int32_t group = Pop(ctx), value = Pop(ctx), kind = Pop(ctx);
  if (!GroupOk(group, "btn_expansion group")) return 0;
  const int slot = btn_expansion_slot(kind);
  if (slot < 0) {
    game_debug_log(kDebugWindowError, "error : btn_expansion");
    return 0;
  }
  Group(ctx, group).expansion[slot] = value;
  game_debug_log(kDebugWindowCommand, "btn_expansion %d, %d, %d", group, value, kind);
  return 1;
}

int CmdLock(VmContext* ctx) {
  const int32_t group = Pop(ctx), ms = Pop(ctx);
  if (!GroupOk(group, "btn_lock group")) return 0;
  ButtonGroup& g = Group(ctx, group);
  g.locked = 1;
  g.lockTime = static_cast<uint32_t>(ms);
  g.lockStart = ms ? KivtimeGetTime() : 0;
  game_debug_log(kDebugWindowCommand, "btn_lock %d, %d", group, ms);
  return 1;
}

int CmdUnlock(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn_unlock group")) return 0;
  ButtonGroup& g = Group(ctx, group);
  g.locked = 0;
  g.lockTime = g.lockStart = 0;
  game_debug_log(kDebugWindowCommand, "btn_unlock %d", group);
  return 1;
}

int CmdSetAnim(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx);
  const auto motion = static_cast<uint32_t>(Pop(ctx));
  if (!GroupOk(group, "btn_set_anim group") || !IndexOk(index, "btn_set_anim index")) return 0;
  char name[kFileRecordBytes + 1];
  get_record_name(ctx, motion, name, true);
  if (SpriteRecord* r = Button(ctx, group, index)) {
    if (r->motionSlot) motion_free(ctx, r->motionSlot);
    r->motionSlot = 0;
    if (name[0] && motion_load(ctx, r, name) && r->motionSlot) motion_show(ctx, r->motionSlot);
  }
  game_debug_log(kDebugWindowCommand, "btn_set_anim %d, %d, %s", group, index, name);
  return 1;
}

int CmdSetHit(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx);
  if (!GroupOk(group, "btn_set_hit group") || !IndexOk(index, "btn_set_hit index")) return 0;
  if (SpriteRecord* r = Button(ctx, group, index)) KivButtonSetReaction(Group(ctx, group).engine, r->sprite);
  game_debug_log(kDebugWindowCommand, "btn_set_hit %d, %d", group, index);
  return 1;
}

int CmdAnimClear(VmContext* ctx) {
  const int32_t group = Pop(ctx), index = Pop(ctx);
  if (!GroupOk(group, "btn_anim_clear group") || !IndexOk(index, "btn_anim_clear index")) return 0;
  if (SpriteRecord* r = Button(ctx, group, index); r && r->motionSlot) {
    motion_free(ctx, r->motionSlot);
    r->motionSlot = 0;
  }
  game_debug_log(kDebugWindowCommand, "btn_anim_clear %d, %d", group, index);
  return 1;
}

int CmdOnMouseClear(VmContext* ctx) {
  const int32_t group = Pop(ctx);
  if (!GroupOk(group, "btn_onmouse_clear group")) return 0;
  Group(ctx, group).hovered = nullptr;
  game_debug_log(kDebugWindowCommand, "btn_onmouse_clear %d", group);
  return 1;
}

// ---- Group 12 ----

bool SystemIndexOk(int32_t index, bool allowAll, const char* what) {
  return (allowAll && index == kAllSystemButtons) || index_in(index, kSystemButtonCount, what);
}

int CmdSystemSet(VmContext* ctx) {
  const int32_t index = Pop(ctx), label = Pop(ctx), repeat = Pop(ctx);
  if (!SystemIndexOk(index, false, "system_btn_set index")) return 0;
  uint32_t routine = 0;
  if (!LabelOffset(ctx, label, &routine)) return 0;
  SystemButton& b = ctx->buttons.system[index];
  b.inUse = 1;
  b.enabled = 1;
  b.repeatMask = repeat ? 0xFFFFFFFFu : 0;
  b.routine = routine;
  game_debug_log(kDebugWindowCommand, "system_btn_set  %d, %d, %d", index, label, repeat);
  return 1;
}

int CmdSystemRelease(VmContext* ctx) {
  const int32_t index = Pop(ctx);
  if (!SystemIndexOk(index, true, "system_btn_release index")) return 0;
  for (int i = 0; i < kSystemButtonCount; ++i) {
    if (index != kAllSystemButtons && i != index) continue;
    SystemButton& b = ctx->buttons.system[i];
    b.inUse = b.enabled = 0;
    b.routine = 0;  // the repeat mask stays
  }
  game_debug_log(kDebugWindowCommand, "system_btn_release  %d", index);
  return 1;
}

int CmdSystemEnable(VmContext* ctx) {
  const int32_t index = Pop(ctx), enabled = Pop(ctx);
  if (!SystemIndexOk(index, true, "system_btn_enable index")) return 0;
  for (int i = 0; i < kSystemButtonCount; ++i)
    if (index == kAllSystemButtons || i == index) ctx->buttons.system[i].enabled = enabled;
  game_debug_log(kDebugWindowCommand, "system_btn_enable %d, %d", index, enabled);
  return 1;
}

}  // namespace

void button_commands_install() {
  static const CommandBinding kCommands[] = {
      {"btn_init", CmdInit},
      {"btn_uninit", CmdUninit},
      {"btn_set", CmdSet},
      {"btn_hide", CmdHide},
      {"btn_show", CmdShow},
      {"btn_set_pos", CmdSetPos},
      {"btn_set_rect", CmdSetRect},
      {"btn_release", CmdRelease},
      {"btn_drag", CmdDrag},
      {"btn_set_drag", CmdSetDrag},
      {"btn_drag_begin", CmdDragBegin},
      {"btn_drag_wait", CmdDragWait},
      {"btn_set_toggle", CmdSetToggle},
      {"btn_get_pos", CmdGetPos},
      {"btn_enable", CmdEnable},
      {"btn_set_alpha", CmdSetAlpha},
      {"btn_get_push", CmdGetPush},
      {"btn_expansion", CmdExpansion},
      {"btn_lock", CmdLock},
      {"btn_unlock", CmdUnlock},
      {"btn_set_anim", CmdSetAnim},
      {"btn_set_hit", CmdSetHit},
      {"btn_get_onmouse", CmdGetOnMouse},
      {"btn_anim_clear", CmdAnimClear},
      {"btn_get_offmouse", CmdGetOffMouse},
      {"btn_onmouse_clear", CmdOnMouseClear},
      {"system_btn_set", CmdSystemSet},
      {"system_btn_release", CmdSystemRelease},
      {"system_btn_enable", CmdSystemEnable},
  };
  command_bind_all(kCommands);
}
