// Ini files: [section] headers and key=value lines. Section and key names
// match without regard to ASCII letter case, spaces around names and values
// are ignored, and a missing file reads as empty.
#pragma once
#include <string>

namespace plat {

// The integer value of a key (leading digits, an optional sign), or def.
int IniGetInt(const std::string& section, const std::string& key, int def, const std::string& file);
// The text value of a key, or def.
std::string IniGetString(const std::string& section, const std::string& key, const std::string& def,
                         const std::string& file);
// Sets a key, creating the section and the file as needed; false when the
// file cannot be written.
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file);

}  // namespace plat
