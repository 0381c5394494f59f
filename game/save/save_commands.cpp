// Group 10: saving, loading, slot files and the save settings.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "component_entries.h"
#include "data/save_folder.h"
#include "data/script_tables.h"
#include "data/system_dat.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "start/program_identity.h"
#include "text/text_layout.h"
#include "vm/checked_index.h"
#include "vm/vm.h"


void save_menu_commands_install();  // save_menu.cpp

namespace {

// The system data record, when this context is the game's.
int32_t* SystemWords(VmContext* ctx) {
  GameRecord* g = game_record();
  return g && &g->ctx == ctx ? g->system.word : nullptr;
}
int32_t SystemWord(VmContext* ctx, int word) {
  const int32_t* w = SystemWords(ctx);
  return w ? w[word] : 0;
}
void SetSystemWord(VmContext* ctx, int word, int32_t value) {
  if (int32_t* w = SystemWords(ctx)) w[word] = value;
}

std::string Native(const std::string& path) {
  std::string n = plat::ResolveExisting(path);
  return n.empty() ? plat::NativePath(path) : n;
}
bool SlotExists(int slot) {
  const std::string p = save_slot_path(slot);
  struct stat st;
  return !p.empty() && ::stat(Native(p).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
// The slot file's last-write time in local time.
bool SlotTime(int slot, std::tm* out) {
  const std::string p = save_slot_path(slot);
  struct stat st;
  if (p.empty() || ::stat(Native(p).c_str(), &st) != 0) return false;
  return localtime_r(&st.st_mtime, out) != nullptr;
}
// A temporary-area cell named by a script index; null (logged) outside it.
int32_t* TempCell(VmContext* ctx, int32_t index) {
  return index_in(index, kTempAreaWords, "temporary area cell") ? &ctx->tempArea[index] : nullptr;
}
void SetTemp(VmContext* ctx, int32_t index, int32_t value) {
  if (int32_t* c = TempCell(ctx, index)) *c = value;
}

// ---- Saving and loading ----

int CmdSave(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const int32_t mark = value_stack_pop(ctx);
  if (slot == -1) {
    if (SystemWord(ctx, kSysAutosave)) save_file_write(ctx, save_slot_path(-1).c_str());
    return 1;
  }
  if (static_cast<uint32_t>(slot) >= kSaveSlotCount) {
    game_debug_log(kDebugWindowError, "caution : save file no [%d]", slot);
    return 0;
  }
  const std::string path = save_slot_path(slot);
  game_debug_log(kDebugWindowCommand, "save  %s", path.c_str());
  // The newest slot moves only when the file was written.
  if (save_file_write(ctx, path.c_str()) && mark) SetSystemWord(ctx, kSysNewestSlot, slot);
  return 1;
}

// The load of `load` and `autosave_load`: the game changes only when the
// whole file is sound; a refused file leaves it running after the command,
// exactly as it was.
void LoadSlot(VmContext* ctx, int slot) {
  const std::string path = save_slot_path(slot);
  if (path.empty()) {
    game_debug_log(kDebugWindowError, "load error : slot %d", slot);
    return;
  }
  if (!SlotExists(slot)) {
    game_debug_log(kDebugWindowError, "load error [%s]", path.c_str());
    return;
  }
  // A file that is there but cannot be loaded is the player's to know of;
  // the game, the screen, the music and the file itself stay as they were.
  if (!save_file_read(ctx, path.c_str())) {
    plat::MessageBox(nullptr, plat::Sjis("セーブデータが壊れているため、ロードできませんでした。"),
                     program_identity().productName.c_str(), plat::kMbOk | plat::kMbIconWarning);
    return;
  }
  save_snapshot_build(ctx, ctx->script.pc);
  ctx->pauseTimer = {KivtimeGetTime(), 100};
  if (ctx->save.loadAfter == -1) {
    command_yield(ctx);
    if (slot == -1) ::unlink(Native(path).c_str());
    return;
  }
  return_point_push(ctx, kGameListReturnPoints, ctx->script.pc, kReturnKindGosub);
  ctx->script.pc = kScriptCodeBase + static_cast<uint32_t>(ctx->save.loadAfter);
}

int CmdLoad(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "load  %s", save_slot_path(slot).c_str());
  if (slot < 0 || slot >= kSaveSlotCount) {
    game_debug_log(kDebugWindowError, "caution : save file no [%d]", slot);
    return 1;
  }
  LoadSlot(ctx, slot);
  return 1;
}

int CmdAutosaveLoad(VmContext* ctx) {
  game_debug_log(kDebugWindowCommand, "autosave_load %s", save_slot_path(-1).c_str());
  LoadSlot(ctx, -1);
  return 1;
}

int CmdSavePoint(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "save_point");
  save_snapshot_build(ctx, ctx->script.pc);
  return 1;
}

// ---- Settings ----

int CmdSetTitle(VmContext* ctx) {
  ctx->save.titleOperand = static_cast<uint32_t>(value_stack_pop(ctx));
  uint8_t entry[260] = {};
  get_string_operand(ctx, ctx->save.titleOperand, entry);
  game_debug_log(kDebugWindowCommand, "save_set_title %s", string_operand_text(entry));
  return 1;
}

int CmdSetThumbnailSize(VmContext* ctx) {
  const int32_t w = value_stack_pop(ctx);
  const int32_t h = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "save_set_thumbnail_size  %d, %d", w, h);
  if (!save_thumbnail_resize(ctx, w, h))
    game_debug_log(kDebugWindowError, "save_set_thumbnail_size : no thumbnail of %d x %d", w, h);
  return 1;
}

