// Command groups 15 (debug and message commands) and 18 (strings, the
// player name, image-seen flags and a few odd jobs). Every write into a
// string variable is cut to 254 bytes and a terminating zero; a destination
// must be a string variable 0-7, anything else is refused.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/script_tables.h"
#include "data/system_dat.h"
#include "kiv.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/core/shell_open.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "start/program_identity.h"
#include "strings/strings.h"
#include "text/text_layout.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

constexpr size_t kVariableText = kStringVariableBytes - 1;  // 254
constexpr size_t kOperandBytes = 4 + 520;

struct Operand {
  uint8_t entry[kOperandBytes];
  const char* text() const { return string_operand_text(entry); }
  size_t size() const { return strnlen(text(), sizeof entry - 4); }
};

void ReadText(VmContext* ctx, uint32_t operand, Operand* out) { get_string_operand(ctx, operand, out->entry); }

// The string variable a destination operand names; null (logged) for
// anything else.
char* Destination(VmContext* ctx, uint32_t operand, const char* command) {
  if (!(operand & kStringVariableBit)) {
    game_debug_log(kDebugWindowError, "%s", plat::Sjis(command));
    return nullptr;
  }
  const uint32_t slot = operand & ~kStringVariableBit;
  if (!index_in(slot, kStringVariableCount, "string variable")) return nullptr;
  return ctx->stringVariables[slot];
}

// Stores text into a variable: at most 254 bytes on a whole character, and
// the rest of the variable zero.
void Store(char* var, const char* text, size_t n) {
  n = sjis_whole_prefix(text, n, kVariableText);
  char tmp[kStringVariableBytes] = {};
  std::memcpy(tmp, text, n);
  std::memcpy(var, tmp, sizeof tmp);
}

uint32_t PopU(VmContext* ctx) { return static_cast<uint32_t>(value_stack_pop(ctx)); }

// ---- Group 15 ----

int CmdDebugPrint(VmContext* ctx) {
  const uint32_t text = PopU(ctx);
  if (!KivDebugIs()) return 1;
  Operand t;
  ReadText(ctx, text, &t);
  // The script's text is a line, never a format.
  game_debug_puts(kDebugWindowOutput, t.text());
  return 1;
}

int CmdMessageBox(VmContext* ctx) {
  Operand t;
  ReadText(ctx, PopU(ctx), &t);
  // Owned by the game window: modal over it and kept above it, full screen too.
  plat::MessageBox(static_cast<plat::Window*>(KivGetWindowHandle()), t.text(), "messagebox", plat::kMbOk);
  return 1;
}

std::string ProductTitle() {
  KivSystemParameters p{};
  KivGetSystemParameters(&p);
  if (p.title) return p.title;
  return program_identity().productName;
}

int CmdDebugSetWindowTitle(VmContext* ctx) {
  const uint32_t text = PopU(ctx);
  if (!KivDebugIs()) return 1;
  std::string title = ProductTitle();
  if (text != kNoOperand) {
    Operand t;
    ReadText(ctx, text, &t);
    char shown[kTextBufferBytes];
    text_convert(ctx, shown, t.text());
    title += " - ";
    title += shown;
  }
  KivWindowSetTitle(title.c_str());
  return 1;
}

int CmdImageSeenFill(VmContext* ctx) {
  image_seen_fill_all(game_record_of(ctx));
  return 1;
}

int CmdDebugOutput(VmContext* ctx) {
  const uint32_t format = PopU(ctx);
  int32_t values[7];
  for (int32_t& v : values) v = value_stack_pop(ctx);
  if (!KivDebugIs()) return 1;
  Operand f;
  ReadText(ctx, format, &f);
  const std::string line = debug_output_expand(ctx, f.text(), values);
  plat::DebugOutput(line);
  game_debug_puts(kDebugWindowOutput, line.c_str());
  return 1;
}

int CmdDebugWindowSetState(VmContext* ctx) {
  KivDebugWindowSetState(value_stack_pop(ctx));
  return 1;
}

int CmdDebugWindowGetState(VmContext* ctx) {
  command_set_result(ctx, KivDebugWindowGetState());
  return 1;
}

int CmdBaseRegisterGet(VmContext* ctx) {
  command_set_result(ctx, ctx->baseRegister);
  return 1;
}

// ---- Group 18 ----

