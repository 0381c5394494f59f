// make_demo_images OUTDIR: draws the demo game's pictures in code and writes
// (make_demo_images --icon FILE writes the game window's icon as a PNG).
// them as GE images (".pgd", the name the game's loader tries first): a day
// and a night background and two characters, one of them also smiling.
// Shapes are drawn with soft edges from their distance to each pixel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "image_encoder.h"
#include "platform/font/font.h"

namespace {

using kivtools::Image;

struct Rgb {
  float r, g, b;
};

Rgb Mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// A picture being painted, in floats with coverage as alpha.
struct Canvas {
  int w, h;
  std::vector<Rgb> rgb;
  std::vector<float> alpha;
  Canvas(int width, int height) : w(width), h(height), rgb(static_cast<size_t>(width) * height), alpha(rgb.size()) {}

  // Paints colour where coverage(x, y) > 0 (coverage from 0 to 1).
  template <typename Coverage>
  void Paint(Rgb c, Coverage coverage) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float k = std::clamp(coverage(x + 0.5f, y + 0.5f), 0.0f, 1.0f);
        if (k <= 0) continue;
        const size_t i = static_cast<size_t>(y) * w + x;
        rgb[i] = Mix(rgb[i], c, k);
        alpha[i] = alpha[i] + (1 - alpha[i]) * k;
      }
  }
  Image ToImage() const {
    Image img{w, h, std::vector<uint32_t>(rgb.size())};
    for (size_t i = 0; i < rgb.size(); ++i) {
      auto q = [](float v) { return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f) & 0xFF; };
      img.pixels[i] = q(alpha[i] * 255) << 24 | q(rgb[i].r) << 16 | q(rgb[i].g) << 8 | q(rgb[i].b);
    }
    return img;
  }
};

// Coverage of a shape whose signed distance (negative inside) is d.
float Edge(float d) { return 0.5f - d; }

auto Disc(float cx, float cy, float r) {
  return [=](float x, float y) { return Edge(std::hypot(x - cx, y - cy) - r); };
}
auto Ellipse(float cx, float cy, float rx, float ry) {
  return [=](float x, float y) {
    const float u = (x - cx) / rx, v = (y - cy) / ry;
    return Edge((std::sqrt(u * u + v * v) - 1) * std::min(rx, ry));
  };
}
// Below a wavy line: the hills.
auto Hill(float base, float amp, float period, float phase) {
  return [=](float x, float y) { return Edge(base - amp * std::sin(x / period + phase) - y); };
}

// ---- Backgrounds ----

Image Background(bool night) {
  Canvas c(1280, 720);
  const Rgb top = night ? Rgb{10, 14, 40} : Rgb{70, 130, 220};
  const Rgb low = night ? Rgb{30, 40, 90} : Rgb{200, 225, 245};
  for (int y = 0; y < 720; ++y)
    for (int x = 0; x < 1280; ++x) {
      c.rgb[static_cast<size_t>(y) * 1280 + x] = Mix(top, low, y / 719.0f);
      c.alpha[static_cast<size_t>(y) * 1280 + x] = 1;
    }
  if (night) {
    // Stars from a fixed hash of the pixel, fewer towards the horizon.
    for (int y = 0; y < 420; ++y)
      for (int x = 0; x < 1280; ++x) {
        uint32_t hsh = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
        hsh ^= hsh >> 13;
        hsh *= 0x5bd1e995u;
        hsh ^= hsh >> 15;
        if (hsh % 1400 == 0) c.Paint({255, 250, 220}, Disc(x + 0.5f, y + 0.5f, 1.2f + (hsh >> 20) % 2));
      }
    c.Paint({60, 60, 90}, Disc(980, 150, 78));
    c.Paint({245, 240, 210}, Disc(980, 150, 60));
    c.Paint({225, 220, 190}, Disc(962, 135, 9));
    c.Paint({225, 220, 190}, Disc(1000, 170, 12));
  } else {
    // A soft glow: rings of faint light, stronger towards the sun.
    for (float r = 130; r > 66; r -= 8) c.Paint({255, 248, 220}, [&](float x, float y) {
      return 0.12f * Edge(std::hypot(x - 1000, y - 140) - r);
    });
    c.Paint({255, 245, 190}, Disc(1000, 140, 62));
    for (auto [cx, cy, s] : {std::tuple{240.f, 120.f, 1.f}, {560.f, 80.f, 0.7f}, {760.f, 200.f, 0.85f}}) {
      c.Paint({250, 252, 255}, Ellipse(cx, cy, 110 * s, 32 * s));
      c.Paint({250, 252, 255}, Ellipse(cx - 40 * s, cy - 22 * s, 55 * s, 34 * s));
      c.Paint({250, 252, 255}, Ellipse(cx + 35 * s, cy - 18 * s, 48 * s, 30 * s));
    }
  }
  const Rgb far = night ? Rgb{22, 40, 55} : Rgb{110, 170, 110};
  const Rgb near = night ? Rgb{14, 28, 34} : Rgb{70, 140, 70};
  c.Paint(far, Hill(470, 40, 160, 0.5f));
  c.Paint(near, Hill(560, 55, 230, 2.1f));
  // A path winding from the crest of the near hill towards the viewer.
  c.Paint(night ? Rgb{40, 45, 55} : Rgb{200, 180, 140}, [](float x, float y) {
    if (y < 612) return 0.0f;
    const float t = (y - 612) / 108.0f, centre = 640 + 110 * std::sin(t * 2.2f), half = 4 + 150 * t;
    return std::min(Edge(std::fabs(x - centre) - half), Edge(612 - y + 1));
  });
  return c.ToImage();
}

