// text_draw: the one layout routine. It walks Shift-JIS text with tags,
// draws character by character through the engine's font, wraps at the box
// edge (letting the no-break-before characters hang, dropping a full-width
// space that would open a line), stops at the box bottom and counts reveal
// units. With a reveal record the count is the reveal unit of the pen
// (x + band x row width) relative to where the layout began, so the count
// agrees with the record's order map after every break, automatic or not.
#include <algorithm>
#include <cstring>

#include "start/game_debug_log.h"
#include "text/text_font.h"
#include "text/text_layout.h"

namespace {

constexpr int kMaxTagSize = 4096;  // larger sizes are ignored like sizes <= 0
constexpr size_t kRubyBytes = 511;

const uint16_t kNoBreakBefore[] = {
    0x8140, 0x8141, 0x8142, 0x8148, 0x8149, 0x8158, 0x815B, 0x815C, 0x8163, 0x816A, 0x8176, 0x8178,
    0x817A, 0x829F, 0x82A1, 0x82A3, 0x82A5, 0x82A7, 0x82C1, 0x82E1, 0x82E3, 0x82E5, 0x82EC, 0x8340,
    0x8342, 0x8344, 0x8346, 0x8348, 0x8362, 0x8383, 0x8385, 0x8387, 0x838E, 0x8395, 0x8396,
};

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool StartsWith(const unsigned char* p, const char* s) {
  return std::strncmp(reinterpret_cast<const char*>(p), s, std::strlen(s)) == 0;
}

// After the next ">" from p, or at the zero byte when there is none.
const unsigned char* SkipTag(const unsigned char* p) {
  while (*p && *p != '>') ++p;
  return *p ? p + 1 : p;
}

// Six hex digits at p, bounded by end; false when they are not all there.
bool Hex6(const unsigned char* p, const unsigned char* end, int32_t* out) {
  int32_t v = 0;
  for (int i = 0; i < 6; ++i) {
    if (p + i >= end) return false;
    const unsigned char c = p[i];
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) return false;
    v = v << 4 | d;
  }
  *out = v;
  return true;
}

struct Layout {
  const TextFontApi& f = text_font_api();
  uint32_t* px = nullptr;
  int surfW = 0, surfH = 0;
  int boxW = 0, boxH = 0;
  int base = 0, cur = 0, sizeOff = 0;
  int ruby = 0, lineH = 0, lineH0 = 0, baseOff = 0;
  int x = 0, y = 0, x0 = 0, y0 = 0;
  int64_t count = 0;
  TextColours colours{};
  TextRevealRecord* rev = nullptr;

  int64_t Unit(int ux, int uy) const {
    const int64_t band = rev->bandHeight > 0 ? std::max(uy, 0) / rev->bandHeight : 0;
    return band * rev->rowWidth + ux;
  }
  // A line break: the pen goes to the start of the next line and the count
  // follows it. Returns false when that line would pass the box bottom.
  bool Break(int64_t plainCarry) {
    y += lineH;
    x = 0;
    if (rev)
      count = Unit(x, y) - Unit(x0, y0);
    else
      count += plainCarry;
    return y + lineH <= boxH;
  }
  void SetSize(int n) {
    f.end();
    f.setFontSize(n);
    f.begin();
  }
};

}  // namespace

bool text_no_break_before(uint32_t code) {
  return std::find(std::begin(kNoBreakBefore), std::end(kNoBreakBefore), code) != std::end(kNoBreakBefore);
}

