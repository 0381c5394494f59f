// Script buttons and system buttons. Eight button groups of 128 buttons,
// each button a sprite with three optional script routines (click, mouse
// on, mouse off), polled once a frame through the engine's button groups;
// beside them 32 system buttons that bind the right and left mouse
// buttons, the wheel, F1-F12, Esc and the arrows to script routines. An
// event enters its routine the way gosub does: a return point {pc, kind}
// is pushed and the pc jumps to the routine.
#pragma once
#include <cstdint>

#include "kiv.h"

struct VmContext;
struct SpriteRecord;

constexpr int kButtonGroupCount = 8;
constexpr int kButtonsPerGroup = 128;
constexpr int kButtonGroupsSaved = 4;  // groups 0-3 come back after a load
constexpr int kSystemButtonCount = 32;
constexpr int kButtonExpansionCount = 4;
// btn_expansion's kinds 1, 3, 2, 4 fill the first to fourth value; -1 for
// any other kind.
constexpr int btn_expansion_slot(int kind) {
  switch (kind) {
    case 1: return 0;
    case 3: return 1;
    case 2: return 2;
    case 4: return 3;
    default: return -1;
  }
}

// One button: its sprite record (null: no button) and its routines, each a
// code offset from the code base (0: none).
struct ButtonEntry {
  SpriteRecord* record;
  uint32_t click;
  uint32_t on;
  uint32_t off;
};

struct ButtonGroup {
  int32_t initialised;
  int32_t dragLatch;  // the left button was let go (btn_drag_begin / btn_drag_wait)
  int32_t locked;     // not polled while set
  uint32_t lockTime;  // ms; 0: until btn_unlock
  uint32_t lockStart;
  int32_t lastClicked;
  int32_t lastOn;
  int32_t lastOff;
  KivButton* engine;
  ButtonEntry* hovered;  // its on routine ran, its off routine is still due
  uint32_t hoverSound;   // File.dat record operands (0: none), kept for saves
  uint32_t clickSound;
  ButtonEntry entries[kButtonsPerGroup];
  KivSpriteInfo hoverSnapshot;  // the hovered sprite as its on routine found it
  int32_t expansion[kButtonExpansionCount];
};

// 16 bytes each: the 32 form the 512-byte table a restart clears.
struct SystemButton {
  int32_t inUse;
  int32_t enabled;
  uint32_t repeatMask;  // 0, or all bits: held keys repeat
  uint32_t routine;     // code offset; 0: none
};
static_assert(sizeof(SystemButton) * kSystemButtonCount == 512);

struct ButtonState {
  ButtonGroup groups[kButtonGroupCount];
  SystemButton system[kSystemButtonCount];
};

// ---- What the other components use ----

// Enters the entry's off routine (when it has one); last off := its index.
void btn_event_post(VmContext* ctx, int group, ButtonEntry* entry);
// The visible flag of one button's sprite, or of the whole group's (index
// -1); 0 (logged) for a group or index out of range.
int btn_view_follow(VmContext* ctx, int group, int index, int visible);
// A group's engine handle (null when not initialised or out of range).
KivButton* btn_group_handle(VmContext* ctx, int group);
// The sprite of a button (null when there is none or out of range).
KivSprite* btn_item_sprite(VmContext* ctx, int group, int index);
// Sets the enabled word of system button index (0-31; others refused, logged).
void system_btn_enabled_set(VmContext* ctx, int index, int enabled);
// The value btn_expansion last gave kind 1..4 of a group; -1 when unset,
// the group is not initialised, or group or kind is out of range.
int32_t btn_expansion_value(VmContext* ctx, int group, int kind);
// KivButtonSetPos(group's button, item's sprite, base): 1, or 0 when the
// group is not initialised or the item has no sprite.
int btn_item_set_row(VmContext* ctx, int group, int item, int base);
// Applies a queued toggle: the button's base cell row := state x 3.
void btn_toggle_apply(VmContext* ctx, uint32_t group, uint32_t index, uint32_t state);

// Enters a routine as an event does: return point {pc, kind} pushed, pc
// jumps to the code base + offset.
void btn_enter_routine(VmContext* ctx, uint32_t offset, uint32_t kind);
