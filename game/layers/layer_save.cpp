// The layer block of a save: written whole or not at all, and read back in
// two steps (every field checked first, then the layers rebuilt, their
// compositions replayed once every layer is back).
//
// Layout: the face slot table (8 x 4 i32), then for each layer 0..63 one u32
// 0 (empty, or being cleared) or: u32 image operand, KivSpriteInfo (18 x 4),
// the record's first 15 transform words, u32 motion slot, u32 flags, u32
// user word, the source rectangle (4 x i32), the four shake words, the 8
// link slots (8 x 8 words), u32 movie loop, and the 32-byte name when the
// operand names a string variable.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "component_entries.h"
#include "start/game_debug_log.h"
#include "layers/layers.h"
#include "layers/sprite_save_fields.h"
#include "platform/core/byte_io.h"
#include "data/script_tables.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kSnapshotLimit = 0x100000;
constexpr int kMaxMotionSlot = 128;
constexpr int32_t kMaxSpriteSide = 8192;

// One layer as the block holds it.
struct SavedLayer {
  uint32_t operand = 0;  // 0: empty
  KivSpriteInfo info{};
  SpriteTransform t{};
  int32_t motionSlot = 0;
  uint32_t flags = 0;
  int32_t userWord = 0;
  KivRect rect{};
  int32_t shakeMode = 0, shakeAmplitude = 0;
  uint32_t shakeDuration = 0, shakeStart = 0;
  LinkSlot links[kLinkSlotCount]{};
  int32_t movieLoop = 0;
  char name[33] = {};
};

bool Refuse(const char* what, int layer) {
  game_debug_log(kDebugWindowError, "load error : layer block, %s [%d]", what, layer);
  return false;
}

