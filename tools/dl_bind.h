// Binding an engine export from the dlopen'd library, for engine_host's parts.
#pragma once

#include <dlfcn.h>

#include <cstdio>

// fn from lib's export name; a missing export is reported and false.
template <typename F>
bool Bind(void* lib, F& fn, const char* name) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  if (!fn) std::fprintf(stderr, "engine_host: missing export %s\n", name);
  return fn != nullptr;
}
