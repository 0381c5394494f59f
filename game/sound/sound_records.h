// Music and sound effects: the channel records the script's bgm (group 4)
// and se (group 5) commands keep in the VM context, and what both share:
// loading a file by name, the pan mapping, the words of the system data they
// own, and the table through which every engine sound call goes.
//
// Music plays on the engine's two streamed channels (load type 2), tracked
// in two bgm channels; effects use sixteen se channels whose engine sounds
// are static buffers of one of three kinds (load types 4, 3, 5). The game
// task updates se then bgm once a frame; saves hold both blocks and a load
// rebuilds the sounds from them.
#pragma once
#include <cstdint>

#include "kiv.h"

constexpr int kBgmChannelCount = 2;
constexpr int kSeChannelCount = 16;
constexpr int kSeInfoCount = 4;
constexpr int kSoundNameBytes = 32;  // a resolved file name in a save

// bgm channel flags.
constexpr uint32_t kBgmLoop = 1u << 0;
constexpr uint32_t kBgmFadeIn = 1u << 2;
constexpr uint32_t kBgmRange = 1u << 4;
constexpr uint32_t kBgmPaused = 1u << 7;
constexpr uint32_t kBgmLoaded = 1u << 16;   // loaded by bgm_load, not yet started
constexpr uint32_t kBgmFading = 1u << 17;   // a volume fade runs

// se channel flags.
constexpr uint32_t kSeLoop = 1u << 0;
constexpr uint32_t kSeWait = 1u << 1;
constexpr uint32_t kSeFadeIn = 1u << 2;
constexpr uint32_t kSeEvenSkipping = 1u << 3;
constexpr uint32_t kSeApplyPan = 1u << 5;
constexpr uint32_t kSeLoaded = 1u << 16;    // loaded by se_load, not yet started

// A bgm channel: 15 words, the unit of the bgm save block.
struct BgmChannel {
  KivSoundId sound;     // 0: none
  uint32_t name;        // record operand of the file name (bit 28: string variable)
  uint32_t flags;
  int32_t level;        // 0..100, percent of the channel volume
  int32_t reserved[4];
  int32_t range[4];     // handed to KivSoundLoad: {in use, start, loop start, end}
  int32_t fadeDelta;    // target level - level at the fade's start
  uint32_t fadeLength;  // ms
  uint32_t fadeStart;   // KivtimeGetTime at the fade's start
};
static_assert(sizeof(BgmChannel) == 60);

// An se channel: 8 words.
struct SeChannel {
  KivSoundId sound;
  uint32_t name;
  uint32_t flags;
  int32_t reserved[3];
  int32_t pan;   // -10000 .. 10000
  int32_t kind;  // 0, 1 or 2
};
static_assert(sizeof(SeChannel) == 32);

// The sound block of the VM context. The se records, the wait word and the
// pending pan make the 240-word area the debug window shows.
struct SoundState {
  SeChannel se[kSeChannelCount];
  int32_t seWait;      // 0 = none, else channel + 1
  int32_t pendingPan;  // set by se_set_pan, taken by the next play with flag bit 5
  int32_t seDebugReserved[110];
  BgmChannel bgm[kBgmChannelCount];
  // The file name each channel loaded, kept so that a save of a
  // string-variable name holds what plays, not what the variable says now.
  char bgmFile[kBgmChannelCount][kSoundNameBytes + 1];
  char seFile[kSeChannelCount][kSoundNameBytes + 1];
};
static_assert(sizeof(SeChannel) * kSeChannelCount + 4 * 112 == 240 * 4);
