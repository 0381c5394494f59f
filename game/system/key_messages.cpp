// Key messages and the message routine (group 23), and the per-frame poll
// that posts the window-mode message and enters the routine.
#include "system/key_messages.h"

#include <cstring>

#include "component_entries.h"
#include "kiv.h"
#include "platform/core/text_encoding.h"
#include "system/system_commands.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

KeyMessageState& Block(VmContext* ctx) { return ctx->keyMessages; }

// Whether the window is in windowed mode: the system data's window-mode word.
uint32_t WindowedParameter(VmContext* ctx) {
  return system_words(ctx)[kSysWindowMode] == 0 ? 1u : 0u;
}

int CmdCreateMessage(VmContext* ctx) {
  const auto label = static_cast<uint32_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "create_message  %d", static_cast<int32_t>(label));
  // The label is checked before anything changes: a label that Point.dat
  // does not hold, or whose target lies outside the code, installs nothing
  // and leaves the block as it was.
  uint32_t offset = 0;
  if (label != 0 && !label_code_offset(ctx, label, &offset)) {
    game_debug_log(kDebugWindowError, "create_message : label %u refused", label);
    return 0;
  }
  KeyMessageState& b = Block(ctx);
  std::memset(&b, 0, sizeof b);
  b.routine = offset;
  return 1;
}

int CmdGetMessage(VmContext* ctx) {
  KeyMessageState& b = Block(ctx);
  int32_t found = -1;
  for (int i = 0; i < kKeyMessageSlots; ++i)
    if (b.messages[i].code != 0) {
      found = i;
      b.messages[i].code = 0;  // the parameter stays for get_message_param
      break;
    }
  command_set_result(ctx, found);
  game_debug_log(kDebugWindowCommand, "get_message  0x%04X", static_cast<uint32_t>(found));
  return 1;
}

int CmdGetMessageParam(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  int32_t value = 0;
  if (index_in(slot, kKeyMessageSlots, "get_message_param slot"))
    value = static_cast<int32_t>(Block(ctx).messages[slot].parameter);
  command_set_result(ctx, value);
  game_debug_log(kDebugWindowCommand, "get_message_param  0x%08X", static_cast<uint32_t>(value));
  return 1;
}

}  // namespace

void message_post(VmContext* ctx, int slot, uint32_t parameter) {
  if (!index_in(slot, kKeyMessageSlots, "message slot")) return;
  KeyMessageState& b = Block(ctx);
  b.messages[slot] = KeyMessage{1, parameter};
  b.pending = 1;
}

// An unread line met while skipping: the same request a refused skip posts.
void skip_mode_off_request(VmContext* ctx) { message_post(ctx, kKeyMessageSkipRefused, 0); }

int key_message_poll(VmContext* ctx) {
  KeyMessageState& b = Block(ctx);
  const auto keys = static_cast<uint32_t>(KivInputGetKeyEx());
  if (keys & 0x8u) message_post(ctx, kKeyMessageWindowMode, WindowedParameter(ctx));
  if (b.routine == 0 || !b.pending) return 0;
  uint32_t target;
  if (!code_offset_pc(ctx, b.routine, &target)) {
    // Checked when installed; a script loaded since may be shorter.
    game_debug_log(kDebugWindowError, "message routine %u outside the code", b.routine);
    return 0;
  }
  // Without its return point the routine's ret would restart the game:
  // the message stays pending and the routine is entered on a later frame.
  if (!return_point_push(ctx, kGameListReturnPoints, ctx->script.pc, kReturnKindKeyMessage)) {
    game_error_log(plat::Sjis("[%d]メモリ不足発生"), static_cast<int32_t>(ctx->script.pc));
    game_debug_puts(kDebugWindowError, "key message: no return point, the message stays pending");
    return 0;
  }
  ctx->script.pc = target;
  b.pending = 0;
  return 1;
}

void key_message_clear(VmContext* ctx) {
  KeyMessageState& b = Block(ctx);
  const uint32_t routine = b.routine;
  std::memset(&b, 0, sizeof b);
  b.routine = routine;
}

void key_message_commands_install() {
  static const CommandBinding kCommands[] = {
      {"create_message", CmdCreateMessage},
      {"get_message", CmdGetMessage},
      {"get_message_param", CmdGetMessageParam},
  };
  command_bind_all(kCommands);
}
