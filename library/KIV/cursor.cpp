// The mouse cursor's type, re-applied whenever the mouse moves over the
// window. The system arrow is the only type so far.
#include "system_state.h"

void KivCursorReapply(void) {}
