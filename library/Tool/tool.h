// Senfar, the configuration tool shipped beside the game program: a window
// whose pages edit config.dat and show a report of the machine. It never
// loads the engine and never starts the game; it meets the game only through
// config.dat and the single-instance lock named with the product title.
//
// This header holds the tool's process-wide state and its start-up
// routines: the string table, the lock, the save folder, and how config.dat
// is read, defaulted and written.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/instance_lock.h"
#include "shared/config_record.h"

// The tool's string table. Texts are Shift-JIS.
struct ToolStrings {
  std::string program;  // 1: the game program's file name
  std::string middle;   // 2: middle folder of the install ini path (empty)
  std::string maker;    // 3: the maker's name
  std::string title;    // 4: the product title (the lock's name)
  std::string report_gpu = "1";  // 5: non-zero: the report has the renderer section
  std::string width = "1280";    // 6: default client width of a new config.dat
  std::string height = "720";    // 7: default client height
  std::string tool_version;      // FileVersion of the tool's own version block
};

struct ToolState {
  ToolStrings strings;
  std::string tool_file;    // native path of the tool program
  std::string tool_folder;  // native (UTF-8), no trailing separator
  std::string save_folder;  // Shift-JIS, as the game writes it ('\' separators)
  bool save_available = false;
  int32_t words[kConfigWords] = {};  // the settings record, in file order
  plat::InstanceLock lock;
};

ToolState& tool_state();

// The outcome of reading config.dat.
enum class ConfigLoad { kRead, kMissing, kUnreadable };

// The whole start-up; returns the exit code. `run_ui` runs the window until
// it closes and returns its exit code.
int tool_winmain(int (*run_ui)(ToolState& state));

// Reads the names from the tool's own version block (the same names as the
// game program's); the numbers keep their defaults.
void tool_strings_load(ToolStrings* s, const std::string& program_file);
// 0: go on with the lock held. Otherwise the exit code: 0 silently when
// another process (the game or another tool) holds the lock, 1 with a box
// when the lock cannot be made at all.
int tool_single_instance(ToolState& state);
// The game program must be a file in the tool folder; 0 when it is not
// (after the box).
int tool_game_presence_check(const ToolState& state);
// The folder config.dat lives in: the install ini's SaveFold when it names
// an existing folder, else "save" beside the tool. Sets save_available.
void tool_save_folder_resolve(ToolState& state);
// The install ini: the XDG config folder, string 2, string 1 with ".ini".
std::string tool_install_ini_path(const ToolStrings& s);
int tool_make_folders(const std::string& path);
int tool_path_kind(const std::string& path);  // 0 nothing, 1 a file, 2 a folder
std::string tool_module_folder();
std::string tool_config_path(const ToolState& state);  // Shift-JIS
ConfigLoad tool_config_load(ToolState& state, std::string* why);
// Fills the record with the defaults and writes config.dat; 0 on failure.
int tool_config_defaults(ToolState& state);
void tool_config_default_words(const ToolStrings& s, int32_t words[kConfigWords]);
// Writes the record to config.dat; 0 on failure, with the reason in *why.
int tool_config_store(const ToolState& state, std::string* why);
// Opens the save folder with the desktop's default handler; 0 on failure.
int tool_save_folder_open(const ToolState& state);
