// The save-menu commands: a slot's thumbnail, title, save text, date and
// time shown as a sprite of a layer, and the thumbnail made from an image.
#include <sys/stat.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/display_queue.h"
#include "layers/layers.h"
#include "layers/sprite_records.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "data/system_data.h"
#include "system/system_commands.h"
#include "text/text_layout.h"
#include "vm/vm.h"

namespace {

std::string Native(const std::string& path) {
  std::string n = plat::ResolveExisting(path);
  return n.empty() ? plat::NativePath(path) : n;
}

// The slot's path when its file exists; a missing file is logged at level 10.
bool SlotFile(int32_t slot, std::string* path) {
  *path = save_slot_path(slot);
  struct stat st;
  if (path->empty() || ::stat(Native(*path).c_str(), &st) != 0) {
    game_debug_puts(kDebugWindowCommand, "No SaveData. Therefore disregards");
    return false;
  }
  return true;
}

bool ReadAt(const std::string& path, uint64_t offset, void* out, size_t n) {
  plat::FileHandle f = plat::FileOpen(path, plat::kGenericRead, plat::kOpenExisting);
  if (f == plat::kInvalidFile) return false;
  const bool ok = plat::FileReadAt(f, offset, out, n);
  plat::FileClose(f);
  return ok;
}

bool SlotTime(const std::string& path, std::tm* out) {
  struct stat st;
  return ::stat(Native(path).c_str(), &st) == 0 && localtime_r(&st.st_mtime, out) != nullptr;
}

// The layer's sprite: the new pixels into the one it has, else a new record
// placed at (x, y) and hidden; then the layer is shown at the next run.
bool PlaceSprite(VmContext* ctx, uint32_t op, int32_t layer, int32_t x, int32_t y, KivSprite* made) {
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, layer);
  if (!r) {
    KivSpriteRelease(game_render_list(ctx), made);
    return false;
  }
  r->sprite = made;
  KivSpriteViewCtrl(made, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(made, &info);
  r->t.aX = x;
  r->t.aY = y;
  sprite_record_take_sprite_state(r, info, nullptr);
  r->imageOperand = 0;
  ctx->layers.layers[layer].record = r;
  sprite_transform_apply(ctx, r);
  display_queue_post_layer(ctx, op, layer);
  return true;
}

// Text in the save font (only its size for a title); the engine's font
// state comes back afterwards.
void ShowText(VmContext* ctx, uint32_t op, int32_t layer, int32_t x, int32_t y, const char* text, bool sizeOnly) {
  const SaveState& s = ctx->save;
  int colour = 0, edge = 0;
  KivFontGetColor(&colour, &edge);
  const int size = KivFontGetFontSize(), type = KivFontGetType(), effect = KivFontGetEffect();
  if (s.fontSize) KivFontSetFontSize(s.fontSize);
  if (!sizeOnly) {
    KivFontSetType(s.fontType);
    KivFontSetEffect(s.fontEffect);
    KivFontSetColor(static_cast<int>(s.fontColor), static_cast<int>(s.fontEdgeColor));
  }
  LayerRecord& l = ctx->layers.layers[layer];
  if (l.record && l.record->sprite) {
    if (!KivSpriteCreateTextEx(l.record->sprite, text, x, y, 0xFFFFFFFFu))
      game_debug_puts(kDebugWindowError, "sprite create error");
    display_queue_post_layer(ctx, op, layer);
  } else {
    if (l.record) layer_release(ctx, layer);
    // In front of every layer, so the menu's panels never cover it.
    KivSprite* made = KivSpriteCreateText(game_render_list(ctx), text, front_priority(ctx), 0xFFFFFFFFu);
    if (!made || !PlaceSprite(ctx, op, layer, x, y, made)) game_debug_puts(kDebugWindowError, "sprite create error");
  }
  KivFontSetFontSize(size);
  KivFontSetType(type);
  KivFontSetEffect(effect);
  KivFontSetColor(colour, edge);
}

int CmdThumbnailSet(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx), slot = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "thumbnail_set  %d, %d, %d, %d", layer, slot, x, y);
  std::string path;
  if (!layer_number_ok(layer) || !SlotFile(slot, &path)) return 1;
  uint8_t head[16];
  if (!ReadAt(path, kSaveOffThumbWidth, head, sizeof head)) {
    game_debug_log(kDebugWindowError, "ThumbnailSet error [%s]", path.c_str());
    return 1;
  }
  plat::ByteReader r(head);
  const int32_t w = r.I32(), h = r.I32();
  const uint32_t size = r.U32();
  const int32_t present = r.I32();
  // The file's own sizes, checked before they are used.
  if (!present || w <= 0 || h <= 0 || w > kSaveThumbMaxWidth || h > kSaveThumbMaxHeight ||
      uint64_t(w) * uint64_t(h) * 4 != size) {
    game_debug_log(kDebugWindowError, "ThumbnailSet error [%s]", path.c_str());
    return 1;
  }
  std::vector<uint8_t> pixels(size);
  if (!ReadAt(path, kSaveOffThumbPixels, pixels.data(), size)) {
    game_debug_log(kDebugWindowError, "ThumbnailSet error [%s]", path.c_str());
    return 1;
  }
  layer_release(ctx, layer);
  KivSprite* s = KivSpriteCreate(game_render_list(ctx), w, h, layer_priority(ctx, layer, nullptr));
  int sw = 0, sh = 0;
  uint32_t* dst = s ? KivSpriteLock(s, &sw, &sh) : nullptr;
  // The lock gives the surface's own size: the picture's, or on the GPU
  // renderer the power of two holding it (rows that far apart).
  if (!dst || sw < w || sh < h) {
    if (dst) KivSpriteUnlock(s);
    if (s) KivSpriteRelease(game_render_list(ctx), s);
    game_debug_puts(kDebugWindowError, "ThumbnailSet error : memory alocate");
    return 1;
  }
  plat::ByteReader px(pixels);
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col) dst[static_cast<size_t>(row) * sw + col] = px.U32();
  KivSpriteUnlock(s);
  PlaceSprite(ctx, kOpThumbnailSet, layer, x, y, s);
  return 1;
}