int text_draw(KivSprite* sprite, const char* text, int* xio, int* yio, int box_w, int box_h, int font_size,
              int ruby_size, TextColours colours, TextRevealRecord* reveal) {
  Layout L;
  const TextFontApi& f = L.f;
  if (sprite) L.px = f.lock(sprite, &L.surfW, &L.surfH);
  f.begin();
  L.boxW = box_w;
  L.boxH = box_h;
  L.base = L.cur = font_size;
  L.ruby = ruby_size;
  L.lineH = ruby_size ? font_size + ruby_size : font_size + 2;
  L.baseOff = ruby_size ? ruby_size - 2 : 0;
  L.lineH0 = L.lineH;
  L.x = L.x0 = xio ? *xio : 0;
  L.y = L.y0 = yio ? *yio : 0;
  L.colours = colours;
  L.rev = reveal && reveal->rowWidth > 0 ? reveal : nullptr;

  const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*p) {
    if (*p == '<') {
      if (StartsWith(p, "<br>")) {
        p += 4;
        if (!L.Break(static_cast<int64_t>(box_w) - L.x)) break;
        continue;
      }
      if (StartsWith(p, "<center>")) {
        p += 8;
        const TextExtent e = text_line_layout(reinterpret_cast<const char*>(p), L.cur, box_w);
        L.x = (box_w - e.width) >> 1;
        L.y = ((box_h - e.height) >> 1) - ruby_size - L.baseOff;
        if (L.rev) {
          L.rev->bandHeight = box_h;  // the whole box reveals as one line
          L.count = L.Unit(L.x, L.y) - L.Unit(L.x0, L.y0);
        } else {
          L.count += L.x;
        }
        continue;
      }
      if (StartsWith(p, "<s") && p[2] >= '0' && p[2] <= '9') {
        const unsigned char* q = p + 2;
        int64_t n = 0;
        while (*q >= '0' && *q <= '9') n = std::min<int64_t>(n * 10 + (*q++ - '0'), INT32_MAX);
        p = SkipTag(q);
        if (n <= 0 || n > kMaxTagSize) continue;  // a size that could not be drawn
        const int size = static_cast<int>(n);
        L.SetSize(size);
        L.sizeOff = std::max(L.cur - size, 0);
        if (size > L.cur) {
          L.lineH += size - L.cur;
          if (L.rev) L.rev->bandHeight += size - L.cur;
        }
        L.cur = size;
        continue;
      }
      if (StartsWith(p, "</s>")) {
        p += 4;
        L.SetSize(L.base);
        L.cur = L.base;
        L.sizeOff = 0;
        continue;
      }
      if (StartsWith(p, "<reset>")) {
        p += 7;
        L.lineH = L.lineH0;
        f.setColor(colours.text, colours.edge);
        continue;
      }
      if (StartsWith(p, "<r")) {
        const unsigned char* rubyText = p + 2;
        const unsigned char* close = rubyText;
        while (*close && *close != '>') ++close;
        if (!*close) break;  // unterminated: the text ends here
        const size_t rubyBytes = static_cast<size_t>(close - rubyText);
        f.end();
        const int m = static_cast<int>((rubyBytes + 2) / 2) * ruby_size;
        bool fits = true;
        if (L.x + m > box_w) fits = L.Break(m);
        const unsigned char* baseText = close + 1;
        const char* endTag = std::strstr(reinterpret_cast<const char*>(baseText), "</r");
        if (!endTag) {
          game_debug_puts(kDebugWindowError, "ruby error : not </r>");
        } else if (fits && L.px && ruby_size > 0) {
          const int baseChars = static_cast<int>((reinterpret_cast<const unsigned char*>(endTag) - baseText) / 2);
          char rt[kRubyBytes + 1];
          const size_t n = std::min(rubyBytes, kRubyBytes);
          std::memcpy(rt, rubyText, n);
          rt[n] = 0;
          const int rx =
              std::max(L.x + (L.cur * baseChars - static_cast<int>(rubyBytes / 2) * ruby_size) / 2, 0);
          const int type = f.getType(), size = f.getFontSize();
          f.setType(0);
          f.setFontSize(ruby_size);
          f.begin();
          f.drawText(L.px, rt, rx, L.y, L.surfW, L.surfH);
          f.end();
          f.setType(type);
          f.setFontSize(size);
        }
        f.begin();
        if (!fits) break;
        p = baseText;
        continue;
      }
      if (StartsWith(p, "</c>")) {
        p += 4;
        f.setColor(colours.text, colours.edge);
        continue;
      }
      if (StartsWith(p, "<c")) {
        // The colours are looked for inside this tag only.
        const unsigned char* end = p + 2;
        while (*end && *end != '>') ++end;
        const auto* hash = static_cast<const unsigned char*>(std::memchr(p + 2, '#', static_cast<size_t>(end - p - 2)));
        int32_t textColour = 0, edge = colours.edge;
        if (hash && Hex6(hash + 1, end, &textColour)) {
          const auto* hash2 =
              static_cast<const unsigned char*>(std::memchr(hash + 1, '#', static_cast<size_t>(end - hash - 1)));
          int32_t e = 0;
          if (hash2 && Hex6(hash2 + 1, end, &e)) edge = e;
          f.setColor(textColour, edge);
        }
        p = *end ? end + 1 : end;
        continue;
      }
      p = SkipTag(p);  // any other tag
      continue;
    }

    // One character: a lead and trail byte, "%" and a digit, or one byte.
    char ch[3] = {static_cast<char>(*p), 0, 0};
    int len = 1;
    if (IsLead(*p) || (*p == '%' && p[1] >= '0' && p[1] <= '9')) {
      if (!p[1]) break;  // a lead byte just before the end
      ch[1] = static_cast<char>(p[1]);
      len = 2;
    }
    const uint32_t code = len == 2 ? static_cast<uint32_t>(*p) << 8 | p[1] : *p;
    p += len;
    int w = L.cur;
    if (len == 1) {
      KivSize sz{};
      f.getSize(ch, &sz);
      w = sz.cx;
    }
    if (L.x >= box_w) {
      const bool hang = len == 2 && text_no_break_before(code) && L.x - 2 + w <= box_w + L.cur;
      if (!hang) {
        if (!L.Break(0)) break;
        if (code == 0x8140) continue;  // no line opens with a full-width space
      }
    }
    if (L.px) f.drawText(L.px, ch, L.x, L.y + L.baseOff + L.sizeOff, L.surfW, L.surfH);
    L.x += w;
    L.count += w;
  }

  f.end();
  if (L.px) f.unlock(sprite);
  f.setFontSize(L.base);
  f.setColor(colours.text, colours.edge);
  if (sprite) {
    const KivRect r{0, 0, box_w + 2 + L.cur, L.y + L.lineH + 2};
    f.setRect(sprite, &r);
  }
  if (xio) *xio = L.x;
  if (yio) *yio = L.y;
  return static_cast<int>(std::clamp<int64_t>(L.count, INT32_MIN / 2, INT32_MAX / 2)) + 64;
}

