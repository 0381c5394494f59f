// The save system's buffers, the snapshot and the slot files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "component_entries.h"
#include "data/save_folder.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "start/program_identity.h"

namespace {

bool AtomicWrite(const std::string& path, const void* data, size_t size) {
  return plat::WriteFileAtomic(path, data, size);
}
SaveFileWriter g_writer = AtomicWrite;

bool AllocThumbnail(SaveState& s, int32_t width, int32_t height) {
  KivMemoryFree(s.thumbPixels);
  s.thumbPixels = nullptr;
  s.thumbBytes = 0;
  s.thumbPresent = 0;
  if (width <= 0 || height <= 0 || width > kSaveThumbMaxWidth || height > kSaveThumbMaxHeight) return false;
  const uint32_t bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
  s.thumbPixels = static_cast<uint32_t*>(KivMemoryAlloc(bytes, 1));
  if (!s.thumbPixels) return false;
  s.thumbWidth = width;
  s.thumbHeight = height;
  s.thumbBytes = bytes;
  s.thumbPresent = 1;
  return true;
}

bool MosaicThumbnails(const VmContext* ctx) {
  if (ctx->save.mosaic) return true;
  const GameRecord* g = game_record();
  return g && &g->ctx == ctx && g->system.word[1] != 0;
}

}  // namespace

void save_set_file_writer(SaveFileWriter writer) { g_writer = writer ? writer : AtomicWrite; }

int save_init(VmContext* ctx) {
  SaveState& s = ctx->save;
  s.mosaic = 0;
  s.resumePc = 0;
  s.snapshotPresent = 0;
  s.used = 0;
  s.loadAfter = -1;
  s.snapshot = static_cast<uint8_t*>(KivMemoryAlloc(kSaveSnapshotBytes, 1));
  s.work = static_cast<uint8_t*>(KivMemoryAlloc(kSaveSnapshotBytes, 1));
  if (!s.snapshot || !s.work || !AllocThumbnail(s, 80, 60)) {
    save_buffers_free(ctx);
    return 0;
  }
  return 1;
}

void save_buffers_free(VmContext* ctx) {
  SaveState& s = ctx->save;
  KivMemoryFree(s.snapshot);
  KivMemoryFree(s.work);
  KivMemoryFree(s.thumbPixels);
  s.snapshot = s.work = nullptr;
  s.thumbPixels = nullptr;
  s.thumbBytes = 0;
  s.thumbPresent = 0;
  s.snapshotPresent = 0;
  s.used = 0;
}

void save_state_reset(VmContext* ctx) {
  SaveState& s = ctx->save;
  s.snapshotPresent = 0;
  s.loadAfter = -1;
  s.thumbPresent = s.thumbPixels ? 1 : 0;
}

bool save_thumbnail_resize(VmContext* ctx, int32_t width, int32_t height) {
  return AllocThumbnail(ctx->save, width, height);
}

void save_thumbnail_from_screen(VmContext* ctx) {
  SaveState& s = ctx->save;
  if (!s.thumbPixels || !s.thumbPresent) return;
  const int size = static_cast<int>(s.thumbBytes);
  if (MosaicThumbnails(ctx))
    KivThumbnailCreateMosaic(s.thumbPixels, size, s.thumbWidth, s.thumbHeight, 6);
  else
    KivThumbnailCreate(s.thumbPixels, size, s.thumbWidth, s.thumbHeight);
}

bool save_snapshot_build(VmContext* ctx, uint32_t resume_pc) {
  SaveState& s = ctx->save;
  if (!s.snapshot || !s.work) return false;
  save_thumbnail_from_screen(ctx);
  uint32_t used = 0;
  // Built aside and kept only when whole: a snapshot that does not fit
  // leaves the previous one in place.
  if (!save_state_write(ctx, resume_pc, {s.work, kSaveSnapshotBytes}, &used)) {
    game_debug_puts(kDebugWindowError, "save buffer over : the previous snapshot is kept");
    return false;
  }
  std::swap(s.snapshot, s.work);
  s.used = used;
  s.resumePc = resume_pc;
  s.snapshotPresent = 1;
  return true;
}

