// Command group 2: the text commands that set up the message window, show
// lines of dialogue in their variants, enter backlog lines, and drive the
// window's images, colours, modes and caption.
#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>

#include "component_entries.h"
#include "data/script_tables.h"
#include "layers/layers.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

constexpr uint32_t kKeepPlace = 0x0FFFFFFF;
constexpr int kNameBoxW = 512, kNameBoxH = 32;
constexpr int kNovelW = 1280, kNovelH = 720;

// The commands that need text_init first log their name and fail.
bool Ready(VmContext* ctx, const char* name) {
  if (ctx->text.initialised) return true;
  game_debug_log(kDebugWindowError, "text initialize error : %s", name);
  return false;
}

int NextPow2(int v) {
  int p = 1;
  while (p < v && p < (1 << 14)) p <<= 1;
  return p;
}

int32_t Priority(const VmContext* ctx, int32_t p) { return ctx->priorityBase + p; }

// A sprite record of the window made fresh with an empty sprite of w x h.
}  // namespace

SpriteRecord* text_record_make(VmContext* ctx, int index, int w, int h, int32_t priority, int x, int y) {
  if (SpriteRecord* old = sprite_record_get(ctx, index); old && old->linked) sprite_record_release(ctx, old);
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindGame, index);
  if (!r) return nullptr;
  r->sprite = KivSpriteCreate(game_render_list(ctx), w, h, priority);
  if (!r->sprite) {
    sprite_record_release(ctx, r);
    return nullptr;
  }
  KivSpritePaint(r->sprite, 0);
  KivSpriteViewCtrl(r->sprite, ctx->text.visible ? 1 : 0);
  r->t.aX = x;
  r->t.aY = y;
  KivSpriteSetPos(r->sprite, static_cast<float>(x), static_cast<float>(y));
  return r;
}

namespace {

void ReleaseRecord(VmContext* ctx, SpriteRecord*& r) {
  if (r) sprite_record_release(ctx, r);
  r = nullptr;
}

}  // namespace

// An image of the window (base image or icon) loaded hidden into its record.
SpriteRecord* text_image_load(VmContext* ctx, int index, uint32_t operand, int32_t priority, int32_t x, int32_t y,
                        char (&name)[33]) {
  uint8_t raw[kFileRecordBytes];
  std::memset(name, 0, sizeof name);
  if (!get_record_operand(ctx, operand, raw, true)) return nullptr;
  std::memcpy(name, raw, 32);
  ImageAttributes attrs;
  const ImageAttributes* at = sprite_attrs_copy(ctx, name, &attrs) ? &attrs : nullptr;
  if (SpriteRecord* old = sprite_record_get(ctx, index); old && old->linked) sprite_record_release(ctx, old);
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindGame, index);
  if (!r) return nullptr;
  r->sprite = sprite_load(game_render_list(ctx), sprite_attrs_file(at, name), 1280, 720, priority);
  if (!r->sprite) {
    sprite_record_release(ctx, r);
    return nullptr;
  }
  KivSpriteViewCtrl(r->sprite, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  const bool stored = static_cast<uint32_t>(x) == kKeepPlace && static_cast<uint32_t>(y) == kKeepPlace;
  r->t.aX = stored ? static_cast<int32_t>(info.x) : x;
  r->t.aY = stored ? static_cast<int32_t>(info.y) : y;
  sprite_record_take_sprite_state(r, info, at);
  r->imageOperand = operand;
  if (at) sprite_attrs_apply(ctx, *at, r, kAttrAll);
  sprite_transform_apply(ctx, r);
  return r;
}

// Sets up the text sprite, the name sprite and the reveal buffers for the
// window's metrics.
bool text_sprites_build(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  const int band = w.rubySize ? w.fontSize + w.rubySize : w.fontSize + 2;
  if (!text_reveal_alloc(&w.reveal, w.textW, w.fontSize, w.textH, band)) return false;
  w.textSprite = text_record_make(ctx, kTextRecordText, NextPow2(w.textW + w.fontSize), NextPow2(w.textH),
                            Priority(ctx, kTextPriorityText), w.textX, w.textY);
  w.nameSprite = text_record_make(ctx, kTextRecordName, kNameBoxW, kNameBoxH, Priority(ctx, kTextPriorityName), w.nameX,
                            w.nameY);
  return w.textSprite && w.nameSprite;
}

