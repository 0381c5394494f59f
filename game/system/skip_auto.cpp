// Skip and auto mode: the switches, the click-wait icon of each mode and
// the rows of the message window's skip and auto buttons.
#include <cstdint>

#include "button/buttons.h"
#include "component_entries.h"
#include "kiv.h"
#include "start/game_debug_log.h"
#include "system/key_messages.h"
#include "system/system_commands.h"
#include "text/message_window.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

const SystemButtonHooks kButtonHooks = {btn_expansion_value, btn_item_set_row};
const SystemButtonHooks* g_buttons = &kButtonHooks;

// btn_expansion's kinds that name the window group's skip and auto buttons.
constexpr int kExpansionSkip = 1;
constexpr int kExpansionAuto = 2;

void ShowIcon(VmContext* ctx, uint32_t slot, bool on) {
  if (slot >= static_cast<uint32_t>(kTextIconSlots)) return;
  const SpriteRecord* r = ctx->text.icons[slot].record;
  if (r && r->sprite) KivSpriteViewCtrl(r->sprite, on ? 1 : 0);  // a missing icon is skipped
}

// Hides the current icon and makes slot current: icon 0 shows while a
// shown window waits for a click, the skip and auto icons whenever the
// window is shown.
void SwapIcon(VmContext* ctx, uint32_t slot) {
  MessageWindow& w = ctx->text;
  ShowIcon(ctx, w.currentIcon, false);
  w.currentIcon = slot;
  const bool show = w.visible != 0 && (slot != 0 || (w.stateFlags & kTextWaiting) != 0);
  if (show) ShowIcon(ctx, slot, true);
}

// Moves the window group's button of that expansion kind to its row.
void ButtonRow(VmContext* ctx, int kind, int32_t mode) {
  const uint16_t group = ctx->text.buttonGroup;
  if (group == 0xFFFF) return;
  if (!index_in(group, kButtonGroupCount, "message window button group")) return;
  const int item = g_buttons->expansion(ctx, group, kind);
  if (item == -1) return;
  if (!index_in(item, kButtonsPerGroup, "skip/auto button item")) return;
  if (!g_buttons->itemRow(ctx, group, item, static_cast<int>(static_cast<uint32_t>(mode) * 3u)))
    game_debug_log(kDebugWindowError, "skip/auto button %d of group %d has no sprite", item, group);
}

int CmdSetSkipMode(VmContext* ctx) {
  set_skip_mode(ctx, value_stack_pop(ctx));
  return 1;
}
int CmdGetSkipMode(VmContext* ctx) {
  command_set_result(ctx, ctx->skipMode);
  return 1;
}
int CmdSetAutoMode(VmContext* ctx) {
  set_auto_mode(ctx, value_stack_pop(ctx));
  return 1;
}
int CmdGetAutoMode(VmContext* ctx) {
  command_set_result(ctx, ctx->autoMode);
  return 1;
}

}  // namespace

void system_button_hooks_set(const SystemButtonHooks* hooks) { g_buttons = hooks ? hooks : &kButtonHooks; }

void set_skip_mode(VmContext* ctx, int32_t on) {
  if (on != 0 && system_words(ctx)[kSysSkipUnread] == 0 && ctx->text.read == 0) {
    // Skipping an unread line is not allowed: the game is told, skip stays off.
    message_post(ctx, kKeyMessageSkipRefused, 0);
    return;
  }
  ctx->skipMode = static_cast<uint8_t>(on);
  SwapIcon(ctx, ctx->skipMode ? 1 : 0);
  ButtonRow(ctx, kExpansionSkip, ctx->skipMode);
}

void set_auto_mode(VmContext* ctx, int32_t on) {
  ctx->autoMode = on;
  SwapIcon(ctx, on ? 2 : 0);
  ButtonRow(ctx, kExpansionAuto, on);
}

void skip_auto_commands_install() {
  static const CommandBinding kCommands[] = {
      {"set_skip_mode", CmdSetSkipMode},
      {"get_skip_mode", CmdGetSkipMode},
      {"set_auto_mode", CmdSetAutoMode},
      {"get_auto_mode", CmdGetAutoMode},
  };
  command_bind_all(kCommands);
}
