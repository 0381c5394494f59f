// Sound: start-up and shut-down hooks; the mixer and channels come with the
// sound device.
#include "fault_inject.h"
#include "system_state.h"

int KivSoundInit(void) { return KivFaultHit(KivFault::kSound) ? 0 : 1; }
void KivSoundUninit(void) {}
