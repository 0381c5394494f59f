// The format expansions of wsprint and debug_output. Both walk a Shift-JIS
// format and take one value per escape; neither hands script text to a
// formatter as a format: the integer conversions are parsed here and only a
// conversion that passed that check is formatted.
#include <cstdio>
#include <cstring>

#include "data/script_tables.h"
#include "strings/strings.h"

namespace {

constexpr int kWidthMax = 259;  // largest width or precision

class Output {
 public:
  explicit Output(size_t max) : max_(max) {}
  // Appends on whole characters; once a character did not fit nothing
  // more is taken.
  void Append(const char* s, size_t n) {
    if (full_) return;
    const size_t room = max_ - out_.size();
    const size_t take = sjis_whole_prefix(s, n, room);
    out_.append(s, take);
    if (take < n) full_ = true;
  }
  void Append(const char* s) { Append(s, std::strlen(s)); }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  size_t max_;
  bool full_ = false;
};

class Values {
 public:
  explicit Values(std::span<const int32_t> v) : v_(v) {}
  // The next value; past the values given, 0.
  int32_t Next() { return i_ < v_.size() ? v_[i_++] : (++i_, 0); }

 private:
  std::span<const int32_t> v_;
  size_t i_ = 0;
};

void AppendRecord(VmContext* ctx, Output& out, int32_t value) {
  uint8_t rec[kFileRecordBytes];
  if (get_record_operand(ctx, static_cast<uint32_t>(value), rec, false))
    out.Append(reinterpret_cast<const char*>(rec), strnlen(reinterpret_cast<const char*>(rec), sizeof rec));
}

void AppendText(VmContext* ctx, Output& out, int32_t value) {
  uint8_t entry[4 + 260];
  get_string_operand(ctx, static_cast<uint32_t>(value), entry);
  const char* t = string_operand_text(entry);
  out.Append(t, strnlen(t, sizeof entry - 4));
}

// Parses "%[-#0]*[width][.precision][l](d|D|x|X)" at p (p[0] == '%'); the
// length of the conversion, or 0 when it is not one. The long prefix is the
// 32-bit value itself: it is dropped from the conversion made here.
size_t ParseIntConversion(const char* p, char* conv, size_t conv_size) {
  size_t i = 1;
  while (p[i] == '-' || p[i] == '#' || p[i] == '0') ++i;
  auto number = [&](size_t* at) {
    int v = 0;
    size_t start = *at;
    while (p[*at] >= '0' && p[*at] <= '9') {
      v = v * 10 + (p[*at] - '0');
      if (v > kWidthMax) return -1;
      ++*at;
    }
    return *at == start ? 0 : v;
  };
  if (number(&i) < 0) return 0;
  if (p[i] == '.') {
    ++i;
    if (number(&i) < 0) return 0;
  }
  const size_t body = i;  // "%" with flags, width and precision
  const bool prefixed = p[i] == 'l' || p[i] == 'L';
  if (prefixed) ++i;
  const char type = p[i];
  if (type != 'd' && type != 'D' && type != 'x' && type != 'X') return 0;
  ++i;
  if (body + 2 > conv_size) return 0;
  std::memcpy(conv, p, body);
  conv[body] = type == 'D' ? 'd' : type;
  conv[body + 1] = 0;
  return i;
}

}  // namespace

std::string wsprint_expand(VmContext* ctx, const char* format, std::span<const int32_t> values) {
  Output out(kWsprintMax);
  Values v(values);
  // The format is read up to its first 260 bytes.
  const size_t n = strnlen(format, 260);
  std::string fmt(format, n);
  const char* p = fmt.c_str();
  while (*p) {
    const char* pct = std::strchr(p, '%');
    if (!pct) {
      out.Append(p);
      break;
    }
    out.Append(p, static_cast<size_t>(pct - p));
    const char c = pct[1];
    if (c == '%') {
      out.Append("%", 1);
      p = pct + 2;
    } else if (c == 'f' || c == 'F') {
      AppendRecord(ctx, out, v.Next());
      p = pct + 2;
    } else if (c == 't' || c == 'T') {
      AppendText(ctx, out, v.Next());
      p = pct + 2;
    } else {
      char conv[32];
      const size_t len = ParseIntConversion(pct, conv, sizeof conv);
      if (!len) {
        // Not an escape: the "%" stands as it is and no value is used.
        out.Append("%", 1);
        p = pct + 1;
        continue;
      }
      char buf[600];
      const int32_t value = v.Next();
      const size_t last = std::strlen(conv) - 1;
      const bool hex = conv[last] == 'x' || conv[last] == 'X';
      int w = hex ? std::snprintf(buf, sizeof buf, conv, static_cast<unsigned>(value))
                  : std::snprintf(buf, sizeof buf, conv, value);
      if (w > 0) out.Append(buf, std::min<size_t>(static_cast<size_t>(w), sizeof buf - 1));
      p = pct + len;
    }
  }
  return out.Take();
}

std::string debug_output_expand(VmContext* ctx, const char* format, std::span<const int32_t> values) {
  Output out(kDebugOutputMax);
  Values v(values);
  const char* p = format;
  while (*p) {
    const char* pct = std::strchr(p, '%');
    if (!pct) {
      out.Append(p);
      break;
    }
    out.Append(p, static_cast<size_t>(pct - p));
    const char c = pct[1];
    char buf[16];
    switch (c) {
      case '%': out.Append("%", 1); break;
      case 'd':
      case 'D':
        std::snprintf(buf, sizeof buf, "%d", v.Next());
        out.Append(buf);
        break;
      case 'x':
      case 'X':
        std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v.Next()));
        out.Append(buf);
        break;
      case 't':
      case 'T': AppendText(ctx, out, v.Next()); break;
      case 'f':
      case 'F': AppendRecord(ctx, out, v.Next()); break;
      default: break;  // prints nothing, uses no value
    }
    p = c ? pct + 2 : pct + 1;
  }
  return out.Take();
}
