#pragma once

namespace plat {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

struct Point {
  int x = 0, y = 0;
};

}  // namespace plat
