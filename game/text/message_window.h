// The message window: one line of dialogue at a time (a name sprite, a text
// sprite revealed through its reveal record, a click-wait icon and the
// line's voice), the read flags that decide what skipping may pass, auto
// mode's timing, the novel page that stacks a screen of lines, and the
// window's part of a save. The text commands (text_commands.cpp) start a
// line; text_frame advances it once a frame on the game thread.
//
// The window also owns the pending-input word: a click the window saw and
// has not used yet. Waits read it; the display queue, input_clear, a taken
// choice and button handling clear it through text_input_clear.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "data/system_data.h"
#include "kiv.h"
#include "layers/sprite_records.h"
#include "text/text_layout.h"
#include "text/text_reveal.h"

struct VmContext;

constexpr int kTextIconSlots = 3;
constexpr int kNovelPageBytes = 2048;
constexpr int kTextNameBytes = 260;
constexpr int kTextVoiceBytes = 32;
constexpr int kTextColourEntries = 16;

// State flags: the phase in the low 16 bits, the kind of line above.
constexpr uint32_t kTextRevealing = 0x1;
constexpr uint32_t kTextWaiting = 0x2;
constexpr uint32_t kTextKindPlain = 0x10000;   // reveal, then wait for a click
constexpr uint32_t kTextKindNoWait = 0x20000;  // the script goes on; clicks cannot hurry it
constexpr uint32_t kTextKindAtOnce = 0x40000;  // stands whole at once
constexpr uint32_t kTextKindGoOn = 0x80000;    // goes on by itself once revealed

// Display flags.
constexpr uint32_t kTextShowsName = 0x1;
constexpr uint32_t kTextHasVoice = 0x2;

// Sprite records of the window among the game's own images (0..15); the
// targets of text_set_rect follow the same order.
constexpr int kTextRecordBase = 0;
constexpr int kTextRecordIcon0 = 1;  // 1..3
constexpr int kTextRecordName = 4;
constexpr int kTextRecordText = 5;
constexpr int kTextRecordNovel = 6;

// Drawing priorities (above the priority base).
constexpr int32_t kTextPriorityText = 4866;  // in front of the backlog's rows (4867)
constexpr int32_t kTextPriorityName = 4866;
constexpr int32_t kTextPriorityIcon0 = 4870;  // minus the slot
constexpr int32_t kTextPriorityBase = 4871;
constexpr int32_t kTextPriorityCaption = 4866;

struct TextIcon {
  SpriteRecord* record;
  uint32_t imageOperand;  // File.dat record of the image, 0 none
  int32_t animationTime;  // ms per cell; kept when the task could not be made
  KivTask* animation;     // cell animation of the icon's strip, NULL none
};

struct MessageWindow {
  uint32_t initialised;
  uint32_t textMode;       // 0 window, 1 novel page
  uint32_t iconPlacement;  // 0 where the image puts them, 1 after the text
  int32_t fontSize;
  int32_t rubySize;
  int32_t textX, textY, textW, textH;
  int32_t nameX, nameY;
  uint16_t buttonGroup;  // 0xFFFF: none
  uint16_t spare;
  int32_t novelX, novelY, novelW, novelH;
  int32_t novelNamed;
  int32_t novelTextX, novelNextY;
  int32_t novelEndX, novelEndY;
  char novelPage[kNovelPageBytes];
  uint32_t visible;
  uint32_t read;
  uint32_t finishRequest;
  uint32_t timeOverride;
  uint32_t stateFlags;
  uint32_t displayFlags;
  uint32_t phaseStart;
  uint32_t phaseLength;
  uint32_t revealOffset;
  int32_t revealLength;
  uint32_t nameOperand, textOperand;
  uint32_t historyTextOperand;
  int32_t endX, endY;
  KivTask* captionTask;
  SpriteRecord* nameSprite;
  SpriteRecord* textSprite;
  SpriteRecord* novelSprite;
  SpriteRecord* baseImage;
  uint32_t baseImageOperand;
  TextIcon icons[kTextIconSlots];
  TextRevealRecord reveal;
  TextColours colours;
  TextColours savedColours;
  char name[kTextNameBytes];
  char text[kTextBufferBytes];
  char voice[kTextVoiceBytes];
  uint32_t pendingInput;  // the window's one pending-input word
  uint32_t noHistory;     // lines are not entered in the backlog while set
  uint32_t currentIcon;   // click-wait icon of the mode: 0 normal, 1 skip, 2 auto (not saved)
};

