// The list view drawing both debug-view backends share, and the choice of
// backend.
#include "platform/debugview/debug_view.h"

#include <algorithm>

#include "platform/core/backend.h"
#include "platform/core/text_encoding.h"
#include "platform/font/font.h"

namespace plat {
namespace {

constexpr uint32_t kBack = 0xFFFFFFFFu, kText = 0xFF000000u, kGrid = 0xFFC8C8C8u, kHeader = 0xFFE8E8E8u,
                   kMenuBack = 0xFFF0F0F0u, kChecked = 0xFF2060C0u, kEditBack = 0xFFFFF4C0u;

struct Canvas {
  std::vector<uint32_t>& px;
  int w, h;
  void Fill(int l, int t, int r, int b, uint32_t c) {
    for (int y = std::max(t, 0); y < std::min(b, h); ++y)
      for (int x = std::max(l, 0); x < std::min(r, w); ++x) px[static_cast<size_t>(y) * w + x] = c;
  }
  // Shift-JIS text from (x, top) clipped to [x, right).
  void Text(const std::string& sj, int x, int top, int right, uint32_t colour) {
    FontHandle* font = FontOpen(FontFace::kGothic, 12, false);
    if (!font) return;
    const FontMetrics& m = FontGetMetrics(font);
    const int baseline = top + (kListRowHeight - m.height) / 2 + m.ascent;
    for (size_t i = 0; i < sj.size();) {
      const auto b = static_cast<unsigned char>(sj[i]);
      uint32_t code = b;
      size_t n = 1;
      if (IsSjisLead(b) && i + 1 < sj.size()) code = b << 8 | static_cast<unsigned char>(sj[i + 1]), n = 2;
      const FontGlyph& g = FontGetGlyph(font, Cp932CodeToUnicode(code));
      for (int gy = 0; gy < g.height; ++gy)
        for (int gx = 0; gx < g.width; ++gx) {
          const int fx = x + g.originX + gx, fy = baseline - g.originY + gy;
          if (fx < 0 || fx >= std::min(right, w) || fy < 0 || fy >= h) continue;
          const uint32_t a = g.coverage[static_cast<size_t>(gy) * g.pitch + gx];
          if (!a) continue;
          uint32_t& d = px[static_cast<size_t>(fy) * w + fx];
          uint32_t out = 0xFF000000u;
          for (int sh = 0; sh < 24; sh += 8)
            out |= (((d >> sh & 0xFF) * (64 - a) + (colour >> sh & 0xFF) * a) / 64) << sh;
          d = out;
        }
      x += g.advanceX;
      if (x >= right) break;
      i += n;
    }
  }
};

int MenuWidth(const MenuEntry& e) { return 8 + 7 * static_cast<int>(e.caption.size()); }

}  // namespace

std::vector<uint32_t> DrawListView(const ListViewModel& m, int width, int height) {
  std::vector<uint32_t> px(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0), kBack);
  Canvas c{px, width, height};
  int top = 0;
  if (!m.menu.empty()) {
    c.Fill(0, 0, width, kListMenuHeight, kMenuBack);
    int x = 2;
    for (const MenuEntry& e : m.menu) {
      c.Text(e.caption, x + 4, 1, x + MenuWidth(e), e.checked ? kChecked : kText);
      x += MenuWidth(e);
    }
    c.Fill(0, kListMenuHeight - 1, width, kListMenuHeight, kGrid);
    top = kListMenuHeight;
  }
  // Header.
  c.Fill(0, top, width, top + kListHeaderHeight, kHeader);
  int x = 0;
  for (const ListColumn& col : m.columns) {
    c.Text(col.title, x + 3, top + 1, x + col.width - 2, kText);
    x += col.width;
    c.Fill(x - 1, top, x, height, kGrid);
  }
  top += kListHeaderHeight;
  c.Fill(0, top - 1, width, top, kGrid);
  // Rows, scrolled so that the last one shows.
  const int visible = std::max((height - top) / kListRowHeight, 0);
  const int first = std::max(static_cast<int>(m.rows.size()) - visible, 0);
  for (int r = first; r < static_cast<int>(m.rows.size()); ++r) {
    const int y = top + (r - first) * kListRowHeight;
    int cx = 0;
    const auto& row = m.rows[static_cast<size_t>(r)];
    for (size_t k = 0; k < m.columns.size(); ++k) {
      const int cw = m.columns[k].width;
      const bool editing = r == m.editRow && k + 1 == m.columns.size();
      if (editing) c.Fill(cx, y, cx + cw - 1, y + kListRowHeight - 1, kEditBack);
      const std::string& text = editing ? m.editText : (k < row.size() ? row[k] : std::string());
      c.Text(text, cx + 3, y, cx + cw - 2, kText);
      cx += cw;
    }
    c.Fill(0, y + kListRowHeight - 1, width, y + kListRowHeight, kGrid);
  }
  return px;
}

int ListViewRowAt(const ListViewModel& m, int height, int x, int y) {
  (void)x;
  int top = (m.menu.empty() ? 0 : kListMenuHeight) + kListHeaderHeight;
  if (y < top) return -1;
  const int visible = std::max((height - top) / kListRowHeight, 0);
  const int first = std::max(static_cast<int>(m.rows.size()) - visible, 0);
  const int r = first + (y - top) / kListRowHeight;
  return r < static_cast<int>(m.rows.size()) ? r : -1;
}

int ListViewMenuAt(const ListViewModel& m, int x, int y) {
  if (m.menu.empty() || y < 0 || y >= kListMenuHeight) return -1;
  int left = 2;
  for (const MenuEntry& e : m.menu) {
    if (x >= left && x < left + MenuWidth(e)) return e.id;
    left += MenuWidth(e);
  }
  return -1;
}

std::unique_ptr<DebugViews> MakeDebugViews() {
  return WindowBackendKind() == Backend::kHeadless ? MakeHeadlessDebugViews() : MakeSdlDebugViews();
}

}  // namespace plat