int CmdGetTitle(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx), slot = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "save_get_title  %d, %d, %d, %d", layer, slot, x, y);
  std::string path;
  if (!layer_number_ok(layer) || !SlotFile(slot, &path)) return 1;
  uint8_t word[4];
  if (!ReadAt(path, kSaveOffTitle, word, 4)) {
    game_debug_log(kDebugWindowError, "GetSaveTitle error [%s]", path.c_str());
    return 1;
  }
  // The operand is looked up through the checked table reader.
  uint8_t entry[4 + 261] = {};
  get_string_operand(ctx, plat::ByteReader(word).U32(), entry);
  ShowText(ctx, kOpSaveGetTitle, layer, x, y, string_operand_text(entry), true);
  return 1;
}

int CmdGetSaveText(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx), slot = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "get_save_text  %d, %d, %d, %d", layer, slot, x, y);
  std::string path;
  if (!layer_number_ok(layer) || !SlotFile(slot, &path)) return 1;
  char text[kSaveTextBytes + 1] = {};
  if (!ReadAt(path, kSaveOffText, text, kSaveTextBytes)) {
    game_debug_log(kDebugWindowError, "No SaveData. [%s]", path.c_str());
    return 1;
  }
  char wrapped[kTextBufferBytes] = {};
  const int size = ctx->save.fontSize ? ctx->save.fontSize : KivFontGetFontSize();
  text_wrap_plain(text, wrapped, ctx->save.textRectWidth, ctx->save.textRectHeight, size);
  ShowText(ctx, kOpGetSaveText, layer, x, y, wrapped, false);
  return 1;
}

int CmdSetSaveTime(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx), slot = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx), format = value_stack_pop(ctx);
  std::string path;
  if (!layer_number_ok(layer) || !SlotFile(slot, &path)) return 1;
  std::tm t{};
  if (!SlotTime(path, &t)) {
    game_debug_log(kDebugWindowError, "SetSaveTime error [%s]", path.c_str());
    return 1;
  }
  static const char* const kFormats[] = {"%02d:%02d:%02d", "%02d時%02d分%02d秒", "%02d:%02d", "%02d時%02d分"};
  const char* f = plat::Sjis(kFormats[format >= 0 && format < 4 ? format : 0]);
  char text[64];
  std::snprintf(text, sizeof text, f, t.tm_hour, t.tm_min, t.tm_sec);
  ShowText(ctx, kOpSetSaveTime, layer, x, y, text, false);
  return 1;
}