bool FiniteAll(std::initializer_list<float> values) {
  for (float v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

// An image operand a save can hold: a File.dat record of this script, or a
// string variable.
bool OperandOk(const VmContext* ctx, uint32_t operand) {
  if (operand & kStringVariableBit) return (operand & ~kStringVariableBit) < kStringVariableCount;
  return operand < file_record_count(ctx);
}

bool ReadLayer(const VmContext* ctx, plat::ByteReader& r, int layer, SavedLayer* out) {
  out->operand = r.U32();
  if (!r.ok()) return Refuse("short", layer);
  if (out->operand == 0) return true;
  if (!OperandOk(ctx, out->operand)) return Refuse("image operand", layer);
  out->info = sprite_info_read(r);
  sprite_transform_read(r, &out->t);
  out->motionSlot = r.I32();
  out->flags = r.U32();
  out->userWord = r.I32();
  out->rect = KivRect{r.I32(), r.I32(), r.I32(), r.I32()};
  out->shakeMode = r.I32();
  out->shakeAmplitude = r.I32();
  out->shakeDuration = r.U32();
  out->shakeStart = r.U32();
  for (LinkSlot& s : out->links) {
    s.control = r.U32();
    s.operand = r.U32();
    for (int32_t* v : {&s.dstX, &s.dstY, &s.srcX, &s.srcY, &s.width, &s.height}) *v = r.I32();
  }
  out->movieLoop = r.I32();
  if (out->operand & kStringVariableBit) {
    uint8_t raw[32];
    r.Bytes(raw, sizeof raw);
    if (!std::memchr(raw, 0, sizeof raw)) return Refuse("name without its end", layer);
    std::memcpy(out->name, raw, sizeof raw);
  }
  if (!r.ok()) return Refuse("short", layer);
  const KivSpriteInfo& i = out->info;
  if (i.width <= 0 || i.height <= 0 || i.width > kMaxSpriteSide || i.height > kMaxSpriteSide)
    return Refuse("sprite size", layer);
  if (i.renderMode < 0 || i.renderMode > 3 || (i.visible != 0 && i.visible != 1)) return Refuse("sprite mode", layer);
  if (!FiniteAll({i.x, i.y, i.scale, i.rotationX, i.rotationY, i.rotationZ, out->t.aScale, out->t.bScale}))
    return Refuse("sprite placement", layer);
  if (out->motionSlot < 0 || out->motionSlot > kMaxMotionSlot) return Refuse("motion slot", layer);
  for (const LinkSlot& s : out->links) {
    const uint32_t composition = s.control & kLinkCompositionMask;
    const bool layerOperand = (s.control & kLinkChild) || composition == kLinkCopyLayer;
    if (layerOperand && s.operand >= static_cast<uint32_t>(kLayerCount)) return Refuse("link layer", layer);
    if (composition == kLinkMixFile && !OperandOk(ctx, s.operand)) return Refuse("link image", layer);
    if (s.width < 0 || s.height < 0 || s.width > kMaxSpriteSide || s.height > kMaxSpriteSide)
      return Refuse("link size", layer);
  }
  return true;
}

void ReplayCompositions(VmContext* ctx, int layer) {
  LayerRecord& l = ctx->layers.layers[layer];
  if (!l.record || !l.record->sprite || !(l.flags & kLayerFlagLinks)) return;
  KivSprite* self = l.record->sprite;
  for (const LinkSlot& s : l.links) {
    const uint32_t composition = s.control & kLinkCompositionMask;
    if (composition == kLinkMixFile) {
      uint8_t raw[kFileRecordBytes];
      if (!get_record_operand(ctx, s.operand, raw, false)) continue;
      char name[33] = {};
      std::memcpy(name, raw, 32);
      KivSprite* src = sprite_load(game_render_list(ctx), name, 1280, 720, 0);
      if (!src) continue;
      KivMixSpriteToSprite(self, s.dstX, s.dstY, s.width, s.height, src, s.srcX, s.srcY);
      KivSpriteRelease(game_render_list(ctx), src);
    } else if (composition == kLinkCopyLayer) {
      const LayerRecord& from = ctx->layers.layers[s.operand];
      if (from.record && from.record->sprite)
        KivCopySpriteToSpriteRGB(self, s.dstX, s.dstY, from.record->sprite, s.srcX, s.srcY, s.width, s.height);
    }
  }
}

}  // namespace

// ---- Save ----

bool layer_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  for (int i = 0; i < kFaceSlotCount; ++i) {
    const FaceSlot* f = face_slot(ctx, i);
    for (int32_t v : {f->layer, f->priorityOffset, f->x, f->y}) w.I32(v);
  }
  for (int i = 0; i < kLayerSavedCount; ++i) {
    // A load still pending is finished first, so the save holds its image.
    layer_load_settle(ctx, i, UINT32_MAX);
    LayerRecord& l = ctx->layers.layers[i];
    const SpriteRecord* r = l.record;
    KivSpriteInfo info{};
    // An empty layer, one being cleared, and one whose image is only the old
    // half of a set-up transition are saved empty.
    if (!r || l.transitionState == kLayerTransitionClear || !r->sprite || r->imageOperand == 0 ||
        !KivSpriteGetInfo(r->sprite, &info)) {
      w.U32(0);
      continue;
    }
    w.U32(r->imageOperand);
    sprite_info_write(w, info);
    sprite_transform_write(w, r->t);
    w.I32(r->motionSlot);
    w.U32(l.flags & ~kLayerFlagLoading);
    w.I32(l.userWord);
    KivRect rect{};
    KivSpriteGetRect(r->sprite, &rect);
    for (int32_t v : {rect.left, rect.top, rect.right, rect.bottom}) w.I32(v);
    w.I32(l.shakeMode);
    w.I32(l.shakeAmplitude);
    w.U32(l.shakeDuration);
    w.U32(l.shakeStart);
    for (const LinkSlot& s : l.links) {
      w.U32(s.control);
      w.U32(s.operand);
      for (int32_t v : {s.dstX, s.dstY, s.srcX, s.srcY, s.width, s.height}) w.I32(v);
    }
    w.I32(l.movieLoop);
    if (r->imageOperand & kStringVariableBit) {
      uint8_t name[32] = {};
      std::memcpy(name, r->name, strnlen(r->name, sizeof name - 1));
      w.Bytes(name, sizeof name);
    }
  }
  const std::vector<uint8_t>& block = w.bytes();
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSnapshotLimit);
  if (*used > limit || block.size() > limit - *used) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  std::memcpy(buffer.data() + *used, block.data(), block.size());
  *used += static_cast<uint32_t>(block.size());
  return true;
}

// ---- Restore ----

namespace {

// The whole block read and checked; *size the bytes it takes.
bool ReadBlock(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, FaceSlot (&faces)[kFaceSlotCount],
               std::vector<SavedLayer>* saved, size_t* size) {
  if (cursor > data.size()) return Refuse("cursor", -1);
  plat::ByteReader r(data.subspan(cursor));
  for (FaceSlot& f : faces) {
    f.layer = r.I32();
    f.priorityOffset = r.I32();
    f.x = r.I32();
    f.y = r.I32();
    if (r.ok() && (f.layer < -1 || f.layer >= kLayerCount)) return Refuse("face layer", -1);
  }
  if (!r.ok()) return Refuse("short", -1);
  saved->assign(kLayerSavedCount, SavedLayer{});
  for (int i = 0; i < kLayerSavedCount; ++i)
    if (!ReadLayer(ctx, r, i, &(*saved)[i])) return false;
  *size = r.pos();
  return true;
}

}  // namespace

