// The message window's block of a save: the window's set-up, the novel page,
// the placements of its sprites, the base image and the icons. The line
// itself is not kept: a save made at a text line resumes at that command,
// which shows the line anew.
//
// Layout (little-endian): u32 initialised (0 ends the block); u32 text mode;
// u32 icon placement; 8 x i32 metrics and u16 button group + 2 spare bytes;
// 9 x i32 novel words and the 2048-byte page; the text and name records'
// 15 transform words (and the novel record's in mode 1); u32 base image
// operand, when non-zero followed by KivSpriteInfo (18 x 4) and 15 words;
// per icon slot the same plus u32 animation time.
#include <cstring>
#include <memory>

#include "component_entries.h"
#include "layers/sprite_save_fields.h"
#include "platform/core/byte_io.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kSnapshotLimit = 0x100000;

void PutTransform(plat::ByteWriter& w, const SpriteRecord* rec) {
  sprite_transform_write(w, rec ? rec->t : SpriteTransform{});
}

// Appends one piece when it fits, else logs and skips it.
bool Piece(std::span<uint8_t> buffer, uint32_t* used, plat::ByteWriter& w) {
  const std::vector<uint8_t>& b = w.bytes();
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSnapshotLimit);
  if (*used + static_cast<uint64_t>(b.size()) > limit) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  std::memcpy(buffer.data() + *used, b.data(), b.size());
  *used += static_cast<uint32_t>(b.size());
  return true;
}

void PutImage(plat::ByteWriter& w, const SpriteRecord* rec, uint32_t operand) {
  if (!rec || !rec->sprite) operand = 0;
  w.U32(operand);
  if (!operand) return;
  KivSpriteInfo info{};
  KivSpriteGetInfo(rec->sprite, &info);
  sprite_info_write(w, info);
  PutTransform(w, rec);
}

struct SavedImage {
  uint32_t operand = 0;
  KivSpriteInfo info{};
  SpriteTransform t{};
  int32_t time = 0;
};

bool GetImage(plat::ByteReader& r, SavedImage* out, bool timed) {
  out->operand = r.U32();
  if (!out->operand) return r.ok();
  out->info = sprite_info_read(r);
  sprite_transform_read(r, &out->t);
  if (timed) out->time = r.I32();
  return r.ok();
}

void Reapply(VmContext* ctx, SpriteRecord* rec, const SpriteTransform& t) {
  if (!rec) return;
  std::memcpy(&rec->t, &t, offsetof(SpriteTransform, frame));
  sprite_transform_apply(ctx, rec);
}

}  // namespace

bool text_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const MessageWindow& s = ctx->text;
  bool ok = true;
  {
    plat::ByteWriter w;
    w.U32(s.initialised);
    ok = Piece(buffer, used, w) && ok;
  }
  if (!s.initialised) return ok;
  for (uint32_t v : {s.textMode, s.iconPlacement}) {
    plat::ByteWriter w;
    w.U32(v);
    ok = Piece(buffer, used, w) && ok;
  }
  {
    plat::ByteWriter w;
    for (int32_t v : {s.fontSize, s.rubySize, s.textX, s.textY, s.textW, s.textH, s.nameX, s.nameY}) w.I32(v);
    w.U16(s.buttonGroup);
    w.U16(0);
    ok = Piece(buffer, used, w) && ok;
  }
  {
    plat::ByteWriter w;
    for (int32_t v : {s.novelX, s.novelY, s.novelW, s.novelH, s.novelNamed, s.novelTextX, s.novelNextY, s.novelEndX,
                      s.novelEndY})
      w.I32(v);
    w.Bytes(s.novelPage, sizeof s.novelPage);
    ok = Piece(buffer, used, w) && ok;
  }
  for (const SpriteRecord* rec : {s.textSprite, s.nameSprite}) {
    plat::ByteWriter w;
    PutTransform(w, rec);
    ok = Piece(buffer, used, w) && ok;
  }
  if (s.textMode == 1) {
    plat::ByteWriter w;
    PutTransform(w, s.novelSprite);
    ok = Piece(buffer, used, w) && ok;
  }
  {
    plat::ByteWriter w;
    PutImage(w, s.baseImage, s.baseImageOperand);
    ok = Piece(buffer, used, w) && ok;
  }
  for (const TextIcon& icon : s.icons) {
    plat::ByteWriter w;
    PutImage(w, icon.record, icon.imageOperand);
    if (icon.record && icon.record->sprite && icon.imageOperand) {
      const int time = KivAnimationGetTime(icon.animation);
      w.I32(icon.animation && time >= 0 ? time : icon.animationTime);
    }
    ok = Piece(buffer, used, w) && ok;
  }
  return ok;
}

