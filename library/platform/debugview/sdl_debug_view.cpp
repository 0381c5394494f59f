// SDL2 debug views: each view is an extra window on the window thread
// showing the shared list-view drawing through a streaming texture. The
// main window's event pump hands the events of these windows here: a click
// on the menu row chooses, a double click on a row starts its edit, typed
// text and Enter / Escape finish it, closing hides, moving is noted.
#include <SDL2/SDL.h>

#include <deque>
#include <map>
#include <mutex>

#include "platform/core/text_encoding.h"
#include "platform/debugview/debug_view.h"
#include "platform/window/sdl_video.h"

namespace plat {
namespace {

struct SdlView {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int w = 0, h = 0;
  ListViewModel model;
};

class SdlViews;
std::mutex g_lock;
SdlViews* g_current = nullptr;

class SdlViews : public DebugViews {
 public:
  SdlViews() {
    video_ = SdlVideoAcquire();
    std::lock_guard g(g_lock);
    g_current = this;
  }
  ~SdlViews() override {
    {
      std::lock_guard g(g_lock);
      if (g_current == this) g_current = nullptr;
    }
    for (auto& [id, v] : views_) Destroy(v);
    if (video_) SdlVideoRelease();
  }
  int Open(const std::string& caption, const Rect& rect) override {
    if (!video_) return 0;
    SdlView v;
    v.w = std::max(rect.width(), 40);
    v.h = std::max(rect.height(), 40);
    v.window = SDL_CreateWindow(Cp932ToUtf8(caption).c_str(), rect.left, rect.top, v.w, v.h,
                                SDL_WINDOW_RESIZABLE | SDL_WINDOW_SKIP_TASKBAR);
    if (!v.window) return 0;
    v.renderer = SDL_CreateRenderer(v.window, -1, SDL_RENDERER_SOFTWARE);
    if (!v.renderer) {
      SDL_DestroyWindow(v.window);
      return 0;
    }
    const int id = static_cast<int>(SDL_GetWindowID(v.window));
    views_[id] = v;
    return id;
  }
  void Show(int view, bool visible) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    if (visible) SDL_ShowWindow(it->second.window);
    else SDL_HideWindow(it->second.window);
  }
  void Update(int view, const ListViewModel& model) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    SdlView& v = it->second;
    SDL_GetWindowSize(v.window, &v.w, &v.h);
    v.model = model;
    const std::vector<uint32_t> px = DrawListView(model, v.w, v.h);
    int tw = 0, th = 0;
    if (v.texture) SDL_QueryTexture(v.texture, nullptr, nullptr, &tw, &th);
    if (!v.texture || tw != v.w || th != v.h) {
      if (v.texture) SDL_DestroyTexture(v.texture);
      v.texture = SDL_CreateTexture(v.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, v.w, v.h);
    }
    if (!v.texture) return;
    SDL_UpdateTexture(v.texture, nullptr, px.data(), v.w * 4);
    SDL_RenderClear(v.renderer);
    SDL_RenderCopy(v.renderer, v.texture, nullptr, nullptr);
    SDL_RenderPresent(v.renderer);
  }
  void Close(int view) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    Destroy(it->second);
    views_.erase(it);
  }
  Rect Place(int view) override {
    auto it = views_.find(view);
    if (it == views_.end()) return {};
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(it->second.window, &x, &y);
    SDL_GetWindowSize(it->second.window, &w, &h);
    return Rect{x, y, x + w, y + h};
  }
  bool Poll(DebugViewEvent* out) override {
    if (events_.empty()) return false;
    *out = events_.front();
    events_.pop_front();
    return true;
  }

  bool OnEvent(const SDL_Event& e) {
    uint32_t id = 0;
    switch (e.type) {
      case SDL_WINDOWEVENT: id = e.window.windowID; break;
      case SDL_MOUSEBUTTONDOWN: id = e.button.windowID; break;
      case SDL_TEXTINPUT: id = e.text.windowID; break;
      case SDL_KEYDOWN: id = e.key.windowID; break;
      default: return false;
    }
    auto it = views_.find(static_cast<int>(id));
    if (it == views_.end()) return false;
    SdlView& v = it->second;
    DebugViewEvent ev;
    ev.view = it->first;
    if (e.type == SDL_WINDOWEVENT) {
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) ev.kind = DebugViewEvent::kClose;
      else if (e.window.event == SDL_WINDOWEVENT_MOVED || e.window.event == SDL_WINDOWEVENT_RESIZED) {
        ev.kind = DebugViewEvent::kMoved;
        ev.rect = Place(ev.view);
      }
    } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) {
      const int menu = ListViewMenuAt(v.model, e.button.x, e.button.y);
      if (menu >= 0) {
        ev.kind = DebugViewEvent::kMenu;
        ev.value = menu;
      } else if (e.button.clicks == 2) {
        const int row = ListViewRowAt(v.model, v.h, e.button.x, e.button.y);
        if (row >= 0) {
          ev.kind = DebugViewEvent::kEditStart;
          ev.value = row;
          SDL_StartTextInput();
        }
      }
    } else if (e.type == SDL_TEXTINPUT) {
      ev.kind = DebugViewEvent::kEditText;
      ev.text = e.text.text;
    } else if (e.type == SDL_KEYDOWN) {
      if (e.key.keysym.sym == SDLK_RETURN) ev.kind = DebugViewEvent::kEditCommit;
      else if (e.key.keysym.sym == SDLK_ESCAPE) ev.kind = DebugViewEvent::kEditCancel;
      if (ev.kind != DebugViewEvent::kNone) SDL_StopTextInput();
    }
    if (ev.kind != DebugViewEvent::kNone) events_.push_back(ev);
    return true;
  }

 private:
  static void Destroy(SdlView& v) {
    if (v.texture) SDL_DestroyTexture(v.texture);
    if (v.renderer) SDL_DestroyRenderer(v.renderer);
    if (v.window) SDL_DestroyWindow(v.window);
    v = SdlView{};
  }
  bool video_ = false;
  std::map<int, SdlView> views_;
  std::deque<DebugViewEvent> events_;
};

}  // namespace

std::unique_ptr<DebugViews> MakeSdlDebugViews() { return std::make_unique<SdlViews>(); }

bool SdlDebugViewsOnEvent(const SDL_Event& e) {
  std::lock_guard g(g_lock);
  if (!g_current) return false;
  return g_current->OnEvent(e);
}

}  // namespace plat
