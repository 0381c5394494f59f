// The display queue: commands prepare their sprites hidden and queue what
// should change on screen; run (with a full-screen engine transition) or
// run_no_wait applies the whole queue in order, so a batch of changes
// becomes visible in one frame. Operations live on the game list under key
// 1, each a command word and up to ten argument words.
//
// An operation names a layer, or a sprite together with the layer that owns
// it, never a bare pointer that may have been freed since: the apply checks
// that the sprite is still the layer's and drops the operation if not. A
// release operation owns its sprite, so flushing the queue releases it.
#pragma once
#include <cstdint>

#include "kiv.h"

struct VmContext;

struct DisplayOperation {
  uint32_t word;  // group << 16 | index of the command that queued it
  uint32_t arg[10];
};
static_assert(sizeof(DisplayOperation) == 44);

// Command words the apply knows.
constexpr uint32_t kOpSpSet = 0x30002;
constexpr uint32_t kOpSpSetEx = 0x30003;
constexpr uint32_t kOpRelease = 0x30005;
constexpr uint32_t kOpClsTransition = 0x3000d;
constexpr uint32_t kOpFaceSet = 0x30014;
constexpr uint32_t kOpSpText = 0x30016;
constexpr uint32_t kOpSpDraw = 0x3002b;
constexpr uint32_t kOpSpShow = 0x3002e;
constexpr uint32_t kOpSpHide = 0x3002f;
constexpr uint32_t kOpTransition = 0x30032;
constexpr uint32_t kOpBtnSet = 0x80003;
constexpr uint32_t kOpBtnHide = 0x80004;
constexpr uint32_t kOpBtnShow = 0x80005;
constexpr uint32_t kOpBtnSetToggle = 0x8000d;
constexpr uint32_t kOpThumbnailSet = 0xa0005;
constexpr uint32_t kOpSaveGetTitle = 0xa0006;
constexpr uint32_t kOpSetSaveTime = 0xa000d;
constexpr uint32_t kOpSetSaveDay = 0xa000e;
constexpr uint32_t kOpGetSaveText = 0xa0010;

// {word, layer}: show the layer's sprite (or start its transition).
int display_queue_post_layer(VmContext* ctx, uint32_t word, int layer);
// {0x30005, sprite}: the queue takes the sprite over and releases it at the
// apply (or when the queue is flushed).
int display_queue_post_release(VmContext* ctx, KivSprite* sprite);
// {0x3002e / 0x3002f, sprite, visible, layer}.
int display_queue_post_view(VmContext* ctx, uint32_t word, int layer, KivSprite* sprite, int visible);

// (display_queue_apply is declared in component_entries.h: the reset
// instruction calls it.) Frees every queued operation without applying it;
// the sprites of release operations are released.
void display_queue_discard(VmContext* ctx);