// ---- Characters ----

struct Look {
  Rgb hair, skin, clothes, trim;
  bool smile;
  bool longHair;
};

Image Character(const Look& k) {
  Canvas c(360, 600);
  const float cx = 180;
  if (k.longHair) c.Paint(k.hair, [=](float x, float y) {
    return y < 110 || y > 330 ? Edge(std::hypot(x - cx, y - 140) - 98) : Edge(std::fabs(x - cx) - 98);
  });
  // Body: a dress widening to the foot of the picture, with shoulders.
  c.Paint(k.clothes, [=](float x, float y) {
    if (y < 250) return Edge(std::hypot(x - cx, (y - 290) * 1.6f) - 95);
    const float half = 70 + (y - 250) * 0.34f;
    return std::min(Edge(std::fabs(x - cx) - half), Edge(y - 600));
  });
  c.Paint(k.trim, [=](float x, float y) { return std::min(Edge(std::fabs(x - cx) - 70), Edge(std::fabs(y - 330) - 7)); });
  c.Paint(k.skin, [=](float x, float y) { return std::min(Edge(std::fabs(x - cx) - 20), Edge(std::fabs(y - 222) - 26)); });
  c.Paint(k.skin, Ellipse(cx, 150, 78, 88));
  // Hair over the brow.
  c.Paint(k.hair, [=](float x, float y) {
    return std::min(Edge(std::hypot(x - cx, y - 140) - 86), Edge(y - 112 - 14 * std::sin((x - cx) / 18)));
  });
  const Rgb eye{40, 30, 45};
  c.Paint(eye, Ellipse(cx - 30, 160, 9, k.smile ? 5 : 12));
  c.Paint(eye, Ellipse(cx + 30, 160, 9, k.smile ? 5 : 12));
  c.Paint({235, 150, 150}, Ellipse(cx - 50, 190, 14, 7));
  c.Paint({235, 150, 150}, Ellipse(cx + 50, 190, 14, 7));
  const Rgb mouth{170, 70, 80};
  if (k.smile) {
    c.Paint(mouth, [=](float x, float y) {
      const float d = std::fabs(std::hypot(x - cx, y - 180) - 26) - 3;
      return y > 190 ? Edge(d) : 0.0f;
    });
  } else {
    c.Paint(mouth, [=](float x, float y) { return std::min(Edge(std::fabs(x - cx) - 12), Edge(std::fabs(y - 205) - 2.5f)); });
  }
  return c.ToImage();
}

// The snow sheet: three round flakes side by side (small, middle, large),
// each in a 16 x 16 cell with a soft edge.
Image SnowSheet() {
  Image img{48, 16, std::vector<uint32_t>(48 * 16, 0)};
  for (int cell = 0; cell < 3; ++cell) {
    const float r = 3.0f + 2.0f * cell;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const float d = std::hypot(x + 0.5f - 8.0f, y + 0.5f - 8.0f) - r;
        const float a = std::clamp(0.5f - d, 0.0f, 1.0f);
        img.pixels[static_cast<size_t>(y) * 48 + cell * 16 + x] =
            static_cast<uint32_t>(a * 235.0f) << 24 | 0xF4F8FFu;
      }
  }
  return img;
}

// The sakura sheet: two rows of 8 cells (24 x 24), a petal turning over
// (narrow to wide to narrow), the second row a deeper pink.
Image SakuraSheet() {
  Image img{192, 48, std::vector<uint32_t>(192 * 48, 0)};
  for (int row = 0; row < 2; ++row)
    for (int cell = 0; cell < 8; ++cell) {
      const float w = 2.5f + 7.0f * std::fabs(std::sin(3.14159265f * (cell + 0.5f) / 8.0f));
      for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
          const float dx = (x + 0.5f - 12.0f) / w, dy = (y + 0.5f - 12.0f) / 9.0f;
          const float a = std::clamp((1.0f - (dx * dx + dy * dy)) * 4.0f, 0.0f, 1.0f);
          const uint32_t colour = row ? 0xF29AB8u : 0xFFC8D8u;
          img.pixels[static_cast<size_t>(row * 24 + y) * 192 + cell * 24 + x] =
              static_cast<uint32_t>(a * 255.0f) << 24 | colour;
        }
    }
  return img;
}