namespace {

// ---- Lines ----

struct LineVariant {
  const char* command;  // its name in the script
  const char* log;      // the prefix of its log line
  bool snapshot;
  bool timed;  // takes a time; else shown whole at once
  uint32_t flags;
  bool point;
  bool history;
  bool novel;
};

constexpr LineVariant kText = {"text", "text", true, true, kTextKindPlain | kTextRevealing, true, true, true};
constexpr LineVariant kTextW = {"text_w", "text_w", true, true, kTextKindNoWait | kTextRevealing, false, true, true};
constexpr LineVariant kTextA = {"text_a", "text_a", true, false, kTextKindAtOnce | kTextRevealing, true, true, true};
constexpr LineVariant kTextWa = {"text_wa", "text_wa", true, false, kTextKindNoWait | kTextKindAtOnce | kTextRevealing, false,
                                 true, true};
constexpr LineVariant kTextN = {"_text_n", "text_n", false, true, kTextKindGoOn | kTextRevealing, true, false, false};

void SaveColours(MessageWindow& w) {
  int c = 0, e = 0;
  KivFontGetColor(&c, &e);
  w.savedColours = {c, e};
  w.colours = w.savedColours;
}

void RestoreColours(MessageWindow& w) {
  w.colours = w.savedColours;
  KivFontSetColor(w.savedColours.text, w.savedColours.edge);
}

uint32_t TextSpeed(VmContext* ctx) { return static_cast<uint32_t>(text_system_words(ctx)[kSysTextSpeed]); }

// The show that a line runs after it is set: the yield argument is always 0
// here, so it is passed directly instead of through the value stack (which
// could be full).
void ShowAfterLine(VmContext* ctx) {
  if (ctx->valueStackDepth + 1 >= kValueStackSize) game_debug_puts(kDebugWindowError, "stack over");
  text_show(ctx);
}

int ShowLine(VmContext* ctx, const LineVariant& v) {
  const uint32_t resume = ctx->script.pc >= 12 ? ctx->script.pc - 12 : 0;
  if (v.snapshot) text_window_hooks().snapshotTake(ctx, resume);
  const uint32_t voice = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t text = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t time = v.timed ? static_cast<uint32_t>(value_stack_pop(ctx)) : 0;
  if (!Ready(ctx, v.command)) return 0;
  MessageWindow& w = ctx->text;
  if (v.timed) w.timeOverride = time;
  w.nameOperand = name;
  w.textOperand = text;
  w.stateFlags = v.flags;
  w.displayFlags = 0;
  w.text[0] = 0;
  text_input_clear(ctx);
  SaveColours(w);
  const uint32_t keepHistory = w.noHistory;
  if (!v.history) w.noHistory = 1;
  text_name_set(ctx, name);
  text_line_set(ctx, text);
  text_voice_start(ctx, voice);
  if (!w.noHistory) text_window_hooks().historyAdd(ctx, w.name, w.text, w.voice);
  w.noHistory = keepHistory;
  RestoreColours(w);
  if (v.timed) {
    w.phaseLength = time ? time : text_phase_length(w.revealLength, w.fontSize, TextSpeed(ctx));
    w.phaseStart = KivtimeGetTime();
  }
  w.finishRequest = 0;
  ShowAfterLine(ctx);
  game_debug_log(kDebugWindowCommand, "%s  %s", v.log, w.text);
  if (v.point) script_point_push(ctx);
  if (v.novel && w.textMode == 1) text_novel_append(ctx);
  if (v.novel) text_icon_place(ctx);
  command_yield(ctx);
  return 1;
}

int CmdText(VmContext* ctx) { return ShowLine(ctx, kText); }
int CmdTextW(VmContext* ctx) { return ShowLine(ctx, kTextW); }
int CmdTextA(VmContext* ctx) { return ShowLine(ctx, kTextA); }
int CmdTextWa(VmContext* ctx) { return ShowLine(ctx, kTextWa); }
int CmdTextN(VmContext* ctx) { return ShowLine(ctx, kTextN); }

int CmdTextCat(VmContext* ctx) {
  value_stack_pop(ctx);  // the voice place, not used
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t text = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t time = static_cast<uint32_t>(value_stack_pop(ctx));
  if (!Ready(ctx, "text_cat")) return 0;
  MessageWindow& w = ctx->text;
  w.timeOverride = time;
  w.nameOperand = name;
  w.textOperand = w.historyTextOperand;
  w.stateFlags = kTextKindPlain | kTextRevealing;
  w.noHistory = 1;
  text_input_clear(ctx);
  SaveColours(w);
  text_name_set(ctx, name);
  text_line_append(ctx, text);
  RestoreColours(w);
  w.phaseLength = time ? time : text_phase_length(w.revealLength, w.fontSize, TextSpeed(ctx));
  w.phaseStart = KivtimeGetTime();
  w.finishRequest = 0;
  w.noHistory = 0;
  text_reveal_step(ctx, 0);  // the earlier text stays shown
  ShowAfterLine(ctx);
  game_debug_log(kDebugWindowCommand, "text_cat  %s", w.text);
  script_point_push(ctx);
  text_icon_place(ctx);
  command_yield(ctx);
  return 1;
}

int CmdSetHistory(VmContext* ctx) {
  text_window_hooks().snapshotTake(ctx, ctx->script.pc >= 12 ? ctx->script.pc - 12 : 0);
  const uint32_t voice = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t text = static_cast<uint32_t>(value_stack_pop(ctx));
  MessageWindow& w = ctx->text;
  w.nameOperand = name;
  w.historyTextOperand = text;
  SaveColours(w);
  char entryName[kTextNameBytes] = {};
  text_name_resolve(ctx, name, entryName, &w.colours);
  uint8_t raw[4 + kTextBufferBytes] = {};
  get_string_operand(ctx, text, raw);
  char converted[kTextBufferBytes];
  text_convert(ctx, converted, reinterpret_cast<const char*>(raw + 4));
  char voiceName[kTextVoiceBytes] = {};
  if (voice != kNoOperand) {
    uint8_t v[4 + kTextVoiceBytes] = {};
    get_string_operand(ctx, voice, v);
    std::memcpy(voiceName, v + 4, kTextVoiceBytes - 1);
    std::memcpy(w.voice, voiceName, sizeof w.voice);
  }
  if (w.buttonGroup != 0xFFFF)
    btn_group_current_set(ctx, w.buttonGroup, voiceName[0] ? 1 : 0, voiceName[0] ? 0 : 3);
  if (!w.noHistory) text_window_hooks().historyAdd(ctx, entryName, converted, voiceName);
  RestoreColours(w);
  game_debug_log(kDebugWindowCommand, "set_history %s", converted);
  return 1;
}

int CmdTextRedraw(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  if (!w.textOperand) return 1;
  w.noHistory = 1;
  w.phaseLength = 0;
  if (w.textMode == 1) {
    w.stateFlags = kTextWaiting;
    for (SpriteRecord* r : {w.nameSprite, w.textSprite, w.novelSprite})
      if (r && r->sprite) KivSpritePaint(r->sprite, 0);
    int x = 0, y = 0;
    text_draw(w.novelSprite ? w.novelSprite->sprite : nullptr, w.novelPage, &x, &y, w.textW, kNovelH, w.fontSize,
              w.rubySize, w.colours, nullptr);
  } else {
    SaveColours(w);
    const uint32_t keepOverride = w.timeOverride;
    text_name_set(ctx, w.nameOperand);
    text_line_set(ctx, w.textOperand);
    RestoreColours(w);
    w.timeOverride = keepOverride;
    text_reveal_apply(&w.reveal, w.textSprite ? w.textSprite->sprite : nullptr, w.revealLength + 64);
  }
  w.noHistory = 0;
  return 1;
}

// ---- Set-up ----

int CmdTextInit(VmContext* ctx) {
  const int32_t font = value_stack_pop(ctx), x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  const int32_t width = value_stack_pop(ctx), height = value_stack_pop(ctx);
  const int32_t nameX = value_stack_pop(ctx), nameY = value_stack_pop(ctx), ruby = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "text_init %d, %d, %d, %d, %d, %d, %d, %d", font, x, y, width, height, nameX,
                 nameY, ruby);
  // Every reveal and timing divides by the font size; the box must be one
  // the 16-bit order map can count.
  if (font < 1 || font > 512 || ruby < 0 || ruby > 512 || width < 1 || height < 1 || width > 4096 || height > 4096) {
    game_debug_log(kDebugWindowError, "text_init : invalid param");
    return 0;
  }
  MessageWindow& w = ctx->text;
  w.fontSize = font;
  w.rubySize = ruby;
  w.textX = x;
  w.textY = y;
  w.textW = (width + 3) & ~3;
  w.textH = height;
  w.nameX = nameX;
  w.nameY = nameY;
  w.buttonGroup = 0xFFFF;
  w.visible = 0;
  w.initialised = 1;
  KivFontSetFontSize(font);
  if (!text_sprites_build(ctx)) {
    game_debug_log(kDebugWindowError, "text_init : sprite create error");
    return 0;
  }
  return 1;
}

