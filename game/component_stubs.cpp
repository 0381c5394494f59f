// Empty stand-ins for the component entry points of component_stubs.h that
// are not written yet. Each does nothing (and returns "nothing there"), so
// the machine runs before its components exist; a component that lands
// deletes its stand-in here.
#include "component_stubs.h"

void fx_free(VmContext*) {}
void btn_release_all(VmContext*) {}
void save_state_reset(VmContext*) {}
void voice_release(VmContext*) {}
void select_release(VmContext*) {}
void history_reset(VmContext*) {}
void script_thread_clear(VmContext*) {}
void effect_release(VmContext*) {}
void player_name_release(VmContext*) {}
void wait_timers_clear(VmContext*) {}
void key_message_clear(VmContext*) {}
void player_name_record_clear(VmContext*) {}
void system_btn_table_clear(VmContext*) {}
void layer_attribute_commands_install() {}
void select_commands_install() {}
void wait_thread_commands_install() {}
void button_commands_install() {}
void system_commands_install() {}
void save_commands_install() {}
void voice_commands_install() {}
void history_commands_install() {}
void string_debug_commands_install() {}
void effect_commands_install() {}

// ---- Per-frame steps ----
int key_message_poll(VmContext*) { return 0; }
int effect_frame(VmContext*) { return 0; }
int script_thread_poll(VmContext*) { return 0; }
int btn_frame(VmContext*) { return 0; }
int system_btn_update(VmContext*) { return 0; }
void voice_frame(VmContext*) {}
void continue_save_write(VmContext*) {}
int save_init(VmContext*) { return 1; }
void save_buffers_free(VmContext*) {}
void sub_voice_start(VmContext*) {}
void player_name_window_destroy(VmContext*) {}

// ---- What the graphic layers ask of other components ----
void fx_layer_release(VmContext*, int) {}
const char* player_name_get(VmContext*) { return ""; }

// What the message window asks of the save system, voices, the backlog,
// buttons, system commands and actions.
void save_snapshot_take(VmContext*, uint32_t) {}
void save_text_set(VmContext*, const char*) {}
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
