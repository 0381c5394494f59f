#include "motion_assembler.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace kani {
namespace {

struct OpInfo {
  const char* name;
  uint8_t op;
  int operands;
  int labelOperand;  // index of an operand that names a label, -1 none
};

const OpInfo kOps[] = {
    {"move", 0, 3, -1},         {"wait", 1, 1, -1},        {"scale", 2, 2, -1},       {"alpha", 3, 2, -1},
    {"rotate", 4, 4, -1},       {"shift", 7, 2, -1},       {"wait_random", 8, 2, -1}, {"jump", 10, 1, 0},
    {"child", 11, 2, 1},        {"cell", 12, 2, -1},       {"rect", 13, 4, -1},       {"move_log55", 14, 3, -1},
    {"move_log80", 15, 3, -1},  {"move_to", 17, 4, -1},    {"move_sine", 18, 3, -1},  {"keep", 19, 0, -1},
    {"line", 20, 3, -1},        {"auto", 0xFC, 0, -1},     {"nop", 0xFD, 0, -1},      {"pause", 0xFE, 1, -1},
    {"end", 0xFF, 0, -1},
};

const OpInfo* FindOp(const std::string& name) {
  for (const OpInfo& o : kOps)
    if (name == o.name) return &o;
  return nullptr;
}

std::string Trim(std::string s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

bool ParseNumber(const std::string& t, int64_t* v) {
  if (t.empty()) return false;
  char* end = nullptr;
  const long long n = std::strtoll(t.c_str(), &end, 0);
  if (*end) return false;
  *v = n;
  return true;
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Fixup {
  size_t at;
  std::string label;
  int line;
};

}  // namespace

bool Assemble(std::string_view source, std::string_view name, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> code;
  std::map<std::string, uint32_t> offsets;       // label -> code offset
  std::map<std::string, uint32_t> numbers;       // label -> label number (order of first use)
  std::vector<std::string> byNumber;
  std::vector<Fixup> fixups;
  std::string entry;
  int entryLine = 0;
  std::ostringstream errs;
  auto fail = [&](int line, const std::string& msg) { errs << name << ":" << line << ": " << msg << "\n"; };
  auto labelNumber = [&](const std::string& l) {
    auto it = numbers.find(l);
    if (it != numbers.end()) return it->second;
    const uint32_t n = static_cast<uint32_t>(byNumber.size());
    numbers[l] = n;
    byNumber.push_back(l);
    return n;
  };

  std::istringstream in{std::string(source)};
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    std::string line = raw;
    if (size_t c = line.find(';'); c != std::string::npos) line.resize(c);
    if (size_t c = line.find("//"); c != std::string::npos) line.resize(c);
    line = Trim(line);
    // Labels, possibly several, before the op.
    for (;;) {
      const size_t colon = line.find(':');
      if (colon == std::string::npos) break;
      const std::string label = Trim(line.substr(0, colon));
      if (label.empty() || label.find_first_of(" \t,") != std::string::npos) break;
      if (offsets.count(label)) fail(lineNo, "label '" + label + "' defined twice");
      offsets[label] = static_cast<uint32_t>(code.size());
      line = Trim(line.substr(colon + 1));
    }
    if (line.empty()) continue;
    const size_t sp = line.find_first_of(" \t");
    const std::string word = line.substr(0, sp);
    const std::string rest = sp == std::string::npos ? "" : Trim(line.substr(sp));
    std::vector<std::string> args;
    if (!rest.empty()) {
      std::istringstream as(rest);
      std::string a;
      while (std::getline(as, a, ',')) args.push_back(Trim(a));
    }
    if (word == ".entry") {
      if (args.size() != 1) fail(lineNo, ".entry takes one label");
      else entry = args[0], entryLine = lineNo;
      continue;
    }
    if (word == ".label") {  // gives labels their numbers in this order
      for (const std::string& a : args) labelNumber(a);
      continue;
    }
    if (word == "byte") {  // a raw byte, for programs that test bad input
      int64_t v = 0;
      for (const std::string& a : args) {
        if (!ParseNumber(a, &v) || v < 0 || v > 255) fail(lineNo, "byte needs 0..255: '" + a + "'");
        code.push_back(static_cast<uint8_t>(v));
      }
      continue;
    }
    const OpInfo* op = FindOp(word);
    if (!op) {
      fail(lineNo, "unknown op '" + word + "'");
      continue;
    }
    if (static_cast<int>(args.size()) != op->operands) {
      fail(lineNo, std::string(op->name) + " takes " + std::to_string(op->operands) + " operands");
      continue;
    }
    code.push_back(op->op);
    for (int i = 0; i < op->operands; ++i) {
      int64_t v = 0;
      if (i == op->labelOperand && !ParseNumber(args[i], &v)) {
        fixups.push_back({code.size(), args[i], lineNo});
        Put32(code, labelNumber(args[i]));
        continue;
      }
      if (!ParseNumber(args[i], &v) || v < INT32_MIN || v > UINT32_MAX) {
        fail(lineNo, "bad number '" + args[i] + "'");
        v = 0;
      }
      Put32(code, static_cast<uint32_t>(v));
    }
  }
  for (const Fixup& f : fixups)
    if (!offsets.count(f.label)) fail(f.line, "unknown label '" + f.label + "'");
  uint32_t entryOffset = 0;
  if (!entry.empty()) {
    if (!offsets.count(entry)) fail(entryLine, "unknown entry label '" + entry + "'");
    else entryOffset = offsets[entry];
  }
  for (const std::string& l : byNumber)
    if (!offsets.count(l)) fail(0, "label '" + l + "' named by .label is not defined");
  *error = errs.str();
  if (!error->empty()) return false;
  // Tail: label n at size - 12 - 4n (so the highest number comes first),
  // an unused word, the entry offset last.
  std::vector<uint8_t> bytes = code;
  for (size_t n = byNumber.size(); n-- > 0;) Put32(bytes, offsets[byNumber[n]]);
  Put32(bytes, 0);
  Put32(bytes, entryOffset);
  *out = std::move(bytes);
  return true;
}

}  // namespace kani
