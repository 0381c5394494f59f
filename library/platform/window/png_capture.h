// Frame capture: a 32-bit frame (B G R A in memory, rows top first) written
// to a PNG file as the player sees it (colour only, every pixel opaque), and
// read back for comparisons.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Writes width x height pixels, rows pitch_px apart, to path (a native
// path). False, with nothing left at path, when it cannot be written.
bool CapturePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitch_px);

// Reads a PNG file into 32-bit pixels (alpha 0xFF where the file has none).
bool ReadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height);

// The first name "<folder>/<pattern>" with a number from 0 on (pattern holds
// one %03d-style conversion) that does not exist yet; empty when all 1000 do.
std::string NextCaptureName(const std::string& folder, const char* pattern);

}  // namespace plat
