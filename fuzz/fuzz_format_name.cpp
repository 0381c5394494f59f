// The format expansions of wsprint and debug_output, and the player-name
// save block, on fuzzed input: the results stay in their bounds (259 and
// 2047 bytes, never half a character at the end), and the name block reads
// back a terminated name of at most 32 bytes.
//
// Input: byte 0 selects the string variable's text length, then eight
// values (32 bytes, little-endian), then the format (the rest; also the
// name block).
#include <cstring>
#include <string>

#include "component_entries.h"
#include "game_fuzz_support.h"
#include "platform/core/text_encoding.h"
#include "strings/strings.h"

namespace {

bool EndsWhole(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    i += plat::IsSjisLead(static_cast<unsigned char>(s[i])) ? 2 : 1;
  }
  return i == s.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzgame::Record rec;
  VmContext* ctx = rec.ctx;
  if (size < 33) return 0;
  std::memset(ctx->stringVariables, 'v', sizeof ctx->stringVariables);
  for (auto& v : ctx->stringVariables) v[data[0] % kStringVariableBytes] = 0;
  int32_t values[8];
  for (int i = 0; i < 8; ++i)
    values[i] = static_cast<int32_t>(uint32_t(data[1 + 4 * i]) | uint32_t(data[2 + 4 * i]) << 8 |
                                     uint32_t(data[3 + 4 * i]) << 16 | uint32_t(data[4 + 4 * i]) << 24);
  std::string format(reinterpret_cast<const char*>(data + 33), size - 33);
  const std::string w = wsprint_expand(ctx, format.c_str(), values);
  if (w.size() > kWsprintMax || !EndsWhole(w)) std::abort();
  const std::string d = debug_output_expand(ctx, format.c_str(), std::span<const int32_t>(values, 7));
  if (d.size() > kDebugOutputMax || !EndsWhole(d)) std::abort();

  uint32_t cursor = 0;
  std::span<const uint8_t> block(data + 33, size - 33);
  if (player_name_restore(ctx, block, &cursor)) {
    const PlayerNameState& p = ctx->playerName;
    const size_t n = strnlen(p.name, sizeof p.name);
    if (cursor != 40 || n > 32 || static_cast<size_t>(p.nameLength) != n) std::abort();
  } else if (cursor != 0) {
    std::abort();
  }
  return 0;
}