// A small round badge for compositions.
Image Badge(uint32_t rgb) {
  Image img{64, 64, std::vector<uint32_t>(64 * 64, 0)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const float d = std::hypot(x + 0.5f - 32.0f, y + 0.5f - 32.0f);
      const float a = std::clamp(30.5f - d, 0.0f, 1.0f);
      const uint32_t c = d < 22.0f ? rgb : 0xFFFFFFu;
      img.pixels[static_cast<size_t>(y) * 64 + x] = static_cast<uint32_t>(a * 255.0f) << 24 | c;
    }
  return img;
}

// The message window's click-wait icon: four 16 x 16 cells of a small
// downward triangle that brightens and fades as it animates.
Image WaitIcon() {
  Image img{64, 16, std::vector<uint32_t>(64 * 16, 0)};
  static const float kLevel[4] = {0.55f, 0.8f, 1.0f, 0.8f};
  for (int cell = 0; cell < 4; ++cell)
    for (int y = 3; y < 13; ++y)
      for (int x = 0; x < 16; ++x) {
        const float half = (13 - y) * 0.65f;  // the triangle narrows downwards
        const float d = std::fabs(x + 0.5f - 8.0f) - half;
        const float a = std::clamp(0.5f - d, 0.0f, 1.0f) * kLevel[cell];
        img.pixels[static_cast<size_t>(y) * 64 + cell * 16 + x] = static_cast<uint32_t>(a * 255.0f) << 24 | 0xFFE080u;
      }
  return img;
}

// ---- Skip and auto icons of the message window ----
// Two cells of 16 x 16 that pulse: skip mode shows two arrow heads pointing
// on (>>), auto mode a ring with its dot turning round; both in light blue.
Image ModeIcon(bool skip) {
  Image img{32, 16, std::vector<uint32_t>(32 * 16, 0)};
  for (int cell = 0; cell < 2; ++cell)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const float fx = x + 0.5f, fy = y + 0.5f;
        float a = 0.0f;
        if (skip) {
          // Two triangles: |dy| < half width narrowing to the right.
          for (int k = 0; k < 2; ++k) {
            const float left = 2.0f + k * 6.0f + cell;
            const float d = std::fabs(fy - 8.0f) - (left + 6.0f - fx) * 0.9f;
            if (fx >= left && fx <= left + 6.0f) a = std::max(a, std::clamp(0.5f - d, 0.0f, 1.0f));
          }
        } else {
          const float r = std::sqrt((fx - 8.0f) * (fx - 8.0f) + (fy - 8.0f) * (fy - 8.0f));
          a = std::clamp(1.2f - std::fabs(r - 6.0f), 0.0f, 1.0f);
          const float dotX = cell ? 8.0f : 8.0f, dotY = cell ? 12.0f : 4.0f;
          const float rd = std::sqrt((fx - dotX) * (fx - dotX) + (fy - dotY) * (fy - dotY));
          a = std::max(a, std::clamp(2.5f - rd, 0.0f, 1.0f));
        }
        img.pixels[static_cast<size_t>(y) * 32 + cell * 16 + x] = static_cast<uint32_t>(a * 255.0f) << 24 | 0x90D0FFu;
      }
  return img;
}

bool Write(const std::string& dir, const char* name, const Image& img, int method, int cw = 0, int ch = 0) {
  kivtools::GeOptions o;
  o.method = method;
  o.cellWidth = cw;
  o.cellHeight = ch;
  const std::vector<uint8_t> bytes = kivtools::EncodeGe(img, o);
  if (bytes.empty() || !kivtools::WriteFileBytes(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "make_demo_images: cannot write %s/%s\n", dir.c_str(), name);
    return false;
  }
  return true;
}

// ---- The pause menu (menu.kas) ----
// A dark panel with a slider track, three 200 x 48 buttons of three cell
// rows each (idle, hovered, pressed; the music toggle has a second set of
// three rows for "off"), the slider's knob and the small figure it moves.

// A rounded rectangle's signed distance, for soft-edged panels and bars.
auto RoundRect(float x0, float y0, float x1, float y1, float r) {
  return [=](float x, float y) {
    const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const float qx = std::fabs(x - cx) - ((x1 - x0) / 2 - r), qy = std::fabs(y - cy) - ((y1 - y0) / 2 - r);
    const float out = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f);
    return std::clamp(Edge(out - r), 0.0f, 1.0f);
  };
}

// Coverage of a ring: inside the outer shape, outside the inner one.
template <typename Outer, typename Inner>
auto Ring(Outer outer, Inner inner) {
  return [=](float x, float y) { return outer(x, y) * (1 - inner(x, y)); };
}
float Cover(float d) { return std::clamp(Edge(d), 0.0f, 1.0f); }

