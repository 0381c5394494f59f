// GTK 3 message boxes: the desktop's fonts, theme and input method, and
// buttons in the user's language (GTK's own labels, translated by gettext
// in the user's locale). A box with an owner is transient for the owner's
// X window and modal, so the window manager keeps it above that window,
// full screen or not, and centres it there.
//
// GTK lives on one thread. A program that runs its own GTK main loop (the
// configuration tool) names that thread with MessageBoxesUseThisGtkThread;
// its boxes run there in a nested loop. Any other program (the game, whose
// boxes come from its main, window and game threads) gets a box thread of
// its own on its first box: GTK is initialised there once, in the user's
// locale for that thread only, so the program's C locale (number formats)
// stays as it was. Without a display GTK cannot open, the caller falls back.
//
// Every open box polls MessageBoxesCancelled every 50 ms and, once it is
// set, ends with its unshown answer.
#include "platform/window/gtk_message_box.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <locale.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/window/message_box.h"
#include "platform/window/messages.h"

namespace plat::gtk_box {

namespace {

struct Request {
  unsigned long owner_xid = 0;
  std::string text, caption;
  uint32_t type = 0;
  int unshown = 0;
  // Set on the GTK thread.
  GtkWidget* dialog = nullptr;
  guint timer = 0;
  int answer = 0;
  bool done = false;
};

enum class Host { kNone, kStarting, kReady, kUnavailable };

std::mutex g_mutex;
std::condition_variable g_cv;
Host g_host = Host::kNone;
std::thread::id g_gtk_thread;
GMainContext* g_context = nullptr;
std::atomic<GtkWindow*> g_parent{nullptr};

void Finish(Request* r, int answer) {
  if (r->done) return;
  if (r->timer) g_source_remove(r->timer);
  r->timer = 0;
  if (r->dialog) gtk_widget_destroy(r->dialog);
  r->dialog = nullptr;
  {
    std::lock_guard lock(g_mutex);
    r->answer = answer;
    r->done = true;
    // Told under the lock: the waiter may end the program as soon as it
    // sees the answer, and the condition with it.
    g_cv.notify_all();
  }
}

void OnResponse(GtkDialog*, gint response, gpointer data) {
  auto* r = static_cast<Request*>(data);
  const bool yes_no = (r->type & 0xF) == kMbYesNo;
  // Closing the box (Escape, the title bar) answers No, as before.
  Finish(r, yes_no ? (response == GTK_RESPONSE_YES ? kIdYes : kIdNo) : kIdOk);
}

gboolean PollCancel(gpointer data) {
  auto* r = static_cast<Request*>(data);
  if (!MessageBoxesCancelled()) return G_SOURCE_CONTINUE;
  r->timer = 0;  // this source ends with the return below
  Finish(r, UnshownAnswer(r->type, r->unshown));
  return G_SOURCE_REMOVE;
}

// Centres the realized box over the owner's window, as the window manager
// would for a transient box; also where there is no window manager.
void CentreOver(GtkWidget* dialog, GdkWindow* owner) {
  int ox = 0, oy = 0, ow = 0, oh = 0;
  gdk_window_get_origin(owner, &ox, &oy);
  gdk_window_get_geometry(owner, nullptr, nullptr, &ow, &oh);
  if (ow <= 0 || oh <= 0) return;
  GtkRequisition size;
  gtk_widget_get_preferred_size(dialog, nullptr, &size);
  gtk_window_move(GTK_WINDOW(dialog), ox + (ow - size.width) / 2, oy + (oh - size.height) / 2);
}

// On the GTK thread: shows the box; OnResponse or PollCancel ends it.
gboolean StartBox(gpointer data) {
  auto* r = static_cast<Request*>(data);
  if (MessageBoxesCancelled()) {
    Finish(r, UnshownAnswer(r->type, r->unshown));
    return G_SOURCE_REMOVE;
  }
  uint32_t icon = r->type & 0xF0;
  GtkMessageType kind = icon == kMbIconError      ? GTK_MESSAGE_ERROR
                        : icon == kMbIconWarning  ? GTK_MESSAGE_WARNING
                        : icon == kMbIconQuestion ? GTK_MESSAGE_QUESTION
                                                  : GTK_MESSAGE_INFO;
  const bool yes_no = (r->type & 0xF) == kMbYesNo;
  GtkWindow* parent = g_parent.load();
  GtkWidget* d = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, kind, yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK,
                                        "%s", r->text.c_str());
  r->dialog = d;
  gtk_window_set_title(GTK_WINDOW(d), r->caption.c_str());
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(d), yes_no ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);
  if (!parent) gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER);
  gtk_widget_realize(d);
  GdkDisplay* display = gtk_widget_get_display(d);
  if (r->owner_xid && GDK_IS_X11_DISPLAY(display)) {
    gdk_x11_display_error_trap_push(display);
    GdkWindow* owner = gdk_x11_window_foreign_new_for_display(display, r->owner_xid);
    if (owner) {
      gdk_window_set_transient_for(gtk_widget_get_window(d), owner);
      CentreOver(d, owner);
      g_object_unref(owner);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
  }
  g_signal_connect(d, "response", G_CALLBACK(OnResponse), r);
  r->timer = g_timeout_add(50, PollCancel, r);
  gtk_window_present(GTK_WINDOW(d));
  return G_SOURCE_REMOVE;
}

