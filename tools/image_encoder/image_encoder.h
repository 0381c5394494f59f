// Writes the pictures the engine reads: GE images in every method, difference
// images (PGD2/PGD3) of a changed picture against its base, BMP and TGA; and
// reads and writes PNG through libpng. Pixels are 32-bit words, blue, green,
// red, alpha in memory, rows top first, as in the engine.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kivtools {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // width x height
};

// ---- LZ ----

// Which token forms the packer may use. kBest picks the shortest coding;
// the others exist so every form the unpacker accepts can be produced.
enum class LzForm {
  kBest,
  kLiteralsOnly,   // literal runs only
  kShortRefs,      // back references only in the 2-byte form (4..11 bytes)
  kLongRefs,       // back references only in the 3-byte form (4..2051 bytes)
  kEmptyLiterals,  // as kBest, with an empty literal token before every back reference
  kMixed,          // all forms in turn: literal runs of varied length, empty
                   // literals, short and long references
};

struct LzOptions {
  LzForm form = LzForm::kBest;
  int maxChain = 48;  // match candidates tried per position
};

std::vector<uint8_t> LzPack(std::span<const uint8_t> data, const LzOptions& options = {});

// ---- Line prediction ----

// Flags (one byte per row) then deltas for rows of `channels`-byte pixels
// (packed, w x h). Row 0 uses the left predictor; later rows the cheapest of
// left (1), up (2) and average (4), unless forcedFlag is non-zero, which is
// then written for every row (the decoder predicts row 0 from a zero row).
std::vector<uint8_t> LinePredict(std::span<const uint8_t> packed, int width, int height, int channels,
                                 int forcedFlag = 0);

// ---- GE ----

struct GeOptions {
  int method = 1;       // 1 planar, 2 YCbCr, 3 line prediction; anything else raw
  int bpp = 32;         // method 3: 24 or 32
  int x = 0, y = 0;     // default sprite position
  int cellWidth = 0;    // 0: the image width
  int cellHeight = 0;   // 0: the image height
  int headSize = 32;    // offset of the data block, at least 30
  int forcedFlag = 0;   // method 3, see LinePredict
  LzOptions lz;
};

// The unpacked data of a method (what LzPack packs). YCbCr keeps one colour
// per 2 x 2 block and picks each Y for the nearest decoded colour: a picture
// whose blocks are flat comes back within 3 per channel; alpha becomes 0xFF.
std::vector<uint8_t> GePlanes(const Image& image);
std::vector<uint8_t> GeYCbCrPlanes(const Image& image);
std::vector<uint8_t> GeLineBlock(const Image& image, int bpp, int forcedFlag = 0);

// Empty on bad input (empty image; method 3 larger than 65535).
std::vector<uint8_t> EncodeGe(const Image& image, const GeOptions& options = {});

// ---- Difference images ----

struct PgdOptions {
  int version = 3;         // 2 or 3: the magic "PGD2" or "PGD3"
  int bpp = 32;            // 24 keeps the base alpha; 32 changes whole words
  std::string baseName;    // the base image's file name, at most 33 bytes
  int forcedFlag = 0;
  LzOptions lz;
};

// The changed rectangle is the bounding box of the pixels that differ (1 x 1
// at the origin when none do). False, with a reason, when the pictures
// differ in size, are larger than 65535, the name is too long, or at 24
// bits an alpha value changed.
bool EncodePgd(const Image& base, const Image& changed, const PgdOptions& options,
               std::vector<uint8_t>* out, std::string* error);
// The same with the rectangle given.
bool EncodePgdRect(const Image& base, const Image& changed, int x, int y, int w, int h,
                   const PgdOptions& options, std::vector<uint8_t>* out, std::string* error);

// ---- BMP and TGA ----

// bpp 8 (a colour table of the picture's colours, at most 256), 24 or 32;
// top-down writes a negative height. Empty when the picture does not fit.
std::vector<uint8_t> EncodeBmp(const Image& image, int bpp, bool topDown = false);
// bpp 8 (grey: the blue byte), 24 or 32; rows bottom-up whatever the
// descriptor byte says.
std::vector<uint8_t> EncodeTga(const Image& image, int bpp, uint8_t descriptor = 0);

// ---- PNG (libpng) ----

bool EncodePng(const Image& image, std::vector<uint8_t>* out);
bool DecodePng(std::span<const uint8_t> data, Image* out);
bool ReadPngFile(const std::string& path, Image* out, std::string* error);
bool WritePngFile(const std::string& path, const Image& image, std::string* error);

// ---- Test pictures ----

// A picture like those a game shows, made in code: smooth gradients, a
// noisy textured band, flat panels, and a soft-edged shape on a transparent
// cut-out (alpha 0, 255 and the ramps between). The same seed gives the
// same picture.
Image MakeTestPicture(int width, int height, uint32_t seed);

// Whole-file helpers for the tool.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out);
bool WriteFileBytes(const std::string& path, std::span<const uint8_t> data);

}  // namespace kivtools
