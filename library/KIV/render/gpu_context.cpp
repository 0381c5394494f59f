// The GPU renderer's device context. Not available in this build: creation
// fails, and start-up takes the software path with its warning, exactly as
// on a machine without a capable graphics card.
#include "core/system_state.h"

void* Kiv3DCreate(const KivRendererSetup&) { return nullptr; }
int Kiv3DCreateSurfaces(void*, int) { return 0; }
void Kiv3DRelease(void) {}
