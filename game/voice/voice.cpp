// Playing voices: the ".mix" part list, per-character volumes, auto-pan,
// the music lowered while a voice speaks, the per-frame step, release and
// the save block. The music is lowered in exactly one place (MusicFollow):
// it stands lowered while some voice channel holds a sound and comes back
// to the bgm volume when the last one ends or is released, however that
// happens.
#include "voice/voice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "component_entries.h"
#include "layers/sprite_records.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "save/save.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "strings/strings.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

// The name cut to the 31 bytes every voice name field holds.
void CutName(char (&out)[kVoiceMixRecordBytes], const char* name) {
  size_t n = 0;
  while (name && n < sizeof out - 1 && name[n]) ++n;
  std::memcpy(out, name, n);
  out[n] = 0;
}

bool Checking(VmContext* ctx) { return ctx->voice.checkOff == 0; }

void ReadFailed(VmContext* ctx, const char* name) {
  if (Checking(ctx)) game_debug_log(kDebugWindowError, "voice file read : %s", name);
}

// The level the music drops to while a voice speaks: the auto-volume word
// times the bgm volume, with the single-precision 0.01 that bgm_set_volume
// uses (level 50 of bgm 5000 gives 2499).
int32_t LoweredMusic(const SystemData& sys) {
  constexpr float kPercent = 0.01f;
  const double v = static_cast<double>(sys.word[kSysBgmAutoLevel]) * static_cast<double>(kPercent) *
                   static_cast<double>(sys.word[kSysBgmVolume]);
  return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

// Lowers the music while some channel holds a voice, brings it back when
// none does.
void MusicFollow(VmContext* ctx) {
  VoiceState& v = ctx->voice;
  bool any = false;
  for (const VoiceChannel& ch : v.channels) any = any || ch.sound != 0;
  const SystemData& sys = sound_system_data(ctx);
  if (any && sys.word[kSysBgmAutoVolume] && !v.musicLowered) {
    sound_calls().setVolume(LoweredMusic(sys), kBgmVolumeGroup);
    v.musicLowered = 1;
  } else if (!any && v.musicLowered) {
    sound_calls().setVolume(sys.word[kSysBgmVolume], kBgmVolumeGroup);
    v.musicLowered = 0;
  }
}

void ChannelClear(VmContext* ctx, int i) {
  VoiceChannel& ch = ctx->voice.channels[i];
  if (ch.sound) sound_calls().release(ch.sound);
  ch = VoiceChannel{};
}

// The ".mix" list of a voice name (already cut); false when there is no
// such file.
bool ReadMix(const char* base, std::vector<std::string>* parts) {
  char path[kVoiceMixRecordBytes + 8];
  std::snprintf(path, sizeof path, "%s.mix", base);
  KivFileInfo info{};
  const intptr_t f = KivFileCreate(path, &info);
  if (f == KIV_INVALID_FILE) return false;
  struct Closer {
    intptr_t f;
    ~Closer() { plat::FileClose(f); }
  } closer{f};
  // Only the member's own bytes, and no more than eight records of them.
  std::vector<uint8_t> bytes(std::min<uint32_t>(info.size, kVoiceChannelCount * kVoiceMixRecordBytes));
  size_t done = 0;
  while (done < bytes.size()) {
    size_t got = 0;
    if (!plat::FileRead(f, bytes.data() + done, bytes.size() - done, &got) || got == 0) break;
    done += got;
  }
  bytes.resize(done);
  *parts = voice_mix_parts(bytes);
  return true;
}

// The parts of a voice: the names its ".mix" list gives, else the name
// itself, cut to 31 bytes.
std::vector<std::string> VoiceParts(const char* name) {
  char base[kVoiceMixRecordBytes];
  CutName(base, name);
  std::vector<std::string> parts;
  if (!ReadMix(base, &parts)) parts.assign(1, base);
  return parts;
}

// Whether "<name>.ogg" or "<name>.wav" can be opened.
bool VoiceFileExists(const char* name) {
  for (const char* ext : {".ogg", ".wav"}) {
    char file[kVoiceMixRecordBytes + 8];
    std::snprintf(file, sizeof file, "%s%s", name, ext);
    if (game_file_exists(file)) return true;
  }
  return false;
}

}  // namespace

static_assert(kVoiceInfoNameBytes == kSeInfoNameBytes && kVoiceInfoWords == kSeInfoWords);

int32_t* voice_info_entry(VmContext* ctx, int character) {
  SystemData& sys = sound_system_data(ctx);
  return sys.word + (character < 0 ? kSysVoiceInfoDefault : kSysVoiceInfo + character * kVoiceInfoWords);
}

