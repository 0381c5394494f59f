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

// Screen transitions: until their kinds are drawn, a valid request shows
// the new scene at once (as kind 0 does), so callers already see the end
// state a transition would reach.
extern "C" KIV_API int KivEffectEx(unsigned index, unsigned, int, int) {
  if (!g_kiv) return 0;
  if (!g_kiv->effectsEnabled || index == 0) return 1;
  if (index >= 30 || g_kiv->transitionRunning.load()) return 0;
  return 1;
}

extern "C" KIV_API int KivEffect(int index, unsigned durationMs) {
  return KivEffectEx(static_cast<unsigned>(index), durationMs, 0, 1);
}

extern "C" KIV_API int KivEffectIs(void) { return g_kiv ? g_kiv->transitionRunning.load() : 0; }

extern "C" KIV_API int KivEffectEnable(int enable) {
  if (!g_kiv) return 0;
  g_kiv->effectsEnabled = enable;
  return enable;
}

extern "C" KIV_API int KivEffectEnableIs(void) { return g_kiv ? g_kiv->effectsEnabled : 0; }