// The panel is 460 high: the save and load buttons above the other three.
Image MenuPanel() {
  Canvas c(360, 460);
  c.Paint({20, 26, 48}, RoundRect(0, 0, 360, 460, 18));
  c.Paint({70, 86, 140}, Ring(RoundRect(0, 0, 360, 460, 18), RoundRect(3, 3, 357, 457, 15)));
  c.Paint({90, 100, 130}, RoundRect(52, 404, 340, 412, 4));  // the slider's track
  Image img = c.ToImage();
  // The body lets the scene show through a little.
  for (uint32_t& p : img.pixels) p = (std::min(p >> 24, 0xE0u) << 24) | (p & 0xFFFFFFu);
  return img;
}

// Icons on a button: 0 a bell (chime), 1 a note (music), 2 a cross (close).
void MenuIcon(Canvas& c, int icon, float top, Rgb ink) {
  const float cx = 28, cy = top + 24;
  if (icon == 0) {
    c.Paint(ink, Ellipse(cx, cy - 1, 9, 11));
    c.Paint(ink, RoundRect(cx - 13, cy + 6, cx + 13, cy + 10, 2));
    c.Paint(ink, Disc(cx, cy + 13, 3));
  } else if (icon == 1) {
    c.Paint(ink, Ellipse(cx - 4, cy + 9, 7, 5));
    c.Paint(ink, RoundRect(cx + 1, cy - 14, cx + 4, cy + 9, 1));
    c.Paint(ink, RoundRect(cx + 1, cy - 14, cx + 12, cy - 10, 1));
  } else {
    for (float s : {1.0f, -1.0f})
      c.Paint(ink, [=](float x, float y) {
        const float u = x - cx, v = y - cy;
        return Cover(std::fabs(u * s - v) / 1.414f - 2.5f) * Cover(std::max(std::fabs(u), std::fabs(v)) - 11);
      });
  }
}

// A button sheet: rows idle, hovered, pressed, for each state; state 1 of
// the toggle is "off", its icon struck through in red.
Image MenuButton(int icon, Rgb base, int states) {
  Canvas c(200, 48 * 3 * states);
  for (int st = 0; st < states; ++st)
    for (int row = 0; row < 3; ++row) {
      const float top = 48.0f * (st * 3 + row);
      // Hovered: lighter with a gold rim; pressed: darker, the icon sunk by
      // two pixels.
      const float light = row == 0 ? 0.0f : row == 1 ? 0.35f : -0.45f;
      const Rgb face = light >= 0 ? Mix(base, {255, 255, 255}, light) : Mix(base, {0, 0, 0}, -light);
      const Rgb rim = row == 1 ? Rgb{250, 210, 90} : Mix(face, {255, 255, 255}, 0.5f);
      c.Paint(face, RoundRect(2, top + 2, 198, top + 46, 10));
      c.Paint(rim, Ring(RoundRect(2, top + 2, 198, top + 46, 10), RoundRect(5, top + 5, 195, top + 43, 7)));
      const float sink = row == 2 ? 2.0f : 0.0f;
      MenuIcon(c, icon, top + sink, {250, 250, 240});
      // A bar that grows across the button's face: full when "on".
      const float length = st == 0 ? 120.0f : 40.0f;
      c.Paint({250, 250, 240}, RoundRect(60, top + 20 + sink, 60 + length, top + 28 + sink, 4));
      if (st == 1)
        c.Paint({230, 60, 60}, [=](float x, float y) {
          const float u = x - 28, v = y - top - sink - 24;
          return Cover(std::fabs(u + v) / 1.414f - 2.0f) * Cover(std::hypot(u, v) - 16);
        });
    }
  return c.ToImage();
}

Image MenuKnob() {
  Canvas c(32, 96);
  const Rgb rows[3] = {{220, 200, 120}, {255, 240, 170}, {170, 150, 80}};
  for (int row = 0; row < 3; ++row) {
    c.Paint(rows[row], Disc(16, 16 + 32.0f * row, 14));
    c.Paint({255, 255, 255}, Disc(11, 11 + 32.0f * row, 4));
  }
  return c.ToImage();
}

// A little figure: a head and a widening body.
Image MenuFigure() {
  Canvas c(40, 56);
  c.Paint({240, 205, 175}, Disc(20, 13, 10));
  c.Paint({60, 130, 200}, [](float x, float y) {
    if (y < 25 || y > 55) return 0.0f;
    const float half = 6 + (y - 25) * 0.4f;
    return Cover(std::fabs(x - 20) - half) * Cover(y - 55);
  });
  return c.ToImage();
}

bool WriteMenuImages(const std::string& dir) {
  return Write(dir, "MENU_PANEL.PGD", MenuPanel(), 1) &&
         Write(dir, "MENU_CHIME.PGD", MenuButton(0, {60, 110, 170}, 1), 1, 200, 48) &&
         Write(dir, "MENU_MUSIC.PGD", MenuButton(1, {60, 150, 100}, 2), 1, 200, 48) &&
         Write(dir, "MENU_CLOSE.PGD", MenuButton(2, {160, 70, 80}, 1), 1, 200, 48) &&
         Write(dir, "MENU_KNOB.PGD", MenuKnob(), 1, 32, 32) && Write(dir, "MENU_FIGURE.PGD", MenuFigure(), 1);
}

}  // namespace

