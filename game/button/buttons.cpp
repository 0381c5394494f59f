// The per-frame polls of the button groups and the system buttons, the
// routines they enter, and what the message window and the display queue
// ask of the buttons.
#include "button/buttons.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "layers/sprite_records.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/checked_index.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kPauseEvent = 50;   // ms after an on, off or system-button event
constexpr uint32_t kPauseClick = 100;  // ms after a click

// Logical key bits of the input masks.
constexpr uint32_t kKeyEsc = 1u << 0;
constexpr int kKeyUpBit = 7;  // Up, Down, Left, Right: bits 7-10
constexpr int kKeyF1Bit = 11;  // F1-F12: bits 11-22
constexpr uint32_t kKeyLeftButton = 1u << 23;
constexpr uint32_t kKeyRightButton = 1u << 24;

// Buttons react for a moment only once the routine has run; while the
// player skips or reads automatically there is no pause.
void Pause(VmContext* ctx, uint32_t ms) {
  if (get_skip_state(ctx) != 0) return;
  ctx->pauseTimer.start = KivtimeGetTime();
  ctx->pauseTimer.duration = ms;
}

int IndexOf(const ButtonGroup& g, const ButtonEntry* e) { return static_cast<int>(e - g.entries); }

// The entry whose sprite is s, searched from the last index down.
ButtonEntry* FindEntry(ButtonGroup& g, const KivSprite* s) {
  if (!s) return nullptr;
  for (int i = kButtonsPerGroup - 1; i >= 0; --i)
    if (g.entries[i].record && g.entries[i].record->sprite == s) return &g.entries[i];
  return nullptr;
}

void ClearHover(ButtonGroup& g) {
  g.hovered = nullptr;
}

// Pending input of the message window: a press or a click answered here
// must not also advance the text.
void TakeInput(VmContext* ctx) { text_input_clear(ctx); }

// One group's poll; true when it had a press or a click.
bool PollGroup(VmContext* ctx, int gi) {
  ButtonGroup& g = ctx->buttons.groups[gi];
  if (g.locked) {
    if (g.lockTime != 0 && KivtimeGetTime() - g.lockStart >= g.lockTime) g.locked = 0;
    return false;  // the frame the lock ends is still skipped
  }
  KivButtonState state{};
  KivSprite* clicked = KivButtonGetReaction(g.engine, &state);
  if (state.pressed) {
    // The click is reported once its sound has ended; meanwhile the
    // message window must not take the press as its own.
    KivInputClear();
    return true;
  }
  if (clicked) {
    if (ButtonEntry* e = FindEntry(g, clicked)) {
      const int index = IndexOf(g, e);
      game_debug_log(kDebugWindowCommand, "click btn[%d][%d] [%u] ret / %u", gi, index, e->click, ctx->script.pc);
      // A button without a click routine enters nothing; the click still
      // counts for btn_get_push and the pause.
      if (e->click) btn_enter_routine(ctx, e->click, kReturnKindButton);
      g.lastClicked = index;
      Pause(ctx, kPauseClick);
    }
    // Entered after the click routine, the off routine runs first.
    if (ButtonEntry* h = g.hovered) {
      ClearHover(g);
      btn_event_post(ctx, gi, h);
    }
    return true;
  }
  if (state.hovered) {
    if (g.hovered) {
      if (g.hovered->record && g.hovered->record->sprite == state.hovered) return false;
      // From one button straight onto another: this one's off now, the
      // other's on on a later frame.
      ButtonEntry* h = g.hovered;
      ClearHover(g);
      btn_event_post(ctx, gi, h);
      Pause(ctx, kPauseEvent);
      return false;
    }
    ButtonEntry* e = FindEntry(g, state.hovered);
    if (!e || !e->on) return false;  // without an on routine it never becomes the hovered one
    const int index = IndexOf(g, e);
    game_debug_log(kDebugWindowCommand, "on btn[%d][%d] [%u] ret / %u", gi, index, e->on, ctx->script.pc);
    btn_enter_routine(ctx, e->on, kReturnKindGosub);
    g.lastOn = index;
    g.hovered = e;
    g.hoverSnapshot = KivSpriteInfo{};
    KivSpriteGetInfo(e->record->sprite, &g.hoverSnapshot);
    Pause(ctx, kPauseEvent);
    return false;
  }
  if (g.hovered && g.hovered->record && g.hovered->record->sprite) {
    ButtonEntry* h = g.hovered;
    ClearHover(g);
    btn_event_post(ctx, gi, h);
    Pause(ctx, kPauseEvent);
  }
  return false;
}

