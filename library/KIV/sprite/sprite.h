// Sprites: the record behind a KivSprite handle, the two-sprite transition
// record, and the engine-internal pieces the sprite files share.
#pragma once
#include <atomic>
#include <cmath>
#include <cstdint>

#include "kiv.h"
#include "render/soft_screen.h"

struct KivSprite {
  void* surface;  // the renderer's surface; begins with the image width and height
  uint32_t* savedPixels;
  int savedWords[3];  // byte size, width, height of the saved copy
  void* movie;
  int transitionCode;  // non-zero: a transition draws the sprite, its own node does not
  void* fx;            // the sprite's Fx effect record, made by the effect module
  std::atomic<int> locked;  // pixels handed to a writer; the draw callback waits
  int visible;
  KivRect rect;
  uint32_t colour;
  float x, y;
  int offsetX, offsetY;
  int width, height;
  int cellWidth, cellHeight;
  int centreX, centreY;
  int priority;
  float scale;
  float rotX, rotY, rotZ;
  int renderMode;
  int option;
};

struct KivTransition {
  int code;   // 1 = cross-fade
  int state;  // 0 idle, 1 running, 2 finished
  KivRenderList* list;
  KivSprite* incoming;
  KivSprite* outgoing;
  int unused;  // -1 while running
  uint32_t duration;
  uint32_t start;
};

// The effect module's side of sprite effects. It fills these in when it
// exists; while they are NULL no sprite carries a running effect, and a
// sprite's effect record is freed as a plain block.
struct KivSpriteFxHooks {
  // The draw request of this frame, or NULL (no running effect, effects off).
  const KivFxRequest* (*progress)(void* fx, KivFxRequest* out);
  void (*release)(void* fx);
};
extern KivSpriteFxHooks g_kivSpriteFx;

// The movie player's release of a movie sprite's movie, when it exists.
extern void (*g_kivSpriteMovieRelease)(void* movie);

// A new zero-filled record with the defaults of every sprite, not yet in a
// list; NULL when memory runs out.
KivSprite* KivSpriteAllocate(int priority);
// Inserts a made sprite into list; on failure releases it and gives NULL.
KivSprite* KivSpriteInsert(KivRenderList* list, KivSprite* s);
// Frees everything a sprite owns and the record; the caller unlinks it.
void KivSpriteFree(KivSprite* s);
// The software screen, when that renderer is in use.
KivSoftScreen* KivSpriteSoftScreen(void);

// The size tag at the start of a text: "<s24>" sets the font size (the last
// setting stays). Returns 1 with *body at the text to draw, or 0 for a
// malformed tag or an empty text after it.
int KivSpriteSizeTag(const char* text, const char** body);

int KivSpriteTransitionDraw(void* core, void* transition);
// The GPU renderer's record of a software draw record: its scale,
// rectangle, colour, mode and Fx, with the place (position + offset, in
// floats), turns and centre of sprite s (d's whole-pixel place and no turn
// when s is null).
struct Kiv3DSpriteRecord;
Kiv3DSpriteRecord KivSpriteGpuRecord(const KivSoftDraw& d, const KivSprite* s);

// Saturating float to int truncation.
inline int KivSpriteTrunc(float v) { return KivTruncToInt(static_cast<double>(v)); }

// The whole pixel where a sprite whose edge lies at v is drawn by the
// software renderer: the GPU renderer takes v as it is and its pixel
// centres pick the nearest pixel (a half goes down), so the software
// renderer places the sprite there too and both show it in one place.
inline int KivSpritePlace(float v) { return KivTruncToInt(std::ceil(static_cast<double>(v) - 0.5)); }
