// Screen transitions and Fx effects: the transition state the render pass
// steps, the kinds that draw it, and the Fx records' internal calls.
#pragma once
#include <cstdint>

#include "render/renderer.h"
#include "core/system_state.h"

// The full-screen transition. The running and enabled words live in the
// system record (transitionRunning, effectsEnabled), where the frame loop
// and the game read them.
struct KivEffectState {
  int started;    // the kind's first frame has been drawn; start is set
  int clickSkip;  // a left-button push jumps to the end
  KivTask* waitTask;  // the blocking wait asked for, or NULL
  int (*renderer)(KivEffectState* state);  // the kind's frame; NULL once it finished
  int scratch;         // per kind: the mosaic's second capture, the mask wipe's load
  uint32_t duration;   // ms
  uint32_t start;      // frame time of the first frame
  int index;           // the running kind, -1 when idle
  uint32_t colour;     // the capture is drawn with it
  int boxLeft, boxTop;  // the shrinking box
  int width, height;    // the capture size (the box size while the box runs)
  void* capture;        // the renderer's capture surface
  const KivEffectRenderer* captureOps;  // the table that made it
  void* mask;           // a mask wipe's mask while it runs
};

extern KivEffectState g_kivEffect;

// The renderer's transition and Fx table, NULL when it has none.
const KivEffectRenderer* KivEffectOps(void);
// The last drawn frame into the capture: up to 10 tries, a device restore
// after each failure; false when all failed (the capture keeps what it had).
bool KivEffectCapture(KivEffectState* state);
void KivEffectReleaseMask(KivEffectState* state);

// ---- The kinds (transition_kinds.cpp) ----
using KivTransitionKind = int (*)(KivEffectState* state);
inline constexpr int kKivTransitionKinds = 30;
// Index -> the kind's frame; NULL for the kinds that end at the next pass.
extern const KivTransitionKind kKivTransitionTable[kKivTransitionKinds];
// The mosaic's block size at progress t: 1 at both ends, 129 halfway.
int KivEffectMosaicBlock(float t);
// The mask file of a mask wipe's index (10..29).
void KivEffectMaskName(int index, char out[32]);

// ---- Fx (fx_effect.cpp) ----
// Connects the sprite hooks and clears the screen record and phase clock.
void KivFxInit(void);
void KivFxUninit(void);
// The screen effect's render node.
int KivFxDrawProc(void* core, void* record);
// Frees a record's blocks and the record (a sprite's, on its release).
void KivFxRelease(void* record);