// The game's box thread: GTK in the user's locale for this thread only.
void BoxThread() {
  gtk_disable_setlocale();
  locale_t mine = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (mine) uselocale(mine);
  bool ok = gtk_init_check(nullptr, nullptr);
  if (!ok && mine) {
    // No display for GTK: this thread ends here, its locale with it.
    uselocale(LC_GLOBAL_LOCALE);
    freelocale(mine);
  }
  GMainLoop* loop = nullptr;
  {
    std::lock_guard lock(g_mutex);
    if (ok) {
      g_gtk_thread = std::this_thread::get_id();
      g_context = g_main_context_ref_thread_default();
      g_main_context_acquire(g_context);  // this thread's for good
      loop = g_main_loop_new(g_context, FALSE);
      g_host = Host::kReady;
    } else {
      g_host = Host::kUnavailable;
    }
    g_cv.notify_all();  // under the lock, as in Finish
  }
  if (loop) g_main_loop_run(loop);  // for the rest of the program
}

// True when GTK is ready, starting the box thread on the first call.
bool Ready() {
  std::unique_lock lock(g_mutex);
  if (g_host == Host::kNone) {
    g_host = Host::kStarting;
    try {
      std::thread(BoxThread).detach();
    } catch (const std::system_error&) {
      g_host = Host::kUnavailable;
    }
  }
  g_cv.wait(lock, [] { return g_host != Host::kStarting; });
  return g_host == Host::kReady;
}

}  // namespace

bool Show(unsigned long owner_xid, const std::string& text_utf8, const std::string& caption_utf8, uint32_t type,
          int unshown_answer, int* answer) {
  if (!Ready()) return false;
  Request r;
  r.owner_xid = owner_xid;
  r.text = text_utf8;
  r.caption = caption_utf8;
  r.type = type;
  r.unshown = unshown_answer;
  if (std::this_thread::get_id() == g_gtk_thread) {
    // The GTK thread itself (the tool's window): a nested loop, so the
    // windows behind the box keep drawing.
    StartBox(&r);
    while (!r.done) g_main_context_iteration(g_context, TRUE);
  } else {
    // Always through the GTK thread's loop (g_main_context_invoke would run
    // it here while that loop does not hold its context yet).
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, StartBox, &r, nullptr);
    g_source_attach(source, g_context);
    g_source_unref(source);
    std::unique_lock lock(g_mutex);
    g_cv.wait(lock, [&] { return r.done; });
  }
  *answer = r.answer;
  return true;
}

void UseThisThread(void* parent_window) {
  std::lock_guard lock(g_mutex);
  g_gtk_thread = std::this_thread::get_id();
  g_context = g_main_context_default();
  g_host = Host::kReady;
  g_parent.store(static_cast<GtkWindow*>(parent_window));
}

void SetParent(void* parent_window) { g_parent.store(static_cast<GtkWindow*>(parent_window)); }

}  // namespace plat::gtk_box
