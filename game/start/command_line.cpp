#include "start/command_line.h"

#include <cstring>

void command_line_parse(const char* command_line, KivSystemParameters* params) {
  if (!command_line) return;
  for (const char* p = std::strchr(command_line, '/'); p; p = std::strchr(p, '/')) {
    ++p;  // the text behind the '/'; strncmp stops at the string's end
    if (std::strncmp(p, "DIB", 3) == 0) {
      params->mode &= ~KIV_MODE_GPU;
      p += 3;
    } else if (std::strncmp(p, "VS", 2) == 0) {
      params->pacing = 0;
      p += 2;
    } else if (std::strncmp(p, "NA", 2) == 0) {
      params->mode &= ~KIV_MODE_RUN_INACTIVE;
      p += 2;
    } else if (std::strncmp(p, "DX", 2) == 0) {
      params->mode |= KIV_MODE_GPU;
      p += 2;
    }
  }
}
