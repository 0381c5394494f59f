// Debug windows and the status dialog of debug mode. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Debug mode's status dialog and log windows. Their lines go to the debugger
// output until the windows exist.
#include "platform/core/error.h"
#include "core/system_state.h"

void KivDebugStart(void) {}
void KivDebugCloseWindows(void) {}

void KivDebugLog(const char* cp932) {
  KivSystemState* s = g_kiv;
  if (s && s->params.debug) plat::DebugOutput(cp932);
}
