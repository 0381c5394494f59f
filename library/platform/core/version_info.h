// The program's version block: CompanyName, ProductName, OriginalFilename
// and a translation entry, embedded in the program at build time (see
// cmake/KivVersionBlock.cmake) and read back from the program's own file.
//
// The block is text in its own ELF section ".kiv_version": lines of
// "key=value", keys in the usual form
//   \VarFileInfo\Translation=LLLLCCCC        (language, code page; hex)
//   \StringFileInfo\LLLLCCCC\ProductName=...  (UTF-8; read back as Shift-JIS)
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Size of the version block in `file` (a native path); 0 when it has none.
uint32_t VersionInfoSize(const std::string& file);
// Reads the block into `out` (at least `size` bytes); false when it cannot.
bool VersionInfoGet(const std::string& file, uint32_t size, std::vector<char>* out);
// Looks a key up in a block read by VersionInfoGet. For the translation key
// *value is 4 bytes (u16 language, u16 code page); for strings, Shift-JIS
// text ending in a zero byte. False when the key is not there or malformed.
bool VersionQueryValue(const std::vector<char>& block, const std::string& key, std::vector<char>* value);

}  // namespace plat
