// Empty stand-ins for the component entry points of component_stubs.h that
// are not written yet. Each does nothing (and returns "nothing there"), so
// the machine runs before its components exist; a component that lands
// deletes its stand-in here.
#include "component_stubs.h"
#include "effect/screen_effects.h"

#include <cstring>

#include "platform/core/byte_io.h"
#include "save/save.h"
#include "start/game_debug_log.h"

void btn_release_all(VmContext*) {}
void voice_release(VmContext*) {}
void history_reset(VmContext*) {}
void player_name_release(VmContext*) {}
void key_message_clear(VmContext*) {}
void player_name_record_clear(VmContext*) {}
void system_btn_table_clear(VmContext*) {}
void button_commands_install() {}
void system_commands_install() {}
void voice_commands_install() {}
void history_commands_install() {}
void string_debug_commands_install() {}

// ---- Per-frame steps ----
int key_message_poll(VmContext*) { return 0; }
int btn_frame(VmContext*) { return 0; }
int system_btn_update(VmContext*) { return 0; }
void voice_frame(VmContext*) {}
void sub_voice_start(VmContext*) {}
void player_name_window_destroy(VmContext*) {}

// ---- What the graphic layers ask of other components ----
const char* player_name_get(VmContext*) { return ""; }

// What the message window asks of voices, the backlog, buttons and system
// commands.
void history_line_add(VmContext*, const char*, const char*, const char*) {}
int voice_playing_any(VmContext*) { return 0; }
void voice_stop(VmContext*) {}
void voice_line_play(VmContext*, const char*, int) {}
void voice_play_file(VmContext*, const char*, int, int) {}
void btn_group_clear_word(VmContext*, int) {}
void btn_group_view(VmContext*, int, int) {}
void btn_group_current_set(VmContext*, int, int, int) {}
void system_btn_window_follow(VmContext*, int) {}
void skip_mode_off_request(VmContext*) {}
void system_btn_enabled_set(VmContext*, int, int) {}

// ---- Save blocks in their empty form ----
namespace {
bool AppendZeros(std::span<uint8_t> buffer, uint32_t* used, size_t n) {
  static const uint8_t kZeros[69380] = {};
  return save_block_append(buffer, used, kZeros, n);
}
// Steps over a fixed-size block whose content no component reads yet.
bool SkipFixed(std::span<const uint8_t> data, uint32_t* cursor, size_t n, const char* what) {
  if (*cursor > data.size() || n > data.size() - *cursor) {
    game_debug_log(kDebugWindowError, "load error : %s block short", what);
    return false;
  }
  *cursor += static_cast<uint32_t>(n);
  return true;
}
}  // namespace

bool voice_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 404); }
bool voice_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) { return SkipFixed(d, c, 404, "voice"); }
bool player_name_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 40); }
bool player_name_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) {
  return SkipFixed(d, c, 40, "player name");
}
bool history_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 4 + 128 * 542); }
bool history_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) {
  return SkipFixed(d, c, 4 + 128 * 542, "backlog");
}
bool btn_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 16); }
bool btn_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) {
  // Only uninitialised groups can be stepped over without the buttons.
  if (!SkipFixed(d, c, 0, "button")) return false;
  plat::ByteReader r(d.subspan(*c));
  for (int g = 0; g < 4; ++g)
    if (r.U32() != 0 || !r.ok()) {
      game_debug_log(kDebugWindowError, "load error : button block %d", g);
      return false;
    }
  *c += 16;
  return true;
}
