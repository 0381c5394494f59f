#include "files/pac_archive.h"

#include <cstring>

namespace {

uint32_t U32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool KivPacFind(const PacReader& read, uint64_t archiveSize, const char* name, PacMember* out) {
  unsigned char key[kPacNameSize] = {};
  size_t len = std::strlen(name);
  std::memcpy(key, name, len < kPacNameSize ? len : kPacNameSize);
  // A first byte of 0x80 or more selects no bucket.
  if (key[0] >= 0x80) return false;

  unsigned char bucket[8];
  if (!read(kPacHeaderSize + 8ull * key[0], bucket, sizeof bucket)) return false;
  uint64_t first = U32(bucket), count = U32(bucket + 4);
  if (count == 0) return false;
  // The bucket's entries must lie inside the archive.
  if (kPacDirectoryOffset + (first + count) * kPacEntrySize > archiveSize) return false;

  // Halving search over the bucket's sorted entries.
  uint64_t lo = 0, hi = count;
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    unsigned char entry[kPacEntrySize];
    if (!read(kPacDirectoryOffset + (first + mid) * kPacEntrySize, entry, sizeof entry)) return false;
    int c = std::memcmp(key, entry, kPacNameSize);
    if (c == 0) {
      uint32_t size = U32(entry + 32), offset = U32(entry + 36);
      if (uint64_t(offset) + size > archiveSize) return false;  // a member past the end is not there
      out->size = size;
      out->offset = offset;
      return true;
    }
    if (c < 0) hi = mid; else lo = mid + 1;
  }
  return false;
}
