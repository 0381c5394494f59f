// SDL2 window backend. Supports: one native window per backend, its events
// turned into window messages on the window thread, software frames shown
// through SDL's software renderer. Lacks: non-client areas (caption clicks reach
// the program only as the window manager's maximise), so a caption double
// click arrives as the maximise command.
//
// Frames may be presented from any thread: they are copied into a front
// buffer under a lock and drawn by the window thread the next time it serves
// its queue, since SDL rendering belongs to the thread that made the window.
// The SDL renderer is made at the first frame drawn that way: while the GPU
// device draws straight into the window (direct present) there is none.
// The window is made for OpenGL from the start, so a renderer made later
// does not make SDL re-create the native window under a surface the GPU
// device holds on it.
#include <SDL.h>
#include <SDL_syswm.h>

#include <atomic>
#include <cstring>

#include "platform/core/clock.h"
#include "platform/window/cursor.h"
#include "platform/window/messages.h"
#include "platform/input/sdl_input.h"
#include "platform/window/sdl_video.h"
#include "platform/core/text_encoding.h"
#include "platform/window/window.h"

namespace plat {
bool SdlDebugViewsOnEvent(const SDL_Event& e);  // sdl_debug_view.cpp


namespace {

uint32_t WakeEventType() {
  static const uint32_t type = SDL_RegisterEvents(1);
  return type;
}

uintptr_t VirtualKeyFor(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return 0x70 + (k - SDLK_F1);
  switch (k) {
    case SDLK_RETURN: case SDLK_KP_ENTER: return 0x0D;
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_SPACE: return 0x20;
    case SDLK_TAB: return 0x09;
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_DELETE: return 0x2E;  // the text field's editing keys
    case SDLK_HOME: return 0x24;
    case SDLK_END: return 0x23;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL: case SDLK_RCTRL: return 0x11;
    case SDLK_LALT: case SDLK_RALT: return 0x12;
    default: return 0;
  }
}

class SdlWindow : public WindowBackend {
 public:
  explicit SdlWindow(Window* owner) : owner_(owner) {}
  ~SdlWindow() override { Destroy(); }

  bool Create(const WindowDesc& d) override {
    if (!SdlVideoAcquire()) return false;
    video_ = true;
    std::string title = Cp932ToUtf8(d.title);
    // SDL2 offers a frame with or without a caption and resizable edges;
    // the maximise box is the window manager's, so a refused maximise is
    // undone when it arrives.
    uint32_t flags = SDL_WINDOW_HIDDEN;
    if (!d.decorated) flags |= SDL_WINDOW_BORDERLESS;
    if (d.resizable) flags |= SDL_WINDOW_RESIZABLE;
    decorated_ = d.decorated;
    resizable_ = d.resizable;
    maximizable_ = d.maximizable;
    window_ = SDL_CreateWindow(title.c_str(), d.x, d.y, d.width, d.height, flags | SDL_WINDOW_OPENGL);
    if (!window_) window_ = SDL_CreateWindow(title.c_str(), d.x, d.y, d.width, d.height, flags);
    if (!window_) return false;
    id_ = SDL_GetWindowID(window_);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
#if defined(SDL_VIDEO_DRIVER_X11)
    if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
      x11_window_ = static_cast<unsigned long>(info.info.x11.window);
      if (const char* name = DisplayString(info.info.x11.display)) x11_display_ = name;
    }
#endif
    WakeEventType();
    // SDL starts text input by default; it stays off until a text field
    // shows, so keys are keys and no candidate window opens.
    SDL_StopTextInput();
    return true;
  }

  void TextInputStart(Rect client) override {
    SDL_Rect r{client.left, client.top, client.right - client.left, client.bottom - client.top};
    SDL_SetTextInputRect(&r);
    SDL_StartTextInput();
  }
  void TextInputStop() override { SDL_StopTextInput(); }

