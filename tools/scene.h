// engine_host --scene: a picture drawn in code with a turned sprite in
// front of it, the whole screen waved by the raster effect and the sprite
// waved on its own, so the renderer in use (GPU by default, --dib the
// software one) shows its raster waves.
#pragma once
#include "kiv.h"

bool SceneBind(void* lib);
bool SceneStart(KivRenderList* list);
void SceneEnd(KivRenderList* list);
