// The LZ unpacker of GE images and difference images.
//
// A flag byte steers eight tokens, least significant bit first: 0 is a
// literal run {count byte, bytes}, 1 a back reference into the last 4095
// output bytes: u16 v with distance v >> 4; v & 8 set is the short form of
// (v & 7) + 4 bytes, else one more byte makes an 11-bit length of 4..2051
// copied in 4-byte units. Output stops at exactly the unpacked size.
#include <cstring>

#include "image/image_decode.h"

namespace {

// Copies n bytes from d bytes back, ascending, so a distance shorter than
// the length repeats the recent output. With d >= 4 this is also what the
// long form's 4-byte units give, each unit lying wholly before its target.
inline void CopyBack(uint8_t* o, size_t d, size_t n) {
  const uint8_t* s = o - d;
  if (d >= n) {
    std::memcpy(o, s, n);
    return;
  }
  if (d >= 8) {
    for (; n >= 8; n -= 8, o += 8, s += 8) std::memcpy(o, s, 8);
  } else if (d >= 4) {
    for (; n >= 4; n -= 4, o += 4, s += 4) std::memcpy(o, s, 4);
  }
  for (; n; --n) *o++ = *s++;
}

}  // namespace

int KivGeUnpack(std::span<uint8_t> dest, std::span<const uint8_t> src) {
  uint8_t* const out = dest.data();
  const size_t size = dest.size();
  const uint8_t* in = src.data();
  const uint8_t* const inEnd = in + src.size();
  size_t pos = 0;
  unsigned bits = 1;  // flag bits still unused, above a sentinel 1

  while (pos < size) {
    // The next flag byte follows the eighth token's bytes; it is read only
    // when a token is due, so a stream that ends there is not over-read.
    if (bits == 1) {
      if (in == inEnd) return 0;
      bits = *in++ | 0x100u;
    }
    const unsigned isRef = bits & 1;
    bits >>= 1;
    const size_t room = size - pos;

    if (!isRef) {
      if (in == inEnd) return 0;
      const size_t count = *in++;
      const size_t avail = static_cast<size_t>(inEnd - in);
      // Short runs with room on both sides: one fixed 16-byte move; bytes
      // past the run are written again by later tokens before anyone reads them.
      if (count <= 16 && avail >= 16 && room >= 16) {
        std::memcpy(out + pos, in, 16);
        in += count;
        pos += count;
        continue;
      }
      const size_t n = count < room ? count : room;
      if (avail < n) return 0;
      std::memcpy(out + pos, in, n);
      in += n;
      pos += n;
      continue;
    }

    if (inEnd - in < 2) return 0;
    const unsigned v = in[0] | (in[1] << 8);
    in += 2;
    const size_t dist = v >> 4;
    size_t len;
    if (v & 8) {
      len = (v & 7) + 4;
      if (dist == 0) return 0;  // would copy a byte onto itself before it exists
    } else {
      if (in == inEnd) return 0;
      len = (((v & 7) << 8) | *in++) + 4;
      // A 4-byte unit read from fewer than 4 bytes back would take bytes
      // this token has not written yet.
      if (dist < 4) return 0;
    }
    if (dist > pos) return 0;  // before the start of the output
    if (dist >= 16 && len <= 16 && room >= 16) {
      std::memcpy(out + pos, out + pos - dist, 16);
      pos += len < room ? len : room;
      continue;
    }
    const size_t n = len < room ? len : room;
    CopyBack(out + pos, dist, n);
    pos += n;
  }
  return 1;
}
