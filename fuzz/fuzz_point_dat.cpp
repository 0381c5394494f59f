// Point.dat from any bytes (scrambled or not, as its header says).
#include "fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  return fuzzgame::LoadTable(DataTable::kPoint, bytes, bytes);
}
