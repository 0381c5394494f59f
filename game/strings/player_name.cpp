// The player name: set_playername's entry screen (a base picture, three
// buttons and the engine's text field with the input method), the name's
// save block, and its release when the game resets.
//
// The name holds at most n whole characters and 32 bytes (what a save
// keeps); a name given with n < 0 is taken at once, without "<", "&" and
// "%", which the message window would read as tags.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "kiv.h"
#include "platform/core/byte_io.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "strings/strings.h"
#include "text/text_layout.h"
#include "vm/vm.h"

namespace {

constexpr int kFieldX = 414, kFieldY = 291, kFieldW = 140, kFieldH = 30;
constexpr int kFieldFontSize = 31;
constexpr int kSpritePriority = 4866;
constexpr size_t kReadBytes = 260;
constexpr const char* kPictures[4] = {"name_base.pgd", "name_bt00.pgd", "name_bt01.pgd", "name_bt02.pgd"};

std::atomic_ref<intptr_t> Field(PlayerNameState& p) { return std::atomic_ref<intptr_t>(p.field); }

// The first max_chars whole characters of text, at most max_bytes bytes.
size_t CharsPrefix(const char* text, size_t len, int max_chars, size_t max_bytes) {
  size_t i = 0;
  int chars = 0;
  while (i < len && chars < max_chars) {
    const size_t w = plat::IsSjisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + w > len || i + w > max_bytes) break;
    i += w;
    ++chars;
  }
  return i;
}

void SetName(PlayerNameState& p, const char* text, size_t n) {
  std::memset(p.name, 0, sizeof p.name);
  std::memcpy(p.name, text, n);
  p.nameLength = static_cast<int32_t>(n);
}

void FieldCreateOnWindow(intptr_t arg) {
  auto* p = reinterpret_cast<PlayerNameState*>(arg);
  const intptr_t f = KivTextFieldCreate(kFieldX, kFieldY, kFieldW, kFieldH, kFieldFontSize, p->maximum);
  if (!f) {
    plat::MessageBox(nullptr, plat::Sjis("名前変更に失敗"), plat::Sjis("エラー"), plat::kMbOk | plat::kMbIconWarning);
    return;
  }
  KivTextFieldSetText(f, p->name);
  KivTextFieldShow(f, 1);
  Field(*p).store(f);
}

void FieldDestroy(PlayerNameState& p) {
  const intptr_t f = Field(p).exchange(0);
  if (f) KivTextFieldDestroy(f);
  p.fieldRequested = 0;
}

void ScreenRelease(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  FieldDestroy(p);
  KivRenderList* list = ctx->renderList ? ctx->renderList : KivRenderGetActive();
  for (KivSprite*& s : p.sprites) {
    if (s && list) KivSpriteRelease(list, s);
    s = nullptr;
  }
  if (p.button) KivButtonRelease(p.button);
  p.button = nullptr;
  p.state = 0;
}

// True when the text is a name the entry accepts: no single-byte
// character, and some character other than the full-width space.
enum class Entered { kSingleByte, kBlank, kGood };
Entered Check(const char* text, size_t len) {
  bool other = false;
  for (size_t i = 0; i < len;) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (!plat::IsSjisLead(b) || i + 1 >= len) return Entered::kSingleByte;
    if (!(b == 0x81 && static_cast<unsigned char>(text[i + 1]) == 0x40)) other = true;
    i += 2;
  }
  return other ? Entered::kGood : Entered::kBlank;
}

int Start(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  uint8_t entry[4 + 520];
  get_string_operand(ctx, static_cast<uint32_t>(value_stack_pop(ctx)), entry);
  const int32_t n = value_stack_pop(ctx);
  const char* text = string_operand_text(entry);
  const size_t len = strnlen(text, sizeof entry - 4);
  if (len > kPlayerNameBytes) {
    plat::MessageBox(nullptr, plat::Sjis("バッファオーバー"), "set_playername", plat::kMbOk | plat::kMbIconWarning);
    return 0;
  }
  if (n < 0) {
    player_name_set_direct(ctx, text);
    command_set_result(ctx, 1);  // an accepted name, as the entry screen reports it
    return 1;
  }
  SetName(p, text, CharsPrefix(text, len, n, kPlayerNameBytes));
  p.maximum = n;
  KivRenderList* list = ctx->renderList ? ctx->renderList : KivRenderGetActive();
  for (int i = 0; i < 4; ++i) p.sprites[i] = list ? KivSpriteLoad(list, kPictures[i], ctx->priorityBase + kSpritePriority) : nullptr;
  p.button = KivButtonCreate(nullptr, nullptr);
  if (p.button)
    for (int i = 1; i < 4; ++i)
      // The buttons are full-screen pictures drawn only where they are:
      // they react on their own pixels.
      if (p.sprites[i]) KivButtonEntryEx(p.button, p.sprites[i], KIV_BUTTON_CLICK_PUSH | KIV_BUTTON_ALPHA_TEST | KIV_BUTTON_KEEP_CELL);
  p.fieldRequested = 1;
  if (!KivAttachProcess(FieldCreateOnWindow, reinterpret_cast<intptr_t>(&p))) FieldCreateOnWindow(reinterpret_cast<intptr_t>(&p));
  game_debug_log(kDebugWindowCommand, "set_playername  %s, %d", text, n);
  p.state = 1;
  command_wait_again(ctx);
  return 1;
}

