// text_wrap_plain: the save list's copy of a text, without tags, broken
// into lines (LF) by width, and ended with an ellipsis when it does not
// fit the height. Characters are never split: the ellipsis replaces whole
// characters, and the copy stops at 511 bytes.
#include <cstring>
#include <vector>

#include "text/text_font.h"
#include "text/text_layout.h"

namespace {
bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
}  // namespace

int text_wrap_plain(const char* src, char* dst, int max_w, int max_h, int font_size) {
  const TextFontApi& f = text_font_api();
  std::memset(dst, 0, kTextBufferBytes);
  constexpr size_t kCap = kTextBufferBytes - 1;
  std::vector<size_t> starts;  // where each copied character begins
  size_t n = 0;
  int x = 0, y = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(src ? src : "");
  auto ellipsis = [&] {
    // Back up by whole characters until the two bytes of "…" fit where the
    // last two bytes were.
    size_t cut = n;
    while (n - cut < 2 && !starts.empty()) {
      cut = starts.back();
      starts.pop_back();
    }
    n = cut;
    dst[n++] = '\x81';
    dst[n++] = '\x63';
    std::memset(dst + n, 0, kTextBufferBytes - n);
  };
  while (*p) {
    if (*p == '<') {
      while (*p && *p != '>') ++p;
      if (*p) ++p;
      continue;
    }
    size_t len = 1;
    if (IsLead(*p) || (*p == '%' && p[1] >= '0' && p[1] <= '9')) {
      if (!p[1]) break;
      len = 2;
    }
    if (n + len > kCap) break;
    starts.push_back(n);
    std::memcpy(dst + n, p, len);
    n += len;
    int w = font_size;
    if (len == 1) {
      char one[2] = {static_cast<char>(*p), 0};
      KivSize sz{};
      f.getSize(one, &sz);
      w = sz.cx;
    }
    p += len;
    x += w;
    if (x + w > max_w) {
      y += font_size + 2;
      x = 0;
      if (y + font_size + 2 > max_h) {
        if (*p) ellipsis();
        break;
      }
      if (n + 1 > kCap) break;
      dst[n++] = '\n';
    }
  }
  return 1;
}
