// Empty stand-ins for the component entry points of component_stubs.h that
// are not written yet. Each does nothing (and returns "nothing there"), so
// the machine runs before its components exist; a component that lands
// deletes its stand-in here.
#include "component_stubs.h"
#include "effect/screen_effects.h"

#include <cstring>

#include "platform/core/byte_io.h"
#include "save/save.h"
#include "start/game_debug_log.h"

void select_release(VmContext*) {}
void script_thread_clear(VmContext*) {}
void wait_timers_clear(VmContext*) {}
void select_commands_install() {}
void wait_thread_commands_install() {}

// ---- Per-frame steps ----
int script_thread_poll(VmContext*) { return 0; }

// ---- Save blocks in their empty form ----
namespace {
bool AppendZeros(std::span<uint8_t> buffer, uint32_t* used, size_t n) {
  static const uint8_t kZeros[69380] = {};
  return save_block_append(buffer, used, kZeros, n);
}
// Steps over a fixed-size block whose content no component reads yet.
bool SkipFixed(std::span<const uint8_t> data, uint32_t* cursor, size_t n, const char* what) {
  if (*cursor > data.size() || n > data.size() - *cursor) {
    game_debug_log(kDebugWindowError, "load error : %s block short", what);
    return false;
  }
  *cursor += static_cast<uint32_t>(n);
  return true;
}
}  // namespace

bool select_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 16); }
bool select_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) { return SkipFixed(d, c, 16, "choice"); }
bool script_thread_save(VmContext*, std::span<uint8_t> b, uint32_t* u) { return AppendZeros(b, u, 16); }
bool script_thread_restore(VmContext*, std::span<const uint8_t> d, uint32_t* c) {
  return SkipFixed(d, c, 16, "script thread");
}