// ---- Mask wipe ----
// The wipe's mask: grey rings from the centre outwards, the centre opening
// first, as an 8-bit BMP beside the other pictures (the engine asks for
// "Mask\\Mask00.bmp" and finds it by its name in the search folders).
bool WriteWipeMask(const std::string& dir) {
  const int w = 1280, h = 720;
  Image m{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int dx = x - w / 2, dy = y - h / 2;
      const int d = std::min(255, (dx * dx + dy * dy) * 255 / (w * w / 4 + h * h / 4));
      const int ring = (d + ((x / 40 + y / 40) % 2) * 12) & 0xFF;
      m.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | static_cast<uint32_t>(255 - ring) * 0x010101u;
    }
  const std::string& folder = dir;
  std::vector<uint8_t> bytes = kivtools::EncodeBmp(m, 8);
  if (bytes.empty() || !kivtools::WriteFileBytes(folder + "/Mask00.bmp", bytes)) {
    std::fprintf(stderr, "make_demo_images: cannot write %s/Mask00.bmp\n", folder.c_str());
    return false;
  }
  return true;
}

// The player-name entry screen, full-screen pictures that are transparent
// but for their part: a dark panel around the text field (414, 291,
// 140 x 30) and three buttons under it, each with its meaning on its face:
// "restore" grey with a turning arrow, "accept" green with a tick, "cancel"
// red with a cross; the buttons react only on their drawn pixels.
Image NamePicture(int left, int top, int right, int bottom, uint32_t argb, int icon = -1) {
  Image img{1280, 720, std::vector<uint32_t>(1280 * 720, 0)};
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) img.pixels[static_cast<size_t>(y) * 1280 + x] = argb;
  if (icon < 0) return img;
  // The icon, white, painted into the button's own rectangle.
  Canvas c(right - left, bottom - top);
  const float cx = (right - left) / 2.0f, cy = (bottom - top) / 2.0f;
  auto stroke = [&](float x0, float y0, float x1, float y1, float r) {
    c.Paint({255, 255, 255}, [=](float x, float y) {
      const float vx = x1 - x0, vy = y1 - y0, t = std::clamp(((x - x0) * vx + (y - y0) * vy) / (vx * vx + vy * vy), 0.0f, 1.0f);
      return Edge(std::hypot(x - x0 - t * vx, y - y0 - t * vy) - r);
    });
  };
  if (icon == 0) {  // restore: an arc of three quarters with its arrow head
    c.Paint({255, 255, 255}, [=](float x, float y) {
      const float a = std::atan2(y - cy, x - cx);
      return a > -2.2f && a < 2.9f ? Edge(std::fabs(std::hypot(x - cx, y - cy) - 8) - 1.6f) : 0.0f;
    });
    c.Paint({255, 255, 255}, [=](float x, float y) {
      const float u = x - (cx - 5), v = y - (cy - 8);
      return std::min(Edge(v - 4 + std::fabs(u)), Edge(-v - 1.5f));
    });
  } else if (icon == 1) {  // accept: a tick
    stroke(cx - 9, cy, cx - 3, cy + 7, 2.0f);
    stroke(cx - 3, cy + 7, cx + 10, cy - 8, 2.0f);
  } else {  // cancel: a cross
    stroke(cx - 8, cy - 8, cx + 8, cy + 8, 2.0f);
    stroke(cx - 8, cy + 8, cx + 8, cy - 8, 2.0f);
  }
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      const size_t i = static_cast<size_t>(y - top) * c.w + (x - left);
      const float k = c.alpha[i];
      uint32_t& p = img.pixels[static_cast<size_t>(y) * 1280 + x];
      auto mix = [&](int shift) {
        const float v = ((p >> shift) & 0xFF) * (1 - k) + 255 * k;
        return static_cast<uint32_t>(v + 0.5f) << shift;
      };
      p = (p & 0xFF000000u) | mix(16) | mix(8) | mix(0);
    }
  return img;
}

bool WriteNamePictures(const std::string& dir) {
  return Write(dir, "NAME_BASE.PGD", NamePicture(384, 250, 584, 390, 0xC0182030u), 1) &&
         Write(dir, "NAME_BT00.PGD", NamePicture(404, 340, 454, 370, 0xFF808890u, 0), 1) &&
         Write(dir, "NAME_BT01.PGD", NamePicture(459, 340, 509, 370, 0xFF40A050u, 1), 1) &&
         Write(dir, "NAME_BT02.PGD", NamePicture(514, 340, 564, 370, 0xFFB04040u, 2), 1);
}

