// The game program binds every engine export by name: each function kiv.h
// declares must have exactly one binding, or a call from the game would not
// link (or bind twice).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The identifier that ends right before the first '(' at or after `from`.
std::string NameBeforeParen(const std::string& text, size_t from) {
  size_t paren = text.find('(', from);
  if (paren == std::string::npos) return std::string();
  size_t end = paren;
  while (end > from && text[end - 1] == ' ') --end;
  size_t begin = end;
  while (begin > from && (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_')) --begin;
  return text.substr(begin, end - begin);
}

// Every name following `marker` in `text`, read as NameBeforeParen does, or
// (for bindings) the second argument of the macro.
std::vector<std::string> Names(const std::string& text, const std::string& marker, bool second_argument) {
  std::vector<std::string> out;
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
    if (second_argument) {
      size_t comma = text.find(',', at);
      size_t next = text.find(',', comma + 1);
      std::string name = text.substr(comma + 1, next - comma - 1);
      name.erase(0, name.find_first_not_of(' '));
      out.push_back(name);
    } else {
      out.push_back(NameBeforeParen(text, at + marker.size()));
    }
  }
  return out;
}

TEST(EngineExports, EveryExportIsBoundOnce) {
  std::string header = Slurp(KIV_SOURCE_DIR "/library/KIV/include/kiv.h");
  std::string binds = Slurp(KIV_SOURCE_DIR "/game/start/engine_exports.inc");
  std::string bind_cpp = Slurp(KIV_SOURCE_DIR "/game/start/engine_bind.cpp");
  ASSERT_FALSE(header.empty());
  std::map<std::string, int> bound;
  for (const std::string& n : Names(binds, "\nKIV_BIND(", true)) ++bound[n];
  for (const std::string& n : Names(bind_cpp, "\nextern \"C\" ", false)) ++bound[n];
  std::vector<std::string> exports = Names(header, "\nKIV_API ", false);
  EXPECT_GT(exports.size(), 50u);
  for (const std::string& n : exports) EXPECT_EQ(bound[n], 1) << n;
}

}  // namespace
