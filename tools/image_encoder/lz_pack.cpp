// The LZ packer for GE and difference images: hash chains over 4-byte
// prefixes within the 4095-byte window, greedy with one step of lazy
// matching. Token forms (flag bit 0 / 1, least significant bit first):
//   literal run  {count, count bytes}                     count 0..255
//   short ref    u16 = distance << 4 | 8 | (length - 4)    length 4..11
//   long ref     u16 = distance << 4 | (L >> 8), u8 L & 255, length L + 4
// The unpacker copies the long form in 4-byte units, so it is used only
// from at least 4 bytes back.
#include <bit>
#include <cstring>

#include "image_encoder.h"

namespace kivtools {
namespace {

constexpr size_t kWindow = 4095;
constexpr size_t kRing = 4096;
constexpr size_t kMinMatch = 4;
constexpr size_t kShortMax = 11;
constexpr size_t kLongMax = 2051;
constexpr size_t kLongMinDistance = 4;
constexpr int kMaxHashBits = 15;

// Small inputs get a small table: the packer also runs on every fuzz input.
int HashBits(size_t n) {
  int bits = 8;
  while (bits < kMaxHashBits && (size_t{1} << bits) < n) ++bits;
  return bits;
}

class TokenWriter {
 public:
  std::vector<uint8_t> out;

  void Literal(const uint8_t* p, size_t n) {
    Begin(false);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), p, p + n);
  }
  void Short(size_t dist, size_t len) {
    Begin(true);
    const unsigned v = static_cast<unsigned>(dist << 4 | 8 | (len - 4));
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Long(size_t dist, size_t len) {
    Begin(true);
    const size_t l = len - 4;
    const unsigned v = static_cast<unsigned>(dist << 4 | (l >> 8));
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(l));
  }

 private:
  // A flag byte is started only when a token needs it, so no flag byte
  // dangles at the end of the stream.
  void Begin(bool ref) {
    if (count_ == 8) {
      flagPos_ = out.size();
      out.push_back(0);
      count_ = 0;
    }
    if (ref) out[flagPos_] |= static_cast<uint8_t>(1u << count_);
    ++count_;
  }
  size_t flagPos_ = 0;
  int count_ = 8;
};

struct Match {
  size_t len = 0;
  size_t dist = 0;
};

size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t max) {
  size_t k = 0;
  for (; k + 8 <= max; k += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    if (x != y) return k + static_cast<size_t>(std::countr_zero(x ^ y)) / 8;
  }
  while (k < max && a[k] == b[k]) ++k;
  return k;
}

class Matcher {
 public:
  Matcher(std::span<const uint8_t> data, LzForm form, int maxChain)
      : d_(data),
        form_(form),
        maxChain_(maxChain),
        hashBits_(HashBits(data.size())),
        head_(size_t{1} << hashBits_, -1),
        prev_(kRing, -1) {}

  // Longest allowed match at i, the nearest among equals.
  Match Find(size_t i) {
    Insert(i);
    Match best;
    const size_t n = d_.size();
    if (i + kMinMatch > n) return best;
    int64_t j = head_[Hash(i)];
    for (int tries = 0; j >= 0 && i - static_cast<size_t>(j) <= kWindow && tries < maxChain_; ++tries) {
      const size_t dist = i - static_cast<size_t>(j);
      size_t cap = Cap(dist);
      if (cap > n - i) cap = n - i;
      if (cap > best.len) {
        const size_t len = MatchLength(d_.data() + i, d_.data() + j, cap);
        if (len >= kMinMatch && len > best.len) best = {len, dist};
        if (best.len == kLongMax) break;
      }
      j = prev_[static_cast<size_t>(j) & (kRing - 1)];
    }
    return best;
  }

 private:
  // The longest reference the chosen forms can express from dist back.
  size_t Cap(size_t dist) const {
    switch (form_) {
      case LzForm::kLiteralsOnly: return 0;
      case LzForm::kShortRefs: return kShortMax;
      case LzForm::kLongRefs: return dist >= kLongMinDistance ? kLongMax : 0;
      default: return dist >= kLongMinDistance ? kLongMax : kShortMax;
    }
  }
  uint32_t Hash(size_t i) const {
    uint32_t v;
    std::memcpy(&v, d_.data() + i, 4);
    return (v * 2654435761u) >> (32 - hashBits_);
  }
  // Enters every position before i into the chains.
  void Insert(size_t i) {
    for (; inserted_ < i; ++inserted_) {
      if (inserted_ + kMinMatch > d_.size()) continue;
      const uint32_t h = Hash(inserted_);
      prev_[inserted_ & (kRing - 1)] = head_[h];
      head_[h] = static_cast<int32_t>(inserted_);
    }
  }

  std::span<const uint8_t> d_;
  LzForm form_;
  int maxChain_;
  int hashBits_;
  std::vector<int32_t> head_;  // inputs are at most the 32 MiB work area
  std::vector<int32_t> prev_;
  size_t inserted_ = 0;
};

}  // namespace

std::vector<uint8_t> LzPack(std::span<const uint8_t> data, const LzOptions& options) {
  TokenWriter w;
  Matcher m(data, options.form, options.maxChain < 1 ? 1 : options.maxChain);
  const LzForm form = options.form;
  const bool mixed = form == LzForm::kMixed;
  unsigned turn = 0;  // steers the varied choices of kMixed

  auto flushLiterals = [&](size_t from, size_t to) {
    static constexpr size_t kMixedRuns[] = {1, 7, 255, 3, 128, 2, 64, 200};
    while (from < to) {
      size_t n = to - from;
      size_t limit = mixed ? kMixedRuns[turn++ % 8] : 255;
      if (n > limit) n = limit;
      w.Literal(data.data() + from, n);
      from += n;
    }
  };
  auto emitRef = [&](const Match& r) {
    const bool empty = form == LzForm::kEmptyLiterals || (mixed && turn % 5 == 0);
    if (empty) w.Literal(nullptr, 0);
    bool useLong;
    if (form == LzForm::kShortRefs) useLong = false;
    else if (form == LzForm::kLongRefs) useLong = true;
    else if (r.len > kShortMax) useLong = true;
    else useLong = mixed && r.dist >= kLongMinDistance && (turn & 1);
    ++turn;
    if (useLong) w.Long(r.dist, r.len);
    else w.Short(r.dist, r.len);
  };

  const size_t n = data.size();
  size_t i = 0, literalsFrom = 0;
  while (i < n) {
    Match r = m.Find(i);
    if (r.len < kMinMatch) {
      ++i;
      continue;
    }
    // One step of lazy matching: a clearly longer match one byte on wins.
    if (r.len < 64 && i + 1 < n) {
      const Match next = m.Find(i + 1);
      if (next.len > r.len + 1) {
        ++i;
        continue;
      }
    }
    flushLiterals(literalsFrom, i);
    emitRef(r);
    i += r.len;
    literalsFrom = i;
  }
  flushLiterals(literalsFrom, n);
  return std::move(w.out);
}

}  // namespace kivtools
