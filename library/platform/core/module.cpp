#include "platform/core/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace plat {

std::string ModuleFileName(const void* address) {
  if (address) {
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname && info.dli_fname[0] == '/') {
      char buf[PATH_MAX];
      if (realpath(info.dli_fname, buf)) return buf;
      return info.dli_fname;
    }
  }
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = 0;
  return buf;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int LibraryVersion(const std::string& file) {
  void* lib = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return -1;
  int result = -2;
  if (void* sym = dlsym(lib, "DllGetVersion")) {
    DllVersionInfo info{};
    info.size = sizeof info;
    result = reinterpret_cast<DllGetVersionProc>(sym)(&info) == 0
                 ? static_cast<int>(info.major) * 100 + static_cast<int>(info.minor)
                 : 400;
  }
  dlclose(lib);
  return result;
}

void* LoadLibrary(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* LibrarySymbol(void* library, const char* name) { return library && name ? dlsym(library, name) : nullptr; }

void FreeLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace plat