bool layer_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  FaceSlot faces[kFaceSlotCount];
  std::vector<SavedLayer> saved;
  size_t size = 0;
  if (!ReadBlock(ctx, data, *cursor, faces, &saved, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool layer_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  FaceSlot faces[kFaceSlotCount];
  std::vector<SavedLayer> saved;
  size_t size = 0;
  if (!ReadBlock(ctx, data, *cursor, faces, &saved, &size)) return false;
  ctx->layers.movieWait = 0;  // a load ends a movie wait

  // Everything checked: the layers are rebuilt.
  for (int i = 0; i < kLayerCount; ++i) {
    const LayerRecord& l = ctx->layers.layers[i];
    if (l.record || l.transition || l.transitionArmed || l.loadSlot) layer_release(ctx, i);
  }
  std::memcpy(ctx->layers.faces, faces, sizeof faces);
  ctx->layers.facesReady = 1;
  for (int i = 0; i < kLayerSavedCount; ++i) {
    const SavedLayer& s = saved[i];
    if (s.operand == 0) continue;
    LayerRecord& l = ctx->layers.layers[i];
    SpriteRecord* rec = sprite_record_init(ctx, kSpriteKindLayer, i);
    if (!rec) continue;
    rec->t = s.t;
    char name[33] = {};
    if (s.operand & kStringVariableBit) {
      std::memcpy(name, s.name, 32);
      std::memcpy(rec->name, s.name, sizeof rec->name);
    } else {
      uint8_t raw[kFileRecordBytes];
      get_record_operand(ctx, s.operand, raw, false);
      std::memcpy(name, raw, 32);
    }
    ImageAttributes attrs;
    const ImageAttributes* at = sprite_attrs_copy(ctx, name, &attrs) ? &attrs : nullptr;
    rec->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name), s.info.width, s.info.height,
                              s.info.priority);
    if (!rec->sprite) {
      sprite_record_release(ctx, rec);
      continue;  // logged by the load; the layer stays empty
    }
    KivSpriteInfo now{};
    KivSpriteGetInfo(rec->sprite, &now);
    KivSpriteInfo info = s.info;
    // The stored sizes must be the image's own: the engine would otherwise
    // read past the pixels it has.
    if (info.width != now.width || info.height != now.height) {
      game_debug_log(kDebugWindowError, "load error : layer %d size %dx%d, the image is %dx%d", i, info.width,
                     info.height, now.width, now.height);
      info.width = now.width;
      info.height = now.height;
    }
    if (info.cellWidth <= 0 || info.cellHeight <= 0 || info.cellWidth > info.width || info.cellHeight > info.height) {
      info.cellWidth = now.cellWidth;
      info.cellHeight = now.cellHeight;
    }
    KivSpriteSetInfo(rec->sprite, &info);
    // The saved motion number named a record of the saving process: it only
    // says that the image had a motion, which is loaded afresh below.
    rec->motionSlot = 0;
    l.flags = s.flags & ~kLayerFlagLoading;
    l.userWord = s.userWord;
    l.shakeMode = s.shakeMode;
    l.shakeAmplitude = s.shakeAmplitude;
    l.shakeDuration = s.shakeDuration;
    l.shakeStart = s.shakeStart;
    std::memcpy(l.links, s.links, sizeof l.links);
    l.movieLoop = s.movieLoop;
    if (l.flags & kLayerFlagRect) {
      const KivRect& q = s.rect;
      if (q.left >= 0 && q.top >= 0 && q.left <= q.right && q.top <= q.bottom && q.right <= info.width &&
          q.bottom <= info.height)
        KivSpriteSetRect(rec->sprite, &q);
      else
        game_debug_log(kDebugWindowError, "load error : layer %d source rectangle", i);
    }
    if ((l.flags & kLayerFlagShake) && l.shakeDuration == kShakeEndless) l.shakeStart = KivtimeGetTime();
    if (l.flags & kLayerFlagMovie) KivMSpritePlay(rec->sprite, l.movieLoop);
    if (at) sprite_attrs_apply(ctx, *at, rec, s.motionSlot ? kAttrRenderMode | kAttrMotion : kAttrRenderMode);
    if (rec->motionSlot) motion_start(ctx, rec->motionSlot);
    rec->imageOperand = s.operand;
    l.record = rec;
  }
  // Second pass: a composition may copy from a layer restored after its
  // own; the filters then work on the composed picture.
  for (int i = 0; i < kLayerSavedCount; ++i) {
    ReplayCompositions(ctx, i);
    const LayerRecord& l = ctx->layers.layers[i];
    if (!l.record || !l.record->sprite) continue;
    for (int n = 1; n <= 12; ++n)
      if (l.flags & (1u << n)) KivSpriteSetOption(l.record->sprite, static_cast<unsigned>(kTransitionCodes[n + 2]));
  }
  layer_view_ctrl(ctx, 0);
  *cursor += static_cast<uint32_t>(size);
  return true;
}
