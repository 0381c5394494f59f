// Threads, per-thread message queues and events.
//
// Every thread has one queue. A thread started here gets its queue before it
// runs, so a post fails only once the thread has ended. Window messages go to
// the queue of the thread that created the window and are handed to the
// window procedure by DispatchMessage; a synchronous Send to a window of
// another thread is served while that thread peeks or waits, as any wait
// here keeps serving sent messages.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace plat {

class Window;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct Msg {
  Window* window = nullptr;  // null: a thread message
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class Event {
 public:
  explicit Event(bool manual_reset, bool initially_set = false)
      : manual_(manual_reset), set_(initially_set) {}
  void Set();
  void Reset();
  bool IsSet();
  // True when the event was set within timeout_ms (kInfinite: no limit).
  bool Wait(uint32_t timeout_ms);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_;
  bool set_;
};

// A native event source served by the queue of its thread (a window backend).
class EventSource {
 public:
  virtual ~EventSource() = default;
  virtual void PollNative() = 0;               // turn native events into posts
  virtual void WaitNative(uint32_t ms) = 0;    // block until native input or Wake
  virtual void Wake() = 0;                     // from any thread
};

class Queue {
 public:
  Queue();
  ~Queue();
  bool Post(const Msg& msg);
  // Serves sent messages, then takes the next posted one.
  bool Peek(Msg* out, bool remove);
  // Returns when input is waiting or after timeout_ms.
  void Wait(uint32_t timeout_ms);
  // Synchronous call of msg.window's procedure on this queue's thread.
  intptr_t Send(const Msg& msg);
  void Close();
  bool Closed();
  void SetSource(EventSource* source);
  std::thread::id owner() const { return owner_; }
  void SetOwner(std::thread::id id) { owner_ = id; }
  // Serves pending sent messages; true when one was served.
  bool ServeSent();
  bool HasInput();

 private:
  struct SentCall;
  void WakeLocked();
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Msg> posted_;
  std::deque<SentCall*> sent_;
  bool closed_ = false;
  std::atomic<EventSource*> source_{nullptr};
  std::thread::id owner_;
};

// The calling thread's queue (made on first use for threads not started here).
Queue* CurrentQueue();

class Thread {
 public:
  // The queue exists before fn starts; when fn returns the queue is closed.
  static std::shared_ptr<Thread> Start(std::function<void()> fn);
  ~Thread();
  Queue* queue() { return queue_.get(); }
  std::thread::id id() const { return id_; }
  // True once the thread has ended (within timeout_ms).
  bool WaitEnded(uint32_t timeout_ms);
  bool Ended() { return ended_.IsSet(); }
  // Joins when ended; a thread still running is detached, never killed.
  void Release();
  // For a thread that will not end when asked (stuck at shut-down): stops
  // it where it stands, for good. It never runs again and keeps whatever
  // it held; the process can then finish without it. Not for a thread
  // that may be inside the C library's allocator on purpose.
  void Freeze();
  bool Frozen() const { return frozen_.load(); }

 private:
  Thread() = default;
  std::unique_ptr<Queue> queue_;
  std::thread thread_;
  std::thread::id id_;
  Event ended_{true};
  std::atomic<bool> frozen_{false};
};

bool PostThreadMessage(Thread* thread, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool PeekMessage(Msg* out, bool remove);
void WaitMessage();
intptr_t DispatchMessage(const Msg& msg);
void PostQuitMessage(int code);

enum class WaitResult { kEvent, kInput, kTimeout };
// Waits for the event or for input to the calling thread's queue, serving
// sent messages meanwhile.
WaitResult MsgWaitForEvent(Event* event, uint32_t timeout_ms);
// Waits for a thread's end the same way.
WaitResult MsgWaitForThread(Thread* thread, uint32_t timeout_ms);

}  // namespace plat
