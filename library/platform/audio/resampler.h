// Sample-rate conversion for sounds whose rate is not the mixer's: a
// band-limited polyphase resampler (windowed sinc, Kaiser window) that keeps
// its history between calls, so a stream converted piece by piece sounds the
// same as one converted whole, loops included.
//
// The filter's cut-off sits just below the lower of the two Nyquist
// frequencies, so downsampling removes what would alias and upsampling
// removes the images. Output frame n lies at input time n * in / out: the
// output is aligned with the input (no delay), and Flush() delivers the
// filter's tail once the input has ended.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

class Resampler {
 public:
  // channels 1 or 2; rates 1000..384000.
  Resampler(int in_rate, int out_rate, int channels);
  // Feeds `frames` interleaved frames and appends every output frame they
  // complete to `out` (interleaved, `channels` per frame).
  void Push(const float* in, size_t frames, std::vector<float>* out);
  // Ends the input: appends the remaining output, so that in all
  // ceil(frames_in * out / in) frames have come out since the last Reset.
  void Flush(std::vector<float>* out);
  // Forgets the history (a seek).
  void Reset();
  int channels() const { return channels_; }
  // Taps of the filter, per output frame and channel (for the benchmark).
  int taps() const { return taps_; }

 private:
  void Run(std::vector<float>* out, bool flushing);
  int in_rate_, out_rate_, channels_;
  // Output step in input frames: step_int_ + step_num_ / den_.
  uint64_t den_ = 1, step_num_ = 0, step_int_ = 1;
  int phases_ = 1;    // rows of the table
  bool exact_ = true;  // den_ == phases_: no interpolation between rows
  int half_ = 0;       // taps on each side of the output instant
  int taps_ = 0;       // 2 * half_, rounded up to a multiple of 8
  std::vector<float> table_;  // (phases_ + 1) rows of taps_
  // History, one vector per channel; hist_[c][0] is input frame base_.
  std::vector<float> hist_[2];
  int64_t base_ = 0;
  int64_t pos_ = 0;       // input frame at or before the next output instant
  uint64_t frac_ = 0;     // its fraction, in 1/den_
  int64_t pushed_ = 0;    // input frames since Reset
  int64_t emitted_ = 0;   // output frames since Reset
};

}  // namespace plat
