// The tool's window in GTK 3: the main dialog with its three tab pages, each
// control a widget bound to the page model (tool_pages.h), boxes the
// platform's GTK boxes over the window, the report's save dialog a GtkFileChooserDialog. Report
// rows reach the list only through the main loop (g_idle_add).
//
// KIV_TOOL_PRESS works here too: the presses are made on the widgets once
// the window is shown, so a test under a virtual display goes the way of a
// player's clicks ("diag:save", "diag:glxinfo" press the diagnostics
// window's buttons). KIV_TOOL_SHOT=folder saves each page as a PNG first,
// and the diagnostics window's tabs and the window's icon when there.
#include "Tool/tool_gtk.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Tool/tool_app.h"
#include "platform/core/backend.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"

namespace {


class GtkUi;

struct Binding {
  GtkUi* ui;
  ToolPage page;
  int id;
};

class GtkUi : public ToolUiHooks {
 public:
  explicit GtkUi(ToolState& state) : app_(state, this) {}

  // Builds and shows the main dialog.
  void tool_main_dialog();
  void Post(std::function<void()> fn) override {
    auto* heap = new std::function<void()>(std::move(fn));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer p) -> gboolean {
          (*static_cast<std::function<void()>*>(p))();
          return G_SOURCE_REMOVE;
        },
        heap, [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
  }
  void Refresh() override;
  std::string AskSavePath(bool* confirmed) override;
  void Beep() override { gdk_display_beep(gdk_display_get_default()); }
  bool ShowDiagnostics(const DiagnosticsReport& report) override;
  void Close() override {
    if (diag_) gtk_widget_destroy(diag_);
    if (window_) {
      GtkWidget* w = window_;
      window_ = nullptr;
      plat::SetMessageBoxGtkParent(nullptr);
      gtk_widget_destroy(w);
    }
    if (gtk_main_level() > 0) gtk_main_quit();
  }

  ToolApp& app() { return app_; }
  int programs_running() const { return programs_running_; }
  void RunPresses(const std::string& script);
  void SavePages(const std::string& folder);

 private:
  GtkWidget* Check(ToolPage page, int id, std::map<int, ToolControl>& model);
  GtkWidget* RadioIn(ToolPage page, int id, std::map<int, ToolControl>& model, GtkWidget* first);
  GtkWidget* Button(const char* text, ToolPage page, int id);
  GtkWidget* tool_tabs_create();
  GtkWidget* tool_system_page();
  GtkWidget* tool_graphics_page();
  GtkWidget* tool_info_page();
  static void OnToggled(GtkToggleButton* b, gpointer data);
  static void OnClicked(GtkButton* b, gpointer data);
  std::string AskPath(GtkWidget* over, const char* name, bool* confirmed);
  void SaveDiagnosticsAs();
  void StartProgram(const std::string& name, const std::string& file);
  void AddDiagnosticsTab(const std::string& title, const std::string& text);
  void SaveWindow(GtkWidget* w, const std::string& file);

  ToolApp app_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* combo_ = nullptr;
  GtkWidget* diag_ = nullptr;       // the diagnostics window, while open
  GtkWidget* diag_tabs_ = nullptr;
  std::map<std::string, GtkWidget*> diag_buttons_;  // "save", "close", program names
  int programs_running_ = 0;
  GtkListStore* rows_ = nullptr;
  std::map<int, GtkWidget*> system_, graphics_;
  std::map<std::pair<int, int>, GtkWidget*> buttons_;  // (page, id)
  std::vector<Binding*> bindings_;
  bool refreshing_ = false;
  size_t shown_rows_ = 0;
};

void GtkUi::OnToggled(GtkToggleButton* b, gpointer data) {
  auto* bind = static_cast<Binding*>(data);
  GtkUi* ui = bind->ui;
  if (ui->refreshing_) return;
  // A radio reports both the one left and the one chosen: only the chosen
  // one is a press.
  if (GTK_IS_RADIO_BUTTON(b) && !gtk_toggle_button_get_active(b)) return;
  if (!ui->app_.Press(bind->page, bind->id)) ui->Refresh();
}

void GtkUi::OnClicked(GtkButton*, gpointer data) {
  auto* bind = static_cast<Binding*>(data);
  bind->ui->app_.Press(bind->page, bind->id);
}

GtkWidget* GtkUi::Check(ToolPage page, int id, std::map<int, ToolControl>& model) {
  GtkWidget* w = gtk_check_button_new_with_label(model[id].text);
  auto* bind = new Binding{this, page, id};
  bindings_.push_back(bind);
  g_signal_connect(w, "toggled", G_CALLBACK(OnToggled), bind);
  (page == ToolPage::kSystem ? system_ : graphics_)[id] = w;
  return w;
}

GtkWidget* GtkUi::RadioIn(ToolPage page, int id, std::map<int, ToolControl>& model, GtkWidget* first) {
  GtkWidget* w = first ? gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(first), model[id].text)
                       : gtk_radio_button_new_with_label(nullptr, model[id].text);
  auto* bind = new Binding{this, page, id};
  bindings_.push_back(bind);
  g_signal_connect(w, "toggled", G_CALLBACK(OnToggled), bind);
  (page == ToolPage::kSystem ? system_ : graphics_)[id] = w;
  return w;
}

