// Loading the engine library (see engine_bind.cpp).
#pragma once
#include <string>

// Loads <program_folder>/dll/libkiv.so; false when it cannot be loaded.
bool engine_library_load(const std::string& program_folder);
