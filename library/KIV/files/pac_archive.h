// The .pac archive: a 12-byte header nobody reads, 255 buckets of
// {first entry, count} by the first byte of a member's name, then 40-byte
// directory entries {name[32], size, offset}, sorted by name within each
// bucket. Every number is little-endian.
#pragma once
#include <cstdint>
#include <functional>

constexpr uint32_t kPacHeaderSize = 12;
constexpr uint32_t kPacBucketCount = 255;
constexpr uint32_t kPacDirectoryOffset = kPacHeaderSize + 8 * kPacBucketCount;  // 2052
constexpr uint32_t kPacEntrySize = 40;
constexpr uint32_t kPacNameSize = 32;

struct PacMember {
  uint32_t offset;
  uint32_t size;
};

// Reads n bytes at an offset of the archive; false when the archive is shorter.
using PacReader = std::function<bool(uint64_t offset, void* buf, size_t n)>;

// Finds a member by its (already upper-cased) name. Only the first 32 bytes
// of the name count. A directory or member that does not fit in the
// archive's size is not found.
bool KivPacFind(const PacReader& read, uint64_t archiveSize, const char* name, PacMember* out);
