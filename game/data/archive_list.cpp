// archive.dat: which archive folders the engine searches, by set.
#include "data/archive_list.h"

#include <cstring>
#include <string>

#include "start/game_debug_log.h"
#include "kiv.h"
#include "platform/core/file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"

namespace {

// The longest set the game accepts, as written in the file.
constexpr size_t kMaxSetBytes = 259;

int Fail(const char* text) {
  plat::MessageBox(nullptr, text, "error", plat::kMbIconWarning);
  return 0;
}

}  // namespace

bool archive_set_names(std::string_view text, int set, std::vector<std::string>* names) {
  names->clear();
  if (set < 0) return false;
  // The text ends at its first NUL, as a C string would.
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  size_t start = 0;
  for (int i = 0; i < set; ++i) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
  size_t end = text.find(',', start);
  std::string_view field = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
  if (field.size() > kMaxSetBytes) {
    game_debug_log(kDebugWindowError, "archive.dat: set %d is %zu bytes long, more than %zu", set, field.size(),
                   kMaxSetBytes);
    return false;
  }
  std::string name;
  auto flush = [&] {
    if (!name.empty()) names->push_back(name);
    name.clear();
  };
  for (char c : field) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '|')
      flush();
    else
      name.push_back(c);
  }
  flush();
  return true;
}

bool archive_list_read(int set, std::vector<std::string>* names) {
  names->clear();
  const char* base = KivGetFilePath();
  std::string path = std::string(base ? base : "") + "\\data\\archive.dat";
  KivFileInfo info{};
  intptr_t f = KivFileCreate(path.c_str(), &info);
  if (f == KIV_INVALID_FILE) return Fail("ArchiveData Fail");
  auto* buf = static_cast<char*>(info.size < 0x7FFFFFF0u ? KivMemoryAlloc(static_cast<int>(info.size + 1), 1) : nullptr);
  if (!buf) {
    plat::FileClose(f);
    return Fail("ArchiveData Memory Allocate");
  }
  size_t done = 0;
  while (done < info.size) {
    size_t got = 0;
    if (!plat::FileRead(f, buf + done, info.size - done, &got) || got == 0) break;
    done += got;
  }
  plat::FileClose(f);
  const bool read = done == info.size;
  const bool found = read && archive_set_names(std::string_view(buf, info.size), set, names);
  KivMemoryFree(buf);
  if (!found) return Fail("ArchiveData Read Fail");
  return true;
}

int archive_list_load(int set) {
  // "data" is searched even when archive.dat cannot be read: the script
  // and its tables are loose files there.
  KivSystemPathSet("data");
  std::vector<std::string> names;
  if (!archive_list_read(set, &names)) return 0;
  for (const std::string& name : names) KivSystemPathSet(name.c_str());
  return 1;
}
