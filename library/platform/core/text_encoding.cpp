#include "platform/core/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {

namespace {

std::string Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
      continue;
    }
    // Invalid or truncated input: emit '?' and skip one byte.
    if (dst_left == 0) {
      size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
    }
    *dst++ = '?';
    --dst_left;
    ++src;
    --src_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  bool ascii = true;
  for (unsigned char c : cp932) ascii &= c < 0x80;
  if (ascii) return std::string(cp932);
  return Convert("UTF-8", "CP932", cp932);
}

std::string Utf8ToCp932(std::string_view utf8) {
  bool ascii = true;
  for (unsigned char c : utf8) ascii &= c < 0x80;
  if (ascii) return std::string(utf8);
  return Convert("CP932", "UTF-8", utf8);
}

uint32_t Cp932CodeToUnicode(uint32_t code) {
  static std::vector<uint16_t> table;
  static std::once_flag once;
  std::call_once(once, [] {
    table.assign(0x10000, 0);
    for (uint32_t c = 0x20; c < 0x7F; ++c) table[c] = static_cast<uint16_t>(c);
    iconv_t cd = iconv_open("UTF-16LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    auto one = [&](const char* in, size_t n) -> uint16_t {
      char out[8];
      char* src = const_cast<char*>(in);
      char* dst = out;
      size_t sl = n, dl = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &src, &sl, &dst, &dl) == static_cast<size_t>(-1) || dst - out != 2) return 0;
      return static_cast<uint16_t>(static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
    };
    for (uint32_t c = 0xA1; c <= 0xDF; ++c) {  // half-width katakana
      const char b = static_cast<char>(c);
      table[c] = one(&b, 1);
    }
    for (uint32_t lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsSjisLead(static_cast<unsigned char>(lead))) continue;
      for (uint32_t trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        const char b[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        table[lead << 8 | trail] = one(b, 2);
      }
    }
    iconv_close(cd);
  });
  return code < table.size() ? table[code] : 0;
}

const char* Sjis(const char* utf8_literal) {
  static std::mutex mutex;
  static std::map<const char*, std::unique_ptr<std::string>> cache;
  std::lock_guard lock(mutex);
  auto& slot = cache[utf8_literal];
  if (!slot) slot = std::make_unique<std::string>(Utf8ToCp932(utf8_literal));
  return slot->c_str();
}

}  // namespace plat
