// What the bgm and se commands share: the engine calls they go through (a
// table a test can replace with a recording fake), loading by name, the pan
// mapping, file names from record operands and the system data words.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "data/system_data.h"
#include "sound/sound_records.h"

struct VmContext;

// Every engine sound call of the game, in one table. By default each entry
// is the engine export of the same name.
struct SoundCalls {
  KivSoundId (*load)(const char* file, int type, const int range[4]);
  int (*play)(KivSoundId id, int loop);
  int (*playFade)(KivSoundId id, int loop, int fadeMs);
  int (*stop)(KivSoundId id);
  int (*stopFade)(KivSoundId id, int fadeMs);
  int (*pause)(KivSoundId id);
  int (*release)(KivSoundId id);
  int (*releaseEx)(int type);
  int (*playIs)(KivSoundId id);
  int (*getState)(KivSoundId id);  // 0 none, 1 fading in, 2 fading out
  int (*setVolume)(int volume, unsigned group);
  int (*getVolume)(int* out, unsigned group);
  int (*setVolumeChannel)(KivSoundId id, int volume);
  int (*setPanChannel)(KivSoundId id, int pan);
  int (*channelCount)(int type);
  uint32_t (*now)();
};
const SoundCalls& sound_calls();
// Test seam: replaces the table (null puts the engine's exports back).
void sound_calls_set(const SoundCalls* calls);

// System data words owned by music and sound effects.
constexpr int kSysBgmAutoVolume = 209;      // auto volume on/off
constexpr int kSysBgmAutoLevel = 210;       // 100 - auto volume level
constexpr int kSysPanWidth = 445;           // set by the voice auto-pan
constexpr int kSysSeInfo = 446;             // 4 entries of 7 words
constexpr int kSeInfoWords = 7;             // defined, enabled, volume, name (16 bytes)
constexpr int kSeInfoNameBytes = 16;
constexpr int kBgmVolumeGroup = 2;          // engine group (and load type) of music

// The game's system data record (the context lives inside the game record).
SystemData& sound_system_data(VmContext* ctx);

// An se kind's load type and volume group: kind 0 -> 4, 1 -> 3, 2 -> 5.
int se_kind_type(int kind);

// Loads "<name>.ogg", else "<name>.wav"; the first non-zero id, else 0.
KivSoundId sound_load_by_name(const char* name, int type, const int range[4]);

// Pan in DirectSound units from a screen x (0..1280) and from a step
// (0..20, 64 pixels a step); the width W is system word 445, 0 until the
// voice auto-pan sets it.
int32_t sound_pan_from_x(VmContext* ctx, int32_t x);
int32_t sound_pan_from_step(VmContext* ctx, int32_t step);

// The file name a record operand names (a File.dat record, or a string
// variable when bit 28 is set), NUL-terminated within 32 bytes; false,
// logged, with out empty, when the operand names nothing.
bool sound_operand_name(VmContext* ctx, uint32_t operand, char (&out)[kSoundNameBytes + 1]);
// A name read from a save: its 32 bytes, terminated.
void sound_saved_name(const uint8_t (&raw)[kSoundNameBytes], char (&out)[kSoundNameBytes + 1]);

// The name field of a 7-word info entry (se and voice entries alike: words
// 3..6, 16 bytes, unterminated when full): its length, and setting it from
// name, cut to the field and zero-padded.
size_t sound_info_name_length(const int32_t* entry);
void sound_info_name_set(int32_t* entry, const char* name);

// A volume percent as engine volume (100 -> 10000), held within int32.
inline int32_t sound_volume_from_percent(int32_t percent) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{percent} * 10000 / 100, INT32_MIN, INT32_MAX));
}

// Whether the bgm commands count the player as skipping (any skip state).
bool sound_skipping(const VmContext* ctx);
