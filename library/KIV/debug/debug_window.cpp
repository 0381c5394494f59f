// Debug windows and the status dialog of debug mode, as a model under one
// lock. The game thread creates windows, appends rows and binds values; the
// views (platform "debug views", window thread) draw snapshots and send
// edits and menu choices back. Nothing here waits for the window thread.
//
// Log windows (kind 1) mirror every line into "<caption>.txt" in the base
// folder, Shift-JIS with CRLF line ends. Window places are kept in
// "setting.ini" in the base folder.
#include "debug/debug_window.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>

#include "core/system_state.h"
#include "platform/gpu/gpu_device.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/core/ini_file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "task/task.h"

namespace kivdebug {
namespace {

struct Window {
  int key = 0;
  std::string caption;
  int kind = 0;
  bool visible = true;
  Rect rect;
  std::vector<Row> rows;
  int* values = nullptr;  // bound values (kinds 2 and 3): the game's memory
  int count = 0;
  std::vector<int> shown;  // their copy, taken by the game thread between frames
  plat::FileHandle log = plat::kInvalidFile;
  uint64_t version = 0;
};

constexpr size_t kRowsKept = 20000;

// An edit names its window and row, not the game's memory: the values may
// be bound anew before it is applied.
struct Edit {
  int key;
  int row;
  int value;
};

// A window's place as setting.ini gives it, kept within what a screen can
// hold (a damaged file gives neither a huge window nor an overflow).
Rect Clamped(Rect r) {
  r.x = std::clamp(r.x, -32767, 32767);
  r.y = std::clamp(r.y, -32767, 32767);
  r.w = std::clamp(r.w, 40, 4096);
  r.h = std::clamp(r.h, 40, 4096);
  return r;
}

struct Model {
  std::mutex lock;
  bool statusExists = false;
  Rect statusRect{0, 0, 285, 52};
  std::atomic<int> state{0};  // bit 0 silences KivDebugPrintf
  std::list<Window> windows;  // newest first
  std::vector<Edit> edits;
  // The status dialog's numbers the game thread keeps, copied between frames.
  int fps = 0;
  int tasksLive = 0;
};

Model& M() {
  static Model m;
  return m;
}

Window* Find(Model& m, int key) {
  for (Window& w : m.windows)
    if (w.key == key) return &w;
  return nullptr;
}

std::string Base() { return g_kiv ? std::string(g_kiv->baseFolder) : std::string("."); }
std::string SettingPath() { return Base() + "\\setting.ini"; }

void CloseLog(Window& w) {
  if (w.log != plat::kInvalidFile) plat::FileClose(w.log);
  w.log = plat::kInvalidFile;
}

std::string Bits(uint32_t v) {
  std::string s(32, '0');
  for (int i = 0; i < 32; ++i)
    if (v >> (31 - i) & 1) s[static_cast<size_t>(i)] = '1';
  return s;
}

std::string Fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

}  // namespace

std::vector<WindowSnapshot> Snapshot(size_t tail) {
  Model& m = M();
  std::lock_guard g(m.lock);
  std::vector<WindowSnapshot> out;
  for (const Window& w : m.windows) {
    WindowSnapshot s;
    s.key = w.key;
    s.caption = w.caption;
    s.kind = w.kind;
    s.visible = w.visible;
    s.rect = w.rect;
    if (w.values || w.rows.size() <= tail) s.rows = w.rows;
    else s.rows.assign(w.rows.end() - static_cast<std::ptrdiff_t>(tail), w.rows.end());
    s.version = w.version;
    // The values as the game thread last copied them: the window thread
    // never reads the game's memory.
    for (size_t i = 0; i < w.shown.size() && i < s.rows.size(); ++i) s.rows[i].text = std::to_string(w.shown[i]);
    out.push_back(std::move(s));
  }
  return out;
}

StatusSnapshot Status() {
  Model& m = M();
  StatusSnapshot st;
  int fps = 0, tasksLive = 0;
  {
    std::lock_guard g(m.lock);
    fps = m.fps;
    tasksLive = m.tasksLive;
    st.exists = m.statusExists;
    st.rect = m.statusRect;
    for (const Window& w : m.windows) st.menu.push_back({w.key, w.caption, w.visible});
  }
  st.menu.push_back({kMenuShowAll, "show all", false});
  st.menu.push_back({kMenuHideAll, "hide all", false});
  st.menu.push_back({kMenuEnd, "end", false});
  KivSystemState* s = g_kiv;
  if (!s) return st;
  const KivInputState& in = s->input;
  st.rows.push_back({"mouse", Fmt("( %d, %d )[ %d, %d ] wheel = %d", in.mouseX.load(), in.mouseY.load(), in.moveX.load(),
                                  in.moveY.load(), in.wheel.load())});
  st.rows.push_back({"key", Bits(in.keyOn.load())});
  st.rows.push_back({"joy", Bits(in.joyOn.load())});
  st.rows.push_back({"fps", Fmt("%d", fps)});
  st.rows.push_back({"task", Fmt("%d", tasksLive)});
  // The texture memory the GPU device has free; "-" without one (or when
  // its driver does not tell).
  const int vram = plat::gpu::FreeTextureMemoryMiB();
  st.rows.push_back({"VRAM", vram >= 0 ? Fmt("%d M", vram) : std::string("-")});
  st.rows.push_back({"mem_cnt", Fmt("count = %d", s->liveAllocations.load())});
  return st;
}

void MenuChoose(int id) {
  Model& m = M();
  if (id == kMenuEnd) {
    if (g_kiv && g_kiv->window) g_kiv->window->Post(plat::kMsgApp + 0x69, 0, 0);
    return;
  }
  std::lock_guard g(m.lock);
  for (Window& w : m.windows) {
    const bool before = w.visible;
    if (id == kMenuShowAll) w.visible = true;
    else if (id == kMenuHideAll) w.visible = false;
    else if (id == w.key) w.visible = !w.visible;
    if (w.visible != before) ++w.version;
  }
}

bool EditRow(int key, int row, const std::string& text) {
  Model& m = M();
  std::lock_guard g(m.lock);
  Window* w = Find(m, key);
  if (!w || w->kind != kKindVariables || !w->values || row < 0 || row >= w->count) return false;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  v = std::clamp<long long>(v, INT_MIN, INT_MAX);
  m.edits.push_back({key, row, static_cast<int>(v)});
  return true;
}

void ApplyEdits() {
  Model& m = M();
  std::lock_guard g(m.lock);
  for (const Edit& e : m.edits) {
    Window* w = Find(m, e.key);
    if (w && w->values && e.row < w->count) w->values[e.row] = e.value;
  }
  m.edits.clear();
  for (Window& w : m.windows)
    if (w.values) w.shown.assign(w.values, w.values + w.count);
  if (KivSystemState* s = g_kiv) {
    m.fps = s->fps;
    m.tasksLive = s->tasks.live;
  }
}

void SetRect(int key, const Rect& r) {
  Model& m = M();
  std::lock_guard g(m.lock);
  if (key == -1) {
    m.statusRect = r;
    return;
  }
  if (Window* w = Find(m, key)) w->rect = r;
}

void SetVisible(int key, bool visible) {
  Model& m = M();
  std::lock_guard g(m.lock);
  if (Window* w = Find(m, key)) {
    w->visible = visible;
    ++w->version;
  }
}

void Reset() {
  Model& m = M();
  std::lock_guard g(m.lock);
  for (Window& w : m.windows) CloseLog(w);
  m.windows.clear();
  m.edits.clear();
  m.fps = m.tasksLive = 0;
  m.statusExists = false;
  m.state.store(0);
}

}  // namespace kivdebug

