// archive.dat (in the folder "data" under the engine's base folder): sets of
// archive-folder names separated by ',', set 0 first; inside a set the names
// are separated by '|'; CR, LF, blanks and tabs anywhere in a set are
// ignored. Loading a set adds "data" and then each of its names to the
// engine's search paths.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// Registers set n; problems show the boxes "ArchiveData Fail", "ArchiveData
// Memory Allocate" or "ArchiveData Read Fail" (caption "error") and give 0.
int archive_list_load(int set);

// Reads archive.dat and the names of set n without touching the search
// paths; problems show the same boxes and give false.
bool archive_list_read(int set, std::vector<std::string>* names);

// The names of set n of an archive.dat text, or false when the text has
// fewer sets or the set is longer than 259 bytes as written.
bool archive_set_names(std::string_view text, int set, std::vector<std::string>* names);
