// Movie player hooks of the frame loop and the window procedure. No movie
// can be playing until the player exists, so these have nothing to do.
#include "system_state.h"

void KivMovieStep(void) {}
void KivMovieStopForRestart(void) {}
void KivMovieRestart(void) {}