using namespace kivdebug;

void KivDebugStart(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return;
  Reset();  // nothing of an earlier engine in this process stays
  Model& m = M();
  {
    std::lock_guard g(m.lock);
    m.statusExists = true;
    const std::string ini = SettingPath();
    // The dialog keeps its own size; only its place is read.
    Rect r{plat::IniGetInt("DebugWindow", "x", 0, ini), plat::IniGetInt("DebugWindow", "y", 0, ini), 285, 52};
    r.x = std::clamp(r.x, 0, 32767);
    r.y = std::clamp(r.y, 0, 32767);
    m.statusRect = r;
  }
  KivDebugWindowCreate(0, "system", kKindLog);
}

void KivDebugCloseWindows(void) {
  // The views live on the window thread, where this runs at the end.
  KivDebugViewsClose();
  Reset();
}

void KivDebugLog(const char* cp932) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return;
  plat::DebugOutput(cp932);
  KivDebugPrintf(0, nullptr, "%s", cp932);
}

extern "C" KIV_API int KivDebugWindowCreate(int key, const char* caption, int kind) {
  if (!KivDebugIs()) return 0;
  Model& m = M();
  const std::string name = caption ? caption : "";
  std::lock_guard g(m.lock);
  if (!m.statusExists || Find(m, key)) return 0;
  Window w;
  w.key = key;
  w.caption = name;
  w.kind = kind;
  const std::string ini = SettingPath();
  w.rect = {plat::IniGetInt(name, "x", 0, ini), plat::IniGetInt(name, "y", 0, ini), plat::IniGetInt(name, "w", 100, ini),
            plat::IniGetInt(name, "h", 100, ini)};
  w.rect = Clamped(w.rect);
  if (kind == kKindLog) {
    w.log = plat::FileOpen(Base() + "\\" + name + ".txt", plat::kGenericRead | plat::kGenericWrite, plat::kCreateAlways);
    if (w.log == plat::kInvalidFile) plat::DebugOutput("debug window : log file not created\n");
  }
  m.windows.push_front(std::move(w));
  return 1;
}

