// Small helpers shared by the image decoders.
#pragma once
#include <cstdint>
#include <span>

#include "platform/core/error.h"

namespace kivdecode {

inline uint32_t Rd16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t Rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One line on the debugger output; the decoder's failure result.
inline int Fail(const char* why) {
  plat::DebugOutput(why);
  return 0;
}

inline bool Overlap(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const auto a0 = reinterpret_cast<uintptr_t>(a.data()), b0 = reinterpret_cast<uintptr_t>(b.data());
  return a0 < b0 + b.size() && b0 < a0 + a.size();
}

}  // namespace kivdecode