int CmdTextSetIcon(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  if (!Ready(ctx, "text_set_icon")) return 0;
  if (!index_in(slot, kTextIconSlots, "text_set_icon slot")) return 0;
  TextIcon& icon = ctx->text.icons[slot];
  char name[33];
  // The old strip's animation goes with its image.
  KivAnimationRelease(icon.animation);
  icon.animation = nullptr;
  icon.record =
      text_image_load(ctx, kTextRecordIcon0 + slot, image, Priority(ctx, kTextPriorityIcon0 - slot), x, y, name);
  icon.imageOperand = icon.record ? image : 0;
  icon.animationTime = 100;
  if (icon.record && icon.record->sprite) icon.animation = KivAnimation(icon.record->sprite, 1, 100);
  game_debug_log(kDebugWindowCommand, "text_set_icon %d, %s, %d, %d", slot, name, x, y);
  return 1;
}

int CmdTextSetBase(VmContext* ctx) {
  const uint32_t image = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx), keep = value_stack_pop(ctx);
  if (!Ready(ctx, "text_set_base")) return 0;
  MessageWindow& w = ctx->text;
  char name[33];
  w.baseImage = text_image_load(ctx, kTextRecordBase, image, Priority(ctx, kTextPriorityBase), x, y, name);
  w.baseImageOperand = w.baseImage ? image : 0;
  if (keep == 1) text_system_words(ctx)[kSysWindowImage] = static_cast<int32_t>(image);
  if (w.baseImage) {
    const int32_t alpha = text_system_words(ctx)[kSysWindowAlpha];
    if (alpha != -1) {
      w.baseImage->t.colour = (w.baseImage->t.colour & 0xFFFFFFu) | static_cast<uint32_t>(alpha & 0xFF) << 24;
      sprite_transform_apply(ctx, w.baseImage);
    }
    motion_start(ctx, w.baseImage->motionSlot);
  }
  game_debug_log(kDebugWindowCommand, "text_set_base %s, %d, %d, %d", name, x, y, keep);
  return 1;
}