int CmdSetFontSize(VmContext* ctx) {
  ctx->save.fontSize = static_cast<uint16_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "save_set_font_size %d", ctx->save.fontSize);
  return 1;
}
int CmdSetFontType(VmContext* ctx) {
  ctx->save.fontType = static_cast<uint16_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "save_set_font_type %d", ctx->save.fontType);
  return 1;
}
int CmdSetFontEffect(VmContext* ctx) {
  ctx->save.fontEffect = static_cast<uint16_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "save_set_font_effect %d", ctx->save.fontEffect);
  return 1;
}
int CmdSetFontColor(VmContext* ctx) {
  ctx->save.fontColor = static_cast<uint32_t>(value_stack_pop(ctx));
  ctx->save.fontEdgeColor = static_cast<uint32_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "save_set_font_color 0x%06X, 0x%06X", ctx->save.fontColor,
                 ctx->save.fontEdgeColor);
  return 1;
}
int CmdSetTextRect(VmContext* ctx) {
  ctx->save.textRectWidth = value_stack_pop(ctx);
  ctx->save.textRectHeight = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "save_set_text_rect  %d, %d", ctx->save.textRectWidth,
                 ctx->save.textRectHeight);
  return 1;
}
int CmdMosaicSet(VmContext* ctx) {
  ctx->save.mosaic = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "save_thumbnail_mosaic_set %d", ctx->save.mosaic);
  return 1;
}

}  // namespace

void save_text_set(VmContext* ctx, const char* text) {
  if (!text) text = "";
  size_t n = 0;
  // Whole Shift-JIS characters only: a lead byte never loses its trail.
  while (text[n]) {
    const uint8_t c = static_cast<uint8_t>(text[n]);
    const size_t len = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && text[n + 1] ? 2 : 1;
    if (n + len > kSaveTextBytes - 1) break;
    n += len;
  }
  std::memcpy(ctx->save.saveText, text, n);
  std::memset(ctx->save.saveText + n, 0, kSaveTextBytes - n);
}

namespace {

int CmdSetText(VmContext* ctx) {
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  uint8_t entry[4 + kSaveTextBytes] = {};
  get_string_operand(ctx, operand, entry);
  char text[kTextBufferBytes] = {};
  text_convert(ctx, text, string_operand_text(entry));
  static_assert(sizeof text == kSaveTextBytes);
  std::memcpy(ctx->save.saveText, text, kSaveTextBytes);
  ctx->save.saveText[kSaveTextBytes - 1] = 0;
  game_debug_log(kDebugWindowCommand, "save_set_text %s", ctx->save.saveText);
  return 1;
}

int CmdThumbnailRenew(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "thumbnail_renew");
  save_thumbnail_from_screen(ctx);
  return 1;
}

int CmdSetLoadAfter(VmContext* ctx) {
  const uint32_t label = static_cast<uint32_t>(value_stack_pop(ctx));
  game_debug_log(kDebugWindowCommand, "set_load_after_process %d", static_cast<int>(label));
  if (label == 0xFFFFFFFFu) {
    ctx->save.loadAfter = -1;
    return 1;
  }
  uint32_t offset = 0;
  if (label_code_offset(ctx, label, &offset)) ctx->save.loadAfter = static_cast<int32_t>(offset);
  return 1;
}

