// Fonts and text drawn into sprites. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Fonts: the glyph file and the pre-rendered atlas, released at the end.
#include "core/system_state.h"

int KivFontReleaseAll(void) {
  KivSystemState* s = g_kiv;
  if (!s) return 0;
  KivMemoryFree(s->glyphFile);
  KivMemoryFree(s->exFontAtlas);
  s->glyphFile = s->exFontAtlas = nullptr;
  return 1;
}
