// The dispatch tables of the call instruction: one handler slot per command
// of groups 2..23, filled at start by each component's install routine.
// A slot left empty behaves as a hole: the call fails and the run loop logs
// its internal-error line.
#include <mutex>

#include "vm/command_tables.h"
#include "component_entries.h"
#include "start/game_debug_log.h"
#include "kiv.h"
#include "vm/vm.h"

namespace {

constexpr int kMaxSlots = 64;  // the largest group has 55
CommandHandler g_handlers[kCommandGroupCount][kMaxSlots];

// group 18 index 17: the script ends the program, as the core end does.
int CmdEnd(VmContext* ctx) {
  KivEnd();
  command_yield(ctx);
  return 1;
}

}  // namespace

CommandHandler command_handler(uint32_t word) {
  const uint32_t group = word >> 16, index = word & 0xFFFF;
  if (group >= kCommandGroupCount || index >= kMaxSlots) return nullptr;
  return g_handlers[group][index];
}

bool command_bind_word(uint32_t word, CommandHandler handler) {
  const CommandInfo* info = command_info(word);
  if (!info) {
    game_debug_log(kDebugWindowError, "command bind: no command 0x%08X", word);
    return false;
  }
  static_assert(kMaxSlots >= 55);
  g_handlers[info->group][info->index] = handler;
  return true;
}

bool command_bind(std::string_view name, CommandHandler handler) {
  const CommandInfo* info = command_find(name);
  if (!info) {
    game_debug_log(kDebugWindowError, "command bind: no command named %.*s", static_cast<int>(name.size()),
                   name.data());
    return false;
  }
  return command_bind_word(command_word(info->group, info->index), handler);
}

bool command_bind_all(std::span<const CommandBinding> bindings) {
  bool all = true;
  for (const CommandBinding& b : bindings) all = command_bind(b.name, b.handler) && all;
  return all;
}

void vm_commands_install() {
  static std::once_flag once;
  std::call_once(once, [] {
    command_bind("string.end", CmdEnd);
    text_commands_install();
    layer_image_commands_install();
    layer_attribute_commands_install();
    sound_commands_install();
    select_commands_install();
    wait_thread_commands_install();
    button_commands_install();
    system_commands_install();
    save_commands_install();
    voice_commands_install();
    history_commands_install();
    string_debug_commands_install();
    effect_commands_install();
    action_commands_install();
    run_commands_install();
  });
}
