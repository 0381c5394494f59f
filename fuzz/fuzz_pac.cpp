// Archive lookups over arbitrary bytes: a lying directory must never read
// outside the archive or hand back a member that does not fit in it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "files/pac_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [data, size](uint64_t off, void* buf, size_t n) {
    if (off > size || n > size - off) return false;
    std::memcpy(buf, data + off, n);
    return true;
  };
  // Names that seed archives hold, and one taken from the input's own
  // directory so the search reaches real entries of mutated archives.
  char from_input[33] = {};
  if (size >= kPacDirectoryOffset + 32) std::memcpy(from_input, data + kPacDirectoryOffset, 32);
  const char* names[] = {"A.BIN", "BG01.GE", "SCRIPT.SRC", "Z", from_input, ""};
  for (const char* name : names) {
    PacMember m{};
    if (KivPacFind(read, size, name, &m) && uint64_t(m.offset) + m.size > size) std::abort();
  }
  return 0;
}
