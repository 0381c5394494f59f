// The script assembler. One pass over the source: code words are emitted as
// lines are read, labels get their Point.dat number when first mentioned and
// their offset when defined, texts and file names get their Text.dat offset
// and File.dat record when first used; references to Mem.dat tables that are
// defined further down are patched at the end.
#include "assembler.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "vm/command_tables.h"
#include "platform/core/text_encoding.h"
#include "data/script_format.h"

namespace kasm {
namespace {

constexpr uint32_t kCall = 0x00010017;
constexpr uint32_t kNoOperand = 0x0FFFFFFF;
constexpr uint32_t kStringVariableBit = 0x10000000;
constexpr int kScratch = 254;  // the register the assembler builds large constants in
constexpr int kRegisterCount = 255;
constexpr int kMaxIncludeDepth = 16;
constexpr size_t kMaxErrors = 50;

// ---- Tokens ----

struct Token {
  enum Kind { kIdent, kNumber, kString, kPunct } kind;
  std::string text;    // identifier, punctuation, or a string's UTF-8 source
  int64_t number = 0;  // kNumber
  std::string bytes;   // kString: the Shift-JIS bytes
};

Token MakeToken(Token::Kind kind, std::string text) {
  Token t;
  t.kind = kind;
  t.text = std::move(text);
  return t;
}

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

// UTF-8 text to Shift-JIS; false when a character has no Shift-JIS form.
bool ToSjis(const std::string& utf8, std::string* out) {
  std::string sj = plat::Utf8ToCp932(utf8);
  if (plat::Cp932ToUtf8(sj) != utf8) return false;
  *out += sj;
  return true;
}

// Splits a line into tokens; comments (';' or "//") end it.
bool Lex(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == ';' || (c == '/' && i + 1 < line.size() && line[i + 1] == '/')) break;
    if (IsIdentStart(c) || (c == '.' && i + 1 < line.size() && IsIdentStart(line[i + 1]))) {
      size_t j = i + 1;
      while (j < line.size() && IsIdentChar(line[j])) ++j;
      tokens->push_back(MakeToken(Token::kIdent, std::string(line.substr(i, j - i))));
      i = j;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      int base = 10;
      if (c == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
        base = 16;
        j += 2;
      }
      size_t digits = j;
      while (j < line.size() && std::isxdigit(static_cast<unsigned char>(line[j]))) ++j;
      std::string text(line.substr(digits, j - digits));
      if (text.empty() || (base == 10 && text.find_first_not_of("0123456789") != std::string::npos) ||
          (j < line.size() && IsIdentChar(line[j]))) {
        *error = "bad number '" + std::string(line.substr(i, j - i + 1)) + "'";
        return false;
      }
      if (text.size() > 10) {
        *error = "number too large: " + std::string(line.substr(i, j - i));
        return false;
      }
      Token t = MakeToken(Token::kNumber, std::string(line.substr(i, j - i)));
      t.number = std::stoll(text, nullptr, base);
      tokens->push_back(t);
      i = j;
      continue;
    }
    if (c == '"') {
      Token t = MakeToken(Token::kString, "");
      std::string segment;  // UTF-8 waiting to be converted
      auto flush = [&]() {
        if (segment.empty()) return true;
        if (!ToSjis(segment, &t.bytes)) {
          *error = "text has a character with no Shift-JIS form: \"" + segment + "\"";
          return false;
        }
        segment.clear();
        return true;
      };
      size_t j = i + 1;
      bool closed = false;
      while (j < line.size()) {
        char d = line[j];
        if (d == '"') {
          closed = true;
          ++j;
          break;
        }
        if (d == '\\' && j + 1 < line.size()) {
          char e = line[j + 1];
          j += 2;
          t.text += '\\';
          t.text += e;
          switch (e) {
            case 'n': segment += '\n'; break;
            case 'r': segment += '\r'; break;
            case 't': segment += '\t'; break;
            case '"': segment += '"'; break;
            case '\\': segment += '\\'; break;
            case 'x': {
              if (j + 2 > line.size() || !std::isxdigit(static_cast<unsigned char>(line[j])) ||
                  !std::isxdigit(static_cast<unsigned char>(line[j + 1]))) {
                *error = "\\x needs two hexadecimal digits";
                return false;
              }
              if (!flush()) return false;
              t.bytes += static_cast<char>(std::stoi(std::string(line.substr(j, 2)), nullptr, 16));
              t.text += line.substr(j, 2);
              j += 2;
              break;
            }
            default:
              *error = std::string("unknown escape \\") + e;
              return false;
          }
          continue;
        }
        segment += d;
        t.text += d;
        ++j;
      }
      if (!closed) {
        *error = "text not closed with \"";
        return false;
      }
      if (!flush()) return false;
      tokens->push_back(t);
      i = j;
      continue;
    }
    static const char* const kPuncts[] = {"->", "<<", ">>", "[", "]", ",", "+", "-", "*", "/", "%",
                                          "(",  ")",  "|",  "&", "^", "~", ":", "@", "="};
    bool matched = false;
    for (const char* p : kPuncts) {
      size_t n = std::strlen(p);
      if (line.substr(i, n) == p) {
        tokens->push_back(MakeToken(Token::kPunct, p));
        i += n;
        matched = true;
        break;
      }
    }
    if (!matched) {
      *error = std::string("unexpected character '") + c + "'";
      return false;
    }
  }
  return true;
}

// ---- Operands ----

struct Operand {
  bool value = false;   // a constant (an immediate when it fits)
  uint32_t word = 0;    // the constant, or the encoded operand word
  int reg = -1;         // a plain register rN
  std::string table;    // a Mem.dat table defined later: patched at the end
  enum TableUse { kTableFirst, kTableDescriptor } tableUse = kTableFirst;
};

