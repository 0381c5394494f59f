// Text.dat written scrambled: the input is the plain file, which is
// scrambled the way our assembler writes it, so the fuzzer varies what the
// unscrambler must give back rather than noise.
#include "fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  if (file.size() >= kTableHeaderBytes) {
    file[0] = kScrambledMark;
    kasm::ScrambleBody(std::span<uint8_t>(file).subspan(kTableHeaderBytes));
  }
  return fuzzgame::LoadTable(DataTable::kText, file, std::span<const uint8_t>(data, size));
}