TextExtent text_line_layout(const char* text, int font_size, int box_w) {
  int size = font_size;
  int64_t width = 0;
  int height = font_size;
  const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*p) {
    if (*p == '<') {
      if (p[1] == 's' && p[2] >= '0' && p[2] <= '9') {
        const unsigned char* q = p + 2;
        int64_t n = 0;
        while (*q >= '0' && *q <= '9') n = std::min<int64_t>(n * 10 + (*q++ - '0'), INT32_MAX);
        if (n > 0 && n <= kMaxTagSize) {
          size = static_cast<int>(n);
          height = std::max(height, size);
        }
        p = SkipTag(q);
      } else {
        p = SkipTag(p);
      }
      continue;
    }
    int len = 1;
    if (IsLead(*p) || (*p == '%' && p[1] >= '0' && p[1] <= '9')) {
      if (!p[1]) break;
      len = 2;
    }
    const uint32_t code = len == 2 ? static_cast<uint32_t>(*p) << 8 | p[1] : *p;
    p += len;
    // The character that passes the box edge is measured with the line; the
    // walk stops after it unless it may not start a line and stays within
    // one character of the edge.
    width += len == 2 ? size : size / 2;
    if (width > box_w && !(text_no_break_before(code) && width <= box_w + size)) break;
  }
  return {static_cast<int32_t>(width), height};
}
