// The GTK 3 backend of message boxes (see gtk_message_box.cpp).
#pragma once
#include <cstdint>
#include <string>

namespace plat::gtk_box {

// Shows a box and waits for its answer (*answer). False when GTK cannot
// open the display: the caller shows the box another way.
bool Show(unsigned long owner_xid, const std::string& text_utf8, const std::string& caption_utf8, uint32_t type,
          int unshown_answer, int* answer);
// The calling thread has initialised GTK and runs its main loop; boxes go
// there, over `parent_window` (a GtkWindow*, or null).
void UseThisThread(void* parent_window);
void SetParent(void* parent_window);

}  // namespace plat::gtk_box
