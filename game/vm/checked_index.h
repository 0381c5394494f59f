// The one check for every index, count or offset that comes from the script
// or from a data file: a value out of range is logged and refused, never
// used. The test is inline and cheap; the refusal is out of line.
#pragma once
#include <cstdint>

// Logs "<what> out of range: <value> (limit <limit>)" to debug window 0.
[[gnu::cold]] void index_refused(const char* what, int64_t value, int64_t limit);

// True when 0 <= index < count; else logs and returns false.
inline bool index_in(int64_t index, int64_t count, const char* what) {
  if (index >= 0 && index < count) [[likely]]
    return true;
  index_refused(what, index, count);
  return false;
}

// True when the bytes [offset, offset + length) lie inside a block of size
// bytes (no wrap-around); else logs and returns false.
inline bool range_in(uint64_t offset, uint64_t length, uint64_t size, const char* what) {
  if (offset <= size && length <= size - offset) [[likely]]
    return true;
  index_refused(what, static_cast<int64_t>(offset + length), static_cast<int64_t>(size));
  return false;
}
