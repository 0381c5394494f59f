// Message boxes: Shift-JIS text and caption, an icon, OK or Yes/No.
// Real backend: SDL's message box (text shown as UTF-8). Headless: every box
// is logged and answered from a script that a test sets; an unscripted box
// gets OK, or No for a question (the answer that changes nothing).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

class Window;

int MessageBox(Window* owner, const char* text, const char* caption, uint32_t type);

struct LoggedBox {
  std::string text;     // Shift-JIS, as given
  std::string caption;  // Shift-JIS, as given
  uint32_t type = 0;
  int answer = 0;
};

// A program with a toolkit of its own (the configuration tool) shows its real
// boxes through it: the handler gets UTF-8 text and caption. Null: SDL's box.
using BoxHandler = int (*)(const std::string& text_utf8, const std::string& caption_utf8, uint32_t type);
void SetMessageBoxHandler(BoxHandler handler);

void HeadlessBoxScript(std::vector<int> answers);  // answers in order
std::vector<LoggedBox> HeadlessBoxLog();
void HeadlessBoxReset();  // clears log and script

}  // namespace plat
