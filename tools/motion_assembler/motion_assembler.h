// kani, the motion assembler: a readable motion program -> the bytes of a
// ".ani" file. See README.md for the source language.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kani {

// Assembles source into file bytes; false with every problem in *error
// ("name:line: message" lines).
bool Assemble(std::string_view source, std::string_view name, std::vector<uint8_t>* out, std::string* error);

}  // namespace kani
