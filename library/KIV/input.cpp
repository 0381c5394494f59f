// Input: the frame's event word and wheel, filled by the game thread's
// message handling. Key, mouse and joystick sampling come with the input
// devices.
#include "fault_inject.h"
#include "system_state.h"

int KivInputInit(void) { return KivFaultHit(KivFault::kInput) ? 0 : 1; }
void KivInputUpdate(void) {}
void KivInputRelease(void) {}
uint32_t KivInputPushMask(void) { return 0; }
uint32_t KivInputOnMask(void) { return 0; }

extern "C" KIV_API void KivInputClear(void) {}

extern "C" KIV_API int KivInputGetKeyEx(void) {
  return g_kiv ? static_cast<int>(g_kiv->input.eventWord.load()) : 0;
}

extern "C" KIV_API int KivInputGetWheel(void) { return g_kiv ? g_kiv->input.wheel.load() : 0; }
