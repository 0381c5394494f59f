// The engine calls of music and sound effects, loading by name, pan and
// file names. The table of calls is the one place the game reaches the
// engine's sound: tests swap in a fake that records every call.
#include "sound/sound_shared.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "data/script_tables.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

uint32_t EngineNow() { return KivtimeGetTime(); }

const SoundCalls kEngineCalls = {
    KivSoundLoad,      KivSoundPlay,         KivSoundPlayFade,     KivSoundStop,
    KivSoundStopFade,  KivSoundPause,        KivSoundRelease,      KivSoundReleaseEx,
    KivSoundPlayIs,    KivSoundGetState,     KivSoundSetVolume,    KivSoundGetVolume,
    KivSoundSetVolumeChannel, KivSoundSetPanChannel, KivSoundGetChannelCount, EngineNow,
};

const SoundCalls* g_calls = &kEngineCalls;

}  // namespace

const SoundCalls& sound_calls() { return *g_calls; }
void sound_calls_set(const SoundCalls* calls) { g_calls = calls ? calls : &kEngineCalls; }

SystemData& sound_system_data(VmContext* ctx) {
  auto* g = reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
  return g->system;
}

int se_kind_type(int kind) {
  static constexpr int kTypes[3] = {4, 3, 5};
  return kind >= 0 && kind < 3 ? kTypes[kind] : 4;
}

KivSoundId sound_load_by_name(const char* name, int type, const int range[4]) {
  for (const char* ext : {".ogg", ".wav"}) {
    char file[kSoundNameBytes + 8];
    std::snprintf(file, sizeof file, "%s%s", name, ext);
    if (KivSoundId id = sound_calls().load(file, type, range)) return id;
  }
  return 0;
}

int32_t sound_pan_from_x(VmContext* ctx, int32_t x) {
  const int32_t w = sound_system_data(ctx).word[kSysPanWidth];
  if (x < 0) return -w;
  if (x > 1280) return w;
  return static_cast<int32_t>(static_cast<double>(x) / 1280.0 * 2.0 * w - w);
}

int32_t sound_pan_from_step(VmContext* ctx, int32_t step) {
  const int32_t x = step < 0 ? -64 : step > 20 ? 1344 : step * 64;
  return sound_pan_from_x(ctx, x);
}

bool sound_operand_name(VmContext* ctx, uint32_t operand, char (&out)[kSoundNameBytes + 1]) {
  std::memset(out, 0, sizeof out);
  uint8_t raw[kFileRecordBytes];
  // get_record_operand checks the record number against File.dat.
  if (!get_record_operand(ctx, operand, raw, false)) return false;
  std::memcpy(out, raw, kSoundNameBytes);  // out[32] stays 0: a full record still ends
  return true;
}

void sound_saved_name(const uint8_t (&raw)[kSoundNameBytes], char (&out)[kSoundNameBytes + 1]) {
  std::memcpy(out, raw, kSoundNameBytes);
  out[kSoundNameBytes] = 0;
}

bool sound_skipping(const VmContext* ctx) { return get_skip_state(ctx) != 0; }

size_t sound_info_name_length(const int32_t* entry) {
  return strnlen(reinterpret_cast<const char*>(entry + 3), kSeInfoNameBytes);
}

void sound_info_name_set(int32_t* entry, const char* name) {
  char field[kSeInfoNameBytes] = {};
  std::memcpy(field, name, strnlen(name, kSeInfoNameBytes));
  std::memcpy(entry + 3, field, sizeof field);
}
