// System commands: the script's access to the game's switches (skip, auto,
// window mode, effects, skipping of unread text), fonts, raw input, window
// size, aspect and monitors, the data search path, the memory stack and the
// return-point list (group 9); random numbers and absolute values (group
// 20). The message routine (group 23) is key_messages.h.
#pragma once
#include <cstdint>

struct VmContext;

// The system data words of the game record that holds ctx.
int32_t* system_words(VmContext* ctx);

// ---- Skip and auto mode ----
// set_skip_mode: with on non-zero, skipping of unread text forbidden and the
// current line unread, posts the refused-skip message and changes nothing;
// else sets the skip byte, swaps the click-wait icon (1 for on, 0 for off)
// and moves the window group's skip button to its on or off row.
void set_skip_mode(VmContext* ctx, int32_t on);
// set_auto_mode: the auto word, icon 2 for on and 0 for off, the auto button row.
void set_auto_mode(VmContext* ctx, int32_t on);
// Binds set/get_skip_mode and set/get_auto_mode (system_commands_install).
void skip_auto_commands_install();

// What skip and auto mode ask of the buttons, as a seam tests replace: the
// value btn_expansion gave a kind of a group, and the row of one button.
struct SystemButtonHooks {
  int (*expansion)(VmContext* ctx, int group, int kind);
  int (*itemRow)(VmContext* ctx, int group, int item, int base);
};
void system_button_hooks_set(const SystemButtonHooks* hooks);  // null: the buttons' own

// ---- Math ----
// minimum + draw mod (maximum - minimum + 1) over 64 bits: reversed bounds
// are swapped and the remainder is never negative, so the result always
// lies between the bounds.
int32_t random_between(int32_t minimum, int32_t maximum, int32_t draw);
// |value|; the most negative value has none and stays as it is.
int32_t abs_value(int32_t value);

// ---- What the machine asks of a Win32 system ----
// GetSystemMetrics over the display list: 0, 1 primary size; 76-79 the
// virtual screen; 80 monitors; 19 mouse present; 43 mouse buttons; others 0.
int32_t system_metric(int32_t index);

// ---- The search path ----
// Registers archive set n in place of the current search paths: the set is
// read and parsed first, and only a good set clears the old paths; a missing
// archive.dat or set shows its box and keeps the old paths. 1/0.
int system_path_set(int set);
