#include "platform/core/ini_file.h"

#include <cstdlib>
#include <strings.h>
#include <vector>

#include "platform/core/file.h"

namespace plat {

namespace {

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return std::string();
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  FileHandle f = FileOpen(file, kGenericRead, kOpenExisting);
  if (f == kInvalidFile) return lines;
  int64_t size = FileSize(f);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  size_t got = 0;
  FileRead(f, text.data(), text.size(), &got);
  FileClose(f);
  text.resize(got);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

bool IsSection(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

bool IsKey(const std::string& line, const std::string& key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  if (strcasecmp(Trim(t.substr(0, eq)).c_str(), key.c_str()) != 0) return false;
  *value = Trim(t.substr(eq + 1));
  return true;
}

bool Find(const std::vector<std::string>& lines, const std::string& section, const std::string& key,
          std::string* value) {
  bool in = false;
  for (const std::string& line : lines) {
    std::string name;
    if (IsSection(line, &name)) {
      in = strcasecmp(name.c_str(), section.c_str()) == 0;
      continue;
    }
    if (in && IsKey(line, key, value)) return true;
  }
  return false;
}

}  // namespace

int IniGetInt(const std::string& section, const std::string& key, int def, const std::string& file) {
  std::string v;
  if (!Find(ReadLines(file), section, key, &v) || v.empty()) return def;
  char* end = nullptr;
  long x = std::strtol(v.c_str(), &end, 10);
  if (end == v.c_str()) return 0;  // present but not a number reads as 0
  return static_cast<int>(x);
}

std::string IniGetString(const std::string& section, const std::string& key, const std::string& def,
                         const std::string& file) {
  std::string v;
  return Find(ReadLines(file), section, key, &v) ? v : def;
}

bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file) {
  std::vector<std::string> lines = ReadLines(file);
  bool in = false, done = false;
  size_t insert_at = std::string::npos;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name, old;
    if (IsSection(lines[i], &name)) {
      if (in) {
        insert_at = i;
        break;
      }
      in = strcasecmp(name.c_str(), section.c_str()) == 0;
      if (in) insert_at = i + 1;
      continue;
    }
    if (in && IsKey(lines[i], key, &old)) {
      lines[i] = key + "=" + value;
      done = true;
    }
    if (in && !Trim(lines[i]).empty()) insert_at = i + 1;
  }
  if (!done) {
    if (insert_at == std::string::npos) {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      lines.push_back("[" + section + "]");
      lines.push_back(key + "=" + value);
    } else {
      lines.insert(lines.begin() + static_cast<long>(insert_at), key + "=" + value);
    }
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  FileHandle f = FileOpen(file, kGenericWrite, kCreateAlways);
  if (f == kInvalidFile) return false;
  bool ok = FileWrite(f, text.data(), text.size());
  FileClose(f);
  return ok;
}

}  // namespace plat