int CmdAppExec(VmContext* ctx) {
  uint8_t rec[kFileRecordBytes];
  const bool ok = get_record_operand(ctx, PopU(ctx), rec, false);
  std::string name(reinterpret_cast<const char*>(rec), strnlen(reinterpret_cast<const char*>(rec), sizeof rec));
  game_debug_log(kDebugWindowCommand, "app_exec  %s", name.c_str());
  if (!ok || name.empty()) return 1;
  // Resolved against the base folder; the process's directory stays.
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.front() != '/') {
    std::string base = KivGetFilePath();
    std::replace(base.begin(), base.end(), '\\', '/');
    path = base + "/" + path;
  }
  plat::ShellOpen(plat::Cp932ToUtf8(path));
  return 1;
}

int CmdIsPlayerName(VmContext* ctx) {
  command_set_result(ctx, ctx->playerName.changed);
  game_debug_log(kDebugWindowCommand, "is_playername ret[%d]", ctx->playerName.changed);
  return 1;
}

int CmdStrstrf(VmContext* ctx) {
  Operand a, b;
  ReadText(ctx, PopU(ctx), &a);
  ReadText(ctx, PopU(ctx), &b);
  command_set_result(ctx, std::strstr(a.text(), b.text()) ? 1 : 0);
  return 1;
}

int CmdStrcatf(VmContext* ctx) {
  const uint32_t dst = PopU(ctx);
  Operand t;
  ReadText(ctx, PopU(ctx), &t);
  char* var = Destination(ctx, dst, "strcatf : string型以外の型を指定しました。");
  if (!var) return 1;
  std::string s(var, strnlen(var, kVariableText));
  s.append(t.text(), t.size());
  Store(var, s.data(), s.size());
  return 1;
}

int CmdStrgetcf(VmContext* ctx) {
  Operand t;
  ReadText(ctx, PopU(ctx), &t);
  const int32_t start = value_stack_pop(ctx);
  const int32_t count = value_stack_pop(ctx);
  const int64_t len = static_cast<int64_t>(t.size());
  // The bytes asked for, bounded by the text.
  const int64_t from = std::clamp<int64_t>(start, 0, len);
  const int64_t n = std::clamp<int64_t>(count, 0, len - from);
  std::string part(t.text() + from, static_cast<size_t>(n));
  const int32_t value = std::atoi(part.c_str());
  command_set_result(ctx, value);
  game_debug_log(kDebugWindowCommand, "[%d]strgetcf %s, %d, %d", value, t.text(), start, count);
  return 1;
}

int CmdString(VmContext* ctx) {
  const int32_t slot = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "string %d", slot);
  if (!index_in(slot, kStringVariableCount, "string variable")) {
    command_set_result(ctx, static_cast<int32_t>(kNoOperand));
    return 1;
  }
  std::memset(ctx->stringVariables[slot], 0, kStringVariableBytes);
  command_set_result(ctx, slot | static_cast<int32_t>(kStringVariableBit));
  return 1;
}

int CmdStrcpyf(VmContext* ctx) {
  const uint32_t dst = PopU(ctx);
  Operand t;
  ReadText(ctx, PopU(ctx), &t);
  int32_t length = value_stack_pop(ctx);
  char* var = Destination(ctx, dst, "strcpyf : string型以外の型を指定しました。");
  if (!var) return 1;
  const size_t tlen = t.size();
  if (length == -1) length = static_cast<int32_t>(std::min(tlen, kVariableText));
  length = std::clamp<int32_t>(length, 0, static_cast<int32_t>(kVariableText));
  // As strncpy: the text's bytes, then zeros up to length; no terminator
  // when the text is as long or longer (byte 254 always stays zero).
  const size_t copy = sjis_whole_prefix(t.text(), std::min<size_t>(tlen, static_cast<size_t>(length)),
                                        static_cast<size_t>(length));
  std::memcpy(var, t.text(), copy);
  std::memset(var + copy, 0, static_cast<size_t>(length) - copy);
  var[kVariableText] = 0;
  return 1;
}

}  // namespace

bool game_file_exists(const char* name) {
  KivFileInfo info{};
  const intptr_t f = KivFileCreate(name, &info);
  if (f == KIV_INVALID_FILE) return false;
  plat::FileClose(f);
  return true;
}

