#include "start/debug_windows.h"

#include <string>

#include "kiv.h"
#include "platform/core/ini_file.h"
#include "platform/core/text_encoding.h"
#include "start/program_identity.h"

namespace {

struct DebugWindowEntry {
  const char* key;
  int id;
  const char* title;  // UTF-8 here, Shift-JIS when shown
  int kind;
};

constexpr DebugWindowEntry kWindows[] = {
    {"History", 10, "履歴", 1},          {"UserMemory", 11, "ユーザーメモリ", 3},
    {"SystemMemory", 12, "システムメモリ", 3}, {"TempMemory", 13, "テンポラリメモリ", 3},
    {"SE", 14, "ＳＥチャンネル", 3},      {"BGM", 15, "ＢＧＭチャンネル", 3},
    {"Output", 16, "output", 1},         {"EBP", 17, "EBP", 3},
    {"ESP", 18, "ESP", 3},
};

}  // namespace

void debug_windows_create() {
  std::string ini = std::string(KivGetFilePath()) + "\\" + program_identity().originalFilename + ".ini";
  for (const DebugWindowEntry& w : kWindows)
    if (plat::IniGetInt("DebugWindow", w.key, 1, ini)) KivDebugWindowCreate(w.id, plat::Sjis(w.title), w.kind);
}