GtkWidget* GtkUi::Button(const char* text, ToolPage page, int id) {
  GtkWidget* w = gtk_button_new_with_label(text);
  auto* bind = new Binding{this, page, id};
  bindings_.push_back(bind);
  g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), bind);
  buttons_[{static_cast<int>(page), id}] = w;
  return w;
}

GtkWidget* Indented(GtkWidget* child) {
  gtk_widget_set_margin_start(child, 24);
  return child;
}

GtkWidget* GtkUi::tool_system_page() {
  using namespace system_ctl;
  auto& m = app_.model().system;
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 8);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kSystem, kInactiveRun, m), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kSystem, kScreenSaver, m), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kSystem, kSync, m), FALSE, FALSE, 0);
  GtkWidget* first = RadioIn(ToolPage::kSystem, kVSync, m, nullptr);
  gtk_box_pack_start(GTK_BOX(box), Indented(first), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Indented(RadioIn(ToolPage::kSystem, kTimeSync, m, first)), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kSystem, kResolution, m), FALSE, FALSE, 0);
  first = RadioIn(ToolPage::kSystem, kAspectKeep, m, nullptr);
  gtk_box_pack_start(GTK_BOX(box), Indented(first), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Indented(RadioIn(ToolPage::kSystem, kCenter, m, first)), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Indented(RadioIn(ToolPage::kSystem, kEdgeCut, m, first)), FALSE, FALSE, 0);
  return box;
}

GtkWidget* GtkUi::tool_graphics_page() {
  using namespace graphics_ctl;
  auto& m = app_.model().graphics;
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 8);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kGraphics, kUseGpu, m), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), Check(ToolPage::kGraphics, kUseShader, m), FALSE, FALSE, 0);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_pack_start(GTK_BOX(row), gtk_label_new("使用ディスプレイアダプタ"), FALSE, FALSE, 0);
  combo_ = gtk_combo_box_text_new();
  for (const AdapterEntry& a : app_.model().adapters)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo_), a.text.c_str());
  g_signal_connect(combo_, "changed", G_CALLBACK(+[](GtkComboBox* c, gpointer data) {
                     auto* ui = static_cast<GtkUi*>(data);
                     if (ui->refreshing_) return;
                     if (!ui->app_.SelectAdapter(gtk_combo_box_get_active(c))) ui->Refresh();
                   }),
                   this);
  gtk_box_pack_start(GTK_BOX(row), combo_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

  GtkWidget* frames = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* full = gtk_frame_new("拡大縮小時の補間（フルスクリーン時）");
  GtkWidget* full_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_container_set_border_width(GTK_CONTAINER(full_box), 4);
  GtkWidget* first = RadioIn(ToolPage::kGraphics, kFullNone, m, nullptr);
  gtk_box_pack_start(GTK_BOX(full_box), first, FALSE, FALSE, 0);
  for (int id : {kFullNearest, kFullBilinear, kFullBicubic})
    gtk_box_pack_start(GTK_BOX(full_box), RadioIn(ToolPage::kGraphics, id, m, first), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(full), full_box);
  GtkWidget* tex = gtk_frame_new("拡大縮小時の補間（テクスチャー）");
  GtkWidget* tex_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_container_set_border_width(GTK_CONTAINER(tex_box), 4);
  first = RadioIn(ToolPage::kGraphics, kTexNone, m, nullptr);
  gtk_box_pack_start(GTK_BOX(tex_box), first, FALSE, FALSE, 0);
  for (int id : {kTexNearest, kTexBilinear})
    gtk_box_pack_start(GTK_BOX(tex_box), RadioIn(ToolPage::kGraphics, id, m, first), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(tex), tex_box);
  gtk_box_pack_start(GTK_BOX(frames), full, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(frames), tex, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), frames, FALSE, FALSE, 4);
  return box;
}

