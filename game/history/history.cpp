// The backlog's entries, its page of text sprites, hover and replay, and
// its save block. The page holds sprites only between history_begin and
// history_end; every path that drops them (end, a new begin, a rebuild,
// game reset, shut-down) releases them and clears the pointers, so none is
// used or released twice.
#include "history/history.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "layers/sprite_records.h"
#include "platform/core/byte_io.h"
#include "platform/core/text_encoding.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "text/message_window.h"
#include "text/text_layout.h"
#include "vm/vm.h"
#include "vm/vm_context.h"
#include "voice/voice.h"

namespace {

constexpr int32_t kIconBox = 24;  // size of a "#AARRGGBB" voice icon

void ReleaseRows(VmContext* ctx) {
  HistoryState& h = ctx->history;
  KivRenderList* list = ctx->renderList;
  if (h.rows > 0 && list) {
    KivSpriteReleaseArray(list, h.nameSprites, h.rows);
    KivSpriteReleaseArray(list, h.textSprites, h.rows);
    KivSpriteReleaseArray(list, h.iconSprites, h.rows);
  }
  std::memset(h.nameSprites, 0, sizeof h.nameSprites);
  std::memset(h.textSprites, 0, sizeof h.textSprites);
  std::memset(h.iconSprites, 0, sizeof h.iconSprites);
  h.rows = 0;
}

void ReleaseOne(VmContext* ctx, KivSprite*& s) {
  if (s && ctx->renderList) KivSpriteRelease(ctx->renderList, s);
  s = nullptr;
}

// The colours the name selects in the message window's colour table.
void NameColours(VmContext* ctx, const BacklogEntry& e, TextColours* colours) {
  if (!history_entry_has_name(e)) return;
  text_name_colours(ctx, e.name, strnlen(e.name, sizeof e.name), colours);
}

bool TextReady(VmContext* ctx) {
  const MessageWindow& w = ctx->text;
  return ctx->renderList && w.initialised && w.textW > 0 && w.textH > 0 && w.fontSize > 0;
}

}  // namespace

void history_copy_cut(char* dst, size_t size, const char* src) {
  size_t n = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(src ? src : "");
  while (s[n]) {
    const size_t step = (plat::IsSjisLead(s[n]) && s[n + 1]) ? 2 : 1;
    if (n + step > size - 1) break;
    n += step;
  }
  std::memcpy(dst, s, n);
  std::memset(dst + n, 0, size - n);
}

bool history_entry_has_name(const BacklogEntry& e) {
  return !(e.name[0] == 0 && static_cast<uint8_t>(e.name[1]) == 0x81);
}

void history_entry_add(HistoryState* h, const char* name, const char* text, const char* voice) {
  std::memmove(&h->entries[1], &h->entries[0], sizeof(BacklogEntry) * (kHistoryEntries - 1));
  BacklogEntry& e = h->entries[0];
  e = BacklogEntry{};
  if (name && name[0]) {
    history_copy_cut(e.name, sizeof e.name, name);
  } else {
    e.name[1] = static_cast<char>(0x81);  // the empty-name code
  }
  history_copy_cut(e.text, sizeof e.text, text);
  history_copy_cut(e.voice, sizeof e.voice, voice);
  h->count = std::min(h->count + 1, kHistoryEntries);
}

namespace {

// Lays text out in the message window's metrics (into a sprite, or only
// measured when into is null); its height, at most the text box's.
int32_t TextHeight(VmContext* ctx, const char* text, KivSprite* into, const TextColours& colours) {
  const MessageWindow& w = ctx->text;
  int x = 0, y = 0;
  text_draw(into, text, &x, &y, w.textW, w.textH, w.fontSize, w.rubySize, colours, nullptr);
  const int line = w.rubySize ? w.fontSize + w.rubySize : w.fontSize + 2;
  return std::min(y + line, w.textH);
}

}  // namespace

