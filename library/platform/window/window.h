// Window services: the window and its messages, displays, message boxes,
// the software present and frame capture; an SDL2 backend and a headless one.
// Only library/platform/ includes SDL, GL, EGL, FFmpeg, FreeType or fontconfig headers.
//
// The window: a procedure receiving messages on the thread that created it,
// with one backend behind it (SDL2, or an in-memory window for tests).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/geometry.h"
#include "platform/core/threads.h"

namespace plat {

class Window;
using WindowProc = intptr_t (*)(Window*, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Sees every message after the window procedure has handled it, on the
// window's thread (a renderer watching focus, for example).
using WindowObserver = void (*)(void* context, Window*, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The input method's text of kMsgTextCommit / kMsgTextComposition.
struct TextInputEvent {
  std::string utf8;
  int cursor = 0;  // composition: the cursor's character offset
};

struct WindowDesc {
  std::string title;  // Shift-JIS
  int x = 0, y = 0;   // position of the window
  int width = 640, height = 480;  // client size
  void* create_param = nullptr;   // lParam of kMsgCreate
  // The frame the window manager gives it: a caption and border (else a
  // bare rectangle), edges the user may drag to resize it, and whether the
  // window manager's maximise reaches the program (else it is undone).
  bool decorated = true;
  bool resizable = false;
  bool maximizable = true;
};

// A presented software frame (32-bit, B G R A in memory, rows top first).
struct Frame {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

class WindowBackend : public EventSource {
 public:
  virtual bool Create(const WindowDesc& desc) = 0;
  virtual void Destroy() = 0;
  virtual void Show(bool visible) = 0;
  virtual bool Visible() = 0;
  virtual void SetTitle(const std::string& cp932) = 0;
  virtual void Move(int x, int y) = 0;
  virtual void SetClientSize(int width, int height) = 0;
  virtual Rect OuterRect() = 0;
  virtual Rect ClientRectOnScreen() = 0;
  virtual bool Iconic() = 0;
  virtual void Restore() = 0;
  virtual void Maximize() = 0;
  virtual void Minimize() = 0;
  virtual void SetFullScreen(bool on) = 0;
  virtual bool FullScreen() = 0;  // desktop full screen is on
  // Shows a frame scaled into dst (client coordinates); callable from any
  // thread. False when it cannot be shown (no window, or the window system
  // refused the last one).
  virtual bool Present(const uint32_t* pixels, int width, int height, int pitch_px,
                       Rect dst, bool smooth) = 0;
  // Asks the window to close as its close button does (through the window
  // system where there is one).
  virtual void PressCloseButton() = 0;
  virtual int PresentCount() = 0;
  // Counts the times the window system asked for the window's contents
  // again (uncovered, shown, resized); any thread may read it.
  virtual uint32_t Exposures() { return 0; }
  virtual Frame LastFrame() = 0;
  // The native window of a real backend (SDL_Window*), for services that
  // act on it on the window thread; null for the in-memory window.
  virtual void* NativeHandle() { return nullptr; }
  // The X11 window behind a real backend and the name of its X display, for
  // a GPU device that draws straight into it over its own connection; 0 and
  // "" when there is none (another video driver, the in-memory window).
  virtual unsigned long NativeX11Window() { return 0; }
  virtual std::string NativeX11DisplayName() { return {}; }
  // While on, the GPU device shows the frames itself (any thread may switch
  // it): CPU frames are still kept for LastFrame and PresentCount, but the
  // backend draws none into the window and makes no renderer of its own.
  virtual void SetDirectPresent(bool on) { (void)on; }
  virtual bool DirectPresent() { return false; }
  // Text input by the input method (window thread): on while a text field
  // shows, with its candidates placed by the field's client rectangle;
  // off otherwise. Committed text and the composition arrive as
  // kMsgTextCommit and kMsgTextComposition.
  virtual void TextInputStart(Rect client) { (void)client; }
  virtual void TextInputStop() {}
  // The picture the window system shows for the window (title bar, task
  // list): width x height 32-bit pixels, B G R A in memory, rows top first.
  virtual void SetIcon(const uint32_t* pixels, int width, int height) = 0;
  // The last icon given (empty: none), as the window holds it.
  virtual Frame Icon() = 0;
  // Whether the screen saver (and the display's power saving) may start
  // while the program runs; held off when false.
  virtual void AllowScreenSaver(bool allowed) = 0;
  virtual bool ScreenSaverAllowed() = 0;
  // The frame the window was made with.
  virtual bool Decorated() = 0;
  virtual bool Resizable() = 0;
};

class Window {
 public:
  // Creates the window on the calling thread, which receives its messages.
  // kMsgCreate reaches the procedure before Create returns.
  static Window* Create(const WindowDesc& desc, WindowProc proc);

  // Sends kMsgDestroy and closes the native window; posts fail afterwards.
  void Destroy();
  bool Alive() const { return alive_.load(std::memory_order_acquire); }
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam);
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam);
  intptr_t CallProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

  WindowBackend* backend() { return backend_.get(); }
  Queue* queue() { return queue_; }
  void* user = nullptr;

  // One observer at a time; NULL removes it. Set and cleared on the
  // window's thread, which is also the only one that calls it.
  void SetObserver(WindowObserver observer, void* context);

 private:
  Window() = default;
  WindowProc proc_ = nullptr;
  std::mutex observer_mutex_;
  WindowObserver observer_ = nullptr;
  void* observer_context_ = nullptr;
  Queue* queue_ = nullptr;
  std::unique_ptr<WindowBackend> backend_;
  std::atomic<bool> alive_{false};
};

// What a window does with a message its procedure passes on.
intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

std::unique_ptr<WindowBackend> MakeHeadlessWindowBackend(Window* window);
std::unique_ptr<WindowBackend> MakeSdlWindowBackend(Window* window);

// Packs two signed 16-bit values as a message's lParam does.
inline intptr_t MakeLParam(int lo, int hi) {
  return static_cast<intptr_t>(static_cast<uint32_t>((static_cast<uint16_t>(lo)) |
                                                     (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16)));
}
inline int LoWordSigned(intptr_t v) { return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF); }
inline int HiWordSigned(intptr_t v) { return static_cast<int16_t>((static_cast<uint32_t>(v) >> 16) & 0xFFFF); }

}  // namespace plat
