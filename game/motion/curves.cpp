#include "motion/curves.h"

#include <array>
#include <cmath>

namespace {

// The factors are applied as multiples of the float nearest 0.01.
constexpr double kNegHundredth = -0.009999999776482582;

std::array<float, 129> MakeTable() {
  std::array<float, 129> t{};
  for (int i = 0; i <= 128; ++i) t[i] = static_cast<float>(std::sin(3.14159265358979323846 / 2.0 * i / 128.0));
  return t;
}
const std::array<float, 129> kTable = MakeTable();

}  // namespace

float curve_ratio(uint32_t e, uint32_t T) {
  if (T == 0 || e >= T) return 1.0f;
  return static_cast<float>(e) / static_cast<float>(T);
}

float curve_log55(uint32_t e, uint32_t T) {
  if (T == 0 || e >= T) return 1.0f;
  const double v = 55.0 * kNegHundredth * std::log10(static_cast<double>(T - e) / static_cast<double>(T));
  return v >= 1.0 ? 1.0f : static_cast<float>(v);
}

float curve_log80(uint32_t e, uint32_t T) {
  if (T == 0 || e >= T) return 1.0f;
  if (e == 0) return 0.0f;
  const double v = 1.0 - 80.0 * kNegHundredth * std::log10(static_cast<double>(e) / static_cast<double>(T));
  return v < 0.0 ? 0.0f : static_cast<float>(v);
}

float curve_table(uint32_t e, uint32_t T) {
  const float r = curve_ratio(e, T);
  const int i = static_cast<int>(128.0f * r);
  return kTable[static_cast<size_t>(i < 0 ? 0 : i > 128 ? 128 : i)];
}

float curve_by_number(int32_t curve, uint32_t e, uint32_t T) {
  switch (curve) {
    case 1: return curve_log55(e, T);
    case 2: return curve_log80(e, T);
    case 3: return curve_table(e, T);
    default: return curve_ratio(e, T);
  }
}

float curve_by_bits(uint32_t bits, uint32_t e, uint32_t T) {
  if (bits & 0x2) return curve_log80(e, T);
  if (bits & 0x1) return curve_log55(e, T);
  if (bits & 0x4) return curve_table(e, T);
  return curve_ratio(e, T);
}
