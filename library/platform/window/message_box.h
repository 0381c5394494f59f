// Message boxes: Shift-JIS text and caption, an icon, OK or Yes/No.
// Real backend: a GTK 3 box (gtk_message_box.cpp) over the owner's window,
// in the desktop's fonts and the user's language; SDL's box where GTK cannot
// open the display. Headless: every box is logged and answered from a script
// that a test sets (or KIV_BOX_ANSWERS).
//
// A box that cannot be shown (no display, an X server that cannot draw it,
// a headless run with no scripted answer) is printed on stderr and takes its
// unshown answer: the one the caller names as losing no data while doing
// what the player asked (a close question: Yes, the player asked to end; a
// question about deleting data: No). Without one, OK, or No for a question.
//
// Once the program is ending (a termination signal), every box takes that
// unshown answer: those open are closed, those opened later never show.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

class Window;

constexpr int kNoUnshownAnswer = 0;

int MessageBox(Window* owner, const char* text, const char* caption, uint32_t type,
               int unshown_answer = kNoUnshownAnswer);

// The answer a box of this type takes when it cannot be shown.
int UnshownAnswer(uint32_t type, int unshown_answer);

// Ends every open box with its unshown answer, and answers boxes opened from now on the same way (the program is ending).
void CancelMessageBoxes();
bool MessageBoxesCancelled();

struct LoggedBox {
  std::string text;     // Shift-JIS, as given
  std::string caption;  // Shift-JIS, as given
  uint32_t type = 0;
  int answer = 0;
};

// Ends every open box with its unshown answer, and answers boxes opened from now on the same way (the program is ending).
void CancelMessageBoxes();
bool MessageBoxesCancelled();

// A program that runs GTK's main loop on this thread (the configuration
// tool, after gtk_init) shows its boxes there, nested in that loop, over
// `parent_gtk_window` (a GtkWindow*; null: none). Others get a GTK thread of
// their own on their first box.
void MessageBoxesUseThisGtkThread(void* parent_gtk_window);
void SetMessageBoxGtkParent(void* parent_gtk_window);

// A program with a toolkit of its own (the configuration tool) shows its real
// boxes through it: the handler gets UTF-8 text and caption. Null: SDL's box.
using BoxHandler = int (*)(const std::string& text_utf8, const std::string& caption_utf8, uint32_t type);
void SetMessageBoxHandler(BoxHandler handler);

void HeadlessBoxScript(std::vector<int> answers);  // answers in order
std::vector<LoggedBox> HeadlessBoxLog();
void HeadlessBoxReset();  // clears log and script

}  // namespace plat