bool Immediate(uint32_t v) { return v <= 0x0FFFFFFF || v >= 0xA0000000; }

std::optional<int> RegisterName(const std::string& s) {
  if (s.size() < 2 || s[0] != 'r' || s.find_first_not_of("0123456789", 1) != std::string::npos) return std::nullopt;
  if (s.size() > 4) return std::nullopt;
  int n = std::stoi(s.substr(1));
  if (n >= kRegisterCount) return std::nullopt;
  return n;
}

struct Label {
  uint32_t number = 0;
  bool defined = false;
  uint32_t offset = 0;  // from the code base
  std::string where;    // first mention, for messages
};

struct Table {
  uint32_t descriptor = 0;  // Mem.dat element of the descriptor
  uint32_t first = 0;
  uint32_t count = 0;
};

struct Fixup {
  enum Kind { kCodeWord, kOffsetField } kind;
  size_t at;  // index into code
  std::string table;
  Operand::TableUse use;
  std::string where;
};

struct GraphicEntry {
  std::string name;  // 32 bytes max, Shift-JIS, upper-cased
  uint32_t flags = 0;
  std::string file, motion;
  int32_t priority = 0, render = 0, moveX = 0, moveY = 0, scale = 0, centreX = 0, centreY = 0;
  uint32_t colour = 0;
};

class Assembler {
 public:
  Assembler(Output* out, const Options& options) : out_(out), options_(options) {}