// ---- Choices (choice.kas) ----
// One 480 x 60 cell per row: row 0 is a choice at rest, a dark translucent
// bar with a pale rim; row 1 is the selected one, lighter with a gold rim.
// The script tints both with its colours; the text is centred by the engine.
Image ChoicePicture() {
  constexpr float kW = 480, kH = 60;
  Canvas c(static_cast<int>(kW), static_cast<int>(kH) * 2);
  auto bar = [&](float top, Rgb body, Rgb rim) {
    c.Paint(body, RoundRect(2, top + 4, kW - 2, top + kH - 4, 14));
    c.Paint(rim, Ring(RoundRect(2, top + 4, kW - 2, top + kH - 4, 14), RoundRect(5, top + 7, kW - 5, top + kH - 7, 11)));
  };
  bar(0, {24, 32, 64}, {150, 170, 215});
  bar(kH, {70, 84, 140}, {250, 215, 110});
  Image img = c.ToImage();
  // The bodies let the stage show through; the rims stay solid.
  for (uint32_t& p : img.pixels) {
    const uint32_t a = p >> 24;
    if (a == 0xFF && ((p >> 16) & 0xFF) < 100) p = (p & 0xFFFFFFu) | 0xD8000000u;
  }
  return img;
}

bool WriteChoicePicture(const std::string& dir) { return Write(dir, "CHOICE.PGD", ChoicePicture(), 1, 480, 60); }

// ---- The title screen, the save screen and the menu's save and load ----
// Button sheets carry their words, drawn here with the system's Gothic face
// (the platform font layer): three rows each (idle, hovered, pressed), and
// the title's "continue" a second set of three greyed rows for when there
// is no resume file. Slot frames are open in the middle, so that the texts
// the save-menu commands put in layers behind them show through.
namespace {

// UTF-8 to code points (the words below are all well formed).
std::vector<uint32_t> CodePoints(const char* utf8) {
  std::vector<uint32_t> out;
  for (const auto* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
    const int n = *p < 0x80 ? 1 : *p < 0xE0 ? 2 : *p < 0xF0 ? 3 : 4;
    uint32_t cp = n == 1 ? *p : *p & (0x7F >> n);
    for (int i = 1; i < n && p[i]; ++i) cp = cp << 6 | (p[i] & 0x3F);
    out.push_back(cp);
    p += n;
  }
  return out;
}

// Paints a word centred on (cx, cy) at the given pixel height.
void Label(Canvas& c, const char* utf8, float cx, float cy, int size, Rgb ink, bool bold = true) {
  plat::FontHandle* font = plat::FontOpen(plat::FontFace::kPGothic, size, bold);
  if (!font) return;
  const plat::FontMetrics& m = plat::FontGetMetrics(font);
  const std::vector<uint32_t> cps = CodePoints(utf8);
  int width = 0;
  for (uint32_t cp : cps) width += plat::FontGetGlyph(font, cp).advanceX;
  int penX = static_cast<int>(cx - width / 2.0f);
  const int baseline = static_cast<int>(cy - m.height / 2.0f) + m.ascent;
  for (uint32_t cp : cps) {
    const plat::FontGlyph& g = plat::FontGetGlyph(font, cp);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        const int px = penX + g.originX + x, py = baseline - g.originY + y;
        if (px < 0 || py < 0 || px >= c.w || py >= c.h) continue;
        const float k = g.coverage[static_cast<size_t>(y) * g.pitch + x] / 64.0f;
        if (k <= 0) continue;
        const size_t i = static_cast<size_t>(py) * c.w + px;
        c.rgb[i] = Mix(c.rgb[i], ink, k);
        c.alpha[i] = c.alpha[i] + (1 - c.alpha[i]) * k;
      }
    penX += g.advanceX;
  }
}

// A labelled button sheet of w x h cells: for each state, rows idle,
// hovered (lighter, gold rim) and pressed (darker, the word sunk by two
// pixels); state 1, when asked for, is the greyed look.
Image WordButton(int w, int h, const char* word, Rgb base, int size, int states = 1) {
  Canvas c(w, h * 3 * states);
  for (int st = 0; st < states; ++st)
    for (int row = 0; row < 3; ++row) {
      const float top = static_cast<float>(h) * (st * 3 + row);
      const Rgb b = st ? Rgb{70, 72, 80} : base;
      const float light = st ? 0.0f : row == 0 ? 0.0f : row == 1 ? 0.35f : -0.45f;
      const Rgb face = light >= 0 ? Mix(b, {255, 255, 255}, light) : Mix(b, {0, 0, 0}, -light);
      const Rgb rim = st ? Rgb{110, 112, 120} : row == 1 ? Rgb{250, 210, 90} : Mix(face, {255, 255, 255}, 0.5f);
      const float r = std::min(12.0f, h / 4.0f);
      c.Paint(face, RoundRect(2, top + 2, w - 2, top + h - 2, r));
      c.Paint(rim, Ring(RoundRect(2, top + 2, w - 2, top + h - 2, r), RoundRect(5, top + 5, w - 5, top + h - 5, r - 3)));
      const float sink = !st && row == 2 ? 2.0f : 0.0f;
      Label(c, word, w / 2.0f, top + h / 2.0f + sink, size, st ? Rgb{140, 142, 150} : Rgb{250, 250, 240});
    }
  return c.ToImage();
}

