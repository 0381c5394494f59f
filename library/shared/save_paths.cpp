// What the game program and its configuration tool share: config.dat's
// words and the path routines used with the save folder.
#include "shared/save_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/file.h"
#include "platform/core/text_encoding.h"

namespace {

constexpr size_t kMaxPath = 260;

bool IsSeparator(const std::string& s, size_t i) { return s[i] == '\\' || s[i] == '/'; }

// Positions of the separators of a Shift-JIS path (never a trail byte).
template <typename F>
void ForEachSeparator(const std::string& s, F f) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (plat::IsSjisLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (IsSeparator(s, i)) f(i);
  }
}

}  // namespace

int folder_path_create(const std::string& path) {
  if (path.size() > kMaxPath) return 0;
  size_t root;
  if (!path.empty() && path[0] == '/') root = 1;
  else if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') root = 3;
  else return 0;
  if (path.size() == root) return 1;
  bool ok = true;
  auto make = [&](size_t end) {
    if (!ok || end < root) return;
    std::string native = plat::NativePath(path.substr(0, end));
    if (::mkdir(native.c_str(), 0755) != 0 && errno != EEXIST) ok = false;
    struct stat st;
    if (ok && (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) ok = false;
  };
  ForEachSeparator(path, [&](size_t i) {
    if (i >= root) make(i);
  });
  make(path.size());
  return ok ? 1 : 0;
}

int file_exists(const std::string& path) {
  std::string native = plat::ResolveExisting(path);
  struct stat st;
  if (native.empty() || ::stat(native.c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 2 : 1;
}

int path_join(std::string* path) {
  size_t last = std::string::npos;
  ForEachSeparator(*path, [&](size_t i) { last = i; });
  std::string folder = last == std::string::npos ? std::string() : path->substr(0, last);
  if (folder.size() >= kMaxPath) return 0;
  *path = folder;
  return 1;
}
