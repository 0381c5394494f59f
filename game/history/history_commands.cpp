// The backlog commands (group 14).
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "history/history.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

HistoryState& H(VmContext* ctx) { return ctx->history; }

int CmdHistoryInit(VmContext* ctx) {
  HistoryState& h = H(ctx);
  int32_t v[9];
  for (int32_t& x : v) x = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "history_init %d, %d, %d, %d, %d, %d, %d, 0x%x, 0x%x", v[0], v[1], v[2], v[3],
                 v[4], v[5], v[6], static_cast<unsigned>(v[7]), static_cast<unsigned>(v[8]));
  h.nameX = v[0];
  h.nameY = v[1];
  h.textX = v[2];
  h.textY = v[3];
  h.iconX = v[4];
  h.iconY = v[5];
  h.spacing = v[6];
  h.normalColour = static_cast<uint32_t>(v[7]) | 0xFF000000u;
  h.hoverColour = static_cast<uint32_t>(v[8]) | 0xFF000000u;
  std::memset(h.entries, 0, sizeof h.entries);  // the count stays
  h.iconSet = 0;
  std::memset(h.iconImage, 0, sizeof h.iconImage);
  return 1;
}

int CmdHistoryBegin(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "history_begin");
  return history_begin(ctx);
}

int CmdHistoryEnd(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "history_end");
  history_end(ctx);
  return 1;
}

int CmdHistoryGetCount(VmContext* ctx) {
  command_set_result(ctx, H(ctx).count);
  return 1;
}

int CmdHistoryScroll(VmContext* ctx) {
  const int32_t position = value_stack_pop(ctx);
  if (position < 0) {
    game_debug_log(kDebugWindowError, "history_scroll : position error [%d]", position);
    return 0;
  }
  // Only an open page has rows to rebuild.
  if (H(ctx).highlight && position != H(ctx).position) history_page_build(ctx, position);
  return 1;
}

int CmdHistoryGetHeight(VmContext* ctx) {
  game_debug_log(kDebugWindowCommand, "[%d] history_get_height", H(ctx).height);
  command_set_result(ctx, H(ctx).height);
  return 1;
}

int CmdHistoryUpdate(VmContext* ctx) {
  history_update(ctx);
  command_set_result(ctx, 1);
  return 1;
}

int CmdHistoryGetPosition(VmContext* ctx) {
  command_set_result(ctx, H(ctx).position);
  return 1;
}

int CmdHistoryGetLastPage(VmContext* ctx) {
  command_set_result(ctx, H(ctx).lastPage);
  return 1;
}

int CmdHistoryGetRows(VmContext* ctx) {
  command_set_result(ctx, H(ctx).rows);
  return 1;
}

int CmdHistorySetRect(VmContext* ctx) {
  KivRect& r = H(ctx).rect;
  r.left = value_stack_pop(ctx);
  r.top = value_stack_pop(ctx);
  r.right = value_stack_pop(ctx);
  r.bottom = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "history_set_rect %d, %d, %d, %d", r.left, r.top, r.right, r.bottom);
  return 1;
}

int CmdHistoryClear(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "history_clear");
  HistoryState& h = H(ctx);
  std::memset(h.entries, 0, sizeof h.entries);
  h.count = 0;
  ctx->text.noHistory = 0;
  return 1;
}

int CmdHistorySet(VmContext* ctx) {
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  HistoryState& h = H(ctx);
  uint8_t raw[kFileRecordBytes];
  if (!get_record_operand(ctx, image, raw, true)) return 0;
  std::memcpy(h.iconImage, raw, sizeof h.iconImage);
  h.iconImage[sizeof h.iconImage - 1] = 0;
  h.iconSet = 1;
  game_debug_log(kDebugWindowCommand, "history_set %s", h.iconImage);
  return 1;
}

}  // namespace

void history_commands_install() {
  static const CommandBinding kCommands[] = {
      {"history_init", CmdHistoryInit},
      {"history_begin", CmdHistoryBegin},
      {"history_end", CmdHistoryEnd},
      {"history_get_count", CmdHistoryGetCount},
      {"history_scroll", CmdHistoryScroll},
      {"history_get_height", CmdHistoryGetHeight},
      {"history_update", CmdHistoryUpdate},
      {"history_get_position", CmdHistoryGetPosition},
      {"history_get_last_page", CmdHistoryGetLastPage},
      {"history_get_rows", CmdHistoryGetRows},
      {"history_set_rect", CmdHistorySetRect},
      {"history_clear", CmdHistoryClear},
      {"history_set", CmdHistorySet},
  };
  command_bind_all(kCommands);
}
