// engine_host --showcase: a scene of the engine's animations, buttons,
// numbers, cursor and thumbnails, driven through the engine's exports.
#pragma once
#include "kiv.h"

// Binds the exports the showcase calls; false (and a line on stderr) when
// one is missing.
bool ShowcaseBind(void* lib);
// Builds the scene into list and starts its per-frame task; `scripted`
// plays a short sequence of cursor moves and clicks by itself (smoke runs).
bool ShowcaseStart(KivRenderList* list, bool scripted);
// Releases what the showcase made, before its render list goes.
void ShowcaseEnd(KivRenderList* list);
