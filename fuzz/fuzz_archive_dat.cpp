// archive.dat from any text: every set is split into its names, or refused;
// a name never holds a separator, a blank or a line break.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/archive_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (int set = -1; set < 8; ++set) {
    std::vector<std::string> names;
    if (!archive_set_names(text, set, &names)) continue;
    if (set < 0) __builtin_trap();
    for (const std::string& n : names)
      if (n.find_first_of(",|\r\n \t") != std::string::npos) __builtin_trap();
  }
  return 0;
}
