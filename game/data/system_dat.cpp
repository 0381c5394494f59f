#include "data/system_dat.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "kiv.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"
#include "data/save_folder.h"

namespace {

// The u32 at `offset` of a data file found through the search paths.
bool ReadDataWord(const char* name, uint32_t offset, uint32_t* out) {
  KivFileInfo info;
  intptr_t f = KivFileCreate(name, &info);
  if (f == KIV_INVALID_FILE) return false;
  uint8_t b[4];
  bool ok = offset + 4u <= info.size && plat::FileReadAt(f, uint64_t(info.start) + offset, b, 4);
  plat::FileClose(f);
  if (ok) *out = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return ok;
}

void ApplyVolumesAndModes(const GameRecord& g) {
  const int32_t* w = g.system.word;
  KivSoundSetVolume(w[kSysBgmVolume], 2);
  KivSoundSetVolume(w[kSysVoiceVolume], 1);
  KivSoundSetVolume(w[kSysSe1Volume], 3);
  KivSoundSetVolume(w[kSysSe2Volume], 5);
  KivSoundSetVolume(w[kSysSe0Volume], 4);
}

void Warn(const char* utf8) {
  plat::MessageBox(nullptr, plat::Sjis(utf8), plat::Sjis("警告"), plat::kMbOk | plat::kMbIconWarning);
}

}  // namespace

std::vector<uint8_t> system_dat_bytes(const GameRecord& g) {
  plat::ByteWriter w;
  w.U16(kSystemDatVersion);
  for (int32_t v : g.system.word) w.I32(v);
  for (int32_t v : g.systemVariables) w.I32(v);
  w.U32(g.textReadFlagsSize);
  if (g.textReadFlagsSize) w.Bytes(g.textReadFlags, g.textReadFlagsSize);
  w.U32(g.imageSeenFlagsSize);
  if (g.imageSeenFlagsSize) w.Bytes(g.imageSeenFlags, g.imageSeenFlagsSize);
  return std::move(w.bytes());
}

bool system_dat_parse(const std::vector<uint8_t>& bytes, GameRecord* g) {
  plat::ByteReader r(bytes);
  SystemData system;
  int32_t vars[kSystemVariableWords];
  r.Skip(2);  // version: not read back
  for (int32_t& v : system.word) v = r.I32();
  for (int32_t& v : vars) v = r.I32();
  // Each block may be no larger than what the file still holds.
  uint32_t n = r.U32();
  if (!r.ok() || n > r.left()) return false;
  auto* text = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(n), 1));
  if (!text && n) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの読み込みに失敗。[memory allocate error : 0x00]"));
    return false;
  }
  r.Bytes(text, n);
  uint32_t m = r.U32();
  if (!r.ok() || m > r.left()) {
    KivMemoryFree(text);
    return false;
  }
  auto* seen = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(m), 1));
  if (!seen && m) {
    KivMemoryFree(text);
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの読み込みに失敗。[memory allocate error : 0x01]"));
    return false;
  }
  r.Bytes(seen, m);
  if (!r.ok()) {
    KivMemoryFree(text);
    KivMemoryFree(seen);
    return false;
  }
  system_dat_release(g);
  g->system = system;
  std::memcpy(g->systemVariables, vars, sizeof vars);
  g->textReadFlags = text;
  g->textReadFlagsSize = n;
  g->imageSeenFlags = seen;
  g->imageSeenFlagsSize = m;
  return true;
}

int system_dat_load(GameRecord* g) {
  std::vector<uint8_t> bytes;
  if (!plat::ReadWholeFile(save_path("system.dat"), &bytes, size_t(64) << 20)) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの読み込みに失敗。[file open error]"));
    return 0;
  }
  if (!system_dat_parse(bytes, g)) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの読み込みに失敗。[file open error]"));
    return 0;
  }
  ApplyVolumesAndModes(*g);
  KivEffectEnable(g->system.word[kSysEffectsOn]);
  KivWindowChangeMode(g->system.word[kSysWindowMode]);
  return 1;
}