int CmdTextHide(VmContext* ctx) {
  const int32_t yield = value_stack_pop(ctx);
  if (!Ready(ctx, "text_hide")) return 0;
  text_hide(ctx);
  game_debug_log(kDebugWindowCommand, "text_hide %d", yield);
  if (yield) command_yield(ctx);
  return 1;
}

int CmdTextShow(VmContext* ctx) {
  const int32_t yield = value_stack_pop(ctx);
  if (!Ready(ctx, "_text_show")) return 0;
  text_show(ctx);
  game_debug_log(kDebugWindowCommand, "text_show %d", yield);
  if (yield) command_yield(ctx);
  return 1;
}

int CmdTextSetBtn(VmContext* ctx) {
  const int32_t group = value_stack_pop(ctx);
  if (!Ready(ctx, "text_set_btn")) return 0;
  if (!index_in(group, 8, "text_set_btn group")) return 0;
  ctx->text.buttonGroup = static_cast<uint16_t>(group);
  btn_group_clear_word(ctx, group);
  game_debug_log(kDebugWindowCommand, "text_set_btn %d", group);
  return 1;
}

int CmdTextUninit(VmContext* ctx) {
  if (!Ready(ctx, "text_uninit")) return 0;
  // The sprites leave with the next run, like every other queued change.
  MessageWindow& w = ctx->text;
  for (SpriteRecord*& r : {std::ref(w.baseImage), std::ref(w.icons[0].record), std::ref(w.icons[1].record),
                           std::ref(w.icons[2].record), std::ref(w.nameSprite), std::ref(w.textSprite),
                           std::ref(w.novelSprite)}) {
    sprite_record_reset(ctx, r);
    r = nullptr;
  }
  text_release(ctx);
  return 1;
}

