// Group 6: choice blocks. A block in the script is select, one select_next
// call per choice (each after the pushes of its arguments), then
// end_select. select runs the block's core instructions itself, builds
// every choice, and leaves the pc on end_select, which waits for the choice.
#include "choice/choices.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/sprite_records.h"
#include "platform/core/byte_io.h"
#include "platform/core/text_encoding.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

constexpr uint32_t kCallWord = 0x00010017;
constexpr uint32_t kSelectNextWord = 0x00060002;
constexpr uint32_t kEndSelectWord = 0x00060003;
constexpr uint32_t kCoreGroup = 1;
constexpr uint32_t kCoreOpCount = 33;
// The system button that a waiting choice block turns off.
constexpr int kChoiceSystemButton = 6;

ChoiceState& Block(VmContext* ctx) { return ctx->choice; }

uint32_t WordAt(const ScriptRecord& s, uint32_t at) {
  uint32_t w;
  std::memcpy(&w, s.code + at, 4);
  return w;
}

void ReleaseSprites(VmContext* ctx) {
  ChoiceState& c = Block(ctx);
  for (int i = kChoiceSlots - 1; i >= 0; --i) {
    if (c.textSprites[i]) KivSpriteRelease(ctx->renderList, c.textSprites[i]);
    if (c.choiceSprites[i]) KivSpriteRelease(ctx->renderList, c.choiceSprites[i]);
    c.textSprites[i] = nullptr;
    c.choiceSprites[i] = nullptr;
  }
}

// A malformed block: nothing of it stays built or on screen.
int Malformed(VmContext* ctx, const char* message_utf8) {
  ChoiceState& c = Block(ctx);
  ReleaseSprites(ctx);
  c.count = 0;
  c.active = 0;
  game_debug_log(kDebugWindowError, plat::Sjis(message_utf8), static_cast<int>(ctx->script.pc));
  return 0;
}

// Builds the choice of one select_next call whose arguments lie on the
// value stack: false when the call cannot be used (logged).
bool BuildChoice(VmContext* ctx) {
  ChoiceState& c = Block(ctx);
  const auto text = static_cast<uint32_t>(value_stack_pop(ctx));
  const auto label = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx);
  const int32_t y = value_stack_pop(ctx);
  const auto flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t row = value_stack_pop(ctx);
  const int slot = c.count;  // below kChoiceSlots: the caller counts the entries
  uint32_t pc;
  if (!label_pc(ctx, label, &pc)) return true;  // logged; the choice keeps no slot
  c.targets[slot] = pc - ctx->script.codeBase;
  c.baseRows[slot] = row;
  c.flags[slot] = flags;
  if (!(flags & kChoiceBuild)) return true;

  char name[kFileRecordBytes + 1];
  if (!get_record_name(ctx, c.styleImage, name, true)) {
    game_debug_log(kDebugWindowError, "select style image refused : 0x%08X", c.styleImage);
    return true;
  }
  const int32_t priority = ctx->priorityBase + kChoicePriority;
  KivSprite* back = sprite_load(ctx->renderList, name, 1280, 720, priority);
  if (!back) return true;  // logged by sprite_load
  uint8_t entry[260];
  get_string_operand(ctx, text, entry);
  const char* str = string_operand_text(entry);
  KivSprite* label_sprite = str[0] ? KivSpriteCreateText(ctx->renderList, str, priority, 0xFFFFFFFFu) : nullptr;

  KivSpriteSetColor(back, c.colour[0]);
  KivSpriteRectSetPos(back, 0, static_cast<unsigned>(row));
  KivSpriteSetPos(back, static_cast<float>(x), static_cast<float>(y));
  if (label_sprite) {
    KivSpriteInfo bi{}, ti{};
    KivSpriteGetInfo(back, &bi);
    KivSpriteGetInfo(label_sprite, &ti);
    // Centred on the cell; halves rounded toward minus infinity.
    auto half = [](int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); };
    const int64_t dx = half(bi.cellWidth) - half(ti.cellWidth);
    const int64_t dy = half(bi.cellHeight) - half(ti.cellHeight);
    KivSpriteSetPos(label_sprite, static_cast<float>(x + dx), static_cast<float>(y + dy));
  }
  c.choiceSprites[slot] = back;
  c.textSprites[slot] = label_sprite;
  game_debug_log(kDebugWindowCommand, "select[%d]  %s", slot, str);
  c.count = slot + 1;
  return true;
}

int CmdSelectInit(VmContext* ctx) {
  ChoiceState& c = Block(ctx);
  const auto image = static_cast<uint32_t>(value_stack_pop(ctx));
  uint32_t colours[3];
  for (uint32_t& v : colours) v = static_cast<uint32_t>(value_stack_pop(ctx)) | 0xFF000000u;
  char name[kFileRecordBytes + 1];
  if (!get_record_name(ctx, image, name, true)) {
    game_debug_log(kDebugWindowError, "select_init image refused : 0x%08X", image);
    return 0;
  }
  c.styleImage = image;
  std::memcpy(c.colour, colours, sizeof colours);
  game_debug_log(kDebugWindowCommand, "select_init %s, %X, %X, %X", name, colours[0],
                 colours[1], colours[2]);
  return 1;
}

