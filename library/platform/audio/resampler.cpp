// The polyphase windowed-sinc resampler. Rates whose reduced ratio has a
// small denominator (every common pair: 22,050, 48,000, 32,000, 8,000 Hz...)
// use one exact table row per output phase; other ratios interpolate
// between 1024 rows.
#include "platform/audio/resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace plat {

namespace {

// Zero crossings of the sinc on each side, and the Kaiser window's beta:
// about 90 dB of stop-band rejection.
constexpr int kZeroCrossings = 32;
constexpr double kBeta = 9.0;
// The pass band ends a little below the lower Nyquist frequency.
constexpr double kCutoff = 0.92;
constexpr int kMaxExactPhases = 1024;
constexpr int kInterpolatedPhases = 1024;

double BesselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
    if (term < 1e-12 * sum) break;
  }
  return sum;
}

// Eight partial sums so that the compiler keeps them in vector registers.
inline float Dot(const float* x, const float* c, int n) {
  float acc[8] = {};
  for (int j = 0; j < n; j += 8)
    for (int u = 0; u < 8; ++u) acc[u] += x[j + u] * c[j + u];
  return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

}  // namespace

Resampler::Resampler(int in_rate, int out_rate, int channels)
    : in_rate_(std::clamp(in_rate, 1000, 384000)), out_rate_(std::clamp(out_rate, 1000, 384000)),
      channels_(channels == 1 ? 1 : 2) {
  const uint64_t g = std::gcd(static_cast<uint64_t>(in_rate_), static_cast<uint64_t>(out_rate_));
  const uint64_t m = in_rate_ / g, l = out_rate_ / g;
  den_ = l;
  step_int_ = m / l;
  step_num_ = m % l;
  exact_ = l <= static_cast<uint64_t>(kMaxExactPhases);
  phases_ = exact_ ? static_cast<int>(l) : kInterpolatedPhases;
  // Cut-off as a fraction of the input's Nyquist frequency.
  const double c = kCutoff * std::min(1.0, static_cast<double>(out_rate_) / in_rate_);
  half_ = static_cast<int>(std::ceil(kZeroCrossings / c));
  taps_ = (2 * half_ + 7) / 8 * 8;
  table_.assign(static_cast<size_t>(phases_ + 1) * taps_, 0.0f);
  const double i0b = BesselI0(kBeta);
  for (int p = 0; p <= phases_; ++p) {
    const double phi = static_cast<double>(p) / phases_;
    float* row = &table_[static_cast<size_t>(p) * taps_];
    double sum = 0;
    std::vector<double> h(2 * half_);
    for (int j = 0; j < 2 * half_; ++j) {
      const double x = phi - (j - half_ + 1);  // distance from the output instant
      const double r = x / half_;
      if (std::fabs(r) >= 1.0) continue;
      const double a = M_PI * c * x;
      const double sinc = std::fabs(a) < 1e-12 ? 1.0 : std::sin(a) / a;
      h[j] = c * sinc * BesselI0(kBeta * std::sqrt(1.0 - r * r)) / i0b;
      sum += h[j];
    }
    // Each row sums to one: a constant passes at exactly its level.
    for (int j = 0; j < 2 * half_; ++j) row[j] = static_cast<float>(h[j] / sum);
  }
  Reset();
}

void Resampler::Reset() {
  for (int ch = 0; ch < channels_; ++ch) hist_[ch].assign(static_cast<size_t>(half_ - 1), 0.0f);
  base_ = -(half_ - 1);
  pos_ = 0;
  frac_ = 0;
  pushed_ = emitted_ = 0;
}

void Resampler::Push(const float* in, size_t frames, std::vector<float>* out) {
  for (int ch = 0; ch < channels_; ++ch) {
    std::vector<float>& h = hist_[ch];
    const size_t at = h.size();
    h.resize(at + frames);
    for (size_t i = 0; i < frames; ++i) h[at + i] = in[i * channels_ + ch];
  }
  pushed_ += static_cast<int64_t>(frames);
  Run(out, false);
}

void Resampler::Flush(std::vector<float>* out) {
  for (int ch = 0; ch < channels_; ++ch) hist_[ch].resize(hist_[ch].size() + taps_, 0.0f);
  Run(out, true);
  // The zeros pushed to drain the filter are not input: the history
  // continues as if they had not been there only after a Reset.
}

void Resampler::Run(std::vector<float>* out, bool flushing) {
  const int64_t avail = base_ + static_cast<int64_t>(hist_[0].size());
  // Output frames that the input so far accounts for: ceil(pushed * out / in).
  const int64_t wanted = (pushed_ * out_rate_ + in_rate_ - 1) / in_rate_;
  while (pos_ - half_ + 1 + taps_ <= avail && (!flushing || emitted_ < wanted)) {
    const size_t start = static_cast<size_t>(pos_ - half_ + 1 - base_);
    float y[2];
    if (exact_) {
      const float* row = &table_[static_cast<size_t>(frac_) * taps_];
      for (int ch = 0; ch < channels_; ++ch) y[ch] = Dot(hist_[ch].data() + start, row, taps_);
    } else {
      const double w = static_cast<double>(frac_) * phases_ / static_cast<double>(den_);
      const int r = std::min(static_cast<int>(w), phases_ - 1);
      const float a = static_cast<float>(w - r);
      const float* row0 = &table_[static_cast<size_t>(r) * taps_];
      const float* row1 = row0 + taps_;
      for (int ch = 0; ch < channels_; ++ch) {
        const float* x = hist_[ch].data() + start;
        const float y0 = Dot(x, row0, taps_), y1 = Dot(x, row1, taps_);
        y[ch] = y0 + a * (y1 - y0);
      }
    }
    out->insert(out->end(), y, y + channels_);
    ++emitted_;
    frac_ += step_num_;
    pos_ += static_cast<int64_t>(step_int_ + frac_ / den_);
    frac_ %= den_;
  }
  // Drop the history the next output no longer reaches.
  const int64_t keep_from = pos_ - half_ + 1;
  if (keep_from - base_ > 8192) {
    const size_t drop = std::min(static_cast<size_t>(keep_from - base_), hist_[0].size());
    for (int ch = 0; ch < channels_; ++ch) hist_[ch].erase(hist_[ch].begin(), hist_[ch].begin() + drop);
    base_ += static_cast<int64_t>(drop);
  }
}

}  // namespace plat
