// The game program's start-up: main, the engine binding, identity, the command
// line and the game task. The game reaches the engine only through kiv.h
// and never includes SDL, GL, FFmpeg or FreeType headers.
//
// Orvane: the game program. Loads the engine from dll/, reads its identity,
// refuses to run twice, starts the engine and runs the game task until the
// game ends. Exit codes: 0 a normal end (also when the player declined to
// delete outdated data), 1 a start that could not go on.
#include <cstdint>
#include <cstdio>
#include <string>

#include "data/archive_list.h"
#include "start/command_line.h"
#include "data/config_dat.h"
#include "start/debug_windows.h"
#include "start/engine_library.h"
#include "start/game_task.h"
#include "kiv.h"
#include "platform/core/close_signal.h"
#include "platform/core/instance_lock.h"
#include "platform/window/display.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/module.h"
#include "platform/core/text_encoding.h"
#include "start/program_identity.h"
#include "data/save_folder.h"
#include "data/script_tables.h"
#include "data/system_dat.h"

namespace {

// A start that cannot go on: on the terminal, and in a box for a player
// who started the game from the desktop (shown where any box can be).
void StartError(const std::string& stderr_line, const char* box_text_utf8, const std::string& detail = {}) {
  std::fprintf(stderr, "Orvane: %s\n", stderr_line.c_str());
  std::fflush(stderr);
  std::string text = plat::Sjis(box_text_utf8);
  if (!detail.empty()) text += "\n" + plat::Utf8ToCp932(detail);
  plat::MessageBox(nullptr, text.c_str(), plat::Sjis("起動エラー"), plat::kMbOk | plat::kMbIconWarning);
}

}  // namespace

int main(int argc, char** argv) {
  // A termination signal from here on waits for the engine, which ends the
  // game in order, instead of killing it half way.
  plat::BlockTerminationSignals();
  std::string folder = plat::FolderOf(plat::ModuleFileName(nullptr));
  if (!engine_library_load(folder)) {
    StartError("cannot load " + folder + "/dll/libkiv.so", "ゲームエンジンを読み込めませんでした。",
               folder + "/dll/libkiv.so");
    return 1;
  }
  if (!version_identity_load()) return 1;
  const ProgramIdentity& id = program_identity();

  // Without a display there can be no window: say so before taking the
  // lock, so the game neither runs unseen nor keeps a later start out.
  if (std::string why; !plat::DisplayReachable(&why)) {
    StartError("no display can be reached (" + why + "); the game needs one to open its window",
               "画面（ディスプレイ）に接続できないため、起動できません。", why);
    return 1;
  }

  plat::InstanceLock lock;
  std::string lock_why;
  switch (lock.TryAcquire(id.productName, &lock_why)) {
    case plat::InstanceLock::Result::kAcquired:
      break;
    case plat::InstanceLock::Result::kHeld:
      StartError(plat::Cp932ToUtf8(id.productName) + " is already running (the game or its configuration tool)",
                 "既に起動しています。\nゲームと設定ツールは同時に起動できません。");
      return 1;
    case plat::InstanceLock::Result::kError:
      StartError("the single-instance lock cannot be taken: " + lock_why,
                 "起動の確認に必要なファイルを作成できませんでした。", lock_why);
      return 1;
  }

  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }

  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.instance = nullptr;  // the program itself: its folder is the base folder
  p.fullScreen = 0;
  p.debug = 0;
  p.title = id.productName.c_str();
  p.className = id.productName.c_str();
  p.icon = reinterpret_cast<const char*>(uintptr_t{103});  // the program's icon: icon.png beside it
  p.cmdLine = command_line.c_str();
  p.clientWidth = p.screenWidth = 1280;
  p.clientHeight = p.screenHeight = 720;
  // The defaults centre a 960 x 600 window; a first start (no config.dat
  // yet) centres this one on the desktop it opens on.
  int centre[2];
  if (KivWindowGetPosCenter(centre, p.clientWidth, p.clientHeight)) {
    p.x = centre[0];
    p.y = centre[1];
  }
  p.frameRate = 60;
  p.surfaceCapacity = 1535;
  p.reserved = 1535;
  p.startCallback = start_func_create;
  p.endCallback = continue_save_on_exit;
  config_load(&p);
  command_line_parse(command_line.c_str(), &p);

  if (!KivInit(&p)) {
    std::fprintf(stderr, "Orvane: the engine could not start\n");
    return 1;
  }
  archive_list_load(0);

  // The script and its tables are checked whole first: data the game cannot
  // run on is never a reason to touch the saves.
  if (std::string why; !script_data_check(&why)) {
    StartError("the script or one of its tables cannot be used" + (why.empty() ? "" : ":\n" + why),
               "スクリプトまたはデータファイルが壊れているため、起動できません。", why);
    KivUninit();
    return 1;
  }

  switch (system_dat_is_current()) {
    case StampCheck::kCurrent:
      break;
    case StampCheck::kNoScript:
      // Without the script there is nothing to check the saves against, and
      // nothing to play: never offer to delete them for that.
      StartError("Script.src was not found in the data folders", "スクリプトファイルが見つかりません。", "Script.src");
      KivUninit();
      return 1;
    case StampCheck::kDamaged:
      // It tells nothing of the saves: kept under another name, and the
      // first frame makes a fresh one.
      if (!system_dat_set_aside_and_tell()) {
        std::fprintf(stderr, "Orvane: the damaged system data could not be set aside\n");
        KivUninit();
        return 1;
      }
      break;
    case StampCheck::kStale: {
      int answer = plat::MessageBox(
          nullptr, plat::Sjis("スクリプトファイルが更新されています。\nシステムデータ/セーブデータを削除しますか？"),
          plat::Sjis("検証結果"), plat::kMbYesNo | plat::kMbIconQuestion,
          plat::kIdNo);  // a box nobody saw deletes nothing
      if (answer != plat::kIdYes) {
        KivUninit();
        return 0;
      }
      if (!folder_files_delete()) {
        plat::MessageBox(nullptr, plat::Sjis("データの削除に失敗しました。\n手動で削除してください。"),
                         plat::Sjis("予期せぬエラー"), plat::kMbOk | plat::kMbIconQuestion);
        std::fprintf(stderr, "Orvane: the old save data could not be deleted\n");
        KivUninit();
        return 1;
      }
      break;
    }
  }

  if (KivDebugIs()) debug_windows_create();
  KivRun();
  config_save();
  KivUninit();
  return game_exit_code();
}