int CmdAutosaveEnable(VmContext* ctx) {
  const int32_t flag = value_stack_pop(ctx);
  SetSystemWord(ctx, kSysAutosave, flag);
  game_debug_log(kDebugWindowCommand, "autosave_enable  %d", flag);
  return 1;
}

int CmdSaveSystemData(VmContext* ctx) {
  if (GameRecord* g = game_record(); g && &g->ctx == ctx) system_dat_save(g);
  return 1;
}

// ---- Slot queries ----

int CmdSaveIs(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  int found = 0;
  if (slot == -1) {
    for (int i = 0; i < kSaveSlotCount && !found; ++i) found = SlotExists(i);
  } else if (slot >= 0 && slot < kSaveSlotCount) {
    found = SlotExists(slot);
  }
  game_debug_log(kDebugWindowCommand, "[%d] save_is %d", found, slot);
  command_set_result(ctx, found);
  return 1;
}

int CmdIsAutosave(VmContext* ctx) {
  const int found = SlotExists(-1);
  game_debug_log(kDebugWindowCommand, "[%d] is_autosave", found);
  command_set_result(ctx, found);
  return 1;
}

int CmdGetNewest(VmContext* ctx) {
  const int32_t n = SystemWord(ctx, kSysNewestSlot);
  game_debug_log(kDebugWindowCommand, "[%d] get_new_savefile", n);
  command_set_result(ctx, n);
  return 1;
}

// One user-memory word of a slot file, found past that file's own thumbnail.
int CmdGetUserMemory(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const int32_t index = value_stack_pop(ctx);
  int32_t value = 0;
  const std::string path = save_slot_path(slot);
  if (!path.empty() && index_in(index, kUserMemoryWords, "save_get_usermemory index")) {
    plat::FileHandle f = plat::FileOpen(path, plat::kGenericRead, plat::kOpenExisting);
    if (f != plat::kInvalidFile) {
      uint8_t b[4];
      if (plat::FileReadAt(f, kSaveOffThumbSize, b, 4)) {
        const uint64_t size = plat::ByteReader(b).U32();
        if (plat::FileReadAt(f, kSaveHeaderBytes + size + 4 * static_cast<uint64_t>(index), b, 4))
          value = plat::ByteReader(b).I32();
      }
      plat::FileClose(f);
    }
  }
  game_debug_log(kDebugWindowCommand, "[%d] save_get_usermemory", value);
  command_set_result(ctx, value);
  return 1;
}

int CmdGetSaveTime(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const int32_t i1 = value_stack_pop(ctx), i2 = value_stack_pop(ctx), i3 = value_stack_pop(ctx);
  std::tm t{};
  if (!SlotTime(slot, &t)) return 1;
  SetTemp(ctx, i1, t.tm_hour);
  SetTemp(ctx, i2, t.tm_min);
  SetTemp(ctx, i3, t.tm_sec);
  return 1;
}

int CmdGetSaveDay(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const int32_t i1 = value_stack_pop(ctx), i2 = value_stack_pop(ctx), i3 = value_stack_pop(ctx),
                i4 = value_stack_pop(ctx);
  std::tm t{};
  if (!SlotTime(slot, &t)) return 1;
  SetTemp(ctx, i1, t.tm_year + 1900);
  SetTemp(ctx, i2, t.tm_mon + 1);
  SetTemp(ctx, i3, t.tm_mday);
  SetTemp(ctx, i4, t.tm_wday);
  return 1;
}

// ---- Slot files ----

int CmdDeleteFile(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const std::string path = save_slot_path(slot);
  game_debug_log(kDebugWindowCommand, "delete_file %s", path.c_str());
  if (path.empty()) return 1;
  if (::unlink(Native(path).c_str()) != 0 && errno != ENOENT)
    game_debug_log(kDebugWindowError, "delete_file error [%s]", path.c_str());
  if (SystemWord(ctx, kSysNewestSlot) == slot) SetSystemWord(ctx, kSysNewestSlot, -1);
  return 1;
}

std::atomic<bool> g_atomicExchange{true};

