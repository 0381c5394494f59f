// The engine calls that text layout makes, in one table, so the layout can
// be driven by a stand-in font in tests. The default table is the engine's
// own exports.
#pragma once
#include <cstdint>

#include "kiv.h"

struct TextFontApi {
  int (*begin)(void);
  int (*end)(void);
  int (*getSize)(const char* text, KivSize* out);
  int (*drawText)(uint32_t* pixels, const char* text, int x, int y, int width, int height);
  int (*setColor)(int colour, int shadow);
  int (*getFontSize)(void);
  int (*setFontSize)(int size);
  int (*getType)(void);
  int (*setType)(int type);
  uint32_t* (*lock)(KivSprite* s, int* width, int* height);
  int (*unlock)(KivSprite* s);
  int (*setRect)(KivSprite* s, const KivRect* r);
};

const TextFontApi& text_font_api();
// Replaces the table (null: the engine's exports again).
void text_font_api_set(const TextFontApi* api);
