// Small path routines used with the save folder. Paths are Shift-JIS, in
// the system's own form ('\' separators) or native ("/...").
#pragma once
#include <string>

#include "shared/save_paths.h"

// Deletes the save folder's files whose names end in ".dat"; 0 on failure.
int folder_files_delete();
// The path of a file in the save folder.
std::string save_path(const char* name);
