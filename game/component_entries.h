// Entry points of game components that the machine and other components
// call (game reset, the restart of ret, the reset instruction, record
// operands, save blocks, per-frame steps and the installation of command
// handlers), gathered in one place so the machine's order of calls reads
// from one header. Each is defined in its component's own file.
#pragma once
#include <cstdint>
#include <span>

#include "choice/choices.h"  // select_release, select_save/restore, select_commands_install
#include "wait/waits.h"      // wait timers, the script thread and its save block

struct VmContext;
struct SpriteRecord;

// ---- Release and reset routines, in the order game_reset calls them ----
void motion_reset(VmContext* ctx);              // motions and curves
void fx_free(VmContext* ctx);                   // layer raster effects
void text_reveal_task_free(VmContext* ctx);     // message window: its reveal task, when present
void text_release(VmContext* ctx);              // message window: sprites and buffers
void text_window_reset_words(VmContext* ctx);   // message window: the words a reset sets
void btn_release_all(VmContext* ctx);           // button groups
void save_state_reset(VmContext* ctx);          // load-after -1, no snapshot, thumbnail present
void se_release(VmContext* ctx);                // sound effects
void bgm_release(VmContext* ctx);               // music
void voice_release(VmContext* ctx);             // voices
void layer_release_all(VmContext* ctx);         // graphic layers
void action_free(VmContext* ctx);               // action slots
void history_reset(VmContext* ctx);             // backlog: entries, count, no-history flag
void effect_release(VmContext* ctx);            // screen effects
void player_name_release(VmContext* ctx);       // player-name entry: window, sprites, button
void key_message_clear(VmContext* ctx);         // group 23's message word and table
void player_name_record_clear(VmContext* ctx);  // player-name objects record

// ---- Other routines the machine calls ----
int display_queue_apply(VmContext* ctx);          // applies the queued display operations (reset)
void system_btn_table_clear(VmContext* ctx);      // the 512-byte system-button table (restart)
void set_image_seen(VmContext* ctx, uint32_t record);  // image-seen flag of a File.dat record
void* se_debug_area(VmContext* ctx);              // sound-effect channel records (240 values)
void* bgm_debug_area(VmContext* ctx);             // bgm records (30 values)

// ---- Per-frame steps the game task calls (nonzero: an event ran or the
// frame's script work is done) ----
int key_message_poll(VmContext* ctx);        // key messages (group 23)
int effect_frame(VmContext* ctx);            // screen effects; nonzero while one runs
int action_sync_running(VmContext* ctx);     // an action slot in synchronous run (state 2)
int btn_frame(VmContext* ctx);               // button groups
int system_btn_update(VmContext* ctx);       // system buttons
void text_frame(VmContext* ctx);             // message window
void se_frame(VmContext* ctx);               // sound effects
void bgm_frame(VmContext* ctx);              // music
void voice_frame(VmContext* ctx);            // voices
void action_frame(VmContext* ctx);           // actions
void motion_frame(VmContext* ctx);           // motions
void sprite_records_frame_clear(VmContext* ctx);  // per-frame area of every sprite record
void sprite_transition_poll(VmContext* ctx, int layer);  // layer transitions
void sprite_transform_frame(VmContext* ctx);  // sums each sprite record into its engine sprite
void continue_save_write(VmContext* ctx);     // the latest snapshot into continue.dat
int save_init(VmContext* ctx);                // the save system's buffers
void save_buffers_free(VmContext* ctx);       // and their release
void sub_voice_start(VmContext* ctx);         // the sub-voice start values
void player_name_window_destroy(VmContext* ctx);  // the player-name edit window, when it exists

// ---- Save blocks of the components ----
// Each writes, reads or only checks (changing nothing) its component's
// block in the save file (the order is save_blocks(), save/save.h).
bool voice_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);       // pan table and sub voice: 404 bytes
bool voice_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool voice_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool btn_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);         // groups 0-3 (button/button_save.cpp)
bool btn_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool btn_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool player_name_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);  // name, two words: 40 bytes
bool player_name_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool player_name_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool text_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);        // message window: a zero word
bool text_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool text_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool history_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);     // backlog: 4 + 69,376 bytes
bool history_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool history_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool effect_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);      // screen effects: a zero word
bool effect_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool effect_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool fx_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);          // layer rasters: 0xFFFFFFFF
bool fx_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool fx_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);

// ---- Command handler installation, one per component that owns commands ----
void text_commands_install();             // group 2
void layer_image_commands_install();      // group 3 image members, group 11 movies
void layer_attribute_commands_install();  // group 3 attribute and composition members
void sound_commands_install();            // groups 4 (bgm) and 5 (se)
void button_commands_install();           // groups 8 (btn) and 12 (system_btn)
void system_commands_install();           // groups 9, 20 (math) and 23 (messages)
void save_commands_install();             // group 10
void voice_commands_install();            // group 13
void history_commands_install();          // group 14
void string_debug_commands_install();     // groups 15 (debug) and 18 (strings)
void effect_commands_install();           // groups 16 (effect) and 19 (fx)
void action_commands_install();           // group 17
void run_commands_install();              // group 22

// ---- What the graphic layers ask of other components ----
void fx_layer_release(VmContext* ctx, int layer);  // screen effects: the layer's Fx slot
// Motions: loads a motion file for the record (its motion slot set); 1/0.
int motion_load(VmContext* ctx, SpriteRecord* record, const char* name);
void motion_free(VmContext* ctx, int motion);   // frees one motion (0: none)
void motion_start(VmContext* ctx, int motion);  // (re)starts a motion when its layer's transition starts
// A shown sprite's motion not yet in state 3 goes to state 3 and steps once.
void motion_show(VmContext* ctx, int motion);
// Message window: whether face layers show (1 while its text shows, 0 after
// text_init), its own button group (-1: none), and the note that a queued
// batch was applied (clears the word its text commands set).
int text_face_visible(VmContext* ctx);
int text_button_group(VmContext* ctx);
void text_display_applied(VmContext* ctx);
// What the message window asks of other components:
// Backlog: a new entry 0 {name ("" none), text, voice ("" none)}, count + 1.
void history_line_add(VmContext* ctx, const char* name, const char* text, const char* voice);
// Voices: whether any of the 8 channels plays; stop the playing voice; the
// line's voice "%s.mix" as a group or the single voice (play 0: only check
// that its files can be read, as while skipping); a replay by name.
int voice_is_playing(VmContext* ctx);
void voice_stop(VmContext* ctx);
void voice_line_play(VmContext* ctx, const char* name, int play);
void voice_play_file(VmContext* ctx, const char* name, int flags, int fade_ms);  // no skip check
// Buttons: clear the fourth word of a group's record; its view follows the
// window; its current button enabled in cell 0 or disabled in cell 3; the
// system buttons' colour and with-window flag.
void btn_group_clear_word(VmContext* ctx, int group);
void btn_group_view(VmContext* ctx, int group, int visible);
void btn_group_current_set(VmContext* ctx, int group, int enabled, int cell);
void system_btn_window_follow(VmContext* ctx, int shown);
// System commands: the request that turns skip mode off (an unread line).
void skip_mode_off_request(VmContext* ctx);
// System buttons: the enabled word of system button index (0-31; any other
// index is refused). A waiting choice block turns button 6 off.
void system_btn_enabled_set(VmContext* ctx, int index, int enabled);
// Player name: the name the player entered (Shift-JIS, "" when none), which
// text expands for "/n".
const char* player_name_get(VmContext* ctx);
