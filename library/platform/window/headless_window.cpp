// In-memory window for tests and display-less runs. Supports everything the
// engine asks of a window; it has no native events (tests post messages to
// it) and keeps the last presented frame, scaled to the client size, for
// capture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/window/display.h"
#include "platform/window/window.h"

namespace plat {

namespace {

class HeadlessWindow : public WindowBackend {
 public:
  explicit HeadlessWindow(Window* owner) : owner_(owner) {}

  bool Create(const WindowDesc& d) override {
    std::lock_guard lock(mutex_);
    x_ = d.x;
    y_ = d.y;
    w_ = d.width;
    h_ = d.height;
    decorated_ = d.decorated;
    resizable_ = d.resizable;
    return true;
  }
  void SetIcon(const uint32_t* pixels, int w, int h) override {
    std::lock_guard lock(mutex_);
    icon_ = Frame{};
    if (!pixels || w <= 0 || h <= 0) return;
    icon_.width = w;
    icon_.height = h;
    icon_.pixels.assign(pixels, pixels + static_cast<size_t>(w) * h);
  }
  Frame Icon() override {
    std::lock_guard lock(mutex_);
    return icon_;
  }
  // The in-memory window keeps what a real one would ask of the display.
  void AllowScreenSaver(bool allowed) override { screen_saver_ = allowed; }
  bool ScreenSaverAllowed() override { return screen_saver_; }
  bool Decorated() override { return decorated_; }
  bool Resizable() override { return resizable_; }
  void Destroy() override {}
  void PollNative() override {}
  void WaitNative(uint32_t) override {}
  void Wake() override {}
  void Show(bool v) override { visible_ = v; }
  bool Visible() override { return visible_; }
  void SetTitle(const std::string&) override {}
  void Move(int x, int y) override {
    std::lock_guard lock(mutex_);
    x_ = x;
    y_ = y;
  }
  void SetClientSize(int w, int h) override {
    std::lock_guard lock(mutex_);
    w_ = w;
    h_ = h;
  }
  Rect OuterRect() override {
    std::lock_guard lock(mutex_);
    return Rect{x_, y_, x_ + w_, y_ + h_};
  }
  Rect ClientRectOnScreen() override { return OuterRect(); }
  bool Iconic() override { return iconic_; }
  void Restore() override { iconic_ = false; }
  void Maximize() override {}
  void Minimize() override { iconic_ = true; }
  // Desktop full screen, as the real backend has it: the window covers the
  // monitor holding its centre (else the nearest one) and gets its windowed
  // rectangle back when it leaves.
  void SetFullScreen(bool on) override {
    std::lock_guard lock(mutex_);
    if (on == full_screen_.load()) return;
    if (on) {
      saved_ = Rect{x_, y_, x_ + w_, y_ + h_};
      Rect m = MonitorNearest(Point{x_ + w_ / 2, y_ + h_ / 2});
      x_ = m.left;
      y_ = m.top;
      w_ = m.width();
      h_ = m.height();
    } else {
      x_ = saved_.left;
      y_ = saved_.top;
      w_ = saved_.width();
      h_ = saved_.height();
    }
    full_screen_ = on;
  }
  bool FullScreen() override { return full_screen_; }

  bool Present(const uint32_t* px, int w, int h, int pitch, Rect dst, bool smooth) override {
    std::lock_guard lock(mutex_);
    ++presents_;
    // Nearest-neighbour into a client-sized frame; outside dst stays black.
    // Each column's and row's source is worked out once per frame, not per
    // pixel, and rows of the frame's own width are copied whole.
    frame_.width = w_;
    frame_.height = h_;
    const size_t n = static_cast<size_t>(std::max(0, w_)) * std::max(0, h_);
    int dw = dst.width(), dh = dst.height();
    const bool covers = dst.left <= 0 && dst.top <= 0 && dst.right >= w_ && dst.bottom >= h_ && px && w > 0 && h > 0;
    if (covers && frame_.pixels.size() == n) {
      // Every pixel is written below.
    } else {
      frame_.pixels.assign(n, 0xFF000000u);
    }
    if (!px || w <= 0 || h <= 0 || dw <= 0 || dh <= 0) return true;
    const int x0 = std::max(0, dst.left), x1 = std::min(w_, dst.right);
    if (x1 <= x0) return true;
    columns_.resize(static_cast<size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x)
      columns_[static_cast<size_t>(x - x0)] = static_cast<int>((static_cast<int64_t>(x - dst.left) * w) / dw);
    const bool plain = dw == w && x0 == dst.left;  // columns map one to one
    for (int y = std::max(0, dst.top); y < std::min(h_, dst.bottom); ++y) {
      const int sy = static_cast<int>((static_cast<int64_t>(y - dst.top) * h) / dh);
      const uint32_t* s = px + static_cast<size_t>(sy) * pitch;
      uint32_t* d = frame_.pixels.data() + static_cast<size_t>(y) * w_ + x0;
      if (plain) {
        std::memcpy(d, s, static_cast<size_t>(x1 - x0) * 4);
      } else {
        const int* c = columns_.data();
        for (int i = 0, cols = x1 - x0; i < cols; ++i) d[i] = s[c[i]];
      }
    }
    return true;
  }
  void PressCloseButton() override { owner_->Post(0x0010, 0, 0); }
  int PresentCount() override {
    std::lock_guard lock(mutex_);
    return presents_;
  }
  Frame LastFrame() override {
    std::lock_guard lock(mutex_);
    return frame_;
  }

 private:
  Window* owner_;
  std::mutex mutex_;
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
  std::atomic<bool> visible_{false};
  std::atomic<bool> iconic_{false};
  std::atomic<bool> full_screen_{false};
  Rect saved_;
  int presents_ = 0;
  Frame frame_;
  std::vector<int> columns_;  // the source column of each frame column
  Frame icon_;
  std::atomic<bool> screen_saver_{true};
  bool decorated_ = true, resizable_ = false;
};

}  // namespace

std::unique_ptr<WindowBackend> MakeHeadlessWindowBackend(Window* window) {
  return std::make_unique<HeadlessWindow>(window);
}

}  // namespace plat
