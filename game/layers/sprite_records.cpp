// Sprite records: the table, its live list, image attributes from
// graphic.dat, loading by name and the additive transform.
#include "layers/sprite_records.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vm/checked_index.h"
#include "component_entries.h"
#include "layers/display_queue.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "data/graphic_table.h"
#include "vm/vm_context.h"

namespace {

// The image loaders, tried in this order: difference and GE images (".pgd"),
// TGA and BMP; ".mpg" makes a movie sprite.
constexpr const char* kLoaderExtensions[] = {".pgd", ".mpg", ".tga", ".bmp"};

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void Name32(char (&out)[33], const uint8_t* p) {
  std::memcpy(out, p, 32);
  out[32] = 0;
}

// "#AARRGGBB" or "#0xAARRGGBB": the colour, false for anything else.
bool ColourName(const char* name, uint32_t* colour) {
  if (name[0] != '#') return false;
  const char* p = name + 1;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  if (!*p) return false;
  uint64_t v = 0;
  for (; *p; ++p) {
    const char c = *p;
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = (v << 4 | static_cast<uint64_t>(d)) & 0xFFFFFFFFu;
  }
  *colour = static_cast<uint32_t>(v);
  return true;
}

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

bool AspectPositionOn(VmContext* ctx) {
  // The switch is a system word of the game record that holds the context.
  auto* g = reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
  return g->system.word[kSysAspectPosition] != 0;
}

void Unlink(VmContext* ctx, SpriteRecord* r) {
  if (!r->linked) return;
  if (r->prev) r->prev->next = r->next;
  else ctx->sprites.live = r->next;
  if (r->next) r->next->prev = r->prev;
  r->prev = r->next = nullptr;
  r->linked = 0;
}

}  // namespace

KivRenderList* game_render_list(const VmContext* ctx) {
  return ctx->renderList ? ctx->renderList : KivRenderGetActive();
}

// ---- Image attributes ----

bool sprite_attrs_copy(const VmContext* ctx, const char* name, ImageAttributes* out) {
  std::memset(out, 0, sizeof *out);
  uint8_t key[kGraphicNameBytes] = {};
  std::memcpy(key, name, strnlen(name, sizeof key));
  uint8_t raw[kGraphicRecordBytes];
  if (!graphic_find(ctx, key, raw)) return false;
  Name32(out->name, raw);
  out->flags = Le32(raw + 32);
  Name32(out->file, raw + 36);
  Name32(out->motion, raw + 68);
  out->priorityStep = static_cast<int32_t>(Le32(raw + 100));
  out->renderMode = static_cast<int32_t>(Le32(raw + 104));
  out->moveX = static_cast<int32_t>(Le32(raw + 108));
  out->moveY = static_cast<int32_t>(Le32(raw + 112));
  out->scalePercent = static_cast<int32_t>(Le32(raw + 116));
  out->colour = Le32(raw + 120);
  out->centreX = static_cast<int32_t>(Le32(raw + 124));
  out->centreY = static_cast<int32_t>(Le32(raw + 128));
  return true;
}

const char* sprite_attrs_file(const ImageAttributes* attrs, const char* name) {
  return attrs && attrs->file[0] ? attrs->file : name;
}

void sprite_attrs_apply(VmContext* ctx, const ImageAttributes& a, SpriteRecord* record, uint32_t mask) {
  if (!record || !record->sprite) return;
  KivSprite* s = record->sprite;
  const uint32_t flags = a.flags & mask;
  if (flags & kAttrRenderMode) KivSpriteSetRenderMode(s, a.renderMode + 1);
  if (flags & kAttrMotion) motion_load(ctx, record, a.motion);
  if (flags & kAttrColour) KivSpriteSetColor(s, a.colour);
  if (flags & kAttrScale) KivSpriteSetScale(s, static_cast<float>(a.scalePercent) / 100.0f);
  if (flags & kAttrMove) KivSpriteMovePos(s, static_cast<float>(a.moveX), static_cast<float>(a.moveY));
  if (flags & kAttrCentre) KivSpriteSetCenterOffset(s, a.centreX, a.centreY);
}

// ---- Loading ----

KivSprite* sprite_load_quiet(KivRenderList* list, const char* name, int width, int height, int priority) {
  if (!list || !name || !name[0]) return nullptr;
  uint32_t colour = 0;
  if (ColourName(name, &colour)) {
    KivSprite* s = KivSpriteCreate(list, width, height, priority);
    if (s) KivSpritePaint(s, colour);
    return s;
  }
  for (const char* ext : kLoaderExtensions) {
    std::string path = std::string(name) + ext;
    KivSprite* s = std::strcmp(ext, ".mpg") == 0 ? KivMSpriteLoad(list, path.c_str(), priority)
                                                 : KivSpriteLoad(list, path.c_str(), priority);
    if (s) return s;
  }
  return nullptr;
}

KivSprite* sprite_load(KivRenderList* list, const char* name, int width, int height, int priority) {
  KivSprite* s = sprite_load_quiet(list, name, width, height, priority);
  if (!s) game_debug_log(kDebugWindowError, "sprite load error [%s]", name ? name : "");
  return s;
}

// ---- Records ----

SpriteRecord* sprite_record_get(VmContext* ctx, int index) {
  if (index < 0 || index >= kSpriteRecordCount) return nullptr;
  return &ctx->sprites.records[index];
}

