// The system data record: the first 1896 bytes of the game record (474
// words), stored whole in system.dat.
#pragma once
#include <cstdint>

constexpr int kSystemDataWords = 474;
constexpr int kSystemVariableWords = 512;

struct SystemData {
  int32_t word[kSystemDataWords];
};
static_assert(sizeof(SystemData) == 1896);

// Word numbers with a meaning of their own.
enum SystemWord : int {
  kSysScriptStamp = 0,
  kSysAllMosaicThumbnails = 1,
  kSysWindowMode = 2,
  kSysSkipUnread = 3,
  kSysEffectsOn = 4,
  kSysAutosave = 5,
  kSysAspectPosition = 6,
  kSysNewestSlot = 7,
  kSysBgmVolume = 8,
  kSysVoiceVolume = 9,
  kSysSe0Volume = 10,
  kSysSe1Volume = 11,
  kSysSe2Volume = 12,
  kSysAutoTime = 13,
  kSysTextSpeed = 14,
  kSysWindowImage = 15,
  kSysWindowAlpha = 16,
};
