#include "platform/core/threads.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "platform/window/messages.h"
#include "platform/window/window.h"

namespace plat {

using Clock = std::chrono::steady_clock;

// ---- Event ----------------------------------------------------------------

void Event::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  cv_.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::IsSet() {
  std::lock_guard lock(mutex_);
  return set_;
}

bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  auto ready = [this] { return set_; };
  bool ok;
  if (timeout_ms == kInfinite) {
    cv_.wait(lock, ready);
    ok = true;
  } else {
    ok = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
  if (ok && !manual_) set_ = false;
  return ok;
}

// ---- Queue ----------------------------------------------------------------

struct Queue::SentCall {
  Msg msg;
  intptr_t result = 0;
  bool done = false;
};

Queue::Queue() : owner_(std::this_thread::get_id()) {}

Queue::~Queue() { Close(); }

void Queue::WakeLocked() {
  cv_.notify_all();
  if (EventSource* s = source_.load(std::memory_order_acquire)) s->Wake();
}

bool Queue::Post(const Msg& msg) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  posted_.push_back(msg);
  WakeLocked();
  return true;
}

bool Queue::ServeSent() {
  SentCall* call = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (sent_.empty()) return false;
    call = sent_.front();
    sent_.pop_front();
  }
  intptr_t result = DispatchMessage(call->msg);
  {
    std::lock_guard lock(mutex_);
    call->result = result;
    call->done = true;
  }
  cv_.notify_all();
  return true;
}

bool Queue::HasInput() {
  if (std::this_thread::get_id() == owner_) {
    if (EventSource* s = source_.load(std::memory_order_acquire)) s->PollNative();
  }
  std::lock_guard lock(mutex_);
  return !posted_.empty() || !sent_.empty();
}

bool Queue::Peek(Msg* out, bool remove) {
  while (ServeSent()) {
  }
  if (std::this_thread::get_id() == owner_) {
    if (EventSource* s = source_.load(std::memory_order_acquire)) s->PollNative();
  }
  std::lock_guard lock(mutex_);
  if (posted_.empty()) return false;
  if (out) *out = posted_.front();
  if (remove) posted_.pop_front();
  return true;
}

void Queue::Wait(uint32_t timeout_ms) {
  if (ServeSent()) return;
  EventSource* source = source_.load(std::memory_order_acquire);
  if (source && std::this_thread::get_id() == owner_) {
    if (HasInput()) return;
    source->WaitNative(timeout_ms);
    return;
  }
  std::unique_lock lock(mutex_);
  auto ready = [this] { return !posted_.empty() || !sent_.empty() || closed_; };
  if (timeout_ms == kInfinite)
    cv_.wait(lock, ready);
  else
    cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}

intptr_t Queue::Send(const Msg& msg) {
  if (std::this_thread::get_id() == owner_) return DispatchMessage(msg);
  SentCall call;
  call.msg = msg;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return 0;
    sent_.push_back(&call);
    WakeLocked();
  }
  // While waiting for the reply, keep serving calls sent to this thread so two
  // threads sending to each other cannot deadlock.
  Queue* self = CurrentQueue();
  std::unique_lock lock(mutex_);
  while (!call.done) {
    cv_.wait_for(lock, std::chrono::milliseconds(1), [&] { return call.done; });
    if (call.done) break;
    lock.unlock();
    if (self != this) self->ServeSent();
    lock.lock();
  }
  return call.result;
}

void Queue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (SentCall* c : sent_) {
      c->result = 0;
      c->done = true;
    }
    sent_.clear();
    posted_.clear();
  }
  cv_.notify_all();
}

bool Queue::Closed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

void Queue::SetSource(EventSource* source) {
  source_.store(source, std::memory_order_release);
}

namespace {
thread_local Queue* t_queue = nullptr;
thread_local std::unique_ptr<Queue> t_own_queue;
}  // namespace