// The buttons are polled whether or not the field exists: a field the window
// thread could not make (its box told the player) reads as empty, so
// accepting beeps and cancel still ends the entry.
void Entering(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  const intptr_t f = Field(p).load();
  KivButtonState st{};
  KivSprite* clicked = p.button ? KivButtonGetReaction(p.button, &st) : nullptr;
  if (!clicked) return;
  if (clicked == p.sprites[1]) {
    KivTextFieldSetText(f, p.name);
  } else if (clicked == p.sprites[2]) {
    char text[kReadBytes + 1] = {};
    KivTextFieldGetText(f, text, static_cast<int>(sizeof text));
    const size_t len = strnlen(text, kReadBytes);
    if (Check(text, len) != Entered::kGood) {
      KivTextFieldSetText(f, p.name);
      KivMessageBeep(0);
      return;
    }
    const size_t keep = CharsPrefix(text, len, p.maximum, kPlayerNameBytes);
    p.changed = keep != static_cast<size_t>(p.nameLength) || std::memcmp(text, p.name, keep) != 0 ? 1 : 0;
    SetName(p, text, keep);
    KivTextFieldMove(f, 800, 600, 0, 0);
    p.state = 2;
  } else if (clicked == p.sprites[3]) {
    KivTextFieldMove(f, 800, 600, 0, 0);
    p.state = 3;
  }
}

}  // namespace

int cmd_set_playername(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  switch (p.state) {
    case 0: return Start(ctx);
    case 1:
      Entering(ctx);
      command_wait_again(ctx);
      return 1;
    default: {
      const int result = p.state == 2 ? 1 : 0;
      command_set_result(ctx, result);
      ScreenRelease(ctx);
      command_yield(ctx);  // the frame's run ends with the entry, as every run of it does
      return 1;
    }
  }
}

void player_name_set_direct(VmContext* ctx, const char* name) {
  PlayerNameState& p = ctx->playerName;
  char clean[kPlayerNameFieldBytes] = {};
  std::memcpy(clean, name, strnlen(name, sizeof clean - 1));
  text_name_sanitize(clean);
  SetName(p, clean, sjis_whole_prefix(clean, std::strlen(clean), kPlayerNameBytes));
}

const char* player_name_get(VmContext* ctx) { return ctx ? ctx->playerName.name : ""; }

void player_name_release(VmContext* ctx) { ScreenRelease(ctx); }

// At the game's end: when the entry screen is open, its field, its four
// sprites and its buttons go.
void player_name_window_destroy(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  if (Field(p).load() || p.fieldRequested) ScreenRelease(ctx);
}

void player_name_record_clear(VmContext* ctx) {
  PlayerNameState& p = ctx->playerName;
  p.button = nullptr;
  std::fill(std::begin(p.sprites), std::end(p.sprites), nullptr);
  p.state = 0;
  p.fieldRequested = 0;
}

bool player_name_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const PlayerNameState& p = ctx->playerName;
  // Name bytes, then length and changed flag as little-endian words.
  std::array<uint8_t, kPlayerNameBytes + 8> block{};
  std::memcpy(block.data(), p.name, kPlayerNameBytes);
  const uint32_t words[2] = {static_cast<uint32_t>(p.nameLength), static_cast<uint32_t>(p.changed)};
  for (size_t i = 0; i < 2; ++i)
    for (size_t b = 0; b < 4; ++b) block[kPlayerNameBytes + i * 4 + b] = static_cast<uint8_t>(words[i] >> (8 * b));
  return save_block_append(buffer, used, block.data(), block.size());
}

bool player_name_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  constexpr size_t kBlock = kPlayerNameBytes + 8;
  if (*cursor > data.size() || data.size() - *cursor < kBlock) {
    game_debug_log(kDebugWindowError, "load error : player name block short");
    return false;
  }
  *cursor += static_cast<uint32_t>(kBlock);
  return true;
}

bool player_name_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  constexpr size_t kBlock = kPlayerNameBytes + 8;
  uint32_t end = *cursor;
  if (!player_name_check(ctx, data, &end)) return false;
  plat::ByteReader r(data.subspan(*cursor, kBlock));
  char name[kPlayerNameBytes + 1] = {};
  r.Bytes(name, kPlayerNameBytes);
  const uint32_t length = r.U32();
  const uint32_t changed = r.U32();
  PlayerNameState& p = ctx->playerName;
  // The name ends at its first zero, at 32 bytes, or where the stored
  // length says, whichever comes first, and on a whole character.
  size_t n = strnlen(name, kPlayerNameBytes);
  n = std::min<size_t>(n, length);
  SetName(p, name, sjis_whole_prefix(name, n, kPlayerNameBytes));
  p.changed = changed ? 1 : 0;
  *cursor += static_cast<uint32_t>(kBlock);
  return true;
}
