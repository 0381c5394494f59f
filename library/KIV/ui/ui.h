// Animations, buttons, numbers, the cursor and thumbnails: the pieces the
// rest of the engine calls. Everything here is engine-private.
#pragma once
#include <cstdint>

#include "kiv.h"

// A sprite about to be freed: its animations stop and forget it, and it
// leaves every button group, so nothing keeps using the freed record.
void KivUiForgetSprite(KivSprite* s);
void KivAnimationForgetSprite(KivSprite* s);
void KivButtonForgetSprite(KivSprite* s);

// Frees the button groups still alive (engine shut-down) and their sounds.
void KivButtonReleaseAll(void);
// Live button groups, for tests.
int KivButtonLiveGroups(void);

// The cursor type again, on every mouse move over the window (window thread).
void KivCursorReapply(void);
