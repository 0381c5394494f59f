#include "game_task.h"

#include <cstddef>
#include <cstdio>

#include "kiv.h"
#include "system_dat.h"

namespace {

// Ends the game because its data cannot be used, saying so where a player
// starting it from a terminal will see it.
void EndForData(const char* what) {
  std::fprintf(stderr, "Orvane: %s\n", what);
  game_exit_code() = 1;
  KivEnd();
}

}  // namespace

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
  if (!system_dat_load(g) && !system_dat_create(g)) {
    EndForData("the system data can be neither read nor created");
    return 0;
  }
  g->startFlag = 1;
  if (!game_initialize(&g->ctx)) return 0;
  KivTaskChangeNext(start_func_frame);
  return 1;
}

int start_func_frame(void* record) {
  game_task_frame(&static_cast<GameRecord*>(record)->ctx);
  return 1;
}

void start_func_release(void* record) {
  auto* g = static_cast<GameRecord*>(record);
  game_uninitialize(&g->ctx);
  // Only data that was loaded or created is written back: a game closed
  // before its first frame must not overwrite the player's file with zeros.
  if (g->startFlag) system_dat_save(g);
  system_dat_release(g);
}

int game_initialize(VmContext* ctx) {
  ctx->renderList = KivRenderInit();
  KivRenderSetActive(ctx->renderList);
  ctx->gameList = KivListCreate();
  return 1;
}

void game_uninitialize(VmContext* ctx) {
  if (ctx->gameList) {
    KivListRelease(ctx->gameList);
    ctx->gameList = nullptr;
  }
  if (ctx->renderList) {
    if (KivRenderGetActive() == ctx->renderList) KivRenderSetActive(nullptr);
    KivRenderUninit(ctx->renderList);
    ctx->renderList = nullptr;
  }
}

void game_task_frame(VmContext* ctx) {
  if (IsMovie()) return;
  frame_rate_update(ctx);
  ctx->keyPushLatch |= static_cast<uint32_t>(KivInputGetKeyPush());
  script_frame(ctx);
}

void script_frame(VmContext*) {}

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
  if (!g || !g->system.word[kSysAutosave]) return;
}
