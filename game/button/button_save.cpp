// The button block of a save: groups 0-3 only, written whole or not at
// all, read in two steps (every field checked first, then the groups
// rebuilt; anything that cannot be rebuilt, a file gone from the game's
// data, undoes the rest: the load goes on without the groups, logged).
//
// Layout, per group: u32 initialised; when set, u32 hover and click sound
// operands (0: none), 4 x i32 expansion values, then 128 entries, each u32
// 0 (empty) or: u32 image operand, u32 0 (a place the reader ignores), u32
// click, on and off code offsets, the sprite's KivSpriteInfo (18 words; the
// hover snapshot for the hovered button) and the record's 15 transform
// words. Lock, hover and the last-event indexes are not saved; the repeat
// choice neither (restored buttons click on the press).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "button/buttons.h"
#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/layers.h"
#include "layers/sprite_records.h"
#include "layers/sprite_save_fields.h"
#include "platform/core/byte_io.h"
#include "save/save.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kButtonSoundType = 4;
constexpr int32_t kMaxSpriteSide = 8192;

struct SavedEntry {
  uint32_t operand = 0;  // 0: empty
  uint32_t click = 0, on = 0, off = 0;
  KivSpriteInfo info{};
  SpriteTransform t{};
};

struct SavedGroup {
  uint32_t initialised = 0;
  uint32_t hoverSound = 0, clickSound = 0;
  int32_t expansion[kButtonExpansionCount] = {};
  std::vector<SavedEntry> entries;
};

bool Refuse(const char* what, int group, int index) {
  game_debug_log(kDebugWindowError, "load error : button block, %s [%d][%d]", what, group, index);
  return false;
}

bool Finite(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// An operand that names a file: a File.dat record of this script or a
// string variable.
bool OperandOk(const VmContext* ctx, uint32_t operand) {
  if (operand & kStringVariableBit) return (operand & ~kStringVariableBit) < kStringVariableCount;
  return operand < file_record_count(ctx);
}
bool SoundOperandOk(const VmContext* ctx, uint32_t operand) {
  return operand == 0 || operand == kNoOperand || OperandOk(ctx, operand);
}

// A routine offset must land inside the code.
bool RoutineOk(const VmContext* ctx, uint32_t offset) {
  uint32_t pc;
  return offset == 0 || code_offset_pc(ctx, offset, &pc);
}

bool ReadEntry(const VmContext* ctx, plat::ByteReader& r, int g, int i, SavedEntry* e) {
  e->operand = r.U32();
  if (!r.ok()) return Refuse("short", g, i);
  if (e->operand == 0) return true;
  if (!OperandOk(ctx, e->operand)) return Refuse("image operand", g, i);
  r.U32();  // the saving process's pointer
  e->click = r.U32();
  e->on = r.U32();
  e->off = r.U32();
  e->info = sprite_info_read(r);
  sprite_transform_read(r, &e->t);
  if (!r.ok()) return Refuse("short", g, i);
  if (!RoutineOk(ctx, e->click) || !RoutineOk(ctx, e->on) || !RoutineOk(ctx, e->off))
    return Refuse("routine outside the code", g, i);
  const KivSpriteInfo& s = e->info;
  if (s.width <= 0 || s.height <= 0 || s.width > kMaxSpriteSide || s.height > kMaxSpriteSide)
    return Refuse("sprite size", g, i);
  if (s.renderMode < 0 || s.renderMode > 3 || (s.visible != 0 && s.visible != 1)) return Refuse("sprite mode", g, i);
  if (!Finite({s.x, s.y, s.scale, s.rotationX, s.rotationY, s.rotationZ, e->t.aScale, e->t.bScale}))
    return Refuse("sprite placement", g, i);
  return true;
}

bool ReadGroup(const VmContext* ctx, plat::ByteReader& r, int g, SavedGroup* out) {
  out->initialised = r.U32();
  if (!r.ok()) return Refuse("short", g, -1);
  if (out->initialised == 0) return true;
  if (out->initialised != 1) return Refuse("initialised flag", g, -1);
  out->hoverSound = r.U32();
  out->clickSound = r.U32();
  for (int32_t& v : out->expansion) v = r.I32();
  if (!r.ok()) return Refuse("short", g, -1);
  if (!SoundOperandOk(ctx, out->hoverSound) || !SoundOperandOk(ctx, out->clickSound))
    return Refuse("sound operand", g, -1);
  out->entries.resize(kButtonsPerGroup);
  for (int i = 0; i < kButtonsPerGroup; ++i)
    if (!ReadEntry(ctx, r, g, i, &out->entries[i])) return false;
  return true;
}

// A saved sound operand loaded again; 0 and 0x0FFFFFFF are none.
bool LoadSound(VmContext* ctx, uint32_t operand, KivSoundId* out) {
  *out = 0;
  if (operand == 0 || operand == kNoOperand) return true;
  char name[kSoundNameBytes + 1];
  if (!sound_operand_name(ctx, operand, name)) return false;
  *out = sound_load_by_name(name, kButtonSoundType, nullptr);
  if (*out) return true;
  game_debug_log(kDebugWindowError, "sound load error [%s]", name);
  return false;
}

bool OperandName(VmContext* ctx, uint32_t operand, char (&name)[kFileRecordBytes + 1]) {
  return get_record_name(ctx, operand, name, false);
}

// The fifteen saved words over a fresh record.
void CopySavedWords(SpriteRecord* rec, const SpriteTransform& saved) {
  SpriteTransform& t = rec->t;
  t.aX = saved.aX;
  t.aY = saved.aY;
  t.bX = saved.bX;
  t.bY = saved.bY;
  std::copy(std::begin(saved.aRot), std::end(saved.aRot), t.aRot);
  std::copy(std::begin(saved.bRot), std::end(saved.bRot), t.bRot);
  t.aScale = saved.aScale;
  t.bScale = saved.bScale;
  t.colour = saved.colour;
  t.bAlpha = saved.bAlpha;
  t.aspectType = saved.aspectType;
}

// One entry made again; false (logged) when its image no longer loads.
bool RebuildEntry(VmContext* ctx, int g, int i, const SavedEntry& s) {
  ButtonGroup& group = ctx->buttons.groups[g];
  char name[33];
  if (!OperandName(ctx, s.operand, name)) return Refuse("image name", g, i);
  SpriteRecord* rec = sprite_record_init(ctx, kSpriteKindButton, g * kButtonsPerGroup + i);
  if (!rec) return Refuse("record", g, i);
  group.entries[i] = ButtonEntry{rec, s.click, s.on, s.off};
  CopySavedWords(rec, s.t);
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name, &attrs) ? &attrs : nullptr;
  rec->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name), 1280, 720, front_priority(ctx));
  if (!rec->sprite) return Refuse("image no longer loads", g, i);
  rec->imageOperand = s.operand;
  if (s.operand & kStringVariableBit) std::memcpy(rec->name, name, sizeof rec->name);
  KivButtonEntry(group.engine, rec->sprite);
  KivSpriteInfo now{};
  KivSpriteGetInfo(rec->sprite, &now);
  KivSpriteInfo info = s.info;
  // The engine must never be told of pixels the image does not have.
  if (info.width != now.width || info.height != now.height) {
    info.width = now.width;
    info.height = now.height;
  }
  if (info.cellWidth <= 0 || info.cellHeight <= 0 || info.cellWidth > info.width || info.cellHeight > info.height) {
    info.cellWidth = now.cellWidth;
    info.cellHeight = now.cellHeight;
  }
  KivSpriteSetInfo(rec->sprite, &info);
  if (at) sprite_attrs_apply(ctx, *at, rec, kAttrRenderMode | kAttrMotion);
  if (rec->motionSlot) motion_start(ctx, rec->motionSlot);
  return true;
}

