// The movie opener and the first frames: any bytes as a movie file must
// open and decode without reading outside the range, or be refused.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/video/movie.h"

namespace {

class Bytes final : public plat::MovieSource {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data, data + size) {}
  int Read(void* buf, int n) override {
    if (n < 0) return -1;
    const size_t left = data_.size() - pos_;
    const size_t k = static_cast<size_t>(n) < left ? static_cast<size_t>(n) : left;
    if (k == 0) return 0;
    std::memcpy(buf, data_.data() + pos_, k);
    pos_ += k;
    return static_cast<int>(k);
  }
  bool SetPointer(int64_t p) override {
    if (p < 0 || p > static_cast<int64_t>(data_.size())) return false;
    pos_ = static_cast<size_t>(p);
    return true;
  }
  int64_t Position() override { return static_cast<int64_t>(pos_); }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

void Sink(void*, const int16_t*, int, int, int) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string why;
  auto movie = plat::OpenFfmpegMovie(std::make_unique<Bytes>(data, size), Sink, nullptr, &why);
  if (!movie) return 0;
  const plat::MovieInfo& info = movie->Info();
  std::vector<uint32_t> px(static_cast<size_t>(info.width) * info.height);
  for (int64_t i = 0; i < 6; ++i) {
    if (movie->Advance(i) <= 0) break;
    movie->CopyFrame(px.data(), info.width);
  }
  movie->Advance(0);  // back to the start
  return 0;
}
