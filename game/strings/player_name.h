// The player-name entry's state in the VM context: the name the player
// entered (which "/n" expands to), its length, whether the last accepted
// name changed, and the entry screen's objects while it is open.
#pragma once
#include <cstdint>

#include "kiv.h"

constexpr int kPlayerNameFieldBytes = 136;

struct PlayerNameState {
  // The platform text field while the entry is open (0: none). Created and
  // destroyed on the window thread, read on the game thread: always
  // accessed through std::atomic_ref.
  intptr_t field;
  int32_t state;          // 0 idle, 1 entering, 2 accepted, 3 cancelled
  KivButton* button;      // the three buttons
  KivSprite* sprites[4];  // base picture, buttons 0, 1, 2
  int32_t maximum;        // characters the name may hold (n)
  int32_t nameLength;     // bytes of name
  int32_t changed;        // 1 when the last accepted name differs from the one shown at the start
  int32_t fieldRequested; // the field's creation was handed to the window thread
  char name[kPlayerNameFieldBytes];  // zero-terminated Shift-JIS
};
