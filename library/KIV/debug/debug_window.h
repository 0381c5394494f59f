// The debug windows as a model: every window's key, caption, kind, rows,
// bound values and place, kept under one lock. The game thread appends rows
// (KivDebugPrintf never waits for the window thread); the views of the
// platform's "debug views" family read snapshots of it on the window thread
// and hand edits back, which the game thread applies between frames.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kiv.h"

namespace kivdebug {

constexpr int kKindLog = 1;
constexpr int kKindTable = 2;
constexpr int kKindVariables = 3;
constexpr size_t kLineMax = 2048;  // a longer line is reported, then kept whole

// Menu ids of the status dialog.
constexpr int kMenuShowAll = 40001;
constexpr int kMenuHideAll = 40002;
constexpr int kMenuEnd = 40003;

struct Row {
  std::string label;  // column 1 (Shift-JIS)
  std::string text;   // column 2, or the one column of a log
};

struct Rect {
  int x = 0, y = 0, w = 100, h = 100;
};

// One window as the views see it.
struct WindowSnapshot {
  int key = 0;
  std::string caption;  // Shift-JIS
  int kind = 0;
  bool visible = true;
  Rect rect;
  std::vector<Row> rows;  // bound windows: column 2 holds the values, read now
  uint64_t version = 0;   // changes whenever rows or state change
};

struct StatusSnapshot {
  bool exists = false;
  Rect rect;
  std::vector<Row> rows;  // mouse, key, joy, fps, task, VRAM, mem_cnt
  struct MenuItem {
    int id;
    std::string caption;
    bool checked;
  };
  std::vector<MenuItem> menu;  // debug windows newest first, then 40001-40003
};

// Status dialog and windows ("system", key 0, is made by KivDebugStart).
// Windows without bound values give at most their last `tail` rows (what a
// view can show), so a long log costs nothing per refresh.
std::vector<WindowSnapshot> Snapshot(size_t tail = SIZE_MAX);
StatusSnapshot Status();
// A menu choice of the status dialog (window thread).
void MenuChoose(int id);
// An edit of row `row` of a variables window; applied on the game thread
// by ApplyEdits. The text is read as a decimal number, clamped to int.
bool EditRow(int key, int row, const std::string& text);
// The game thread, between frames: stores pending edits into the bound
// values and copies the values for the views (which never read the game's
// memory themselves).
void ApplyEdits();
// A window was moved or sized by the player (window thread).
void SetRect(int key, const Rect& r);  // key -1: the status dialog
void SetVisible(int key, bool visible);
// Everything is dropped (shut-down).
void Reset();

}  // namespace kivdebug

// The camera control's dialog (control_tasks.cpp): eye, at and up as the
// task holds them (false while it does not run), and its buttons, which set
// eye, at, up or all three to 0 (refused by the camera like any look-at
// with the eye on its target or no up; the camera then keeps its last).
enum : int { kKivCameraResetEye = 1011, kKivCameraResetAt = 1013, kKivCameraResetUp = 1014, kKivCameraResetAll = 1015 };
bool KivCameraCtrlValues(float out[9]);
void KivCameraCtrlButton(int id);
