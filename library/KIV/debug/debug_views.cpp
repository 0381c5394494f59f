// The debug windows' views: on the window thread, the model's snapshot is
// drawn into the platform's debug views (the status dialog with its menu,
// one list view per debug window), and what the developer does in them
// (menu choices, in-place edits, closing, moving) goes back to the model.
// The game thread only asks for a refresh; it never waits for one.
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>

#include "core/system_state.h"
#include "debug/debug_window.h"
#include "platform/core/text_encoding.h"
#include "platform/debugview/debug_view.h"

bool KivSpriteCtrlValues(int out[9]);  // control_tasks.cpp

namespace {

using namespace kivdebug;

constexpr int kCameraKey = -2;  // keyOf of the camera control's dialog
constexpr int kStatusWidth = 380, kStatusHeight = 18 + 18 + 7 * 16 + 4;

struct Views {
  std::unique_ptr<plat::DebugViews> backend;
  int status = 0;
  std::map<int, int> byKey;  // debug window key -> view
  std::map<int, int> keyOf;  // view -> key (-1 status)
  std::map<int, bool> shown;
  int spriteCtrl = 0;  // the sprite control's dialog, while its task runs
  int cameraCtrl = 0;  // the camera control's dialog, while its task runs
  int editView = 0, editRow = -1;
  std::string editText;
};

Views* g_views = nullptr;  // window thread only
std::atomic<bool> g_pending{false};

plat::Rect ToRect(const Rect& r) { return plat::Rect{r.x, r.y, r.x + r.w, r.y + r.h}; }

void HandleEvents(Views& v) {
  plat::DebugViewEvent e;
  while (v.backend->Poll(&e)) {
    auto k = v.keyOf.find(e.view);
    if (k == v.keyOf.end()) continue;
    const int key = k->second;
    switch (e.kind) {
      case plat::DebugViewEvent::kMenu:
        if (key == kCameraKey) KivCameraCtrlButton(e.value);
        else MenuChoose(e.value);
        break;
      case plat::DebugViewEvent::kEditStart:
        v.editView = e.view;
        v.editRow = e.value;
        v.editText.clear();
        break;
      case plat::DebugViewEvent::kEditText:
        if (v.editView == e.view) v.editText += plat::Utf8ToCp932(e.text);
        break;
      case plat::DebugViewEvent::kEditCommit:
        if (v.editView == e.view && key >= 0) EditRow(key, v.editRow, v.editText);
        [[fallthrough]];
      case plat::DebugViewEvent::kEditCancel:
        v.editView = 0;
        v.editRow = -1;
        v.editText.clear();
        break;
      case plat::DebugViewEvent::kClose:
        // Closing only hides (the status menu shows it again).
        if (key >= 0) SetVisible(key, false);
        break;
      case plat::DebugViewEvent::kMoved: {
        // The camera control's dialog keeps no place of its own.
        if (key == kCameraKey) break;
        const plat::Rect r = e.rect;
        SetRect(key, Rect{r.left, r.top, r.width(), r.height()});
        break;
      }
      default: break;
    }
  }
}

// The sprite control's dialog while its task runs: the nine values named as
// its edit boxes are.
void KivDebugViewsSpriteCtrl(Views& v, const plat::Rect& main) {
  int& view = v.spriteCtrl;
  int values[9];
  if (!KivSpriteCtrlValues(values)) {
    if (view) {
      v.backend->Close(view);
      view = 0;
    }
    return;
  }
  if (!view) view = v.backend->Open("KivSpriteCtrlTask", plat::Rect{main.right, main.top, main.right + 200, main.top + 200});
  if (!view) return;
  static const char* const kNames[9] = {"mouse_x", "mouse_y", "sprite_x", "sprite_y", "move_x", "move_y",
                                        "sprite_x + move_x", "sprite_y + move_y", "scale"};
  plat::ListViewModel m;
  m.caption = "KivSpriteCtrlTask";
  m.columns = {{"", 120}, {"", 80}};
  for (int i = 0; i < 9; ++i) m.rows.push_back({kNames[i], std::to_string(values[i])});
  v.backend->Update(view, m);
}

// The camera control's dialog while its task runs: eye, at and up, and the
// buttons resetting them.
void KivDebugViewsCameraCtrl(Views& v, const plat::Rect& main) {
  int& view = v.cameraCtrl;
  float values[9];
  if (!KivCameraCtrlValues(values)) {
    if (view) {
      v.backend->Close(view);
      v.keyOf.erase(view);
      view = 0;
    }
    return;
  }
  if (!view) {
    view = v.backend->Open("KivCameraCtrlTask", plat::Rect{main.right, main.top, main.right + 220, main.top + 200});
    if (!view) return;
    v.keyOf[view] = kCameraKey;
  }
  static const char* const kNames[9] = {"eye_x", "eye_y", "eye_z", "at_x", "at_y", "at_z", "up_x", "up_y", "up_z"};
  plat::ListViewModel m;
  m.caption = "KivCameraCtrlTask";
  m.columns = {{"", 80}, {"", 120}};
  for (int i = 0; i < 9; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(values[i]));
    m.rows.push_back({kNames[i], text});
  }
  m.menu = {{kKivCameraResetEye, "eye", false},
            {kKivCameraResetAt, "at", false},
            {kKivCameraResetUp, "up", false},
            {kKivCameraResetAll, "all", false}};
  v.backend->Update(view, m);
}

}  // namespace