namespace {

int CmdFileExist(VmContext* ctx) {
  uint8_t rec[kFileRecordBytes];
  const bool named = get_record_operand(ctx, PopU(ctx), rec, false);
  char name[kFileRecordBytes + 1] = {};
  std::memcpy(name, rec, sizeof rec);
  const int found = (named && name[0] && game_file_exists(name)) ? 1 : 0;
  command_set_result(ctx, found);
  game_debug_log(kDebugWindowCommand, "[%d] file_exist %s", found, name);
  return 1;
}

int CmdWsprint(VmContext* ctx) {
  const uint32_t dst = PopU(ctx);
  const uint32_t format = PopU(ctx);
  int32_t values[8];
  for (int32_t& v : values) v = value_stack_pop(ctx);
  char* var = Destination(ctx, dst, "wsprint : string型以外の型を指定しました。");
  if (!var) return 1;
  Operand f;
  ReadText(ctx, format, &f);
  const std::string out = wsprint_expand(ctx, f.text(), values);
  Store(var, out.data(), out.size());
  return 1;
}

int CmdIsDebug(VmContext* ctx) {
  command_set_result(ctx, KivDebugIs());
  return 1;
}

int CmdIsImageSeen(VmContext* ctx) {
  const GameRecord* g = game_record_of(ctx);
  int bits = 0;
  for (int i = 0; i < 8; ++i) {
    const uint32_t image = PopU(ctx);
    if (image != kNoOperand) bits |= image_seen_bits(g, image);
  }
  command_set_result(ctx, bits);
  return 1;
}

int CmdImageSeenSet(VmContext* ctx) {
  set_image_seen(game_record_of(ctx), PopU(ctx));
  return 1;
}

int CmdImageSeenClear(VmContext* ctx) {
  image_seen_clear_new(game_record_of(ctx), PopU(ctx));
  return 1;
}

int CmdRetOne(VmContext* ctx) {
  command_set_result(ctx, 1);
  return 1;
}

int CmdSetWindowTitle(VmContext* ctx) {
  const uint32_t text = PopU(ctx);
  if (text != kNoOperand) {
    Operand t;
    ReadText(ctx, text, &t);
    KivWindowSetTitle(t.text());
  }
  command_yield(ctx);
  return 1;
}

int CmdStrreplace(VmContext* ctx) {
  const uint32_t dst = PopU(ctx);
  Operand search, replacement;
  ReadText(ctx, PopU(ctx), &search);
  ReadText(ctx, PopU(ctx), &replacement);
  char* var = Destination(ctx, dst, "strreplace : string型以外の型を指定しました。");
  if (!var) return 1;
  const char* at = std::strstr(var, search.text());
  if (!at) return 1;
  // Overwrites in place from the match; nothing moves, no zero is added,
  // and nothing is written past byte 253.
  const size_t from = static_cast<size_t>(at - var);
  const size_t n = std::min(replacement.size(), kVariableText - from);
  std::memcpy(var + from, replacement.text(), n);
  return 1;
}


}  // namespace

GameRecord* game_record_of(VmContext* ctx) {
  return reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
}

int cmd_set_playername(VmContext* ctx);  // player_name.cpp

void string_debug_commands_install() {
  static const CommandBinding kCommands[] = {
      {"debug_print", CmdDebugPrint},
      {"messagebox", CmdMessageBox},
      {"debug_set_window_title", CmdDebugSetWindowTitle},
      {"image_seen_fill", CmdImageSeenFill},
      {"debug_output", CmdDebugOutput},
      {"debug_window_set_state", CmdDebugWindowSetState},
      {"debug_window_get_state", CmdDebugWindowGetState},
      {"base_register_get", CmdBaseRegisterGet},
      {"set_playername", cmd_set_playername},
      {"app_exec", CmdAppExec},
      {"is_playername", CmdIsPlayerName},
      {"strstrf", CmdStrstrf},
      {"strcatf", CmdStrcatf},
      {"strgetcf", CmdStrgetcf},
      {"string", CmdString},
      {"strcpyf", CmdStrcpyf},
      {"file_exist", CmdFileExist},
      {"wsprint", CmdWsprint},
      {"is_debug", CmdIsDebug},
      {"is_image_seen", CmdIsImageSeen},
      {"image_seen_set", CmdImageSeenSet},
      {"image_seen_clear", CmdImageSeenClear},
      {"ret_one", CmdRetOne},
      {"set_window_title", CmdSetWindowTitle},
      {"strreplace", CmdStrreplace},
  };
  command_bind_all(kCommands);
}
