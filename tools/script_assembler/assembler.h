// The script assembler: a readable source (README.md) -> Script.src and its
// tables (Text.dat, File.dat, Point.dat, Mem.dat, graphic.dat, archive.dat),
// byte for byte as the game program loads them.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kasm {

struct Output {
  std::vector<uint8_t> script;   // Script.src
  std::vector<uint8_t> text;     // Text.dat
  std::vector<uint8_t> file;     // File.dat
  std::vector<uint8_t> point;    // Point.dat
  std::vector<uint8_t> mem;      // Mem.dat
  std::vector<uint8_t> graphic;  // graphic.dat
  std::string archive;           // archive.dat; written only when hasArchive
  bool hasArchive = false;

  // Where things landed, for tests and listings.
  std::map<std::string, uint32_t> labelPc;      // pc of each label, from byte 0 of Script.src
  std::map<std::string, uint32_t> labelNumber;  // its Point.dat number
  std::map<std::string, uint32_t> tableFirst;   // Mem.dat element of each table's first value
  std::map<std::string, uint32_t> tableDescriptor;  // Mem.dat element of each table's descriptor
  std::map<std::string, uint32_t> textOffset;   // Text.dat offset of each text (by its UTF-8 source)
  std::map<std::string, uint32_t> fileRecord;   // File.dat record of each name (upper-cased, UTF-8)
};

struct Options {
  // Reads an included file; the default reads from disk.
  std::function<bool(const std::string& path, std::string* content)> readFile;
};

// Assembles source text; name is used in messages and as the base of
// relative .include paths. On failure, error holds one "name:line: message"
// per problem found.
bool Assemble(std::string_view source, const std::string& name, Output* out, std::string* error,
              const Options& options = {});
bool AssembleFile(const std::string& path, Output* out, std::string* error, const Options& options = {});

// Writes every file of out into the folder dir (created when missing).
bool WriteOutput(const Output& out, const std::string& dir, std::string* error);

// A table file: 16-byte header (byte 0 '$' when scrambled, u32 count at 12)
// and the body, scrambled as the game's loader unscrambles it.
std::vector<uint8_t> TableFile(uint32_t count, std::span<const uint8_t> body, bool scramble);
// The scrambler itself, over a table body (1 to 3 trailing bytes stay).
void ScrambleBody(std::span<uint8_t> body);

}  // namespace kasm