int CmdSelect(VmContext* ctx) {
  ChoiceState& c = Block(ctx);
  ScriptRecord& s = ctx->script;
  // Sprites an earlier block still holds go first.
  ReleaseSprites(ctx);
  c.active = 0;
  c.shown = 0;
  c.count = 0;
  int entries = 0;
  // A block runs forward through its pushes: it cannot hold more
  // instructions than the code has words, so a jump back that loops is cut.
  const uint32_t limit = s.codeSize / 4 + 1;
  for (uint32_t steps = 0;; ++steps) {
    if (!s.code || s.pc > s.codeSize || s.codeSize - s.pc < 4 || steps > limit)
      return Malformed(ctx, "[%d]select命令の形式に誤りがあります。");
    const uint32_t word = WordAt(s, s.pc);
    if (word == kCallWord) {
      if (s.codeSize - s.pc < 12) return Malformed(ctx, "[%d]select命令の形式に誤りがあります。");
      const uint32_t command = WordAt(s, s.pc + 4);
      s.pc += 12;
      if (command == kEndSelectWord) {
        s.pc -= 12;
        c.cursor = -1;
        c.keyboard = 0;
        c.shown = 1;
        c.active = 1;
        return 1;
      }
      if (command != kSelectNextWord) return Malformed(ctx, "[%d]select命令の形式に誤りがあります。");
      // The 16th entry is taken (its arguments leave the value stack) and
      // then the block is refused.
      BuildChoice(ctx);
      if (++entries > kChoiceMaxEntries) return Malformed(ctx, "[%d]select命令が多すぎます。");
      continue;
    }
    // The pushes before a choice: core instructions only, checked as the
    // run loop checks them.
    const uint32_t op = word & 0xFFFF;
    if ((word >> 16) != kCoreGroup || op == 0 || op > kCoreOpCount)
      return Malformed(ctx, "[%d]select命令の形式に誤りがあります。");
    s.pc += 4;
    s.commandWord = word;
    if (!vm_execute_core(ctx, word)) return Malformed(ctx, "[%d]select命令の形式に誤りがあります。");
  }
}

int CmdSelectNext(VmContext* ctx) {
  // Outside a block: its arguments are taken off the stack all the same.
  for (int i = 0; i < 6; ++i) value_stack_pop(ctx);
  game_debug_log(kDebugWindowError, plat::Sjis("[%d]意味のないselect命令が呼び出されました。"),
                 static_cast<int>(ctx->script.pc));
  return 0;
}

void Highlight(ChoiceState& c, int i, bool on) {
  const uint32_t colour = on ? c.colour[1] : c.colour[0];
  const int32_t row = c.lock ? 0 : c.baseRows[i];
  KivSpriteSetColor(c.choiceSprites[i], colour);
  if (c.textSprites[i]) KivSpriteSetColor(c.textSprites[i], colour);
  KivSpriteRectSetPos(c.choiceSprites[i], 0, static_cast<unsigned>(row + (on ? 1 : 0)));
}

bool Selectable(const ChoiceState& c, int i) { return (c.flags[i] & kChoiceMouse) && c.choiceSprites[i]; }

void Take(VmContext* ctx, int i) {
  ChoiceState& c = Block(ctx);
  ScriptRecord& s = ctx->script;
  const uint64_t pc = uint64_t{s.codeBase} + c.targets[i];
  game_debug_log(kDebugWindowCommand, "select choice %d [%u]", i, static_cast<unsigned>(pc));
  if (pc <= s.codeSize) s.pc = static_cast<uint32_t>(pc);
  ReleaseSprites(ctx);
  text_input_clear(ctx);
  if (!get_skip_state(ctx)) ctx->pauseTimer = PauseTimer{KivtimeGetTime(), 100};
  system_btn_enabled_set(ctx, kChoiceSystemButton, 1);
  KivInputClear();
  c.active = 0;
  c.count = 0;  // nothing is built any more
  c.cursor = -1;
  c.keyboard = 0;
}

