#include "Tool/tool_headless.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "Tool/tool_app.h"

namespace {

class HeadlessUi : public ToolUiHooks {
 public:
  void Post(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
    cv_.notify_all();
  }
  void Refresh() override {}
  std::string AskSavePath(bool* confirmed) override {
    *confirmed = false;
    const char* v = std::getenv("KIV_TOOL_SAVE_AS");
    return v ? v : "";
  }
  void Close() override { closed_ = true; }
  // The diagnostics "window" is its text on stderr, and saved to
  // KIV_TOOL_DIAG_SAVE_AS when that is set.
  bool ShowDiagnostics(const DiagnosticsReport& report) override {
    for (const std::string& line : report.lines) std::fprintf(stderr, "[diag] %s\n", line.c_str());
    std::fflush(stderr);
    return true;
  }
  void Beep() override {
    std::fputs("[beep]\n", stderr);
    std::fflush(stderr);
  }

  // Runs what was posted; with `wait`, sleeps until something arrives.
  void Drain(bool wait) {
    std::deque<std::function<void()>> batch;
    {
      std::unique_lock lock(mutex_);
      if (wait) cv_.wait_for(lock, std::chrono::milliseconds(50), [&] { return !queue_.empty(); });
      batch.swap(queue_);
    }
    for (auto& fn : batch) fn();
  }
  bool closed_ = false;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
};

bool ParsePage(const std::string& s, ToolPage* page) {
  if (s == "main") *page = ToolPage::kMain;
  else if (s == "system") *page = ToolPage::kSystem;
  else if (s == "graphics") *page = ToolPage::kGraphics;
  else if (s == "info") *page = ToolPage::kInfo;
  else return false;
  return true;
}

}  // namespace

int tool_run_headless_script(ToolState& state, const std::string& script, std::string* dump) {
  HeadlessUi ui;
  ToolApp app(state, &ui);
  app.Init();
  size_t at = 0;
  while (at < script.size() && !app.closed()) {
    size_t end = script.find(',', at);
    if (end == std::string::npos) end = script.size();
    std::string word = script.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    // A press comes when the window is idle, as a player's would.
    ui.Drain(false);
    while (app.report_running()) ui.Drain(true);
    size_t colon = word.find(':');
    std::string page_name = word.substr(0, colon);
    std::string rest = colon == std::string::npos ? std::string() : word.substr(colon + 1);
    if (page_name == "wait") {
      std::fprintf(stderr, "[wait] %s\n", rest.c_str());
      std::fflush(stderr);
      for (int i = 0; i < 600 && ::access(rest.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    ToolPage page;
    bool ok = ParsePage(page_name, &page) && !rest.empty();
    if (ok) {
      size_t eq = rest.find('=');
      int id = std::atoi(rest.substr(0, eq).c_str());
      if (eq != std::string::npos && page == ToolPage::kGraphics && id == graphics_ctl::kAdapter)
        ok = app.SelectAdapter(std::atoi(rest.substr(eq + 1).c_str()));
      else ok = app.Press(page, id);
      if (ok && page == ToolPage::kMain && id == main_ctl::kDxdiag)
        if (const char* to = std::getenv("KIV_TOOL_DIAG_SAVE_AS")) ok = app.SaveDiagnostics(to);
    }
    if (!ok) std::fprintf(stderr, "[press] refused %s\n", word.c_str());
  }
  ui.Drain(false);
  while (app.report_running() && !app.closed()) ui.Drain(true);
  if (dump) *dump = pages_dump(app.model());
  app.Close();  // the window is closed when the presses end
  return 0;
}

int tool_run_headless(ToolState& state) {
  const char* script = std::getenv("KIV_TOOL_PRESS");
  std::string dump;
  int rc = tool_run_headless_script(state, script ? script : "", &dump);
  std::fputs(dump.c_str(), stdout);
  return rc;
}
