// Cursor: picks the backend for each call. The headless backend supports
// everything and changes nothing on a screen: it keeps what was asked for,
// for tests, and a warp moves the headless input's injected cursor to the
// client point on the in-memory window.
#include "platform/window/cursor.h"

#include <mutex>

#include "platform/core/backend.h"
#include "platform/input/input.h"
#include "platform/window/window.h"

namespace plat {

bool SdlCursorSetShape(Window* window, int shape, const CursorPicture* picture);
int SdlCursorShow(bool shown);
bool SdlCursorWarp(Window* window, int clientX, int clientY);

namespace {

std::mutex g_mutex;
CursorRecord g_record;

bool Real() { return WindowBackendKind() == Backend::kReal; }

void Note(Window* window) {
  if (window && window->queue() && window->queue()->owner() != std::thread::id{} &&
      window->queue()->owner() != std::this_thread::get_id())
    g_record.offThread = true;
}

}  // namespace

bool CursorSetShape(Window* window, int shape, const CursorPicture* picture) {
  if (shape < 0 || (shape > 0 && !picture)) return false;
  if (Real()) return SdlCursorSetShape(window, shape, picture);
  std::lock_guard lock(g_mutex);
  Note(window);
  g_record.shape = shape;
  ++g_record.shapeCalls;
  return true;
}

int CursorShow(Window* window, bool shown) {
  if (Real()) return SdlCursorShow(shown);
  std::lock_guard lock(g_mutex);
  Note(window);
  g_record.shown = shown;
  ++g_record.showCalls;
  return shown ? 0 : -1;
}

bool CursorWarp(Window* window, int clientX, int clientY) {
  if (!window || !window->Alive()) return false;
  if (Real()) return SdlCursorWarp(window, clientX, clientY);
  Rect client = window->backend()->ClientRectOnScreen();
  {
    std::lock_guard lock(g_mutex);
    Note(window);
    ++g_record.warps;
    g_record.warp = Point{clientX, clientY};
  }
  HeadlessSetCursor(client.left + clientX, client.top + clientY);
  return true;
}

CursorRecord HeadlessCursorRecord() {
  std::lock_guard lock(g_mutex);
  return g_record;
}

void HeadlessCursorReset() {
  std::lock_guard lock(g_mutex);
  g_record = CursorRecord{};
}

}  // namespace plat