  void SetIcon(const uint32_t* pixels, int w, int h) override {
    icon_ = Frame{};
    if (!window_ || !pixels || w <= 0 || h <= 0) return;
    icon_.width = w;
    icon_.height = h;
    icon_.pixels.assign(pixels, pixels + static_cast<size_t>(w) * h);
    // Packed ARGB words: B G R A in memory, as the program's pixels are.
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(icon_.pixels.data(), w, h, 32, w * 4,
                                                        SDL_PIXELFORMAT_ARGB8888);
    if (!s) return;
    SDL_SetWindowIcon(window_, s);  // SDL keeps its own copy
    SDL_FreeSurface(s);
  }
  Frame Icon() override { return icon_; }
  void AllowScreenSaver(bool allowed) override {
    if (allowed) SDL_EnableScreenSaver();
    else SDL_DisableScreenSaver();
  }
  bool ScreenSaverAllowed() override { return SDL_IsScreenSaverEnabled() == SDL_TRUE; }
  bool Decorated() override { return decorated_; }
  bool Resizable() override { return resizable_; }

  void Destroy() override {
    if (video_) SdlCursorRelease();  // cursors belong to the video subsystem
    x11_window_ = 0;
    DropRenderer();
    if (window_) SDL_DestroyWindow(window_);
    window_ = nullptr;
    if (video_) SdlVideoRelease();
    video_ = false;
  }

  void PollNative() override {
    if (!window_) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) Translate(e);
    DrawIfDirty();
  }

  void WaitNative(uint32_t ms) override {
    if (!window_) return;
    SDL_Event e;
    int got = ms == kInfinite ? SDL_WaitEvent(&e) : SDL_WaitEventTimeout(&e, static_cast<int>(ms));
    if (got) Translate(e);
    DrawIfDirty();
  }

  void Wake() override {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = WakeEventType();
    SDL_PushEvent(&e);
  }

