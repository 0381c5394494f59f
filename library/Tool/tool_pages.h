// The settings pages as a model: every control's state (checked, enabled),
// filled from the settings record and written back to it. The window (GTK
// or headless) only shows this model and forwards presses to it. Control
// ids repeat between pages, so they are named by page.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shared/config_record.h"

enum class ToolPage { kMain, kSystem, kGraphics, kInfo };

namespace main_ctl {
constexpr int kTabs = 1004, kDxdiag = 1002, kSaveFolder = 3, kSaveExit = 1003, kExit = 2;
}
namespace system_ctl {
constexpr int kInactiveRun = 1000, kScreenSaver = 1008;
constexpr int kSync = 1010, kVSync = 1011, kTimeSync = 1012;
constexpr int kResolution = 1013, kAspectKeep = 1002, kCenter = 1003, kEdgeCut = 1004;
}  // namespace system_ctl
namespace graphics_ctl {
constexpr int kUseGpu = 1009, kUseShader = 1005, kAdapter = 1014;
constexpr int kFullNone = 1012, kFullNearest = 1016, kFullBilinear = 1013, kFullBicubic = 1015;
constexpr int kTexNone = 1017, kTexNearest = 1019, kTexBilinear = 1018;
}  // namespace graphics_ctl
namespace info_ctl {
constexpr int kList = 1007, kGet = 1006, kSave = 3;
}

struct ToolControl {
  const char* text;  // UTF-8 caption
  bool radio = false;
  int group = 0;  // radios of one group share it
  bool checked = false;
  bool enabled = true;
};

struct AdapterEntry {
  std::string text;  // "%02d:%s", UTF-8
  uint32_t vertex_bits = 0, pixel_bits = 0;
};

struct PageModel {
  std::map<int, ToolControl> system, graphics;
  std::vector<AdapterEntry> adapters;
  int selection = -1;  // -1: none (word 5 names no listed adapter)
  int32_t adapter_as_read = 0;
  bool save_folder_enabled = true;
  bool get_enabled = true;   // info page: "情報の取得"
  bool save_enabled = true;  // info page: "情報を保存"
  std::vector<std::string> rows;  // info page list (UTF-8)
};

// Shader capability bits of one kind for a shader model (major.minor), and
// with `line` the line of the highest version met ("... = NG" for none).
enum class ShaderKind { kVertex, kPixel };
uint32_t shader_version_bits(ShaderKind kind, int major, int minor, std::string* line);
// The shader model a GL version offers: 2.x: 3.0, 3.x: 4.0, 4.x and up: 5.0.
void gl_shader_model(int gl_major, int gl_minor, int* major, int* minor);
// Vertex and pixel bits of adapter `index` (the display of that index and
// the renderer drawing on it); 0 and 0 when it has no renderer.
void adapter_shader_caps(int index, uint32_t* vertex_bits, uint32_t* pixel_bits);
// "%02d:%s" per display, with its name and the renderer drawing on it.
std::vector<AdapterEntry> tool_adapter_list();

PageModel pages_create();
// Fills the pages from the record (tool_system_page / tool_graphics_page
// initialisation).
void pages_init(PageModel* m, const int32_t words[kConfigWords], std::vector<AdapterEntry> adapters);
// A press on a checkbox or radio: false (and nothing changes) when the
// control is unknown or disabled.
bool page_press(PageModel* m, ToolPage page, int id);
// A new selection in the adapter combo.
bool page_select_adapter(PageModel* m, int index);
// Rebuilds mode flags, adapter, resolution handling and sync from the
// controls; x, y, width and height stay as read.
void pages_store(const PageModel& m, int32_t words[kConfigWords]);
// One line per control, for logs and tests: "graphics 1015 on disabled".
std::string pages_dump(const PageModel& m);
