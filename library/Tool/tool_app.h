// The tool's window as behaviour, whatever draws it: the main dialog's
// buttons, the pages' controls, the report on the information page, and
// closing. The GTK window and the headless runner both drive this.
#pragma once
#include <functional>
#include <string>

#include "Tool/tool.h"
#include "Tool/tool_diagnostics.h"
#include "Tool/tool_pages.h"
#include "Tool/tool_report.h"

// What the tool needs from the window that shows it.
class ToolUiHooks {
 public:
  virtual ~ToolUiHooks() = default;
  // Runs fn on the window's thread, later; callable from any thread.
  virtual void Post(std::function<void()> fn) = 0;
  // The model changed: show it.
  virtual void Refresh() = 0;
  // Asks where to save the report: a native path, empty when cancelled.
  // *confirmed: the window already asked before replacing that file.
  virtual std::string AskSavePath(bool* confirmed) = 0;
  // The window ends (exit code 0).
  virtual void Close() = 0;
  // The system's "information" sound: the report is complete.
  virtual void Beep() {}
  // Opens the diagnostics window over the main one; false when it cannot.
  virtual bool ShowDiagnostics(const DiagnosticsReport& report) { return false; }
};

class ToolApp {
 public:
  ToolApp(ToolState& state, ToolUiHooks* ui);
  ~ToolApp();
  // Fills the pages (adapters, record words).
  void Init();
  // A press on a control; false when it is unknown, disabled or not built.
  bool Press(ToolPage page, int id);
  bool SelectAdapter(int index);
  // Writes the diagnostics window's text; false on failure.
  bool SaveDiagnostics(const std::string& native_path);
  const DiagnosticsReport& diagnostics() const { return diagnostics_; }
  // The window is closed: a running report is stopped first.
  void Close();

  PageModel& model() { return model_; }
  const ToolState& state() const { return state_; }
  bool closed() const { return closed_; }
  bool report_running() const { return running_; }
  ReportContext report_context() const;

 private:
  void StartReport();
  void SaveReport();
  void SaveAndExit();
  void tool_dxdiag_run();

  ToolState& state_;
  ToolUiHooks* ui_;
  PageModel model_;
  DiagnosticsReport diagnostics_;
  ReportRunner report_;
  bool running_ = false;
  bool closed_ = false;
};
