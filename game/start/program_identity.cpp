#include "start/program_identity.h"

#include <cstdio>
#include <vector>

#include "kiv.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/module.h"
#include "platform/core/text_encoding.h"
#include "platform/core/version_info.h"
#include "data/save_folder.h"

namespace {

int Fail(const char* utf8) {
  plat::MessageBox(nullptr, plat::Sjis(utf8), plat::Sjis("起動エラー"), plat::kMbOk | plat::kMbIconQuestion);
  return 0;
}

// A string value that is present and not empty, cut to 259 bytes.
bool QueryName(const std::vector<char>& block, const std::string& key, std::string* out) {
  std::vector<char> v;
  if (!plat::VersionQueryValue(block, key, &v) || v.empty() || v[0] == '\0') return false;
  std::string s(v.data());
  *out = s.substr(0, 259);
  return true;
}

}  // namespace

ProgramIdentity& program_identity() {
  static ProgramIdentity identity;
  return identity;
}

int version_identity_load() {
  ProgramIdentity& id = program_identity();
  std::string program = plat::ModuleFileName(nullptr);
  id.saveFolder = plat::Utf8ToCp932(plat::FolderOf(program)) + "\\save";

  uint32_t size = plat::VersionInfoSize(program);
  if (size == 0) return Fail("ファイル情報が見つかりませんでした。[0x0001]");
  std::vector<char> block;
  if (!plat::VersionInfoGet(program, size, &block)) return Fail("ファイル情報が見つかりませんでした。[0x0002]");
  std::vector<char> translation;
  if (!plat::VersionQueryValue(block, "\\VarFileInfo\\Translation", &translation) || translation.size() < 4)
    return Fail("ファイル情報が見つかりませんでした。[0x0003]");
  unsigned lang = static_cast<unsigned char>(translation[0]) | static_cast<unsigned char>(translation[1]) << 8;
  unsigned cp = static_cast<unsigned char>(translation[2]) | static_cast<unsigned char>(translation[3]) << 8;
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", lang, cp);
  if (!QueryName(block, std::string(prefix) + "CompanyName", &id.companyName))
    return Fail("ファイル情報に会社名が見つかりませんでした。[0x0004]");
  if (!QueryName(block, std::string(prefix) + "ProductName", &id.productName))
    return Fail("ファイル情報に製品名が見つかりませんでした。[0x0006]");
  if (!QueryName(block, std::string(prefix) + "OriginalFilename", &id.originalFilename))
    return Fail("ファイル情報に実行ファイル名が見つかりませんでした。[0x0007]");

  if (file_exists(id.saveFolder) != 2 && !folder_path_create(id.saveFolder)) {
    std::string text = std::string(plat::Sjis("セーブフォルダの作成に失敗しました。\nフォルダの指定先を確認してください。\n")) +
                       id.saveFolder;
    plat::MessageBox(nullptr, text.c_str(), plat::Sjis("起動エラー"), plat::kMbOk | plat::kMbIconWarning);
    return 0;
  }
  return 1;
}