int CmdSetSaveDay(VmContext* ctx) {
  const int32_t layer = value_stack_pop(ctx), slot = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx), format = value_stack_pop(ctx);
  std::string path;
  if (!layer_number_ok(layer) || !SlotFile(slot, &path)) return 1;
  std::tm t{};
  if (!SlotTime(path, &t)) {
    game_debug_log(kDebugWindowError, "SetSaveDay error [%s]", path.c_str());
    return 1;
  }
  char text[64];
  save_day_text(t, format, text, sizeof text);
  ShowText(ctx, kOpSetSaveDay, layer, x, y, text, false);
  return 1;
}

// Mosaics are on for the menu's own flag and for the system data's "every
// thumbnail a mosaic" word (set_allmosaicthumbnail), as for the screen's.
bool MosaicOn(VmContext* ctx) { return ctx->save.mosaic || system_words(ctx)[kSysAllMosaicThumbnails] != 0; }

int CmdLoadThumbnail(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  if (operand == 0x0FFFFFFFu) return 1;
  uint8_t name[kFileRecordBytes + 1] = {};
  uint8_t raw[kFileRecordBytes];
  const bool named = get_record_operand(ctx, operand, raw, true);
  std::memcpy(name, raw, kFileRecordBytes);
  game_debug_log(kDebugWindowCommand, "load_thumbnail %s", reinterpret_cast<const char*>(name));
  SaveState& s = ctx->save;
  if (!s.thumbPixels || !s.thumbPresent) return 1;
  KivSprite* sprite =
      named ? sprite_load(game_render_list(ctx), reinterpret_cast<const char*>(name), 1280, 720, 0) : nullptr;
  int w = 0, h = 0;
  const uint32_t* px = sprite ? KivSpriteLock(sprite, &w, &h) : nullptr;
  bool made = false;
  if (px && w > 0 && h > 0) {
    // The picture's own size: on the GPU renderer the locked surface is the
    // power of two holding it, its rows w apart.
    KivSpriteInfo info{};
    int pw = w, ph = h;
    if (KivSpriteGetInfo(sprite, &info) && info.width > 0 && info.height > 0) {
      pw = std::min(w, static_cast<int>(info.width));
      ph = std::min(h, static_cast<int>(info.height));
    }
    std::vector<uint32_t> work(static_cast<size_t>(pw) * ph);
    for (int row = 0; row < ph; ++row)
      std::copy(px + static_cast<size_t>(row) * w, px + static_cast<size_t>(row) * w + pw,
                work.begin() + static_cast<ptrdiff_t>(row) * pw);
    KivSpriteUnlock(sprite);
    made = (MosaicOn(ctx) ? KivThumbnailCreateMosaicEx(s.thumbPixels, s.thumbWidth, s.thumbHeight, work.data(), pw, ph, 6)
                     : KivThumbnailCreateEx(s.thumbPixels, s.thumbWidth, s.thumbHeight, work.data(), pw, ph)) != 0;
  } else if (px) {
    KivSpriteUnlock(sprite);
  }
  if (sprite) KivSpriteRelease(game_render_list(ctx), sprite);
  if (!made) std::memset(s.thumbPixels, 0, s.thumbBytes);
  return 1;
}

}  // namespace

void save_day_text(const std::tm& t, int32_t format, char* out, size_t size) {
  static const char* const kDays[] = {"日", "月", "火", "水", "木", "金", "土"};
  const int year = t.tm_year + 1900;
  if (format == 1)
    std::snprintf(out, size, "%02d/%02d/%02d (%s)", year, t.tm_mon + 1, t.tm_mday,
                  plat::Sjis(kDays[((t.tm_wday % 7) + 7) % 7]));
  else
    std::snprintf(out, size, "%02d/%02d/%02d", year, t.tm_mon + 1, t.tm_mday);
}

void save_menu_commands_install() {
  static const CommandBinding kCommands[] = {
      {"thumbnail_set", CmdThumbnailSet}, {"save_get_title", CmdGetTitle}, {"SetSaveTime", CmdSetSaveTime},
      {"SetSaveDay", CmdSetSaveDay},      {"get_save_text", CmdGetSaveText}, {"load_thumbnail", CmdLoadThumbnail},
  };
  command_bind_all(kCommands);
}