void sub_voice_clear(VmContext* ctx) {
  SubVoice& s = ctx->voice.sub;
  if (s.sound) sound_calls().release(s.sound);
  s.sound = 0;
  s.name = 0;
  s.flags = 0;
  s.reserved = 0;
}

std::vector<std::string> voice_mix_parts(std::span<const uint8_t> image) {
  std::vector<std::string> parts;
  for (size_t at = 0; parts.size() < kVoiceChannelCount && image.size() - at >= kVoiceMixRecordBytes;
       at += kVoiceMixRecordBytes) {
    const auto* rec = reinterpret_cast<const char*>(image.data() + at);
    size_t n = 0;
    while (n < kVoiceMixRecordBytes - 1 && rec[n]) ++n;
    parts.emplace_back(rec, n);
  }
  return parts;
}

namespace {

// Channel volume of a voice by its name (per-character volumes).
void VolumeApply(VmContext* ctx, KivSoundId sound, const char* name) {
  int32_t volume = 10000;
  if (sound_system_data(ctx).word[kSysVoiceExVolume]) {
    const int32_t* hit = nullptr;
    const size_t len = std::strlen(name);
    for (int c = 0; c < kVoiceInfoCount && !hit; ++c) {
      const int32_t* e = voice_info_entry(ctx, c);
      if (!e[0]) continue;
      const size_t n = sound_info_name_length(e);
      if (n <= len && std::memcmp(e + 3, name, n) == 0) hit = e;
    }
    if (!hit) hit = voice_info_entry(ctx, -1);
    volume = hit[1] ? sound_volume_from_percent(hit[2]) : 0;
  }
  sound_calls().setVolumeChannel(sound, volume);
}

}  // namespace

void voice_autopan_apply(VmContext* ctx, int channel) {
  VoiceChannel& ch = ctx->voice.channels[channel];
  int32_t pan = 0;
  if (ch.panMode != 0) {
    pan = sound_pan_from_step(ctx, ch.panTarget);
  } else {
    SpriteRecord* rec = sprite_record_get(ctx, ch.panTarget);
    if (!rec || !rec->sprite) return;
    KivSpriteInfo info{};
    if (!KivSpriteGetInfo(rec->sprite, &info)) return;
    pan = sound_pan_from_x(ctx, static_cast<int32_t>(info.x) + info.cellWidth / 2);
  }
  if (pan != ch.lastPan) {
    ch.lastPan = pan;
    sound_calls().setPanChannel(ch.sound, pan);
  }
}

namespace {

// Finds the auto-pan entry of a name for channel i and applies it.
void AutopanLookup(VmContext* ctx, int channel, const char* name, uint32_t flags) {
  VoiceChannel& ch = ctx->voice.channels[channel];
  ch.panTarget = ch.panMode = ch.lastPan = ch.panActive = 0;
  if (!sound_system_data(ctx).word[kSysVoiceAutopan] || (flags & kVoiceNoAutopan)) return;
  const size_t len = std::strlen(name);
  for (const VoiceAutopanEntry& e : ctx->voice.autopan) {
    const size_t n = strnlen(e.name, kVoiceAutopanNameBytes);
    if (n == 0 || n != len || std::memcmp(e.name, name, n) != 0) continue;
    ch.panTarget = static_cast<int32_t>(e.target);
    ch.panMode = static_cast<int32_t>(e.mode);
    ch.panActive = 2;
    // Only a voice that found its entry is panned.
    voice_autopan_apply(ctx, channel);
    return;
  }
}

}  // namespace

int voice_play_file_ex(VmContext* ctx, uint32_t flags, const char* name, int32_t fade_ms, bool skip_check) {
  for (int i = 0; i < kVoiceChannelCount; ++i) ChannelClear(ctx, i);
  if (!name || !name[0]) {
    MusicFollow(ctx);
    return 0;
  }
  if (skip_check && (get_skip_state(ctx) & (kSkipStateMode | kSkipStateCtrl))) {
    MusicFollow(ctx);
    return 1;
  }
  const std::vector<std::string> parts = VoiceParts(name);
  VoiceState& v = ctx->voice;
  for (size_t i = 0; i < parts.size(); ++i) {
    const char* part = parts[i].c_str();
    const KivSoundId id = part[0] ? sound_load_by_name(part, kVoiceLoadType, nullptr) : 0;
    if (!id) {
      ReadFailed(ctx, part);
      continue;
    }
    v.channels[i].sound = id;
    VolumeApply(ctx, id, part);
    AutopanLookup(ctx, static_cast<int>(i), part, flags);
  }
  MusicFollow(ctx);
  for (const VoiceChannel& ch : v.channels) {
    if (!ch.sound) continue;
    const int loop = (flags & kVoiceLoop) ? 1 : 0;
    if (flags & kVoiceFadeIn)
      sound_calls().playFade(ch.sound, loop, fade_ms);
    else
      sound_calls().play(ch.sound, loop);
  }
  return 1;
}