namespace {

// The block as read and checked.
struct SavedText {
  uint32_t initialised = 0;
  MessageWindow in{};
  SpriteTransform textT{}, nameT{}, novelT{};
  SavedImage base, icons[kTextIconSlots];
};

bool ReadText(std::span<const uint8_t> data, uint32_t cursor, SavedText* out, size_t* size) {
  if (cursor > data.size()) return false;
  plat::ByteReader r(data.subspan(cursor));
  out->initialised = r.U32();
  if (!r.ok()) {
    game_debug_puts(kDebugWindowError, "text restore : short block");
    return false;
  }
  if (!out->initialised) {
    *size = r.pos();
    return true;
  }
  MessageWindow& in = out->in;
  in.textMode = r.U32();
  in.iconPlacement = r.U32();
  for (int32_t* v : {&in.fontSize, &in.rubySize, &in.textX, &in.textY, &in.textW, &in.textH, &in.nameX, &in.nameY})
    *v = r.I32();
  in.buttonGroup = r.U16();
  r.U16();
  for (int32_t* v : {&in.novelX, &in.novelY, &in.novelW, &in.novelH, &in.novelNamed, &in.novelTextX, &in.novelNextY,
                     &in.novelEndX, &in.novelEndY})
    *v = r.I32();
  r.Bytes(in.novelPage, sizeof in.novelPage);
  in.novelPage[sizeof in.novelPage - 1] = 0;
  sprite_transform_read(r, &out->textT);
  sprite_transform_read(r, &out->nameT);
  if (in.textMode == 1) sprite_transform_read(r, &out->novelT);
  GetImage(r, &out->base, false);
  for (SavedImage& icon : out->icons) GetImage(r, &icon, true);
  const bool sane = in.textMode <= 1 && in.iconPlacement <= 1 && in.fontSize >= 1 && in.fontSize <= 512 &&
                    in.rubySize >= 0 && in.rubySize <= 512 && in.textW >= 1 && in.textW <= 4096 && in.textH >= 1 &&
                    in.textH <= 4096 && (in.buttonGroup < 8 || in.buttonGroup == 0xFFFF);
  if (!r.ok() || !sane) {
    game_debug_puts(kDebugWindowError, "text restore : bad block");
    return false;
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool text_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  auto saved = std::make_unique<SavedText>();
  size_t size = 0;
  if (!ReadText(data, *cursor, saved.get(), &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool text_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  auto saved = std::make_unique<SavedText>();
  size_t size = 0;
  if (!ReadText(data, *cursor, saved.get(), &size)) return false;
  if (!saved->initialised) {
    text_release(ctx);
    *cursor += static_cast<uint32_t>(size);
    return true;
  }
  // Everything read and checked: the window is rebuilt, and the whole block
  // counts as read whatever its sprites make of it.
  *cursor += static_cast<uint32_t>(size);
  const MessageWindow& in = saved->in;
  const SpriteTransform &textT = saved->textT, &nameT = saved->nameT, &novelT = saved->novelT;
  SavedImage& base = saved->base;
  SavedImage (&icons)[kTextIconSlots] = saved->icons;
  text_release(ctx);
  MessageWindow& w = ctx->text;
  const KivTask* caption = w.captionTask;
  std::memcpy(&w.textMode, &in.textMode, offsetof(MessageWindow, visible) - offsetof(MessageWindow, textMode));
  w.captionTask = const_cast<KivTask*>(caption);
  w.initialised = 1;
  w.visible = 0;
  // The window draws its names and lines in the engine's current size, which
  // text_init set: a loaded window sets it the same way, or its lines would
  // take whatever size was current when the load came.
  KivFontSetFontSize(w.fontSize);
  if (w.buttonGroup != 0xFFFF) btn_group_view(ctx, w.buttonGroup, 0);
  if (!text_sprites_build(ctx)) return false;
  Reapply(ctx, w.textSprite, textT);
  Reapply(ctx, w.nameSprite, nameT);
  if (w.textMode == 1) {
    w.novelSprite = text_record_make(ctx, kTextRecordNovel, 1280, 720, ctx->priorityBase + kTextPriorityText + 1,
                                     w.novelX, w.novelY);
    Reapply(ctx, w.novelSprite, novelT);
  }
  char name[33];
  if (base.operand) {
    const int32_t override = text_system_words(ctx)[kSysWindowImage];
    const uint32_t operand = override != -1 && override != 0 ? static_cast<uint32_t>(override) : base.operand;
    w.baseImage = text_image_load(ctx, kTextRecordBase, operand, base.info.priority, 0, 0, name);
    if (w.baseImage) {
      w.baseImageOperand = operand;
      KivSpriteSetInfo(w.baseImage->sprite, &base.info);
      const int32_t alpha = text_system_words(ctx)[kSysWindowAlpha];
      if (alpha != -1) base.t.colour = (base.t.colour & 0xFFFFFFu) | static_cast<uint32_t>(alpha & 0xFF) << 24;
      Reapply(ctx, w.baseImage, base.t);
      KivSpriteViewCtrl(w.baseImage->sprite, 0);
    }
  }
  for (int i = 0; i < kTextIconSlots; ++i) {
    if (!icons[i].operand) continue;
    TextIcon& icon = w.icons[i];
    icon.record = text_image_load(ctx, kTextRecordIcon0 + i, icons[i].operand, icons[i].info.priority, 0, 0, name);
    if (!icon.record) continue;
    icon.imageOperand = icons[i].operand;
    icon.animationTime = icons[i].time;
    KivSpriteSetInfo(icon.record->sprite, &icons[i].info);
    Reapply(ctx, icon.record, icons[i].t);
    KivSpriteViewCtrl(icon.record->sprite, 0);
    icon.animation = KivAnimation(icon.record->sprite, 1, static_cast<uint32_t>(icons[i].time));
  }
  return true;
}