  void Show(bool v) override {
    if (!window_) return;
    if (v) SDL_ShowWindow(window_); else SDL_HideWindow(window_);
  }
  bool Visible() override {
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN);
  }
  void SetTitle(const std::string& cp932) override {
    if (window_) SDL_SetWindowTitle(window_, Cp932ToUtf8(cp932).c_str());
  }
  // x, y is where the outer rectangle (frame included) goes, as OuterRect
  // reports it, so a position read back and set again does not drift.
  void Move(int x, int y) override {
    if (!window_) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right);
    SDL_SetWindowPosition(window_, x + left, y + top);
  }
  void SetClientSize(int w, int h) override {
    if (window_) SDL_SetWindowSize(window_, w, h);
  }
  Rect OuterRect() override {
    if (!window_) return {};
    int x, y, w, h, top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right);
    return Rect{x - left, y - top, x + w + right, y + h + bottom};
  }
  Rect ClientRectOnScreen() override {
    if (!window_) return {};
    int x, y, w, h;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    return Rect{x, y, x + w, y + h};
  }
  bool Iconic() override {
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_MINIMIZED);
  }
  void Restore() override {
    if (window_) SDL_RestoreWindow(window_);
  }
  void Maximize() override {
    maximize_allowed_ = true;
    if (window_) SDL_MaximizeWindow(window_);
  }
  void Minimize() override {
    if (window_) SDL_MinimizeWindow(window_);
  }
  // Desktop full screen: a borderless window covering the display that
  // holds the window's centre; the display mode never changes. It is done
  // by hand rather than through the window manager's full-screen state, so
  // it behaves the same with any window manager or none (a bare X server).
  void SetFullScreen(bool on) override {
    if (!window_ || on == full_screen_) return;
    if (on) {
      SDL_GetWindowPosition(window_, &saved_.left, &saved_.top);
      int w = 0, h = 0;
      SDL_GetWindowSize(window_, &w, &h);
      saved_.right = saved_.left + w;
      saved_.bottom = saved_.top + h;
      int display = SDL_GetWindowDisplayIndex(window_);
      SDL_Rect b;
      if (display < 0 || SDL_GetDisplayBounds(display, &b) != 0) return;
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, b.x, b.y);
      SDL_SetWindowSize(window_, b.w, b.h);
      SDL_RaiseWindow(window_);
    } else {
      SDL_SetWindowBordered(window_, decorated_ ? SDL_TRUE : SDL_FALSE);
      SDL_SetWindowSize(window_, saved_.width(), saved_.height());
      SDL_SetWindowPosition(window_, saved_.left, saved_.top);
    }
    full_screen_ = on;
  }

  bool FullScreen() override { return window_ && full_screen_; }

  bool Present(const uint32_t* px, int w, int h, int pitch, Rect dst, bool smooth) override {
    if (!px || w <= 0 || h <= 0 || !window_) return false;
    {
      std::lock_guard lock(front_mutex_);
      front_.width = w;
      front_.height = h;
      front_.pixels.resize(static_cast<size_t>(w) * h);
      for (int y = 0; y < h; ++y)
        std::memcpy(&front_.pixels[static_cast<size_t>(y) * w], px + static_cast<size_t>(y) * pitch,
                    static_cast<size_t>(w) * 4);
      front_dst_ = dst;
      front_smooth_ = smooth;
      dirty_ = true;
      ++presents_;
    }
    Wake();
    // The frame is drawn on the window thread; a draw that failed there
    // (no renderer, no texture) is what the next present reports.
    return !draw_failed_.load();
  }
  void PressCloseButton() override {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = id_;
    SDL_PushEvent(&e);
  }
  uint32_t Exposures() override { return exposures_.load(); }
  int PresentCount() override {
    std::lock_guard lock(front_mutex_);
    return presents_;
  }
  Frame LastFrame() override {
    std::lock_guard lock(front_mutex_);
    return front_;
  }
  void* NativeHandle() override { return window_; }
  unsigned long NativeX11Window() override { return x11_window_.load(); }
  std::string NativeX11DisplayName() override { return x11_display_; }
  void SetDirectPresent(bool on) override {
    direct_.store(on);
    {
      std::lock_guard lock(front_mutex_);
      dirty_ = true;  // back to CPU frames: the last one shows again
    }
    Wake();
  }
  bool DirectPresent() override { return direct_.load(); }

 private:
  void Post(uint32_t m, uintptr_t w, intptr_t l) { owner_->Post(m, w, l); }

  void Translate(const SDL_Event& e) {
    // Events of the debug views' extra windows go to them.
    if (SdlDebugViewsOnEvent(e)) return;
    SdlInputOnEvent(e, window_, id_);  // the input snapshot sees every event first
    switch (e.type) {
      case SDL_WINDOWEVENT:
        if (e.window.windowID != id_) return;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE: Post(kMsgClose, 0, 0); break;
          case SDL_WINDOWEVENT_MOVED: Post(kMsgMove, 0, MakeLParam(e.window.data1, e.window.data2)); break;
          case SDL_WINDOWEVENT_MINIMIZED: Post(kMsgSize, kSizeMinimized, 0); break;
          case SDL_WINDOWEVENT_RESTORED: Post(kMsgSize, kSizeRestored, 0); break;
          case SDL_WINDOWEVENT_MAXIMIZED: {
            // The window manager maximised us; the program may refuse it.
            maximize_allowed_ = false;
            if (maximizable_) owner_->CallProc(kMsgSysCommand, kScMaximize, 0);
            if (!maximize_allowed_ && window_) SDL_RestoreWindow(window_);
            break;
          }
          case SDL_WINDOWEVENT_FOCUS_GAINED: Post(kMsgActivate, 1, 0); break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            Post(kMsgActivate, 0, 0);
            Post(kMsgActivateApp, 0, 0);
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_SIZE_CHANGED: {
            exposures_.fetch_add(1);
            std::lock_guard lock(front_mutex_);
            dirty_ = true;
            break;
          }
          default: break;
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        if (e.key.windowID != id_) return;
        uintptr_t vk = VirtualKeyFor(e.key.keysym.sym);
        if (!vk) return;
        bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
        uint32_t m = e.type == SDL_KEYDOWN ? (alt ? kMsgSysKeyDown : kMsgKeyDown)
                                           : (alt ? kMsgSysKeyUp : kMsgKeyUp);
        Post(m, vk, 0);
        break;
      }
      case SDL_TEXTINPUT: {
        if (e.text.windowID != id_) return;
        auto* t = new TextInputEvent{e.text.text, 0};
        if (!owner_->Post(kMsgTextCommit, 0, reinterpret_cast<intptr_t>(t))) delete t;
        break;
      }
      case SDL_TEXTEDITING: {
        if (e.edit.windowID != id_) return;
        auto* t = new TextInputEvent{e.edit.text, e.edit.start};
        if (!owner_->Post(kMsgTextComposition, 0, reinterpret_cast<intptr_t>(t))) delete t;
        break;
      }
      case SDL_MOUSEMOTION:
        if (e.motion.windowID != id_) return;
        Post(kMsgMouseMove, 0, MakeLParam(e.motion.x, e.motion.y));
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        if (e.button.windowID != id_) return;
        bool down = e.type == SDL_MOUSEBUTTONDOWN;
        bool dbl = down && e.button.clicks == 2;
        uint32_t m;
        switch (e.button.button) {
          case SDL_BUTTON_LEFT: m = dbl ? kMsgLButtonDblClk : down ? kMsgLButtonDown : kMsgLButtonUp; break;
          case SDL_BUTTON_RIGHT: m = dbl ? kMsgRButtonDblClk : down ? kMsgRButtonDown : kMsgRButtonUp; break;
          case SDL_BUTTON_MIDDLE: m = dbl ? kMsgMButtonDblClk : down ? kMsgMButtonDown : kMsgMButtonUp; break;
          default: return;
        }
        Post(m, 0, MakeLParam(e.button.x, e.button.y));
        break;
      }
      case SDL_MOUSEWHEEL: {
        if (e.wheel.windowID != id_ || e.wheel.y == 0) return;
        int delta = e.wheel.y > 0 ? kWheelDelta : -kWheelDelta;
        Post(kMsgMouseWheel, static_cast<uintptr_t>(static_cast<uint32_t>(delta) << 16), 0);
        break;
      }
      default:
        break;
    }
  }

  // The renderer for CPU frames, made when the first one is drawn: SDL's
  // software renderer over the window surface, so no GL renderer runs under
  // frames drawn on the processor (where the GPU renderer draws, it shows
  // them itself); an accelerated one only where that cannot be made.
  bool MakeRenderer() {
    if (renderer_) return true;
    if (renderer_failed_) return false;
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    renderer_failed_ = renderer_ == nullptr;
    return renderer_ != nullptr;
  }

  void DropRenderer() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    texture_ = nullptr;
    renderer_ = nullptr;
  }

  void DrawIfDirty() {
    std::lock_guard lock(front_mutex_);
    if (direct_.load()) {
      // The GPU device draws the window: nothing of ours goes over it.
      dirty_ = false;
      if (renderer_) DropRenderer();
      return;
    }
    if (!dirty_ || front_.pixels.empty() || !window_) return;
    if (!MakeRenderer()) {
      draw_failed_.store(true);
      return;
    }
    dirty_ = false;
    if (!texture_ || tex_w_ != front_.width || tex_h_ != front_.height) {
      if (texture_) SDL_DestroyTexture(texture_);
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                   front_.width, front_.height);
      tex_w_ = front_.width;
      tex_h_ = front_.height;
      if (!texture_) {
        draw_failed_.store(true);
        return;
      }
    }
    SDL_SetTextureScaleMode(texture_, front_smooth_ ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    SDL_Rect d{front_dst_.left, front_dst_.top, front_dst_.width(), front_dst_.height()};
    const bool ok = SDL_UpdateTexture(texture_, nullptr, front_.pixels.data(), front_.width * 4) == 0 &&
                    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255) == 0 && SDL_RenderClear(renderer_) == 0 &&
                    SDL_RenderCopy(renderer_, texture_, nullptr, &d) == 0;
    if (ok) SDL_RenderPresent(renderer_);
    draw_failed_.store(!ok);
  }

  Window* owner_;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  bool renderer_failed_ = false;
  SDL_Texture* texture_ = nullptr;
  std::atomic<unsigned long> x11_window_{0};
  std::string x11_display_;
  std::atomic<bool> direct_{false};
  std::atomic<uint32_t> exposures_{0};
  std::atomic<bool> draw_failed_{false};
  int tex_w_ = 0, tex_h_ = 0;
  uint32_t id_ = 0;
  bool video_ = false;
  bool maximize_allowed_ = false;
  bool decorated_ = true, resizable_ = false, maximizable_ = true;
  Frame icon_;
  bool full_screen_ = false;
  Rect saved_;  // the client rectangle before full screen

  std::mutex front_mutex_;
  Frame front_;
  Rect front_dst_;
  bool front_smooth_ = false;
  bool dirty_ = false;
  int presents_ = 0;
};

}  // namespace

std::unique_ptr<WindowBackend> MakeSdlWindowBackend(Window* window) {
  return std::make_unique<SdlWindow>(window);
}

}  // namespace plat
