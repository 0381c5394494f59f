// Who the program is: the names from its version block, and its save folder.
#pragma once
#include <string>

struct ProgramIdentity {
  std::string companyName;       // Shift-JIS
  std::string productName;       // window title and class, lock name, box caption
  std::string originalFilename;  // base name of the debug ini file
  std::string saveFolder;        // "<program folder>\save", Shift-JIS
};

ProgramIdentity& program_identity();

// Reads the identity from the program's own file and makes sure the save
// folder exists; on failure shows its box (caption "起動エラー") and returns 0.
int version_identity_load();
