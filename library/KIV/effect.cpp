// Screen transitions and effects. So far only the hooks start-up, the window
// procedure and the render pass call.
#include "fault_inject.h"
#include "system_state.h"

int KivEffectInit(void) {
  if (KivFaultHit(KivFault::kEffects)) return 0;
  g_kiv->effectsEnabled = 1;
  g_kiv->transitionRunning.store(0);
  return 1;
}

void KivEffectUninit(void) {}

// Runs after the node walk of each drawn frame; no transition exists yet.
void KivEffectTransitionPass(void) {}

extern "C" KIV_API int KivEffectEnable(int enable) {
  if (!g_kiv) return 0;
  g_kiv->effectsEnabled = enable;
  return 1;
}

extern "C" KIV_API int KivEffectEnableIs(void) { return g_kiv ? g_kiv->effectsEnabled : 0; }
