#include "platform/core/version_info.h"

#include <elf.h>

#include <cstring>
#include <fstream>

#include "platform/core/text_encoding.h"

namespace plat {

namespace {

// Finds the ".kiv_version" section of a 64-bit little-endian ELF file.
bool FindSection(const std::string& file, uint64_t* offset, uint64_t* size) {
  std::ifstream f(file, std::ios::binary);
  if (!f) return false;
  Elf64_Ehdr eh;
  if (!f.read(reinterpret_cast<char*>(&eh), sizeof eh)) return false;
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return false;
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shstrndx >= eh.e_shnum || eh.e_shnum > 4096) return false;
  std::vector<Elf64_Shdr> sh(eh.e_shnum);
  f.seekg(static_cast<std::streamoff>(eh.e_shoff));
  if (!f.read(reinterpret_cast<char*>(sh.data()), static_cast<std::streamsize>(sh.size() * sizeof(Elf64_Shdr))))
    return false;
  const Elf64_Shdr& strtab = sh[eh.e_shstrndx];
  if (strtab.sh_size > (1u << 20)) return false;
  std::vector<char> names(strtab.sh_size + 1, 0);
  f.seekg(static_cast<std::streamoff>(strtab.sh_offset));
  if (!f.read(names.data(), static_cast<std::streamsize>(strtab.sh_size))) return false;
  for (const Elf64_Shdr& s : sh) {
    if (s.sh_name >= strtab.sh_size) continue;
    if (std::strcmp(&names[s.sh_name], ".kiv_version") == 0 && s.sh_type != SHT_NOBITS) {
      *offset = s.sh_offset;
      *size = s.sh_size;
      return true;
    }
  }
  return false;
}

}  // namespace

uint32_t VersionInfoSize(const std::string& file) {
  uint64_t offset, size;
  if (!FindSection(file, &offset, &size) || size == 0 || size > (1u << 20)) return 0;
  return static_cast<uint32_t>(size);
}

bool VersionInfoGet(const std::string& file, uint32_t size, std::vector<char>* out) {
  uint64_t offset, have;
  if (!FindSection(file, &offset, &have) || have > size) return false;
  std::ifstream f(file, std::ios::binary);
  out->assign(have, 0);
  f.seekg(static_cast<std::streamoff>(offset));
  if (!f.read(out->data(), static_cast<std::streamsize>(have))) return false;
  // A block always starts with its marker line.
  static const char kMarker[] = "KIVVERSION\n";
  return have >= sizeof kMarker - 1 && std::memcmp(out->data(), kMarker, sizeof kMarker - 1) == 0;
}

bool VersionQueryValue(const std::vector<char>& block, const std::string& key, std::vector<char>* value) {
  std::string text(block.begin(), block.end());
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos || line.compare(0, eq, key) != 0 || eq != key.size()) continue;
    std::string v = line.substr(eq + 1);
    if (key == "\\VarFileInfo\\Translation") {
      if (v.size() != 8) return false;
      char* stop = nullptr;
      unsigned long x = std::strtoul(v.c_str(), &stop, 16);
      if (*stop) return false;
      uint16_t lang = static_cast<uint16_t>(x >> 16), cp = static_cast<uint16_t>(x & 0xFFFF);
      value->assign(4, 0);
      std::memcpy(value->data(), &lang, 2);
      std::memcpy(value->data() + 2, &cp, 2);
      return true;
    }
    std::string sj = Utf8ToCp932(v);
    value->assign(sj.begin(), sj.end());
    value->push_back('\0');
    return true;
  }
  return false;
}

}  // namespace plat
