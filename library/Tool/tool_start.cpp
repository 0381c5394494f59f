// The tool's start-up: string table, single-instance lock, the game program
// beside it, the save folder, and config.dat read, defaulted and written.
#include "Tool/tool.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/core/backend.h"
#include "platform/core/file.h"
#include "platform/core/ini_file.h"
#include "platform/core/module.h"
#include "platform/core/text_encoding.h"
#include "platform/core/version_info.h"
#include "platform/window/display.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "shared/save_paths.h"

namespace {

void Box(const char* utf8_text, const char* utf8_caption, uint32_t type) {
  plat::MessageBox(nullptr, plat::Sjis(utf8_text), plat::Sjis(utf8_caption), type);
}

void BoxWith(const char* utf8_text, const std::string& sjis_detail, const char* utf8_caption) {
  std::string text = std::string(plat::Sjis(utf8_text)) + sjis_detail;
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis(utf8_caption), plat::kMbOk | plat::kMbIconWarning);
}

std::string Query(const std::vector<char>& block, const std::string& prefix, const char* key) {
  std::vector<char> v;
  if (!plat::VersionQueryValue(block, prefix + key, &v) || v.empty()) return std::string();
  return std::string(v.data());
}

// Wildcards are never a folder name here: "*" is the ini's "not set".
bool HasPattern(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

ToolState& tool_state() {
  static ToolState state;
  return state;
}

void tool_strings_load(ToolStrings* s, const std::string& program_file) {
  uint32_t size = plat::VersionInfoSize(program_file);
  std::vector<char> block;
  if (size == 0 || !plat::VersionInfoGet(program_file, size, &block)) return;
  std::vector<char> translation;
  char prefix[64];
  if (plat::VersionQueryValue(block, "\\VarFileInfo\\Translation", &translation) && translation.size() >= 4) {
    unsigned lang = static_cast<unsigned char>(translation[0]) | static_cast<unsigned char>(translation[1]) << 8;
    unsigned cp = static_cast<unsigned char>(translation[2]) | static_cast<unsigned char>(translation[3]) << 8;
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", lang, cp);
  } else {
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\041103a4\\");
  }
  s->program = Query(block, prefix, "OriginalFilename");
  s->maker = Query(block, prefix, "CompanyName");
  s->title = Query(block, prefix, "ProductName");
  s->tool_version = Query(block, prefix, "FileVersion");
}

int tool_single_instance(ToolState& state) {
  std::string why;
  switch (state.lock.TryAcquire(state.strings.title, &why)) {
    case plat::InstanceLock::Result::kAcquired:
      return 0;
    case plat::InstanceLock::Result::kHeld:
      return -1;  // the game or another tool runs: leave without a word
    case plat::InstanceLock::Result::kError:
      break;
  }
  BoxWith("起動中のプログラムを確認できませんでした。\n", plat::Utf8ToCp932(why), "エラー");
  return 1;
}

int tool_path_kind(const std::string& path) { return file_exists(path); }

int tool_make_folders(const std::string& path) { return folder_path_create(path); }

std::string tool_module_folder() { return plat::FolderOf(plat::ModuleFileName(nullptr)); }

int tool_game_presence_check(const ToolState& state) {
  if (!state.strings.program.empty() &&
      tool_path_kind(plat::Utf8ToCp932(state.tool_folder) + "\\" + state.strings.program) == 1)
    return 1;
  Box("KeyFileが見つかりません。", "エラー", plat::kMbOk | plat::kMbIconWarning);
  return 0;
}

std::string tool_install_ini_path(const ToolStrings& s) {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return std::string();
    base = std::string(home) + "/.config";
  }
  std::string name = plat::Cp932ToUtf8(s.program);
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
  std::string path = base;
  if (!s.middle.empty()) path += "/" + plat::Cp932ToUtf8(s.middle);
  return path + "/" + name + ".ini";
}

void tool_save_folder_resolve(ToolState& state) {
  std::string folder = plat::Utf8ToCp932(state.tool_folder) + "\\save";
  std::string ini = tool_install_ini_path(state.strings);
  if (!ini.empty() && plat::PathExists(plat::Utf8ToCp932(ini))) {
    // The ini is a file of this desktop: its value is UTF-8. Only an
    // absolute path naming an existing folder is taken, never a pattern.
    std::string v = plat::IniGetString("INSTALL", "SaveFold", "*", plat::Utf8ToCp932(ini));
    std::string sjis = plat::Utf8ToCp932(v);
    if (!HasPattern(v) && plat::IsAbsolutePath(sjis) && tool_path_kind(sjis) == 2) folder = sjis;
  }
  state.save_folder = folder;
  state.save_available = tool_path_kind(folder) == 2 || tool_make_folders(folder);
  if (!state.save_available) Box("saveフォルダの作成に失敗。", "予期せぬエラー", plat::kMbOk | plat::kMbIconWarning);
}