SpriteRecord* sprite_record_init(VmContext* ctx, int kind, int index) {
  static constexpr int kBase[] = {0, kSpriteRecordLayerBase, kSpriteRecordButtonBase};
  static constexpr int kEnd[] = {kSpriteRecordLayerBase, kSpriteRecordButtonBase, kSpriteRecordCount};
  if (!index_in(kind, 3, "sprite record kind")) return nullptr;
  if (!index_in(index, kEnd[kind] - kBase[kind], "sprite record")) return nullptr;
  SpriteRecord* r = &ctx->sprites.records[kBase[kind] + index];
  Unlink(ctx, r);  // a record made again without a release leaves the list first
  if (r->motionSlot) motion_free(ctx, r->motionSlot);  // and lets its motion go
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->index = kBase[kind] + index;
  r->t.aScale = 1.0f;
  r->t.colour = 0xFFFFFFFFu;
  r->next = ctx->sprites.live;
  if (r->next) r->next->prev = r;
  ctx->sprites.live = r;
  r->linked = 1;
  return r;
}

void sprite_record_release(VmContext* ctx, SpriteRecord* r) {
  if (!r) return;
  if (r->motionSlot) motion_free(ctx, r->motionSlot);
  if (r->sprite) KivSpriteRelease(game_render_list(ctx), r->sprite);
  Unlink(ctx, r);
  std::memset(static_cast<void*>(r), 0, sizeof *r);
}

void sprite_record_reset(VmContext* ctx, SpriteRecord* r) {
  if (!r) return;
  if (r->motionSlot) motion_free(ctx, r->motionSlot);
  // The sprite stays on screen until the next run; if the queue cannot take
  // it, it goes now rather than never.
  if (r->sprite && !display_queue_post_release(ctx, r->sprite)) KivSpriteRelease(game_render_list(ctx), r->sprite);
  Unlink(ctx, r);
  std::memset(static_cast<void*>(r), 0, sizeof *r);
}

// ---- The transform ----

void sprite_transform_apply(VmContext* ctx, SpriteRecord* r) {
  if (!r || !r->sprite) return;
  const SpriteTransform& t = r->t;
  const SpriteFrameTerms& p = t.frame;
  const int64_t x = int64_t{t.aX} + t.bX + p.cX + p.dX + p.eX + t.delta.x + t.f.x;
  const int64_t y = int64_t{t.aY} + t.bY + p.cY + p.dY + p.eY + t.delta.y + t.f.y;
  int32_t rot[3];
  for (int i = 0; i < 3; ++i)
    rot[i] = Saturate(int64_t{t.aRot[i]} + t.bRot[i] + p.cRot[i] + p.dRot[i] + t.delta.rot[i] + t.f.rot[i]);
  const float scale = t.aScale + t.bScale + p.cScale + p.dScale + t.delta.scale + t.f.scale;
  const int alpha = std::clamp(static_cast<int>(t.colour >> 24) + t.bAlpha + p.cAlpha + p.dAlpha + t.delta.alpha +
                                   t.f.alpha,
                               0, 255);
  KivSpriteSetPos(r->sprite, static_cast<float>(x), static_cast<float>(y));
  if (AspectPositionOn(ctx)) KivSpriteConvertAspectPosition(r->sprite, t.aspectType);
  KivSpriteSetRotateEx(r->sprite, rot[0], rot[1], rot[2]);
  KivSpriteSetScale(r->sprite, scale);
  KivSpriteSetColor(r->sprite, static_cast<uint32_t>(alpha) << 24 | (t.colour & 0x00FFFFFFu));
}

void sprite_transform_frame(VmContext* ctx) {
  for (SpriteRecord* r = ctx->sprites.live; r; r = r->next) sprite_transform_apply(ctx, r);
}

void sprite_records_frame_clear(VmContext* ctx) {
  for (SpriteRecord* r = ctx->sprites.live; r; r = r->next) std::memset(&r->t.frame, 0, sizeof r->t.frame);
}

void sprite_delta_fold(VmContext* ctx) {
  for (SpriteRecord* r = ctx->sprites.live; r; r = r->next) {
    SpriteTransform& t = r->t;
    t.aX = Saturate(int64_t{t.aX} + t.delta.x);
    t.aY = Saturate(int64_t{t.aY} + t.delta.y);
    for (int i = 0; i < 3; ++i) t.aRot[i] = Saturate(int64_t{t.aRot[i]} + t.delta.rot[i]);
    t.aScale += t.delta.scale;
    const int alpha = std::clamp(static_cast<int>(t.colour >> 24) + t.delta.alpha, 0, 255);
    t.colour = static_cast<uint32_t>(alpha) << 24 | (t.colour & 0x00FFFFFFu);
    t.delta = SpriteTermSet{};
  }
}

void sprite_record_take_sprite_state(SpriteRecord* r, const KivSpriteInfo& info, const ImageAttributes* a) {
  r->t.aRot[0] = static_cast<int32_t>(info.rotationX);
  r->t.aRot[1] = static_cast<int32_t>(info.rotationY);
  r->t.aRot[2] = static_cast<int32_t>(info.rotationZ);
  r->t.aScale = a && (a->flags & kAttrScale) ? static_cast<float>(a->scalePercent) / 100.0f : info.scale;
  r->t.colour = a && (a->flags & kAttrColour) ? a->colour : info.colour;
}
