// config.dat: eight little-endian 32-bit words that the game program applies
// to the engine at start and the configuration tool edits: window x, y,
// client width, client height, mode flags, adapter, full-screen resolution
// handling (aspect) and sync (pacing).
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kConfigWords = 8;
constexpr size_t kConfigBytes = 32;

enum ConfigWord {
  kConfigX = 0,
  kConfigY = 1,
  kConfigWidth = 2,
  kConfigHeight = 3,
  kConfigMode = 4,
  kConfigAdapter = 5,
  kConfigAspect = 6,
  kConfigSync = 7,
};

// Mode flags (word 4).
constexpr uint32_t kCfgModeInactiveRun = 0x1;
constexpr uint32_t kCfgModeLegacySmooth = 0x2;
constexpr uint32_t kCfgModeScreenSaver = 0x4;
constexpr uint32_t kCfgModeGpu = 0x8;
constexpr uint32_t kCfgModeShader = 0x10;
constexpr uint32_t kCfgFullNone = 0x100, kCfgFullNearest = 0x200, kCfgFullBilinear = 0x400,
                   kCfgFullBicubic = 0x800, kCfgFullMask = 0xF00;
constexpr uint32_t kCfgTexNone = 0x1000, kCfgTexNearest = 0x2000, kCfgTexBilinear = 0x4000,
                   kCfgTexMask = 0x7000;

// Reads the whole words present in `bytes` (a short file holds fewer) into
// words[0..]; returns how many were read. The rest of `words` is untouched.
int config_words_read(const uint8_t* bytes, size_t size, int32_t words[kConfigWords]);
// The 32 bytes of a record.
void config_words_bytes(const int32_t words[kConfigWords], uint8_t out[kConfigBytes]);
