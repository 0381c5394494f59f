// The small text routines other components share: character search,
// stripping a set of bytes, hexadecimal and decimal parsing, field
// extraction, and the monitor search of the display enumeration.
#include <climits>
#include <cstring>

#include "platform/core/text_encoding.h"
#include "strings/strings.h"

const char* str_find_char(const char* text, int byte) {
  if (!text) return nullptr;
  for (; *text; ++text)
    if (static_cast<unsigned char>(*text) == static_cast<unsigned char>(byte)) return text;
  return nullptr;
}

int str_token(char* text, const char* set) {
  if (!text) return 0;
  // A text longer than the routine's 260 bytes is cut there.
  constexpr size_t kMax = 260;
  size_t n = strnlen(text, kMax);
  if (n == kMax) text[kMax - 1] = 0, n = kMax - 1;
  size_t out = 0;
  for (size_t i = 0; i < n; ++i)
    if (!set || !std::strchr(set, text[i])) text[out++] = text[i];
  text[out] = 0;
  return static_cast<int>(out);
}

uint32_t str_format(const char* text, int* used) {
  int run = 0;
  if (text) {
    for (; text[run]; ++run) {
      char c = text[run];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == 'x')) break;
    }
  }
  if (used) *used = run;
  // The digits after the run's last x, read first to last.
  int start = 0;
  for (int i = run - 1; i >= 0; --i)
    if (text[i] == 'x' || text[i] == 'X') {
      start = i + 1;
      break;
    }
  uint64_t value = 0;
  for (int i = start; i < run; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const unsigned d = c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10);
    value = value * 16 + d;
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;  // saturates
  }
  return static_cast<uint32_t>(value);
}

int32_t str_to_int(const char* text, int* digits) {
  int n = 0;
  bool negative = false;
  int64_t value = 0;
  if (text) {
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    for (; *text >= '0' && *text <= '9'; ++text, ++n) {
      value = value * 10 + (*text - '0');
      if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturates
    }
  }
  if (digits) *digits = n;
  if (negative) return static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

int str_token_next(const char* text, int k, int separator, char* dst, size_t dst_size) {
  if (dst && dst_size) dst[0] = 0;
  if (!text || k < 0) return 0;
  const char sep = static_cast<char>(separator);
  const char* p = text;
  for (int i = 0; i < k; ++i) {
    p = std::strchr(p, sep);
    if (!p || sep == 0) return 0;
    ++p;
  }
  const char* end = std::strchr(p, sep);
  size_t len = end && sep ? static_cast<size_t>(end - p) : std::strlen(p);
  if (dst && dst_size) {
    if (len > dst_size - 1) len = dst_size - 1;
    std::memcpy(dst, p, len);
    dst[len] = 0;
  }
  return 1;
}

bool monitor_enum_proc(intptr_t monitor, const int32_t rect[4], MonitorSearch* search) {
  if (!search) return false;
  if (search->mode == kMonitorFindHandle) {
    if (monitor == search->monitor) {
      std::memcpy(search->rect, rect, sizeof search->rect);
      return false;
    }
    ++search->index;
    return true;
  }
  if (--search->index < 0) {
    search->monitor = monitor;
    std::memcpy(search->rect, rect, sizeof search->rect);
    search->index = static_cast<int32_t>(search->mode & 0xFFFF);
    return false;
  }
  return true;
}

size_t sjis_whole_prefix(const char* src, size_t len, size_t max) {
  size_t i = 0;
  while (i < len) {
    const size_t w = plat::IsSjisLead(static_cast<unsigned char>(src[i])) ? 2 : 1;
    if (i + w > max || i + w > len) break;
    i += w;
  }
  return i;
}