void history_page_build(VmContext* ctx, int32_t p) {
  HistoryState& h = ctx->history;
  ReleaseRows(ctx);
  if (p < 0 || p > h.count || !TextReady(ctx)) return;
  h.position = p;
  const MessageWindow& w = ctx->text;
  KivRenderList* list = ctx->renderList;
  const int32_t priority = ctx->priorityBase + kHistoryPriority;
  int32_t y = h.rect.bottom;
  int r = 0;
  for (int i = p; i < h.count && r < kHistoryEntries; ++i) {
    const BacklogEntry& e = h.entries[i];
    y -= h.spacing;
    int savedText = 0, savedEdge = 0;
    KivFontGetColor(&savedText, &savedEdge);
    TextColours colours{savedText, savedEdge};
    NameColours(ctx, e, &colours);
    KivSprite* text = KivSpriteCreate(list, w.textW + w.fontSize, w.textH, priority);
    const bool named = history_entry_has_name(e);
    KivSprite* name = text ? KivSpriteCreateText(list, named ? e.name : "", priority, h.normalColour) : nullptr;
    if (!text || (named && !name)) {
      // A row that cannot be built ends the page.
      if (text) KivSpriteRelease(list, text);
      if (name) KivSpriteRelease(list, name);
      break;
    }
    h.textSprites[r] = text;
    h.nameSprites[r] = name;
    KivFontSetColor(colours.text, colours.edge);
    const KivRect laid{0, 0, w.textW + w.fontSize, TextHeight(ctx, e.text, text, colours)};
    KivSpriteSetRect(text, &laid);
    KivSpriteSetColor(text, h.normalColour);
    y -= laid.bottom;
    KivSpriteSetPos(text, static_cast<float>(h.textX), static_cast<float>(h.textY + y));
    if (name) KivSpriteSetPos(name, static_cast<float>(h.nameX), static_cast<float>(h.nameY + y));
    if (!named) {
      if (name) KivSpriteViewCtrl(name, 0);
    } else {
      if (e.voice[0] && h.iconSet) {
        KivSprite* icon = sprite_load(list, h.iconImage, kIconBox, kIconBox, priority);
        if (icon) KivSpriteSetPos(icon, static_cast<float>(h.iconX), static_cast<float>(h.iconY + y));
        h.iconSprites[r] = icon;
      }
      y += h.nameY - h.textY;
    }
    KivFontSetColor(savedText, savedEdge);
    if (y < h.rect.top) {
      ReleaseOne(ctx, h.nameSprites[r]);
      ReleaseOne(ctx, h.textSprites[r]);
      ReleaseOne(ctx, h.iconSprites[r]);
      break;
    }
    ++r;
  }
  h.rows = r;
}

int history_begin(VmContext* ctx) {
  HistoryState& h = ctx->history;
  if (!TextReady(ctx)) {
    game_debug_puts(kDebugWindowError, "history_begin : text_init not called");
    return 0;
  }
  history_end(ctx);  // a page already open goes first
  const MessageWindow& w = ctx->text;
  h.highlight = KivSpriteCreate(ctx->renderList, w.textW + w.fontSize, w.textH, ctx->priorityBase + kHistoryPriority);
  if (!h.highlight) {
    game_debug_puts(kDebugWindowError, "history_begin : no sprite");
    return 0;
  }
  h.lastPage = 0;
  TextColours colours{};
  KivFontGetColor(&colours.text, &colours.edge);
  int32_t y = h.rect.top;
  for (int i = h.count - 1; i >= 0; --i) {
    const BacklogEntry& e = h.entries[i];
    y += TextHeight(ctx, e.text, nullptr, colours);
    if (history_entry_has_name(e)) y += h.textY - h.nameY;
    y += h.spacing;
    if (y >= h.rect.bottom) {
      h.lastPage = i + 1;
      break;
    }
  }
  h.height = y - h.rect.top;
  history_page_build(ctx, 0);
  const KivRect empty{0, 0, 0, 0};
  KivSpritePaint(h.highlight, kHistoryHighlightColour);
  KivSpriteSetRect(h.highlight, &empty);
  KivSpriteSetRenderMode(h.highlight, 2);
  return 1;
}