int CmdEndSelect(VmContext* ctx) {
  ChoiceState& c = Block(ctx);
  command_wait_again(ctx);
  system_btn_enabled_set(ctx, kChoiceSystemButton, 0);
  if (!c.shown) return 1;
  if (c.count <= 0 || c.count > kChoiceSlots) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%d]意味のないend_select命令が呼び出されました。"),
                   static_cast<int>(ctx->script.pc));
    return 1;
  }
  const auto push = static_cast<uint32_t>(KivInputGetKeyPush());
  const int mx = KivInputGetMouseX(), my = KivInputGetMouseY();
  if (push & (kChoiceKeyPrevious | kChoiceKeyNext)) {
    if (push & kChoiceKeyPrevious)
      c.cursor = std::max(c.cursor - 1, 0);
    else
      c.cursor = std::min(c.cursor + 1, c.count - 1);
    c.keyboard = 1;
    c.keyMouseX = mx;
    c.keyMouseY = my;
    for (int i = 0; i < c.count; ++i)
      if (Selectable(c, i)) Highlight(c, i, i == c.cursor);
    // The pointer follows where the platform lets it; the selection does
    // not depend on it.
    if (KivSprite* b = c.choiceSprites[c.cursor]) {
      KivSpriteInfo bi{};
      KivSpriteGetInfo(b, &bi);
      KivCursorSetPos(static_cast<int>(bi.x) + bi.cellWidth / 2, static_cast<int>(bi.y) + bi.cellHeight / 2);
    }
    return 1;
  }
  if (c.keyboard && (mx != c.keyMouseX || my != c.keyMouseY)) c.keyboard = 0;
  auto under = [&](int i) {
    return KivSpriteHit(c.choiceSprites[i], mx, my, 0) ||
           (c.textSprites[i] && KivSpriteHit(c.textSprites[i], mx, my, 0));
  };
  // Where choices overlap, the first in the list is the one under the mouse.
  int hovered = -1;
  for (int i = 0; i < c.count && hovered < 0; ++i)
    if (Selectable(c, i) && under(i)) hovered = i;
  if (!c.keyboard && hovered >= 0) c.cursor = hovered;
  const int selected = c.keyboard ? c.cursor : hovered;
  int take = -1;
  for (int i = 0; i < c.count; ++i) {
    if (!Selectable(c, i)) continue;
    Highlight(c, i, i == selected);
    if (take < 0 && ((i == selected && (push & kChoiceKeyDecide)) || (i == hovered && (push & kChoiceClick))))
      take = i;
  }
  if (take >= 0) Take(ctx, take);
  return 1;
}

int CmdSelectClear(VmContext* ctx) {
  ReleaseSprites(ctx);
  game_debug_puts(kDebugWindowCommand, "select_clear");
  return 1;
}

int CmdSelectSetOffset(VmContext* ctx) {
  const int32_t index = value_stack_pop(ctx);
  const int32_t offset = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "select_set_offset %d, %d", index, offset);
  if (!index_in(index, kChoiceSlots, "select_set_offset choice")) return 0;
  Block(ctx).baseRows[index] = static_cast<int32_t>(static_cast<uint32_t>(offset) * 3u);
  return 1;
}

int CmdSelectLock(VmContext* ctx) {
  const int32_t flag = value_stack_pop(ctx);
  Block(ctx).lock = flag;
  game_debug_log(kDebugWindowCommand, "select_lock %d", flag);
  return 1;
}

}  // namespace

void select_release(VmContext* ctx) {
  ReleaseSprites(ctx);
  std::memset(&ctx->choice, 0, sizeof ctx->choice);
}

bool select_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const ChoiceState& c = Block(ctx);
  plat::ByteWriter w;
  w.U32(c.styleImage);
  for (uint32_t v : c.colour) w.U32(v);
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

namespace {

bool ReadStyle(const VmContext* ctx, std::span<const uint8_t> data, uint32_t cursor, uint32_t* image,
               uint32_t (&colours)[3], size_t* size) {
  if (cursor > data.size()) return false;
  plat::ByteReader r(data.subspan(cursor));
  *image = r.U32();
  for (uint32_t& v : colours) v = r.U32();
  if (!r.ok()) {
    game_debug_puts(kDebugWindowError, "load error : choice block short");
    return false;
  }
  // 0 is the style of a game that never set one; anything else must name
  // an image the script could have named.
  uint8_t name[kFileRecordBytes];
  if (*image != 0 && !get_record_operand(const_cast<VmContext*>(ctx), *image, name, false /* only reads */)) {
    game_debug_log(kDebugWindowError, "load error : choice style image 0x%08X", *image);
    return false;
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool select_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t image, colours[3];
  size_t size = 0;
  if (!ReadStyle(ctx, data, *cursor, &image, colours, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool select_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t image, colours[3];
  size_t size = 0;
  if (!ReadStyle(ctx, data, *cursor, &image, colours, &size)) return false;
  ChoiceState& c = Block(ctx);
  c.styleImage = image;
  std::memcpy(c.colour, colours, sizeof colours);
  *cursor += static_cast<uint32_t>(size);
  return true;
}

void select_commands_install() {
  static const CommandBinding kCommands[] = {
      {"select_init", CmdSelectInit},   {"select", CmdSelect},
      {"select_next", CmdSelectNext},   {"end_select", CmdEndSelect},
      {"select_clear", CmdSelectClear}, {"select_set_offset", CmdSelectSetOffset},
      {"select_lock", CmdSelectLock},
  };
  command_bind_all(kCommands);
}
