// Writes .pac archives the engine reads: members named in Shift-JIS, stored
// under the engine's upper-cased names, sorted into buckets by first byte.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kivtools {

struct PacInput {
  std::string name;  // Shift-JIS file name, no folder part
  std::vector<uint8_t> data;
};

// The name as the engine looks it up: every a-z byte made upper case.
std::string PacName(const std::string& name);

// Builds the archive bytes; false (with a reason) for a name the engine
// could never find: empty, 32 bytes or longer, starting with a byte of 0x80
// or more, or given twice.
bool BuildPac(const std::vector<PacInput>& members, std::vector<uint8_t>* out, std::string* error);
bool WritePac(const std::string& path, const std::vector<PacInput>& members, std::string* error);

}  // namespace kivtools
