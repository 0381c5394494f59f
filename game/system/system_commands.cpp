// System commands (group 9) and math (group 20): the game's switches, fonts,
// raw input, window and monitors, the search path, the memory stack and the
// return-point list, random numbers and absolute values.
#include "system/system_commands.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "component_entries.h"
#include "data/archive_list.h"
#include "data/script_tables.h"
#include "kiv.h"
#include "platform/core/text_encoding.h"
#include "platform/core/wall_clock.h"
#include "platform/window/display.h"
#include "platform/window/window.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "system/key_messages.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

int32_t* system_words(VmContext* ctx) {
  auto* g = reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx));
  return g->system.word;
}

// ---- Math ----

int32_t random_between(int32_t minimum, int32_t maximum, int32_t draw) {
  int64_t lo = minimum, hi = maximum;
  if (hi < lo) std::swap(lo, hi);
  const int64_t span = hi - lo + 1;  // 1 .. 2^32
  int64_t r = static_cast<int64_t>(draw) % span;
  if (r < 0) r += span;
  return static_cast<int32_t>(lo + r);
}

int32_t abs_value(int32_t value) { return value == INT32_MIN ? value : (value < 0 ? -value : value); }

// ---- Win32 system metrics over the display list ----

namespace {

// The frame the window manager draws around the game window: its caption
// height and its border width (0 and 0 without a frame, as headless).
struct WindowFrame {
  int caption = 0, border = 0;
};
WindowFrame GameWindowFrame() {
  WindowFrame f;
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  if (!w || !w->backend()) return f;
  const plat::Rect outer = w->backend()->OuterRect(), client = w->backend()->ClientRectOnScreen();
  f.border = std::max(0, outer.bottom - client.bottom);
  f.caption = std::max(0, (client.top - outer.top) - f.border);
  return f;
}

}  // namespace

int32_t system_metric(int32_t index) {
  const plat::Rect desk = plat::DesktopRect(), virt = plat::VirtualScreenRect();
  switch (index) {
    case 0: return desk.right - desk.left;  // SM_CXSCREEN
    case 1: return desk.bottom - desk.top;  // SM_CYSCREEN
    case 2: case 3: case 20: case 21:       // scroll bar arrows and widths
    case 9: case 10:                        // scroll thumbs
      return 16;
    case 4: case 15: return GameWindowFrame().caption;  // SM_CYCAPTION, SM_CYMENU
    case 5: case 6: return 1;               // SM_CXBORDER, SM_CYBORDER
    case 7: case 8: case 32: case 33:       // dialog and sizing frames
      return GameWindowFrame().border;
    case 11: case 12: return 32;            // SM_CXICON, SM_CYICON
    case 13: case 14: return 32;            // SM_CXCURSOR, SM_CYCURSOR: the cursor pictures' size
    case 16: return desk.right - desk.left;  // SM_CXFULLSCREEN
    case 17: return desk.bottom - desk.top - GameWindowFrame().caption;  // SM_CYFULLSCREEN
    case 19: return 1;                      // SM_MOUSEPRESENT
    case 22: return 0;                      // SM_DEBUG
    case 23: return 0;                      // SM_SWAPBUTTON
    case 36: case 37: return 4;             // SM_CXDOUBLECLK, SM_CYDOUBLECLK
    case 42: return 1;                      // SM_DBCSENABLED: the game's text is Shift-JIS
    case 43: return 3;                      // SM_CMOUSEBUTTONS
    case 49: case 50: return 16;            // SM_CXSMICON, SM_CYSMICON
    case 59: return virt.right - virt.left + 2 * GameWindowFrame().border;  // SM_CXMAXTRACK
    case 60: {                                                              // SM_CYMAXTRACK
      const WindowFrame f = GameWindowFrame();
      return virt.bottom - virt.top + f.caption + 2 * f.border;
    }
    case 61: return desk.right - desk.left;  // SM_CXMAXIMIZED
    case 62: return desk.bottom - desk.top;  // SM_CYMAXIMIZED
    case 75: return 1;                      // SM_MOUSEWHEELPRESENT
    case 76: return virt.left;              // SM_XVIRTUALSCREEN
    case 77: return virt.top;               // SM_YVIRTUALSCREEN
    case 78: return virt.right - virt.left;  // SM_CXVIRTUALSCREEN
    case 79: return virt.bottom - virt.top;  // SM_CYVIRTUALSCREEN
    case 80: return static_cast<int32_t>(plat::Monitors().size());  // SM_CMONITORS
    case 81: return 1;                      // SM_SAMEDISPLAYFORMAT
    case 82: return 1;                      // SM_IMMENABLED: the name entry's input method
    default:
      game_debug_log(kDebugWindowError, "get_system_metrics : index %d not known, 0", index);
      return 0;
  }
}