extern "C" KIV_API int KivDebugPrintf(int key, const char* rowLabel, const char* format, ...) {
  if (!KivDebugIs()) return 1;
  Model& m = M();
  if (m.state.load() & 1) return 1;
  if (!format) return 0;
  // Formatted whole, however long: a line over the limit is reported and
  // still kept and written entire.
  va_list ap, copy;
  va_start(ap, format);
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string line(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(line.data(), line.size() + 1, format, ap);
  va_end(ap);
  {
    std::lock_guard g(m.lock);
    Window* w = Find(m, key);
    if (!w) return 0;
    Row r;
    if (w->kind == kKindTable) r.label = rowLabel ? rowLabel : "";
    r.text = line;
    // A log that runs for hours keeps its newest rows (the file keeps all).
    if (!w->values && w->rows.size() >= kRowsKept) w->rows.erase(w->rows.begin(), w->rows.begin() + kRowsKept / 2);
    w->rows.push_back(std::move(r));
    ++w->version;
    if (w->kind == kKindLog && w->log != plat::kInvalidFile) {
      std::string out = line + "\r\n";
      plat::FileWrite(w->log, out.data(), out.size());
    }
  }
  if (line.size() > kLineMax) plat::MessageBox(nullptr, "print string count over", "debug", plat::kMbOk);
  return 1;
}

extern "C" KIV_API int KivDebugSetData(int key, int* values, int count) {
  Model& m = M();
  if (!values || count < 0) return 0;
  std::lock_guard g(m.lock);
  Window* w = Find(m, key);
  if (!w) return 0;
  w->values = values;
  w->count = count;
  w->shown.assign(values, values + count);  // the caller is the game thread
  w->rows.clear();
  for (int i = 0; i < count; ++i) w->rows.push_back({std::to_string(i), ""});
  ++w->version;
  return 0;
}

extern "C" KIV_API int KivDebugWindowDeleteLog(int key) {
  Model& m = M();
  std::lock_guard g(m.lock);
  Window* w = Find(m, key);
  if (!w) return 0;
  w->rows.clear();
  ++w->version;
  return 1;
}

extern "C" KIV_API int KivDebugWindowDelete(int key) {
  Model& m = M();
  std::lock_guard g(m.lock);
  for (auto it = m.windows.begin(); it != m.windows.end(); ++it)
    if (it->key == key) {
      CloseLog(*it);
      // Pending edits go with it (a window made again under its key
      // starts without them).
      std::erase_if(m.edits, [key](const Edit& e) { return e.key == key; });
      m.windows.erase(it);
      return 1;
    }
  return 0;
}

extern "C" KIV_API int KivDebugWindowGetState(void) {
  Model& m = M();
  std::lock_guard g(m.lock);
  return m.statusExists ? m.state.load() : 0;
}

extern "C" KIV_API int KivDebugWindowSetState(int state) {
  Model& m = M();
  std::lock_guard g(m.lock);
  if (!m.statusExists) return 0;
  m.state.store(state);
  return 1;
}

extern "C" KIV_API int KivDebugWindowSavePos(void) {
  Model& m = M();
  std::lock_guard g(m.lock);
  if (!m.statusExists) return 0;
  const std::string ini = SettingPath();
  auto put = [&](const std::string& section, const Rect& r) {
    plat::IniWriteString(section, "x", std::to_string(r.x), ini);
    plat::IniWriteString(section, "y", std::to_string(r.y), ini);
    plat::IniWriteString(section, "w", std::to_string(r.w), ini);
    plat::IniWriteString(section, "h", std::to_string(r.h), ini);
  };
  put("DebugWindow", m.statusRect);
  for (const Window& w : m.windows) put(w.caption, w.rect);
  return 1;
}
