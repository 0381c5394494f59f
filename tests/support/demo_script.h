// The demo game's script as one source text: demo/main.kas with the files it
// includes put in place, so a test can assemble it from memory.
#pragma once
#include <fstream>
#include <iterator>
#include <string>

inline std::string demo_script_source(const std::string& source_dir) {
  auto slurp = [](const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::string source = slurp(source_dir + "/demo/main.kas");
  const std::string include = ".include \"";
  for (size_t at = source.find(include); at != std::string::npos; at = source.find(include, at)) {
    const size_t name_end = source.find('"', at + include.size());
    if (name_end == std::string::npos) break;
    const std::string name = source.substr(at + include.size(), name_end - at - include.size());
    const std::string body = slurp(source_dir + "/demo/" + name);
    source.replace(at, name_end + 1 - at, body);
    at += body.size();
  }
  return source;
}
