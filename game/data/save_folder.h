// Small path routines used with the save folder. Paths are Shift-JIS, in
// the system's own form ('\' separators) or native ("/...").
#pragma once
#include <string>

// Creates every missing folder of an absolute path, level by level.
int folder_path_create(const std::string& path);
// 0 nothing there, 1 a file, 2 a folder.
int file_exists(const std::string& path);
// Replaces a file path by its folder (no trailing separator); 0 when too long.
int path_join(std::string* path);
// Deletes the save folder's files whose names end in ".dat"; 0 on failure.
int folder_files_delete();
// The path of a file in the save folder.
std::string save_path(const char* name);
