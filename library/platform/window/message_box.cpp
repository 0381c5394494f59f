#include "platform/window/message_box.h"

#include <SDL.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <set>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <deque>
#include <mutex>
#include <atomic>
#include <thread>

#include "platform/core/backend.h"
#include "platform/window/gtk_message_box.h"
#include "platform/window/messages.h"
#include "platform/window/window.h"
#include "platform/window/sdl_video.h"
#include "platform/core/text_encoding.h"

namespace plat {

namespace {
std::mutex g_mutex;
struct Scripted {
  int answer;
  int hold_ms;  // how long the player takes to answer
};
std::deque<Scripted> g_script;
std::vector<LoggedBox> g_log;
std::atomic<BoxHandler> g_handler{nullptr};

// The program is ending: boxes take their unshown answer.
std::atomic<bool> g_cancelled{false};
std::mutex g_cancel_mutex;
std::condition_variable g_cancel_cv;
// Threads inside SDL's box. On X11 SDL shows it from a child process that
// the calling thread forks and waits for; killing that child ends the wait.
std::set<pid_t> g_box_threads;

pid_t ThisThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Kills the processes a thread has started (the box SDL forked for it).
// True when there was one.
bool KillChildrenOf(pid_t tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/children");
  bool any = false;
  for (long child; f >> child;) {
    if (child > 0) {
      ::kill(static_cast<pid_t>(child), SIGKILL);
      any = true;
    }
  }
  return any;
}

// Kills the open SDL boxes' processes, again for a while: a box may be
// between the check that the program still runs and its fork.
void CloseSdlBoxes() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    {
      std::lock_guard lock(g_cancel_mutex);
      if (g_box_threads.empty()) return;
      for (pid_t tid : g_box_threads) KillChildrenOf(tid);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PrintUnshown(const char* text, const char* caption) {
  std::fprintf(stderr, "[%s] %s\n", Cp932ToUtf8(caption ? caption : "").c_str(),
               Cp932ToUtf8(text ? text : "").c_str());
  std::fflush(stderr);
}


// KIV_BOX_ANSWERS="yes,no,ok" answers a headless run's boxes in order, so a
// whole program can be driven from outside; "ok@500" keeps that box open
// for 500 ms first, as a player who reads it does.
void LoadAnswersFromEnvironment() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  const char* v = std::getenv("KIV_BOX_ANSWERS");
  if (!v) return;
  std::string all(v);
  size_t at = 0;
  while (at <= all.size()) {
    size_t end = all.find(',', at);
    if (end == std::string::npos) end = all.size();
    std::string word = all.substr(at, end - at);
    int hold = 0;
    if (size_t mark = word.find('@'); mark != std::string::npos) {
      hold = std::atoi(word.c_str() + mark + 1);
      if (hold < 0 || hold > 60000) hold = 0;
      word.resize(mark);
    }
    if (word == "yes") g_script.push_back({kIdYes, hold});
    else if (word == "no") g_script.push_back({kIdNo, hold});
    else if (word == "ok") g_script.push_back({kIdOk, hold});
    at = end + 1;
  }
}

int HeadlessBox(const char* text, const char* caption, uint32_t type, int unshown_answer) {
  int answer = UnshownAnswer(type, unshown_answer);
  int hold_ms = 0;
  {
    std::lock_guard lock(g_mutex);
    LoadAnswersFromEnvironment();
    if (!g_script.empty()) {
      answer = g_script.front().answer;
      hold_ms = g_script.front().hold_ms;
      g_script.pop_front();
    }
    g_log.push_back(LoggedBox{text ? text : "", caption ? caption : "", type, answer});
    // Shown on the terminal, since there is no screen to show it on.
    std::fprintf(stderr, "[%s] %s\n", Cp932ToUtf8(caption ? caption : "").c_str(),
                 Cp932ToUtf8(text ? text : "").c_str());
    std::fflush(stderr);
  }
  // The box stays open (this thread waits in it) while the player reads,
  // unless the program is told to end meanwhile.
  if (hold_ms > 0) {
    std::unique_lock lock(g_cancel_mutex);
    if (g_cancel_cv.wait_for(lock, std::chrono::milliseconds(hold_ms), [] { return g_cancelled.load(); }))
      return UnshownAnswer(type, unshown_answer);
  }
  return answer;
}

int SdlBox(const char* text, const char* caption, uint32_t type, int unshown_answer) {
  std::string t = Cp932ToUtf8(text ? text : "");
  std::string c = Cp932ToUtf8(caption ? caption : "");
  uint32_t icon = type & 0xF0;
  uint32_t flags = icon == kMbIconError ? SDL_MESSAGEBOX_ERROR
                   : icon == kMbIconWarning ? SDL_MESSAGEBOX_WARNING
                                            : SDL_MESSAGEBOX_INFORMATION;
  bool yes_no = (type & 0xF) == kMbYesNo;
  SDL_MessageBoxButtonData buttons[2];
  int count;
  if (yes_no) {
    buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kIdYes, "Yes"};
    buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kIdNo, "No"};
    count = 2;
  } else {
    buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kIdOk,
                  "OK"};
    count = 1;
  }
  SDL_MessageBoxData data{flags, nullptr, c.c_str(), t.c_str(), count, buttons, nullptr};
  int pressed = -1;
  const pid_t tid = ThisThreadId();
  {
    std::lock_guard lock(g_cancel_mutex);
    if (g_cancelled.load()) return UnshownAnswer(type, unshown_answer);
    g_box_threads.insert(tid);
  }
  bool video = SdlVideoAcquire();
  int rc = SDL_ShowMessageBox(&data, &pressed);
  if (video) SdlVideoRelease();
  {
    std::lock_guard lock(g_cancel_mutex);
    g_box_threads.erase(tid);
  }
  if (g_cancelled.load()) return UnshownAnswer(type, unshown_answer);
  if (rc != 0 || pressed < 0) {
    // Nothing to show it on: say it on the terminal and take the answer
    // that loses nothing and does what the player asked.
    std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
    return UnshownAnswer(type, unshown_answer);
  }
  return pressed;
}
}  // namespace

