// Choices (command group 6): select builds every choice of a block at once,
// end_select waits frame after frame until one is taken by the mouse or the
// keys, then the script jumps to the label of the one taken.
//
// Keyboard selection keeps its index here: the cursor keys move the
// selected choice and Space or Enter takes it, whether or not the platform
// lets the game move the system pointer. The mouse leads again as soon as it
// moves, and a choice it hovers becomes the selected one.
#pragma once
#include <cstdint>
#include <span>

#include "kiv.h"

struct VmContext;

constexpr int kChoiceSlots = 16;
constexpr int kChoiceMaxEntries = 15;  // select_next calls one block may hold
constexpr int32_t kChoicePriority = 4871;  // above the priority base
constexpr uint32_t kChoiceBuild = 0x1;     // flags: build this choice
constexpr uint32_t kChoiceMouse = 0x2;     // flags: it reacts to the mouse and keys

// Key masks of this frame's pushes.
constexpr uint32_t kChoiceKeyPrevious = 0x80;   // up
constexpr uint32_t kChoiceKeyNext = 0x100;      // down
constexpr uint32_t kChoiceKeyDecide = 0x6;      // Space, Enter
constexpr uint32_t kChoiceClick = 0x800000;     // left mouse button

struct ChoiceState {
  int32_t active;  // 1 while a block is built and waiting
  int32_t shown;   // 1 once select built the block
  int32_t lock;    // every choice shows cell row 0 (row 1 when selected)
  int32_t count;   // built choices, 0..15
  int32_t cursor;  // the selected choice; -1 none
  uint32_t styleImage;  // record operand of the background image
  uint32_t colour[3];   // normal, selected, third (alpha 0xFF)
  KivSprite* choiceSprites[kChoiceSlots];
  KivSprite* textSprites[kChoiceSlots];
  uint32_t targets[kChoiceSlots];  // code offsets from the code base
  int32_t baseRows[kChoiceSlots];
  uint32_t flags[kChoiceSlots];
  // 1 while the keys lead the selection; the mouse position at the last key
  // step tells when the mouse takes over again.
  int32_t keyboard;
  int32_t keyMouseX, keyMouseY;
};

// Releases every choice and text sprite and zeroes the block (reset, load).
void select_release(VmContext* ctx);
// The style in a save: image operand, then the three colours (16 bytes). A
// restore refuses an image operand that names no image, nothing changed.
bool select_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
bool select_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool select_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);  // changes nothing

void select_commands_install();
