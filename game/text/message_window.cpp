// The message window's lines: set-up of a line (name, text, voice, read
// flag), the reveal and its timing, the per-frame state machine, the click
// wait, icon placement, the novel page, show and hide, and the
// pending-input word.
#include "text/message_window.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "effect/screen_effects.h"
#include "layers/layers.h"
#include "save/save.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

// A shown line takes the snapshot a save made now resumes at.
void SnapshotAtLine(VmContext* ctx, uint32_t resume_pc) { save_snapshot_build(ctx, resume_pc); }

const TextWindowHooks kDefaultHooks = {SnapshotAtLine, history_line_add, voice_is_playing};
const TextWindowHooks* g_hooks = &kDefaultHooks;

GameRecord* RecordOf(VmContext* ctx) {
  return reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
}

KivSprite* SpriteOf(const SpriteRecord* r) { return r ? r->sprite : nullptr; }

void Show(const SpriteRecord* r, int on) {
  if (KivSprite* s = SpriteOf(r)) KivSpriteViewCtrl(s, on);
}

// Places a record: its own position component, pushed into its sprite.
void MoveTo(VmContext* ctx, SpriteRecord* r, int x, int y) {
  if (!r) return;
  r->t.aX = x;
  r->t.aY = y;
  if (r->sprite) sprite_transform_apply(ctx, r);
}

void Paint(const SpriteRecord* r) {
  if (KivSprite* s = SpriteOf(r)) KivSpritePaint(s, 0);
}

// Copies src into dst of n bytes, cut at a whole Shift-JIS character.
void CopyCut(char* dst, size_t n, const char* src) {
  size_t i = 0;
  while (src[i] && i + 1 < n) {
    const auto b = static_cast<unsigned char>(src[i]);
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    const size_t len = lead && src[i + 1] ? 2 : 1;
    if (i + len >= n) break;
    i += len;
  }
  std::memmove(dst, src, i);
  dst[i] = 0;
}

// Appends src to the zero-terminated dst of n bytes, cut at a whole character.
void AppendCut(char* dst, size_t n, const char* src) {
  const size_t used = std::strlen(dst);
  if (used + 1 >= n) return;
  CopyCut(dst + used, n - used, src);
}

// The string operand's entry: text word number, then the text.
struct TextEntry {
  uint8_t raw[4 + kTextBufferBytes];
  uint32_t number() const { return static_cast<uint32_t>(raw[0] | raw[1] << 8 | raw[2] << 16 | raw[3] << 24); }
  const char* text() const { return reinterpret_cast<const char*>(raw + 4); }
};

void Fetch(VmContext* ctx, uint32_t operand, TextEntry* e) {
  std::memset(e->raw, 0, sizeof e->raw);
  get_string_operand(ctx, operand, e->raw);
}

void SetSaveText(VmContext* ctx, const char* text);

}  // namespace

MessageWindow& text_window(VmContext* ctx) { return ctx->text; }
int32_t* text_system_words(VmContext* ctx) { return RecordOf(ctx)->system.word; }

const TextWindowHooks& text_window_hooks() { return *g_hooks; }
void text_window_hooks_set(const TextWindowHooks* hooks) { g_hooks = hooks ? hooks : &kDefaultHooks; }

void text_no_history_set(VmContext* ctx, uint32_t on) { ctx->text.noHistory = on; }
uint32_t text_no_history(const VmContext* ctx) { return ctx->text.noHistory; }

// ---- The pending-input word ----

uint32_t text_input_pending(const VmContext* ctx) { return ctx->text.pendingInput; }
void text_input_set(VmContext* ctx) { ctx->text.pendingInput = 1; }
void text_input_clear(VmContext* ctx) { ctx->text.pendingInput = 0; }

// ---- Read flags ----

void text_read_flag_check(VmContext* ctx, uint32_t n) {
  MessageWindow& w = ctx->text;
  GameRecord* g = RecordOf(ctx);
  if (!g->textReadFlags || !index_in(n / 8, g->textReadFlagsSize, "text read flag")) {
    w.read = 0;
    return;
  }
  uint8_t& byte = g->textReadFlags[n / 8];
  const uint8_t bit = static_cast<uint8_t>(1u << (n % 8));
  if (byte & bit) {
    w.read = 1;
    return;
  }
  byte |= bit;
  w.read = 0;
  if (!g->system.word[kSysSkipUnread] && ctx->skipMode) {
    w.finishRequest = 0;
    skip_mode_off_request(ctx);
  }
}

// ---- Name, text, voice ----

