#include "data/config_dat.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"
#include "data/save_folder.h"

namespace {

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

void config_apply(const uint8_t* bytes, size_t size, KivSystemParameters* p) {
  int32_t words[kConfigWords];
  int n = config_words_read(bytes, size, words);
  for (int word = 0; word < n; ++word) {
    int32_t v = words[word];
    switch (word) {
      case 0: p->x = v; break;  // an off-screen position is re-centred by KivInit
      case 1: p->y = v; break;
      case 2: if (InRange(v, 1, 16384)) p->clientWidth = v; break;
      case 3: if (InRange(v, 1, 16384)) p->clientHeight = v; break;
      case 4: p->mode = static_cast<uint32_t>(v); break;
      case 5: if (InRange(v, 0, 63)) p->adapter = v; break;
      case 6: if (InRange(v, 0, 3)) p->aspect = v; break;
      case 7: if (InRange(v, 0, 2)) p->pacing = v; break;
    }
  }
}

void config_bytes(const KivSystemParameters& p, uint8_t out[32]) {
  int32_t words[kConfigWords] = {p.x, p.y, p.clientWidth, p.clientHeight, static_cast<int32_t>(p.mode),
                                 p.adapter, p.aspect, p.pacing};
  config_words_bytes(words, out);
}

int config_load(KivSystemParameters* params) {
  std::string path = save_path("config.dat");
  std::vector<uint8_t> bytes;
  if (plat::ReadWholeFile(path, &bytes, 4096)) {
    config_apply(bytes.data(), bytes.size(), params);
    return 1;
  }
  // No file yet: it is made from the parameters as they stand. A file that
  // cannot be made is skipped; the game runs on its own values.
  uint8_t out[32];
  config_bytes(*params, out);
  plat::WriteFileAtomic(path, out, sizeof out);
  return 1;
}

int config_save() {
  KivSystemParameters p;
  KivGetSystemParameters(&p);
  p.mode |= KIV_MODE_GPU;
  uint8_t out[32];
  config_bytes(p, out);
  std::string path = save_path("config.dat");
  if (plat::WriteFileAtomic(path, out, sizeof out)) return 1;
  // The path, and the reason the system gave.
  std::string text = std::string(plat::Sjis("コンフィグ情報の保存に失敗しました。\n")) + path + "\n" +
                     plat::Utf8ToCp932(std::strerror(errno));
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis("エラー報告"), plat::kMbOk | plat::kMbIconWarning);
  return 0;
}
