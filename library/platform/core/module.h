// The file a module was loaded from, and its folder.
#pragma once
#include <string>

namespace plat {

// The file of the module holding `address_in_module`; null: the program.
std::string ModuleFileName(const void* address_in_module);
// The folder part of a path, without a trailing separator.
std::string FolderOf(const std::string& path);

}  // namespace plat