  void Source(std::string_view text, const std::string& name, int depth) {
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      where_ = name + ":" + std::to_string(number);
      std::vector<Token> tokens;
      std::string error;
      if (!Lex(line, &tokens, &error)) {
        Error(error);
        continue;
      }
      tokens_ = &tokens;
      pos_ = 0;
      Line(name, depth);
      if (errors_.size() >= kMaxErrors) return;
    }
  }

  bool Finish(std::string* error) {
    where_ = "end";
    Build();
    if (!errors_.empty()) {
      std::string all;
      for (const std::string& e : errors_) all += e + "\n";
      if (errors_.size() >= kMaxErrors) all += "(stopped after " + std::to_string(kMaxErrors) + " errors)\n";
      *error = all;
      return false;
    }
    return true;
  }

 private:
  // ---- Messages and tokens ----

  void Error(const std::string& message) {
    if (errors_.size() < kMaxErrors) errors_.push_back(where_ + ": " + message);
  }
  bool AtEnd() const { return pos_ >= tokens_->size(); }
  const Token* Peek(size_t ahead = 0) const {
    return pos_ + ahead < tokens_->size() ? &(*tokens_)[pos_ + ahead] : nullptr;
  }
  bool IsPunct(const char* p, size_t ahead = 0) const {
    const Token* t = Peek(ahead);
    return t && t->kind == Token::kPunct && t->text == p;
  }
  bool Accept(const char* p) {
    if (!IsPunct(p)) return false;
    ++pos_;
    return true;
  }
  bool Expect(const char* p) {
    if (Accept(p)) return true;
    const Token* t = Peek();
    Error(std::string("expected '") + p + "'" + (t ? " before '" + t->text + "'" : " at the end of the line"));
    return false;
  }
  bool ExpectEnd() {
    if (AtEnd()) return true;
    Error("unexpected '" + Peek()->text + "'");
    return false;
  }

  // ---- Lines ----

  void Line(const std::string& name, int depth) {
    // Labels first: "name:" (several may share a line).
    while (Peek() && Peek()->kind == Token::kIdent && IsPunct(":", 1)) {
      DefineLabel(Peek()->text);
      pos_ += 2;
    }
    if (AtEnd()) return;
    const Token& head = *Peek();
    if (head.kind != Token::kIdent) {
      Error("expected an instruction, a directive or a label, not '" + head.text + "'");
      return;
    }
    ++pos_;
    if (head.text[0] == '.') {
      Directive(head.text, name, depth);
      return;
    }
    Instruction(head.text);
  }

  void DefineLabel(const std::string& name) {
    Label& l = LabelRef(name);
    if (l.defined) {
      Error("label " + name + " is defined twice");
      return;
    }
    l.defined = true;
    l.offset = static_cast<uint32_t>(code_.size() * 4);
  }

  Label& LabelRef(const std::string& name) {
    auto [it, fresh] = labels_.try_emplace(name);
    if (fresh) {
      it->second.number = static_cast<uint32_t>(labelOrder_.size() + 1);
      it->second.where = where_;
      labelOrder_.push_back(name);
    }
    return it->second;
  }

  // ---- Directives ----

  void Directive(const std::string& d, const std::string& name, int depth) {
    if (d == ".stamp") {
      std::optional<int64_t> v = ConstExpr();
      if (v) stamp_ = static_cast<uint32_t>(*v);
      ExpectEnd();
    } else if (d == ".entry") {
      if (!Peek() || Peek()->kind != Token::kIdent) return Error(".entry needs a label");
      entry_ = Peek()->text;
      entryWhere_ = where_;
      ++pos_;
      ExpectEnd();
    } else if (d == ".scramble") {
      if (AtEnd()) return Error(".scramble needs: all, text, file, mem, point or graphic");
      while (!AtEnd()) {
        const Token& t = *Peek();
        ++pos_;
        if (t.text == "all") scrambleText_ = scrambleFile_ = scrambleMem_ = scramblePoint_ = scrambleGraphic_ = true;
        else if (t.text == "text") scrambleText_ = true;
        else if (t.text == "file") scrambleFile_ = true;
        else if (t.text == "mem") scrambleMem_ = true;
        else if (t.text == "point") scramblePoint_ = true;
        else if (t.text == "graphic") scrambleGraphic_ = true;
        else return Error("cannot scramble '" + t.text + "'");
        Accept(",");
      }
    } else if (d == ".define") {
      if (!Peek() || Peek()->kind != Token::kIdent) return Error(".define needs a name");
      std::string key = Peek()->text;
      ++pos_;
      if (defines_.count(key) || RegisterName(key)) return Error(key + " is already a name");
      std::optional<Operand> op = ParseOperand();
      if (op && ExpectEnd()) defines_[key] = *op;
    } else if (d == ".file") {
      do {
        if (!Peek() || Peek()->kind != Token::kString) return Error(".file needs file names in quotes");
        FileRecord(*Peek());
        ++pos_;
      } while (Accept(","));
      ExpectEnd();
    } else if (d == ".table") {
      TableDirective();
    } else if (d == ".graphic") {
      GraphicDirective();
    } else if (d == ".archive") {
      if (!Peek() || Peek()->kind != Token::kString) return Error(".archive needs a set in quotes");
      archive_.push_back(Peek()->bytes);
      ++pos_;
      ExpectEnd();
    } else if (d == ".word") {
      do {
        std::optional<Operand> op = ParseOperand();
        if (!op) return;
        if (!op->table.empty()) {
          fixups_.push_back({Fixup::kCodeWord, code_.size(), op->table, op->tableUse, where_});
          code_.push_back(0);
        } else {
          code_.push_back(op->word);
        }
      } while (Accept(","));
      ExpectEnd();
    } else if (d == ".include") {
      if (!Peek() || Peek()->kind != Token::kString) return Error(".include needs a file name in quotes");
      std::filesystem::path path = std::filesystem::path(name).parent_path() / Peek()->text;
      ++pos_;
      if (!ExpectEnd()) return;
      if (depth >= kMaxIncludeDepth) return Error("includes nested too deeply");
      std::string content;
      if (!ReadSource(path.string(), &content)) return Error("cannot read " + path.string());
      std::string saved = where_;
      Source(content, path.string(), depth + 1);
      where_ = saved;
    } else {
      Error("unknown directive " + d);
    }
  }

  bool ReadSource(const std::string& path, std::string* content) {
    if (options_.readFile) return options_.readFile(path, content);
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *content = s.str();
    return true;
  }

  void TableDirective() {
    if (!Peek() || Peek()->kind != Token::kIdent) return Error(".table needs a name");
    std::string key = Peek()->text;
    ++pos_;
    if (tables_.count(key)) return Error("table " + key + " is defined twice");
    std::vector<uint32_t> values;
    if (!AtEnd()) {
      do {
        std::optional<Operand> op = ParseOperand();
        if (!op) return;
        if (!op->value || !op->table.empty()) return Error("table values are constants, texts, file names or labels");
        values.push_back(op->word);
      } while (Accept(","));
    }
    if (!ExpectEnd()) return;
    Table t;
    t.descriptor = static_cast<uint32_t>(mem_.size());
    t.first = t.descriptor + 1;
    t.count = static_cast<uint32_t>(values.size());
    if (t.first > 0xFFF) return Error("Mem.dat tables must start below element 4096 (this one at " +
                                      std::to_string(t.first) + ")");
    if (t.count > 0xFFFF) return Error("a table holds at most 65535 values");
    // The descriptor: the first element in bits 16-27, the length below.
    mem_.push_back(t.first << 16 | t.count);
    mem_.insert(mem_.end(), values.begin(), values.end());
    tables_[key] = t;
    out_->tableFirst[key] = t.first;
    out_->tableDescriptor[key] = t.descriptor;
  }

  bool Name32(const Token& t, std::string* out, const char* what) {
    std::string name = t.bytes;
    for (char& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (name.empty() || name.size() > 31 || name.find('\0') != std::string::npos) {
      Error(std::string(what) + " \"" + t.text + "\" must be 1 to 31 bytes");
      return false;
    }
    *out = name;
    return true;
  }

  void GraphicDirective() {
    if (!Peek() || Peek()->kind != Token::kString) return Error(".graphic needs an image name in quotes");
    GraphicEntry g;
    if (!Name32(*Peek(), &g.name, "image name")) return;
    ++pos_;
    if (static_cast<uint8_t>(g.name[0]) >= 0x80)
      return Error("image names starting with a byte of 0x80 or above are never looked up");
    for (const GraphicEntry& e : graphics_)
      if (e.name == g.name) return Error("image " + g.name + " is listed twice");
    g.file = g.name;
    while (!AtEnd()) {
      if (Peek()->kind != Token::kIdent || !IsPunct("=", 1)) return Error("expected key=value, not '" + Peek()->text + "'");
      std::string key = Peek()->text;
      pos_ += 2;
      auto number = [&](int32_t* v) {
        std::optional<int64_t> n = ConstExpr();
        if (n) *v = static_cast<int32_t>(*n);
        return n.has_value();
      };
      auto pair = [&](int32_t* a, int32_t* b) { return number(a) && Expect(",") && number(b); };
      auto name = [&](std::string* s) {
        if (!Peek() || Peek()->kind != Token::kString) {
          Error(key + "= needs a name in quotes");
          return false;
        }
        bool ok = Name32(*Peek(), s, key.c_str());
        ++pos_;
        return ok;
      };
      bool ok = true;
      if (key == "file") ok = name(&g.file);
      else if (key == "motion") { ok = name(&g.motion); g.flags |= 0x4000; }
      else if (key == "priority") ok = number(&g.priority);
      else if (key == "render") { ok = number(&g.render); g.flags |= 0x2000; }
      else if (key == "move") { ok = pair(&g.moveX, &g.moveY); g.flags |= 0x20000 | 0x40000; }
      else if (key == "scale") { ok = number(&g.scale); g.flags |= 0x100000; }
      else if (key == "colour" || key == "color") {
        int32_t c = 0;
        ok = number(&c);
        g.colour = static_cast<uint32_t>(c);
        g.flags |= 0x80000;
      } else if (key == "centre" || key == "center") { ok = pair(&g.centreX, &g.centreY); g.flags |= 0x8000 | 0x10000; }
      else if (key == "flags") {
        int32_t f = 0;
        ok = number(&f);
        g.flags |= static_cast<uint32_t>(f);
      } else return Error("unknown image attribute " + key);
      if (!ok) return;
      Accept(",");
    }
    graphics_.push_back(g);
  }

  // ---- Constants and operands ----

  std::optional<int64_t> ConstExpr() { return Binary(0); }

  static int Precedence(const std::string& op) {
    if (op == "|") return 1;
    if (op == "^") return 2;
    if (op == "&") return 3;
    if (op == "<<" || op == ">>") return 4;
    if (op == "+" || op == "-") return 5;
    if (op == "*" || op == "/" || op == "%") return 6;
    return 0;
  }

  std::optional<int64_t> Binary(int min) {
    std::optional<int64_t> left = Unary();
    while (left && Peek() && Peek()->kind == Token::kPunct) {
      int p = Precedence(Peek()->text);
      if (p == 0 || p <= min) break;
      std::string op = Peek()->text;
      ++pos_;
      std::optional<int64_t> right = Binary(p);
      if (!right) return std::nullopt;
      int64_t a = *left, b = *right;
      if ((op == "/" || op == "%") && b == 0) {
        Error("division by zero in a constant");
        return std::nullopt;
      }
      uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
      if (op == "|") a = static_cast<int64_t>(ua | ub);
      else if (op == "^") a = static_cast<int64_t>(ua ^ ub);
      else if (op == "&") a = static_cast<int64_t>(ua & ub);
      else if (op == "<<") a = static_cast<int64_t>(ua << (ub & 63));
      else if (op == ">>") a >>= (ub & 63);
      else if (op == "+") a = static_cast<int64_t>(ua + ub);
      else if (op == "-") a = static_cast<int64_t>(ua - ub);
      else if (op == "*") a = static_cast<int64_t>(ua * ub);
      else if (op == "/") a = (a == INT64_MIN && b == -1) ? a : a / b;
      else a = (b == -1) ? 0 : a % b;
      left = a;
    }
    return left;
  }

  std::optional<int64_t> Unary() {
    const Token* t = Peek();
    if (!t) {
      Error("expected a value at the end of the line");
      return std::nullopt;
    }
    if (t->kind == Token::kPunct) {
      ++pos_;
      if (t->text == "-" || t->text == "~") {
        std::optional<int64_t> v = Unary();
        if (!v) return v;
        return t->text == "-" ? static_cast<int64_t>(0 - static_cast<uint64_t>(*v)) : ~*v;
      }
      if (t->text == "(") {
        std::optional<int64_t> v = ConstExpr();
        if (!v || !Expect(")")) return std::nullopt;
        return v;
      }
      Error("expected a value, not '" + t->text + "'");
      return std::nullopt;
    }
    if (t->kind == Token::kNumber) {
      ++pos_;
      return t->number;
    }
    if (t->kind == Token::kIdent) {
      ++pos_;
      if (auto d = defines_.find(t->text); d != defines_.end() && d->second.value && d->second.table.empty())
        return static_cast<int32_t>(d->second.word);
      if (auto tb = tables_.find(t->text); tb != tables_.end()) return tb->second.first;
      Error("unknown constant " + t->text);
      return std::nullopt;
    }
    Error("expected a number, not a text");
    return std::nullopt;
  }

  std::optional<Operand> Value(int64_t v) {
    if (v < INT32_MIN || v > UINT32_MAX) {
      Error("value " + std::to_string(v) + " does not fit 32 bits");
      return std::nullopt;
    }
    Operand op;
    op.value = true;
    op.word = static_cast<uint32_t>(v);
    return op;
  }

  uint32_t TextEntry(const Token& t) {
    if (t.bytes.find('\0') != std::string::npos) {
      Error("a text cannot hold a zero byte");
      return 0;
    }
    auto [it, fresh] = texts_.try_emplace(t.bytes, 0);
    if (fresh) {
      it->second = static_cast<uint32_t>(kTableHeaderBytes + textBody_.size());
      const uint32_t number = textWords_++;
      for (int i = 0; i < 4; ++i) textBody_.push_back(static_cast<uint8_t>(number >> (8 * i)));
      textBody_.insert(textBody_.end(), t.bytes.begin(), t.bytes.end());
      textBody_.push_back(0);
      out_->textOffset[t.text] = it->second;
    }
    return it->second;
  }

  uint32_t FileRecord(const Token& t) {
    std::string name;
    if (!Name32(t, &name, "file name")) return 0;
    auto [it, fresh] = files_.try_emplace(name, static_cast<uint32_t>(fileNames_.size()));
    if (fresh) {
      fileNames_.push_back(name);
      out_->fileRecord[plat::Cp932ToUtf8(name)] = it->second;
      if (fileNames_.size() > kMaxFileRecords) Error("more than 65536 file names");
    }
    return it->second;
  }

  // The register of a memory bracket: rN or a name defined as one.
  std::optional<int> BracketRegister() {
    const Token* t = Peek();
    if (t && t->kind == Token::kIdent) {
      if (std::optional<int> r = RegisterName(t->text)) {
        ++pos_;
        return r;
      }
      if (auto d = defines_.find(t->text); d != defines_.end() && d->second.reg >= 0) {
        ++pos_;
        return d->second.reg;
      }
    }
    Error("memory is addressed through a register, as in u[r1]");
    return std::nullopt;
  }

  // The offset of t[...] or m[...]: a constant 0..4095 or a table name.
  bool BracketOffset(Operand* op, bool tables) {
    if (!Accept("+")) return true;
    const Token* t = Peek();
    if (tables && t && t->kind == Token::kIdent && !defines_.count(t->text) && !IsExprOp(1)) {
      ++pos_;
      if (auto tb = tables_.find(t->text); tb != tables_.end()) {
        op->word |= tb->second.first << 16;
      } else {
        op->table = t->text;
        op->tableUse = Operand::kTableFirst;
      }
      return true;
    }
    std::optional<int64_t> v = ConstExpr();
    if (!v) return false;
    if (*v < 0 || *v > 0xFFF) {
      Error("an offset runs from 0 to 4095");
      return false;
    }
    op->word |= static_cast<uint32_t>(*v) << 16;
    return true;
  }

  bool IsExprOp(size_t ahead) const {
    const Token* t = Peek(ahead);
    return t && t->kind == Token::kPunct && Precedence(t->text) > 0;
  }

  std::optional<Operand> ParseOperand() {
    const Token* t = Peek();
    if (!t) {
      Error("expected an operand at the end of the line");
      return std::nullopt;
    }
    if (t->kind == Token::kPunct && t->text == "@") {
      ++pos_;
      const Token* n = Peek();
      if (!n || n->kind != Token::kIdent) {
        Error("@ needs a label name");
        return std::nullopt;
      }
      ++pos_;
      return Value(LabelRef(n->text).number);
    }
    if (t->kind == Token::kString) {
      ++pos_;
      return Value(TextEntry(*t));
    }
    if (t->kind != Token::kIdent) return ConstOperand();
    const std::string& id = t->text;
    if (id == "file" && Peek(1) && Peek(1)->kind == Token::kString) {
      pos_ += 2;
      return Value(FileRecord((*tokens_)[pos_ - 1]));
    }
    if (id.size() >= 2 && id[0] == 'r' && id.find_first_not_of("0123456789", 1) == std::string::npos &&
        !RegisterName(id)) {
      Error("there is no register " + id + " (r0 to r254)");
      return std::nullopt;
    }
    if (std::optional<int> r = RegisterName(id)) {
      ++pos_;
      Operand op;
      op.word = 0x40000000u | static_cast<uint32_t>(*r);
      op.reg = *r;
      return op;
    }
    static const struct {
      const char* name;
      uint32_t tag;
      bool registerIndex, offset, tables;
    } kBanks[] = {
        {"u", 1, true, false, false}, {"s", 2, true, false, false}, {"stack", 3, false, false, false},
        {"t", 5, true, true, false},  {"m", 6, true, true, true},   {"f", 8, false, false, false},
    };
    for (const auto& bank : kBanks) {
      if (id != bank.name || !IsPunct("[", 1)) continue;
      pos_ += 2;
      Operand op;
      op.word = bank.tag << 28;
      if (bank.registerIndex) {
        std::optional<int> r = BracketRegister();
        if (!r) return std::nullopt;
        op.word |= static_cast<uint32_t>(*r);
        if (bank.offset && !BracketOffset(&op, bank.tables)) return std::nullopt;
      } else {
        std::optional<int64_t> v = ConstExpr();
        if (!v) return std::nullopt;
        const int64_t limit = bank.tag == 3 ? 32 : 0x10000;
        if (*v < 0 || *v >= limit) {
          Error(std::string(bank.name) + "[...] runs from 0 to " + std::to_string(limit - 1));
          return std::nullopt;
        }
        op.word |= static_cast<uint32_t>(*v);
      }
      if (!Expect("]")) return std::nullopt;
      return op;
    }
    if (id == "mt" && IsPunct("[", 1)) {
      pos_ += 2;
      Operand op;
      op.word = 7u << 28;
      const Token* n = Peek();
      if (n && n->kind == Token::kIdent && tables_.count(n->text) == 0 && !defines_.count(n->text) && IsPunct("]", 1)) {
        op.table = n->text;
        op.tableUse = Operand::kTableDescriptor;
        ++pos_;
      } else if (n && n->kind == Token::kIdent && tables_.count(n->text) && IsPunct("]", 1)) {
        op.word |= tables_[n->text].descriptor << 16;
        ++pos_;
      } else {
        std::optional<int64_t> v = ConstExpr();
        if (!v) return std::nullopt;
        if (*v < 0 || *v > 0xFFF) {
          Error("a table descriptor runs from 0 to 4095");
          return std::nullopt;
        }
        op.word |= static_cast<uint32_t>(*v) << 16;
      }
      if (!Expect("]") || !Expect("[")) return std::nullopt;
      std::optional<int> r = BracketRegister();
      if (!r || !Expect("]")) return std::nullopt;
      op.word |= static_cast<uint32_t>(*r);
      return op;
    }
    if (id == "base" && !IsExprOp(1)) {
      ++pos_;
      Operand op;
      op.word = 9u << 28;
      return op;
    }
    if (id == "none" && !IsExprOp(1)) {
      ++pos_;
      return Value(kNoOperand);
    }
    if (id.size() == 4 && id.compare(0, 3, "str") == 0 && id[3] >= '0' && id[3] <= '7' && !IsExprOp(1)) {
      ++pos_;
      return Value(kStringVariableBit | static_cast<uint32_t>(id[3] - '0'));
    }
    if (auto d = defines_.find(id); d != defines_.end() && !d->second.value && !IsExprOp(1)) {
      ++pos_;
      return d->second;
    }
    // A lone name that is no constant yet: a table defined further down.
    if (!defines_.count(id) && !tables_.count(id) && !IsExprOp(1) && (pos_ + 1 == tokens_->size() || IsPunct(",", 1) || IsPunct("->", 1))) {
      ++pos_;
      Operand op;
      op.value = true;
      op.table = id;
      return op;
    }
    return ConstOperand();
  }

  std::optional<Operand> ConstOperand() {
    std::optional<int64_t> v = ConstExpr();
    if (!v) return std::nullopt;
    return Value(*v);
  }

  // ---- Instructions ----

  void Emit(uint32_t w) { code_.push_back(w); }

  // Emits the word of an operand read as a source. A constant that is no
  // immediate is first built in the scratch register.
  void EmitSource(const Operand& op) {
    if (!op.table.empty()) fixups_.push_back({Fixup::kCodeWord, code_.size(), op.table, op.tableUse, where_});
    Emit(op.word);
  }

  // The code that builds a large constant in the scratch register.
  void BuildScratch(uint32_t v) {
    const uint32_t r = 0x40000000u | kScratch;
    Emit(0x00010001), Emit(r), Emit(v >> 16);     // mov r254, high half
    Emit(0x0001001B), Emit(r), Emit(16);          // shl r254, 16
    Emit(0x00010007), Emit(r), Emit(v & 0xFFFF);  // or r254, low half
  }

  // Whether an operand reads r254, which building a large constant changes.
  static bool UsesScratch(const Operand& op) {
    if (op.value) return false;
    const uint32_t tag = op.word >> 28;
    return op.reg == kScratch || ((tag == 1 || tag == 2 || tag == 5 || tag == 6 || tag == 7) && (op.word & 0xFFFF) == kScratch);
  }
  static bool NeedsScratch(const Operand& op) { return op.value && op.table.empty() && !Immediate(op.word); }

  // A source operand, ready to emit: a large constant becomes r254.
  Operand AsSource(Operand op) {
    if (op.value && op.table.empty() && !Immediate(op.word)) {
      BuildScratch(op.word);
      Operand r;
      r.word = 0x40000000u | kScratch;
      r.reg = kScratch;
      return r;
    }
    return op;
  }

  bool Destination(const Operand& op) {
    if (op.value) {
      Error("the destination cannot be a constant");
      return false;
    }
    return true;
  }

  std::optional<int> RawRegister() {
    std::optional<Operand> op = ParseOperand();
    if (!op) return std::nullopt;
    if (op->reg < 0) {
      Error("expected a register rN");
      return std::nullopt;
    }
    return op->reg;
  }

  void Instruction(const std::string& m) {
    static const struct {
      const char* name;
      uint32_t op;
    } kBinary[] = {{"mov", 1},  {"add", 2},  {"sub", 3},  {"mul", 4},  {"div", 5},  {"and", 6},  {"or", 7},
                   {"xor", 8},  {"eq", 12},  {"ne", 13},  {"le", 14},  {"ge", 15},  {"lt", 16},  {"gt", 17},
                   {"lor", 18}, {"land", 19}, {"mod", 26}, {"shl", 27}, {"sar", 28}};
    for (const auto& b : kBinary) {
      if (m != b.name) continue;
      std::optional<Operand> dst = ParseOperand();
      if (!dst || !Expect(",")) return;
      std::optional<Operand> src = ParseOperand();
      if (!src || !ExpectEnd() || !Destination(*dst)) return;
      if (NeedsScratch(*src) && UsesScratch(*dst))
        return Error("r254 is the assembler's scratch register; it cannot take a large constant this way");
      Operand s = AsSource(*src);
      Emit(0x00010000 | b.op);
      EmitSource(*dst);
      EmitSource(s);
      return;
    }
    enum Form { kNone, kOne, kDst, kRaw };
    static const struct {
      const char* name;
      uint32_t op;
      Form form;
    } kOthers[] = {{"jmp", 9, kOne},      {"gosub", 11, kOne},       {"not", 20, kRaw},
                   {"end", 21, kNone},    {"nop", 22, kNone},        {"ret", 24, kNone},
                   {"reset", 25, kNone},  {"neg", 29, kRaw},         {"pop", 30, kDst},
                   {"push", 31, kOne},    {"frame_push", 32, kOne},  {"frame_release", 33, kOne}};
    for (const auto& o : kOthers) {
      if (m != o.name) continue;
      switch (o.form) {
        case kNone:
          if (ExpectEnd()) Emit(0x00010000 | o.op);
          return;
        case kRaw: {
          std::optional<int> r = RawRegister();
          if (!r || !ExpectEnd()) return;
          Emit(0x00010000 | o.op);
          Emit(static_cast<uint32_t>(*r));
          return;
        }
        case kDst:
        case kOne: {
          std::optional<Operand> op = ParseOperand();
          if (!op || !ExpectEnd()) return;
          if (o.form == kDst && !Destination(*op)) return;
          Operand s = AsSource(*op);
          Emit(0x00010000 | o.op);
          EmitSource(s);
          return;
        }
      }
    }
    if (m == "jz") {
      std::optional<Operand> label = ParseOperand();
      if (!label || !Expect(",")) return;
      std::optional<Operand> cond = ParseOperand();
      if (!cond || !ExpectEnd()) return;
      if (!label->value || !label->table.empty()) return Error("jz takes its label as @name or a number");
      Operand c = AsSource(*cond);
      Emit(0x0001000A);
      Emit(label->word);
      EmitSource(c);
      return;
    }
    if (m == "call") return Call();
    Error("unknown instruction " + m);
  }

  void Call() {
    const Token* t = Peek();
    if (!t || t->kind != Token::kIdent) return Error("call needs a command name");
    const CommandInfo* info = command_find(t->text);
    if (!info) return Error("no command named " + t->text);
    ++pos_;
    std::vector<Operand> args;
    if (!AtEnd() && !IsPunct("->")) {
      do {
        std::optional<Operand> op = ParseOperand();
        if (!op) return;
        args.push_back(*op);
      } while (Accept(","));
    }
    int result = kScratch;
    if (Accept("->")) {
      std::optional<int> r = RawRegister();
      if (!r) return;
      result = *r;
    }
    if (!ExpectEnd()) return;
    if (args.size() != info->argc)
      return Error(std::string(info->name) + " takes " + std::to_string(info->argc) + " argument" +
                   (info->argc == 1 ? "" : "s") + ", not " + std::to_string(args.size()));
    bool large = false, scratch = false;
    for (const Operand& a : args) large |= NeedsScratch(a), scratch |= UsesScratch(a);
    if (large && scratch) return Error("r254 is the assembler's scratch register; pass it with no large constant beside it");
    // The handler pops its first argument first: push from the last.
    for (size_t i = args.size(); i-- > 0;) {
      Operand s = AsSource(args[i]);
      Emit(0x0001001F);
      EmitSource(s);
    }
    Emit(kCall);
    Emit(command_word(info->group, info->index));
    Emit(static_cast<uint32_t>(result));
  }

  // ---- Output ----

  static void Header(std::vector<uint8_t>* out, const char* tag, uint32_t count, bool scrambled) {
    out->assign(kTableHeaderBytes, 0);
    (*out)[0] = scrambled ? kScrambledMark : '#';
    for (int i = 0; i < 3 && tag[i]; ++i) (*out)[1 + i] = static_cast<uint8_t>(tag[i]);
    for (int i = 0; i < 4; ++i) (*out)[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  }
  static void Put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  static void ScrambleTable(std::vector<uint8_t>* table, bool scrambled) {
    if (scrambled) data_scramble(table->data() + kTableHeaderBytes, table->size() - kTableHeaderBytes);
  }

  void Build() {
    for (const std::string& name : labelOrder_) {
      const Label& l = labels_[name];
      if (!l.defined) {
        where_ = l.where;
        Error("label " + name + " is used but never defined");
      }
    }
    for (const Fixup& f : fixups_) {
      auto tb = tables_.find(f.table);
      if (tb == tables_.end()) {
        where_ = f.where;
        Error("unknown name " + f.table);
        continue;
      }
      uint32_t v = f.use == Operand::kTableDescriptor ? tb->second.descriptor : tb->second.first;
      if (f.kind == Fixup::kCodeWord && f.use == Operand::kTableFirst && (code_[f.at] >> 28) == 0)
        code_[f.at] = v;  // a plain value
      else
        code_[f.at] |= v << 16;  // the offset field of a memory operand
    }
    uint32_t entry = kScriptHeaderBytes;
    if (!entry_.empty()) {
      auto it = labels_.find(entry_);
      if (it == labels_.end() || !it->second.defined) {
        where_ = entryWhere_;
        Error("entry label " + entry_ + " is not defined");
      } else {
        entry = kScriptHeaderBytes + it->second.offset;
      }
    }
    if (textWords_ > kMaxTextWords) Error("more than 200000 texts");
    if (!errors_.empty()) return;

    // Script.src
    std::vector<uint8_t>& s = out_->script;
    s.clear();
    Put32(&s, kScriptMagic);
    Put32(&s, stamp_);
    Put32(&s, entry);
    for (uint32_t w : code_) Put32(&s, w);
    for (const std::string& name : labelOrder_) {
      out_->labelPc[name] = kScriptHeaderBytes + labels_[name].offset;
      out_->labelNumber[name] = labels_[name].number;
    }

    // Point.dat: label L at size - 4L, so the last label comes first.
    Header(&out_->point, "PNT", static_cast<uint32_t>(labelOrder_.size()), scramblePoint_);
    for (size_t i = labelOrder_.size(); i-- > 0;) Put32(&out_->point, labels_[labelOrder_[i]].offset);
    ScrambleTable(&out_->point, scramblePoint_);

    Header(&out_->mem, "MEM", static_cast<uint32_t>(mem_.size()), scrambleMem_);
    for (uint32_t v : mem_) Put32(&out_->mem, v);
    ScrambleTable(&out_->mem, scrambleMem_);

    Header(&out_->file, "FIL", static_cast<uint32_t>(fileNames_.size()), scrambleFile_);
    for (const std::string& name : fileNames_) {
      size_t at = out_->file.size();
      out_->file.resize(at + kFileRecordBytes, 0);
      std::memcpy(out_->file.data() + at, name.data(), name.size());
    }
    ScrambleTable(&out_->file, scrambleFile_);

    Header(&out_->text, "TXT", textWords_, scrambleText_);
    out_->text.insert(out_->text.end(), textBody_.begin(), textBody_.end());
    ScrambleTable(&out_->text, scrambleText_);

    BuildGraphic();

    out_->hasArchive = !archive_.empty();
    out_->archive.clear();
    for (size_t i = 0; i < archive_.size(); ++i) {
      if (i) out_->archive += ",\r\n";
      out_->archive += archive_[i];
    }
    if (out_->hasArchive) out_->archive += "\r\n";
  }

  void BuildGraphic() {
    std::vector<uint8_t>& g = out_->graphic;
    Header(&g, "GRP", static_cast<uint32_t>(graphics_.size()), scrambleGraphic_);
    g.resize(kGraphicRecordsOffset, 0);
    std::vector<const GraphicEntry*> sorted;
    for (const GraphicEntry& e : graphics_) sorted.push_back(&e);
    std::stable_sort(sorted.begin(), sorted.end(), [](const GraphicEntry* a, const GraphicEntry* b) {
      return static_cast<uint8_t>(a->name[0]) < static_cast<uint8_t>(b->name[0]);
    });
    uint32_t offset = 0;
    for (size_t i = 0; i < sorted.size();) {
      const auto b = static_cast<uint8_t>(sorted[i]->name[0]);
      size_t j = i;
      while (j < sorted.size() && static_cast<uint8_t>(sorted[j]->name[0]) == b) ++j;
      uint8_t* bucket = g.data() + kGraphicBucketTableOffset + 8 * b;
      bucket[0] = static_cast<uint8_t>(j - i);
      bucket[1] = static_cast<uint8_t>((j - i) >> 8);
      for (int k = 0; k < 4; ++k) bucket[4 + k] = static_cast<uint8_t>(offset >> (8 * k));
      offset += static_cast<uint32_t>((j - i) * kGraphicRecordSize);
      i = j;
    }
    for (const GraphicEntry* e : sorted) {
      auto name = [&](const std::string& s) {
        size_t at = g.size();
        g.resize(at + kGraphicNameBytes, 0);
        std::memcpy(g.data() + at, s.data(), s.size());
      };
      name(e->name);
      Put32(&g, e->flags);
      name(e->file);
      name(e->motion);
      for (int32_t v : {e->priority, e->render, e->moveX, e->moveY, e->scale}) Put32(&g, static_cast<uint32_t>(v));
      Put32(&g, e->colour);
      Put32(&g, static_cast<uint32_t>(e->centreX));
      Put32(&g, static_cast<uint32_t>(e->centreY));
    }
    ScrambleTable(&g, scrambleGraphic_);
  }

  Output* out_;
  const Options& options_;
  std::vector<std::string> errors_;
  std::string where_;
  const std::vector<Token>* tokens_ = nullptr;
  size_t pos_ = 0;

  std::vector<uint32_t> code_;
  std::map<std::string, Label> labels_;
  std::vector<std::string> labelOrder_;
  std::map<std::string, Operand> defines_;
  std::map<std::string, uint32_t> texts_;
  std::vector<uint8_t> textBody_;
  uint32_t textWords_ = 0;
  std::map<std::string, uint32_t> files_;
  std::vector<std::string> fileNames_;
  std::map<std::string, Table> tables_;
  std::vector<uint32_t> mem_;
  std::vector<Fixup> fixups_;
  std::vector<GraphicEntry> graphics_;
  std::vector<std::string> archive_;
  uint32_t stamp_ = 0;
  std::string entry_, entryWhere_;
  bool scrambleText_ = false, scrambleFile_ = false, scrambleMem_ = false, scramblePoint_ = false,
       scrambleGraphic_ = false;
};

}  // namespace