// The title's logo: the demo's name with a soft shadow, and a line under it.
Image TitleLogo() {
  Canvas c(760, 170);
  Label(c, "青空の約束", 383, 68, 92, {20, 40, 90});
  Label(c, "青空の約束", 380, 64, 92, {255, 255, 255});
  c.Paint({255, 255, 255}, RoundRect(130, 120, 630, 124, 2));
  Label(c, "KIV デモゲーム", 380, 146, 26, {30, 50, 100}, false);
  return c.ToImage();
}

// The save screen's backdrop: the scene dimmed, a header bar, eight slot
// panels (two columns of four, 600 x 124 at x 30 and 650, y 90 + 136 n)
// each with a dark well for its 160 x 90 thumbnail, and a footer bar.
Image SaveBackdrop() {
  Canvas c(1280, 720);
  c.Paint({8, 12, 28}, [](float, float) { return 1.0f; });
  Image img = c.ToImage();
  for (uint32_t& p : img.pixels) p = 0xD0000000u | (p & 0xFFFFFFu);
  Canvas top(1280, 720);
  top.Paint({30, 44, 84}, RoundRect(20, 16, 1260, 74, 12));
  for (int col = 0; col < 2; ++col)
    for (int row = 0; row < 4; ++row) {
      const float x0 = 30.0f + 620 * col, y0 = 90.0f + 136 * row;
      top.Paint({26, 34, 62}, RoundRect(x0, y0, x0 + 600, y0 + 124, 12));
      top.Paint({12, 16, 30}, RoundRect(x0 + 8, y0 + 13, x0 + 176, y0 + 111, 4));
    }
  top.Paint({30, 44, 84}, RoundRect(20, 636, 1260, 700, 12));
  const Image over = top.ToImage();
  for (size_t i = 0; i < img.pixels.size(); ++i) {
    const float k = (over.pixels[i] >> 24) / 255.0f;
    if (k <= 0) continue;
    uint32_t out = 0xFF000000u;
    for (int shift : {16, 8, 0}) {
      const float v = ((img.pixels[i] >> shift) & 0xFF) * (1 - k) + ((over.pixels[i] >> shift) & 0xFF) * k;
      out |= static_cast<uint32_t>(v + 0.5f) << shift;
    }
    const float a = (img.pixels[i] >> 24) / 255.0f;
    out = (static_cast<uint32_t>((a + (1 - a) * k) * 255.0f + 0.5f) << 24) | (out & 0xFFFFFFu);
    img.pixels[i] = out;
  }
  return img;
}

// A slot's frame: open in the middle; hovered, a gold rim and a faint glow;
// pressed, a brighter rim.
Image SlotFrame() {
  Canvas c(600, 124 * 3);
  for (int row = 0; row < 3; ++row) {
    const float top = 124.0f * row;
    const Rgb rim = row == 0 ? Rgb{80, 96, 150} : row == 1 ? Rgb{250, 210, 90} : Rgb{255, 245, 200};
    const float width = row == 0 ? 2.0f : 4.0f;
    if (row) c.Paint({255, 240, 200}, [=](float x, float y) { return 0.10f * RoundRect(0, top, 600, top + 124, 12)(x, y); });
    c.Paint(rim, Ring(RoundRect(0, top, 600, top + 124, 12), RoundRect(width, top + width, 600 - width, top + 124 - width, 12 - width)));
  }
  return c.ToImage();
}

// The newest slot's tag.
Image NewTag() {
  Canvas c(64, 26);
  c.Paint({230, 170, 40}, RoundRect(0, 0, 64, 26, 8));
  Label(c, "NEW", 32, 13, 18, {40, 24, 0});
  return c.ToImage();
}

// The question panel behind a yes/no question.
Image AskPanel() {
  Canvas c(520, 200);
  c.Paint({20, 26, 48}, RoundRect(0, 0, 520, 200, 18));
  c.Paint({250, 210, 90}, Ring(RoundRect(0, 0, 520, 200, 18), RoundRect(3, 3, 517, 197, 15)));
  return c.ToImage();
}

}  // namespace