GtkWidget* GtkUi::tool_info_page() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 8);
  rows_ = gtk_list_store_new(1, G_TYPE_STRING);
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(rows_));
  g_object_unref(rows_);
  gtk_tree_view_set_grid_lines(GTK_TREE_VIEW(view), GTK_TREE_VIEW_GRID_LINES_BOTH);
  GtkCellRenderer* cell = gtk_cell_renderer_text_new();
  GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes("caps", cell, "text", 0, nullptr);
  gtk_tree_view_column_set_fixed_width(column, 500);
  gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_widget_set_size_request(scroll, -1, 240);
  gtk_container_add(GTK_CONTAINER(scroll), view);
  gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_pack_end(GTK_BOX(buttons), Button("情報を保存", ToolPage::kInfo, info_ctl::kSave), FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(buttons), Button("情報の取得", ToolPage::kInfo, info_ctl::kGet), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
  return box;
}

// The three pages as tabs, the system page shown first.
GtkWidget* GtkUi::tool_tabs_create() {
  notebook_ = gtk_notebook_new();
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), tool_system_page(), gtk_label_new("システム設定"));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), tool_graphics_page(), gtk_label_new("グラフィックス設定"));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), tool_info_page(), gtk_label_new("システム情報"));
  return notebook_;
}

void GtkUi::tool_main_dialog() {
  app_.Init();
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  plat::SetMessageBoxGtkParent(window_);
  gtk_window_set_title(GTK_WINDOW(window_), "環境設定");
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  // The game's picture, at the top of the game folder, when it is there.
  std::string icon = app_.state().tool_folder + "/icon.png";
  if (::access(icon.c_str(), R_OK) == 0 && !gtk_window_set_icon_from_file(GTK_WINDOW(window_), icon.c_str(), nullptr))
    std::fprintf(stderr, "Senfar: cannot read %s\n", icon.c_str());
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     static_cast<GtkUi*>(data)->app_.Close();
                     return TRUE;
                   }),
                   this);
  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 10);
  gtk_box_pack_start(GTK_BOX(outer), tool_tabs_create(), TRUE, TRUE, 0);
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_pack_start(GTK_BOX(buttons), Button("DirectX診断", ToolPage::kMain, main_ctl::kDxdiag), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(buttons), Button("セーブフォルダ", ToolPage::kMain, main_ctl::kSaveFolder), FALSE, FALSE,
                     0);
  gtk_box_pack_end(GTK_BOX(buttons), Button("終了", ToolPage::kMain, main_ctl::kExit), FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(buttons), Button("保存して終了", ToolPage::kMain, main_ctl::kSaveExit), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window_), outer);
  Refresh();
  gtk_widget_show_all(window_);
}

void GtkUi::Refresh() {
  if (!window_) return;
  refreshing_ = true;
  PageModel& m = app_.model();
  for (auto& [id, w] : system_) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), m.system[id].checked);
    gtk_widget_set_sensitive(w, m.system[id].enabled);
  }
  for (auto& [id, w] : graphics_) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), m.graphics[id].checked);
    gtk_widget_set_sensitive(w, m.graphics[id].enabled);
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(combo_), m.selection);
  gtk_widget_set_sensitive(buttons_[{static_cast<int>(ToolPage::kMain), main_ctl::kSaveFolder}],
                           m.save_folder_enabled);
  gtk_widget_set_sensitive(buttons_[{static_cast<int>(ToolPage::kInfo), info_ctl::kGet}], m.get_enabled);
  gtk_widget_set_sensitive(buttons_[{static_cast<int>(ToolPage::kInfo), info_ctl::kSave}], m.save_enabled);
  if (m.rows.size() < shown_rows_) {
    gtk_list_store_clear(rows_);
    shown_rows_ = 0;
  }
  for (; shown_rows_ < m.rows.size(); ++shown_rows_) {
    GtkTreeIter it;
    gtk_list_store_append(rows_, &it);
    gtk_list_store_set(rows_, &it, 0, m.rows[shown_rows_].c_str(), -1);
  }
  refreshing_ = false;
}

