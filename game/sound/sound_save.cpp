// The bgm and se blocks of a save. Records are written and read field by
// field; the name of a string-variable operand is the file name the channel
// loaded, so the save holds what plays. A restore reads and checks the
// whole block before it touches a channel, so a bad block changes nothing
// and a missing file never misaligns the blocks after it.
#include "sound/sound_save.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "data/script_tables.h"
#include "platform/core/byte_io.h"
#include "sound/bgm.h"
#include "sound/se.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"

namespace {

constexpr uint32_t kSnapshotLimit = 0x100000;

bool Append(const plat::ByteWriter& w, std::span<uint8_t> buffer, uint32_t* used) {
  const std::vector<uint8_t>& block = const_cast<plat::ByteWriter&>(w).bytes();
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSnapshotLimit);
  if (*used > limit || block.size() > limit - *used) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  std::memcpy(buffer.data() + *used, block.data(), block.size());
  *used += static_cast<uint32_t>(block.size());
  return true;
}

void PutName(plat::ByteWriter& w, const char* file) {
  uint8_t raw[kSoundNameBytes] = {};
  std::memcpy(raw, file, strnlen(file, kSoundNameBytes - 1));
  w.Bytes(raw, sizeof raw);
}

void PutBgm(plat::ByteWriter& w, const BgmChannel& c) {
  w.I32(c.sound);
  w.U32(c.name);
  w.U32(c.flags);
  w.I32(c.level);
  for (int32_t v : c.reserved) w.I32(v);
  for (int32_t v : c.range) w.I32(v);
  w.I32(c.fadeDelta);
  w.U32(c.fadeLength);
  w.U32(c.fadeStart);
}

BgmChannel GetBgm(plat::ByteReader& r) {
  BgmChannel c{};
  c.sound = r.I32();
  c.name = r.U32();
  c.flags = r.U32();
  c.level = r.I32();
  for (int32_t& v : c.reserved) v = r.I32();
  for (int32_t& v : c.range) v = r.I32();
  c.fadeDelta = r.I32();
  c.fadeLength = r.U32();
  c.fadeStart = r.U32();
  return c;
}

void PutSe(plat::ByteWriter& w, const SeChannel& c) {
  w.I32(c.sound);
  w.U32(c.name);
  w.U32(c.flags);
  for (int32_t v : c.reserved) w.I32(v);
  w.I32(c.pan);
  w.I32(c.kind);
}

SeChannel GetSe(plat::ByteReader& r) {
  SeChannel c{};
  c.sound = r.I32();
  c.name = r.U32();
  c.flags = r.U32();
  for (int32_t& v : c.reserved) v = r.I32();
  c.pan = r.I32();
  c.kind = r.I32();
  return c;
}

bool Refuse(const char* block, const char* what, int channel) {
  game_debug_log(kDebugWindowError, "load error : %s block, %s [%d]", block, what, channel);
  return false;
}

// A name operand a save can hold: none, a File.dat record of this script or
// a string variable.
bool OperandOk(const VmContext* ctx, uint32_t operand) {
  if (operand == 0) return true;
  if (operand & kStringVariableBit) return (operand & ~kStringVariableBit) < kStringVariableCount;
  return operand < file_record_count(ctx);
}

// The file a restored channel loads: the saved name for a string variable,
// else its File.dat record.
bool RestoredName(VmContext* ctx, uint32_t operand, const uint8_t (&saved)[kSoundNameBytes],
                  char (&out)[kSoundNameBytes + 1]) {
  if (operand & kStringVariableBit) {
    sound_saved_name(saved, out);
    return true;
  }
  return sound_operand_name(ctx, operand, out);
}

}  // namespace

// ---- Save ----

bool bgm_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  for (int i = 0; i < kBgmChannelCount; ++i) {
    BgmChannel c = ctx->sound.bgm[i];
    const bool playing = c.name && c.sound && sound_calls().playIs(c.sound) && sound_calls().getState(c.sound) != 2;
    // (A channel whose bgm_load failed holds no sound and is not written.)
    if (!playing && !(c.sound && (c.flags & kBgmLoaded))) c = BgmChannel{};
    if (c.flags & kBgmFading) {
      c.level = std::clamp(c.level + c.fadeDelta, 0, 100);
      c.flags &= ~kBgmFading;
    }
    PutBgm(w, c);
    // The name follows exactly when the record written names a string variable.
    if (c.name & kStringVariableBit) PutName(w, ctx->sound.bgmFile[i]);
  }
  return Append(w, buffer, used);
}

bool se_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  w.I32(ctx->sound.pendingPan);
  for (int i = 0; i < kSeChannelCount; ++i) {
    SeChannel c = ctx->sound.se[i];
    if (c.sound && sound_calls().getState(c.sound) == 2) c.flags &= ~kSeLoop;
    PutSe(w, c);
    if (c.name & kStringVariableBit) PutName(w, ctx->sound.seFile[i]);
  }
  return Append(w, buffer, used);
}

// ---- Restore ----

