// The command tables: names and argument counts of every command group, in
// slot order. Argument counts are the fixed arguments a handler pops (the
// script pushes them last to first).
#include "vm/command_tables.h"

#include <iterator>

namespace {

// Group 2 (text).
constexpr CommandInfo kText[] = {
    {"text_init", 2, 0, 8},
    {"text_set_icon", 2, 1, 4},
    {"text", 2, 2, 4},
    {"text_hide", 2, 3, 1},
    {"_text_show", 2, 4, 1},
    {"text_set_btn", 2, 5, 1},
    {"text_uninit", 2, 6, 0},
    {"text_set_rect", 2, 7, 5},
    {"text_clear", 2, 8, 0},
    {"text_set_time", 2, 9, 1},
    {"text_get_time", 2, 10, 0},
    {"text_window_set_alpha", 2, 11, 2},
    {"text_voice_play", 2, 12, 1},
    {"text_reveal_finish", 2, 13, 0},
    {"text_set_icon_animation_time", 2, 14, 2},
    {"text_w", 2, 15, 4},
    {"text_a", 2, 16, 3},
    {"text_wa", 2, 17, 3},
    {"_text_n", 2, 18, 4},
    {"text_cat", 2, 19, 4},
    {"set_history", 2, 20, 3},
    {"is_text_visible", 2, 21, 0},
    {"text_set_base", 2, 22, 4},
    {"enable_voice_cut", 2, 23, 1},
    {"is_voice_cut", 2, 24, 0},
    {"text_caption_start", 2, 25, 5},
    {"text_caption_stop", 2, 26, 0},
    {"text_caption_redraw", 2, 27, 0},
    {"text_set_color", 2, 28, 4},
    {"text_redraw", 2, 29, 0},
    {"set_text_mode", 2, 30, 1},
    {"text_init_visualnovelmode", 2, 31, 4},
    {"text_set_icon_mode", 2, 32, 1},
    {"text_vn_br", 2, 33, 0},
};

// Group 3 (sprite).
constexpr CommandInfo kSprite[] = {
    {nullptr, 3, 0, 0},  // hole
    {nullptr, 3, 1, 0},  // hole
    {"sp_set", 3, 2, 4},
    {"sp_set_ex", 3, 3, 4},
    {"sp_set_pos", 3, 4, 2},
    {"sp_cls", 3, 5, 1},
    {"sp_set_alpha", 3, 6, 2},
    {"set_priority", 3, 7, 1},
    {nullptr, 3, 8, 0},  // hole
    {nullptr, 3, 9, 0},  // hole
    {nullptr, 3, 10, 0},  // hole
    {"sp_cls_ex", 3, 11, 2},
    {"set_filter", 3, 12, 2},
    {"sp_cls_transition", 3, 13, 3},
    {"sp_set_pos_ex", 3, 14, 3},
    {nullptr, 3, 15, 0},  // hole
    {"sp_set_render_mode", 3, 16, 2},
    {"sp_set_scale", 3, 17, 2},
    {"sp_set_rotate", 3, 18, 4},
    {"face_init", 3, 19, 5},
    {"face_set", 3, 20, 4},
    {"sp_get_color", 3, 21, 1},
    {"sp_text", 3, 22, 4},
    {"face_cls", 3, 23, 1},
    {"sp_set_rect", 3, 24, 5},
    {"sp_set_pos_move", 3, 25, 3},
    {"sp_get_alpha", 3, 26, 1},
    {"sp_get_rotate", 3, 27, 2},
    {"sp_get_pos", 3, 28, 3},
    {"sp_get_cell_width", 3, 29, 1},
    {"sp_get_cell_height", 3, 30, 1},
    {"sp_mix_file_to_sprite", 3, 31, 9},
    {"sp_create", 3, 32, 6},
    {"sp_anim_clear", 3, 33, 1},
    {"sp_set_value", 3, 34, 2},
    {"sp_get_value", 3, 35, 1},
    {"sp_get_scale", 3, 36, 1},
    {"sp_set_color", 3, 37, 2},
    {"sp_bitblt", 3, 38, 9},
    {"sp_set_shake", 3, 39, 4},
    {"sp_paint", 3, 40, 2},
    {"sp_load", 3, 41, 3},
    {"sp_load_wait", 3, 42, 1},
    {"sp_draw", 3, 43, 1},
    {"sp_lock", 3, 44, 1},
    {"sp_unlock", 3, 45, 1},
    {"sp_show", 3, 46, 1},
    {"sp_hide", 3, 47, 1},
    {"is_sp", 3, 48, 1},
    {"sp_set_child", 3, 49, 5},
    {"sp_set_transition", 3, 50, 4},
    {"sp_copy_image", 3, 51, 1},
    {"sp_transition", 3, 52, 3},
    {"set_aspect_position_type", 3, 53, 2},
    {"get_backbuffer", 3, 54, 1},
};

// Group 4 (bgm).
constexpr CommandInfo kBgm[] = {
    {"bgm_play", 4, 0, 7},
    {"bgm_stop", 4, 1, 2},
    {"bgm_set_volume", 4, 2, 1},
    {"bgm_get_volume", 4, 3, 0},
    {nullptr, 4, 4, 0},  // hole
    {"bgm_set_volume_users", 4, 5, 3},
    {"bgm_set_auto_volume", 4, 6, 2},
    {"bgm_pause", 4, 7, 0},
    {"get_bgm_filename", 4, 8, 1},
    {"bgm_load", 4, 9, 5},
    {"bgm_play2", 4, 10, 3},
};

// Group 5 (se).
constexpr CommandInfo kSe[] = {
    {"se_load", 5, 0, 3},
    {"se_play", 5, 1, 3},
    {"se_play_ex", 5, 2, 5},
    {"se_stop", 5, 3, 3},
    {"se_set_volume", 5, 4, 2},
    {"se_get_volume", 5, 5, 1},
    {"se_unload", 5, 6, 1},
    {"se_wait", 5, 7, 1},
    {"set_se_info", 5, 8, 4},
    {"get_se_ex_volume", 5, 9, 1},
    {"set_se_ex_volume", 5, 10, 2},
    {"se_enable", 5, 11, 2},
    {"is_se_enable", 5, 12, 1},
    {"se_set_pan", 5, 13, 1},
};

// Group 6 (select).
constexpr CommandInfo kSelect[] = {
    {"select_init", 6, 0, 4},
    {"select", 6, 1, 0},
    {"select_next", 6, 2, 6},
    {"end_select", 6, 3, 0},
    {"select_clear", 6, 4, 0},
    {"select_set_offset", 6, 5, 2},
    {"select_lock", 6, 6, 1},
};

// Group 7 (wait).
constexpr CommandInfo kWait[] = {
    {"wait", 7, 0, 2},
    {"wait_click", 7, 1, 1},
    {"wait_sync_begin", 7, 2, 0},
    {"wait_sync_release", 7, 3, 1},
    {"wait_sync_end", 7, 4, 0},
    {"wait_frame", 7, 5, 0},
    {"wait_clear", 7, 6, 0},
    {"wait_click_no_anim", 7, 7, 1},
    {"wait_sync_get_time", 7, 8, 0},
    {"wait_time_push", 7, 9, 0},
    {"wait_time_pop", 7, 10, 0},
};

// Group 8 (btn).
constexpr CommandInfo kBtn[] = {
    {"btn_init", 8, 0, 3},
    {"btn_uninit", 8, 1, 1},
    {nullptr, 8, 2, 0},  // hole
    {"btn_set", 8, 3, 7},
    {"btn_hide", 8, 4, 2},
    {"btn_show", 8, 5, 2},
    {"btn_set_pos", 8, 6, 4},
    {"btn_set_rect", 8, 7, 6},
    {"btn_release", 8, 8, 2},
    {"btn_drag", 8, 9, 5},
    {"btn_set_drag", 8, 10, 5},
    {"btn_drag_begin", 8, 11, 1},
    {"btn_drag_wait", 8, 12, 1},
    {"btn_set_toggle", 8, 13, 3},
    {"btn_get_pos", 8, 14, 4},
    {"btn_enable", 8, 15, 3},
    {"btn_set_alpha", 8, 16, 3},
    {"btn_get_push", 8, 17, 1},
    {"btn_expansion", 8, 18, 3},
    {"btn_lock", 8, 19, 2},
    {"btn_unlock", 8, 20, 1},
    {"btn_set_anim", 8, 21, 3},
    {"btn_set_hit", 8, 22, 2},
    {"btn_get_onmouse", 8, 23, 1},
    {"btn_anim_clear", 8, 24, 2},
    {"btn_get_offmouse", 8, 25, 1},
    {"btn_onmouse_clear", 8, 26, 1},
};

// Group 9 (system).
constexpr CommandInfo kSystem[] = {
    {"set_skip_mode", 9, 0, 1},
    {"get_skip_mode", 9, 1, 0},
    {"set_auto_mode", 9, 2, 1},
    {"get_auto_mode", 9, 3, 0},
    {"auto_set_time", 9, 4, 1},
    {"auto_get_time", 9, 5, 0},
    {"change_window_mode", 9, 6, 1},
    {"set_skip_unread", 9, 7, 1},
    {"set_effect_enable", 9, 8, 1},
    {"get_window_mode", 9, 9, 0},
    {"get_skip_unread", 9, 10, 0},
    {"is_effect_enable", 9, 11, 0},
    {"get_mouse_pos", 9, 12, 2},
    {"get_local_time", 9, 13, 3},
    {"clear_user_memory", 9, 14, 0},
    {"load_font", 9, 15, 1},
    {"unload_font", 9, 16, 0},
    {"set_font_type", 9, 17, 1},
    {"key_canncel", 9, 18, 2},
    {"set_font_color", 9, 19, 2},
    {"load_font_ex", 9, 20, 1},
    {"memory_push", 9, 21, 0},
    {"memory_pop", 9, 22, 0},
    {"lpush", 9, 23, 1},
    {"lpop", 9, 24, 1},
    {"clear_key_latch", 9, 25, 0},
    {"get_key_latch", 9, 26, 0},
    {"set_font_size", 9, 27, 1},
    {"get_font_size", 9, 28, 0},
    {"get_font_type", 9, 29, 0},
    {"set_font_effect", 9, 30, 1},
    {"get_font_effect", 9, 31, 0},
    {"get_pull_key", 9, 32, 0},
    {"get_on_key", 9, 33, 0},
    {"get_push_key", 9, 34, 0},
    {"input_clear", 9, 35, 0},
    {"change_window_size", 9, 36, 2},
    {"change_aspect_mode", 9, 37, 1},
    {"aspect_position_enable", 9, 38, 1},
    {"is_aspect_position_enable", 9, 39, 0},
    {"get_aspect_mode", 9, 40, 0},
    {"get_monitor_size", 9, 41, 2},
    {"get_window_pos", 9, 42, 2},
    {"get_system_metrics", 9, 43, 1},
    {"set_system_path", 9, 44, 1},
    {"set_allmosaicthumbnail", 9, 45, 1},
    {"enable_window_change", 9, 46, 1},
    {"is_enable_window_change", 9, 47, 0},
};

// Group 10 (save).
constexpr CommandInfo kSave[] = {
    {"save", 10, 0, 2},
    {"load", 10, 1, 1},
    {"save_set_title", 10, 2, 1},
    {"GetSaveTime", 10, 3, 4},
    {"save_set_thumbnail_size", 10, 4, 2},
    {"thumbnail_set", 10, 5, 4},
    {"save_get_title", 10, 6, 4},
    {"save_set_font_size", 10, 7, 1},
    {"GetSaveDay", 10, 8, 5},
    {"save_is", 10, 9, 1},
    {"save_get_usermemory", 10, 10, 2},
    {"save_point", 10, 11, 0},
    {"save_thumbnail_mosaic_set", 10, 12, 1},
    {"SetSaveTime", 10, 13, 5},
    {"SetSaveDay", 10, 14, 5},
    {"save_set_text_rect", 10, 15, 2},
    {"get_save_text", 10, 16, 4},
    {"get_new_savefile", 10, 17, 0},
    {"autosave_enable", 10, 18, 1},
    {"is_autosave", 10, 19, 0},
    {"autosave_load", 10, 20, 0},
    {"save_set_text", 10, 21, 1},
    {"thumbnail_renew", 10, 22, 0},
    {"save_set_font_type", 10, 23, 1},
    {"set_load_after_process", 10, 24, 1},
    {"save_system_data", 10, 25, 0},
    {"save_set_font_effect", 10, 26, 1},
    {"save_set_font_color", 10, 27, 2},
    {"delete_file", 10, 28, 1},
    {"move_file", 10, 29, 2},
    {"copy_file", 10, 30, 2},
    {"load_thumbnail", 10, 31, 1},
};

// Group 11 (movie).
constexpr CommandInfo kMovie[] = {
    {"movie_play", 11, 0, 1},
    {"msp_set", 11, 1, 5},
    {"msp_cls", 11, 2, 1},
    {"msp_wait", 11, 3, 1},
    {"msp_lock", 11, 4, 1},
    {"msp_unlock", 11, 5, 1},
    {"msp_play", 11, 6, 2},
    {"msp_stop", 11, 7, 1},
};

// Group 12 (system_btn).
constexpr CommandInfo kSystemBtn[] = {
    {"system_btn_set", 12, 0, 3},
    {"system_btn_release", 12, 1, 1},
    {"system_btn_enable", 12, 2, 2},
};

// Group 13 (voice).
constexpr CommandInfo kVoice[] = {
    {"voice_play", 13, 0, 3},
    {"voice_stop", 13, 1, 2},
    {"voice_set_volume", 13, 2, 1},
    {"voice_get_volume", 13, 3, 0},
    {"set_voice_info", 13, 4, 4},
    {"voice_enable", 13, 5, 3},
    {"is_voice_enable", 13, 6, 1},
    {"voice_ex_volume_enable", 13, 7, 1},
    {"sub_voice_play", 13, 8, 3},
    {"sub_voice_stop", 13, 9, 3},
    {"sub_voice_enable", 13, 10, 2},
    {"get_voice_ex_volume", 13, 11, 1},
    {"set_voice_ex_volume", 13, 12, 3},
    {"voice_check_enable", 13, 13, 1},
    {"voice_autopan_initialize", 13, 14, 1},
    {"voice_autopan_enable", 13, 15, 1},
    {"set_voice_autopan", 13, 16, 4},
    {"is_voice_autopan_enable", 13, 17, 0},
};

// Group 14 (history).
constexpr CommandInfo kHistory[] = {
    {"history_init", 14, 0, 9},
    {"history_begin", 14, 1, 0},
    {"history_end", 14, 2, 0},
    {"history_get_count", 14, 3, 0},
    {"history_scroll", 14, 4, 1},
    {"history_get_height", 14, 5, 0},
    {"history_update", 14, 6, 0},
    {"history_get_position", 14, 7, 0},
    {"history_get_last_page", 14, 8, 0},
    {"history_get_rows", 14, 9, 0},
    {"history_set_rect", 14, 10, 4},
    {"history_clear", 14, 11, 0},
    {"history_set", 14, 12, 1},
};

// Group 15 (debug).
constexpr CommandInfo kDebug[] = {
    {"debug_print", 15, 0, 1},
    {"messagebox", 15, 1, 1},
    {"debug_set_window_title", 15, 2, 1},
    {"image_seen_fill", 15, 3, 0},
    {"debug_output", 15, 4, 8},
    {"debug_window_set_state", 15, 5, 1},
    {"debug_window_get_state", 15, 6, 0},
    {"base_register_get", 15, 7, 0},
};

// Group 16 (effect).
constexpr CommandInfo kEffect[] = {
    {"effect_stop", 16, 0, 2},
    {"shake", 16, 1, 4},
    {"flush", 16, 2, 4},
    {"snow", 16, 3, 4},
    {"sakura", 16, 4, 4},
    {"raster", 16, 5, 4},
};

// Group 17 (action).
constexpr CommandInfo kAction[] = {
    {"action_run", 17, 0, 2},
    {"action_sync_run", 17, 1, 2},
    {"action_loop_run", 17, 2, 2},
    {"action_clear", 17, 3, 1},
    {"action_sync_wait", 17, 4, 1},
    {"action_move", 17, 5, 5},
    {"action_move_grid", 17, 6, 5},
    {"action_shake", 17, 7, 5},
    {"action_alpha", 17, 8, 4},
    {"action_wait", 17, 9, 2},
    {"action_rotate", 17, 10, 6},
    {"action_scale", 17, 11, 4},
    {"action_push", 17, 12, 0},
    {"action_pop", 17, 13, 0},
    {"action_move_curve2", 17, 14, 5},
    {"action_move_curve1", 17, 15, 5},
    {"action_se", 17, 16, 5},
    {"action_swing", 17, 17, 6},
    {"action_cell", 17, 18, 5},
    {"action_rect", 17, 19, 7},
    {"action_scale_curve", 17, 20, 5},
    {"action_rotate_curve", 17, 21, 7},
    {"action_get_step", 17, 22, 1},
    {"set_active_action", 17, 23, 1},
    {"get_active_action", 17, 24, 0},
    {"action_run_all", 17, 25, 1},
    {"action_sync_run_all", 17, 26, 1},
    {"action_loop_run_all", 17, 27, 1},
    {"action_clear_all", 17, 28, 0},
    {"action_move_curve3", 17, 29, 5},
    {"set_action_clear", 17, 30, 1},
};

// Group 18 (string).
constexpr CommandInfo kString[] = {
    {"set_playername", 18, 0, 2},
    {"app_exec", 18, 1, 1},
    {"is_playername", 18, 2, 0},
    {"strstrf", 18, 3, 2},
    {"strcatf", 18, 4, 2},
    {"strgetcf", 18, 5, 3},
    {"string", 18, 6, 1},
    {"strcpyf", 18, 7, 3},
    {"file_exist", 18, 8, 1},
    {"wsprint", 18, 9, 10},
    {nullptr, 18, 10, 0},  // hole
    {"is_debug", 18, 11, 0},
    {"is_image_seen", 18, 12, 8},
    {"image_seen_set", 18, 13, 1},
    {"image_seen_clear", 18, 14, 1},
    {"ret_one", 18, 15, 0},
    {"set_window_title", 18, 16, 1},
    {"end", 18, 17, 0},
    {"strreplace", 18, 18, 3},
};

// Group 19 (fx).
constexpr CommandInfo kFx[] = {
    {"fx_effect_cls", 19, 0, 1},
    {"fx_raster_stop", 19, 1, 2},
    {"fx_effect_wait", 19, 2, 1},
    {"fx_raster_start", 19, 3, 4},
};

// Group 20 (math).
constexpr CommandInfo kMath[] = {
    {"random", 20, 0, 2},
    {"abs", 20, 1, 1},
};

// Group 21 (thread).
constexpr CommandInfo kThread[] = {
    {"create_thread", 21, 0, 1},
    {"clear_thread", 21, 1, 0},
    {"enable_thread", 21, 2, 1},
};

// Group 22 (run).
constexpr CommandInfo kRun[] = {
    {"run", 22, 0, 3},
    {"run_no_wait", 22, 1, 0},
};

// Group 23 (message).
constexpr CommandInfo kMessage[] = {
    {"create_message", 23, 0, 1},
    {"get_message", 23, 1, 0},
    {"get_message_param", 23, 2, 1},
};

constexpr CommandGroupInfo kGroups[kCommandGroupCount] = {
    {nullptr, 0, 0, nullptr},
    {"core", 1, 0, nullptr},
    {"text", 2, std::size(kText), kText},
    {"sprite", 3, std::size(kSprite), kSprite},
    {"bgm", 4, std::size(kBgm), kBgm},
    {"se", 5, std::size(kSe), kSe},
    {"select", 6, std::size(kSelect), kSelect},
    {"wait", 7, std::size(kWait), kWait},
    {"btn", 8, std::size(kBtn), kBtn},
    {"system", 9, std::size(kSystem), kSystem},
    {"save", 10, std::size(kSave), kSave},
    {"movie", 11, std::size(kMovie), kMovie},
    {"system_btn", 12, std::size(kSystemBtn), kSystemBtn},
    {"voice", 13, std::size(kVoice), kVoice},
    {"history", 14, std::size(kHistory), kHistory},
    {"debug", 15, std::size(kDebug), kDebug},
    {"effect", 16, std::size(kEffect), kEffect},
    {"action", 17, std::size(kAction), kAction},
    {"string", 18, std::size(kString), kString},
    {"fx", 19, std::size(kFx), kFx},
    {"math", 20, std::size(kMath), kMath},
    {"thread", 21, std::size(kThread), kThread},
    {"run", 22, std::size(kRun), kRun},
    {"message", 23, std::size(kMessage), kMessage},
};

// Every entry sits in the slot its index names, in its own group.
template <size_t N>
constexpr bool InSlotOrder(const CommandInfo (&table)[N], uint16_t group) {
  for (size_t i = 0; i < N; ++i)
    if (table[i].index != i || table[i].group != group) return false;
  return true;
}
static_assert(InSlotOrder(kText, 2));
static_assert(InSlotOrder(kSprite, 3));
static_assert(InSlotOrder(kBgm, 4));
static_assert(InSlotOrder(kSe, 5));
static_assert(InSlotOrder(kSelect, 6));
static_assert(InSlotOrder(kWait, 7));
static_assert(InSlotOrder(kBtn, 8));
static_assert(InSlotOrder(kSystem, 9));
static_assert(InSlotOrder(kSave, 10));
static_assert(InSlotOrder(kMovie, 11));
static_assert(InSlotOrder(kSystemBtn, 12));
static_assert(InSlotOrder(kVoice, 13));
static_assert(InSlotOrder(kHistory, 14));
static_assert(InSlotOrder(kDebug, 15));
static_assert(InSlotOrder(kEffect, 16));
static_assert(InSlotOrder(kAction, 17));
static_assert(InSlotOrder(kString, 18));
static_assert(InSlotOrder(kFx, 19));
static_assert(InSlotOrder(kMath, 20));
static_assert(InSlotOrder(kThread, 21));
static_assert(InSlotOrder(kRun, 22));
static_assert(InSlotOrder(kMessage, 23));

// Slot counts, holes included.
static_assert(std::size(kText) == 34);
static_assert(std::size(kSprite) == 55);
static_assert(std::size(kBgm) == 11);
static_assert(std::size(kSe) == 14);
static_assert(std::size(kSelect) == 7);
static_assert(std::size(kWait) == 11);
static_assert(std::size(kBtn) == 27);
static_assert(std::size(kSystem) == 48);
static_assert(std::size(kSave) == 32);
static_assert(std::size(kMovie) == 8);
static_assert(std::size(kSystemBtn) == 3);
static_assert(std::size(kVoice) == 18);
static_assert(std::size(kHistory) == 13);
static_assert(std::size(kDebug) == 8);
static_assert(std::size(kEffect) == 6);
static_assert(std::size(kAction) == 31);
static_assert(std::size(kString) == 19);
static_assert(std::size(kFx) == 4);
static_assert(std::size(kMath) == 2);
static_assert(std::size(kThread) == 3);
static_assert(std::size(kRun) == 2);
static_assert(std::size(kMessage) == 3);

}  // namespace

const CommandGroupInfo* command_group_info(uint32_t group) {
  return group < kCommandGroupCount ? &kGroups[group] : nullptr;
}

const CommandInfo* command_info(uint32_t word) {
  uint32_t group = word >> 16, index = word & 0xFFFF;
  if (group < 2 || group >= kCommandGroupCount) return nullptr;
  const CommandGroupInfo& g = kGroups[group];
  if (index >= g.slots || !g.commands[index].name) return nullptr;
  return &g.commands[index];
}

const CommandInfo* command_find(std::string_view name) {
  std::string_view group_name;
  if (size_t dot = name.find('.'); dot != std::string_view::npos) {
    group_name = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  for (uint32_t group = 2; group < kCommandGroupCount; ++group) {
    const CommandGroupInfo& g = kGroups[group];
    if (!group_name.empty() && group_name != g.name) continue;
    for (uint32_t i = 0; i < g.slots; ++i)
      if (g.commands[i].name && name == g.commands[i].name) return &g.commands[i];
  }
  return nullptr;
}

std::span<const CommandGroupInfo> command_groups() { return std::span(kGroups).subspan(2); }