int CmdTextSetRect(VmContext* ctx) {
  const int32_t target = value_stack_pop(ctx), width = value_stack_pop(ctx), height = value_stack_pop(ctx);
  const int32_t cw = value_stack_pop(ctx), ch = value_stack_pop(ctx);
  if (!Ready(ctx, "text_set_rect")) return 0;
  MessageWindow& w = ctx->text;
  SpriteRecord* r = nullptr;
  if (target == 0)
    r = w.baseImage;
  else if (target >= 1 && target <= 3)
    r = w.icons[target - 1].record;
  else {
    game_debug_puts(kDebugWindowError, "text_set_rect : invalid param");
    return 0;
  }
  if (r && r->sprite) {
    const KivRect rc{0, 0, width, height};
    KivSpriteSetRect(r->sprite, &rc);
    KivSpriteSetOffsetRect(r->sprite, static_cast<unsigned>(cw), static_cast<unsigned>(ch));
  }
  return 1;
}

int CmdTextClear(VmContext* ctx) {
  if (!Ready(ctx, "text_clear")) return 0;
  text_clear_window(ctx);
  game_debug_puts(kDebugWindowCommand, "text_clear");
  return 1;
}

int CmdTextSetTime(VmContext* ctx) {
  const uint32_t speed = static_cast<uint32_t>(value_stack_pop(ctx));
  text_system_words(ctx)[kSysTextSpeed] = static_cast<int32_t>(std::min<uint32_t>(speed, 100));
  return 1;
}

int CmdTextGetTime(VmContext* ctx) {
  const int32_t speed = text_system_words(ctx)[kSysTextSpeed];
  command_set_result(ctx, speed);
  game_debug_log(kDebugWindowCommand, "text_get_time [%d]", speed);
  return 1;
}

int CmdTextWindowSetAlpha(VmContext* ctx) {
  const int32_t alpha = value_stack_pop(ctx), keep = value_stack_pop(ctx);
  if (!Ready(ctx, "text_window_set_alpha")) return 0;
  if (SpriteRecord* r = ctx->text.baseImage) {
    r->t.colour = (r->t.colour & 0xFFFFFFu) | static_cast<uint32_t>(alpha & 0xFF) << 24;
    sprite_transform_apply(ctx, r);
  }
  if (keep) text_system_words(ctx)[kSysWindowAlpha] = alpha;
  game_debug_log(kDebugWindowCommand, "text_window_set_alpha %d, %d", alpha, keep);
  return 1;
}

int CmdTextVoicePlay(VmContext* ctx) {
  const int32_t n = value_stack_pop(ctx);
  if (!Ready(ctx, "text_voice_play")) return 0;
  voice_play_file(ctx, ctx->text.voice, n & 1, 0);  // bit 0: loop
  game_debug_log(kDebugWindowCommand, "text_voice_play %d : %s", n, ctx->text.voice);
  return 1;
}

int CmdTextRevealFinish(VmContext* ctx) {
  ctx->text.finishRequest = 1;
  return 1;
}

int CmdTextSetIconAnimationTime(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx), ms = value_stack_pop(ctx);
  if (!Ready(ctx, "text_set_icon_animation_time")) return 0;
  if (slot < 0 || slot >= kTextIconSlots) return 1;
  TextIcon& icon = ctx->text.icons[slot];
  icon.animationTime = ms;
  KivAnimationSetTime(icon.animation, static_cast<uint32_t>(ms));
  game_debug_log(kDebugWindowCommand, "text_set_icon_animation_time %d, %d", slot, ms);
  return 1;
}

