// Debug views: the small extra windows of debug mode (the status dialog,
// the debug list windows and the control tasks' value dialogs). Each is a
// list view of our own: columns with titles, grid lines, scrolling to the
// newest row, an optional menu row, and one row edited in place. The same
// drawing code serves both backends: the SDL2 one shows it in an extra
// window, the headless one keeps it in memory for captures and takes
// injected input. Everything here runs on the window thread.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/geometry.h"

namespace plat {

struct ListColumn {
  std::string title;  // Shift-JIS
  int width = 60;
};

struct MenuEntry {
  int id = 0;
  std::string caption;  // Shift-JIS
  bool checked = false;
};

// What a view shows. Texts are Shift-JIS.
struct ListViewModel {
  std::string caption;
  std::vector<ListColumn> columns;
  std::vector<std::vector<std::string>> rows;
  std::vector<MenuEntry> menu;  // a menu row above the list when not empty
  int editRow = -1;             // the row being edited (its last column)
  std::string editText;
};

constexpr int kListRowHeight = 16;
constexpr int kListHeaderHeight = 18;
constexpr int kListMenuHeight = 18;

// Draws a view into width x height pixels (B G R A, rows top first). The
// list scrolls so that its last row is in view.
std::vector<uint32_t> DrawListView(const ListViewModel& m, int width, int height);
// The row (from 0) under a point of the view, -1 for none; the menu entry
// under a point, -1 for none.
int ListViewRowAt(const ListViewModel& m, int height, int x, int y);
int ListViewMenuAt(const ListViewModel& m, int x, int y);

// What the player did in a view.
struct DebugViewEvent {
  enum Kind { kNone, kMenu, kEditStart, kEditText, kEditCommit, kEditCancel, kClose, kMoved } kind = kNone;
  int view = 0;
  int value = 0;       // menu id, or the row an edit starts on
  std::string text;    // typed text (UTF-8)
  Rect rect;           // kMoved: the view's new place
};

class DebugViews {
 public:
  virtual ~DebugViews() = default;
  // Opens a view at a screen rectangle; its id (> 0), 0 on failure.
  virtual int Open(const std::string& caption, const Rect& rect) = 0;
  virtual void Show(int view, bool visible) = 0;
  virtual void Update(int view, const ListViewModel& model) = 0;
  virtual void Close(int view) = 0;
  virtual Rect Place(int view) = 0;
  // The next event, false when there is none.
  virtual bool Poll(DebugViewEvent* out) = 0;
};

// The views of the current window backend.
std::unique_ptr<DebugViews> MakeDebugViews();
std::unique_ptr<DebugViews> MakeHeadlessDebugViews();
std::unique_ptr<DebugViews> MakeSdlDebugViews();

// ---- Headless: what tests look at and inject ----
struct HeadlessViewFrame {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  bool visible = false;
  std::string caption;
};
// The last drawing of a headless view (by its caption), empty when none.
HeadlessViewFrame HeadlessDebugViewFrame(const std::string& caption);
// Queues an event for the headless views (the view named by caption).
void HeadlessDebugViewInject(const std::string& caption, DebugViewEvent event);

}  // namespace plat
