// Debug mode's status dialog and log windows. Their lines go to the debugger
// output until the windows exist.
#include "platform/error.h"
#include "system_state.h"

void KivDebugStart(void) {}
void KivDebugCloseWindows(void) {}

void KivDebugLog(const char* cp932) {
  KivSystemState* s = g_kiv;
  if (s && s->params.debug) plat::DebugOutput(cp932);
}