Queue* CurrentQueue() {
  if (!t_queue) {
    t_own_queue = std::make_unique<Queue>();
    t_queue = t_own_queue.get();
  }
  return t_queue;
}

// ---- Thread ---------------------------------------------------------------

std::shared_ptr<Thread> Thread::Start(std::function<void()> fn) {
  std::shared_ptr<Thread> t(new Thread);
  t->queue_ = std::make_unique<Queue>();
  Thread* raw = t.get();
  try {
    t->thread_ = std::thread([raw, t, fn = std::move(fn)]() mutable {
      t_queue = raw->queue_.get();
      raw->queue_->SetOwner(std::this_thread::get_id());
      fn();
      raw->queue_->Close();
      t_queue = nullptr;
      raw->ended_.Set();
      t.reset();
    });
  } catch (...) {
    return nullptr;
  }
  t->id_ = t->thread_.get_id();
  return t;
}

Thread::~Thread() {
  if (thread_.joinable()) {
    if (std::this_thread::get_id() == thread_.get_id() || !ended_.IsSet())
      thread_.detach();
    else
      thread_.join();
  }
}

bool Thread::WaitEnded(uint32_t timeout_ms) { return ended_.Wait(timeout_ms); }

void Thread::Release() {
  if (!thread_.joinable()) return;
  if (ended_.IsSet() && std::this_thread::get_id() != thread_.get_id())
    thread_.join();
  else
    thread_.detach();
}

namespace {
// The signal that parks a frozen thread: its handler never returns.
int FreezeSignal() { return SIGRTMIN + 4; }

std::atomic<int> g_parked{0};

void Park(int) {
  g_parked.fetch_add(1);
  for (;;) ::pause();
}
}  // namespace

void Thread::Freeze() {
  if (frozen_.load() || ended_.IsSet() || !thread_.joinable()) return;
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction sa {};
    sa.sa_handler = Park;
    sigemptyset(&sa.sa_mask);
    ::sigaction(FreezeSignal(), &sa, nullptr);
  });
  const int before = g_parked.load();
  if (::pthread_kill(thread_.native_handle(), FreezeSignal()) != 0) return;
  frozen_.store(true);
  // Until it stands still (the signal arrives at its next instruction, or
  // when a blocking call of its returns).
  for (int i = 0; i < 100 && g_parked.load() == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// ---- Free functions -------------------------------------------------------

bool PostThreadMessage(Thread* thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!thread) return false;
  return thread->queue()->Post(Msg{nullptr, message, wParam, lParam});
}

bool PeekMessage(Msg* out, bool remove) { return CurrentQueue()->Peek(out, remove); }

void WaitMessage() { CurrentQueue()->Wait(kInfinite); }

intptr_t DispatchMessage(const Msg& msg) {
  if (!msg.window) return 0;
  return msg.window->CallProc(msg.message, msg.wParam, msg.lParam);
}

void PostQuitMessage(int code) {
  CurrentQueue()->Post(Msg{nullptr, kMsgQuit, static_cast<uintptr_t>(code), 0});
}

namespace {
template <typename Ready>
WaitResult MsgWaitFor(Ready ready, uint32_t timeout_ms) {
  Queue* q = CurrentQueue();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (ready()) return WaitResult::kEvent;
    q->ServeSent();
    if (ready()) return WaitResult::kEvent;
    if (q->HasInput()) return WaitResult::kInput;
    if (timeout_ms != kInfinite && Clock::now() >= deadline) return WaitResult::kTimeout;
    q->Wait(1);
  }
}
}  // namespace

WaitResult MsgWaitForEvent(Event* event, uint32_t timeout_ms) {
  return MsgWaitFor([event] { return event->IsSet(); }, timeout_ms);
}

WaitResult MsgWaitForThread(Thread* thread, uint32_t timeout_ms) {
  return MsgWaitFor([thread] { return thread->Ended(); }, timeout_ms);
}

}  // namespace plat