bool text_name_colours(VmContext* ctx, const char* name, size_t len, TextColours* out) {
  const int32_t* sys = text_system_words(ctx);
  for (int i = 0; i < kTextColourEntries; ++i) {
    const int32_t* entry = sys + kSysTextColourTable + i * kTextColourEntryWords;
    if (!entry[0] || static_cast<size_t>(entry[3]) != len || len > 31) continue;
    if (std::memcmp(entry + 4, name, len) != 0) continue;
    *out = {entry[1], entry[2]};
    return true;
  }
  return false;
}

void text_name_resolve(VmContext* ctx, uint32_t operand, char (&name)[kTextNameBytes], TextColours* colours) {
  name[0] = 0;
  if (operand == kNoOperand) return;
  TextEntry e;
  Fetch(ctx, operand, &e);
  CopyCut(name, sizeof name, e.text());
  if (!name[0]) return;
  if (text_name_colours(ctx, name, std::strlen(name), colours)) KivFontSetColor(colours->text, colours->edge);
  if (name[0] == '/' && name[1] == 'n') CopyCut(name, sizeof name, player_name_get(ctx));
}

void text_name_set(VmContext* ctx, uint32_t operand) {
  MessageWindow& w = ctx->text;
  Paint(w.nameSprite);
  text_name_resolve(ctx, operand, w.name, &w.colours);
  if (!w.name[0]) return;
  int x = 0, y = 0;
  text_draw(SpriteOf(w.nameSprite), w.name, &x, &y, 384, 32, w.fontSize, 0, w.colours, nullptr);
  w.displayFlags |= kTextShowsName;
}

void text_line_set(VmContext* ctx, uint32_t operand) {
  MessageWindow& w = ctx->text;
  KivSprite* s = SpriteOf(w.textSprite);
  if (s) KivSpritePaint(s, 0);
  w.reveal.bandHeight = w.reveal.bandHeightInitial;
  w.reveal.ready = 0;
  TextEntry e;
  Fetch(ctx, operand, &e);
  text_read_flag_check(ctx, e.number());
  text_convert(ctx, w.text, e.text());
  w.endX = w.endY = 0;
  w.revealOffset = 0;
  w.revealLength = text_draw(s, w.text, &w.endX, &w.endY, w.textW, w.textH, w.fontSize, w.rubySize, w.colours,
                             &w.reveal);
  if (w.timeOverride != 0 || text_system_words(ctx)[kSysTextSpeed] != 0) text_reveal_capture(&w.reveal, s);
  SetSaveText(ctx, w.text);
}

void text_line_append(VmContext* ctx, uint32_t operand) {
  MessageWindow& w = ctx->text;
  KivSprite* s = SpriteOf(w.textSprite);
  TextEntry e;
  Fetch(ctx, operand, &e);
  text_read_flag_check(ctx, e.number());
  char added[kTextBufferBytes];
  text_convert(ctx, added, e.text());
  w.revealOffset = text_phase_length(w.revealLength, w.fontSize,
                                     static_cast<uint32_t>(text_system_words(ctx)[kSysTextSpeed]));
  // Uncover the text already shown before the capture takes its alpha.
  if (w.reveal.ready) text_reveal_apply(&w.reveal, s, w.revealLength + 64);
  w.revealLength += text_draw(s, added, &w.endX, &w.endY, w.textW, w.textH, w.fontSize, w.rubySize, w.colours,
                              &w.reveal);
  text_reveal_capture(&w.reveal, s);
  AppendCut(w.text, sizeof w.text, added);
  SetSaveText(ctx, w.text);
}

void text_voice_start(VmContext* ctx, uint32_t operand) {
  MessageWindow& w = ctx->text;
  const int32_t* sys = text_system_words(ctx);
  w.voice[0] = 0;
  if (operand == kNoOperand) {
    if (sys[kSysVoiceCut]) voice_stop(ctx);
    return;
  }
  TextEntry e;
  Fetch(ctx, operand, &e);
  char name[kTextVoiceBytes];
  CopyCut(name, sizeof name, e.text());
  voice_stop(ctx);
  const uint32_t skip = get_skip_state(ctx);
  if (name[0]) {
    // The voice lowers the music itself while it speaks (auto volume).
    // While skipping the voice is only checked, not played.
    voice_line_play(ctx, name, (skip & (kSkipStateMode | kSkipStateCtrl)) ? 0 : 1);
  }
  game_debug_log(kDebugWindowCommand, "text : voice %s", name);
  std::memcpy(w.voice, name, sizeof w.voice);
  w.displayFlags |= kTextHasVoice;
}

namespace {
void SetSaveText(VmContext* ctx, const char* text) {
  if (std::strlen(text) <= 511) save_text_set(ctx, text);
}
}  // namespace

// ---- The reveal ----

uint32_t text_phase_length(int32_t reveal_length, int32_t font_size, uint32_t ms_per_char) {
  if (font_size < 1 || reveal_length <= 0) return 0;
  return static_cast<uint32_t>(reveal_length / font_size) * ms_per_char;
}

