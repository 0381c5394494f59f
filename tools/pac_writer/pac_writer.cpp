#include "pac_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace kivtools {

namespace {
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
}  // namespace

std::string PacName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool BuildPac(const std::vector<PacInput>& members, std::vector<uint8_t>* out, std::string* error) {
  struct Entry {
    uint8_t name[32];
    const PacInput* in;
  };
  std::vector<Entry> entries;
  for (const PacInput& m : members) {
    std::string n = PacName(m.name);
    if (n.empty() || n.size() >= 32 || static_cast<uint8_t>(n[0]) >= 0x80) {
      if (error) *error = "member name cannot be stored: " + m.name;
      return false;
    }
    Entry e{};
    std::memcpy(e.name, n.data(), n.size());
    e.in = &m;
    entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return std::memcmp(a.name, b.name, 32) < 0; });
  for (size_t i = 1; i < entries.size(); ++i) {
    if (std::memcmp(entries[i - 1].name, entries[i].name, 32) == 0) {
      if (error) *error = "member given twice: " + entries[i].in->name;
      return false;
    }
  }
  const size_t dir = 12 + 8 * 255;
  size_t data_at = dir + 40 * entries.size();
  size_t total = data_at;
  for (const Entry& e : entries) total += e.in->data.size();
  if (total > 0xFFFFFFFFu) {
    if (error) *error = "archive larger than 4 GiB";
    return false;
  }
  std::vector<uint8_t>& v = *out;
  v.assign(total, 0);
  std::memcpy(v.data(), "PAC ", 4);
  Put32(v, 4, static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size();) {
    uint8_t k = entries[i].name[0];
    size_t j = i;
    while (j < entries.size() && entries[j].name[0] == k) ++j;
    Put32(v, 12 + 8 * k, static_cast<uint32_t>(i));
    Put32(v, 12 + 8 * k + 4, static_cast<uint32_t>(j - i));
    i = j;
  }
  size_t at = data_at;
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t e = dir + 40 * i;
    std::memcpy(&v[e], entries[i].name, 32);
    const auto& d = entries[i].in->data;
    Put32(v, e + 32, static_cast<uint32_t>(d.size()));
    Put32(v, e + 36, static_cast<uint32_t>(at));
    if (!d.empty()) std::memcpy(&v[at], d.data(), d.size());
    at += d.size();
  }
  return true;
}

bool WritePac(const std::string& path, const std::vector<PacInput>& members, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!BuildPac(members, &bytes, error)) return false;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace kivtools
