// The reveal record of a text sprite: the text's alpha is kept aside and an
// order map gives each pixel its reveal unit, x + band x row width, so that
// a threshold uncovers the text line by line from the left. text_draw
// counts its units the same way, so a threshold of the count it returned
// uncovers every pixel it drew.
#pragma once
#include <cstdint>

#include "kiv.h"

struct TextRevealRecord {
  int32_t ready;
  uint8_t* alpha;      // one byte per pixel of the buffer
  uint16_t* order;     // one value per pixel
  int32_t rowWidth;    // layout width + font size, raised to a multiple of 4
  int32_t rows;        // text height
  int32_t bandHeight;  // pixel rows of one line
  int32_t bandHeightInitial;
  int32_t bufferSize;  // rowWidth x rows
};

// Allocates the buffers (KivMemoryAlloc) for a box; false on failure.
bool text_reveal_alloc(TextRevealRecord* r, int layout_width, int font_size, int height, int band_height);
void text_reveal_free(TextRevealRecord* r);
// The reveal unit of a pixel at (x, y); values beyond 16 bits are 65535.
int text_reveal_unit(const TextRevealRecord& r, int x, int y);
// Moves the sprite's alpha into the record and hides every pixel.
void text_reveal_capture(TextRevealRecord* r, KivSprite* sprite);
// Uncovers the text up to threshold t, with a soft edge 64 units wide.
void text_reveal_apply(TextRevealRecord* r, KivSprite* sprite, int t);