// ---- The search path ----

int system_path_set(int set) {
  std::vector<std::string> names;
  // A set that cannot be read leaves the paths that serve now.
  if (!archive_list_read(set, &names)) return 0;
  KivSystemPathClear();
  KivSystemPathSet("data");
  for (const std::string& name : names) KivSystemPathSet(name.c_str());
  return 1;
}

namespace {

// Writes a value into a cell of the temporary area: -1 skips the output,
// a cell outside the area is logged and ignored.
void CellWrite(VmContext* ctx, int32_t cell, int32_t value) {
  if (cell == -1) return;
  if (index_in(cell, kTempAreaWords, "system command cell")) ctx->tempArea[cell] = value;
}

// A 32-byte file-name operand (File.dat record or string variable).
bool NameOperand(VmContext* ctx, uint32_t operand, char (&name)[kFileRecordBytes + 1]) {
  return get_record_name(ctx, operand, name, false);
}

// The low 16 bits of a font getter, as a signed short.
int32_t Short(int v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

int CmdAutoSetTime(VmContext* ctx) {
  // Compared unsigned: a negative time is as large as any and becomes 100.
  const auto time = static_cast<uint32_t>(value_stack_pop(ctx));
  system_words(ctx)[kSysAutoTime] = static_cast<int32_t>(time > 100 ? 100 : time);
  return 1;
}
int CmdAutoGetTime(VmContext* ctx) {
  const int32_t t = system_words(ctx)[kSysAutoTime];
  command_set_result(ctx, t);
  game_debug_log(kDebugWindowCommand, "auto_get_time  [%d]", t);
  return 1;
}
int CmdChangeWindowMode(VmContext* ctx) {
  const int32_t mode = value_stack_pop(ctx);
  KivWindowChangeMode(mode);
  system_words(ctx)[kSysWindowMode] = mode;
  return 1;
}
int CmdSetSkipUnread(VmContext* ctx) {
  system_words(ctx)[kSysSkipUnread] = value_stack_pop(ctx);
  return 1;
}
int CmdSetEffectEnable(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  KivEffectEnable(on);
  system_words(ctx)[kSysEffectsOn] = on;
  return 1;
}
int CmdGetWindowMode(VmContext* ctx) {
  command_set_result(ctx, system_words(ctx)[kSysWindowMode]);
  return 1;
}
int CmdGetSkipUnread(VmContext* ctx) {
  command_set_result(ctx, system_words(ctx)[kSysSkipUnread]);
  return 1;
}
int CmdIsEffectEnable(VmContext* ctx) {
  command_set_result(ctx, KivEffectEnableIs());
  return 1;
}
int CmdGetMousePos(VmContext* ctx) {
  const int32_t xCell = value_stack_pop(ctx);
  const int32_t yCell = value_stack_pop(ctx);
  CellWrite(ctx, xCell, KivInputGetMouseX());
  CellWrite(ctx, yCell, KivInputGetMouseY());
  return 1;
}
int CmdGetLocalTime(VmContext* ctx) {
  const int32_t yearCell = value_stack_pop(ctx);
  const int32_t monthCell = value_stack_pop(ctx);
  const int32_t dayCell = value_stack_pop(ctx);
  const plat::LocalTime t = plat::LocalTimeNow();
  CellWrite(ctx, yearCell, t.year);
  CellWrite(ctx, monthCell, t.month);
  CellWrite(ctx, dayCell, t.day);
  return 1;
}
int CmdClearUserMemory(VmContext* ctx) {
  std::memset(ctx->userMemory, 0, sizeof ctx->userMemory);
  return 1;
}
int CmdLoadFont(VmContext* ctx) {
  char name[kFileRecordBytes + 1];
  const bool named = NameOperand(ctx, static_cast<uint32_t>(value_stack_pop(ctx)), name);
  game_debug_log(kDebugWindowCommand, "load_font %s", name);
  if (named) KivFontLoad(name);  // a record that does not exist names no file
  return 1;
}
int CmdUnloadFont(VmContext*) {
  KivFontUnload();
  game_debug_puts(kDebugWindowCommand, "unload_font");
  return 1;
}
int CmdSetFontType(VmContext* ctx) {
  const int32_t type = value_stack_pop(ctx);
  KivFontSetType(type);
  game_debug_log(kDebugWindowCommand, "set_font_type %d", type);
  return 1;
}
int CmdKeyCanncel(VmContext* ctx) {
  const int32_t keys = value_stack_pop(ctx);
  const int32_t mouse = value_stack_pop(ctx);
  ctx->keyCancelKeys = static_cast<uint32_t>(keys);
  ctx->keyCancelMouse = static_cast<uint32_t>(mouse);
  KivInputKeyCancel(keys, mouse);
  game_debug_log(kDebugWindowCommand, "key_canncel %d", keys);
  if (KivDebugIs() && (keys & 0x8))
    game_debug_puts(kDebugWindowCommand, plat::Sjis("CTRLキーの制御がキャンセルされました"));
  return 1;
}
int CmdSetFontColor(VmContext* ctx) {
  const int32_t colour = value_stack_pop(ctx);
  const int32_t shadow = value_stack_pop(ctx);
  KivFontSetColor(colour, shadow);
  game_debug_log(kDebugWindowCommand, "set_font_color %d, %d", colour, shadow);
  return 1;
}
int CmdLoadFontEx(VmContext* ctx) {
  char name[kFileRecordBytes + 1];
  const bool named = NameOperand(ctx, static_cast<uint32_t>(value_stack_pop(ctx)), name);
  game_debug_log(kDebugWindowCommand, "load_font_ex %s", name);
  if (!named) return 1;  // a record that does not exist names no file
  // A name may fill all 32 bytes: the file name has room for it and ".tga".
  char file[sizeof name + 4];
  std::snprintf(file, sizeof file, "%s.tga", name);
  KivExFontUnload();
  KivExFontLoad(file);
  return 1;
}
int CmdMemoryPush(VmContext* ctx) {
  memory_stack_push(ctx);
  return 1;
}
int CmdMemoryPop(VmContext* ctx) {
  memory_stack_pop(ctx);
  return 1;
}
int CmdLpush(VmContext* ctx) {
  const auto label = static_cast<uint32_t>(value_stack_pop(ctx));
  uint32_t pc = 0;
  if (!label_pc(ctx, label, &pc)) {
    game_debug_log(kDebugWindowError, "lpush : label %u refused", label);
    return 0;
  }
  game_debug_log(kDebugWindowCommand, "lpush %d", static_cast<int32_t>(pc));
  if (!return_point_push(ctx, kGameListReturnPoints, pc, kReturnKindGosub))
    game_error_log(plat::Sjis("[%d]メモリ不足発生"), static_cast<int32_t>(pc));
  return 1;
}
int CmdLpop(VmContext* ctx) {
  int32_t count = value_stack_pop(ctx);
  // 0 counts as one; so does a negative count, which would otherwise
  // empty the whole list.
  if (count <= 0) count = 1;
  for (int32_t i = 0; i < count; ++i) {
    auto* p = reinterpret_cast<ReturnPoint*>(KivListPop(ctx->gameList, kGameListReturnPoints));
    if (!p) {
      game_debug_puts(kDebugWindowError, "error : lpop non stack");
      return 1;
    }
    game_debug_log(kDebugWindowCommand, "lpop [%d]", static_cast<int32_t>(p->pc));
    KivMemoryFree(p);
  }
  return 1;
}
int CmdClearKeyLatch(VmContext* ctx) {
  ctx->keyPushLatch = 0;
  return 1;
}
int CmdGetKeyLatch(VmContext* ctx) {
  command_set_result(ctx, static_cast<int32_t>(ctx->keyPushLatch));
  return 1;
}
int CmdSetFontSize(VmContext* ctx) {
  const int32_t size = value_stack_pop(ctx);
  KivFontSetFontSize(size);
  game_debug_log(kDebugWindowCommand, "set_font_size %d", size);
  return 1;
}
int CmdGetFontSize(VmContext* ctx) {
  const int32_t v = Short(KivFontGetFontSize());
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_font_size", v);
  return 1;
}
int CmdGetFontType(VmContext* ctx) {
  const int32_t v = Short(KivFontGetType());
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_font_type", v);
  return 1;
}
int CmdSetFontEffect(VmContext* ctx) {
  const int32_t effect = value_stack_pop(ctx);
  KivFontSetEffect(effect);
  game_debug_log(kDebugWindowCommand, "set_font_type %d", effect);  // the line it has always written
  return 1;
}
int CmdGetFontEffect(VmContext* ctx) {
  const int32_t v = Short(KivFontGetEffect());
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_font_effect", v);
  return 1;
}
int CmdGetPullKey(VmContext* ctx) {
  const int32_t v = KivInputGetKeyPull();
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_pull_key", v);
  return 1;
}
int CmdGetOnKey(VmContext* ctx) {
  const int32_t v = KivInputGetKeyOn();
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_on_key", v);
  return 1;
}
int CmdGetPushKey(VmContext* ctx) {
  const int32_t v = KivInputGetKeyPush();
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] get_push_key", v);
  return 1;
}
int CmdInputClear(VmContext* ctx) {
  KivInputClear();
  KivInputKeyRepeatClear();
  text_display_applied(ctx);
  game_debug_puts(kDebugWindowCommand, "input_clear");
  return 1;
}
int CmdChangeWindowSize(VmContext* ctx) {
  const int32_t w = value_stack_pop(ctx);
  const int32_t h = value_stack_pop(ctx);
  KivChangeWindowSize(w, h);
  game_debug_log(kDebugWindowCommand, "change_window_size %d, %d", w, h);
  return 1;
}
int CmdChangeAspectMode(VmContext* ctx) {
  const int32_t mode = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "change_aspect_mode %d", mode);
  if (mode < 0 || mode > 3) {
    game_debug_log(kDebugWindowError, "change_aspect_mode : mode %d ignored", mode);
    return 1;
  }
  KivChangeAspectMode(mode);
  return 1;
}
int CmdAspectPositionEnable(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  system_words(ctx)[kSysAspectPosition] = on;
  game_debug_log(kDebugWindowCommand, "aspect_position_enable %d", on);
  return 1;
}
int CmdIsAspectPositionEnable(VmContext* ctx) {
  command_set_result(ctx, system_words(ctx)[kSysAspectPosition]);
  return 1;
}
int CmdGetAspectMode(VmContext* ctx) {
  const int32_t mode = KivCheckAspectMode();
  command_set_result(ctx, mode);
  game_debug_log(kDebugWindowCommand, "get_aspect_mode %d", mode);
  return 1;
}
int CmdGetMonitorSize(VmContext* ctx) {
  const int32_t wCell = value_stack_pop(ctx);
  const int32_t hCell = value_stack_pop(ctx);
  int x = 0, y = 0, w = 0, h = 0;
  KivWindowGetPos(&x, &y);
  KivGetWindowSize(&w, &h);
  const plat::Point centre{static_cast<int>((static_cast<int64_t>(x) * 2 + w) / 2),
                           static_cast<int>((static_cast<int64_t>(y) * 2 + h) / 2)};
  const plat::Rect m = plat::MonitorNearest(centre);
  const int32_t mw = m.right - m.left, mh = m.bottom - m.top;
  CellWrite(ctx, wCell, mw);
  CellWrite(ctx, hCell, mh);
  game_debug_log(kDebugWindowCommand, "get_monitor_size %d, %d", mw, mh);
  return 1;
}
int CmdGetWindowPos(VmContext* ctx) {
  const int32_t xCell = value_stack_pop(ctx);
  const int32_t yCell = value_stack_pop(ctx);
  int x = 0, y = 0;
  KivWindowGetPos(&x, &y);
  CellWrite(ctx, xCell, x);
  CellWrite(ctx, yCell, y);
  return 1;
}
int CmdGetSystemMetrics(VmContext* ctx) {
  const int32_t index = value_stack_pop(ctx);
  const int32_t v = system_metric(index);
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d]get_system_metrics %d", v, index);
  return 1;
}
int CmdSetSystemPath(VmContext* ctx) {
  const int32_t set = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_system_path %d", set);
  return system_path_set(set);
}
int CmdSetAllMosaicThumbnail(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  system_words(ctx)[kSysAllMosaicThumbnails] = on;
  game_debug_log(kDebugWindowCommand, "set_allmosaicthumbnail %d", on);
  return 1;
}
int CmdEnableWindowChange(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  KivWindowChangeEnable(on);
  game_debug_log(kDebugWindowCommand, "enable_window_change %d", on);
  return 1;
}
int CmdIsEnableWindowChange(VmContext* ctx) {
  const int32_t v = KivWindowChangeEnableIs();
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d]is_enable_window_change", v);
  return 1;
}

