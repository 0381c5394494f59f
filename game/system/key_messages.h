// Key messages: the game posts a message into one of eight slots (the
// window-mode key, a refused skip) and, when the script has installed a
// message routine with create_message, enters that routine the way gosub
// does at the start of the next frame; without a routine the messages wait
// in their slots for get_message. The per-frame poll that posts the
// window-mode message and delivers pending ones is key_message_poll
// (declared with the game task's steps in component_entries.h).
#pragma once
#include <cstdint>

struct VmContext;

constexpr int kKeyMessageSlots = 8;
constexpr uint32_t kKeyMessageWindowMode = 0;  // the window-mode key (maximise, Alt+Enter)
constexpr uint32_t kKeyMessageSkipRefused = 1;  // set_skip_mode refused to skip unread text

struct KeyMessage {
  uint32_t code;       // 0: empty
  uint32_t parameter;
};

// The message block (72 bytes as the script sees it): cleared by
// create_message and by the game reset, which keeps the routine (saves do
// not hold it, so a restart or a load leaves it installed).
struct KeyMessageState {
  uint32_t pending;  // 1 when a message waits to be delivered
  uint32_t routine;  // code offset of the message routine (from the code base); 0 none
  KeyMessage messages[kKeyMessageSlots];
};
static_assert(sizeof(KeyMessageState) == 72);

// Posts message slot := {1, parameter} and marks it pending. A slot outside
// 0..7 is logged and refused.
void message_post(VmContext* ctx, int slot, uint32_t parameter);

// Installs the group-23 handlers (create_message, get_message,
// get_message_param); called by system_commands_install.
void key_message_commands_install();