std::string GtkUi::AskPath(GtkWidget* over, const char* name, bool* confirmed) {
  GtkWidget* d = gtk_file_chooser_dialog_new("出力先を指定してください", GTK_WINDOW(over),
                                             GTK_FILE_CHOOSER_ACTION_SAVE, "キャンセル", GTK_RESPONSE_CANCEL, "保存",
                                             GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(d), TRUE);
  gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), name);
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, "SAVE FILE(*.txt)");
  gtk_file_filter_add_pattern(filter, "*.txt");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), filter);
  std::string path;
  if (const char* forced = std::getenv("KIV_TOOL_SAVE_AS")) {
    path = forced;  // a test names the file; no dialog
    *confirmed = false;
  } else if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
    char* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
    if (chosen) path = chosen;
    g_free(chosen);
    *confirmed = true;
  }
  gtk_widget_destroy(d);
  // The window behind is drawn again before anything else (a box) opens.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return path;
}

std::string GtkUi::AskSavePath(bool* confirmed) { return AskPath(window_, "report.txt", confirmed); }

void GtkUi::AddDiagnosticsTab(const std::string& title, const std::string& text) {
  if (!diag_tabs_) return;
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(scroll), view);
  gtk_widget_show_all(scroll);
  int page = gtk_notebook_append_page(GTK_NOTEBOOK(diag_tabs_), scroll, gtk_label_new(title.c_str()));
  gtk_notebook_set_current_page(GTK_NOTEBOOK(diag_tabs_), page);
}

bool GtkUi::ShowDiagnostics(const DiagnosticsReport& report) {
  if (diag_) gtk_widget_destroy(diag_);
  diag_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(diag_), "診断");
  gtk_window_set_transient_for(GTK_WINDOW(diag_), GTK_WINDOW(window_));
  gtk_window_set_default_size(GTK_WINDOW(diag_), 640, 480);
  g_signal_connect(diag_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     auto* ui = static_cast<GtkUi*>(data);
                     ui->diag_ = nullptr;
                     ui->diag_tabs_ = nullptr;
                     ui->diag_buttons_.clear();
                   }),
                   this);
  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 10);
  diag_tabs_ = gtk_notebook_new();
  gtk_box_pack_start(GTK_BOX(outer), diag_tabs_, TRUE, TRUE, 0);
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  auto button = [&](const std::string& key, const std::string& text, GCallback cb, bool end) {
    GtkWidget* b = gtk_button_new_with_label(text.c_str());
    g_object_set_data_full(G_OBJECT(b), "kiv-key", g_strdup(key.c_str()), g_free);
    g_signal_connect(b, "clicked", cb, this);
    if (end) gtk_box_pack_end(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    else gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    diag_buttons_[key] = b;
  };
  button("close", "閉じる", G_CALLBACK(+[](GtkButton*, gpointer data) {
           auto* ui = static_cast<GtkUi*>(data);
           if (ui->diag_) gtk_widget_destroy(ui->diag_);
         }),
         true);
  button("save", "テキストで保存", G_CALLBACK(+[](GtkButton*, gpointer data) {
           static_cast<GtkUi*>(data)->SaveDiagnosticsAs();
         }),
         true);
  // Desktop diagnostics programs that are installed: their output in a tab.
  for (const std::string& name : report.programs)
    button(name, name + " を実行", G_CALLBACK(+[](GtkButton* b, gpointer data) {
             auto* ui = static_cast<GtkUi*>(data);
             std::string key = static_cast<const char*>(g_object_get_data(G_OBJECT(b), "kiv-key"));
             for (auto& [name, file] : diagnostics_programs_found())
               if (name == key) ui->StartProgram(name, file);
           }),
           false);
  gtk_box_pack_start(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(diag_), outer);
  std::string text;
  for (const std::string& line : report.lines) text += line + "\n";
  AddDiagnosticsTab("システム", text);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(diag_tabs_), 0);
  gtk_widget_show_all(diag_);
  return true;
}

