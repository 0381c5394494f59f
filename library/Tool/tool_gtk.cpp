// The tool's window in GTK 3: the main dialog with its three tab pages, each
// control a widget bound to the page model (tool_pages.h), boxes as
// GtkMessageDialog, the report's save dialog a GtkFileChooserDialog. Report
// rows reach the list only through the main loop (g_idle_add).
//
// KIV_TOOL_PRESS works here too: the presses are made on the widgets once
// the window is shown, so a test under a virtual display goes the way of a
// player's clicks. KIV_TOOL_SHOT=folder saves each page as a PNG first.
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

namespace {

GtkWidget* g_main_window = nullptr;

int ShowGtkBox(const std::string& text, const std::string& caption, uint32_t type) {
  uint32_t icon = type & 0xF0;
  GtkMessageType kind = icon == plat::kMbIconError     ? GTK_MESSAGE_ERROR
                        : icon == plat::kMbIconWarning  ? GTK_MESSAGE_WARNING
                        : icon == plat::kMbIconQuestion ? GTK_MESSAGE_QUESTION
                                                        : GTK_MESSAGE_INFO;
  bool yes_no = (type & 0xF) == plat::kMbYesNo;
  GtkWidget* d = gtk_message_dialog_new(g_main_window ? GTK_WINDOW(g_main_window) : nullptr, GTK_DIALOG_MODAL, kind,
                                        yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(d), caption.c_str());
  int response = gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
  if (yes_no) return response == GTK_RESPONSE_YES ? plat::kIdYes : plat::kIdNo;
  return plat::kIdOk;
}

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
  void Close() override {
    if (window_) {
      GtkWidget* w = window_;
      window_ = nullptr;
      g_main_window = nullptr;
      gtk_widget_destroy(w);
    }
    if (gtk_main_level() > 0) gtk_main_quit();
  }

  ToolApp& app() { return app_; }
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

  ToolApp app_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* combo_ = nullptr;
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
  g_main_window = window_;
  gtk_window_set_title(GTK_WINDOW(window_), "環境設定");
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     static_cast<GtkUi*>(data)->app_.Close();
                     return TRUE;
                   }),
                   this);
  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 10);
  gtk_box_pack_start(GTK_BOX(outer), tool_tabs_create(), TRUE, TRUE, 0);
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
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

std::string GtkUi::AskSavePath(bool* confirmed) {
  GtkWidget* d = gtk_file_chooser_dialog_new("出力先を指定してください", GTK_WINDOW(window_),
                                             GTK_FILE_CHOOSER_ACTION_SAVE, "キャンセル", GTK_RESPONSE_CANCEL, "保存",
                                             GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(d), TRUE);
  gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), "report.txt");
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, "SAVE FILE(*.txt)");
  gtk_file_filter_add_pattern(filter, "*.txt");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), filter);
  std::string path;
  if (const char* forced = std::getenv("KIV_TOOL_SAVE_AS")) {
    path = forced;  // a test names the file; no dialog
    *confirmed = false;
  } else if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
    char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
    if (name) path = name;
    g_free(name);
    *confirmed = true;
  }
  gtk_widget_destroy(d);
  return path;
}

void Pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkUi::SavePages(const std::string& folder) {
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
    while (app_.report_running() && window_) {
      gtk_main_iteration_do(TRUE);
    }
    size_t colon = word.find(':');
    if (colon == std::string::npos) continue;
    std::string page = word.substr(0, colon), rest = word.substr(colon + 1);
    size_t eq = rest.find('=');
    int id = std::atoi(rest.substr(0, eq).c_str());
    GtkWidget* w = nullptr;
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
  if (std::getenv("KIV_TOOL_PRESS")) plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  else plat::SetMessageBoxHandler(ShowGtkBox);
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
    while (ui.app().report_running()) gtk_main_iteration_do(TRUE);
    if (shot && !ui.app().closed()) ui.SavePages(shot);
    if (!ui.app().closed()) ui.app().Close();
    return g_exit_code;
  }
  gtk_main();
  return g_exit_code;
}
