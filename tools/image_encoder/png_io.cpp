// PNG through libpng's simplified interface, straight to and from the
// engine's pixel layout (B, G, R, A bytes), and whole-file helpers.
#include <png.h>

#include <cstdio>
#include <memory>

#include "image_encoder.h"

namespace kivtools {

bool DecodePng(std::span<const uint8_t> data, Image* out) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return false;
  img.format = PNG_FORMAT_BGRA;
  Image result;
  result.width = static_cast<int>(img.width);
  result.height = static_cast<int>(img.height);
  result.pixels.resize(static_cast<size_t>(img.width) * img.height);
  if (!png_image_finish_read(&img, nullptr, result.pixels.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  *out = std::move(result);
  return true;
}

bool EncodePng(const Image& image, std::vector<uint8_t>* out) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(image.width);
  img.height = static_cast<png_uint_32>(image.height);
  img.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(img, size, 0, image.pixels.data(), 0, nullptr)) return false;
  out->resize(size);
  if (!png_image_write_to_memory(&img, out->data(), &size, 0, image.pixels.data(), 0, nullptr)) return false;
  out->resize(size);
  return true;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return false;
  out->clear();
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) out->insert(out->end(), chunk, chunk + n);
  return !std::ferror(f.get());
}

bool WriteFileBytes(const std::string& path, std::span<const uint8_t> data) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!f) return false;
  if (std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) return false;
  return std::fclose(f.release()) == 0;
}

bool ReadPngFile(const std::string& path, Image* out, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes)) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  if (!DecodePng(bytes, out)) {
    if (error) *error = path + " is not a PNG picture libpng can read";
    return false;
  }
  return true;
}

bool WritePngFile(const std::string& path, const Image& image, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!EncodePng(image, &bytes) || !WriteFileBytes(path, bytes)) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace kivtools