// Whether system button i's trigger holds this poll.
bool Fires(int i, uint32_t keys) {
  if (i == 0) return (keys & kKeyRightButton) != 0;
  if (i == 1 || i == 2) {
    const auto wheel = static_cast<int16_t>(KivInputGetWheel());
    return i == 1 ? wheel < 0 : wheel > 0;
  }
  if (i == 3) return (keys & kKeyLeftButton) != 0;
  if (i <= 15) return (keys & (1u << (kKeyF1Bit + i - 4))) != 0;
  if (i == 16) return (keys & kKeyEsc) != 0;
  if (i <= 20) return (keys & (1u << (kKeyUpBit + i - 17))) != 0;
  return true;  // 21-31 have no key: they fire on every poll
}

void ReleaseGroupNow(VmContext* ctx, ButtonGroup& g) {
  for (ButtonEntry& e : g.entries)
    if (e.record) sprite_record_release(ctx, e.record);
  if (g.engine) KivButtonRelease(g.engine);
  std::memset(static_cast<void*>(&g), 0, sizeof g);
  std::fill(std::begin(g.expansion), std::end(g.expansion), -1);
}

}  // namespace

void btn_enter_routine(VmContext* ctx, uint32_t offset, uint32_t kind) {
  uint32_t pc;
  if (!code_offset_pc(ctx, offset, &pc)) {
    game_debug_log(kDebugWindowError, "button routine %u outside the code", offset);
    return;
  }
  if (!return_point_push(ctx, kGameListReturnPoints, ctx->script.pc, kind))
    game_debug_log(kDebugWindowError, plat::Sjis("[%d]メモリ不足発生"), static_cast<int>(ctx->script.pc));
  ctx->script.pc = pc;
}

void btn_event_post(VmContext* ctx, int group, ButtonEntry* entry) {
  if (!entry || !index_in(group, kButtonGroupCount, "btn group")) return;
  ButtonGroup& g = ctx->buttons.groups[group];
  g.lastOff = IndexOf(g, entry);
  if (!entry->off) return;
  game_debug_log(kDebugWindowCommand, "off btn[%u] ret / %u", entry->off, ctx->script.pc);
  btn_enter_routine(ctx, entry->off, kReturnKindGosub);
}

int btn_frame(VmContext* ctx) {
  if (ctx->pauseTimer.duration != 0) return 0;
  bool activity = false;
  for (int gi = 0; gi < kButtonGroupCount; ++gi) {
    if (!ctx->buttons.groups[gi].initialised) continue;
    activity |= PollGroup(ctx, gi);
  }
  if (activity) TakeInput(ctx);
  return activity ? 1 : 0;
}

int system_btn_update(VmContext* ctx) {
  if (ctx->pauseTimer.duration != 0) return 0;
  const auto push = static_cast<uint32_t>(KivInputGetKeyPush());
  const auto repeat = static_cast<uint32_t>(KivInputGetKeyOnEx());
  for (int i = 0; i < kSystemButtonCount; ++i) {
    const SystemButton& b = ctx->buttons.system[i];
    if (!b.inUse || !b.enabled) continue;
    if (!Fires(i, push | (repeat & b.repeatMask))) continue;
    if (b.routine == 0) return 0;  // the first that fires ends the poll, routine or not
    game_debug_log(kDebugWindowCommand, "system btn[%u] ret / %u", b.routine, ctx->script.pc);
    btn_enter_routine(ctx, b.routine, kReturnKindButton);
    Pause(ctx, kPauseEvent);
    KivInputClear();
    TakeInput(ctx);
    return 1;
  }
  return 0;
}

void btn_release_all(VmContext* ctx) {
  // Every group, initialised or not: a button must never outlive a reset.
  for (ButtonGroup& g : ctx->buttons.groups) ReleaseGroupNow(ctx, g);
}

void system_btn_table_clear(VmContext* ctx) {
  std::memset(static_cast<void*>(ctx->buttons.system), 0, sizeof ctx->buttons.system);
}