// Exchanges two existing files: in one step where the file system can, else
// through save_tmp.dat in the save folder (b to it, a to b, it to a), each
// step undone when a later one fails, so both files always survive.
bool ExchangeFiles(const std::string& na, const std::string& nb) {
  if (g_atomicExchange.load()) {
    if (::renameat2(AT_FDCWD, na.c_str(), AT_FDCWD, nb.c_str(), RENAME_EXCHANGE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
  }
  const std::string tmp = Native(save_path("save_tmp.dat"));
  if (::rename(nb.c_str(), tmp.c_str()) != 0) return false;
  if (::rename(na.c_str(), nb.c_str()) != 0) {
    ::rename(tmp.c_str(), nb.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), na.c_str()) != 0) {
    ::rename(nb.c_str(), na.c_str());
    ::rename(tmp.c_str(), nb.c_str());
    return false;
  }
  return true;
}

// Exchanges two slot files; a missing one simply moves the other.
int CmdMoveFile(VmContext* ctx) {
  const int32_t a = value_stack_pop(ctx);
  const int32_t b = value_stack_pop(ctx);
  const std::string pa = save_slot_path(a), pb = save_slot_path(b);
  game_debug_log(kDebugWindowCommand, "move_file %s, %s", pa.c_str(), pb.c_str());
  if (a < 0 || b < 0 || pa.empty() || pb.empty()) {
    game_debug_log(kDebugWindowError, "move_file : slots %d, %d", a, b);
    return 1;
  }
  if (a == b) return 1;
  const std::string na = Native(pa), nb = Native(pb);
  const bool hasA = SlotExists(a), hasB = SlotExists(b);
  bool ok = true;
  if (hasA && hasB)
    ok = ExchangeFiles(na, nb);
  else if (hasA)
    ok = ::rename(na.c_str(), nb.c_str()) == 0;
  else if (hasB)
    ok = ::rename(nb.c_str(), na.c_str()) == 0;
  if (!ok) {
    game_debug_log(kDebugWindowError, "move_file error [%s, %s]", pa.c_str(), pb.c_str());
    return 1;
  }
  // The newest slot follows its file.
  const int32_t newest = SystemWord(ctx, kSysNewestSlot);
  if (newest == b) SetSystemWord(ctx, kSysNewestSlot, a);
  else if (newest == a) SetSystemWord(ctx, kSysNewestSlot, b);
  return 1;
}

int CmdCopyFile(VmContext* ctx) {
  const int32_t dest = value_stack_pop(ctx);
  const int32_t src = value_stack_pop(ctx);
  const std::string pd = save_slot_path(dest), ps = save_slot_path(src);
  game_debug_log(kDebugWindowCommand, "copy_file %s, %s", pd.c_str(), ps.c_str());
  if (pd.empty() || ps.empty() || dest == src) return 1;
  std::vector<uint8_t> bytes;
  if (!plat::ReadWholeFile(ps, &bytes, kSaveSnapshotBytes) || !plat::WriteFileAtomic(pd, bytes.data(), bytes.size())) {
    game_debug_log(kDebugWindowError, "copy_file error [%s, %s]", pd.c_str(), ps.c_str());
    return 1;
  }
  if (SystemWord(ctx, kSysNewestSlot) == src) SetSystemWord(ctx, kSysNewestSlot, dest);
  return 1;
}

}  // namespace

void save_set_atomic_exchange(bool available) { g_atomicExchange.store(available); }

void save_commands_install() {
  static const CommandBinding kCommands[] = {
      {"save", CmdSave},
      {"load", CmdLoad},
      {"save_set_title", CmdSetTitle},
      {"GetSaveTime", CmdGetSaveTime},
      {"save_set_thumbnail_size", CmdSetThumbnailSize},
      {"save_set_font_size", CmdSetFontSize},
      {"GetSaveDay", CmdGetSaveDay},
      {"save_is", CmdSaveIs},
      {"save_get_usermemory", CmdGetUserMemory},
      {"save_point", CmdSavePoint},
      {"save_thumbnail_mosaic_set", CmdMosaicSet},
      {"save_set_text_rect", CmdSetTextRect},
      {"get_new_savefile", CmdGetNewest},
      {"autosave_enable", CmdAutosaveEnable},
      {"is_autosave", CmdIsAutosave},
      {"autosave_load", CmdAutosaveLoad},
      {"save_set_text", CmdSetText},
      {"thumbnail_renew", CmdThumbnailRenew},
      {"save_set_font_type", CmdSetFontType},
      {"set_load_after_process", CmdSetLoadAfter},
      {"save_system_data", CmdSaveSystemData},
      {"save_set_font_effect", CmdSetFontEffect},
      {"save_set_font_color", CmdSetFontColor},
      {"delete_file", CmdDeleteFile},
      {"move_file", CmdMoveFile},
      {"copy_file", CmdCopyFile},
  };
  command_bind_all(kCommands);
  save_menu_commands_install();
}
