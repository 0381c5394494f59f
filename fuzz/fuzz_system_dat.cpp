// system.dat from any bytes: a refused file leaves the record as it was; an
// accepted one writes back to the same bytes (up to the version word) and
// reads back to the same record.
#include "game_fuzz_support.h"
#include "data/system_dat.h"

namespace {

bool SameRecord(const GameRecord& a, const GameRecord& b) {
  return std::memcmp(&a.system, &b.system, sizeof a.system) == 0 &&
         std::memcmp(a.systemVariables, b.systemVariables, sizeof a.systemVariables) == 0 &&
         a.textReadFlagsSize == b.textReadFlagsSize && a.imageSeenFlagsSize == b.imageSeenFlagsSize &&
         (a.textReadFlagsSize == 0 ||
          std::memcmp(a.textReadFlags, b.textReadFlags, a.textReadFlagsSize) == 0) &&
         (a.imageSeenFlagsSize == 0 ||
          std::memcmp(a.imageSeenFlags, b.imageSeenFlags, a.imageSeenFlagsSize) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzgame::QuietLog();
  auto g = std::make_unique<GameRecord>();
  g->system.word[0] = 0x1234;
  g->textReadFlags = static_cast<uint8_t*>(KivMemoryAlloc(4, 1));
  g->textReadFlagsSize = 4;
  g->textReadFlags[1] = 0x5A;
  const uint8_t* flags = g->textReadFlags;
  const std::vector<uint8_t> bytes(data, data + size);
  if (!system_dat_parse(bytes, g.get())) {
    if (g->system.word[0] != 0x1234 || g->textReadFlags != flags || g->textReadFlagsSize != 4 ||
        g->textReadFlags[1] != 0x5A || g->imageSeenFlags != nullptr)
      __builtin_trap();
    system_dat_release(g.get());
    return 0;
  }
  const std::vector<uint8_t> written = system_dat_bytes(*g);
  auto again = std::make_unique<GameRecord>();
  if (!system_dat_parse(written, again.get()) || !SameRecord(*g, *again)) __builtin_trap();
  if (written.size() > bytes.size() || std::memcmp(written.data() + 2, bytes.data() + 2, written.size() - 2) != 0)
    __builtin_trap();
  system_dat_release(g.get());
  system_dat_release(again.get());
  return 0;
}