bool save_snapshot_take(VmContext* ctx) { return save_snapshot_build(ctx, ctx->script.pc); }

bool save_file_write(VmContext* ctx, const char* path) {
  const SaveState& s = ctx->save;
  if (!s.snapshotPresent || !s.snapshot || s.used < kSaveHeaderBytes) return true;
  // The file gets the current save text and thumbnail (both may have changed
  // since the snapshot), laid out here with their own sizes.
  plat::ByteReader r({s.snapshot, s.used});
  r.Seek(kSaveOffThumbSize);
  const uint32_t oldSize = r.U32();
  if (!r.ok() || oldSize > s.used - kSaveHeaderBytes) {
    game_debug_log(kDebugWindowError, "save error [%s]", path);
    return false;
  }
  const bool thumb = s.thumbPixels && s.thumbPresent;
  plat::ByteWriter w;
  w.bytes().reserve(s.used + s.thumbBytes);
  w.Bytes(s.snapshot, kSaveOffText);
  w.Bytes(s.saveText, kSaveTextBytes);
  w.Bytes(s.snapshot + kSaveOffMosaic, kSaveOffThumbWidth - kSaveOffMosaic);
  w.I32(thumb ? s.thumbWidth : 0);
  w.I32(thumb ? s.thumbHeight : 0);
  w.U32(thumb ? s.thumbBytes : 0);
  w.I32(thumb ? 1 : 0);
  if (thumb) w.Bytes(s.thumbPixels, s.thumbBytes);
  w.Bytes(s.snapshot + kSaveHeaderBytes + oldSize, s.used - kSaveHeaderBytes - oldSize);
  errno = 0;
  if (!g_writer(path, w.bytes().data(), w.bytes().size())) {
    const int why = errno;
    game_debug_log(kDebugWindowError, "save error [%s]", path);
    // The file, and the reason the system gave.
    std::string text = std::string(plat::Sjis("セーブに失敗しました。\n保存先の容量が不足していないか確認してください。\n")) +
                       path + (why ? "\n" + plat::Utf8ToCp932(std::strerror(why)) : std::string());
    plat::MessageBox(nullptr, text.c_str(), program_identity().productName.c_str(), plat::kMbOk | plat::kMbIconWarning);
    return false;
  }
  return true;
}

bool save_file_read(VmContext* ctx, const char* path) {
  // The file goes into the work buffer, where the next snapshot is built
  // (nothing builds one while a load runs): a load allocates nothing. A file
  // larger than a snapshot is refused unread.
  uint8_t* const into = ctx->save.work;
  plat::FileHandle f = plat::FileOpen(path, plat::kGenericRead, plat::kOpenExisting);
  if (f == plat::kInvalidFile) {
    game_debug_log(kDebugWindowError, "load error [%s]", path);
    return false;
  }
  const int64_t size = plat::FileSize(f);
  size_t got = 0;
  const bool read = into && size >= 0 && size <= int64_t{kSaveSnapshotBytes} &&
                    plat::FileRead(f, into, static_cast<size_t>(size), &got) && got == static_cast<size_t>(size);
  plat::FileClose(f);
  if (!read || !save_state_load(ctx, {into, got})) {
    game_debug_log(kDebugWindowError, "load error [%s]", path);
    return false;
  }
  return true;
}

std::string save_slot_path(int slot) {
  if (slot == -1) return save_path("continue.dat");
  if (slot < 0 || slot >= kSaveSlotCount) return {};
  char name[16];
  std::snprintf(name, sizeof name, "save%03d.dat", slot);
  return save_path(name);
}

void continue_save_write(VmContext* ctx) { save_file_write(ctx, save_slot_path(-1).c_str()); }