int system_dat_create(GameRecord* g) {
  system_dat_release(g);
  std::memset(static_cast<void*>(g), 0, sizeof *g);
  int32_t* w = g->system.word;
  w[kSysEffectsOn] = 1;
  w[kSysAspectPosition] = 1;
  w[kSysNewestSlot] = -1;
  w[kSysBgmVolume] = w[kSysVoiceVolume] = w[kSysSe0Volume] = w[kSysSe1Volume] = w[kSysSe2Volume] = 5000;
  w[kSysAutoTime] = 50;
  w[kSysTextSpeed] = 50;
  w[kSysWindowImage] = -1;
  w[kSysWindowAlpha] = -1;
  KivSoundSetVolume(5000, 1);
  KivSoundSetVolume(w[kSysBgmVolume], 2);
  KivSoundSetVolume(w[kSysSe0Volume], 4);
  KivSoundSetVolume(w[kSysSe1Volume], 3);
  KivSoundSetVolume(w[kSysSe2Volume], 5);

  uint32_t stamp;
  if (!ReadDataWord("Script.src", 4, &stamp)) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの作成に失敗。[Script.rc]"));
    return 0;
  }
  w[kSysScriptStamp] = static_cast<int32_t>(stamp);
  uint32_t words;
  if (!ReadDataWord("Text.dat", 12, &words)) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの作成に失敗。[Text.dat]"));
    return 0;
  }
  if (words > 200000) Warn("テキストワード数が基準値をオーバーしました。\n管理者に報告してください。");
  // The blocks are at least their usual size, and large enough for every
  // word and record the data holds, so no flag ever falls outside them.
  uint32_t text_size = std::max(kTextReadFlagsCreated, words / 8 + 1);
  g->textReadFlags = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(text_size), 1));
  if (!g->textReadFlags) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの作成に失敗。[メモリ不足 : 0x00]"));
    return 0;
  }
  g->textReadFlagsSize = text_size;
  uint32_t records;
  if (!ReadDataWord("File.dat", 12, &records)) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの作成に失敗。[File.dat]"));
    return 0;
  }
  if (records >= 65536) Warn("画像ファイル数が基準値をオーバーしました。\n管理者に報告してください。");
  uint32_t seen_size = std::max(kImageSeenFlagsCreated, records / 4 + 1);
  g->imageSeenFlags = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(seen_size), 1));
  if (!g->imageSeenFlags) {
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの作成に失敗。[メモリ不足 : 0x01]"));
    return 0;
  }
  g->imageSeenFlagsSize = seen_size;
  system_dat_save(g);
  KivErrorLogPrintf("%s", plat::Sjis("システムファイルを作成。"));
  return 1;
}

int system_dat_save(GameRecord* g) {
  g->system.word[kSysWindowMode] = KivCheckWindowMode();
  std::vector<uint8_t> bytes = system_dat_bytes(*g);
  const std::string path = save_path("system.dat");
  if (!plat::WriteFileAtomic(path, bytes.data(), bytes.size())) {
    const std::string why = std::strerror(errno);
    KivErrorLogPrintf("%s", plat::Sjis("システムファイルの書き込みに失敗 [file write error]"));
    // The player's settings and read marks are not kept: say so, with the
    // file and the reason the system gave.
    std::string text = std::string(plat::Sjis("システムデータの保存に失敗しました。\n")) + path + "\n" +
                       plat::Utf8ToCp932(why);
    plat::MessageBox(nullptr, text.c_str(), plat::Sjis("エラー報告"), plat::kMbOk | plat::kMbIconWarning);
    return 0;
  }
  return 1;
}

bool system_dat_readable(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<GameRecord> g(new GameRecord{});
  const bool ok = system_dat_parse(bytes, g.get());
  system_dat_release(g.get());
  return ok;
}

