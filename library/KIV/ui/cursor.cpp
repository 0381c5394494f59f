// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// The mouse cursor's type, re-applied whenever the mouse moves over the
// window. The system arrow is the only type so far.
#include "core/system_state.h"

void KivCursorReapply(void) {}
