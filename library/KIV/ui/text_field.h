// The one-line text field of the engine (the player-name entry): a model
// under a lock, fed on the window thread by the input method (commits and
// the composition) and editing keys, drawn over the presented frame.
#pragma once
#include <cstdint>
#include <string>

namespace kivfield {

// Editing keys of KeyPress.
enum class Key { kBackspace, kDelete, kLeft, kRight, kHome, kEnd };

// What a view draws of the focused field.
struct FieldView {
  bool exists = false;
  bool visible = false;
  int x = 0, y = 0, w = 0, h = 0;  // screen coordinates
  int fontSize = 0;
  std::string text;         // Shift-JIS
  size_t caret = 0;         // byte offset in text
  std::string composition;  // UTF-8, the input method's uncommitted text (underlined)
  int compositionCursor = 0;
  uint64_t version = 0;
};

// Window thread: the input method committed UTF-8 text. Characters without
// a Shift-JIS form are refused with a beep; what passes the character
// limit is dropped (with a beep). False when nothing was inserted.
bool Commit(const std::string& utf8);
void Composition(const std::string& utf8, int cursor);
void KeyPress(Key key);
FieldView View();
// Beeps so far (the headless count).
int BeepCount();
void Beep();

}  // namespace kivfield