bool system_dat_set_aside_and_tell() {
  const std::string path = save_path("system.dat");
  std::string kept;
  if (!plat::FileSetAside(path, ".damaged", &kept)) {
    std::string text = std::string(plat::Sjis("システムデータが壊れていますが、別の名前で退避できませんでした。\n")) +
                       path + "\n" + plat::Utf8ToCp932(std::strerror(errno));
    plat::MessageBox(nullptr, text.c_str(), plat::Sjis("起動エラー"), plat::kMbOk | plat::kMbIconWarning);
    return false;
  }
  std::string text =
      std::string(plat::Sjis("システムデータが壊れていたため、新しく作り直します。\n壊れたファイルは次の名前で残してあります。\n")) +
      plat::Utf8ToCp932(kept);
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis("警告"), plat::kMbOk | plat::kMbIconWarning);
  return true;
}

StampCheck system_dat_is_current() {
  uint32_t script_stamp;
  if (!ReadDataWord("Script.src", 4, &script_stamp)) return StampCheck::kNoScript;
  const std::string path = save_path("system.dat");
  if (!plat::PathExists(path)) return StampCheck::kCurrent;
  // Only a file that reads whole tells of another build: one that cannot be
  // read, or is cut or lies about its sizes, says nothing about the saves.
  std::vector<uint8_t> bytes;
  if (!plat::ReadWholeFile(path, &bytes, size_t(64) << 20) || !system_dat_readable(bytes)) return StampCheck::kDamaged;
  const uint32_t kept = uint32_t(bytes[2]) | uint32_t(bytes[3]) << 8 | uint32_t(bytes[4]) << 16 | uint32_t(bytes[5]) << 24;
  return kept == script_stamp ? StampCheck::kCurrent : StampCheck::kStale;
}

namespace {

// The flag byte of record n (four records a byte); null outside the flags.
uint8_t* SeenByte(const GameRecord* g, uint32_t n) {
  return g->imageSeenFlags && n / 4 < g->imageSeenFlagsSize ? g->imageSeenFlags + n / 4 : nullptr;
}

}  // namespace

void set_image_seen(GameRecord* g, uint32_t n) {
  uint8_t* b = SeenByte(g, n);
  if (!b) return;
  unsigned s = 2 * (n % 4);
  if (!(*b & (1u << s))) *b |= static_cast<uint8_t>(1u << (s + 1));
  *b |= static_cast<uint8_t>(1u << s);
}

bool image_seen(const GameRecord* g, uint32_t n) { return image_seen_bits(g, n) & 1; }

int image_seen_bits(const GameRecord* g, uint32_t n) {
  const uint8_t* b = SeenByte(g, n);
  return b ? *b >> (2 * (n % 4)) & 3 : 0;
}

void image_seen_clear_new(GameRecord* g, uint32_t n) {
  if (uint8_t* b = SeenByte(g, n)) *b &= static_cast<uint8_t>(~(2u << (2 * (n % 4))));
}

void image_seen_fill_all(GameRecord* g) {
  if (g->imageSeenFlags) std::memset(g->imageSeenFlags, 0xFF, g->imageSeenFlagsSize);
}

void text_read_set(GameRecord* g, uint32_t w) {
  if (g->textReadFlags && w / 8 < g->textReadFlagsSize) g->textReadFlags[w / 8] |= static_cast<uint8_t>(1u << (w % 8));
}

bool text_read_get(const GameRecord* g, uint32_t w) {
  return g->textReadFlags && w / 8 < g->textReadFlagsSize && (g->textReadFlags[w / 8] >> (w % 8) & 1);
}

void system_dat_release(GameRecord* g) {
  KivMemoryFree(g->textReadFlags);
  KivMemoryFree(g->imageSeenFlags);
  g->textReadFlags = g->imageSeenFlags = nullptr;
  g->textReadFlagsSize = g->imageSeenFlagsSize = 0;
}

void set_image_seen(VmContext* ctx, uint32_t record) {
  auto* g = reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
  set_image_seen(g, record);
}
