// Path routines the game program and its configuration tool share: making
// a folder level by level, what a path names, the folder of a file. Paths
// are Shift-JIS, in the system's own form ('\' separators) or native ("/...").
#pragma once
#include <string>

// Creates every missing folder of an absolute path, level by level. A path
// longer than 260 bytes is refused, never cut.
int folder_path_create(const std::string& path);
// 0 nothing there, 1 a file, 2 a folder.
int file_exists(const std::string& path);
// Replaces a file path by its folder (no trailing separator); 0 when too long.
int path_join(std::string* path);