bool Assemble(std::string_view source, const std::string& name, Output* out, std::string* error,
              const Options& options) {
  *out = Output{};
  Assembler a(out, options);
  a.Source(source, name, 0);
  return a.Finish(error);
}

bool AssembleFile(const std::string& path, Output* out, std::string* error, const Options& options) {
  std::string content;
  if (options.readFile) {
    if (!options.readFile(path, &content)) {
      *error = "cannot read " + path + "\n";
      return false;
    }
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      *error = "cannot read " + path + "\n";
      return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
  }
  return Assemble(content, path, out, error, options);
}

bool WriteOutput(const Output& out, const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    *error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  auto write = [&](const char* name, const void* data, size_t size) {
    std::string path = (std::filesystem::path(dir) / name).string();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) {
      *error = "cannot write " + path;
      return false;
    }
    return true;
  };
  return write("Script.src", out.script.data(), out.script.size()) &&
         write("Text.dat", out.text.data(), out.text.size()) &&
         write("File.dat", out.file.data(), out.file.size()) &&
         write("Point.dat", out.point.data(), out.point.size()) &&
         write("Mem.dat", out.mem.data(), out.mem.size()) &&
         write("graphic.dat", out.graphic.data(), out.graphic.size()) &&
         (!out.hasArchive || write("archive.dat", out.archive.data(), out.archive.size()));
}

void ScrambleBody(std::span<uint8_t> body) { data_scramble(body.data(), body.size()); }

std::vector<uint8_t> TableFile(uint32_t count, std::span<const uint8_t> body, bool scramble) {
  // Sized once and filled in place (growing a 16-byte vector by insert trips
  // a false array-bounds warning of GCC 12).
  std::vector<uint8_t> out(kTableHeaderBytes + body.size(), 0);
  out[0] = scramble ? kScrambledMark : '#';
  out[1] = 'T', out[2] = 'B', out[3] = 'L';
  for (int i = 0; i < 4; ++i) out[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  if (!body.empty()) std::memcpy(out.data() + kTableHeaderBytes, body.data(), body.size());
  if (scramble) data_scramble(out.data() + kTableHeaderBytes, out.size() - kTableHeaderBytes);
  return out;
}

}  // namespace kasm
