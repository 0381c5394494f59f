// The message window's save block on any input: text_restore must refuse or
// read it without touching memory outside the block, and whatever it kept
// must save and be released cleanly. No engine runs, so the window's
// sprites cannot be made: the block is read, checked and given up there.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "component_entries.h"
#include "start/game_record.h"
#include "text/message_window.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* record = new GameRecord{};
  VmContext* ctx = &record->ctx;
  std::vector<uint8_t> copy(data, data + size);  // exact size: a read past it is caught
  uint32_t cursor = 0;
  if (text_restore(ctx, copy, &cursor) && cursor > size) __builtin_trap();
  std::vector<uint8_t> out(0x4000);
  uint32_t used = 0;
  text_save(ctx, out, &used);
  if (used > out.size()) __builtin_trap();
  text_release(ctx);
  return 0;
}