std::string tool_config_path(const ToolState& state) { return state.save_folder + "\\config.dat"; }

void tool_config_default_words(const ToolStrings& s, int32_t words[kConfigWords]) {
  plat::Rect desk = plat::DesktopRect();
  int32_t width = std::atoi(s.width.c_str());
  int32_t height = std::atoi(s.height.c_str());
  uint32_t right = static_cast<uint32_t>(desk.right), bottom = static_cast<uint32_t>(desk.bottom);
  words[kConfigX] = static_cast<uint32_t>(width) < right ? static_cast<int32_t>((right - width) >> 1) : 0;
  words[kConfigY] = static_cast<uint32_t>(height) < bottom ? static_cast<int32_t>((bottom - height) >> 1) : 0;
  words[kConfigWidth] = width;
  words[kConfigHeight] = height;
  words[kConfigMode] = 0x4419;
  words[kConfigAdapter] = 0;
  words[kConfigAspect] = 1;
  words[kConfigSync] = 2;
}

ConfigLoad tool_config_load(ToolState& state, std::string* why) {
  std::string path = tool_config_path(state);
  std::string native = plat::ResolveExisting(path);
  if (native.empty()) return ConfigLoad::kMissing;
  std::vector<uint8_t> bytes;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !plat::ReadWholeFile(path, &bytes, 4096)) {
    if (why) *why = path;
    return ConfigLoad::kUnreadable;
  }
  // A short file gives the words it holds; the rest keep their defaults.
  tool_config_default_words(state.strings, state.words);
  config_words_read(bytes.data(), bytes.size(), state.words);
  // The legacy smoothing bit means bilinear to the engine where a filter
  // group is empty; a group with its own choice keeps it.
  uint32_t mode = static_cast<uint32_t>(state.words[kConfigMode]);
  if (mode & kCfgModeLegacySmooth) {
    if (!(mode & kCfgFullMask)) mode |= kCfgFullBilinear;
    if (!(mode & kCfgTexMask)) mode |= kCfgTexBilinear;
  }
  state.words[kConfigMode] = static_cast<int32_t>(mode);
  return ConfigLoad::kRead;
}

int tool_config_defaults(ToolState& state) {
  tool_config_default_words(state.strings, state.words);
  std::string why;
  return tool_config_store(state, &why);
}

int tool_config_store(const ToolState& state, std::string* why) {
  std::string path = tool_config_path(state);
  if (why) *why = path;
  // A config.dat the player marked read-only is not replaced behind its back.
  std::string native = plat::ResolveExisting(path);
  struct stat st;
  if (!native.empty() && ::stat(native.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR)))
    return 0;
  uint8_t out[kConfigBytes];
  config_words_bytes(state.words, out);
  return plat::WriteFileAtomic(path, out, sizeof out) ? 1 : 0;
}

int tool_save_folder_open(const ToolState& state) {
  std::string native = plat::NativePath(state.save_folder);
  if (plat::MessageBoxBackendKind() == plat::Backend::kHeadless) {
    std::fprintf(stderr, "[open] %s\n", native.c_str());
    return 1;
  }
  GFile* file = g_file_new_for_path(native.c_str());
  char* uri = g_file_get_uri(file);
  GError* error = nullptr;
  bool ok = g_app_info_launch_default_for_uri(uri, nullptr, &error);
  if (error) {
    std::fprintf(stderr, "Senfar: %s: %s\n", native.c_str(), error->message);
    g_error_free(error);
  }
  g_free(uri);
  g_object_unref(file);
  return ok ? 1 : 0;
}

int tool_winmain(int (*run_ui)(ToolState& state)) {
  ToolState& state = tool_state();
  std::string program = plat::ModuleFileName(nullptr);
  tool_strings_load(&state.strings, program);

  int lock = tool_single_instance(state);
  if (lock == -1) return 0;
  if (lock != 0) return lock;

  state.tool_file = program;
  state.tool_folder = plat::FolderOf(program);
  if (!tool_game_presence_check(state)) return 0;
  tool_save_folder_resolve(state);

  std::string why;
  switch (tool_config_load(state, &why)) {
    case ConfigLoad::kRead:
      break;
    case ConfigLoad::kMissing:
      Box("環境設定データを新規で作成します。", "報告", plat::kMbOk);
      if (!tool_config_defaults(state)) {
        Box("環境設定データを作成できませんでした。", "予期せぬエラー", plat::kMbOk | plat::kMbIconWarning);
        return 1;
      }
      break;
    case ConfigLoad::kUnreadable:
      // Kept as it is: it may hold the player's settings.
      BoxWith("環境設定データを読み込めませんでした。\n", why, "エラー");
      return 1;
  }
  return run_ui(state);
}
