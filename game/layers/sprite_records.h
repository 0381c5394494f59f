// Sprite records: the game's wrappers of engine sprites. One table of 1,168
// records in the VM context: 0..15 the game's own images, 16..143 the 128
// layers (16 + layer), 144..1167 button items (144 + group x 128 + item).
// Live records are chained newest first.
//
// A record holds a sprite's placement as a sum of components, so that each
// writer adds its own part without knowing the others: A is what commands
// set, B comes from the image's graphic.dat attributes, C and D are written
// every frame by actions and motions, E is the layer shake, the deltas are
// the actions' per-frame steps (folded into A) and F belongs to motions.
// Once a frame sprite_transform_frame sums them into each engine sprite.
#pragma once
#include <cstdint>

#include "kiv.h"

struct VmContext;

constexpr int kSpriteRecordCount = 1168;
constexpr int kSpriteRecordLayerBase = 16;
constexpr int kSpriteRecordButtonBase = 144;

// Kinds of sprite_record_init: the game's images, a layer, a button item.
enum SpriteRecordKind : int { kSpriteKindGame = 0, kSpriteKindLayer = 1, kSpriteKindButton = 2 };

// The per-frame terms, cleared at the start of every game frame (60 bytes).
struct SpriteFrameTerms {
  int32_t cX, cY, dX, dY;  // actions and motions
  int32_t eX, eY;          // layer shake
  int32_t cRot[3], dRot[3];
  float cScale, dScale;
  int16_t cAlpha, dAlpha;
};
static_assert(sizeof(SpriteFrameTerms) == 60);

// A set of terms with every axis: the actions' deltas and component F.
struct SpriteTermSet {
  int32_t x, y;
  int32_t rot[3];
  float scale;
  int16_t alpha;
};

// Everything the transform sums; a child layer copies it whole from its
// parent. The first fifteen words (A and B, colour, B alpha, aspect type)
// are what a save keeps.
struct SpriteTransform {
  int32_t aX, aY;
  int32_t bX, bY;
  int32_t aRot[3];
  int32_t bRot[3];
  float aScale;
  float bScale;
  uint32_t colour;  // ARGB; its alpha byte is component A's alpha
  int16_t bAlpha;
  int32_t aspectType;  // given to KivSpriteConvertAspectPosition
  SpriteFrameTerms frame;
  SpriteTermSet delta;
  SpriteTermSet f;
};

struct SpriteRecord {
  KivSprite* sprite;
  uint32_t imageOperand;  // the name operand as the script gave it
  int32_t motionSlot;     // 0 = none
  int32_t index;          // the record's own index
  SpriteTransform t;
  SpriteRecord* prev;
  SpriteRecord* next;
  char name[32];  // the image name when it came from a string variable
  int32_t linked;  // on the live list
};

struct SpriteRecordTable {
  SpriteRecord records[kSpriteRecordCount];
  SpriteRecord* live;  // newest first
};

// ---- Image attributes (graphic.dat) ----

constexpr uint32_t kAttrRenderMode = 0x2000;
constexpr uint32_t kAttrMotion = 0x4000;
constexpr uint32_t kAttrCentre = 0x8000 | 0x10000;
constexpr uint32_t kAttrMove = 0x20000 | 0x40000;
constexpr uint32_t kAttrColour = 0x80000;
constexpr uint32_t kAttrScale = 0x100000;
constexpr uint32_t kAttrAll = 0xFFFFFFFFu;

struct ImageAttributes {
  char name[33];
  uint32_t flags;
  char file[33];    // the file actually loaded
  char motion[33];  // the motion file
  int32_t priorityStep;
  int32_t renderMode;
  int32_t moveX, moveY;
  int32_t scalePercent;
  uint32_t colour;
  int32_t centreX, centreY;
};

// The attributes of a 32-byte image name; false (out zeroed) when graphic.dat
// is not loaded or does not list the name.
bool sprite_attrs_copy(const VmContext* ctx, const char* name, ImageAttributes* out);
// Applies the attribute flags left after ANDing with mask to the record's
// sprite: render mode, motion file, colour, scale, move, centre offset.
void sprite_attrs_apply(VmContext* ctx, const ImageAttributes& attrs, SpriteRecord* record, uint32_t mask);
// The file an image name loads: the attribute record's file name when there
// is one, else the name itself.
const char* sprite_attrs_file(const ImageAttributes* attrs, const char* name);

// ---- Loading ----

// A sprite from an image name into list: "#AARRGGBB" (hex, "0x" allowed) is
// a width x height sprite painted with that colour; any other name is tried
// with ".pgd", ".tga" and ".bmp" in turn. Null, after "sprite load error
// [name]" in debug window 0, when none loads.
KivSprite* sprite_load(KivRenderList* list, const char* name, int width, int height, int priority);
// The same without the log line: the worker thread's loads use it.
KivSprite* sprite_load_quiet(KivRenderList* list, const char* name, int width, int height, int priority);

// ---- Records ----

// Record kind base + index, zeroed, scale 1.0, colour 0xFFFFFFFF, at the head
// of the live list; null (logged) for an index outside the kind's range.
SpriteRecord* sprite_record_init(VmContext* ctx, int kind, int index);
SpriteRecord* sprite_record_get(VmContext* ctx, int index);  // null when out of range
// Frees its motion, releases its sprite, unlinks and zeroes it.
void sprite_record_release(VmContext* ctx, SpriteRecord* record);
// The same, but the sprite goes away at the next run (a queued release).
void sprite_record_reset(VmContext* ctx, SpriteRecord* record);

// ---- The transform ----

// Pushes the sum of the record's components into its engine sprite.
void sprite_transform_apply(VmContext* ctx, SpriteRecord* record);
// Starts a record's own components from its engine sprite's rotation, scale
// and colour; an image's scale and colour attributes, when given, win.
void sprite_record_take_sprite_state(SpriteRecord* record, const KivSpriteInfo& info, const ImageAttributes* attrs);
// Folds every live record's deltas into component A and zeroes them.
void sprite_delta_fold(VmContext* ctx);
// (sprite_records_frame_clear and sprite_transform_frame, the per-frame
// steps, are declared with the game task's steps in component_entries.h.)

// The render list every game sprite lives in: the game's own list, or the
// active one before the game made its own.
KivRenderList* game_render_list(const VmContext* ctx);
