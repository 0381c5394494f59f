// The byte formats of Script.src and the table files, shared by the game's
// loaders and the script assembler that writes them.
//
// Script.src: u32 magic "Sv20", u32 build stamp, u32 entry pc (a byte offset
// from the start of the file), then code words to the end of the file; never
// scrambled. Jump targets count from the code base at byte 12.
// Table files (Point.dat, Mem.dat, File.dat, Text.dat, graphic.dat): a 16-byte
// header whose first byte is '$' when the body (bytes 16 on) is scrambled,
// and whose bytes 12-15 hold a count in File.dat and Text.dat.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kScriptMagic = 0x30327653;  // "Sv20"
constexpr uint32_t kScriptHeaderBytes = 12;
constexpr uint32_t kTableHeaderBytes = 16;
constexpr uint8_t kScrambledMark = '$';
constexpr uint32_t kScrambleKey1 = 0x2C71B5E9;
constexpr uint32_t kScrambleKey2 = 0x6D0A93F4;
constexpr uint32_t kFileRecordBytes = 32;
constexpr uint32_t kMaxFileRecords = 65536;
constexpr uint32_t kMaxTextWords = 200000;
constexpr uint32_t kGraphicBucketCount = 255;
constexpr uint32_t kGraphicBucketTableOffset = 16;
constexpr uint32_t kGraphicRecordsOffset = 2056;
constexpr uint32_t kGraphicNameBytes = 32;
constexpr uint32_t kGraphicRecordSize = 132;

// Unscrambles a table body in place: for each whole 32-bit word, rotate its
// first byte left by c mod 8 (c counts from 4, wrapping at 256), then XOR the
// word with both keys. 1 to 3 bytes beyond the last whole word stay.
void data_unscramble(uint8_t* body, size_t length);
// The inverse, for the tools that write tables.
void data_scramble(uint8_t* body, size_t length);