int voice_is_playing(VmContext* ctx) {
  for (const VoiceChannel& ch : ctx->voice.channels)
    if (ch.sound && sound_calls().playIs(ch.sound)) return 1;
  return 0;
}

void voice_channels_release(VmContext* ctx) {
  for (int i = 0; i < kVoiceChannelCount; ++i) ChannelClear(ctx, i);
  MusicFollow(ctx);
}

// ---- What the game task, the machine and the message window call ----

void voice_frame(VmContext* ctx) {
  VoiceState& v = ctx->voice;
  const bool autopan = sound_system_data(ctx).word[kSysVoiceAutopan] != 0;
  for (int i = 0; i < kVoiceChannelCount; ++i) {
    VoiceChannel& ch = v.channels[i];
    if (!ch.sound) continue;
    if (!sound_calls().playIs(ch.sound))
      ChannelClear(ctx, i);
    else if (ch.panActive && autopan)
      voice_autopan_apply(ctx, i);  // the pan follows the sprite
  }
  MusicFollow(ctx);
  if (v.sub.sound && !sound_calls().playIs(v.sub.sound)) sub_voice_clear(ctx);
}

void voice_release(VmContext* ctx) {
  sub_voice_clear(ctx);
  ctx->voice.sub.enabled = 1;
  voice_channels_release(ctx);
  std::memset(ctx->voice.autopan, 0, sizeof ctx->voice.autopan);
}

void sub_voice_start(VmContext* ctx) { ctx->voice.sub.enabled = 1; }

// The message window stops the voice before a line's own voice starts:
// the channels go at once, and the music follows in the same frame, from
// the next voice's start or from voice_frame, so that it never rises for
// an instant between two voiced lines.
void voice_stop(VmContext* ctx) {
  for (int i = 0; i < kVoiceChannelCount; ++i) ChannelClear(ctx, i);
}

void voice_play_file(VmContext* ctx, const char* name, int flags, int fade_ms) {
  voice_play_file_ex(ctx, static_cast<uint32_t>(flags), name, fade_ms, false);
}

void voice_line_play(VmContext* ctx, const char* name, int play) {
  if (play) {
    voice_play_file_ex(ctx, 0, name, 0, false);
    return;
  }
  // Skipping: nothing plays, but the files are checked.
  if (!Checking(ctx) || !name || !name[0]) return;
  for (const std::string& p : VoiceParts(name))
    if (p.empty() || !VoiceFileExists(p.c_str())) ReadFailed(ctx, p.c_str());
}

// ---- Save block ----

bool voice_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const VoiceState& v = ctx->voice;
  plat::ByteWriter w;
  for (const VoiceAutopanEntry& e : v.autopan) {
    w.U32(e.target);
    w.U32(e.mode);
    w.Bytes(e.name, sizeof e.name);
  }
  uint32_t flags = v.sub.flags;
  if (v.sub.sound && sound_calls().getState(v.sub.sound) == 2) flags &= ~kVoiceLoop;  // fading out
  w.I32(v.sub.sound);
  w.U32(v.sub.name);
  w.U32(flags);
  w.I32(v.sub.reserved);
  w.I32(v.sub.enabled);
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

bool voice_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  if (*cursor > data.size() || data.size() - *cursor < kVoiceSaveBytes) {
    game_debug_log(kDebugWindowError, "load error : voice block short");
    return false;
  }
  *cursor += kVoiceSaveBytes;
  return true;
}

bool voice_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t end = *cursor;
  if (!voice_check(ctx, data, &end)) return false;
  plat::ByteReader r(data.subspan(*cursor, kVoiceSaveBytes));
  VoiceState& v = ctx->voice;
  for (VoiceAutopanEntry& e : v.autopan) {
    e.target = r.U32();
    e.mode = r.U32();
    r.Bytes(e.name, sizeof e.name);  // a 16-character name fills its field
  }
  sub_voice_clear(ctx);
  r.I32();  // the sound of the saving game
  v.sub.name = r.U32();
  v.sub.flags = r.U32();
  v.sub.reserved = r.I32();
  v.sub.enabled = r.I32();
  *cursor += kVoiceSaveBytes;
  if (!v.sub.name || !(v.sub.flags & kVoiceLoop)) return true;
  char file[kSoundNameBytes + 1];
  if (!sound_operand_name(ctx, v.sub.name, file)) return false;
  v.sub.sound = sound_load_by_name(file, kVoiceLoadType, nullptr);
  if (!v.sub.sound) {
    ReadFailed(ctx, file);
    return false;
  }
  sound_calls().playFade(v.sub.sound, 1, 2000);
  return true;
}
