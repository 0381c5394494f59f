// Data files: search folders, loose files and members of .pac archives,
// found by their Windows-style names. The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Data files: the search folders (newest first, then the base folder) and,
// in each folder, the loose file before the member of the folder's archive.
#include <cstring>
#include <string>

#include "files/pac_archive.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "core/system_state.h"

namespace {

constexpr int kSearchPathKey = -2;
constexpr size_t kMaxPath = 260;

// The last separator of a Shift-JIS name that is not a trail byte.
size_t LastSeparator(std::string_view s) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (plat::IsSjisLead(c) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || (c == ':' && i == 1)) last = i;
  }
  return last;
}

// Looks in one folder: the loose file, then the folder's archive.
plat::FileHandle OpenInFolder(const std::string& folder, const std::string& name, uint32_t access,
                              uint32_t creation, KivFileInfo* info) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder).append(1, '\\').append(name);
  plat::FileHandle f = plat::FileOpen(path, access, creation);
  if (f != plat::kInvalidFile) {
    int64_t size = plat::FileSize(f);
    if (info) *info = KivFileInfo{0, static_cast<uint32_t>(size), static_cast<uint32_t>(size)};
    return f;
  }
  std::string archive(folder);
  archive.append(".pac");
  plat::FileHandle pac = plat::FileOpen(archive, plat::kGenericRead, plat::kOpenExisting);
  if (pac == plat::kInvalidFile) return plat::kInvalidFile;
  int64_t size = plat::FileSize(pac);
  PacMember m{};
  auto reader = [pac](uint64_t off, void* buf, size_t n) { return plat::FileReadAt(pac, off, buf, n); };
  if (size < 0 || !KivPacFind(reader, static_cast<uint64_t>(size), name.c_str(), &m)) {
    plat::FileClose(pac);
    return plat::kInvalidFile;
  }
  if (info) *info = KivFileInfo{m.offset, m.offset + m.size, m.size};
  plat::FileSeek(pac, m.offset, plat::kFileBegin);
  return pac;
}

}  // namespace

std::string KivPathGetFileName(std::string_view path) {
  size_t sep = LastSeparator(path);
  std::string name(sep == std::string_view::npos ? path : path.substr(sep + 1));
  return name.size() >= kMaxPath ? std::string() : name;
}

std::string KivPathGetFolder(std::string_view path) {
  size_t sep = LastSeparator(path);
  std::string folder(sep == std::string_view::npos ? std::string_view() : path.substr(0, sep));
  return folder.size() >= kMaxPath ? std::string() : folder;
}

extern "C" KIV_API int KivPathIsOgg(const char* name) {
  if (!name) return 0;
  const char* dot = std::strrchr(name, '.');
  return dot && strcasecmp(dot, ".ogg") == 0;
}

extern "C" KIV_API int KivSystemPathSet(const char* folder) {
  KivSystemState* s = g_kiv;
  if (!s || !folder) return 0;
  if (!s->searchPaths) return 1;  // nothing kept: lookups use the base folder alone
  std::string path = plat::IsAbsolutePath(folder) ? std::string(folder) : std::string(s->baseFolder) + "\\" + folder;
  auto* copy = static_cast<char*>(KivMemoryAlloc(static_cast<int>(path.size() + 1), 0));
  if (!copy) return 0;
  std::memcpy(copy, path.c_str(), path.size() + 1);
  if (!KivListPush(s->searchPaths, reinterpret_cast<intptr_t>(copy), kSearchPathKey)) {
    KivMemoryFree(copy);
    return 0;
  }
  return 1;
}

extern "C" KIV_API int KivSystemPathClear(void) {
  KivSystemState* s = g_kiv;
  if (!s || !s->searchPaths) return 0;
  while (KivListGetDataCount(s->searchPaths, kSearchPathKey) > 0)
    KivMemoryFree(reinterpret_cast<void*>(KivListPop(s->searchPaths, kSearchPathKey)));
  return 1;
}

extern "C" KIV_API intptr_t KivFileCreateEx(const char* name, uint32_t access, uint32_t share, uint32_t creation,
                                            uint32_t flags, KivFileInfo* info) {
  if (info) *info = KivFileInfo{0, 0, 0};
  KivSystemState* s = g_kiv;
  if (!s || !name) return plat::kInvalidFile;
  std::string file = KivPathGetFileName(name);
  if (file.empty()) return plat::kInvalidFile;
  // Every a-z byte is made upper case, trail bytes too: archives store names so.
  for (char& c : file)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (plat::IsAbsolutePath(name)) {
    std::string folder = KivPathGetFolder(name);
    if (folder.empty() && name[0] == '/') folder.assign(1, '/');
    return OpenInFolder(folder, file, access, creation, info);
  }
  if (s->searchPaths) {
    for (KivListNode* n = s->searchPaths->next; n; n = n->next) {
      if (n->key != kSearchPathKey) continue;
      plat::FileHandle f = OpenInFolder(reinterpret_cast<const char*>(n->value), file, access, creation, info);
      if (f != plat::kInvalidFile) return f;
    }
  }
  return OpenInFolder(s->baseFolder, file, access, creation, info);
}

extern "C" KIV_API intptr_t KivFileCreate(const char* name, KivFileInfo* info) {
  return KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0, info);
}

extern "C" KIV_API int KivFileSetFilePointer(intptr_t handle, int32_t low, int32_t high, int, uint32_t method) {
  int64_t distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
                                          static_cast<uint32_t>(low));
  plat::FileSeek(handle, distance, static_cast<int>(method));
  return 1;
}
