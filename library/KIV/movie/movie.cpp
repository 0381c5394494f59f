// Movies: full-window playback and movie sprites. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Movie player hooks of the frame loop and the window procedure. No movie
// can be playing until the player exists, so these have nothing to do.
#include "core/system_state.h"

void KivMovieStep(void) {}
void KivMovieStopForRestart(void) {}
void KivMovieRestart(void) {}
