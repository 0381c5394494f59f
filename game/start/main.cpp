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
#include "platform/core/instance_lock.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/module.h"
#include "platform/core/text_encoding.h"
#include "start/program_identity.h"
#include "data/save_folder.h"
#include "data/system_dat.h"

int main(int argc, char** argv) {
  std::string folder = plat::FolderOf(plat::ModuleFileName(nullptr));
  if (!engine_library_load(folder)) {
    std::fprintf(stderr, "Orvane: cannot load %s/dll/libkiv.so\n", folder.c_str());
    return 1;
  }
  if (!version_identity_load()) return 1;
  const ProgramIdentity& id = program_identity();

  plat::InstanceLock lock;
  if (!lock.Acquire(id.productName)) return 1;  // the game or its tool runs already

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

  switch (system_dat_is_current()) {
    case StampCheck::kCurrent:
      break;
    case StampCheck::kNoScript:
      // Without the script there is nothing to check the saves against, and
      // nothing to play: never offer to delete them for that.
      std::fprintf(stderr, "Orvane: Script.src was not found in the data folders\n");
      KivUninit();
      return 1;
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
