// Text: layout with tags, ruby and line breaking, the conversion of names
// and numbers into text, the plain wrapped copy for the save list and the
// reveal record. The game reaches fonts only through the engine's exports.
//
// The table of engine calls the layout makes.
#include "text/text_font.h"

namespace {

const TextFontApi kEngine = {
    KivFontBegin,   KivFontEnd,         KivFontGetSize, KivFontDrawText, KivFontSetColor, KivFontGetFontSize,
    KivFontSetFontSize, KivFontGetType, KivFontSetType, KivSpriteLock,   KivSpriteUnlock, KivSpriteSetRect,
};
const TextFontApi* g_api = &kEngine;

}  // namespace

const TextFontApi& text_font_api() { return *g_api; }
void text_font_api_set(const TextFontApi* api) { g_api = api ? api : &kEngine; }
