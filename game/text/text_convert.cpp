// text_convert: the player name and variable values written into a text
// before it is laid out and stored. "&" kind separator index "]" becomes
// the value in full-width digits; a reference that is malformed, of an
// unknown kind or out of range stays as it was written. The destination
// holds 511 bytes and a zero byte; what does not fit is cut at a whole
// character.
#include <cstdio>
#include <cstring>

#include "data/system_data.h"
#include "text/text_layout.h"
#include "vm/checked_index.h"
#include "vm/vm_context.h"

#include "component_entries.h"

namespace {

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

struct Out {
  char* dst;
  size_t n = 0;
  bool full = false;
  // Appends a whole character (or nothing once it would not fit).
  bool Put(const char* s, size_t len) {
    if (full || n + len > kTextBufferBytes - 1) {
      full = true;
      return false;
    }
    std::memcpy(dst + n, s, len);
    n += len;
    return true;
  }
};

// Length of the character at p (1 or 2; a lead byte before the end is 1).
size_t CharLen(const unsigned char* p) {
  if ((IsLead(*p) || (*p == '%' && p[1] >= '0' && p[1] <= '9')) && p[1]) return 2;
  return 1;
}

// Parses "&" kind sep digits "]" at p; the value and the bytes it spans.
bool Reference(const TextConvertSources& s, const unsigned char* p, int32_t* value, size_t* used) {
  const unsigned char kind = p[1];
  const int32_t* bank = nullptr;
  int64_t limit = 0;
  const char* what = "";
  if (kind == 'f') bank = s.systemVariables, limit = kSystemVariableWords, what = "text &f index";
  else if (kind == 'm') bank = s.userMemory, limit = kUserMemoryWords, what = "text &m index";
  else if (kind == 't') bank = s.tempArea, limit = kTempAreaWords, what = "text &t index";
  else return false;
  if (!p[2]) return false;  // the separator byte
  const unsigned char* q = p + 3;
  int64_t index = 0;
  int digits = 0;
  while (*q >= '0' && *q <= '9' && digits < 10) {
    index = index * 10 + (*q++ - '0');
    ++digits;
  }
  if (!digits || *q != ']') return false;
  if (!bank || !index_in(index, limit, what)) return false;
  *value = bank[index];
  *used = static_cast<size_t>(q + 1 - p);
  return true;
}

void PutNumber(Out& out, int32_t v) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(v < 0 ? -static_cast<int64_t>(v) : v));
  // The digits of one value go in whole or not at all.
  const size_t need = (v < 0 ? 2 : 0) + 2 * std::strlen(digits);
  if (out.full || out.n + need > kTextBufferBytes - 1) {
    out.full = true;
    return;
  }
  if (v < 0) out.Put("\x81\x7C", 2);
  for (const char* d = digits; *d; ++d) {
    const char fw[2] = {'\x82', static_cast<char>(0x4F + (*d - '0'))};
    out.Put(fw, 2);
  }
}

}  // namespace

void text_name_sanitize(char* name) {
  if (!name) return;
  auto* r = reinterpret_cast<unsigned char*>(name);
  unsigned char* w = r;
  while (*r) {
    if (IsLead(*r) && r[1]) {
      *w++ = *r++;
      *w++ = *r++;
      continue;
    }
    if (*r != '<' && *r != '&' && *r != '%') *w++ = *r;
    ++r;
  }
  *w = 0;
}

void text_convert(const TextConvertSources& s, char* dst, const char* src) {
  Out out{dst};
  const auto* p = reinterpret_cast<const unsigned char*>(src ? src : "");
  while (*p && !out.full) {
    if (p[0] == '/' && p[1] == 'n') {
      char name[kTextBufferBytes];
      std::snprintf(name, sizeof name, "%s", s.playerName ? s.playerName : "");
      text_name_sanitize(name);
      for (const auto* q = reinterpret_cast<const unsigned char*>(name); *q && !out.full;) {
        const size_t len = CharLen(q);
        out.Put(reinterpret_cast<const char*>(q), len);
        q += len;
      }
      p += 2;
      continue;
    }
    if (*p == '&') {
      int32_t v = 0;
      size_t used = 0;
      if (Reference(s, p, &v, &used)) {
        PutNumber(out, v);
        p += used;
        continue;
      }
      out.Put("&", 1);  // copied literally
      ++p;
      continue;
    }
    if (*p == '<') {
      // A tag goes in whole (up to and including ">"), or not at all.
      const unsigned char* q = p;
      while (*q && *q != '>') ++q;
      if (*q) ++q;
      out.Put(reinterpret_cast<const char*>(p), static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    const size_t len = CharLen(p);
    out.Put(reinterpret_cast<const char*>(p), len);
    p += len;
  }
  dst[out.n] = 0;
}

void text_convert(VmContext* ctx, char* dst, const char* src) {
  TextConvertSources s{player_name_get(ctx), ctx->systemVariables, ctx->userMemory, ctx->tempArea};
  text_convert(s, dst, src);
}
