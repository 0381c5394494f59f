// Voices: character lines played from one file or from a ".mix" list of up
// to eight part files played together (engine load type 1, volume group 1),
// per-character volumes, auto-pan toward the speaker's sprite, the music
// lowered while a voice speaks, and one separate sub voice. The script's
// group 13, the text commands, the message window and the backlog's replay
// all go through voice_play_file.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kiv.h"

struct VmContext;

constexpr int kVoiceChannelCount = 8;
constexpr int kVoiceAutopanEntries = 16;
constexpr int kVoiceAutopanNameBytes = 16;
constexpr int kVoiceInfoCount = 32;
constexpr int kVoiceInfoWords = 7;      // defined, enabled, volume percent, name (16 bytes)
constexpr int kVoiceInfoNameBytes = 16;
constexpr int kVoiceMixRecordBytes = 32;
constexpr int kVoiceLoadType = 1;       // engine load type and volume group of voices

// Play flags.
constexpr uint32_t kVoiceLoop = 1u << 0;
constexpr uint32_t kVoiceFadeIn = 1u << 2;
constexpr uint32_t kVoiceNoAutopan = 1u << 28;

// System data words owned by voices.
constexpr int kSysVoiceExVolume = 212;     // per-character volumes on/off
constexpr int kSysVoiceInfo = 213;         // 32 entries of 7 words
constexpr int kSysVoiceInfoDefault = 437;  // the default entry (character -1)
constexpr int kSysVoiceAutopan = 444;      // auto-pan on/off

// One voice channel: 9 words.
struct VoiceChannel {
  KivSoundId sound;  // 0: none
  int32_t reserved[3];
  int32_t panTarget;  // sprite record index (mode 0) or pan step
  int32_t panMode;
  int32_t lastPan;
  int32_t panActive;  // 2 active, 0 none
  int32_t reserved2;
};
static_assert(sizeof(VoiceChannel) == 36);

// The sub voice: 5 words.
struct SubVoice {
  KivSoundId sound;
  uint32_t name;   // record operand of the file name
  uint32_t flags;  // bit 0 loop, bit 2 fade in
  int32_t reserved;
  int32_t enabled;
};

// An auto-pan entry: 24 bytes in a save; a 16-character name has no zero.
struct VoiceAutopanEntry {
  uint32_t target;
  uint32_t mode;
  char name[kVoiceAutopanNameBytes];
};

struct VoiceState {
  VoiceChannel channels[kVoiceChannelCount];
  SubVoice sub;
  VoiceAutopanEntry autopan[kVoiceAutopanEntries];
  // Voice check (voice_check_enable): stored inverted so that a zeroed
  // context starts with the check on; not kept in system.dat.
  uint32_t checkOff;
  // Set while the music stands lowered for a speaking voice.
  uint32_t musicLowered;
};

// Plays a voice: flags (bit 0 loop, bit 2 fade in, bit 28 no auto-pan),
// name, fade ms; with skip_check set nothing plays while skipping. 0 only
// for an empty name.
int voice_play_file_ex(VmContext* ctx, uint32_t flags, const char* name, int32_t fade_ms, bool skip_check);
void voice_autopan_apply(VmContext* ctx, int channel);
// The system words of character's info entry (-1 the default entry, else
// 0..31; the caller checks the range).
int32_t* voice_info_entry(VmContext* ctx, int character);
// Releases the sub voice and clears its record (enabled stays).
void sub_voice_clear(VmContext* ctx);
// Whether any voice channel's sound plays (declared for the other
// components in component_entries.h).
int voice_is_playing(VmContext* ctx);
// Releases every voice channel (the music comes back when it was lowered).
void voice_channels_release(VmContext* ctx);

// The part names of a ".mix" image: up to eight 32-byte records, a short
// record ends the list; each name is cut to 31 bytes.
std::vector<std::string> voice_mix_parts(std::span<const uint8_t> image);

// Save block: the auto-pan table and the sub voice (404 bytes).
constexpr uint32_t kVoiceSaveBytes = kVoiceAutopanEntries * 24 + 20;
