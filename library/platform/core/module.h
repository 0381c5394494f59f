// The file a module was loaded from, and its folder.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// The file of the module holding `address_in_module`; null: the program.
std::string ModuleFileName(const void* address_in_module);
// The folder part of a path, without a trailing separator.
std::string FolderOf(const std::string& path);

// What a library's version export `DllGetVersion` fills in; it returns 0
// when it has done so.
struct DllVersionInfo {
  uint32_t size;  // sizeof(DllVersionInfo), set by the caller
  uint32_t major, minor, build, platform;
};
using DllGetVersionProc = int32_t (*)(DllVersionInfo*);

// A library's version as major x 100 + minor: 400 when its DllGetVersion
// fails, -2 when it has none, -1 when the library cannot be loaded. The
// library is released again afterwards.
int LibraryVersion(const std::string& file);

// Loads a library (dlopen: a bare name is searched for); NULL when it cannot.
void* LoadLibrary(const std::string& file);
// An export of a loaded library by name; NULL when it has none.
void* LibrarySymbol(void* library, const char* name);
void FreeLibrary(void* library);

}  // namespace plat
