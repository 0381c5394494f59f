// A library with a version export, for the library version query's test.
#include <cstdint>

#include "platform/core/module.h"

extern "C" __attribute__((visibility("default"))) int32_t DllGetVersion(plat::DllVersionInfo* info) {
  if (!info || info->size != sizeof *info) return -1;
  info->major = 6;
  info->minor = 2;
  return 0;
}
