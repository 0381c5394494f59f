#include "start/game_task.h"

#include <cstdio>
#include <string>

#include "component_entries.h"
#include "data/graphic_table.h"
#include "kiv.h"
#include "data/save_folder.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "data/script_tables.h"
#include "data/system_dat.h"
#include "save/state_dump.h"
#include "vm/vm.h"

namespace {

void EndForData(const char* what) { game_end_for_data_error(what); }

}  // namespace

void game_end_for_data_error(const char* detail) {
  // On the terminal for a player who started it there, in a box for one
  // who started it from the desktop.
  std::fprintf(stderr, "Orvane: %s\n", detail);
  std::fflush(stderr);
  std::string text = std::string(plat::Sjis("データにエラーがあるため、ゲームを続けられません。\n")) + detail;
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis("実行エラー"), plat::kMbOk | plat::kMbIconError);
  game_exit_code() = 1;
  KivEnd();
}

int& game_exit_code() {
  static int code = 0;
  return code;
}

int start_func_create() {
  void* data = nullptr;
  KivTask* task = KivTaskCreate(start_func_first_frame, start_func_release, static_cast<int>(sizeof(GameRecord)),
                                &data, KIV_TASK_BEHIND, nullptr, "StartFunc");
  if (!data) return 0;
  KivTaskSetTaskData(task);
  return 1;
}

int start_func_first_frame(void* record) {
  auto* g = static_cast<GameRecord*>(record);
  if (!system_dat_load(g)) {
    // A file that is there but cannot be used is kept under another name,
    // never written over by the fresh one.
    if (plat::PathExists(save_path("system.dat")) && !system_dat_set_aside_and_tell()) {
      EndForData("the damaged system data could not be set aside");
      return 0;
    }
    if (!system_dat_create(g)) {
      EndForData("the system data can be neither read nor created");
      return 0;
    }
  }
  g->startFlag = 1;
  vm_context_attach(g);  // creating the system data zeroed the record
  if (!game_initialize(&g->ctx)) return 0;
  // For whoever watches the debugger output (a test waits on it): the
  // game has started to play.
  plat::DebugOutput("Orvane: the game runs");
  KivTaskChangeNext(start_func_frame);
  game_state_dump_frame(&g->ctx);
  return 1;
}

int start_func_frame(void* record) {
  game_task_frame(&static_cast<GameRecord*>(record)->ctx);
  game_state_dump_frame(&static_cast<GameRecord*>(record)->ctx);
  return 1;
}

void start_func_release(void* record) {
  auto* g = static_cast<GameRecord*>(record);
  // Only data that was loaded or created is written back: a game closed
  // before its first frame must not overwrite the player's file with zeros.
  // Written first, so the file is safe before anything is taken down.
  if (g->startFlag) system_dat_save(g);
  game_uninitialize(&g->ctx);
  system_dat_release(g);
}

int game_initialize(VmContext* ctx) {
  // Script.src, File.dat, Text.dat, Mem.dat, Point.dat, each failure with
  // its own line in debug window 0.
  if (!script_data_load(ctx)) {
    EndForData("the script or one of its tables could not be loaded");
    return 0;
  }
  if (!save_init(ctx)) {
    EndForData("saveload initialize error");
    return 0;
  }
  game_reset(ctx);
  graphic_dat_load(ctx);  // a game may have no graphic.dat
  ctx->renderList = KivRenderInit();
  KivRenderSetActive(ctx->renderList);
  ctx->gameList = KivListCreate();
  sub_voice_start(ctx);
  debug_data_register(ctx);
  return 1;
}

void game_uninitialize(VmContext* ctx) {
  text_reveal_task_free(ctx);
  text_release(ctx);
  text_window_reset_words(ctx);
  btn_release_all(ctx);
  se_release(ctx);
  bgm_release(ctx);
  voice_release(ctx);
  history_reset(ctx);  // the backlog page's sprites
  layer_release_all(ctx);
  select_release(ctx);
  if (ctx->gameList) {
    for (int key = 1; key <= 3; ++key)
      while (KivListGetDataCount(ctx->gameList, key) > 0)
        KivMemoryFree(reinterpret_cast<void*>(KivListPop(ctx->gameList, key)));
  }
  player_name_window_destroy(ctx);
  save_buffers_free(ctx);
  graphic_dat_free(ctx);
  script_free(ctx);
  if (ctx->gameList) {
    KivListRelease(ctx->gameList);
    ctx->gameList = nullptr;
  }
  if (ctx->renderList) {
    if (KivRenderGetActive() == ctx->renderList) KivRenderSetActive(nullptr);
    KivRenderUninit(ctx->renderList);
    ctx->renderList = nullptr;
  }
  data_tables_free(ctx);
}

void game_task_frame(VmContext* ctx) {
  if (key_message_poll(ctx)) {
    script_run(ctx);
    return;
  }
  if (IsMovie()) return;
  frame_rate_update(ctx);
  ctx->keyPushLatch |= static_cast<uint32_t>(KivInputGetKeyPush());
  sprite_records_frame_clear(ctx);
  script_frame(ctx);
  se_frame(ctx);
  bgm_frame(ctx);
  voice_frame(ctx);
  action_frame(ctx);
  motion_frame(ctx);
  sprite_transition_poll(ctx, 0);
  sprite_transform_frame(ctx);
}

void script_frame(VmContext* ctx) {
  if (effect_frame(ctx)) return;
  if (action_sync_running(ctx)) {
    if (KivEffectIs()) return;
    text_frame(ctx);
    return;
  }
  if (KivEffectIs()) return;
  if (ctx->pauseTimer.duration != 0 && KivtimeGetTime() - ctx->pauseTimer.start >= ctx->pauseTimer.duration)
    ctx->pauseTimer.duration = 0;
  if (script_thread_poll(ctx)) script_run(ctx);
  if (btn_frame(ctx)) {
    script_run(ctx);
    return;
  }
  if (system_btn_update(ctx)) {
    script_run(ctx);
    return;
  }
  script_run(ctx);
  text_frame(ctx);
}

void frame_rate_update(VmContext* ctx) {
  // Unpaced while skipping, while the wheel turns toward the player, while
  // Space, Enter or the left button is pushed without Alt, or Ctrl is held.
  constexpr int kSpaceEnterLeft = 0x800006, kAlt = 0x20, kCtrl = 0x8;
  bool fast = ctx->skipMode != 0 || KivInputGetWheel() > 0 ||
              ((KivInputGetKeyPush() & kSpaceEnterLeft) && !(KivInputGetKeyOn() & kAlt)) ||
              (KivInputGetKeyOn() & kCtrl);
  KivFrameRateSet(fast ? 0xFFFFFFFFu : 60u);
}

void continue_save_on_exit(void* record) {
  auto* g = static_cast<GameRecord*>(record);
  if (g && g->system.word[kSysAutosave]) continue_save_write(&g->ctx);
}