int btn_view_follow(VmContext* ctx, int group, int index, int visible) {
  if (!index_in(group, kButtonGroupCount, "btn_view_follow group")) return 0;
  ButtonGroup& g = ctx->buttons.groups[group];
  if (index == -1) {
    for (ButtonEntry& e : g.entries)
      if (e.record && e.record->sprite) KivSpriteViewCtrl(e.record->sprite, visible);
    return 1;
  }
  if (!index_in(index, kButtonsPerGroup, "btn_view_follow index")) return 0;
  ButtonEntry& e = g.entries[index];
  if (e.record && e.record->sprite) KivSpriteViewCtrl(e.record->sprite, visible);
  return 1;
}

KivButton* btn_group_handle(VmContext* ctx, int group) {
  if (!index_in(group, kButtonGroupCount, "btn group")) return nullptr;
  return ctx->buttons.groups[group].engine;
}

KivSprite* btn_item_sprite(VmContext* ctx, int group, int index) {
  if (!index_in(group, kButtonGroupCount, "btn group") || !index_in(index, kButtonsPerGroup, "btn index"))
    return nullptr;
  const SpriteRecord* r = ctx->buttons.groups[group].entries[index].record;
  return r ? r->sprite : nullptr;
}

int32_t btn_expansion_value(VmContext* ctx, int group, int kind) {
  if (!index_in(group, kButtonGroupCount, "btn group")) return -1;
  const ButtonGroup& g = ctx->buttons.groups[group];
  if (!g.initialised) return -1;
  const int slot = btn_expansion_slot(kind);
  if (slot >= 0) return g.expansion[slot];
  game_debug_log(kDebugWindowError, "btn expansion kind %d out of range", kind);
  return -1;
}

void system_btn_enabled_set(VmContext* ctx, int index, int enabled) {
  if (!index_in(index, kSystemButtonCount, "system button")) return;
  ctx->buttons.system[index].enabled = enabled;
}

int btn_item_set_row(VmContext* ctx, int group, int item, int base) {
  KivButton* engine = btn_group_handle(ctx, group);
  KivSprite* sprite = btn_item_sprite(ctx, group, item);
  if (!engine || !sprite || !ctx->buttons.groups[group].initialised) return 0;
  KivButtonSetPos(engine, sprite, base);
  return 1;
}

void btn_toggle_apply(VmContext* ctx, uint32_t group, uint32_t index, uint32_t state) {
  if (!index_in(group, kButtonGroupCount, "btn_set_toggle group") ||
      !index_in(index, kButtonsPerGroup, "btn_set_toggle index"))
    return;
  ButtonGroup& g = ctx->buttons.groups[group];
  const SpriteRecord* r = g.entries[index].record;
  if (!r || !r->sprite) return;
  // Rows 3n, 3n+1, 3n+2 are state n's idle, hover and pressed cells.
  const int64_t row = std::clamp<int64_t>(int64_t{static_cast<int32_t>(state)} * 3, 0, INT32_MAX);
  KivButtonSetPos(g.engine, r->sprite, static_cast<int>(row));
}

// ---- What the message window asks of its button group ----

void btn_group_clear_word(VmContext* ctx, int group) {
  // The group record's fourth word, its lock time.
  if (index_in(group, kButtonGroupCount, "btn group")) ctx->buttons.groups[group].lockTime = 0;
}

void btn_group_view(VmContext* ctx, int group, int visible) { btn_view_follow(ctx, group, -1, visible); }

void btn_group_current_set(VmContext* ctx, int group, int enabled, int cell) {
  // The group's current button is the one clicked last.
  if (!index_in(group, kButtonGroupCount, "btn group")) return;
  ButtonGroup& g = ctx->buttons.groups[group];
  if (!index_in(g.lastClicked, kButtonsPerGroup, "btn index")) return;
  const SpriteRecord* r = g.entries[g.lastClicked].record;
  if (!g.engine || !r || !r->sprite) return;
  KivButtonCtrl(g.engine, r->sprite, enabled);
  KivButtonSetPos(g.engine, r->sprite, cell);
}

void system_btn_window_follow(VmContext*, int) {
  // System buttons are key bindings without sprites: nothing follows the
  // window.
}
