// Headless debug views: each view is drawn into memory, where tests read
// it (and capture it to PNG), and its input comes from what tests inject.
#include <deque>
#include <map>
#include <mutex>

#include "platform/debugview/debug_view.h"

namespace plat {
namespace {

struct View {
  std::string caption;
  Rect rect;
  bool visible = true;
  HeadlessViewFrame frame;
};

std::mutex g_lock;
std::map<std::string, HeadlessViewFrame> g_frames;                 // by caption
std::deque<std::pair<std::string, DebugViewEvent>> g_injected;     // caption, event

class HeadlessViews : public DebugViews {
 public:
  ~HeadlessViews() override {
    std::lock_guard g(g_lock);
    for (auto& [id, v] : views_) g_frames.erase(v.caption);
  }
  int Open(const std::string& caption, const Rect& rect) override {
    const int id = next_++;
    views_[id] = View{caption, rect, true, {}};
    return id;
  }
  void Show(int view, bool visible) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    it->second.visible = visible;
    std::lock_guard g(g_lock);
    g_frames[it->second.caption].visible = visible;
  }
  void Update(int view, const ListViewModel& model) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    View& v = it->second;
    HeadlessViewFrame f;
    f.width = std::max(v.rect.width(), 1);
    f.height = std::max(v.rect.height(), 1);
    f.pixels = DrawListView(model, f.width, f.height);
    f.visible = v.visible;
    f.caption = v.caption;
    std::lock_guard g(g_lock);
    g_frames[v.caption] = std::move(f);
  }
  void Close(int view) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    std::lock_guard g(g_lock);
    g_frames.erase(it->second.caption);
    views_.erase(it);
  }
  Rect Place(int view) override {
    auto it = views_.find(view);
    return it == views_.end() ? Rect{} : it->second.rect;
  }
  bool Poll(DebugViewEvent* out) override {
    std::lock_guard g(g_lock);
    while (!g_injected.empty()) {
      auto [caption, e] = g_injected.front();
      g_injected.pop_front();
      for (auto& [id, v] : views_)
        if (v.caption == caption) {
          e.view = id;
          if (e.kind == DebugViewEvent::kMoved) v.rect = e.rect;
          *out = e;
          return true;
        }
    }
    return false;
  }

 private:
  std::map<int, View> views_;
  int next_ = 1;
};

}  // namespace

std::unique_ptr<DebugViews> MakeHeadlessDebugViews() { return std::make_unique<HeadlessViews>(); }

HeadlessViewFrame HeadlessDebugViewFrame(const std::string& caption) {
  std::lock_guard g(g_lock);
  auto it = g_frames.find(caption);
  return it == g_frames.end() ? HeadlessViewFrame{} : it->second;
}

void HeadlessDebugViewInject(const std::string& caption, DebugViewEvent event) {
  std::lock_guard g(g_lock);
  g_injected.emplace_back(caption, std::move(event));
}

}  // namespace plat