int CmdIsTextVisible(VmContext* ctx) {
  command_set_result(ctx, static_cast<int32_t>(ctx->text.visible));
  return Ready(ctx, "is_text_visible") ? 1 : 0;
}

int CmdEnableVoiceCut(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  text_system_words(ctx)[kSysVoiceCut] = on;
  game_debug_log(kDebugWindowCommand, "enable_voice_cut %d", on);
  return 1;
}

int CmdIsVoiceCut(VmContext* ctx) {
  const int32_t on = text_system_words(ctx)[kSysVoiceCut];
  command_set_result(ctx, on);
  game_debug_log(kDebugWindowCommand, "[%d]is_voice_cut", on);
  return 1;
}

// ---- Caption ----

int CmdTextCaptionStart(VmContext* ctx) {
  const uint32_t text = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx);
  const int32_t width = value_stack_pop(ctx), height = value_stack_pop(ctx);
  uint8_t raw[4 + kTextBufferBytes] = {};
  get_string_operand(ctx, text, raw);
  if (ctx->text.captionTask) {  // one caption at a time: the old one goes
    KivTaskFree(ctx->text.captionTask);
    KivTaskReProcess(ctx->text.captionTask);
  }
  ctx->text.captionTask = text_time_check_start(ctx, reinterpret_cast<const char*>(raw + 4), x, y, width, height);
  return 1;
}

int CmdTextCaptionStop(VmContext* ctx) {
  text_reveal_task_free(ctx);
  return 1;
}

int CmdTextCaptionRedraw(VmContext* ctx) {
  if (!ctx->text.captionTask) return 1;
  return text_caption_redraw(ctx->text.captionTask) ? 1 : 0;
}

// ---- Colours and modes ----

int CmdTextSetColor(VmContext* ctx) {
  const int32_t index = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t colour = value_stack_pop(ctx), edge = value_stack_pop(ctx);
  if (index < 0 || index >= kTextColourEntries) {
    game_debug_log(kDebugWindowError, "over : text_set_color %d", index);
    return 0;
  }
  uint8_t raw[4 + 64] = {};
  get_string_operand(ctx, name, raw);
  const char* text = reinterpret_cast<const char*>(raw + 4);
  const size_t len = std::min<size_t>(std::strlen(text), 31);
  int32_t* entry = text_system_words(ctx) + kSysTextColourTable + index * kTextColourEntryWords;
  std::memset(entry, 0, kTextColourEntryWords * 4);
  entry[0] = 1;
  entry[1] = colour;
  entry[2] = edge;
  entry[3] = static_cast<int32_t>(len);
  std::memcpy(entry + 4, text, len);
  game_debug_log(kDebugWindowCommand, "text_set_color %d, %s, %06X, %06X", index, text,
                 static_cast<unsigned>(colour), static_cast<unsigned>(edge));
  return 1;
}

void NovelClear(MessageWindow& w) {
  w.novelNamed = 0;
  w.novelTextX = w.novelNextY = w.novelEndX = w.novelEndY = 0;
  w.novelPage[0] = 0;
}

int CmdSetTextMode(VmContext* ctx) {
  const int32_t mode = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_text_mode %d", mode);
  if (mode != 0 && mode != 1) return 0;
  MessageWindow& w = ctx->text;
  w.textMode = static_cast<uint32_t>(mode);
  ReleaseRecord(ctx, w.novelSprite);
  if (mode == 0) {
    NovelClear(w);
    w.novelX = w.novelY = w.novelW = w.novelH = 0;
    for (auto [r, x, y] : {std::tuple{w.nameSprite, w.nameX, w.nameY}, std::tuple{w.textSprite, w.textX, w.textY}}) {
      if (!r || !r->sprite) continue;
      r->t.aX = x;
      r->t.aY = y;
      sprite_transform_apply(ctx, r);
    }
    return 1;
  }
  w.novelSprite = text_record_make(ctx, kTextRecordNovel, kNovelW, kNovelH, Priority(ctx, kTextPriorityText + 1), w.novelX,
                             w.novelY);
  return w.novelSprite ? 1 : 0;
}