void GtkUi::SaveDiagnosticsAs() {
  bool confirmed = false;
  std::string path = AskPath(diag_ ? diag_ : window_, "diagnostics.txt", &confirmed);
  if (path.empty()) return;
  if (!app_.SaveDiagnostics(path)) {
    std::string text = plat::Utf8ToCp932("保存に失敗しました。\n" + path);
    plat::MessageBox(nullptr, text.c_str(), plat::Sjis("エラー"), plat::kMbOk | plat::kMbIconWarning);
    return;
  }
  plat::MessageBox(nullptr, plat::Sjis("保存しました"), plat::Sjis("完了"), plat::kMbOk);
}

void GtkUi::StartProgram(const std::string& name, const std::string& file) {
  GError* error = nullptr;
  GSubprocess* p = g_subprocess_new(
      static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE), &error,
      file.c_str(), nullptr);
  if (!p) {
    std::string text = plat::Utf8ToCp932(name + " を起動できませんでした。\n" + (error ? error->message : ""));
    if (error) g_error_free(error);
    plat::MessageBox(nullptr, text.c_str(), plat::Sjis("エラー"), plat::kMbOk | plat::kMbIconWarning);
    return;
  }
  ++programs_running_;
  struct Started {
    GtkUi* ui;
    std::string name;
  };
  g_subprocess_communicate_utf8_async(
      p, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* started = static_cast<Started*>(data);
        char* out = nullptr;
        GError* error = nullptr;
        g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &out, nullptr, &error);
        std::string text = out ? out : "";
        if (error) {
          text += std::string("\n") + error->message;
          g_error_free(error);
        }
        g_free(out);
        started->ui->AddDiagnosticsTab(started->name, text);
        --started->ui->programs_running_;
        g_object_unref(source);
        delete started;
      },
      new Started{this, name});
}

void Pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkUi::SaveWindow(GtkWidget* w, const std::string& file) {
  for (int i = 0; i < 1000 && !gtk_widget_get_mapped(w); ++i) {
    Pump();
    g_usleep(10000);
  }
  gtk_widget_queue_draw(w);
  for (int i = 0; i < 20; ++i) {
    Pump();
    g_usleep(10000);
  }
  GdkWindow* gw = gtk_widget_get_window(w);
  GdkPixbuf* shot = gw ? gdk_pixbuf_get_from_window(gw, 0, 0, gtk_widget_get_allocated_width(w),
                                                    gtk_widget_get_allocated_height(w))
                       : nullptr;
  if (shot) {
    gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(shot);
  }
}

void GtkUi::SavePages(const std::string& folder) {
  // The window's icon as the window manager gets it.
  if (window_)
    if (GdkPixbuf* icon = gtk_window_get_icon(GTK_WINDOW(window_)))
      gdk_pixbuf_save(icon, (folder + "/senfar_icon.png").c_str(), "png", nullptr, nullptr);
  // The diagnostics window, each of its tabs.
  for (int page = 0; diag_ && diag_tabs_ && page < gtk_notebook_get_n_pages(GTK_NOTEBOOK(diag_tabs_)); ++page) {
    gtk_notebook_set_current_page(GTK_NOTEBOOK(diag_tabs_), page);
    SaveWindow(diag_, folder + "/senfar_diagnostics_" + std::to_string(page) + ".png");
  }
  static const char* kNames[] = {"system", "graphics", "info"};
  // On a busy machine the window manager or X server may map the window
  // late: wait (up to 10 s) until it is on the screen before taking pictures.
  for (int i = 0; i < 1000 && window_ && !gtk_widget_get_mapped(window_); ++i) {
    Pump();
    g_usleep(10000);
  }
  for (int page = 0; page < 3 && window_; ++page) {
    gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook_), page);
    gtk_widget_queue_draw(window_);
    for (int i = 0; i < 20; ++i) {
      Pump();
      g_usleep(10000);
    }
    GdkWindow* gw = gtk_widget_get_window(window_);
    int w = gtk_widget_get_allocated_width(window_), h = gtk_widget_get_allocated_height(window_);
    GdkPixbuf* shot = gw ? gdk_pixbuf_get_from_window(gw, 0, 0, w, h) : nullptr;
    if (shot) {
      std::string file = folder + "/senfar_" + kNames[page] + ".png";
      gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr);
      g_object_unref(shot);
    }
  }
  gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook_), 0);
}

