// Pictures made in code for tests and benchmarks.
#include <algorithm>
#include <cmath>

#include "image_encoder.h"

namespace kivtools {

Image MakeTestPicture(int width, int height, uint32_t seed) {
  Image img;
  img.width = width;
  img.height = height;
  img.pixels.resize(static_cast<size_t>(width) * height);
  uint32_t s = seed * 2654435761u + 0x9E3779B9u;
  auto noise = [&s]() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  const double cx = width * 0.62, cy = height * 0.55;
  const double radius = std::min(width, height) * 0.33;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Sky-like gradient.
      int r = 40 + 150 * x / std::max(1, width - 1);
      int g = 60 + 120 * y / std::max(1, height - 1);
      int b = 200 - 90 * y / std::max(1, height - 1);
      int a = 255;
      // A textured band (grass, cloth): small noise on a base colour.
      if (y > height * 3 / 4) {
        const int n = static_cast<int>(noise() % 17) - 8;
        r = 70 + n;
        g = 120 + n + (x % 7);
        b = 50 + n / 2;
      }
      // Flat panels, as in a message window or menu.
      if (x > width / 16 && x < width * 5 / 16 && y > height / 10 && y < height * 4 / 10) {
        r = 24, g = 24, b = 48;
      }
      // A shaded round shape with a soft edge, cut out of a transparent
      // rectangle around it (a sprite).
      if (x > cx - radius * 1.2 && x < cx + radius * 1.2 && y > cy - radius * 1.2 && y < cy + radius * 1.2) {
        const double d = std::hypot(x - cx, y - cy);
        if (d > radius + 2) {
          r = g = b = a = 0;
        } else {
          const double shade = 1.0 - 0.5 * (d / radius);
          r = static_cast<int>(230 * shade);
          g = static_cast<int>(180 * shade);
          b = static_cast<int>(150 * shade);
          a = d > radius - 2 ? static_cast<int>(255 * (radius + 2 - d) / 4) : 255;
        }
      }
      auto clamp = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
      img.pixels[static_cast<size_t>(y) * width + x] =
          clamp(a) << 24 | clamp(r) << 16 | clamp(g) << 8 | clamp(b);
    }
  }
  return img;
}

}  // namespace kivtools