bool WriteTitleAndSaveImages(const std::string& dir) {
  const Rgb blue{40, 80, 150}, green{50, 130, 90}, red{150, 60, 70}, slate{70, 80, 110};
  return Write(dir, "TITLE_LOGO.PGD", TitleLogo(), 1) &&
         Write(dir, "TITLE_NEW.PGD", WordButton(360, 60, "はじめから", blue, 28), 1, 360, 60) &&
         Write(dir, "TITLE_CONTINUE.PGD", WordButton(360, 60, "つづきから", blue, 28, 2), 1, 360, 60) &&
         Write(dir, "TITLE_LOAD.PGD", WordButton(360, 60, "ロード", blue, 28), 1, 360, 60) &&
         Write(dir, "TITLE_QUIT.PGD", WordButton(360, 60, "終了", slate, 28), 1, 360, 60) &&
         Write(dir, "MENU_SAVE.PGD", WordButton(200, 48, "セーブ", {60, 110, 170}, 24), 1, 200, 48) &&
         Write(dir, "MENU_LOAD.PGD", WordButton(200, 48, "ロード", {60, 110, 170}, 24), 1, 200, 48) &&
         Write(dir, "SAVE_BACK.PGD", SaveBackdrop(), 1) && Write(dir, "SAVE_SLOT.PGD", SlotFrame(), 1, 600, 124) &&
         Write(dir, "SAVE_NEW.PGD", NewTag(), 1) &&
         Write(dir, "SAVE_DELETE.PGD", WordButton(72, 30, "削除", red, 16), 1, 72, 30) &&
         Write(dir, "SAVE_PREV10.PGD", WordButton(110, 48, "«10", slate, 22), 1, 110, 48) &&
         Write(dir, "SAVE_PREV.PGD", WordButton(110, 48, "＜ 前", slate, 22), 1, 110, 48) &&
         Write(dir, "SAVE_NEXT.PGD", WordButton(110, 48, "次 ＞", slate, 22), 1, 110, 48) &&
         Write(dir, "SAVE_NEXT10.PGD", WordButton(110, 48, "10»", slate, 22), 1, 110, 48) &&
         Write(dir, "SAVE_RETURN.PGD", WordButton(150, 48, "戻る", slate, 22), 1, 150, 48) &&
         Write(dir, "ASK_PANEL.PGD", AskPanel(), 1) &&
         Write(dir, "ASK_YES.PGD", WordButton(160, 52, "はい", green, 24), 1, 160, 52) &&
         Write(dir, "ASK_NO.PGD", WordButton(160, 52, "いいえ", red, 24), 1, 160, 52);
}

// ---- The window icon (icon.png beside the program) ----

// A 64 x 64 picture: a rounded night-blue tile with a crescent moon over a
// hill, readable at the small sizes a title bar shows.
Image WindowIcon() {
  Canvas c(64, 64);
  const float r = 12.0f;
  auto tile = [&](float x, float y) {
    const float qx = std::max(std::fabs(x - 32.0f) - (32.0f - r - 1.0f), 0.0f);
    const float qy = std::max(std::fabs(y - 32.0f) - (32.0f - r - 1.0f), 0.0f);
    return Edge(std::hypot(qx, qy) - r);
  };
  c.Paint({24, 34, 78}, tile);
  c.Paint({250, 226, 140}, [&](float x, float y) {
    return std::min(Disc(30, 26, 15)(x, y), 1.0f - std::clamp(Disc(38, 21, 13)(x, y), 0.0f, 1.0f));
  });
  c.Paint({60, 130, 110}, [&](float x, float y) { return std::min(Hill(50, 4, 9, 0.5f)(x, y), tile(x, y)); });
  return c.ToImage();
}

bool WriteWindowIcon(const std::string& path) {
  std::string error;
  if (kivtools::WritePngFile(path, WindowIcon(), &error)) return true;
  std::fprintf(stderr, "make_demo_images: %s: %s\n", path.c_str(), error.c_str());
  return false;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--icon") return WriteWindowIcon(argv[2]) ? 0 : 1;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_images OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const Look aoi{{40, 70, 120}, {250, 222, 200}, {70, 150, 160}, {240, 240, 230}, false, true};
  Look aoiSmile = aoi;
  aoiSmile.smile = true;
  const Look ben{{120, 70, 40}, {240, 205, 175}, {190, 90, 60}, {250, 220, 120}, false, false};
  bool ok = Write(dir, "BG_DAY.PGD", Background(false), 1) && Write(dir, "BG_NIGHT.PGD", Background(true), 1) &&
            Write(dir, "CH_AOI.PGD", Character(aoi), 1) && Write(dir, "CH_AOI_SMILE.PGD", Character(aoiSmile), 1) &&
            Write(dir, "CH_BEN.PGD", Character(ben), 1) && Write(dir, "FX_SNOW.PGD", SnowSheet(), 1, 16, 16) &&
            Write(dir, "FX_SAKURA.PGD", SakuraSheet(), 1, 24, 24) && Write(dir, "BADGE_STAR.PGD", Badge(0xE0B030), 1) &&
            Write(dir, "BADGE_LEAF.PGD", Badge(0x40A060), 1) && Write(dir, "WAIT_ICON.PGD", WaitIcon(), 1, 16, 16);
  ok = ok && Write(dir, "SKIP_ICON.PGD", ModeIcon(true), 1, 16, 16) && Write(dir, "AUTO_ICON.PGD", ModeIcon(false), 1, 16, 16);
  ok = ok && WriteMenuImages(dir);
  ok = ok && WriteWipeMask(dir);
  ok = ok && WriteNamePictures(dir);
  ok = ok && WriteChoicePicture(dir);
  ok = ok && WriteTitleAndSaveImages(dir);
  return ok ? 0 : 1;
}