void GtkUi::RunPresses(const std::string& script) {
  size_t at = 0;
  while (at < script.size() && window_) {
    size_t end = script.find(',', at);
    if (end == std::string::npos) end = script.size();
    std::string word = script.substr(at, end - at);
    at = end + 1;
    Pump();
    while ((app_.report_running() || programs_running_ > 0) && window_) {
      gtk_main_iteration_do(TRUE);
    }
    size_t colon = word.find(':');
    if (colon == std::string::npos) continue;
    std::string page = word.substr(0, colon), rest = word.substr(colon + 1);
    size_t eq = rest.find('=');
    int id = std::atoi(rest.substr(0, eq).c_str());
    GtkWidget* w = nullptr;
    if (page == "diag") {
      if (diag_buttons_.count(rest)) gtk_button_clicked(GTK_BUTTON(diag_buttons_[rest]));
      else std::fprintf(stderr, "[press] refused %s\n", word.c_str());
      continue;
    }
    if (page == "system") w = system_.count(id) ? system_[id] : nullptr;
    else if (page == "graphics" && id == graphics_ctl::kAdapter && eq != std::string::npos) {
      gtk_combo_box_set_active(GTK_COMBO_BOX(combo_), std::atoi(rest.substr(eq + 1).c_str()));
      continue;
    } else if (page == "graphics") w = graphics_.count(id) ? graphics_[id] : nullptr;
    else if (page == "main") w = buttons_.count({0, id}) ? buttons_[{0, id}] : nullptr;
    else if (page == "info") w = buttons_.count({3, id}) ? buttons_[{3, id}] : nullptr;
    if (!w || !gtk_widget_is_sensitive(w)) {
      std::fprintf(stderr, "[press] refused %s\n", word.c_str());
      continue;
    }
    // A click as the player makes it: a check or radio turns on (or a check
    // off), a button is clicked.
    gtk_button_clicked(GTK_BUTTON(w));
  }
}

int g_exit_code = 0;

}  // namespace

bool tool_gtk_init(int* argc, char*** argv) {
  if (!gtk_init_check(argc, argv)) return false;
  // A test driving the window by KIV_TOOL_PRESS has nobody to answer a box:
  // boxes then go to stderr and are answered from KIV_BOX_ANSWERS.
  // KIV_TOOL_REAL_BOXES=1 keeps them real, for a test that looks at them.
  const char* real = std::getenv("KIV_TOOL_REAL_BOXES");
  if (std::getenv("KIV_TOOL_PRESS") && !(real && *real == '1'))
    plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  else plat::MessageBoxesUseThisGtkThread(nullptr);
  return true;
}

int tool_run_gtk(ToolState& state) {
  if (std::getenv("KIV_TOOL_SHOT")) {
    // Pictures for comparison look the same on every desktop.
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", "gtk-font-name", "IPAGothic 10",
                 "gtk-enable-animations", FALSE, nullptr);
  }
  GtkUi ui(state);
  ui.tool_main_dialog();
  const char* shot = std::getenv("KIV_TOOL_SHOT");
  const char* press = std::getenv("KIV_TOOL_PRESS");
  if (shot || press) {
    // A test drives the window: its presses, then the pages as shown, then
    // the window closes as if the player closed it.
    Pump();
    if (press) ui.RunPresses(press);
    Pump();
    while (ui.app().report_running() || ui.programs_running() > 0) gtk_main_iteration_do(TRUE);
    if (shot && !ui.app().closed()) ui.SavePages(shot);
    if (!ui.app().closed()) ui.app().Close();
    return g_exit_code;
  }
  gtk_main();
  return g_exit_code;
}