void history_end(VmContext* ctx) {
  ReleaseRows(ctx);
  ReleaseOne(ctx, ctx->history.highlight);
}

void history_update(VmContext* ctx) {
  HistoryState& h = ctx->history;
  if (!h.highlight) return;  // the page is closed
  const KivRect empty{0, 0, 0, 0};
  KivSpriteSetRect(h.highlight, &empty);
  KivSprite* front = KivSpriteGetForeground(KivInputGetMouseX(), KivInputGetMouseY(), 0);
  const bool click = (KivInputGetKeyPush() & 0x800000) != 0;
  for (int r = 0; r < h.rows; ++r) {
    KivSprite* text = h.textSprites[r];
    if (h.nameSprites[r]) KivSpriteSetColor(h.nameSprites[r], h.normalColour);
    if (text) KivSpriteSetColor(text, h.normalColour);
    // Row r shows entry position + r.
    const char* voice = h.entries[h.position + r].voice;
    if (!text || !front || text != front || !voice[0]) continue;
    if (h.nameSprites[r]) KivSpriteSetColor(h.nameSprites[r], h.hoverColour);
    KivSpriteSetColor(text, h.hoverColour);
    KivSpriteInfo info{};
    KivRect rect{};
    KivSpriteGetInfo(text, &info);
    KivSpriteGetRect(text, &rect);
    KivSpriteSetPos(h.highlight, info.x, info.y);
    KivSpriteSetRect(h.highlight, &rect);
    if (click) voice_play_file_ex(ctx, kHistoryReplayFlags, voice, 0, false);
  }
}

// ---- What the machine and the message window call ----

void history_reset(VmContext* ctx) {
  history_end(ctx);
  HistoryState& h = ctx->history;
  std::memset(h.entries, 0, sizeof h.entries);
  h.count = 0;
  h.position = 0;
  h.lastPage = 0;
  h.height = 0;
  ctx->text.noHistory = 0;
}

void history_line_add(VmContext* ctx, const char* name, const char* text, const char* voice) {
  if (ctx->text.noHistory) return;
  history_entry_add(&ctx->history, name, text, voice);
}

// ---- Save block ----

bool history_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const HistoryState& h = ctx->history;
  // The count and every entry go in one append: all of the block or none.
  plat::ByteWriter w;
  w.bytes().reserve(kHistorySaveBytes);
  w.U32(static_cast<uint32_t>(h.count));
  for (const BacklogEntry& e : h.entries) {
    w.Bytes(e.name, sizeof e.name);
    w.Bytes(e.text, sizeof e.text);
    w.Bytes(e.voice, sizeof e.voice);
  }
  return save_block_append(buffer, used, w.bytes().data(), w.bytes().size());
}

bool history_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  if (*cursor > data.size() || data.size() - *cursor < kHistorySaveBytes) {
    game_debug_puts(kDebugWindowError, "load error : backlog block short");
    return false;
  }
  const uint32_t count = plat::ByteReader(data.subspan(*cursor, 4)).U32();
  if (count > kHistoryEntries) {
    game_debug_log(kDebugWindowError, "load error : backlog count %u", count);
    return false;
  }
  *cursor += kHistorySaveBytes;
  return true;
}

bool history_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  uint32_t end = *cursor;
  if (!history_check(ctx, data, &end)) return false;
  plat::ByteReader r(data.subspan(*cursor, kHistorySaveBytes));
  const uint32_t count = r.U32();
  HistoryState& h = ctx->history;
  history_end(ctx);
  h.count = static_cast<int32_t>(count);
  for (BacklogEntry& e : h.entries) {
    r.Bytes(e.name, sizeof e.name);
    r.Bytes(e.text, sizeof e.text);
    r.Bytes(e.voice, sizeof e.voice);
    e.name[sizeof e.name - 1] = 0;
    e.text[sizeof e.text - 1] = 0;
    e.voice[sizeof e.voice - 1] = 0;
  }
  *cursor += kHistorySaveBytes;
  return true;
}
