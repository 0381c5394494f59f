// Text layout: every text the game shows (the message window's name, text
// and novel page, the caption, the backlog, the save list) is laid out by
// text_draw into a locked sprite through the engine's font exports, with
// inline tags, Japanese line breaking and the reveal units the message
// window uncovers the text by.
//
// Tags: <br> line break; <center> centres the rest in the box; <sN> font
// size N (N > 0) until </s>; <reset> line height and colours back;
// <rRUBY>BASE</r> ruby over the base text; <c#RRGGBB[#RRGGBB]> text (and
// edge) colour until </c>. Any other tag is skipped; tag text is never
// drawn, and no scan passes the end of the text.
#pragma once
#include <cstdint>

#include "kiv.h"
#include "text/text_reveal.h"

struct VmContext;

constexpr int kTextBufferBytes = 512;  // text_convert and text_wrap_plain destinations

struct TextColours {
  int32_t text;
  int32_t edge;
};

struct TextExtent {
  int32_t width;
  int32_t height;
};

// Lays text out into sprite (null: measures only) from (*x, *y) (null: 0)
// in a box of box_w x box_h with the font and ruby sizes and colours, and
// the reveal record of the sprite when given. Returns the reveal units of
// the laid-out text + 64; *x, *y receive where the next character goes.
int text_draw(KivSprite* sprite, const char* text, int* x, int* y, int box_w, int box_h, int font_size,
              int ruby_size, TextColours colours, TextRevealRecord* reveal);

// Width and height of the rest of a line (for <center>).
TextExtent text_line_layout(const char* text, int font_size, int box_w);

// The sources of text_convert's expansions.
struct TextConvertSources {
  const char* playerName;           // "/n"; may be null
  const int32_t* systemVariables;   // "&f": 512 words (may be null)
  const int32_t* userMemory;        // "&m": 1024 words
  const int32_t* tempArea;          // "&t": 4095 words
};
// Copies src into dst (kTextBufferBytes), expanding "/n" to the player name
// and "&" kind separator index "]" to the value in full-width digits (kind
// f system variable, m user memory, t temporary area). A reference that is
// malformed or out of range is copied as it stands; the result is cut at a
// whole character so that it always ends with a zero byte.
void text_convert(const TextConvertSources& sources, char* dst, const char* src);
void text_convert(VmContext* ctx, char* dst, const char* src);

// Removes "<", "&" and "%" from a player name in place (single-byte
// characters only), so an expanded name is never read as a tag, a
// reference or an ExFont glyph.
void text_name_sanitize(char* name);

// A tag-free copy of src wrapped into lines (LF) for the save list, in
// max_w x max_h with the font size; a text that does not fit ends in an
// ellipsis. dst holds kTextBufferBytes. Returns 1.
int text_wrap_plain(const char* src, char* dst, int max_w, int max_h, int font_size);

// Whether a Shift-JIS code (lead * 256 + trail) may hang past the right
// edge instead of starting a new line.
bool text_no_break_before(uint32_t code);