int CmdTextInitNovel(VmContext* ctx) {
  const int32_t x = value_stack_pop(ctx), y = value_stack_pop(ctx), width = value_stack_pop(ctx),
                height = value_stack_pop(ctx);
  MessageWindow& w = ctx->text;
  NovelClear(w);
  w.novelX = x;
  w.novelY = y;
  w.novelW = width;
  w.novelH = height;
  game_debug_log(kDebugWindowCommand, "text_init_visualnovelmode %d, %d, %d, %d", x, y, width, height);
  return 1;
}

int CmdTextSetIconMode(VmContext* ctx) {
  const int32_t mode = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "text_set_icon_mode %d", mode);
  if (mode != 0 && mode != 1) return 0;
  ctx->text.iconPlacement = static_cast<uint32_t>(mode);
  return 1;
}

int CmdTextVnBr(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  const size_t used = std::strlen(w.novelPage);
  if (used + 4 < sizeof w.novelPage) std::memcpy(w.novelPage + used, "<br>", 5);
  game_debug_puts(kDebugWindowCommand, "text_vn_br");
  return 1;
}

}  // namespace

// ---- Release ----

void text_release(VmContext* ctx) {
  MessageWindow& w = ctx->text;
  ReleaseRecord(ctx, w.baseImage);
  for (TextIcon& icon : w.icons) {
    KivAnimationRelease(icon.animation);  // before the sprite it steps
    icon.animation = nullptr;
  }
  for (TextIcon& icon : w.icons) ReleaseRecord(ctx, icon.record);
  ReleaseRecord(ctx, w.nameSprite);
  ReleaseRecord(ctx, w.textSprite);
  ReleaseRecord(ctx, w.novelSprite);
  text_reveal_free(&w.reveal);
  KivTask* caption = w.captionTask;
  const uint32_t pending = w.pendingInput;
  w = MessageWindow{};
  w.captionTask = caption;  // the caption lives on until stopped or reset
  w.pendingInput = pending;
  w.buttonGroup = 0xFFFF;
}

void text_reveal_task_free(VmContext* ctx) {
  KivTask* task = ctx->text.captionTask;
  if (!task) return;  // no caption: nothing to free (a null task is the running one)
  ctx->text.captionTask = nullptr;
  KivTaskFree(task);
  KivTaskReProcess(task);
}

void text_commands_install() {
  static const CommandBinding kCommands[] = {
      {"text_init", CmdTextInit},
      {"text_set_icon", CmdTextSetIcon},
      {"text", CmdText},
      {"text_hide", CmdTextHide},
      {"_text_show", CmdTextShow},
      {"text_set_btn", CmdTextSetBtn},
      {"text_uninit", CmdTextUninit},
      {"text_set_rect", CmdTextSetRect},
      {"text_clear", CmdTextClear},
      {"text_set_time", CmdTextSetTime},
      {"text_get_time", CmdTextGetTime},
      {"text_window_set_alpha", CmdTextWindowSetAlpha},
      {"text_voice_play", CmdTextVoicePlay},
      {"text_reveal_finish", CmdTextRevealFinish},
      {"text_set_icon_animation_time", CmdTextSetIconAnimationTime},
      {"text_w", CmdTextW},
      {"text_a", CmdTextA},
      {"text_wa", CmdTextWa},
      {"_text_n", CmdTextN},
      {"text_cat", CmdTextCat},
      {"set_history", CmdSetHistory},
      {"is_text_visible", CmdIsTextVisible},
      {"text_set_base", CmdTextSetBase},
      {"enable_voice_cut", CmdEnableVoiceCut},
      {"is_voice_cut", CmdIsVoiceCut},
      {"text_caption_start", CmdTextCaptionStart},
      {"text_caption_stop", CmdTextCaptionStop},
      {"text_caption_redraw", CmdTextCaptionRedraw},
      {"text_set_color", CmdTextSetColor},
      {"text_redraw", CmdTextRedraw},
      {"set_text_mode", CmdSetTextMode},
      {"text_init_visualnovelmode", CmdTextInitNovel},
      {"text_set_icon_mode", CmdTextSetIconMode},
      {"text_vn_br", CmdTextVnBr},
  };
  command_bind_all(kCommands);
}