int CmdRandom(VmContext* ctx) {
  const int32_t minimum = value_stack_pop(ctx);
  const int32_t maximum = value_stack_pop(ctx);
  // One draw per call, so that a replayed random table gives the same run.
  const int32_t v = random_between(minimum, maximum, KivRandom());
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] random %d, %d", v, minimum, maximum);
  return 1;
}
int CmdAbs(VmContext* ctx) {
  const int32_t value = value_stack_pop(ctx);
  const int32_t v = abs_value(value);
  command_set_result(ctx, v);
  game_debug_log(kDebugWindowCommand, "[%d] abs %d", v, value);
  return 1;
}

}  // namespace

void system_commands_install() {
  static const CommandBinding kCommands[] = {
      {"auto_set_time", CmdAutoSetTime},
      {"auto_get_time", CmdAutoGetTime},
      {"change_window_mode", CmdChangeWindowMode},
      {"set_skip_unread", CmdSetSkipUnread},
      {"set_effect_enable", CmdSetEffectEnable},
      {"get_window_mode", CmdGetWindowMode},
      {"get_skip_unread", CmdGetSkipUnread},
      {"is_effect_enable", CmdIsEffectEnable},
      {"get_mouse_pos", CmdGetMousePos},
      {"get_local_time", CmdGetLocalTime},
      {"clear_user_memory", CmdClearUserMemory},
      {"load_font", CmdLoadFont},
      {"unload_font", CmdUnloadFont},
      {"set_font_type", CmdSetFontType},
      {"key_canncel", CmdKeyCanncel},
      {"set_font_color", CmdSetFontColor},
      {"load_font_ex", CmdLoadFontEx},
      {"memory_push", CmdMemoryPush},
      {"memory_pop", CmdMemoryPop},
      {"lpush", CmdLpush},
      {"lpop", CmdLpop},
      {"clear_key_latch", CmdClearKeyLatch},
      {"get_key_latch", CmdGetKeyLatch},
      {"set_font_size", CmdSetFontSize},
      {"get_font_size", CmdGetFontSize},
      {"get_font_type", CmdGetFontType},
      {"set_font_effect", CmdSetFontEffect},
      {"get_font_effect", CmdGetFontEffect},
      {"get_pull_key", CmdGetPullKey},
      {"get_on_key", CmdGetOnKey},
      {"get_push_key", CmdGetPushKey},
      {"input_clear", CmdInputClear},
      {"change_window_size", CmdChangeWindowSize},
      {"change_aspect_mode", CmdChangeAspectMode},
      {"aspect_position_enable", CmdAspectPositionEnable},
      {"is_aspect_position_enable", CmdIsAspectPositionEnable},
      {"get_aspect_mode", CmdGetAspectMode},
      {"get_monitor_size", CmdGetMonitorSize},
      {"get_window_pos", CmdGetWindowPos},
      {"get_system_metrics", CmdGetSystemMetrics},
      {"set_system_path", CmdSetSystemPath},
      {"set_allmosaicthumbnail", CmdSetAllMosaicThumbnail},
      {"enable_window_change", CmdEnableWindowChange},
      {"is_enable_window_change", CmdIsEnableWindowChange},
      {"random", CmdRandom},
      {"abs", CmdAbs},
  };
  command_bind_all(kCommands);
  skip_auto_commands_install();
  key_message_commands_install();
}
