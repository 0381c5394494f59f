#include "platform/window/window.h"

#include "platform/core/backend.h"
#include "platform/window/messages.h"

namespace plat {

namespace {
// Window records live for the whole process, so a late post to a destroyed
// window finds a dead record and fails instead of touching freed memory.
std::mutex g_registry_mutex;
std::vector<std::unique_ptr<Window>>& Registry() {
  static std::vector<std::unique_ptr<Window>> r;
  return r;
}
}  // namespace

Window* Window::Create(const WindowDesc& desc, WindowProc proc) {
  std::unique_ptr<Window> w(new Window);
  w->proc_ = proc;
  w->queue_ = CurrentQueue();
  w->backend_ = WindowBackendKind() == Backend::kReal ? MakeSdlWindowBackend(w.get())
                                                       : MakeHeadlessWindowBackend(w.get());
  if (!w->backend_ || !w->backend_->Create(desc)) return nullptr;
  Window* raw = w.get();
  {
    std::lock_guard lock(g_registry_mutex);
    Registry().push_back(std::move(w));
  }
  raw->alive_.store(true, std::memory_order_release);
  raw->queue_->SetSource(WindowBackendKind() == Backend::kReal ? raw->backend_.get() : nullptr);
  raw->CallProc(kMsgCreate, 0, reinterpret_cast<intptr_t>(desc.create_param));
  return raw;
}

void Window::Destroy() {
  if (!alive_.exchange(false, std::memory_order_acq_rel)) return;
  proc_(this, kMsgDestroy, 0, 0);
  queue_->SetSource(nullptr);
  backend_->Destroy();
}

bool Window::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!Alive()) return false;
  return queue_->Post(Msg{this, message, wParam, lParam});
}

intptr_t Window::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!Alive()) return 0;
  return queue_->Send(Msg{this, message, wParam, lParam});
}

intptr_t Window::CallProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!Alive()) return 0;
  intptr_t result = proc_(this, message, wParam, lParam);
  WindowObserver observer;
  void* context;
  {
    std::lock_guard lock(observer_mutex_);
    observer = observer_;
    context = observer_context_;
  }
  if (observer) observer(context, this, message, wParam, lParam);
  return result;
}

void Window::SetObserver(WindowObserver observer, void* context) {
  std::lock_guard lock(observer_mutex_);
  observer_ = observer;
  observer_context_ = context;
}

intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case kMsgTextCommit:
    case kMsgTextComposition:
      delete reinterpret_cast<TextInputEvent*>(lParam);
      return 0;
    case kMsgClose:
    case kMsgEndSession:
      window->Destroy();
      return 0;
    case kMsgSysCommand:
      switch (wParam & 0xFFF0) {
        case kScClose:
          window->Send(kMsgClose, 0, 0);
          return 0;
        case kScMaximize:
          window->backend()->Maximize();
          return 0;
        default:
          return 0;
      }
    case kMsgSysKeyDown:
      if (wParam == kVkF4) window->Post(kMsgSysCommand, kScClose, 0);
      return 0;
    default:
      return 0;
  }
}

}  // namespace plat
