// The game program reaches the engine only through libkiv.so, loaded from
// the game folder's dll/ at start. Each export is bound by name the first
// time it is called; these definitions stand in for the exports, so game
// code calls the Kiv* functions of kiv.h as if they were linked.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine_library.h"
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
    static auto fn = reinterpret_cast<ret(*) params>(engine_symbol(#name));         \
    return fn args;                                                                 \
  }

#include "engine_exports.inc"
