// archive.dat from any text, and any set number the script may name
// (set_system_path takes it from a script value): every set is split into
// its names, or refused; a name never holds a separator, a blank or a line
// break, and a negative set is always refused.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "data/archive_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first four bytes, when there are more, are a set number from the script.
  int32_t scripted = 0;
  if (size > 4) {
    std::memcpy(&scripted, data, 4);
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto check = [&](int set) {
    std::vector<std::string> names;
    if (!archive_set_names(text, set, &names)) return;
    if (set < 0) __builtin_trap();
    for (const std::string& n : names)
      if (n.find_first_of(",|\r\n \t") != std::string::npos) __builtin_trap();
  };
  for (int set = -1; set < 8; ++set) check(set);
  check(scripted);
  return 0;
}
