// Group 11: full-window movies and movie sprites on layers. A movie layer is
// a layer 0..127 whose sprite has a movie. These commands ignore any other
// layer number (above 127 and negative alike) and go on.
#include <cstring>

#include "data/script_tables.h"
#include "layers/layers.h"
#include "layers/sprite_records.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

bool LayerInRange(int32_t layer) { return layer >= 0 && layer < kLayerCount; }

// The layer's movie sprite, or null.
KivSprite* MovieSprite(VmContext* ctx, int32_t layer) {
  if (!LayerInRange(layer)) return nullptr;
  const LayerRecord& l = ctx->layers.layers[layer];
  if (!l.record || !l.record->sprite || !KivMSpriteCheck(l.record->sprite)) return nullptr;
  return l.record->sprite;
}

int CmdMoviePlay(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  char name[kFileRecordBytes + 1];
  get_record_name(ctx, operand, name, true);
  if (!name[0] || !KivVideoPlay(name)) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%d]ムービーの再生に失敗。[%s]"), static_cast<int>(ctx->script.pc), name);
    return 0;
  }
  game_debug_log(kDebugWindowCommand, "movie_play  %s", name);
  command_yield(ctx);
  return 1;
}

int CmdMspSet(VmContext* ctx) {
  const int32_t name = value_stack_pop(ctx);
  const int32_t layer = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  const int32_t loop = value_stack_pop(ctx);
  if (!LayerInRange(layer)) return 1;
  // sp_set_ex pops name, layer, x, y: pushed in the reverse order.
  value_stack_push(ctx, y);
  value_stack_push(ctx, x);
  value_stack_push(ctx, layer);
  value_stack_push(ctx, name);
  if (!layer_cmd_sp_set_ex(ctx)) return 0;
  LayerRecord& l = ctx->layers.layers[layer];
  if (!l.record || !l.record->sprite) return 0;
  sprite_transform_apply(ctx, l.record);
  l.flags |= kLayerFlagMovie;
  l.movieLoop = loop;
  KivMSpritePlay(l.record->sprite, loop);
  game_debug_log(kDebugWindowCommand, "msp_set loop = %d", loop);
  return 1;
}

int CmdMspCls(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  // Only numbers above the layers are ignored: -1 clears every layer as
  // sp_cls -1 does, and sp_cls refuses the other negative ones.
  if (layer >= kLayerCount) return 1;
  game_debug_puts(kDebugWindowCommand, "msp_cls");
  value_stack_push(ctx, layer);
  return layer_cmd_sp_cls(ctx);
}

int CmdMspWait(VmContext* ctx) {
  command_yield(ctx);
  int32_t& word = ctx->layers.movieWait;
  if (word > 0) {
    // A layer emptied meanwhile (sp_cls, msp_cls) holds no movie to wait for.
    KivSprite* s = MovieSprite(ctx, word - 1);
    if (!s || (KivMSpriteGetState(s) & 4) || get_skip_state(ctx) != 0) {
      word = 0;
      return 1;
    }
    command_wait_again(ctx);
    return 1;
  }
  const int32_t layer = value_stack_pop(ctx);
  if (KivSprite* s = MovieSprite(ctx, layer)) {
    word = layer + 1;
    KivMSpriteSetLoop(s, 0);
    game_debug_log(kDebugWindowCommand, "msp_wait %d", layer);
    command_wait_again(ctx);
    return 1;
  }
  game_debug_log(kDebugWindowCommand, "not msp %d", layer);
  word = 0;
  return 1;
}

int CmdMspLock(VmContext* ctx) {
  if (KivSprite* s = MovieSprite(ctx, value_stack_pop(ctx))) KivMSpriteLock(s);
  return 1;
}

int CmdMspUnlock(VmContext* ctx) {
  if (KivSprite* s = MovieSprite(ctx, value_stack_pop(ctx))) KivMSpriteUnlock(s);
  return 1;
}

int CmdMspPlay(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  const int32_t loop = value_stack_pop(ctx);
  if (!LayerInRange(layer)) return 1;
  KivSprite* s = MovieSprite(ctx, layer);
  if (!s) {
    game_debug_puts(kDebugWindowCommand, plat::Sjis("msp_play : 初期化していないレイヤーを指定しました。"));
    return 1;
  }
  LayerRecord& l = ctx->layers.layers[layer];
  l.flags |= kLayerFlagMovie;
  l.movieLoop = loop;
  KivMSpritePlay(s, loop);
  game_debug_log(kDebugWindowCommand, "msp_play %d, %d", layer, loop);
  return 1;
}

int CmdMspStop(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx);
  if (KivSprite* s = MovieSprite(ctx, layer)) {
    KivMSpriteStop(s);
    game_debug_log(kDebugWindowCommand, "msp_stop %d", layer);
  }
  return 1;
}

}  // namespace

void movie_commands_install() {
  static const CommandBinding kCommands[] = {
      {"movie_play", CmdMoviePlay}, {"msp_set", CmdMspSet},       {"msp_cls", CmdMspCls},
      {"msp_wait", CmdMspWait},     {"msp_lock", CmdMspLock},     {"msp_unlock", CmdMspUnlock},
      {"msp_play", CmdMspPlay},     {"msp_stop", CmdMspStop},
  };
  command_bind_all(kCommands);
}
