// The game program reaches the engine only through libkiv.so, loaded from
// the game folder's dll/ at start. Each export is bound by name the first
// time it is called; these definitions stand in for the exports, so game
// code calls the Kiv* functions of kiv.h as if they were linked.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "start/engine_library.h"
#include "kiv.h"

namespace {
void* g_engine = nullptr;
}  // namespace

bool engine_library_load(const std::string& program_folder) {
  std::string path = program_folder + "/dll/libkiv.so";
  g_engine = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return g_engine != nullptr;
}

void* engine_symbol(const char* name) {
  void* fn = g_engine ? dlsym(g_engine, name) : nullptr;
  if (!fn) {
    // A game built against a newer engine than the one shipped: say which
    // export is missing and stop, rather than call through nothing.
    std::fprintf(stderr, "Orvane: the engine library has no export %s\n", name);
    std::_Exit(1);
  }
  return fn;
}

#define KIV_BIND(ret, name, params, args)                                           \
  extern "C" ret name params {                                                      \
    static auto bound_ = reinterpret_cast<ret(*) params>(engine_symbol(#name));     \
    return bound_ args;                                                             \
  }

#include "start/engine_exports.inc"

// The variadic exports are formatted here and handed over as one "%s" text.
namespace {
std::string Format(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
  return s;
}
}  // namespace

extern "C" int KivErrorLogPrintf(const char* fmt, ...) {
  static auto fn = reinterpret_cast<int (*)(const char*, ...)>(engine_symbol("KivErrorLogPrintf"));
  va_list ap;
  va_start(ap, fmt);
  std::string text = Format(fmt, ap);
  va_end(ap);
  return fn("%s", text.c_str());
}

extern "C" int KivErrorLogPrintfBasic(const char* fmt, ...) {
  static auto fn = reinterpret_cast<int (*)(const char*, ...)>(engine_symbol("KivErrorLogPrintfBasic"));
  va_list ap;
  va_start(ap, fmt);
  std::string text = Format(fmt, ap);
  va_end(ap);
  return fn("%s", text.c_str());
}

extern "C" int KivDebugPrintf(int key, const char* rowLabel, const char* fmt, ...) {
  static auto fn = reinterpret_cast<int (*)(int, const char*, const char*, ...)>(engine_symbol("KivDebugPrintf"));
  va_list ap;
  va_start(ap, fmt);
  std::string text = Format(fmt, ap);
  va_end(ap);
  return fn(key, rowLabel, "%s", text.c_str());
}
