// The game record: the data block of the engine task "StartFunc", the whole
// state of the game. The engine allocates it zero-filled and frees it when
// the task is released.
#pragma once
#include <cstdint>

#include "data/system_data.h"
#include "vm/vm_context.h"

struct GameRecord {
  SystemData system;
  int32_t startFlag;  // 1 from the first frame on
  VmContext ctx;
  uint8_t* textReadFlags;  // one bit per text word
  uint32_t textReadFlagsSize;
  uint8_t* imageSeenFlags;  // two bits per File.dat record
  uint32_t imageSeenFlagsSize;
  int32_t systemVariables[kSystemVariableWords];  // bank 2, kept in system.dat
};

// The game record, from anywhere on the game thread.
inline GameRecord* game_record() { return static_cast<GameRecord*>(KivTaskGetTaskData(nullptr)); }