bool RebuildGroup(VmContext* ctx, int g, const SavedGroup& s) {
  ButtonGroup& group = ctx->buttons.groups[g];
  KivSoundId hover = 0, click = 0;
  if (!LoadSound(ctx, s.hoverSound, &hover)) return Refuse("hover sound", g, -1);
  if (!LoadSound(ctx, s.clickSound, &click)) {
    if (hover) sound_calls().release(hover);
    return Refuse("click sound", g, -1);
  }
  group.engine = KivButtonCreateEx(hover, click);
  if (!group.engine) {
    if (hover) sound_calls().release(hover);
    if (click) sound_calls().release(click);
    return Refuse("engine group", g, -1);
  }
  group.initialised = 1;
  group.hoverSound = s.hoverSound == kNoOperand ? 0 : s.hoverSound;
  group.clickSound = s.clickSound == kNoOperand ? 0 : s.clickSound;
  std::copy(std::begin(s.expansion), std::end(s.expansion), group.expansion);
  for (int i = 0; i < kButtonsPerGroup; ++i)
    if (s.entries[i].operand != 0 && !RebuildEntry(ctx, g, i, s.entries[i])) return false;
  return true;
}

}  // namespace

bool btn_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  plat::ByteWriter w;
  for (int g = 0; g < kButtonGroupsSaved; ++g) {
    const ButtonGroup& group = ctx->buttons.groups[g];
    w.U32(group.initialised ? 1 : 0);
    if (!group.initialised) continue;
    w.U32(group.hoverSound);
    w.U32(group.clickSound);
    for (int32_t v : group.expansion) w.I32(v);
    for (const ButtonEntry& e : group.entries) {
      const SpriteRecord* r = e.record;
      KivSpriteInfo info{};
      if (!r || !r->sprite || r->imageOperand == 0 || !KivSpriteGetInfo(r->sprite, &info)) {
        w.U32(0);
        continue;
      }
      // What an on routine changed on the hovered sprite is not kept.
      if (group.hovered == &e) info = group.hoverSnapshot;
      w.U32(r->imageOperand);
      w.U32(0);
      w.U32(e.click);
      w.U32(e.on);
      w.U32(e.off);
      sprite_info_write(w, info);
      sprite_transform_write(w, r->t);
    }
  }
  // Whole or nothing: a block cut short would misalign every later one.
  const std::vector<uint8_t>& block = w.bytes();
  return save_block_append(buffer, used, block.data(), block.size());
}

namespace {

bool ReadBlock(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, std::vector<SavedGroup>* saved,
               size_t* size) {
  if (cursor > data.size()) return Refuse("cursor", -1, -1);
  plat::ByteReader r(data.subspan(cursor));
  saved->assign(kButtonGroupsSaved, SavedGroup{});
  for (int g = 0; g < kButtonGroupsSaved; ++g)
    if (!ReadGroup(ctx, r, g, &(*saved)[g])) return false;
  *size = r.pos();
  return true;
}

}  // namespace

bool btn_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<SavedGroup> saved;
  size_t size = 0;
  if (!ReadBlock(ctx, data, *cursor, &saved, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool btn_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  std::vector<SavedGroup> saved;
  size_t size = 0;
  if (!ReadBlock(ctx, data, *cursor, &saved, &size)) return false;

  // Everything checked: the groups are made again, all or none. The block
  // counts as read either way, so the blocks after it stay in place.
  *cursor += static_cast<uint32_t>(size);
  btn_release_all(ctx);
  for (int g = 0; g < kButtonGroupsSaved; ++g) {
    if (!saved[g].initialised) continue;
    if (!RebuildGroup(ctx, g, saved[g])) {
      btn_release_all(ctx);
      return false;
    }
  }
  return true;
}
