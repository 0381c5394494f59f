// The one bounded reader and writer for file formats: little-endian fields
// read and written one by one. A read past the end fails (and keeps
// failing), so a short or lying file is caught where it lies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace plat {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t left() const { return ok_ ? data_.size() - pos_ : 0; }
  bool Skip(size_t n) {
    if (!ok_ || n > data_.size() - pos_) return ok_ = false;
    pos_ += n;
    return true;
  }
  bool Seek(size_t at) {
    if (!ok_ || at > data_.size()) return ok_ = false;
    pos_ = at;
    return true;
  }
  bool Bytes(void* out, size_t n) {
    if (!ok_ || n > data_.size() - pos_) return ok_ = false;
    if (n) std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  uint8_t U8() {
    uint8_t v = 0;
    Bytes(&v, 1);
    return v;
  }
  uint16_t U16() {
    uint8_t b[2] = {};
    Bytes(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Bytes(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  std::vector<uint8_t>& bytes() { return out_; }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void U16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace plat