// ---- The system data the window keeps there ----
// Text colour table: 16 entries of {used, text colour, edge colour, name
// length, name[32]} in system words 17..208; the voice-cut switch in 211.
constexpr int kSysTextColourTable = 17;
constexpr int kTextColourEntryWords = 12;
constexpr int kSysVoiceCut = 211;

// ---- Lines ----
void text_line_set(VmContext* ctx, uint32_t text_operand);
void text_line_append(VmContext* ctx, uint32_t text_operand);
void text_name_set(VmContext* ctx, uint32_t name_operand);
void text_voice_start(VmContext* ctx, uint32_t voice_operand);
// Whether text word n had been read; marks it read. An n outside the flag
// block is logged and counts as unread, nothing written.
void text_read_flag_check(VmContext* ctx, uint32_t n);
void text_icon_place(VmContext* ctx);
void text_novel_append(VmContext* ctx);
void text_btn_update(VmContext* ctx);
// The fetched text of the name operand after colour lookup and "/n";
// returns the colours it selected in *colours (unchanged when none).
// The colours the colour table gives a speaker's name (len bytes); false,
// out untouched, when no entry names it.
bool text_name_colours(VmContext* ctx, const char* name, size_t len, TextColours* out);
void text_name_resolve(VmContext* ctx, uint32_t name_operand, char (&name)[kTextNameBytes], TextColours* colours);

// ---- The reveal ----
// Threshold for elapsed ms e of a phase of length d over reveal length L:
// e >= d or d == 0 gives L + 64.
int text_reveal_threshold(uint32_t e, uint32_t d, int32_t reveal_length);
// (reveal length / font size) x ms per character; a font size below 1
// counts as fully revealed (0).
uint32_t text_phase_length(int32_t reveal_length, int32_t font_size, uint32_t ms_per_char);
// One reveal step with the frame's input mask; true when the line stands whole.
bool text_reveal_step(VmContext* ctx, uint32_t mask);
void text_wait_begin(VmContext* ctx);
void text_wait_end(VmContext* ctx);
// The window's per-frame step (declared with the game task's steps):
// returns 1 when the line moved on or is revealing, else 0.
int text_frame_step(VmContext* ctx);

// ---- Show, hide, clear ----
void text_show(VmContext* ctx);
void text_hide(VmContext* ctx);
void text_clear_window(VmContext* ctx);

// ---- The pending-input word ----
uint32_t text_input_pending(const VmContext* ctx);
void text_input_set(VmContext* ctx);
void text_input_clear(VmContext* ctx);

// ---- Save ----
// Appends the window's block at buffer[*used] ("save buffer over" for a piece
// that does not fit, which is skipped). Reads it back: a block that is short
// or holds values no save could hold is refused, nothing changed.
bool text_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
bool text_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);

// ---- Sprites of the window ----
// A window record (kTextRecord*) with an empty w x h sprite at (x, y).
SpriteRecord* text_record_make(VmContext* ctx, int index, int w, int h, int32_t priority, int x, int y);
// The text and name sprites and the reveal buffers for the window's metrics.
bool text_sprites_build(VmContext* ctx);
// An image (base or icon) loaded hidden into its record at (x, y), or where
// the image puts itself when both are 0x0FFFFFFF; name receives its name.
SpriteRecord* text_image_load(VmContext* ctx, int index, uint32_t operand, int32_t priority, int32_t x, int32_t y,
                              char (&name)[33]);

// ---- The caption task ----
KivTask* text_time_check_start(VmContext* ctx, const char* text, int x, int y, int width, int height);
// Hides the caption's sprite and reapplies its threshold; false when it cannot.
bool text_caption_redraw(KivTask* task);

// ---- What the window asks of other components, as seams tests replace ----
struct TextWindowHooks {
  // The save snapshot with the pc a load resumes at.
  void (*snapshotTake)(VmContext* ctx, uint32_t resume_pc);
  // A backlog entry {name ("" none), text, voice ("" none)}.
  void (*historyAdd)(VmContext* ctx, const char* name, const char* text, const char* voice);
  // Whether any voice channel still plays.
  int (*voicePlaying)(VmContext* ctx);
};
const TextWindowHooks& text_window_hooks();
void text_window_hooks_set(const TextWindowHooks* hooks);  // null: the components' own

// The window's state in the context and its system data.
MessageWindow& text_window(VmContext* ctx);
int32_t* text_system_words(VmContext* ctx);
// Sets the no-history flag (lines are not entered in the backlog while set).
void text_no_history_set(VmContext* ctx, uint32_t on);
uint32_t text_no_history(const VmContext* ctx);