void KivDebugViewsRefresh(void) {
  g_pending.store(false);
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return;
  const StatusSnapshot st = Status();
  if (!st.exists) return;
  if (!g_views) {
    g_views = new Views;
    g_views->backend = plat::MakeDebugViews();
  }
  Views& v = *g_views;
  if (!v.backend) return;
  if (!v.status) {
    v.status = v.backend->Open("status", plat::Rect{st.rect.x, st.rect.y, st.rect.x + kStatusWidth, st.rect.y + kStatusHeight});
    v.keyOf[v.status] = -1;
  }
  HandleEvents(v);
  if (v.status) {
    plat::ListViewModel m;
    m.caption = "status";
    m.columns = {{"status", 60}, {"status2", 300}};
    for (const Row& r : st.rows) m.rows.push_back({r.label, r.text});
    for (const auto& item : st.menu) m.menu.push_back({item.id, item.caption, item.checked});
    v.backend->Update(v.status, m);
  }
  // A view shows the newest rows; more than a screenful is never needed.
  const std::vector<WindowSnapshot> all = Snapshot(256);
  // Views of deleted windows go.
  for (auto it = v.byKey.begin(); it != v.byKey.end();) {
    bool alive = false;
    for (const auto& w : all) alive |= w.key == it->first;
    if (alive) {
      ++it;
      continue;
    }
    v.backend->Close(it->second);
    v.keyOf.erase(it->second);
    v.shown.erase(it->second);
    it = v.byKey.erase(it);
  }
  KivDebugViewsSpriteCtrl(v, s->window->backend()->OuterRect());
  KivDebugViewsCameraCtrl(v, s->window->backend()->OuterRect());
  for (const WindowSnapshot& w : all) {
    int& id = v.byKey[w.key];
    if (!id) {
      id = v.backend->Open(w.caption, ToRect(w.rect));
      if (!id) continue;
      v.keyOf[id] = w.key;
    }
    if (!v.shown.count(id) || v.shown[id] != w.visible) {
      v.backend->Show(id, w.visible);
      v.shown[id] = w.visible;
    }
    plat::ListViewModel m;
    m.caption = w.caption;
    if (w.kind == kKindLog) m.columns = {{"CONTENT", 200}};
    else m.columns = {{"VARIABLE", 60}, {"STATE", 100}};
    for (const Row& r : w.rows) {
      if (w.kind == kKindLog) m.rows.push_back({r.text});
      else m.rows.push_back({r.label, r.text});
    }
    if (v.editView == id && w.kind == kKindVariables) {
      m.editRow = v.editRow;
      m.editText = v.editText;
    }
    v.backend->Update(id, m);
  }
}

void KivDebugViewsSchedule(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug || !s->window || g_pending.exchange(true)) return;
  if (!KivAttachProcess(+[](intptr_t) { KivDebugViewsRefresh(); }, 0))
    g_pending.store(false);
}

void KivDebugViewsClose(void) {
  delete g_views;
  g_views = nullptr;
}
