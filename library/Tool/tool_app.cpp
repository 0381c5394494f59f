#include "Tool/tool_app.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "shared/save_paths.h"

namespace {

void Box(const std::string& utf8_text, const char* utf8_caption, uint32_t type) {
  std::string text = plat::Utf8ToCp932(utf8_text);
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis(utf8_caption), type);
}

// The default extension: a name without one gets ".txt".
std::string WithTxt(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return base.find('.') == std::string::npos || base.back() == '.' ? path + (base.back() == '.' ? "txt" : ".txt")
                                                                   : path;
}

}  // namespace

ToolApp::ToolApp(ToolState& state, ToolUiHooks* ui) : state_(state), ui_(ui), model_(pages_create()) {}

ToolApp::~ToolApp() { report_.Stop(); }

void ToolApp::Init() {
  pages_init(&model_, state_.words, tool_adapter_list());
  model_.save_folder_enabled = state_.save_available;
}

ReportContext ToolApp::report_context() const {
  ReportContext ctx;
  ctx.tool_folder = state_.tool_folder;
  ctx.save_folder = plat::NativePath(state_.save_folder);
  ctx.tool_file = state_.tool_file;
  ctx.game_file = state_.tool_folder + "/" + plat::Cp932ToUtf8(state_.strings.program);
  ctx.gpu_section = std::atoi(state_.strings.report_gpu.c_str()) != 0;
  return ctx;
}

bool ToolApp::Press(ToolPage page, int id) {
  if (closed_) return false;
  switch (page) {
    case ToolPage::kSystem:
    case ToolPage::kGraphics:
      if (!page_press(&model_, page, id)) return false;
      ui_->Refresh();
      return true;
    case ToolPage::kMain:
      if (id == main_ctl::kSaveExit) {
        SaveAndExit();
        return true;
      }
      if (id == main_ctl::kExit) {
        Close();  // writes nothing
        return true;
      }
      if (id == main_ctl::kSaveFolder && model_.save_folder_enabled) {
        tool_save_folder_open(state_);
        return true;
      }
      if (id == main_ctl::kDxdiag) {
        tool_dxdiag_run();
        return true;
      }
      return false;
    case ToolPage::kInfo:
      if (id == info_ctl::kGet && model_.get_enabled) {
        StartReport();
        return true;
      }
      if (id == info_ctl::kSave && model_.save_enabled) {
        SaveReport();
        return true;
      }
      return false;
  }
  return false;
}

bool ToolApp::SelectAdapter(int index) {
  if (closed_ || !page_select_adapter(&model_, index)) return false;
  ui_->Refresh();
  return true;
}

void ToolApp::SaveAndExit() {
  ToolState& s = state_;
  int32_t before[kConfigWords];
  std::copy(s.words, s.words + kConfigWords, before);
  pages_store(model_, s.words);
  std::string why;
  if (tool_config_store(s, &why)) {
    Close();
    return;
  }
  std::copy(before, before + kConfigWords, s.words);
  // The window stays, so the player can try again or leave with "終了".
  std::string text = std::string("コンフィグ情報の保存に失敗しました。\n") + plat::Cp932ToUtf8(why);
  Box(text, "エラー報告", plat::kMbOk | plat::kMbIconWarning);
}

void ToolApp::tool_dxdiag_run() {
  diagnostics_ = diagnostics_build();
  if (!ui_->ShowDiagnostics(diagnostics_))
    Box("DirectX診断ツールの起動に失敗しました。", "エラー", plat::kMbOk | plat::kMbIconWarning);
}

bool ToolApp::SaveDiagnostics(const std::string& native_path) {
  return report_save_text(native_path, diagnostics_.lines);
}

void ToolApp::StartReport() {
  // "情報を保存" stays as it is: it saves the rows shown so far.
  model_.rows.clear();
  model_.get_enabled = false;
  running_ = true;
  ui_->Refresh();
  bool started = report_.Start(
      report_context(), [this](std::function<void()> fn) { ui_->Post(std::move(fn)); },
      [this](const std::string& row) {
        model_.rows.push_back(row);
        ui_->Refresh();
      },
      [this] {
        running_ = false;
        model_.get_enabled = true;
        ui_->Refresh();
        ui_->Beep();
      });
  if (!started) {
    running_ = false;
    model_.get_enabled = true;
    ui_->Refresh();
    Box("処理を開始出来ませんでした。", "エラー", plat::kMbOk | plat::kMbIconWarning);
  }
}

void ToolApp::SaveReport() {
  bool confirmed = false;
  std::string chosen = ui_->AskSavePath(&confirmed);
  if (chosen.empty()) return;
  std::string path = WithTxt(chosen);
  if (path != chosen) confirmed = false;
  if (!confirmed && ::access(path.c_str(), F_OK) == 0) {
    std::string q = path + " は既に存在します。\n上書きしますか？";
    std::string text = plat::Utf8ToCp932(q);
    if (plat::MessageBox(nullptr, text.c_str(), plat::Sjis("確認"), plat::kMbYesNo | plat::kMbIconQuestion) !=
        plat::kIdYes)
      return;
  }
  if (!report_save_text(path, model_.rows)) {
    Box("保存に失敗しました。\n" + path, "エラー", plat::kMbOk | plat::kMbIconWarning);
    return;
  }
  Box("保存しました", "完了", plat::kMbOk);
}

void ToolApp::Close() {
  if (closed_) return;
  report_.Stop();  // rows it posted are dropped
  running_ = false;
  closed_ = true;
  ui_->Close();
}