int text_reveal_threshold(uint32_t e, uint32_t d, int32_t reveal_length) {
  if (d == 0 || e >= d) return reveal_length + 64;
  return static_cast<int>(static_cast<float>(e) / static_cast<float>(d) * static_cast<float>(reveal_length + 64));
}

bool text_reveal_step(VmContext* ctx, uint32_t mask) {
  MessageWindow& w = ctx->text;
  bool done = true;
  int t = w.revealLength + 64;
  if (mask == 0 && (w.timeOverride != 0 || text_system_words(ctx)[kSysTextSpeed] != 0)) {
    uint32_t e = KivtimeGetTime() + w.revealOffset - w.phaseStart;
    done = e >= w.phaseLength;
    if (done) e = w.phaseLength;
    t = text_reveal_threshold(e, w.phaseLength, w.revealLength);
  }
  text_reveal_apply(&w.reveal, SpriteOf(w.textSprite), t);
  return done;
}

void text_wait_begin(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  if (!(ctx->skipMode & 1)) {
    // The click-wait icon starts its strip from the first cell each time.
    KivAnimationReset(w.icons[0].animation);
    Show(w.icons[0].record, 1);
  }
  w.stateFlags = (w.stateFlags & ~0xFFFFu) | kTextWaiting;
  w.finishRequest = 0;
  w.phaseLength = text_phase_length(w.revealLength, w.fontSize,
                                    static_cast<uint32_t>(text_system_words(ctx)[kSysAutoTime])) + 500;
  w.phaseStart = KivtimeGetTime();
}

void text_wait_end(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  if (!(w.stateFlags & (kTextKindNoWait | kTextKindGoOn)) && text_system_words(ctx)[kSysVoiceCut]) voice_stop(ctx);
  w.stateFlags = 0;
  Show(w.icons[0].record, 0);
}

int text_frame_step(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  uint32_t m = get_skip_state(ctx);
  // Every click is noted for the waits, whether or not a line is shown; a
  // click the line uses is taken back below.
  if (m & kSkipStatePushed) text_input_set(ctx);
  if (w.stateFlags == 0 || !w.visible) return 0;
  if (!(m & kSkipStateCtrl) && (m & kSkipStateMode) && !text_system_words(ctx)[kSysSkipUnread] && !w.read)
    m &= ~kSkipStateMode;
  if (w.finishRequest) m |= 0x2;
  if (w.stateFlags & kTextRevealing) {
    const bool noWait = (w.stateFlags & kTextKindNoWait) != 0;
    if (w.stateFlags & kTextKindAtOnce) m |= 1;
    if (w.stateFlags & kTextKindNoWait) m = 0;
    if (text_reveal_step(ctx, m)) {
      if (m & kSkipStatePushed) text_input_clear(ctx);  // the click completed the reveal
      if (w.stateFlags & kTextKindNoWait) {
        text_wait_end(ctx);
      } else if (w.stateFlags & kTextKindGoOn) {
        text_wait_end(ctx);
        script_point_pop(ctx);
      } else {
        text_wait_begin(ctx);
      }
    }
    return noWait ? 0 : 1;
  }
  if (w.stateFlags & kTextWaiting) {
    uint32_t r = m;
    if (ctx->autoMode) {
      const bool voice = g_hooks->voicePlaying(ctx) != 0;
      if (!voice && KivtimeGetTime() - w.phaseStart >= w.phaseLength) r = 1;
    }
    if (r) {
      text_input_clear(ctx);
      text_wait_end(ctx);
      script_point_pop(ctx);
      action_reset(ctx);
      return 1;
    }
  }
  return 0;
}

void text_frame(VmContext* ctx) { text_frame_step(ctx); }

// ---- Icons, novel page, window button ----

void text_icon_place(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  for (int i = 0; i < kTextIconSlots; ++i) {
    SpriteRecord* r = w.icons[i].record;
    if (!r || !r->sprite) break;
    int ox = 0, oy = 0;
    const int x0 = r->t.aX, y0 = r->t.aY;
    if (w.iconPlacement == 1 && w.textMode == 1) {
      ox = w.novelEndX - x0 + 2;
      oy = w.novelEndY - y0 + w.rubySize;
    } else if (w.iconPlacement == 1) {
      ox = w.textX - x0 + w.endX + 2;
      oy = w.textY - y0 + w.endY + w.rubySize;
      if (w.endX > w.textW) {
        ox = w.textX;
        if (w.endY + w.fontSize + w.rubySize <= w.textH) oy += w.fontSize + w.rubySize;
      }
    }
    KivSpriteSetOffsetPos(r->sprite, ox, oy);
  }
}

