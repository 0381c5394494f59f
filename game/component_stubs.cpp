// Empty stand-ins for the component entry points of component_stubs.h that
// are not written yet. Each does nothing (and returns "nothing there"), so
// the machine runs before its components exist; a component that lands
// deletes its stand-in here.
#include "component_stubs.h"
#include "effect/screen_effects.h"

void text_reveal_task_free(VmContext*) {}
void text_release(VmContext*) {}
void text_window_reset_words(VmContext*) {}
void btn_release_all(VmContext*) {}
void save_state_reset(VmContext*) {}
void voice_release(VmContext*) {}
void select_release(VmContext*) {}
void history_reset(VmContext*) {}
void script_thread_clear(VmContext*) {}
void player_name_release(VmContext*) {}
void wait_timers_clear(VmContext*) {}
void key_message_clear(VmContext*) {}
void player_name_record_clear(VmContext*) {}
void system_btn_table_clear(VmContext*) {}
void text_commands_install() {}
void select_commands_install() {}
void wait_thread_commands_install() {}
void button_commands_install() {}
void system_commands_install() {}
void save_commands_install() {}
void voice_commands_install() {}
void history_commands_install() {}
void string_debug_commands_install() {}

// ---- Per-frame steps ----
int key_message_poll(VmContext*) { return 0; }
int script_thread_poll(VmContext*) { return 0; }
int btn_frame(VmContext*) { return 0; }
int system_btn_update(VmContext*) { return 0; }
void text_frame(VmContext*) {}
void voice_frame(VmContext*) {}
void continue_save_write(VmContext*) {}
int save_init(VmContext*) { return 1; }
void save_buffers_free(VmContext*) {}
void sub_voice_start(VmContext*) {}
void player_name_window_destroy(VmContext*) {}

// ---- What the graphic layers ask of other components ----
int text_face_visible(VmContext*) { return 0; }
int text_button_group(VmContext*) { return -1; }
void text_display_applied(VmContext*) {}
const char* player_name_get(VmContext*) { return ""; }

// ---- What the screen effects ask of other components ----
SpriteRecord* text_window_record(VmContext*) { return nullptr; }

