// Frame capture to PNG through libpng's simplified interface.
#include "platform/window/png_capture.h"

#include <png.h>
#include <sys/stat.h>

#include <cstdio>

namespace plat {

bool CapturePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitch_px) {
  if (!pixels || width <= 0 || height <= 0 || pitch_px < width) return false;
  // Colour only: the window shows no alpha, so a capture keeps none.
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint32_t* s = pixels + static_cast<size_t>(y) * pitch_px;
    uint8_t* d = rgb.data() + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x, d += 3) {
      d[0] = static_cast<uint8_t>(s[x] >> 16);
      d[1] = static_cast<uint8_t>(s[x] >> 8);
      d[2] = static_cast<uint8_t>(s[x]);
    }
  }
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(width);
  img.height = static_cast<png_uint_32>(height);
  img.format = PNG_FORMAT_RGB;
  std::string temp = path + ".part";
  if (!png_image_write_to_file(&img, temp.c_str(), 0, rgb.data(), 0, nullptr)) {
    png_image_free(&img);
    std::remove(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> out(static_cast<size_t>(img.width) * img.height);
  if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  *width = static_cast<int>(img.width);
  *height = static_cast<int>(img.height);
  *pixels = std::move(out);
  return true;
}

std::string NextCaptureName(const std::string& folder, const char* pattern) {
  for (int i = 0; i < 1000; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, i);
    std::string path = folder + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return path;
  }
  return std::string();
}

}  // namespace plat