void text_novel_append(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  KivSprite* text = SpriteOf(w.textSprite);
  KivRect rc{};
  if (text) KivSpriteGetRect(text, &rc);
  const int h = rc.bottom - rc.top;
  if (w.novelY + w.novelNextY + h + w.fontSize + 2 > w.novelH) {
    w.novelNamed = 0;
    w.novelTextX = w.novelNextY = w.novelEndX = w.novelEndY = 0;
    w.novelPage[0] = 0;
  }
  Paint(w.novelSprite);
  int px = 0, py = 0;
  text_draw(SpriteOf(w.novelSprite), w.novelPage, &px, &py, w.textW, 720, w.fontSize, w.rubySize, w.colours,
            nullptr);
  int y = py + w.novelY;
  const size_t page = sizeof w.novelPage;
  if (w.displayFlags & kTextShowsName) {
    if (w.rubySize) y += w.rubySize - 2;
    w.novelNamed = 1;
    if (w.novelPage[0]) {
      AppendCut(w.novelPage, page, "<br>");
      y += w.fontSize + w.rubySize;
    }
    MoveTo(ctx, w.nameSprite, w.novelX, y);
    AppendCut(w.novelPage, page, w.name);
    AppendCut(w.novelPage, page, "<br>");
    y += w.fontSize + 2;
  } else if (w.novelNamed) {
    w.novelNamed = 0;
    AppendCut(w.novelPage, page, "<br>");
    y += w.fontSize + w.rubySize;
  }
  MoveTo(ctx, w.textSprite, w.novelX, y);
  AppendCut(w.novelPage, page, w.text);
  AppendCut(w.novelPage, page, "<br>");
  AppendCut(w.novelPage, page, "<reset>");
  w.novelEndX = w.endX + w.novelX;
  w.novelEndY = w.endY + y;
  w.novelTextX = w.novelX;
  w.novelNextY = y + h;
}

void text_btn_update(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  if (w.buttonGroup == 0xFFFF) return;
  btn_group_view(ctx, w.buttonGroup, (w.displayFlags & kTextShowsName) ? 1 : 0);
  const bool voice = (w.displayFlags & kTextHasVoice) != 0;
  btn_group_current_set(ctx, w.buttonGroup, voice ? 1 : 0, voice ? 0 : 3);
}

// ---- Show, hide, clear ----

void text_show(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  system_btn_window_follow(ctx, 1);
  if (w.buttonGroup != 0xFFFF) btn_group_view(ctx, w.buttonGroup, 1);
  w.visible = 1;
  Show(w.textSprite, 1);
  Show(w.nameSprite, 1);
  Show(w.novelSprite, 1);
  Show(w.baseImage, 1);
  if (w.stateFlags & kTextWaiting) Show(w.icons[0].record, 1);
  // The skip and auto icons stand while the window is shown.
  if (w.currentIcon == 1 || w.currentIcon == 2) Show(w.icons[w.currentIcon].record, 1);
  layer_view_ctrl(ctx, 1);
  text_btn_update(ctx);
}

void text_hide(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  system_btn_window_follow(ctx, 0);
  if (w.buttonGroup != 0xFFFF) btn_group_view(ctx, w.buttonGroup, 0);
  w.visible = 0;
  Show(w.textSprite, 0);
  Show(w.nameSprite, 0);
  Show(w.novelSprite, 0);
  Show(w.baseImage, 0);
  for (const TextIcon& icon : w.icons) Show(icon.record, 0);
  layer_view_ctrl(ctx, 0);
}

void text_clear_window(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  Paint(w.textSprite);
  Paint(w.nameSprite);
  w.nameOperand = w.textOperand = 0;
  w.displayFlags = 0;
  w.revealLength = 0;
  w.stateFlags = 0;
  if (w.textMode == 1) {
    Paint(w.novelSprite);
    w.novelNamed = 0;
    w.novelTextX = w.novelNextY = w.novelEndX = w.novelEndY = 0;
    w.novelPage[0] = 0;
  }
}

// ---- What the other components ask of the window ----

int text_face_visible(VmContext* ctx) { return ctx->text.visible ? 1 : 0; }
int text_button_group(VmContext* ctx) { return ctx->text.buttonGroup == 0xFFFF ? -1 : ctx->text.buttonGroup; }
void text_display_applied(VmContext* ctx) { text_input_clear(ctx); }
void text_window_reset_words(VmContext* ctx) {
  ctx->text.buttonGroup = 0xFFFF;
  ctx->text.pendingInput = 0;
  ctx->text.noHistory = 0;
}

// The sprite a shake of the message window moves: the window's base image
// when it has one, else the text sprite.
SpriteRecord* text_window_record(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  if (w.baseImage && w.baseImage->sprite) return w.baseImage;
  return w.textSprite;
}
