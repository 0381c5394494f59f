// The VM context: the part of the game record every command handler gets.
// Each component keeps its own block here; all of them are plain data and
// valid when zero-filled (the engine hands the record out zero-filled).
#pragma once
#include <cstdint>

#include "kiv.h"

struct VmContext {
  KivRenderList* renderList;  // the game's render list
  KivList* gameList;          // key 1 display operations, 2 return points, 3 script-thread returns
  uint32_t keyPushLatch;      // keys pushed since the script last looked
  uint8_t skipMode;           // the skip mode byte
};