namespace {

bool ReadBgm(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, BgmChannel (&saved)[kBgmChannelCount],
             uint8_t (&names)[kBgmChannelCount][kSoundNameBytes], size_t* size) {
  if (cursor > data.size()) return Refuse("bgm", "cursor", -1);
  plat::ByteReader r(data.subspan(cursor));
  for (int i = 0; i < kBgmChannelCount; ++i) {
    saved[i] = GetBgm(r);
    if (saved[i].name & kStringVariableBit) r.Bytes(names[i], kSoundNameBytes);
    if (!r.ok()) return Refuse("bgm", "short", i);
    if (!OperandOk(ctx, saved[i].name)) return Refuse("bgm", "name operand", i);
  }
  *size = r.pos();
  return true;
}

bool ReadSe(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, int32_t* pending,
            SeChannel (&saved)[kSeChannelCount], uint8_t (&names)[kSeChannelCount][kSoundNameBytes], size_t* size) {
  if (cursor > data.size()) return Refuse("se", "cursor", -1);
  plat::ByteReader r(data.subspan(cursor));
  *pending = r.I32();
  for (int i = 0; i < kSeChannelCount; ++i) {
    saved[i] = GetSe(r);
    if (saved[i].name & kStringVariableBit) r.Bytes(names[i], kSoundNameBytes);
    if (!r.ok()) return Refuse("se", "short", i);
    if (!OperandOk(ctx, saved[i].name)) return Refuse("se", "name operand", i);
    if (saved[i].name && (saved[i].kind < 0 || saved[i].kind > 2)) return Refuse("se", "kind", i);
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool bgm_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  BgmChannel saved[kBgmChannelCount];
  uint8_t names[kBgmChannelCount][kSoundNameBytes];
  size_t size = 0;
  if (!ReadBgm(ctx, data, *cursor, saved, names, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool se_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  int32_t pending;
  SeChannel saved[kSeChannelCount];
  uint8_t names[kSeChannelCount][kSoundNameBytes];
  size_t size = 0;
  if (!ReadSe(ctx, data, *cursor, &pending, saved, names, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool bgm_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  BgmChannel saved[kBgmChannelCount];
  uint8_t names[kBgmChannelCount][kSoundNameBytes] = {};
  size_t size = 0;
  if (!ReadBgm(ctx, data, *cursor, saved, names, &size)) return false;
  *cursor += static_cast<uint32_t>(size);

  sound_calls().setVolume(sound_system_data(ctx).word[kSysBgmVolume], kBgmVolumeGroup);
  bool all = true;
  for (int i = 0; i < kBgmChannelCount; ++i) {
    bgm_channel_clear(ctx, i);
    BgmChannel& ch = ctx->sound.bgm[i];
    ch = saved[i];
    // The saved id named a sound of the saving run: it is never used.
    ch.sound = 0;
    ch.level = std::clamp(ch.level, 0, 100);
    ch.flags &= ~(kBgmFading | kBgmPaused);  // it comes back playing
    if (!ch.name) continue;
    char file[kSoundNameBytes + 1];
    if (RestoredName(ctx, ch.name, names[i], file)) ch.sound = sound_load_by_name(file, kBgmVolumeGroup, ch.range);
    if (!ch.sound) {
      game_debug_log(kDebugWindowError, "bgm load error [%s]", file);
      ch = BgmChannel{};
      all = false;
      continue;
    }
    std::memcpy(ctx->sound.bgmFile[i], file, sizeof file);
    sound_calls().setVolumeChannel(ch.sound, ch.level * 10000 / 100);
  }
  for (const BgmChannel& ch : ctx->sound.bgm)
    if (ch.sound && !(ch.flags & kBgmLoaded)) sound_calls().playFade(ch.sound, 1, 2000);
  return all;
}

bool se_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  int32_t pending = 0;
  SeChannel saved[kSeChannelCount];
  uint8_t names[kSeChannelCount][kSoundNameBytes] = {};
  size_t size = 0;
  if (!ReadSe(ctx, data, *cursor, &pending, saved, names, &size)) return false;
  // Every record is consumed, whatever loads below.
  *cursor += static_cast<uint32_t>(size);

  SoundState& s = ctx->sound;
  s.pendingPan = std::clamp(pending, -10000, 10000);
  s.seWait = 0;
  bool all = true;
  for (int i = 0; i < kSeChannelCount; ++i) {
    se_channel_clear(ctx, i);
    const SeChannel& c = saved[i];
    // Only looping and loaded effects come back; one-shots have ended.
    if (!c.name || !(c.flags & (kSeLoop | kSeLoaded))) continue;
    SeChannel& ch = s.se[i];
    ch = c;
    ch.sound = 0;
    ch.pan = std::clamp(c.pan, -10000, 10000);
    char file[kSoundNameBytes + 1];
    if (RestoredName(ctx, c.name, names[i], file)) ch.sound = sound_load_by_name(file, se_kind_type(c.kind), nullptr);
    if (!ch.sound) {
      game_debug_log(kDebugWindowError, "load error : %s", file);
      ch = SeChannel{};
      all = false;
      continue;
    }
    std::memcpy(s.seFile[i], file, sizeof file);
    se_info_volume_apply(ctx, ch.sound, file);
    if (ch.flags & kSeLoop) sound_calls().playFade(ch.sound, 1, 2000);
    if (ch.flags & kSeApplyPan) sound_calls().setPanChannel(ch.sound, ch.pan);
  }
  return all;
}