int UnshownAnswer(uint32_t type, int unshown_answer) {
  const bool yes_no = (type & 0xF) == kMbYesNo;
  if (yes_no && (unshown_answer == kIdYes || unshown_answer == kIdNo)) return unshown_answer;
  return yes_no ? kIdNo : kIdOk;
}

void CancelMessageBoxes() {
  {
    std::lock_guard lock(g_cancel_mutex);
    if (g_cancelled.exchange(true)) return;
  }
  g_cancel_cv.notify_all();
  bool sdl_open;
  {
    std::lock_guard lock(g_cancel_mutex);
    sdl_open = !g_box_threads.empty();
  }
  if (sdl_open) std::thread(CloseSdlBoxes).detach();
}

bool MessageBoxesCancelled() { return g_cancelled.load(); }

int MessageBox(Window* owner, const char* text, const char* caption, uint32_t type, int unshown_answer) {
  if (g_cancelled.load()) {
    // Nobody is there to answer any more: say it where a log keeps it.
    if (MessageBoxBackendKind() == Backend::kHeadless) {
      std::lock_guard lock(g_mutex);
      g_log.push_back(LoggedBox{text ? text : "", caption ? caption : "", type, UnshownAnswer(type, unshown_answer)});
    }
    PrintUnshown(text, caption);
    return UnshownAnswer(type, unshown_answer);
  }
  if (MessageBoxBackendKind() == Backend::kHeadless) return HeadlessBox(text, caption, type, unshown_answer);
  if (BoxHandler h = g_handler.load())
    return h(Cp932ToUtf8(text ? text : ""), Cp932ToUtf8(caption ? caption : ""), type);
  unsigned long owner_xid = 0;
  if (owner && owner->Alive() && owner->backend()) owner_xid = owner->backend()->NativeX11Window();
  int answer = 0;
  if (gtk_box::Show(owner_xid, Cp932ToUtf8(text ? text : ""), Cp932ToUtf8(caption ? caption : ""), type,
                    unshown_answer, &answer))
    return answer;
  return SdlBox(text, caption, type, unshown_answer);
}


void MessageBoxesUseThisGtkThread(void* parent_gtk_window) { gtk_box::UseThisThread(parent_gtk_window); }
void SetMessageBoxGtkParent(void* parent_gtk_window) { gtk_box::SetParent(parent_gtk_window); }

void SetMessageBoxHandler(BoxHandler handler) { g_handler.store(handler); }

void HeadlessBoxScript(std::vector<int> answers) {
  std::lock_guard lock(g_mutex);
  g_script.clear();
  for (int a : answers) g_script.push_back({a, 0});
}

std::vector<LoggedBox> HeadlessBoxLog() {
  std::lock_guard lock(g_mutex);
  return g_log;
}

void HeadlessBoxReset() {
  std::lock_guard lock(g_mutex);
  g_script.clear();
  g_log.clear();
}

}  // namespace plat
